// SPDX-License-Identifier: MIT
// The fifteen radio commands: request bytes, reply judging and decoding, argument checks, quirks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "pty_radio.h"
#include "radioline.h"

namespace {

constexpr int kRadio = 0x20;
constexpr int kController = 0x91;

// What a reader may write to; patterned before each call so any write shows.
struct Storage {
  unsigned char buf[40];  // readers fill at most 32; no padding, so memcmp sees every byte
  long first;
  long second;
  Storage() { std::memset(this, 0x5A, sizeof *this); }
  bool operator==(const Storage &o) const { return std::memcmp(this, &o, sizeof o) == 0; }
};

// One command as the tests drive it. Its request and reply bodies hold no FD, FE or FF.
struct Command {
  const char *name;  // its trace prefix
  int (*call)(int to, int from, Storage &s);
  const char *request;      // the body it sends
  const char *reply;        // a body it accepts: FB for a setter, AA 8x ... for a reader
  const char *short_reply;  // a reader's reply one byte too short to decode
  bool reader() const { return reply[0] == 'A'; }
};

char sixteen_numbers[] = "1 2 3 4 5 6 7 8 9 a b c d e f 10";

// Setters first, then readers.
// clang-format off
const std::vector<Command> kCommands = {
  {"setvfofreq", [](int t, int f, Storage &) { return setvfofreq(t, f, 145); }, "05 45 01 00 00 00", "FB", nullptr},
  {"setmode", [](int t, int f, Storage &) { return setmode(t, f, 12); }, "08 12", "FB", nullptr},
  {"storevfotomode", [](int t, int f, Storage &) { return storevfotomode(t, f); }, "09", "FB", nullptr},
  {"storemodetovfo", [](int t, int f, Storage &) { return storemodetovfo(t, f); }, "0A", "FB", nullptr},
  {"setduplex", [](int t, int f, Storage &) { return setduplex(t, f, 0x11); }, "0F 11", "FB", nullptr},
  {"setpl", [](int t, int f, Storage &) { return setpl(t, f, 885, 0); }, "1B 00 08 85", "FB", nullptr},
  {"setvfocodeplug", [](int t, int f, Storage &) { return setvfocodeplug(t, f, sixteen_numbers); },
   "AA 01 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10", "FB", nullptr},
  {"setconfig", [](int t, int f, Storage &) { return setconfig(t, f, 0x12, 0x34); }, "AA 04 12 34", "FB", nullptr},
  {"settxoffset", [](int t, int f, Storage &) { return settxoffset(t, f, 256); }, "AA 06 00 01 00 00", "FB", nullptr},
  {"setvcosplit", [](int t, int f, Storage &) { return setvcosplit(t, f, 1, 2); }, "AA 08 02 00 00 00 01 00 00 00", "FB", nullptr},
  {"getvfocodeplug", [](int t, int f, Storage &s) { return getvfocodeplug(t, f, s.buf, 16); }, "AA 00",
   "AA 80 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F", "AA 80 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E"},
  {"getversion", [](int t, int f, Storage &s) { return getversion(t, f, s.buf, 32); }, "AA 02", "AA 82 72 61 64", "AA"},
  {"getconfig", [](int t, int f, Storage &s) { return getconfig(t, f, s.buf, 2); }, "AA 03", "AA 83 12 34", "AA 83 12"},
  {"gettxoffset", [](int t, int f, Storage &s) { return gettxoffset(t, f, &s.first); }, "AA 05",
   "AA 85 00 01 00 00", "AA 85 00 01 00"},
  {"getvcosplit", [](int t, int f, Storage &s) { return getvcosplitfreq(t, f, &s.first, &s.second); }, "AA 07",
   "AA 87 02 00 00 00 01 00 00 00", "AA 87 02 00 00 00 01 00 00"},
};
// clang-format on

const auto kFirstReader =
    std::find_if(kCommands.begin(), kCommands.end(), [](const Command &c) { return c.reader(); });
void PrintTo(const Command &c, std::ostream *out) {
  *out << c.name;
}
std::string nameOf(const ::testing::TestParamInfo<Command> &info) {
  return info.param.name;
}

// Frames as text for hex(): the request to the radio and a reply from it.
std::string request(const std::string &body) {
  return "FE FE 20 91 " + body + " FD ";
}
std::string reply(const std::string &body) {
  return "FE FE 91 20 " + body + " FD ";
}

class EveryCommand : public LineTest, public ::testing::WithParamInterface<Command> {
 protected:
  // Runs the command against `line`; expects `rc`, errno set to a non-zero `rc`, storage untouched.
  void expectRc(const std::string &line, int rc, int to = kRadio, int from = kController) {
    radio_.send(hex(line));
    Storage storage;
    errno = 0;
    EXPECT_EQ(GetParam().call(to, from, storage), rc);
    EXPECT_TRUE(rc == 0 || errno == rc) << "errno " << errno;
    EXPECT_TRUE(storage == Storage());
  }
};
using EverySetter = EveryCommand;
using EveryReader = EveryCommand;

TEST_P(EveryCommand, SendsItsRequestSkipsTheEchoAndAcceptsItsReply) {
  radio_.send(hex(request(GetParam().request) + reply(GetParam().reply)));
  Storage storage;
  EXPECT_EQ(GetParam().call(kRadio, kController, storage), 0);
  EXPECT_EQ(radio_.take(), hex(request(GetParam().request)));
}

TEST_P(EveryCommand, AddressAbove252IsEinvalAndSendsNothing) {
  expectRc("", EINVAL, 253, kController);
  expectRc("", EINVAL, kRadio, 255);
  EXPECT_EQ(radio_.take(), Bytes{});
}

TEST_P(EveryCommand, BroadcastSendsTheRequestAndReadsNoReply) {
  const Command &c = GetParam();
  for (const auto &[to, from] : {std::pair{0, kController}, std::pair{kRadio, 0}}) {
    expectRc(reply(c.reply), c.reader() ? EINVAL : 0, to, from);  // a reader has nothing to decode
    const std::string head = std::string(to ? "20 " : "00 ") + (from ? "91 " : "00 ");
    EXPECT_EQ(radio_.take(), hex("FE FE " + head + c.request + " FD"));
    Storage storage;  // The reply is still on the line for the next exchange.
    EXPECT_EQ(c.call(kRadio, kController, storage), 0);
    radio_.take();
  }
}

TEST_P(EveryCommand, IsSilentWithoutDebug) {
  radio_.send(hex(request(GetParam().request) + reply(GetParam().reply)));
  Storage storage;
  EXPECT_EQ(stderrOf([&] { EXPECT_EQ(GetParam().call(kRadio, kController, storage), 0); }), "");
}

TEST_P(EverySetter, AnyStatusButFbIsARefusalWithEinvalAndErrnoSet) {
  for (const char *status : {"FA", "00"}) expectRc(reply(status), EINVAL);
}

// Another command, another subcommand, the request's own subcommand, or one byte too short.
TEST_P(EveryReader, ReplyThatIsNotItsDataIsEinvalAndWritesNothing) {
  const std::string data = std::string(GetParam().reply).substr(5);
  const char sub = GetParam().request[4];
  for (const std::string &body :
       {std::string("AB 8") + sub + data, std::string("AA 8") + char(sub ^ 1) + data,
        std::string("AA 0") + sub + data, std::string(GetParam().short_reply)}) {
    SCOPED_TRACE(body);
    expectRc(reply(body), EINVAL);
  }
}

INSTANTIATE_TEST_SUITE_P(Commands, EveryCommand, ::testing::ValuesIn(kCommands), nameOf);
INSTANTIATE_TEST_SUITE_P(Commands, EverySetter,
                         ::testing::ValuesIn(kCommands.begin(), kFirstReader), nameOf);
INSTANTIATE_TEST_SUITE_P(Commands, EveryReader, ::testing::ValuesIn(kFirstReader, kCommands.end()),
                         nameOf);

using Commands = LineTest;

// Setters' request bodies beyond the table's: cut digits, low bytes, escaping, codeplug text.
TEST_F(Commands, SettersPutTheirValuesOnTheWireAsLaidOut) {
  static char prefixed[] = "  0x1\t0X2\n\n3   4 5 6 7 8 9 0xA 0xb c d e f 0x10\n";
  static char trailing[] = "1 2 3 4 5 6 7 8 9 a b c d e f 10 11 12 and more";
  static char escaped[] = "1FF fd 0 0 0 0 0 0 0 0 0 0 0 0 0 fe";
  const std::pair<int (*)(), const char *> cases[] = {
      {[] { return setvfofreq(kRadio, kController, 12345678901L); }, "05 01 89 67 45 23"},
      {[] { return setmode(kRadio, kController, 123); }, "08 23"},
      {[] { return setduplex(kRadio, kController, -1); }, "0F FF 0F"},
      {[] { return setpl(kRadio, kController, 100, 1); }, "1B 01 01 00"},
      {[] { return setpl(kRadio, kController, 12345, 0); }, "1B 00 23 45"},
      {[] { return setpl(kRadio, kController, 0, 0); },
       "1B 00 00 00"},  // tone 0 is sent like any other
      {[] { return setvfocodeplug(kRadio, kController, prefixed); },
       "AA 01 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10"},
      {[] { return setvfocodeplug(kRadio, kController, trailing); },
       "AA 01 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10"},
      {[] { return setvfocodeplug(kRadio, kController, escaped); },
       "AA 01 FF 0F FF 0D 00 00 00 00 00 00 00 00 00 00 00 00 00 FF 0E"},
      {[] { return settxoffset(kRadio, kController, -1); }, "AA 06 FF 0F FF 0F FF 0F FF 0F"},
  };
  for (const auto &[call, body] : cases) {
    radio_.send(hex(reply("FB")));
    EXPECT_EQ(call(), 0) << body;
    EXPECT_EQ(radio_.take(), hex(request(body)));
  }
}

TEST_F(Commands, ArgumentChecksRefuseWithErrnoSetBeforeSendingAnything) {
  static unsigned char buf[16];
  static long value;
  static char fifteen[] = "1 2 3 4 5 6 7 8 9 a b c d e f";
  const std::pair<int (*)(), int> cases[] = {
      {[] { return setvfofreq(kRadio, kController, -1); }, EINVAL},
      {[] { return setmode(kRadio, kController, -1); }, EINVAL},
      {[] { return setpl(kRadio, kController, -885, 0); }, EINVAL},
      {[] { return setvfocodeplug(kRadio, kController, nullptr); }, EINVAL},
      {[] { return setvfocodeplug(kRadio, kController, fifteen); }, EINVAL},
      {[] { return getvfocodeplug(kRadio, kController, nullptr, 16); }, EINVAL},
      {[] { return getversion(kRadio, kController, buf, -1); }, EINVAL},
      {[] { return getversion(kRadio, kController, nullptr, 8); }, EINVAL},
      {[] { return getconfig(kRadio, kController, buf, 1); }, ENOSPC},
      {[] { return getconfig(kRadio, kController, nullptr, 2); }, EINVAL},
      {[] { return gettxoffset(kRadio, kController, nullptr); }, EINVAL},
      {[] { return getvcosplitfreq(kRadio, kController, nullptr, &value); }, EINVAL},
      {[] { return getvcosplitfreq(kRadio, kController, &value, nullptr); }, EINVAL},
  };
  int row = 0;
  for (const auto &[call, rc] : cases) {
    SCOPED_TRACE(row++);
    errno = 0;
    EXPECT_EQ(call(), rc);
    EXPECT_EQ(errno, rc);
  }
  EXPECT_EQ(radio_.take(), Bytes{});
}

TEST_F(Commands, CodeplugReaderWithRoomForFifteenIsEnospcWithErrnoUntouched) {
  unsigned char plug[16];
  errno = EDOM;
  EXPECT_EQ(getvfocodeplug(kRadio, kController, plug, 15), ENOSPC);
  EXPECT_EQ(errno, EDOM);
  EXPECT_EQ(radio_.take(), Bytes{});
}

TEST_F(Commands, EmptyCodeplugTextTracesACountOfMinusOne) {
  char empty[] = "";
  debug = 1;
  const std::string got =
      stderrOf([&] { EXPECT_EQ(setvfocodeplug(kRadio, kController, empty), EINVAL); });
  EXPECT_NE(got.find("\nsetvfocodeplug: only got -1 of 16 plug bytes\n"), std::string::npos);
}

TEST_F(Commands, CodeplugReaderFillsExactlySixteenUnescapedBytes) {
  radio_.send(hex(reply("AA 80 00 11 22 33 44 55 66 77 88 99 AA BB CC FF 0D FF 0E FF 0F")));
  Bytes plug(20, 0x5A);
  EXPECT_EQ(getvfocodeplug(kRadio, kController, plug.data(), 16), 0);
  EXPECT_EQ(plug, hex("00 11 22 33 44 55 66 77 88 99 AA BB CC FD FE FF 5A 5A 5A 5A"));
}

TEST_F(Commands, VersionTextIsAZeroPaddedFieldWithoutATerminatorWhenFull) {
  std::string text;  // 253 bytes: all that the reply buffer keeps after AA 82
  for (int i = 0; i < 253; i++) text += " 41";
  const std::tuple<std::string, int, std::string> cases[] = {
      {"AA 82" + text + " 41 41 41 41 41 41 41", 256, text + " 00 00 00"},  // rest left on the line
      {"AA 82 41 42 43", 8, "41 42 43 00 00 00 00 00"},
      {"AA 82 30 31 32 33 34 35 36 37 38 39", 8, "30 31 32 33 34 35 36 37"},
      {"AA 82 41 42 00 43 44", 6, "41 42 00 00 00 00"},  // the text ends at a zero byte
      {"AA 82", 4, "00 00 00 00"},
  };
  for (const auto &[body, buflen, text_field] : cases) {
    // A longer frame between other stations first fills the reply buffer with stale text.
    radio_.send(hex("FE FE 33 44 AA 82 58 58 58 58 58 58 58 58 58 58 58 FD " + reply(body)));
    Bytes field(300, 0x5A), want = hex(text_field);
    want.resize(300, 0x5A);
    EXPECT_EQ(getversion(kRadio, kController, field.data(), buflen), 0) << body;
    EXPECT_EQ(field, want) << body;
  }
}

TEST_F(Commands, ConfigReaderFillsTwoBytes) {
  radio_.send(hex(reply("AA 83 12 FF 0E")));
  unsigned char config[3] = {0x5A, 0x5A, 0x5A};
  EXPECT_EQ(getconfig(kRadio, kController, config, 2), 0);
  EXPECT_EQ(Bytes(config, config + 3), hex("12 FE 5A"));
}

TEST_F(Commands, OffsetReaderDecodesSigned32BitLittleEndian) {
  const std::pair<const char *, long> cases[] = {{"AA 85 00 01 00 00", 256},
                                                 {"AA 85 FF 0F FF 0F FF 0F FF 0F", -1},
                                                 {"AA 85 FF 0F FF 0F FF 0F 7F", 2147483647L},
                                                 {"AA 85 00 00 00 80", -2147483647L - 1}};
  for (const auto &[body, value] : cases) {
    radio_.send(hex(reply(body)));
    long offset = 7;
    EXPECT_EQ(gettxoffset(kRadio, kController, &offset), 0);
    EXPECT_EQ(offset, value) << body;
  }
}

TEST_F(Commands, SplitReaderTakesRxFirstThenTx) {
  radio_.send(hex(reply("AA 87 FF 0E FF 0F FF 0F FF 0F 00 CA 9A 3B")));
  long tx = 0, rx = 0;
  EXPECT_EQ(getvcosplitfreq(kRadio, kController, &tx, &rx), 0);
  EXPECT_EQ(rx, -2);
  EXPECT_EQ(tx, 1000000000L);
}

TEST_F(Commands, SetplOpensWithTheToneInHertzRightAligned) {
  radio_.send(hex(reply("FB") + reply("FB")));
  debug = 1;
  std::string got = stderrOf([] { EXPECT_EQ(setpl(kRadio, kController, 885, 0), 0); });
  EXPECT_EQ(got.rfind("setpl: setting tx pl to  88.5\n", 0), 0u);
  got = stderrOf([] { EXPECT_EQ(setpl(kRadio, kController, 1000, 7), 0); });
  EXPECT_EQ(got.rfind("setpl: setting rx pl to 100.0\n", 0), 0u);
}

TEST_F(Commands, StoremodetovfoTracesNoCallingSendcmdLine) {
  radio_.send(hex(reply("FB")));
  debug = 1;
  const std::string got = stderrOf([] { EXPECT_EQ(storemodetovfo(kRadio, kController), 0); });
  EXPECT_EQ(got.find("calling sendcmd"), std::string::npos);
  EXPECT_EQ(got.rfind("storemodetovfo: entering\nsendcmd: to 20 from 91\n", 0), 0u);
}

TEST_F(Commands, GetvcosplitfreqTracesUnderGetvcosplit) {
  radio_.send(hex(reply("AA 87 02 00 00 00 01 00 00 00")));
  long tx = 0, rx = 0;
  debug = 1;
  const std::string got =
      stderrOf([&] { EXPECT_EQ(getvcosplitfreq(kRadio, kController, &tx, &rx), 0); });
  EXPECT_EQ(got.find("getvcosplitfreq"), std::string::npos);
  EXPECT_EQ(got.rfind("getvcosplit: entering\ngetvcosplit: calling sendcmd\n", 0), 0u);
  EXPECT_NE(got.find("\ngetvcosplit: found our message; command aa subcommand 87\n"
                     "getvcosplit: data 02 00 00 00 01 00 00 00 \n"),
            std::string::npos);
}

}  // namespace
