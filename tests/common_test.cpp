// SPDX-License-Identifier: MIT
// What radioctl and radiobridge share: value parsers, quoting, UTF-8, broker options, result codes.
#include <gtest/gtest.h>

#include <cerrno>
#include <tuple>
#include <vector>

#include "broker_options.h"
#include "commands.h"
#include "text.h"
#include "values.h"

namespace {

using common::Value;
using K = common::ValueKind;

TEST(ToolValues, EachTextGivesTheLibrarysNumberOrAPhraseSayingWhy) {
  const auto is = [](long number) { return Value{number, ""}; };
  const auto refused = [](const char *why) { return Value{std::nullopt, why}; };
  // Texts of one kind that all read as the same value.
  struct Row {
    K kind;
    Value value;
    std::vector<const char *> texts;
  };
  // clang-format off
  const Row rows[] = {
    {K::kFrequency, is(145500000), {"145500000", "145500k", "145.5M", "145.5MHz", "145.5000000M"}},
    {K::kFrequency, is(1200000000), {"1.2G"}}, {K::kFrequency, is(0), {"0"}},
    {K::kFrequency, is(9999999999L), {"9999999999"}},
    {K::kFrequency, refused("is not a frequency in Hz"), {"12x", "", "1.2.3", "M", "1e6", "145m"}},
    {K::kFrequency, refused("is finer than 1 Hz"), {"145.0000005M"}},
    {K::kFrequency, refused("is out of range (0 to 9999999999 Hz)"),
                    {"-1", "10000000000", "9999999999999999999", "99999999999999999999999999M"}},
    {K::kOffset, is(-600000), {"-600k", "-0.6M"}}, {K::kOffset, is(-2147483648L), {"-2147483648"}},
    {K::kOffset, is(600000), {"+600k"}}, {K::kOffset, refused("is not an offset in Hz"), {"+-1"}},
    {K::kSplit, refused("is not a VCO split in Hz"), {"1x"}},
    {K::kOffset, refused("is out of range (-2147483648 to 2147483647 Hz)"), {"2147483648"}},
    {K::kTone, is(885), {"88.5"}}, {K::kTone, is(1000), {"100"}}, {K::kTone, is(9999), {"999.9"}},
    {K::kTone, refused("is finer than 0.1 Hz"), {"88.55"}},
    {K::kTone, refused("is not a tone in Hz"), {"1k"}},
    {K::kTone, refused("is out of range (0.0 to 999.9 Hz)"), {"1000"}},
    {K::kMode, is(0), {"0"}}, {K::kMode, is(99), {"99"}}, {K::kDuplex, is(17), {"0x11"}},
    {K::kMode, refused("is out of range (0 to 99)"), {"100"}},
    {K::kMode, refused("is not a mode number"), {"0x10"}},
    {K::kByte, is(255), {"255", "0XFF"}}, {K::kByte, refused("is not a byte"), {"-1"}},
    {K::kByte, refused("is out of range (0 to 255)"), {"256", "0x100", "99999999999999999999"}},
    {K::kHexByte, is(31), {"1f", "0x1F"}}, {K::kHexByte, refused("is not a hex byte"), {"g1"}},
    {K::kHexByte, refused("is out of range (00 to ff)"), {"1ff"}},
    {K::kAddress, is(32), {"0x20"}}, {K::kAddress, is(252), {"252"}},
    {K::kAddress, refused("is out of range (0 to 252)"), {"0xfd"}},
    {K::kAddress, refused("is not a bus address"), {"0x"}},
    {K::kBaud, is(19200), {"19200"}}, {K::kBaud, is(4000000), {"4000000"}},
    {K::kBaud, refused("is out of range (50 to 4000000)"), {"49", "4000001"}},
    {K::kTimeout, refused("is out of range (1 to 3600000 ms)"), {"0", "3600001"}},
  };
  // clang-format on
  for (const Row &row : rows) {
    for (const char *text : row.texts) {
      const Value value = common::parseValue(row.kind, text);
      EXPECT_EQ(value.number, row.value.number) << '"' << text << '"';
      EXPECT_EQ(value.problem, row.value.problem) << '"' << text << '"';
    }
  }
}

TEST(ToolText, QuoteEscapesEveryByteOutsidePrintableAscii) {
  EXPECT_EQ(common::quote("a b~\x01\x7f\xc3\xa9"), "a b~\\x01\\x7f\\xc3\\xa9");
}

TEST(ToolText, QuoteCutsTextAfterSixtyFourBytes) {
  EXPECT_EQ(common::quote(std::string(70, 'x')), std::string(64, 'x') + "...");
  EXPECT_EQ(common::quote(std::string(64, 'x')), std::string(64, 'x'));
  EXPECT_EQ(common::quote(std::string(70, 'x'), std::string::npos), std::string(70, 'x'));
}

// Each lead byte range at its edges.
TEST(ToolText, Utf8AcceptsOnlyWellFormedSequences) {
  // clang-format off
  for (const char *text : {"\x7f", "\xc2\x80", "\xdf\xbf", "\xe0\xa0\x80", "\xe1\x80\x80",
       "\xec\xbf\xbf", "\xed\x9f\xbf", "\xee\x80\x80", "\xef\xbf\xbf", "\xf0\x90\x80\x80",
       "\xf1\x80\x80\x80", "\xf3\xbf\xbf\xbf", "\xf4\x8f\xbf\xbf", "a\xe2\x82\xac!"})
    EXPECT_TRUE(common::validUtf8(text)) << common::quote(text);
  for (const char *text : {"\x80", "\xc1\xbf", "\xc2", "\xe0\x9f\xbf", "\xed\xa0\x80",
       "\xe1\x80\x7f", "\xf0\x8f\xbf\xbf", "\xf4\x90\x80\x80", "\xf5\x80\x80\x80", "\xe2\x82"})
    EXPECT_FALSE(common::validUtf8(text)) << common::quote(text);
  // clang-format on
}

TEST(ToolText, PrintableUtf8RefusesControlCharacters) {
  for (const char *text : {"a\x01", "\x7f", "\xc2\x85", "\xc2\x9f"})
    EXPECT_FALSE(common::printableUtf8(text)) << common::quote(text);
  for (const char *text : {"shack", "\xc2\xa0", "\xe2\x82\xac"})
    EXPECT_TRUE(common::printableUtf8(text)) << common::quote(text);
}

TEST(ToolBroker, ReadsHostWithPortOfEachAddressForm) {
  // --broker's text, with or without --cafile: the host and port read.
  const std::tuple<std::string, bool, std::string, int> rows[] = {
      {"", false, "127.0.0.1", 1883},      {"", true, "127.0.0.1", 8883},
      {"host", false, "host", 1883},       {"host:1", true, "host", 1},
      {"[::1]", true, "::1", 8883},        {"[::1]:65535", false, "::1", 65535},
      {"fe80::1", false, "fe80::1", 1883},
  };
  for (const auto &[text, tls, host, port] : rows) {
    common::BrokerOptions options;
    options.cafile = tls ? "ca.pem" : "";
    std::string error;
    EXPECT_TRUE(common::readBroker(text, options, error)) << text << ": " << error;
    EXPECT_EQ(std::tie(options.host, options.port), std::tie(host, port)) << text;
  }
}

TEST(ToolBroker, RefusesAnAddressWithoutAUsablePort) {
  for (const char *text : {"host:", "host:0", "host:65536", "host:123456", "host:1x", ":1883",
                           "[::1", "[::1]x", "[::1]:", "[]:1883"}) {
    common::BrokerOptions options;
    std::string error;
    EXPECT_FALSE(common::readBroker(text, options, error)) << text;
    EXPECT_EQ(error.rfind(std::string("--broker '") + text + "' is not HOST[:PORT]", 0), 0u)
        << error;
  }
}

TEST(ToolBroker, TopicPartsRefuseWildcardsSlashesOrControls) {
  std::string error;
  EXPECT_TRUE(common::topicPart("--name", "shack", false, error));
  EXPECT_TRUE(common::topicPart("--topic-base", "home/radio", true, error));
  for (const char *text : {"", "a+b", "a#", "a/b", "a\x01", "\xff"}) {
    EXPECT_FALSE(common::topicPart("--name", text, false, error)) << text;
  }
  for (const char *text : {"/home", "home/", "ho#me"}) {
    EXPECT_FALSE(common::topicPart("--topic-base", text, true, error)) << text;
  }
  EXPECT_EQ(error,
            "--topic-base 'ho#me' must be printable UTF-8 without +, # or a leading or "
            "trailing /");
}

TEST(ToolResults, EachLibraryCodeHasTheCodeClientsActOn) {
  const std::pair<int, std::string> rows[] = {
      {EINVAL, "refused"},  {ETIMEDOUT, "timeout"}, {EPIPE, "line-lost"}, {EIO, "line-lost"},
      {ENXIO, "line-lost"}, {EBADF, "line-lost"},   {EACCES, "failed"},
  };
  for (const auto &[rc, code] : rows) {
    EXPECT_EQ(common::errorCode(rc), code) << rc;
    EXPECT_EQ(common::meansLineLost(rc), code == "line-lost") << rc;
  }
}

}  // namespace
