// SPDX-License-Identifier: MIT
// radioctl's value parsers: suffixes, decimals, refused rounding, ranges and hex forms.
#include "values.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using common::Value;
using K = common::ValueKind;

TEST(RadioctlValues, EachTextGivesTheLibrarysNumberOrAPhraseSayingWhyNot) {
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
    {K::kBaud, is(19200), {"19200"}}, {K::kBaud, refused("is out of range (50 to 4000000)"), {"0"}},
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

}  // namespace
