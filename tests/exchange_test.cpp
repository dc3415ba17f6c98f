// SPDX-License-Identifier: MIT
// The command exchange: which frame is the reply, late, stale and short replies, failures.
#include <cerrno>
#include <csignal>

#include "kit.h"
#include "sim_options.h"

namespace {

using Exchange = LineTest;

// Each line carries a frame that is not the reply, holding an acceptance,
// then the radio's refusal to the controller, or its empty status. Each
// failure leaves the next command to clear the line: the line is opened
// again before bytes are queued for it.
TEST_F(Exchange, SkipsFramesThatAreNotTheReply) {
  for (const char *wire : {"FE FE 20 91 08 01 FD  FE FE 91 20 FA FD",  // the echo of the request
                           "FE FE E0 20 FB FD  FE FE 91 20 FA FD",     // to another controller
                           "FE FE 91 44 FB FD  FE FE 91 20 FA FD",     // from another station
                           "FE FE 33 44 FB FD  FE FE 91 20 FD"}) {
    ASSERT_EQ(reopen(), 0);
    radio_.send(hex(wire));
    EXPECT_EQ(setmode(kRadio, kController, 1), EINVAL) << wire;
  }
}

// A frame between other stations first leaves a whole reply in the buffer.
TEST_F(Exchange, JudgesOnlyTheBytesTheReplyBrought) {
  radio_.send(hex("FE FE 33 44 AA 82 41 FD  FE FE 91 20 AA FD"));  // one byte of data
  unsigned char text[4];
  EXPECT_EQ(getversion(kRadio, kController, text, 4), EINVAL);
}

TEST_F(Exchange, BrokenStartIsEinvalLeavingErrno) {
  radio_.send(hex("FE 00"));
  errno = EDOM;
  EXPECT_EQ(setmode(kRadio, kController, 12), EINVAL);
  EXPECT_EQ(errno, EDOM);
}

TEST_F(Exchange, WritesNothingWithTracingOff) {
  radio_.send(reply("FB"));
  EXPECT_EQ(stderrOf([] { EXPECT_EQ(setmode(kRadio, kController, 12), 0); }), "");
}

// The rest of the reply after a broken start, coming 150 ms late, is
// discarded while the next command waits for ten quiet characters at 300
// baud (333 ms), not taken for its reply, which the radio sends 300 ms
// after the request.
TEST_F(Exchange, DiscardsTheRestOfAnAbandonedReply) {
  ASSERT_EQ(reopen(300), 0);
  radio_.send(hex("FE 00"));
  ASSERT_EQ(setmode(kRadio, kController, 12), EINVAL);
  radio_.take();
  RadioAnswer rest(radio_, {}, hex("FE FE 91 20 FB FD"), std::chrono::milliseconds(150));
  RadioAnswer refusal(radio_, request("09"), reply("FA"), std::chrono::milliseconds(300));
  EXPECT_EQ(storevfotomode(kRadio, kController), EINVAL);
}

// What a stopped radio does to the line: radiosim, stopped until the
// offset read times out (which is traced), resumes 300 ms after the version
// read went out and answers both, each 20 ms after its request. The stale
// offset is no version; the version answer, still on its way when the read
// gives up on it, is discarded before the next request, which gets its own.
TEST(LateAnswer, LineHealsWithinTwoCommandsAfterATimeout) {
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

}  // namespace
