// SPDX-License-Identifier: MIT
// The command exchange: which frame is the reply, late, stale and short replies, failures, trace.
#include <cerrno>
#include <csignal>
#include <regex>

#include "kit.h"
#include "sim_options.h"

namespace {

using Exchange = LineTest;

// Each line carries a frame that is not the reply, holding an acceptance,
// then the radio's refusal to the controller, or its empty status: a frame
// between other stations first leaves a whole reply in the buffer. (Each
// failure leaves the next command to clear the line: the line is opened
// again before bytes are queued for it.) The rest of the reply after a
// broken start, coming 150 ms late, is discarded while the next command
// waits for ten quiet characters at 300 baud (333 ms), not taken for its
// reply, which the radio sends 300 ms after the request. The exchange
// fails after setmode dumped its body (every kind of trace line the
// library has) and writes nothing with tracing off.
TEST_F(Exchange, OnlyAFrameFromTheRadioToTheControllerIsTheReplyAndABrokenOneIsDiscardedSilently) {
  for (const char *wire : {"FE FE 20 91 08 01 FD  FE FE 91 20 FA FD",  // the echo of the request
                           "FE FE E0 20 FB FD  FE FE 91 20 FA FD",     // to another controller
                           "FE FE 91 44 FB FD  FE FE 91 20 FA FD",     // from another station
                           "FE FE 33 44 FB FD  FE FE 91 20 FD"}) {
    ASSERT_EQ(reopen(), 0);
    radio_.send(hex(wire));
    EXPECT_EQ(setmode(kRadio, kController, 1), EINVAL) << wire;
  }
  ASSERT_EQ(reopen(), 0);
  radio_.send(hex("FE FE 33 44 AA 82 41 FD  FE FE 91 20 AA FD"));  // one byte of data
  unsigned char text[4];
  EXPECT_EQ(getversion(kRadio, kController, text, 4), EINVAL);
  ASSERT_EQ(reopen(300), 0);
  radio_.send(hex("FE 00"));
  errno = EDOM;
  EXPECT_EQ(stderrOf([] { EXPECT_EQ(setmode(kRadio, kController, 12), EINVAL); }), "");
  EXPECT_EQ(errno, EDOM);
  radio_.take();
  RadioAnswer rest(radio_, {}, hex("FE FE 91 20 FB FD"), std::chrono::milliseconds(150));
  RadioAnswer refusal(radio_, request("09"), reply("FA"), std::chrono::milliseconds(300));
  EXPECT_EQ(storevfotomode(kRadio, kController), EINVAL);
  serclose();  // a failed send is passed up unchanged
  errno = 0;
  EXPECT_EQ(storevfotomode(kRadio, kController), EBADF);
  EXPECT_EQ(errno, EBADF);
}

// What a stopped radio does to the line: radiosim, stopped until the
// offset read times out (which is traced), resumes 300 ms after the version
// read went out and answers both, each 20 ms after its request. The stale
// offset is no version; the version answer, still on its way when the read
// gives up on it, is discarded before the next request, which gets its own.
TEST(LateAnswer, WaitsOutTheTimeoutThenTheLineHealsWithinTwoCommands) {
  SimProcess sim({radiosim::kOptDelayMs, "20"});
  ASSERT_EQ(seropen(std::string(sim.slavePath()).data(), 19200), 0) << sim.errors();
  ASSERT_TRUE(sim.signal(SIGSTOP));
  long offset = 0;
  debug = 1;
  const std::string trace = stderrOf([&] {
    errno = 0;
    EXPECT_EQ(gettxoffset(kRadio, kController, &offset), ETIMEDOUT);
    EXPECT_EQ(errno, ETIMEDOUT);
  });
  debug = 0;
  EXPECT_NE(trace.find("\ngettxoffset: Connection timed out\n"), std::string::npos) << trace;
  std::thread resume([&sim] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(sim.signal(SIGCONT));
  });
  unsigned char text[16];
  EXPECT_EQ(getversion(kRadio, kController, text, sizeof text), EINVAL);
  resume.join();
  EXPECT_EQ(settxoffset(kRadio, kController, -700000), 0);
  EXPECT_EQ(gettxoffset(kRadio, kController, &offset), 0);
  EXPECT_EQ(offset, -700000);
  serclose();
}

// The trace lines of one successful rawcharout(c) and rawcharin().
std::string rawOut(const std::string &c) {
  return "rawcharout: writing " + c + "\nrawcharout: write returned 1\n";
}
const std::string kRawIn =
    "rawcharin: calling select\nrawcharin: select returned 1\n"
    "rawcharin: reading a character\nrawcharin: read returned 1\n";
// One body byte sent by sendcmd as its n-th.
std::string bodyOut(int n, const std::string &c) {
  return "sendcmd: sending cmd byte " + std::to_string(n) + ": " + c +
         "\ncharout: not escaping; rawcharout(" + c + ")\n" + rawOut(c) +
         "charout: rawcharout returned 0\nsendcmd: charout returned 0\n";
}
// One body byte received by rcvresp.
std::string bodyIn(const std::string &c) {
  return "rcvresp: reading character\ncharin: calling rawcharin\n" + kRawIn +
         "charin: rawcharin returned 0, c=" + c + "\nrcvresp: charin returned 0; c=" + c + "\n";
}

// setmode(12) fills its one BCD byte exactly, so tobcd writes every kind of line it has.
TEST_F(Exchange, TracesOneWholeExchangeLineByLine) {
  radio_.send(reply("FB"));
  debug = 1;
  const std::string got = stderrOf([] { EXPECT_EQ(setmode(kRadio, kController, 12), 0); });
  EXPECT_EQ(
      std::regex_replace(got, std::regex("0x[0-9a-f]+|\\(nil\\)"), "PTR"),
      "setmode: selecting mode 12\ntobcd: o PTR\ntobcd: value 12\ntobcd: rem 2\n"
      "tobcd: after oddeven shift oddeven 1 rem 02\ntobcd: after mask rem 02\n"
      "tobcd: after insert o PTR *o 02\ntobcd: after div10 value 1\n"
      "tobcd: value 1\ntobcd: rem 1\n"
      "tobcd: after oddeven shift oddeven 0 rem 10\ntobcd: after mask rem 10\n"
      "tobcd: after insert o PTR *o 12\ntobcd: after recycling oddeven o PTR\n"
      "tobcd: no more room in outbuf\n"
      "setmode: bcd 08 12 \nsetmode: calling sendcmd\n"
      "sendcmd: to 20 from 91\nsendcmd: sending header\n" +
          rawOut("fe") + rawOut("fe") + rawOut("20") + rawOut("91") +
          "sendcmd: done sending header\n" + bodyOut(1, "08") + bodyOut(2, "12") +
          "sendcmd: sending trailer\n" + rawOut("fd") +
          "sendcmd: done sending trailer\nsetmode: sendcmd returned 0\n"
          "setmode: eating messages to/from other ids\nrcvresp: eating non-header characters\n" +
          kRawIn +
          "rcvresp: rawcharin returned 0, eaten char fe\nrcvresp: found beginning of header\n" +
          kRawIn + kRawIn + kRawIn +
          "rcvresp: found full header, to=91 from=20\nrcvresp: reading packet\n" + bodyIn("fb") +
          bodyIn("fd") +
          "rcvresp: end of packet found\nrcvresp: exited packet read loop; len=1\n"
          "setmode: rcvresp returned to 91 from 20 rc 0\n"
          "setmode: found our message; status fb\n");
  // Escaping has a line of its own each way.
  radio_.send(hex("FF 0D"));
  unsigned char c = 0;
  EXPECT_NE(stderrOf([] { charout(0xFF); }).find("charout: escaping; rawcharout(0xff)\n"),
            std::string::npos);
  EXPECT_NE(stderrOf([&] { charin(&c); }).find("charin: escaping; calling rawcharin\n"),
            std::string::npos);
}

}  // namespace
