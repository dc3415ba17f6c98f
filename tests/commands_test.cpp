// SPDX-License-Identifier: MIT
// The fifteen radio commands: request bytes on the wire, reply judging and
// decoding, argument checks that keep the line and the caller's storage
// untouched, and each command's own trace lines.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "pty_radio.h"
#include "radioline.h"

namespace {

constexpr int kRadio = 0x20;
constexpr int kController = 0x91;

// What a reader may write to: filled with a pattern before each call.
struct Storage {
  unsigned char buf[300];
  long first;
  long second;
};

Storage patterned() {
  Storage storage;
  std::memset(&storage, 0x5A, sizeof storage);
  return storage;
}

bool same(const Storage &a, const Storage &b) {
  return std::memcmp(a.buf, b.buf, sizeof a.buf) == 0 && a.first == b.first && a.second == b.second;
}

enum class Form { kStatus, kData };

// One radio command as the tests drive it. Request and reply bodies hold no
// FD, FE or FF, so their frames are the bodies between plain headers.
struct Command {
  const char *name;  // the command's trace prefix
  Form form;
  int (*call)(int to, int from, Storage &storage);
  const char *request;      // the body `call` sends
  const char *reply;        // a body the command accepts
  const char *short_reply;  // a reader's reply one data byte short, or null
};

char sixteen_numbers[] = "1 2 3 4 5 6 7 8 9 a b c d e f 10";

const std::vector<Command> &all_commands() {
  static const std::vector<Command> commands = {
      {"setvfofreq", Form::kStatus,
       [](int to, int from, Storage &) { return setvfofreq(to, from, 145); }, "05 45 01 00 00 00",
       "FB", nullptr},
      {"setmode", Form::kStatus, [](int to, int from, Storage &) { return setmode(to, from, 12); },
       "08 12", "FB", nullptr},
      {"storevfotomode", Form::kStatus,
       [](int to, int from, Storage &) { return storevfotomode(to, from); }, "09", "FB", nullptr},
      {"storemodetovfo", Form::kStatus,
       [](int to, int from, Storage &) { return storemodetovfo(to, from); }, "0A", "FB", nullptr},
      {"setduplex", Form::kStatus,
       [](int to, int from, Storage &) { return setduplex(to, from, 0x11); }, "0F 11", "FB",
       nullptr},
      {"setpl", Form::kStatus, [](int to, int from, Storage &) { return setpl(to, from, 885, 0); },
       "1B 00 08 85", "FB", nullptr},
      {"getvfocodeplug", Form::kData,
       [](int to, int from, Storage &s) { return getvfocodeplug(to, from, s.buf, 16); }, "AA 00",
       "AA 80 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F",
       "AA 80 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E"},
      {"setvfocodeplug", Form::kStatus,
       [](int to, int from, Storage &) { return setvfocodeplug(to, from, sixteen_numbers); },
       "AA 01 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10", "FB", nullptr},
      {"getversion", Form::kData,
       [](int to, int from, Storage &s) { return getversion(to, from, s.buf, 32); }, "AA 02",
       "AA 82 72 61 64 69 6F", nullptr},
      {"getconfig", Form::kData,
       [](int to, int from, Storage &s) { return getconfig(to, from, s.buf, 2); }, "AA 03",
       "AA 83 12 34", "AA 83 12"},
      {"setconfig", Form::kStatus,
       [](int to, int from, Storage &) { return setconfig(to, from, 0x12, 0x34); }, "AA 04 12 34",
       "FB", nullptr},
      {"gettxoffset", Form::kData,
       [](int to, int from, Storage &s) { return gettxoffset(to, from, &s.first); }, "AA 05",
       "AA 85 00 01 00 00", "AA 85 00 01 00"},
      {"settxoffset", Form::kStatus,
       [](int to, int from, Storage &) { return settxoffset(to, from, 256); }, "AA 06 00 01 00 00",
       "FB", nullptr},
      {"getvcosplit", Form::kData,
       [](int to, int from, Storage &s) { return getvcosplitfreq(to, from, &s.first, &s.second); },
       "AA 07", "AA 87 02 00 00 00 01 00 00 00", "AA 87 02 00 00 00 01 00 00"},
      {"setvcosplit", Form::kStatus,
       [](int to, int from, Storage &) { return setvcosplit(to, from, 1, 2); },
       "AA 08 02 00 00 00 01 00 00 00", "FB", nullptr},
  };
  return commands;
}

std::vector<Command> commands_where(bool (*keep)(const Command &)) {
  std::vector<Command> kept;
  for (const Command &command : all_commands()) {
    if (keep(command)) kept.push_back(command);
  }
  return kept;
}

std::string request_frame(const Command &c) {
  return std::string("FE FE 20 91 ") + c.request + " FD";
}
std::string reply_frame(const std::string &body) {
  return "FE FE 91 20 " + body + " FD";
}

// The lines of `text` that begin with "<prefix>: ".
std::vector<std::string> lines_of(const std::string &text, const std::string &prefix) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(prefix + ": ", 0) == 0) lines.push_back(line);
  }
  return lines;
}

// The lines of `text` that no lower layer wrote.
std::vector<std::string> own_lines(const std::string &text) {
  static const char *const kLower[] = {
      "sendcmd: ", "rcvresp: ", "rawcharout: ", "rawcharin: ", "charout: ", "charin: ", "tobcd: "};
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    bool lower = false;
    for (const char *prefix : kLower) lower |= line.rfind(prefix, 0) == 0;
    if (!lower) lines.push_back(line);
  }
  return lines;
}

std::string name_of(const ::testing::TestParamInfo<Command> &info) {
  return info.param.name;
}

// ---------------------------------------------------------------------------
// Behaviour every command shares.
// ---------------------------------------------------------------------------

class EveryCommand : public LineTest, public ::testing::WithParamInterface<Command> {};

TEST_P(EveryCommand, SendsItsRequestSkipsTheEchoAndAcceptsItsReply) {
  const Command &c = GetParam();
  radio_.send(hex(request_frame(c) + " " + reply_frame(c.reply)));
  Storage storage = patterned();
  EXPECT_EQ(c.call(kRadio, kController, storage), 0);
  EXPECT_EQ(radio_.take(), hex(request_frame(c)));
}

TEST_P(EveryCommand, AddressAbove252IsEinvalAndSendsNothing) {
  const Command &c = GetParam();
  Storage storage = patterned();
  const Storage before = storage;
  errno = 0;
  EXPECT_EQ(c.call(253, kController, storage), EINVAL);
  EXPECT_EQ(errno, EINVAL);
  errno = 0;
  EXPECT_EQ(c.call(kRadio, 255, storage), EINVAL);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(radio_.take(), Bytes{});
  EXPECT_TRUE(same(storage, before));
}

TEST_P(EveryCommand, BroadcastSendsTheRequestAndReadsNoReply) {
  const Command &c = GetParam();
  radio_.send(hex(reply_frame(c.reply)));
  Storage storage = patterned();
  const Storage before = storage;
  errno = 0;
  const int rc = c.call(0, kController, storage);
  if (c.form == Form::kStatus) {
    EXPECT_EQ(rc, 0);
  } else {
    EXPECT_EQ(rc, EINVAL);
    EXPECT_EQ(errno, EINVAL);
  }
  EXPECT_TRUE(same(storage, before));
  EXPECT_EQ(radio_.take(), hex(std::string("FE FE 00 91 ") + c.request + " FD"));
  // The reply is still on the line.
  int to = 0;
  int from = 0;
  int len = 0;
  unsigned char body[32] = {};
  EXPECT_EQ(rcvresp(&to, &from, body, sizeof body, &len), 0);
  EXPECT_EQ(Bytes(body, body + len), hex(c.reply));
}

TEST_P(EveryCommand, TracesUnderItsOwnPrefix) {
  const Command &c = GetParam();
  radio_.send(hex(reply_frame(c.reply)));
  Storage storage = patterned();
  debug = 1;
  const std::string got = stderr_of([&] { EXPECT_EQ(c.call(kRadio, kController, storage), 0); });
  const std::vector<std::string> own = own_lines(got);
  ASSERT_FALSE(own.empty());
  for (const std::string &line : own) {
    EXPECT_EQ(line.rfind(std::string(c.name) + ": ", 0), 0u) << line;
  }
  const std::string judged = std::string(c.name) + ": found our message; ";
  if (c.form == Form::kStatus) {
    EXPECT_EQ(own.back(), judged + "status fb");
  } else {  // a reader judges, then dumps its data
    ASSERT_GE(own.size(), 2u);
    EXPECT_EQ(own[own.size() - 2].rfind(judged + "command aa subcommand 8", 0), 0u);
  }
}

TEST_P(EveryCommand, IsSilentWithoutDebug) {
  const Command &c = GetParam();
  radio_.send(hex(request_frame(c) + " " + reply_frame(c.reply)));
  Storage storage = patterned();
  const std::string got = stderr_of([&] { EXPECT_EQ(c.call(kRadio, kController, storage), 0); });
  EXPECT_EQ(got, "");
}

INSTANTIATE_TEST_SUITE_P(Commands, EveryCommand, ::testing::ValuesIn(all_commands()), name_of);

// ---------------------------------------------------------------------------
// Behaviour every setter shares.
// ---------------------------------------------------------------------------

class EverySetter : public LineTest, public ::testing::WithParamInterface<Command> {};

TEST_P(EverySetter, RefusalIsEinvalWithErrnoSet) {
  radio_.send(hex(reply_frame("FA")));
  Storage storage = patterned();
  errno = 0;
  EXPECT_EQ(GetParam().call(kRadio, kController, storage), EINVAL);
  EXPECT_EQ(errno, EINVAL);
}

TEST_P(EverySetter, ReplyWithoutAStatusByteIsEinvalWithErrnoSet) {
  radio_.send(hex("FE FE 91 20 FD"));
  Storage storage = patterned();
  errno = 0;
  EXPECT_EQ(GetParam().call(kRadio, kController, storage), EINVAL);
  EXPECT_EQ(errno, EINVAL);
}

TEST_P(EverySetter, TracesTheStatusItJudged) {
  radio_.send(hex(reply_frame("FA")));
  Storage storage = patterned();
  debug = 1;
  const std::string got =
      stderr_of([&] { EXPECT_EQ(GetParam().call(kRadio, kController, storage), EINVAL); });
  const std::string name = GetParam().name;
  EXPECT_EQ(own_lines(got).back(), name + ": found our message; status fa");
}

INSTANTIATE_TEST_SUITE_P(Commands, EverySetter,
                         ::testing::ValuesIn(commands_where([](const Command &c) {
                           return c.form == Form::kStatus;
                         })),
                         name_of);

// ---------------------------------------------------------------------------
// Behaviour every reader shares.
// ---------------------------------------------------------------------------

class EveryReader : public LineTest, public ::testing::WithParamInterface<Command> {
 protected:
  // Runs the reader against `reply` and expects EINVAL, errno set and its
  // storage untouched.
  void expect_rejected(const std::string &reply) {
    radio_.send(hex(reply_frame(reply)));
    Storage storage = patterned();
    const Storage before = storage;
    errno = 0;
    EXPECT_EQ(GetParam().call(kRadio, kController, storage), EINVAL) << reply;
    EXPECT_EQ(errno, EINVAL) << reply;
    EXPECT_TRUE(same(storage, before)) << reply;
  }
};

TEST_P(EveryReader, ReplyOfAnotherSubcommandIsEinvalAndWritesNothing) {
  std::string reply = GetParam().reply;
  reply[4] = reply[4] == '0' ? '1' : '0';  // AA 8x: another x
  expect_rejected(reply);
}

TEST_P(EveryReader, ReplyOfAnotherCommandIsEinvalAndWritesNothing) {
  std::string reply = GetParam().reply;
  reply[1] = 'B';  // AB instead of AA
  expect_rejected(reply);
}

TEST_P(EveryReader, ReplyWithTheRequestsSubcommandIsEinval) {
  // The echo of the request, had it been addressed to us.
  expect_rejected(GetParam().request);
}

TEST_P(EveryReader, StatusReplyIsEinvalAndWritesNothing) {
  expect_rejected("FB");
}

TEST_P(EveryReader, EmptyReplyIsEinvalAndWritesNothing) {
  radio_.send(hex("FE FE 91 20 FD"));
  Storage storage = patterned();
  const Storage before = storage;
  errno = 0;
  EXPECT_EQ(GetParam().call(kRadio, kController, storage), EINVAL);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_TRUE(same(storage, before));
}

INSTANTIATE_TEST_SUITE_P(Commands, EveryReader,
                         ::testing::ValuesIn(commands_where([](const Command &c) {
                           return c.form == Form::kData;
                         })),
                         name_of);

// Readers whose data has a fixed length: all but getversion, whose text may
// be empty.
class EveryFixedLengthReader : public EveryReader {};

TEST_P(EveryFixedLengthReader, ReplyShorterThanItsDataIsEinvalAndWritesNothing) {
  expect_rejected(GetParam().short_reply);
}

INSTANTIATE_TEST_SUITE_P(Commands, EveryFixedLengthReader,
                         ::testing::ValuesIn(commands_where([](const Command &c) {
                           return c.short_reply != nullptr;
                         })),
                         name_of);

// ---------------------------------------------------------------------------
// Tuning and memory commands: their own request bytes and traces.
// ---------------------------------------------------------------------------

class TuningCommands : public LineTest {
 protected:
  // Queues the accepting reply, runs `call`, returns what reached the line.
  template <typename Call>
  Bytes wire_of(Call call) {
    radio_.send(hex("FE FE 91 20 FB FD"));
    EXPECT_EQ(call(), 0);
    return radio_.take();
  }
};

TEST_F(TuningCommands, SetvfofreqSendsTenDigitsLeastSignificantPairFirst) {
  EXPECT_EQ(wire_of([] { return setvfofreq(kRadio, kController, 1234567890); }),
            hex("FE FE 20 91 05 90 78 56 34 12 FD"));
  EXPECT_EQ(wire_of([] { return setvfofreq(kRadio, kController, 145); }),
            hex("FE FE 20 91 05 45 01 00 00 00 FD"));
}

TEST_F(TuningCommands, SetvfofreqCutsDigitsBeyondTenFromTheTop) {
  EXPECT_EQ(wire_of([] { return setvfofreq(kRadio, kController, 12345678901L); }),
            hex("FE FE 20 91 05 01 89 67 45 23 FD"));
}

TEST_F(TuningCommands, SetvfofreqOfZeroSendsZeroDigits) {
  EXPECT_EQ(wire_of([] { return setvfofreq(kRadio, kController, 0); }),
            hex("FE FE 20 91 05 00 00 00 00 00 FD"));
}

TEST_F(TuningCommands, SetmodeSendsOneBcdByte) {
  EXPECT_EQ(wire_of([] { return setmode(kRadio, kController, 12); }), hex("FE FE 20 91 08 12 FD"));
  EXPECT_EQ(wire_of([] { return setmode(kRadio, kController, 7); }), hex("FE FE 20 91 08 07 FD"));
  EXPECT_EQ(wire_of([] { return setmode(kRadio, kController, 123); }), hex("FE FE 20 91 08 23 FD"));
}

TEST_F(TuningCommands, StoreCommandsSendOneByte) {
  EXPECT_EQ(wire_of([] { return storevfotomode(kRadio, kController); }), hex("FE FE 20 91 09 FD"));
  EXPECT_EQ(wire_of([] { return storemodetovfo(kRadio, kController); }), hex("FE FE 20 91 0A FD"));
}

TEST_F(TuningCommands, SetduplexSendsTheLowByteUnchangedAndEscaped) {
  EXPECT_EQ(wire_of([] { return setduplex(kRadio, kController, 0x11); }),
            hex("FE FE 20 91 0F 11 FD"));
  EXPECT_EQ(wire_of([] { return setduplex(kRadio, kController, 0x1FD); }),
            hex("FE FE 20 91 0F FF 0D FD"));
  EXPECT_EQ(wire_of([] { return setduplex(kRadio, kController, -1); }),
            hex("FE FE 20 91 0F FF 0F FD"));
}

TEST_F(TuningCommands, SetplSendsTheToneSelectorAndFourDigits) {
  EXPECT_EQ(wire_of([] { return setpl(kRadio, kController, 885, 0); }),
            hex("FE FE 20 91 1B 00 08 85 FD"));
  EXPECT_EQ(wire_of([] { return setpl(kRadio, kController, 100, 1); }),
            hex("FE FE 20 91 1B 01 01 00 FD"));
  EXPECT_EQ(wire_of([] { return setpl(kRadio, kController, 12345, 0); }),
            hex("FE FE 20 91 1B 00 23 45 FD"));
  EXPECT_EQ(wire_of([] { return setpl(kRadio, kController, 1, 0x1FE); }),
            hex("FE FE 20 91 1B FF 0E 00 01 FD"));
}

TEST_F(TuningCommands, NegativeFrequencyModeOrToneIsEinvalAndSendsNothing) {
  errno = 0;
  EXPECT_EQ(setvfofreq(kRadio, kController, -1), EINVAL);
  EXPECT_EQ(errno, EINVAL);
  errno = 0;
  EXPECT_EQ(setmode(kRadio, kController, -1), EINVAL);
  EXPECT_EQ(errno, EINVAL);
  errno = 0;
  EXPECT_EQ(setpl(kRadio, kController, -885, 0), EINVAL);
  EXPECT_EQ(errno, EINVAL);
  errno = 0;
  EXPECT_EQ(setvfofreq(kRadio, kController, LONG_MIN), EINVAL);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(radio_.take(), Bytes{});
}

TEST_F(TuningCommands, SetplOpensWithTheToneInHertz) {
  debug = 1;
  radio_.send(hex("FE FE 91 20 FB FD  FE FE 91 20 FB FD"));
  std::string got = stderr_of([] { EXPECT_EQ(setpl(kRadio, kController, 885, 0), 0); });
  EXPECT_EQ(own_lines(got).front(), "setpl: setting tx pl to  88.5");
  EXPECT_EQ(own_lines(got)[1], "setpl: bcd 1b 00 08 85 ");
  got = stderr_of([] { EXPECT_EQ(setpl(kRadio, kController, 1000, 7), 0); });
  EXPECT_EQ(own_lines(got).front(), "setpl: setting rx pl to 100.0");
}

TEST_F(TuningCommands, NegativeToneIsTracedBeforeItIsRefused) {
  debug = 1;
  const std::string got = stderr_of([] { EXPECT_EQ(setpl(kRadio, kController, -885, 0), EINVAL); });
  EXPECT_EQ(got, "setpl: setting tx pl to -88.5\n");
}

TEST_F(TuningCommands, SetvfofreqOpensWithTheFrequencyAndDumpsItsBody) {
  debug = 1;
  radio_.send(hex("FE FE 91 20 FB FD"));
  const std::string got = stderr_of([] { EXPECT_EQ(setvfofreq(kRadio, kController, 145), 0); });
  const std::vector<std::string> own = own_lines(got);
  ASSERT_GE(own.size(), 3u);
  EXPECT_EQ(own[0], "setvfofreq: setting freq 145");
  EXPECT_EQ(own[1], "setvfofreq: bcd 05 45 01 00 00 00 ");
  EXPECT_EQ(own[2], "setvfofreq: calling sendcmd");
}

TEST_F(TuningCommands, SetmodeAndSetduplexOpenAndDumpTheirBodies) {
  debug = 1;
  radio_.send(hex("FE FE 91 20 FB FD  FE FE 91 20 FB FD"));
  std::vector<std::string> own =
      own_lines(stderr_of([] { EXPECT_EQ(setmode(kRadio, kController, 12), 0); }));
  ASSERT_GE(own.size(), 2u);
  EXPECT_EQ(own[0], "setmode: selecting mode 12");
  EXPECT_EQ(own[1], "setmode: bcd 08 12 ");
  own = own_lines(stderr_of([] { EXPECT_EQ(setduplex(kRadio, kController, 0x11), 0); }));
  ASSERT_GE(own.size(), 2u);
  EXPECT_EQ(own[0], "setduplex: setting duplex to 11");
  EXPECT_EQ(own[1], "setduplex: bcd 0f 11 ");
}

TEST_F(TuningCommands, StoremodetovfoTracesNoCallingSendcmdLine) {
  debug = 1;
  radio_.send(hex("FE FE 91 20 FB FD"));
  const std::string got = stderr_of([] { EXPECT_EQ(storemodetovfo(kRadio, kController), 0); });
  EXPECT_EQ(own_lines(got), (std::vector<std::string>{
                                "storemodetovfo: entering", "storemodetovfo: sendcmd returned 0",
                                "storemodetovfo: eating messages to/from other ids",
                                "storemodetovfo: rcvresp returned to 91 from 20 rc 0",
                                "storemodetovfo: found our message; status fb"}));
}

TEST_F(TuningCommands, StorevfotomodeTracesItsWholeExchange) {
  debug = 1;
  radio_.send(hex("FE FE 91 20 FB FD"));
  const std::string got = stderr_of([] { EXPECT_EQ(storevfotomode(kRadio, kController), 0); });
  EXPECT_EQ(own_lines(got),
            (std::vector<std::string>{"storevfotomode: entering", "storevfotomode: calling sendcmd",
                                      "storevfotomode: sendcmd returned 0",
                                      "storevfotomode: eating messages to/from other ids",
                                      "storevfotomode: rcvresp returned to 91 from 20 rc 0",
                                      "storevfotomode: found our message; status fb"}));
}

// ---------------------------------------------------------------------------
// The codeplug: its reader, and the text parser of its writer.
// ---------------------------------------------------------------------------

class CodeplugCommands : public LineTest {};

TEST_F(CodeplugCommands, SixteenNumbersAreSentAsSixteenBytes) {
  radio_.send(hex("FE FE 91 20 FB FD"));
  char plug[] = "1 2 3 4 5 6 7 8 9 a b c d e f 10";
  EXPECT_EQ(setvfocodeplug(kRadio, kController, plug), 0);
  EXPECT_EQ(radio_.take(), hex("FE FE 20 91 AA 01 01 02 03 04 05 06 07 08 09 "
                               "0A 0B 0C 0D 0E 0F 10 FD"));
}

TEST_F(CodeplugCommands, NumbersAreCutToTheirLowByteAndEscaped) {
  radio_.send(hex("FE FE 91 20 FB FD"));
  char plug[] = "1FF fd 0 0 0 0 0 0 0 0 0 0 0 0 0 fe";
  EXPECT_EQ(setvfocodeplug(kRadio, kController, plug), 0);
  EXPECT_EQ(radio_.take(), hex("FE FE 20 91 AA 01 FF 0F FF 0D 00 00 00 00 00 "
                               "00 00 00 00 00 00 00 00 FF 0E FD"));
}

TEST_F(CodeplugCommands, AcceptsHexPrefixesAndAnyWhiteSpace) {
  radio_.send(hex("FE FE 91 20 FB FD"));
  char plug[] = "  0x1\t0X2\n\n3   4 5 6 7 8 9 0xA 0xb c d e f 0x10\n";
  EXPECT_EQ(setvfocodeplug(kRadio, kController, plug), 0);
  EXPECT_EQ(radio_.take(), hex("FE FE 20 91 AA 01 01 02 03 04 05 06 07 08 09 "
                               "0A 0B 0C 0D 0E 0F 10 FD"));
}

TEST_F(CodeplugCommands, TextAfterTheSixteenthNumberIsIgnored) {
  radio_.send(hex("FE FE 91 20 FB FD"));
  char plug[] = "1 2 3 4 5 6 7 8 9 a b c d e f 10 11 12 and more";
  EXPECT_EQ(setvfocodeplug(kRadio, kController, plug), 0);
  EXPECT_EQ(radio_.take(), hex("FE FE 20 91 AA 01 01 02 03 04 05 06 07 08 09 "
                               "0A 0B 0C 0D 0E 0F 10 FD"));
}

TEST_F(CodeplugCommands, FifteenNumbersAreEinvalAndSendNothing) {
  debug = 1;
  char plug[] = "1 2 3 4 5 6 7 8 9 a b c d e f";
  errno = 0;
  const std::string got =
      stderr_of([&] { EXPECT_EQ(setvfocodeplug(kRadio, kController, plug), EINVAL); });
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(got,
            "setvfocodeplug: plug to send [1 2 3 4 5 6 7 8 9 a b c d e f]\n"
            "setvfocodeplug: only got 15 of 16 plug bytes\n");
  EXPECT_EQ(radio_.take(), Bytes{});
}

TEST_F(CodeplugCommands, EmptyTextTracesMinusOne) {
  debug = 1;
  char empty[] = "";
  char blank[] = " \t\n ";
  errno = 0;
  std::string got =
      stderr_of([&] { EXPECT_EQ(setvfocodeplug(kRadio, kController, empty), EINVAL); });
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(lines_of(got, "setvfocodeplug")[1], "setvfocodeplug: only got -1 of 16 plug bytes");
  got = stderr_of([&] { EXPECT_EQ(setvfocodeplug(kRadio, kController, blank), EINVAL); });
  EXPECT_EQ(lines_of(got, "setvfocodeplug")[1], "setvfocodeplug: only got -1 of 16 plug bytes");
  EXPECT_EQ(radio_.take(), Bytes{});
}

TEST_F(CodeplugCommands, ParsingStopsAtTheFirstNonNumber) {
  debug = 1;
  char plug[] = "1 2 zz 4 5 6 7 8 9 a b c d e f 10";
  const std::string got =
      stderr_of([&] { EXPECT_EQ(setvfocodeplug(kRadio, kController, plug), EINVAL); });
  EXPECT_EQ(lines_of(got, "setvfocodeplug")[1], "setvfocodeplug: only got 2 of 16 plug bytes");
  EXPECT_EQ(radio_.take(), Bytes{});
}

TEST_F(CodeplugCommands, NullPlugIsEinvalAndSendsNothing) {
  errno = 0;
  EXPECT_EQ(setvfocodeplug(kRadio, kController, nullptr), EINVAL);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(radio_.take(), Bytes{});
}

TEST_F(CodeplugCommands, SetvfocodeplugTracesTheParsedPlug) {
  debug = 1;
  radio_.send(hex("FE FE 91 20 FB FD"));
  char plug[] = "1 2 3 4 5 6 7 8 9 a b c d e f 1ff";
  const std::string got =
      stderr_of([&] { EXPECT_EQ(setvfocodeplug(kRadio, kController, plug), 0); });
  const std::vector<std::string> own = own_lines(got);
  ASSERT_GE(own.size(), 3u);
  EXPECT_EQ(own[0], "setvfocodeplug: plug to send [1 2 3 4 5 6 7 8 9 a b c d e f 1ff]");
  EXPECT_EQ(own[1],
            "setvfocodeplug: parsed plug 01 02 03 04 05 06 07 08 09 0a 0b 0c "
            "0d 0e 0f ff ");
  EXPECT_EQ(own[2], "setvfocodeplug: calling sendcmd");
}

TEST_F(CodeplugCommands, ReaderFillsExactlySixteenBytes) {
  radio_.send(
      hex("FE FE 91 20 AA 80 00 11 22 33 44 55 66 77 88 99 AA BB CC "
          "FF 0D FF 0E FF 0F FD"));
  unsigned char plug[20];
  std::memset(plug, 0x5A, sizeof plug);
  EXPECT_EQ(getvfocodeplug(kRadio, kController, plug, 16), 0);
  EXPECT_EQ(Bytes(plug, plug + 20),
            hex("00 11 22 33 44 55 66 77 88 99 AA BB CC FD FE FF 5A 5A 5A 5A"));
}

TEST_F(CodeplugCommands, ReaderTracesThePlugData) {
  debug = 1;
  radio_.send(
      hex("FE FE 91 20 AA 80 00 01 02 03 04 05 06 07 08 09 0A 0B 0C "
          "0D 0E 0F FD"));
  unsigned char plug[16] = {};
  const std::string got =
      stderr_of([&] { EXPECT_EQ(getvfocodeplug(kRadio, kController, plug, 16), 0); });
  EXPECT_EQ(own_lines(got),
            (std::vector<std::string>{
                "getvfocodeplug: entering", "getvfocodeplug: adequate buffer space is available",
                "getvfocodeplug: calling sendcmd", "getvfocodeplug: sendcmd returned 0",
                "getvfocodeplug: eating messages to/from other ids",
                "getvfocodeplug: rcvresp returned to 91 from 20 rc 0",
                "getvfocodeplug: found our message; command aa subcommand 80",
                std::string("getvfocodeplug: plugdata 00 01 02 03 04 05 06 07 08 09 0a 0b ") +
                    "0c 0d 0e 0f "}));
}

TEST_F(CodeplugCommands, ReaderWithFifteenBytesOfRoomIsEnospcWithErrnoUntouched) {
  unsigned char plug[16];
  std::memset(plug, 0x5A, sizeof plug);
  errno = EDOM;
  EXPECT_EQ(getvfocodeplug(kRadio, kController, plug, 15), ENOSPC);
  EXPECT_EQ(errno, EDOM);
  EXPECT_EQ(Bytes(plug, plug + 16), Bytes(16, 0x5A));
  EXPECT_EQ(radio_.take(), Bytes{});
}

TEST_F(CodeplugCommands, ReaderWithNullBufferIsEinvalAndSendsNothing) {
  errno = 0;
  EXPECT_EQ(getvfocodeplug(kRadio, kController, nullptr, 16), EINVAL);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(radio_.take(), Bytes{});
}

// ---------------------------------------------------------------------------
// The version text.
// ---------------------------------------------------------------------------

class VersionCommand : public LineTest {
 protected:
  // Runs getversion into a 300-byte patterned buffer with `buflen`.
  Bytes read_version(const std::string &reply, int buflen, int expected = 0) {
    radio_.send(hex(reply_frame(reply)));
    Bytes field(300, 0x5A);
    EXPECT_EQ(getversion(kRadio, kController, field.data(), buflen), expected);
    return field;
  }
  // `head` followed by 0x5A up to 300 bytes.
  static Bytes then_pattern(Bytes head) {
    head.resize(300, 0x5A);
    return head;
  }
};

TEST_F(VersionCommand, ShortTextIsPaddedWithZerosToTheField) {
  EXPECT_EQ(read_version("AA 82 41 42 43", 8), then_pattern(hex("41 42 43 00 00 00 00 00")));
}

TEST_F(VersionCommand, LongTextFillsTheFieldWithoutATerminator) {
  EXPECT_EQ(read_version("AA 82 30 31 32 33 34 35 36 37 38 39", 8),
            then_pattern(hex("30 31 32 33 34 35 36 37")));
}

TEST_F(VersionCommand, TextOfExactlyTheFieldHasNoTerminator) {
  EXPECT_EQ(read_version("AA 82 30 31 32 33", 4), then_pattern(hex("30 31 32 33")));
}

TEST_F(VersionCommand, TextEndsAtItsFirstZeroByte) {
  EXPECT_EQ(read_version("AA 82 41 42 00 43 44", 6), then_pattern(hex("41 42 00 00 00 00")));
}

TEST_F(VersionCommand, EmptyTextGivesAnAllZeroField) {
  EXPECT_EQ(read_version("AA 82", 4), then_pattern(hex("00 00 00 00")));
}

TEST_F(VersionCommand, ZeroLengthFieldIsLeftAlone) {
  EXPECT_EQ(read_version("AA 82 41 42", 0), then_pattern(Bytes{}));
}

TEST_F(VersionCommand, TextEndsWithTheReplyNotWithStaleBytes) {
  // A longer frame between other stations fills the reply buffer first.
  radio_.send(hex("FE FE 33 44 AA 82 58 58 58 58 58 58 FD"));
  EXPECT_EQ(read_version("AA 82 41 42 43", 8), then_pattern(hex("41 42 43 00 00 00 00 00")));
}

TEST_F(VersionCommand, TextIsCutAt253BytesByTheReplyBuffer) {
  std::string reply = "AA 82";
  for (int i = 0; i < 260; i++) reply += " 41";
  Bytes expected(253, 0x41);
  expected.resize(256, 0x00);
  EXPECT_EQ(read_version(reply, 256), then_pattern(expected));
  // The frame's tail stays on the line; the next exchange's hunt eats it.
  radio_.send(hex("FE FE 91 20 FB FD"));
  EXPECT_EQ(storevfotomode(kRadio, kController), 0);
}

TEST_F(VersionCommand, TracesTheTextUpToItsZeroByte) {
  debug = 1;
  radio_.send(hex("FE FE 91 20 AA 82 41 42 00 43 FD"));
  unsigned char field[8] = {};
  const std::string got =
      stderr_of([&] { EXPECT_EQ(getversion(kRadio, kController, field, 8), 0); });
  EXPECT_EQ(own_lines(got).front(), "getversion: entering");
  EXPECT_EQ(own_lines(got).back(), "getversion: data 41 42 ");
}

TEST_F(VersionCommand, NegativeBuflenIsEinvalAndSendsNothing) {
  unsigned char field[8] = {};
  errno = 0;
  EXPECT_EQ(getversion(kRadio, kController, field, -1), EINVAL);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(radio_.take(), Bytes{});
}

TEST_F(VersionCommand, NullBufferIsEinvalAndSendsNothing) {
  errno = 0;
  EXPECT_EQ(getversion(kRadio, kController, nullptr, 8), EINVAL);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(radio_.take(), Bytes{});
}

// ---------------------------------------------------------------------------
// The configuration bytes.
// ---------------------------------------------------------------------------

class ConfigCommands : public LineTest {};

TEST_F(ConfigCommands, ReaderFillsTwoBytes) {
  radio_.send(hex("FE FE 91 20 AA 83 12 FF 0E FD"));
  unsigned char config[3] = {0x5A, 0x5A, 0x5A};
  EXPECT_EQ(getconfig(kRadio, kController, config, 3), 0);
  EXPECT_EQ(Bytes(config, config + 3), hex("12 FE 5A"));
}

TEST_F(ConfigCommands, ReaderTracesItsData) {
  debug = 1;
  radio_.send(hex("FE FE 91 20 AA 83 12 34 FD"));
  unsigned char config[2] = {};
  const std::string got =
      stderr_of([&] { EXPECT_EQ(getconfig(kRadio, kController, config, 2), 0); });
  const std::vector<std::string> own = own_lines(got);
  EXPECT_EQ(own[0], "getconfig: entering");
  EXPECT_EQ(own[1], "getconfig: adequate buffer space is available");
  EXPECT_EQ(own.back(), "getconfig: data 12 34 ");
}

TEST_F(ConfigCommands, ReaderWithOneByteOfRoomIsEnospcWithErrnoSet) {
  unsigned char config[2] = {0x5A, 0x5A};
  errno = 0;
  EXPECT_EQ(getconfig(kRadio, kController, config, 1), ENOSPC);
  EXPECT_EQ(errno, ENOSPC);
  errno = 0;
  EXPECT_EQ(getconfig(kRadio, kController, config, 0), ENOSPC);
  EXPECT_EQ(errno, ENOSPC);
  EXPECT_EQ(Bytes(config, config + 2), hex("5A 5A"));
  EXPECT_EQ(radio_.take(), Bytes{});
}

TEST_F(ConfigCommands, ReaderWithNullBufferIsEinvalAndSendsNothing) {
  errno = 0;
  EXPECT_EQ(getconfig(kRadio, kController, nullptr, 2), EINVAL);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(radio_.take(), Bytes{});
}

TEST_F(ConfigCommands, WriterSendsBothBytesUnchangedAndEscaped) {
  debug = 1;
  radio_.send(hex("FE FE 91 20 FB FD"));
  const std::string got =
      stderr_of([] { EXPECT_EQ(setconfig(kRadio, kController, 0xFD, 0x07), 0); });
  EXPECT_EQ(own_lines(got).front(), "setconfig: config data0 fd data1 07");
  EXPECT_EQ(radio_.take(), hex("FE FE 20 91 AA 04 FF 0D 07 FD"));
}

// ---------------------------------------------------------------------------
// The transmit offset and the VCO split pair: 32-bit little-endian values.
// ---------------------------------------------------------------------------

class OffsetAndSplitCommands : public LineTest {
 protected:
  template <typename Call>
  Bytes wire_of(Call call) {
    radio_.send(hex("FE FE 91 20 FB FD"));
    EXPECT_EQ(call(), 0);
    return radio_.take();
  }
  long read_offset(const std::string &reply) {
    radio_.send(hex(reply));
    long offset = 7;
    EXPECT_EQ(gettxoffset(kRadio, kController, &offset), 0);
    return offset;
  }
};

TEST_F(OffsetAndSplitCommands, SettxoffsetSendsTwosComplementEscaped) {
  EXPECT_EQ(wire_of([] { return settxoffset(kRadio, kController, -1); }),
            hex("FE FE 20 91 AA 06 FF 0F FF 0F FF 0F FF 0F FD"));
  EXPECT_EQ(wire_of([] { return settxoffset(kRadio, kController, -2); }),
            hex("FE FE 20 91 AA 06 FF 0E FF 0F FF 0F FF 0F FD"));
  EXPECT_EQ(wire_of([] { return settxoffset(kRadio, kController, 256); }),
            hex("FE FE 20 91 AA 06 00 01 00 00 FD"));
}

TEST_F(OffsetAndSplitCommands, SettxoffsetSendsTheLow32Bits) {
  debug = 1;
  radio_.send(hex("FE FE 91 20 FB FD"));
  const std::string got =
      stderr_of([] { EXPECT_EQ(settxoffset(kRadio, kController, 0x123456789L), 0); });
  EXPECT_EQ(own_lines(got).front(), "settxoffset: offset 591751049");
  EXPECT_EQ(radio_.take(), hex("FE FE 20 91 AA 06 89 67 45 23 FD"));
}

TEST_F(OffsetAndSplitCommands, SettxoffsetTracesANegativeOffset) {
  debug = 1;
  radio_.send(hex("FE FE 91 20 FB FD"));
  const std::string got = stderr_of([] { EXPECT_EQ(settxoffset(kRadio, kController, -600), 0); });
  EXPECT_EQ(own_lines(got).front(), "settxoffset: offset -600");
}

TEST_F(OffsetAndSplitCommands, GettxoffsetDecodesLittleEndianSigned) {
  EXPECT_EQ(read_offset("FE FE 91 20 AA 85 00 01 00 00 FD"), 256);
  EXPECT_EQ(read_offset("FE FE 91 20 AA 85 FF 0F FF 0F FF 0F FF 0F FD"), -1);
  EXPECT_EQ(read_offset("FE FE 91 20 AA 85 A8 FF 0D FF 0F FF 0F FD"), -600);
  EXPECT_EQ(read_offset("FE FE 91 20 AA 85 FF 0F FF 0F FF 0F 7F FD"), 2147483647L);
  EXPECT_EQ(read_offset("FE FE 91 20 AA 85 00 00 00 80 FD"), -2147483647L - 1);
}

TEST_F(OffsetAndSplitCommands, GettxoffsetTracesItsData) {
  debug = 1;
  radio_.send(hex("FE FE 91 20 AA 85 00 01 00 00 FD"));
  long offset = 0;
  const std::string got =
      stderr_of([&] { EXPECT_EQ(gettxoffset(kRadio, kController, &offset), 0); });
  EXPECT_EQ(own_lines(got).front(), "gettxoffset: entering");
  EXPECT_EQ(own_lines(got).back(), "gettxoffset: data 00 01 00 00 ");
}

TEST_F(OffsetAndSplitCommands, GettxoffsetWithNullIsEinvalAndSendsNothing) {
  errno = 0;
  EXPECT_EQ(gettxoffset(kRadio, kController, nullptr), EINVAL);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(radio_.take(), Bytes{});
}

TEST_F(OffsetAndSplitCommands, SetvcosplitSendsRxThenTx) {
  EXPECT_EQ(wire_of([] { return setvcosplit(kRadio, kController, 1, 2); }),
            hex("FE FE 20 91 AA 08 02 00 00 00 01 00 00 00 FD"));
  EXPECT_EQ(wire_of([] { return setvcosplit(kRadio, kController, -2, 0x7FFFFFFF); }),
            hex("FE FE 20 91 AA 08 FF 0F FF 0F FF 0F 7F "
                "FF 0E FF 0F FF 0F FF 0F FD"));
}

TEST_F(OffsetAndSplitCommands, SetvcosplitTracesTxFirst) {
  debug = 1;
  radio_.send(hex("FE FE 91 20 FB FD"));
  const std::string got = stderr_of([] { EXPECT_EQ(setvcosplit(kRadio, kController, 1, -2), 0); });
  EXPECT_EQ(own_lines(got).front(), "setvcosplit: txsplit 1 rxsplit -2");
}

TEST_F(OffsetAndSplitCommands, GetvcosplitfreqReadsRxThenTx) {
  radio_.send(hex("FE FE 91 20 AA 87 02 00 00 00 01 00 00 00 FD"));
  long tx = 0;
  long rx = 0;
  EXPECT_EQ(getvcosplitfreq(kRadio, kController, &tx, &rx), 0);
  EXPECT_EQ(tx, 1);
  EXPECT_EQ(rx, 2);
}

TEST_F(OffsetAndSplitCommands, GetvcosplitfreqDecodesNegativeAndLargeValues) {
  radio_.send(
      hex("FE FE 91 20 AA 87 FF 0E FF 0F FF 0F FF 0F "
          "00 CA 9A 3B FD"));
  long tx = 0;
  long rx = 0;
  EXPECT_EQ(getvcosplitfreq(kRadio, kController, &tx, &rx), 0);
  EXPECT_EQ(rx, -2);
  EXPECT_EQ(tx, 1000000000L);
}

TEST_F(OffsetAndSplitCommands, GetvcosplitfreqTracesUnderGetvcosplit) {
  debug = 1;
  radio_.send(hex("FE FE 91 20 AA 87 02 00 00 00 01 00 00 00 FD"));
  long tx = 0;
  long rx = 0;
  const std::string got =
      stderr_of([&] { EXPECT_EQ(getvcosplitfreq(kRadio, kController, &tx, &rx), 0); });
  EXPECT_EQ(own_lines(got),
            (std::vector<std::string>{"getvcosplit: entering", "getvcosplit: calling sendcmd",
                                      "getvcosplit: sendcmd returned 0",
                                      "getvcosplit: eating messages to/from other ids",
                                      "getvcosplit: rcvresp returned to 91 from 20 rc 0",
                                      "getvcosplit: found our message; command aa subcommand 87",
                                      "getvcosplit: data 02 00 00 00 01 00 00 00 "}));
}

TEST_F(OffsetAndSplitCommands, GetvcosplitfreqWithANullIsEinvalAndSendsNothing) {
  long split = 7;
  errno = 0;
  EXPECT_EQ(getvcosplitfreq(kRadio, kController, nullptr, &split), EINVAL);
  EXPECT_EQ(errno, EINVAL);
  errno = 0;
  EXPECT_EQ(getvcosplitfreq(kRadio, kController, &split, nullptr), EINVAL);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(split, 7);
  EXPECT_EQ(radio_.take(), Bytes{});
}

}  // namespace
