// SPDX-License-Identifier: MIT
// The command exchange: which frame is the reply, late, stale and short replies, failures, trace.
#include <poll.h>

#include <cerrno>
#include <regex>

#include "kit.h"

namespace {

using Exchange = LineTest;

// Each line carries a frame that is not the reply, holding an acceptance,
// then the radio's refusal to the controller.
TEST_F(Exchange, OnlyAFrameFromTheRadioToTheControllerIsTheReply) {
  for (const char *other : {"FE FE 20 91 08 01 FD",  // the echo of the request
                            "FE FE 33 44 FB FD",     // between two other stations
                            "FE FE E0 20 FB FD",     // from the radio to another controller
                            "FE FE 91 44 FB FD"}) {  // from another station to the controller
    SCOPED_TRACE(other);
    radio_.send(hex(std::string(other) + " FE FE 91 20 FA FD"));
    EXPECT_EQ(setmode(kRadio, kController, 1), EINVAL);
  }
}

// The radio answers the first request only after the time-out; that late
// acceptance waits on the line when the second request, which it refuses,
// goes out.
TEST_F(Exchange, WaitsOutTheTimeoutThenDiscardsTheLateReplyBeforeTheNextRequest) {
  const auto start = std::chrono::steady_clock::now();
  {
    RadioAnswer late(radio_, request("05 00 00 00 46 01"), reply("FB"),
                     std::chrono::milliseconds(5500));
    errno = 0;
    EXPECT_EQ(setvfofreq(kRadio, kController, 146000000), ETIMEDOUT);
    EXPECT_EQ(errno, ETIMEDOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4990));
  }
  pollfd waiting{serfh, POLLIN, 0};
  ASSERT_EQ(poll(&waiting, 1, 5000), 1) << "the late reply did not arrive";
  RadioAnswer refusal(radio_, request("08 01"), reply("FA"));
  EXPECT_EQ(setmode(kRadio, kController, 1), EINVAL);
}

// A frame between other stations first leaves a whole reply in the buffer.
TEST_F(Exchange, EmptyStatusOrOneByteDataReplyIsEinvalThoughASkippedFrameFilledTheBuffer) {
  radio_.send(hex("FE FE 33 44 FB FD  FE FE 91 20 FD"));
  EXPECT_EQ(storevfotomode(kRadio, kController), EINVAL);
  radio_.send(hex("FE FE 33 44 AA 82 41 FD  FE FE 91 20 AA FD"));
  unsigned char text[4];
  EXPECT_EQ(getversion(kRadio, kController, text, 4), EINVAL);
}

// The frame after the broken start is the rest of that reply, not the next one's.
TEST_F(Exchange, BrokenFrameStartLeavesErrnoUntouchedAndItsReplyIsDiscarded) {
  radio_.send(hex("FE 00 FE FE 91 20 FB FD"));
  debug = 1;
  errno = EDOM;
  const std::string got = stderrOf([] { EXPECT_EQ(storevfotomode(kRadio, kController), EINVAL); });
  EXPECT_EQ(errno, EDOM);
  EXPECT_NE(got.find("\nstorevfotomode: Invalid argument\n"), std::string::npos);
  debug = 0;
  radio_.take();
  RadioAnswer refusal(radio_, request("09"), reply("FA"));
  EXPECT_EQ(storevfotomode(kRadio, kController), EINVAL);
}

// The broken start makes the exchange fail after setmode dumped its body:
// every kind of trace line the library has. Then the line is closed.
TEST_F(Exchange, WritesNothingWithDebugOffAndPassesASendFailureUpUnchanged) {
  radio_.send(hex("FE 00"));
  EXPECT_EQ(stderrOf([] { EXPECT_EQ(setmode(kRadio, kController, 12), EINVAL); }), "");
  serclose();
  errno = 0;
  EXPECT_EQ(storevfotomode(kRadio, kController), EBADF);
  EXPECT_EQ(errno, EBADF);
}

std::string x2(unsigned c) {
  return {"0123456789abcdef"[c >> 4 & 15], "0123456789abcdef"[c & 15]};
}
// The trace lines of one successful rawcharout(c) and rawcharin().
std::string rawOut(unsigned char c) {
  return "rawcharout: writing " + x2(c) + "\nrawcharout: write returned 1\n";
}
const std::string kRawIn =
    "rawcharin: calling select\nrawcharin: select returned 1\n"
    "rawcharin: reading a character\nrawcharin: read returned 1\n";
// One body byte sent by sendcmd as its n-th.
std::string bodyOut(int n, unsigned char c) {
  return "sendcmd: sending cmd byte " + std::to_string(n) + ": " + x2(c) +
         "\ncharout: not escaping; rawcharout(" + x2(c) + ")\n" + rawOut(c) +
         "charout: rawcharout returned 0\nsendcmd: charout returned 0\n";
}
// One body byte received by rcvresp.
std::string bodyIn(unsigned char c) {
  return "rcvresp: reading character\ncharin: calling rawcharin\n" + kRawIn +
         "charin: rawcharin returned 0, c=" + x2(c) + "\nrcvresp: charin returned 0; c=" + x2(c) +
         "\n";
}
// One byte eaten by the hunt for a frame start.
std::string eaten(unsigned char c) {
  return "rcvresp: eating non-header characters\n" + kRawIn +
         "rcvresp: rawcharin returned 0, eaten char " + x2(c) + "\n";
}
// The second start byte and both addresses of a received frame.
std::string headerIn(int to, int from) {
  return "rcvresp: found beginning of header\n" + kRawIn + kRawIn + kRawIn +
         "rcvresp: found full header, to=" + x2(to) + " from=" + x2(from) +
         "\nrcvresp: reading packet\n";
}

// setmode(12) fills its one BCD byte exactly, so tobcd writes every kind of line it has.
TEST_F(Exchange, TracesOneWholeExchangeLineByLine) {
  radio_.send(reply("FB"));
  debug = 1;
  std::string got = stderrOf([] { EXPECT_EQ(setmode(kRadio, kController, 12), 0); });
  got = std::regex_replace(got, std::regex("0x[0-9a-f]+|\\(nil\\)"), "PTR");
  EXPECT_EQ(got,
            "setmode: selecting mode 12\ntobcd: o PTR\ntobcd: value 12\ntobcd: rem 2\n"
            "tobcd: after oddeven shift oddeven 1 rem 02\ntobcd: after mask rem 02\n"
            "tobcd: after insert o PTR *o 02\ntobcd: after div10 value 1\n"
            "tobcd: value 1\ntobcd: rem 1\n"
            "tobcd: after oddeven shift oddeven 0 rem 10\ntobcd: after mask rem 10\n"
            "tobcd: after insert o PTR *o 12\ntobcd: after recycling oddeven o PTR\n"
            "tobcd: no more room in outbuf\n"
            "setmode: bcd 08 12 \nsetmode: calling sendcmd\n"
            "sendcmd: to 20 from 91\nsendcmd: sending header\n" +
                rawOut(0xFE) + rawOut(0xFE) + rawOut(0x20) + rawOut(0x91) +
                "sendcmd: done sending header\n" + bodyOut(1, 0x08) + bodyOut(2, 0x12) +
                "sendcmd: sending trailer\n" + rawOut(0xFD) +
                "sendcmd: done sending trailer\nsetmode: sendcmd returned 0\n"
                "setmode: eating messages to/from other ids\n" +
                eaten(0xFE) + headerIn(0x91, 0x20) + bodyIn(0xFB) + bodyIn(0xFD) +
                "rcvresp: end of packet found\nrcvresp: exited packet read loop; len=1\n"
                "setmode: rcvresp returned to 91 from 20 rc 0\n"
                "setmode: found our message; status fb\n");
}

}  // namespace
