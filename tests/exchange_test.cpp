// SPDX-License-Identifier: MIT
// The command exchange: the reply wait loop, both reply forms, broadcasts,
// line failures passed up unchanged, and the trace of one whole exchange.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "pty_radio.h"
#include "radioline.h"

namespace {

constexpr int kRadio = 0x20;
constexpr int kController = 0x91;

// The lines of `text` that begin with "<prefix>: ".
std::vector<std::string> lines_of(const std::string &text, const std::string &prefix) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(prefix + ": ", 0) == 0) lines.push_back(line);
  }
  return lines;
}

// Reads the next frame straight off the line, to see what an exchange left.
struct Frame {
  int rc = -1;
  int to = -1;
  int from = -1;
  Bytes body;
};
Frame next_frame() {
  Frame frame;
  unsigned char body[64] = {};
  int len = 0;
  frame.rc = rcvresp(&frame.to, &frame.from, body, sizeof body, &len);
  if (frame.rc == 0) frame.body.assign(body, body + len);
  return frame;
}

using ExchangeTest = LineTest;

TEST_F(ExchangeTest, SkipsTheEchoOfItsRequestAndTakesTheReply) {
  radio_.send(hex("FE FE 20 91 08 01 FD  FE FE 91 20 FB FD"));
  EXPECT_EQ(setmode(kRadio, kController, 1), 0);
  EXPECT_EQ(radio_.take(), hex("FE FE 20 91 08 01 FD"));
}

TEST_F(ExchangeTest, RefusalGivesEinvalWithErrnoSet) {
  radio_.send(hex("FE FE 91 20 FA FD"));
  errno = 0;
  EXPECT_EQ(setmode(kRadio, kController, 1), EINVAL);
  EXPECT_EQ(errno, EINVAL);
}

TEST_F(ExchangeTest, AnyStatusButFbIsARefusal) {
  radio_.send(hex("FE FE 91 20 00 FD"));
  EXPECT_EQ(storevfotomode(kRadio, kController), EINVAL);
}

TEST_F(ExchangeTest, FrameFromTheRadioToAThirdStationEndsTheWaitAndIsJudged) {
  radio_.send(hex("FE FE 33 20 FA FD  FE FE 91 20 FB FD"));
  errno = 0;
  EXPECT_EQ(setmode(kRadio, kController, 1), EINVAL);
  EXPECT_EQ(errno, EINVAL);
  // The frame meant for us is still on the line: the wait had ended.
  const Frame left = next_frame();
  EXPECT_EQ(left.rc, 0);
  EXPECT_EQ(left.to, kController);
  EXPECT_EQ(left.body, hex("FB"));
}

TEST_F(ExchangeTest, FrameToTheControllerFromAnotherStationEndsTheWait) {
  radio_.send(hex("FE FE 91 44 FB FD"));
  EXPECT_EQ(setmode(kRadio, kController, 1), 0);
}

TEST_F(ExchangeTest, SkipsFramesBetweenOtherStations) {
  radio_.send(hex("FE FE 33 44 FA FD  FE FE 44 33 FA FD  FE FE 91 20 FB FD"));
  EXPECT_EQ(setmode(kRadio, kController, 1), 0);
}

TEST_F(ExchangeTest, SkipsStrayBytesBetweenFrames) {
  radio_.send(hex("00 13 FD FE FE 20 91 08 01 FD 77 FE FE 91 20 FB FD"));
  EXPECT_EQ(setmode(kRadio, kController, 1), 0);
}

TEST_F(ExchangeTest, TimesOutAfterFiveSecondsWhenOnlyOtherStationsTalk) {
  radio_.send(hex("FE FE 33 44 FB FD"));
  const auto start = std::chrono::steady_clock::now();
  errno = 0;
  EXPECT_EQ(setmode(kRadio, kController, 1), ETIMEDOUT);
  EXPECT_EQ(errno, ETIMEDOUT);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
}

TEST_F(ExchangeTest, OverlongFrameTailIsDiscardedByTheNextExchange) {
  // setmode stores two reply bytes: FB 11; "22 33 FD" stays on the line.
  radio_.send(hex("FE FE 91 20 FB 11 22 33 FD"));
  EXPECT_EQ(setmode(kRadio, kController, 1), 0);
  radio_.send(hex("FE FE 91 20 FA FD"));
  EXPECT_EQ(setmode(kRadio, kController, 2), EINVAL);
  radio_.send(hex("FE FE 91 20 FB FD"));
  EXPECT_EQ(storevfotomode(kRadio, kController), 0);
}

TEST_F(ExchangeTest, OverlongDataReplyIsCutToTheCommandsBufsize) {
  radio_.send(hex("FE FE 91 20 AA 83 01 02 03 04 FD  FE FE 91 20 FB FD"));
  unsigned char config[3] = {0xEE, 0xEE, 0xEE};
  EXPECT_EQ(getconfig(kRadio, kController, config, 3), 0);
  EXPECT_EQ(Bytes(config, config + 3), hex("01 02 EE"));
  EXPECT_EQ(setconfig(kRadio, kController, 1, 2), 0);
}

TEST_F(ExchangeTest, EmptyStatusReplyIsEinvalNotSuccess) {
  radio_.send(hex("FE FE 91 20 FD"));
  errno = 0;
  EXPECT_EQ(storevfotomode(kRadio, kController), EINVAL);
  EXPECT_EQ(errno, EINVAL);
}

TEST_F(ExchangeTest, EmptyStatusReplyAfterASkippedFrameIsStillEinval) {
  // The skipped frame leaves FB in the reply buffer; the empty reply must
  // not be judged on that stale byte.
  radio_.send(hex("FE FE 33 44 FB FD  FE FE 91 20 FD"));
  EXPECT_EQ(storevfotomode(kRadio, kController), EINVAL);
}

TEST_F(ExchangeTest, DataReplyShorterThanItsHeaderIsEinval) {
  long offset = 7;
  radio_.send(hex("FE FE 91 20 AA FD"));
  errno = 0;
  EXPECT_EQ(gettxoffset(kRadio, kController, &offset), EINVAL);
  EXPECT_EQ(errno, EINVAL);
  radio_.send(hex("FE FE 91 20 FD"));
  EXPECT_EQ(gettxoffset(kRadio, kController, &offset), EINVAL);
  EXPECT_EQ(offset, 7);
}

TEST_F(ExchangeTest, OneByteDataReplyAfterASkippedFrameIsStillEinval) {
  // The skipped frame leaves AA 82 in the reply buffer; the reply's one
  // byte must not be judged together with that stale second byte.
  radio_.send(hex("FE FE 33 44 AA 82 41 FD  FE FE 91 20 AA FD"));
  unsigned char text[4] = {0x5A, 0x5A, 0x5A, 0x5A};
  errno = 0;
  EXPECT_EQ(getversion(kRadio, kController, text, 4), EINVAL);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(Bytes(text, text + 4), hex("5A 5A 5A 5A"));
}

TEST_F(ExchangeTest, DataReplyOfAnotherSubcommandIsEinval) {
  unsigned char plug[16] = {};
  radio_.send(
      hex("FE FE 91 20 AA 81 00 01 02 03 04 05 06 07 08 09 0A 0B 0C "
          "0D 0E 0F FD"));
  errno = 0;
  EXPECT_EQ(getvfocodeplug(kRadio, kController, plug, 16), EINVAL);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(Bytes(plug, plug + 16), Bytes(16, 0));
}

TEST_F(ExchangeTest, DataReplyOfAnotherCommandIsEinval) {
  long offset = 7;
  radio_.send(hex("FE FE 91 20 AB 85 00 01 00 00 FD"));
  errno = 0;
  EXPECT_EQ(gettxoffset(kRadio, kController, &offset), EINVAL);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(offset, 7);
}

TEST_F(ExchangeTest, StatusReplyToADataRequestIsEinval) {
  long offset = 7;
  radio_.send(hex("FE FE 91 20 FB FD"));
  EXPECT_EQ(gettxoffset(kRadio, kController, &offset), EINVAL);
  EXPECT_EQ(offset, 7);
}

TEST_F(ExchangeTest, BroadcastToRadioZeroSendsAndReturnsWithoutReading) {
  radio_.send(hex("FE FE 91 20 FA FD"));
  EXPECT_EQ(setmode(0, kController, 1), 0);
  EXPECT_EQ(radio_.take(), hex("FE FE 00 91 08 01 FD"));
  const Frame left = next_frame();
  EXPECT_EQ(left.rc, 0);
  EXPECT_EQ(left.body, hex("FA"));
}

TEST_F(ExchangeTest, BroadcastFromControllerZeroSendsAndReturnsWithoutReading) {
  radio_.send(hex("FE FE 00 20 FA FD"));
  EXPECT_EQ(storevfotomode(kRadio, 0), 0);
  EXPECT_EQ(radio_.take(), hex("FE FE 20 00 09 FD"));
  const Frame left = next_frame();
  EXPECT_EQ(left.rc, 0);
  EXPECT_EQ(left.body, hex("FA"));
}

TEST_F(ExchangeTest, BroadcastReaderReturnsEinvalAndLeavesStorageAlone) {
  radio_.send(hex("FE FE 91 20 AA 85 00 01 00 00 FD"));
  long offset = 7;
  errno = 0;
  EXPECT_EQ(gettxoffset(0, kController, &offset), EINVAL);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(offset, 7);
  EXPECT_EQ(radio_.take(), hex("FE FE 00 91 AA 05 FD"));
  EXPECT_EQ(next_frame().body, hex("AA 85 00 01 00 00"));
}

TEST_F(ExchangeTest, BroadcastTracesNoReplyLines) {
  debug = 1;
  const std::string got = stderr_of([] { EXPECT_EQ(storevfotomode(0, kController), 0); });
  EXPECT_EQ(lines_of(got, "storevfotomode"),
            (std::vector<std::string>{"storevfotomode: entering", "storevfotomode: calling sendcmd",
                                      "storevfotomode: sendcmd returned 0"}));
  EXPECT_EQ(lines_of(got, "rcvresp"), std::vector<std::string>{});
}

TEST_F(ExchangeTest, AddressAbove252SendsNothing) {
  errno = 0;
  EXPECT_EQ(setmode(253, kController, 1), EINVAL);
  EXPECT_EQ(errno, EINVAL);
  errno = 0;
  EXPECT_EQ(setmode(kRadio, 253, 1), EINVAL);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(radio_.take(), Bytes{});
}

TEST_F(ExchangeTest, Address252IsAccepted) {
  radio_.send(hex("FE FE FC 20 FB FD"));
  EXPECT_EQ(storevfotomode(kRadio, 0xFC), 0);
  EXPECT_EQ(radio_.take(), hex("FE FE 20 FC 09 FD"));
}

TEST_F(ExchangeTest, NoOpenDeviceGivesEbadf) {
  serclose();
  errno = 0;
  EXPECT_EQ(storevfotomode(kRadio, kController), EBADF);
  EXPECT_EQ(errno, EBADF);
}

TEST_F(ExchangeTest, HungUpLineGivesTheSystemsErrno) {
  radio_.hang_up();
  EXPECT_EQ(storevfotomode(kRadio, kController), EIO);
  EXPECT_EQ(errno, EIO);
}

TEST_F(ExchangeTest, EndOfFileWhileWaitingGivesEpipe) {
  // A socket in place of the terminal: the request goes out, then the
  // other side shuts its sending half and the reply read meets end of file.
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  ASSERT_EQ(dup2(pair[0], serfh), serfh);
  close(pair[0]);
  ASSERT_EQ(shutdown(pair[1], SHUT_WR), 0);
  errno = 0;
  EXPECT_EQ(storevfotomode(kRadio, kController), EPIPE);
  EXPECT_EQ(errno, EPIPE);
  unsigned char sent[16] = {};
  EXPECT_EQ(read(pair[1], sent, sizeof sent), 6);
  EXPECT_EQ(Bytes(sent, sent + 6), hex("FE FE 20 91 09 FD"));
  close(pair[1]);
}

TEST_F(ExchangeTest, BrokenFrameStartGivesEinvalWithErrnoUntouched) {
  radio_.send(hex("FE 00 FD"));
  errno = EDOM;
  EXPECT_EQ(storevfotomode(kRadio, kController), EINVAL);
  EXPECT_EQ(errno, EDOM);
}

TEST_F(ExchangeTest, BrokenFrameStartLeavesErrnoUntouchedWhileTracing) {
  debug = 1;
  radio_.send(hex("FE 00 FD"));
  errno = EDOM;
  const std::string got = stderr_of([] { EXPECT_EQ(storevfotomode(kRadio, kController), EINVAL); });
  EXPECT_EQ(errno, EDOM);
  EXPECT_EQ(lines_of(got, "storevfotomode"),
            (std::vector<std::string>{"storevfotomode: entering", "storevfotomode: calling sendcmd",
                                      "storevfotomode: sendcmd returned 0",
                                      "storevfotomode: eating messages to/from other ids",
                                      "storevfotomode: rcvresp returned to 00 from 00 rc 22",
                                      "storevfotomode: Invalid argument"}));
}

TEST_F(ExchangeTest, FailedSendTracesThePerrorLine) {
  debug = 1;
  const std::string got = stderr_of([] { EXPECT_EQ(storevfotomode(253, kController), EINVAL); });
  EXPECT_EQ(got,
            "storevfotomode: entering\n"
            "storevfotomode: calling sendcmd\n"
            "sendcmd: to fd from 91\n"
            "storevfotomode: sendcmd returned 22\n"
            "storevfotomode: Invalid argument\n");
}

TEST_F(ExchangeTest, IsSilentWithoutDebug) {
  radio_.send(hex("FE FE 20 91 08 01 FD  FE FE 91 20 FB FD"));
  const std::string got = stderr_of([] { EXPECT_EQ(setmode(kRadio, kController, 1), 0); });
  EXPECT_EQ(got, "");
}

// The four lines of one raw byte read.
std::string raw_in() {
  return "rawcharin: calling select\n"
         "rawcharin: select returned 1\n"
         "rawcharin: reading a character\n"
         "rawcharin: read returned 1\n";
}

// The lines of one raw byte write.
std::string raw_out(const std::string &byte) {
  return "rawcharout: writing " + byte +
         "\n"
         "rawcharout: write returned 1\n";
}

// The lines of one body byte sent by sendcmd.
std::string body_out(int n, const std::string &byte) {
  return "sendcmd: sending cmd byte " + std::to_string(n) + ": " + byte +
         "\n"
         "charout: not escaping; rawcharout(" +
         byte + ")\n" + raw_out(byte) +
         "charout: rawcharout returned 0\n"
         "sendcmd: charout returned 0\n";
}

// The lines of one body byte received by rcvresp.
std::string body_in(const std::string &byte) {
  return "rcvresp: reading character\n"
         "charin: calling rawcharin\n" +
         raw_in() + "charin: rawcharin returned 0, c=" + byte +
         "\n"
         "rcvresp: charin returned 0; c=" +
         byte + "\n";
}

// The lines of one hunted byte.
std::string eaten(const std::string &byte) {
  return "rcvresp: eating non-header characters\n" + raw_in() +
         "rcvresp: rawcharin returned 0, eaten char " + byte + "\n";
}

TEST_F(ExchangeTest, TracesOneWholeExchangeLineByLine) {
  debug = 1;
  radio_.send(hex("FE FE 20 91 08 01 FD  FE FE 91 20 FB FD"));
  std::string got = stderr_of([] { EXPECT_EQ(setmode(kRadio, kController, 1), 0); });
  got = std::regex_replace(got, std::regex("0x[0-9a-f]+|\\(nil\\)"), "PTR");

  const std::string expected =
      "setmode: selecting mode 1\n"
      "tobcd: o PTR\n"
      "tobcd: value 1\n"
      "tobcd: rem 1\n"
      "tobcd: after oddeven shift oddeven 1 rem 01\n"
      "tobcd: after mask rem 01\n"
      "tobcd: after insert o PTR *o 01\n"
      "tobcd: after div10 value 0\n"
      "setmode: bcd 08 01 \n"
      "setmode: calling sendcmd\n"
      "sendcmd: to 20 from 91\n"
      "sendcmd: sending header\n" +
      raw_out("fe") + raw_out("fe") + raw_out("20") + raw_out("91") +
      "sendcmd: done sending header\n" + body_out(1, "08") + body_out(2, "01") +
      "sendcmd: sending trailer\n" + raw_out("fd") +
      "sendcmd: done sending trailer\n"
      "setmode: sendcmd returned 0\n"
      // The echo: bufsize 2 is full after 08 01, so its FD stays unread.
      "setmode: eating messages to/from other ids\n" +
      eaten("fe") + "rcvresp: found beginning of header\n" + raw_in() + raw_in() + raw_in() +
      "rcvresp: found full header, to=20 from=91\n"
      "rcvresp: reading packet\n" +
      body_in("08") + body_in("01") +
      "rcvresp: exited packet read loop; len=2\n"
      "setmode: rcvresp returned to 20 from 91 rc 0\n"
      // The reply: the hunt eats the echo's FD first.
      "setmode: eating messages to/from other ids\n" +
      eaten("fd") + eaten("fe") + "rcvresp: found beginning of header\n" + raw_in() + raw_in() +
      raw_in() +
      "rcvresp: found full header, to=91 from=20\n"
      "rcvresp: reading packet\n" +
      body_in("fb") + body_in("fd") +
      "rcvresp: end of packet found\n"
      "rcvresp: exited packet read loop; len=1\n"
      "setmode: rcvresp returned to 91 from 20 rc 0\n"
      "setmode: found our message; status fb\n";
  EXPECT_EQ(got, expected);
}

}  // namespace
