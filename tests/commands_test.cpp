// SPDX-License-Identifier: MIT
// The fifteen radio commands: request bytes, reply judging and decoding, argument checks.
#include <cerrno>
#include <tuple>
#include <utility>

#include "kit.h"

namespace {

class EveryCommand : public LineTest, public ::testing::WithParamInterface<Golden> {
 protected:
  // Runs the command against the radio's `line`, on a line opened afresh
  // (a failure leaves the next command to clear it first); expects `rc`,
  // errno set to a non-zero `rc`, and the caller's storage untouched.
  void expectRefused(const Bytes &line, int rc, int to = kRadio, int from = kController) {
    ASSERT_EQ(reopen(), 0);
    radio_.send(line);
    Storage storage;
    errno = 0;
    EXPECT_EQ(GetParam().call(to, from, storage), rc);
    EXPECT_TRUE(rc == 0 || errno == rc) << "errno " << errno;
    EXPECT_TRUE(storage == Storage()) << "stored on failure";
  }
  // Runs the command with the echo of its request and its golden reply on
  // the line, the echo first, to be skipped.
  int runGolden(Storage &storage) {
    radio_.send(request(GetParam().request));
    radio_.send(reply(GetParam().reply));
    return GetParam().call(kRadio, kController, storage);
  }
};

TEST_P(EveryCommand, SendsItsRequest) {
  Storage storage;
  runGolden(storage);
  EXPECT_EQ(radio_.take(), request(GetParam().request));
}

TEST_P(EveryCommand, DecodesItsReply) {
  const Golden &row = GetParam();
  Storage storage;
  EXPECT_EQ(runGolden(storage), 0);
  EXPECT_EQ(decodedText(row, storage), row.decoded);
  if (row.form == Decoded::kBytes) {
    EXPECT_EQ(storage.buf[hex(row.decoded).size()], 0x5A) << "stored past its data";
  }
}

// A reader has nothing to decode from a broadcast; the reply stays on the
// line and answers the next exchange.
TEST_P(EveryCommand, ReadsNoReplyToABroadcast) {
  const Golden &row = GetParam();
  Storage storage;
  for (const auto &[to, from, head] :
       {std::tuple{0, kController, "00 91 "}, {kRadio, 0, "20 00 "}}) {
    expectRefused(reply(row.reply), row.reader() ? EINVAL : 0, to, from);
    EXPECT_EQ(radio_.take(), hex(std::string("FE FE ") + head + row.request + " FD"));
    EXPECT_EQ(row.call(kRadio, kController, storage), 0);
    radio_.take();
  }
}

// A setter's status other than FB; a reader's reply of another command,
// another subcommand, its request's own subcommand, or one byte too short.
TEST_P(EveryCommand, RefusesAReplyNotItsOwn) {
  const std::string body = GetParam().reply;
  std::vector<std::string> wrong{"FA", "00"};
  if (GetParam().reader()) {
    const std::string data = body.substr(5);
    const char sub = GetParam().request[4];
    std::string cut = body.substr(0, body.size() - 3);  // one byte short, escape and all
    if (cut.compare(cut.size() - 2, 2, "FF") == 0) cut.resize(cut.size() - 3);
    wrong = {"AB 8" + std::string(1, sub) + data, "AA 8" + std::string(1, char(sub ^ 1)) + data,
             "AA 0" + std::string(1, sub) + data, GetParam().form == Decoded::kText ? "AA" : cut};
  }
  for (const std::string &bad : wrong) {
    SCOPED_TRACE(bad);
    expectRefused(reply(bad), EINVAL);
  }
}

INSTANTIATE_TEST_SUITE_P(Golden, EveryCommand, ::testing::ValuesIn(kGolden),
                         [](const auto &info) { return std::string(info.param.name); });

using Commands = LineTest;

// Setters' request bodies beyond the golden table and the trace transcript:
// the lowest frequency and mode, escaping, a negative split, codeplug number
// forms followed by more text.
TEST_F(Commands, SettersPutTheirValuesOnTheWire) {
  static char forms[] = "  0x1\t0X2\n\n3   4 5 6 7 8 9 0xA 0xb c d e f 0x10\n11 12 and more";
  static char escaped[] = "1FF fd 0 0 0 0 0 0 0 0 0 0 0 0 0 fe";
  const std::pair<int (*)(), const char *> cases[] = {
      {[] { return setvfofreq(kRadio, kController, 0); }, "05 00 00 00 00 00"},
      {[] { return setmode(kRadio, kController, 0); }, "08 00"},
      {[] { return setduplex(kRadio, kController, -1); }, "0F FF 0F"},
      {[] { return setvcosplit(kRadio, kController, -2, 3); },
       "AA 08 03 00 00 00 FF 0E FF 0F FF 0F FF 0F"},
      {[] { return setvfocodeplug(kRadio, kController, forms); },
       "AA 01 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10"},
      {[] { return setvfocodeplug(kRadio, kController, escaped); },
       "AA 01 FF 0F FF 0D 00 00 00 00 00 00 00 00 00 00 00 00 00 FF 0E"},
  };
  for (const auto &[call, body] : cases) {
    radio_.send(reply("FB"));
    EXPECT_EQ(call(), 0) << body;
    EXPECT_EQ(radio_.take(), request(body));
  }
}

// Each call's own argument check, named in its row; errno names the code,
// except for the codeplug reader's small buffer, which leaves errno alone.
TEST_F(Commands, BadArgumentsAreRefusedBeforeSending) {
  static char fifteen[] = "1 2 3 4 5 6 7 8 9 a b c d e f";
  static unsigned char buf[16];
  static long value;
  const std::tuple<int (*)(), int, const char *> cases[] = {
      {[] { return setvfofreq(kRadio, kController, -1); }, EINVAL, "setvfofreq"},
      {[] { return setmode(kRadio, kController, -1); }, EINVAL, "setmode"},
      {[] { return setpl(kRadio, kController, -885, 0); }, EINVAL, "setpl"},
      {[] { return setvfocodeplug(kRadio, kController, nullptr); }, EINVAL, "no plug"},
      {[] { return setvfocodeplug(kRadio, kController, fifteen); }, EINVAL, "fifteen"},
      {[] { return getvfocodeplug(kRadio, kController, nullptr, 16); }, EINVAL, "no buf"},
      {[] { return getvfocodeplug(kRadio, kController, buf, 15); }, ENOSPC, "plug room"},
      {[] { return getversion(kRadio, kController, buf, -1); }, EINVAL, "version -1"},
      {[] { return getversion(kRadio, kController, nullptr, 8); }, EINVAL, "no text"},
      {[] { return getconfig(kRadio, kController, buf, 1); }, ENOSPC, "getconfig 1"},
      {[] { return getconfig(kRadio, kController, nullptr, 2); }, EINVAL, "no config"},
      {[] { return gettxoffset(kRadio, kController, nullptr); }, EINVAL, "no offset"},
      {[] { return getvcosplitfreq(kRadio, kController, nullptr, &value); }, EINVAL, "no tx"},
      {[] { return getvcosplitfreq(kRadio, kController, &value, nullptr); }, EINVAL, "no rx"},
  };
  for (const auto &[call, rc, name] : cases) {
    errno = EDOM;
    EXPECT_EQ(call(), rc) << name;
    EXPECT_EQ(errno, std::string(name) == "plug room" ? EDOM : rc) << name;
  }
  EXPECT_EQ(radio_.take(), Bytes{});
}

TEST_F(Commands, VersionIsAZeroPaddedFieldUnterminatedWhenFull) {
  std::string text;  // 253 bytes: all that the reply buffer keeps after AA 82
  for (int i = 0; i < 253; i++) text += " 41";
  const std::tuple<std::string, int, std::string> cases[] = {
      {"AA 82" + text + " 41 41 41 41 41 41 41", 256, text + " 00 00 00"},  // rest left on the line
      {"AA 82 30 31 32 33 34 35 36 37 38 39", 8, "30 31 32 33 34 35 36 37"},
      {"AA 82 41 42 00 43 44", 6, "41 42 00 00 00 00"},  // the text ends at a zero byte
      {"AA 82", 4, "00 00 00 00"},
      {"AA 82 41", 0, ""},  // room for nothing is no error
  };
  for (const auto &[body, buflen, field_text] : cases) {
    // A longer frame between other stations first fills the reply buffer with stale text.
    radio_.send(hex("FE FE 33 44 AA 82 58 58 58 58 58 58 58 58 58 58 58 FD"));
    radio_.send(reply(body));
    Bytes field(300, 0x5A), want = hex(field_text);
    want.resize(300, 0x5A);
    EXPECT_EQ(getversion(kRadio, kController, field.data(), buflen), 0) << body;
    EXPECT_EQ(field, want) << body;
  }
}

}  // namespace
