// SPDX-License-Identifier: MIT
// The library's trace: every kind of line it writes, against a checked-in transcript.
#include <fstream>
#include <iterator>
#include <regex>

#include "kit.h"

namespace {

using Trace = LineTest;

// The transcript (library.trace, beside this file) is the whole trace of a
// script: the open of the line (a pseudo-terminal, which refuses low
// latency), a whole exchange (setmode(12) fills its one BCD byte exactly, so
// tobcd writes every kind of line it has), tobcdrev's silence, the quirks of
// single commands, escaping each way and a missing device. There the
// pointers tobcd prints read PTR, the pseudo-terminal PTY and its
// descriptor FD.
TEST_F(Trace, MatchesTheTranscript) {
  std::ifstream file(std::regex_replace(__FILE__, std::regex("[^/]+$"), "library.trace"));
  const std::string transcript{std::istreambuf_iterator<char>(file), {}};
  ASSERT_FALSE(transcript.empty()) << "no library.trace beside " << __FILE__;
  static char no_numbers[] = "";
  static char missing[] = "/nonexistent/ttyUSB9";
  debug = 1;
  std::string got = stderrOf([this] { reopen(); });  // which drops what waits on the line
  for (int i = 0; i < 5; i++) radio_.send(reply("FB"));
  radio_.send(hex("FF 0D"));
  radio_.send(reply(kGolden[14].reply));
  got += stderrOf([] {
    long tx = 0, rx = 0;
    unsigned char c = 0;
    setmode(kRadio, kController, 12);
    setvfofreq(kRadio, kController, 145500000);
    setpl(kRadio, kController, 885, 0);   // the tone right-aligned in hertz
    setpl(kRadio, kController, 1000, 7);  // any selector but 0 is rx
    storemodetovfo(kRadio, kController);  // no "calling sendcmd" line
    charout(0xFF);
    charin(&c);
    getvcosplitfreq(kRadio, kController, &tx, &rx);   // traced as getvcosplit
    setvfocodeplug(kRadio, kController, no_numbers);  // counts -1 numbers
    seropen(missing, 19200);
  });
  got = std::regex_replace(got, std::regex("0x[0-9a-f]{5,}|\\(nil\\)"), "PTR");
  got = std::regex_replace(got, std::regex("fh [0-9]+"), "fh FD");
  EXPECT_EQ(std::regex_replace(got, std::regex(radio_.slavePath()), "PTY"), transcript);
}

}  // namespace
