// SPDX-License-Identifier: MIT
// Line handles: opening and closing, the calls on a line, its time-out, its trace callback.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <new>
#include <regex>
#include <tuple>

#include "kit.h"

namespace {

bool refuse_allocation = false;  // the next nothrow allocation fails

}  // namespace

// The allocation rl_open() makes, refused on request; otherwise what the
// throwing form gives, so that the library's delete matches it.
void *operator new(std::size_t size, const std::nothrow_t & /*tag*/) noexcept {
  if (std::exchange(refuse_allocation, false)) return nullptr;
  try {
    return ::operator new(size);
  } catch (const std::bad_alloc &) {
    return nullptr;
  }
}

namespace {

// Appends each trace line it is handed, and a newline, to a std::string.
void collect(void *context, const char *text) {
  *static_cast<std::string *>(context) += std::string(text) + "\n";
}

// A line of its own on the pseudo-terminal, its trace collected in trace_
// once traceOn() is called.
class Handle : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(rl_open(radio_.slavePath().c_str(), 19200, &line_), 0); }
  void TearDown() override { rl_close(line_); }
  void traceOn() { ASSERT_EQ(rl_settrace(line_, collect, &trace_), 0); }

  PtyRadio radio_;
  radioline_line *line_ = nullptr;
  std::string trace_;
};

std::size_t openDescriptors() {
  return static_cast<std::size_t>(std::distance(
      std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator()));
}

// A device that opens but will not take the settings is closed again; the
// classic line is left alone throughout.
TEST(Open, FailureLeavesNoLineAndNothingOpen) {
  PtyRadio radio;
  const std::tuple<const char *, int, bool, int> cases[] = {
      {"/nonexistent/ttyUSB9", 19200, false, ENOENT},    {"/dev/null", 19200, false, ENOTTY},
      {radio.slavePath().c_str(), 19201, false, EINVAL}, {nullptr, 19200, false, EINVAL},
      {radio.slavePath().c_str(), 19200, true, ENOMEM},
  };
  for (const auto &[path, baud, refuse, code] : cases) {
    SCOPED_TRACE(path == nullptr ? "no path" : path);
    const std::size_t before = openDescriptors();
    radioline_line *line = reinterpret_cast<radioline_line *>(&radio);
    refuse_allocation = refuse;
    errno = 0;
    EXPECT_EQ(rl_open(path, baud, &line), code);
    EXPECT_EQ(errno, code);
    EXPECT_EQ(line, nullptr);
    EXPECT_EQ(openDescriptors(), before);
  }
  EXPECT_EQ(rl_open(radio.slavePath().c_str(), 19200, nullptr), EINVAL);
  EXPECT_EQ(serfh, -2);
}

// The descriptor that opening takes is the lowest one free.
TEST(Close, ReportsAFailedCloseAndFreesTheLine) {
  PtyRadio radio;
  const int next = dup(STDIN_FILENO);
  close(next);
  radioline_line *line = nullptr;
  ASSERT_EQ(rl_open(radio.slavePath().c_str(), 19200, &line), 0);
  ASSERT_EQ(close(next), 0) << "the line's descriptor";
  errno = 0;
  EXPECT_EQ(rl_close(line), EBADF);
  EXPECT_EQ(errno, EBADF);
}

TEST(NullLine, EveryCallRefusesItWithEinval) {
  unsigned char byte = 0;
  int number = 0;
  long value = 0;
  char plug[] = "";
  const std::function<int()> calls[] = {
      [] { return rl_close(nullptr); },
      [] { return rl_settimeout(nullptr, 200); },
      [] { return rl_settrace(nullptr, collect, nullptr); },
      [] { return rl_rawcharout(nullptr, 0x41); },
      [&] { return rl_rawcharin(nullptr, &byte); },
      [] { return rl_charout(nullptr, 0x41); },
      [&] { return rl_charin(nullptr, &byte); },
      [&] { return rl_sendcmd(nullptr, kRadio, kController, &byte, 1); },
      [&] { return rl_rcvresp(nullptr, &number, &number, &byte, 1, &number); },
      [] { return rl_setvfofreq(nullptr, kRadio, kController, 145500000); },
      [] { return rl_setmode(nullptr, kRadio, kController, 3); },
      [] { return rl_storevfotomode(nullptr, kRadio, kController); },
      [] { return rl_storemodetovfo(nullptr, kRadio, kController); },
      [] { return rl_setduplex(nullptr, kRadio, kController, 0x11); },
      [] { return rl_setpl(nullptr, kRadio, kController, 885, 0); },
      [&] { return rl_getvfocodeplug(nullptr, kRadio, kController, &byte, 16); },
      [&] { return rl_setvfocodeplug(nullptr, kRadio, kController, plug); },
      [&] { return rl_getversion(nullptr, kRadio, kController, &byte, 1); },
      [&] { return rl_getconfig(nullptr, kRadio, kController, &byte, 2); },
      [] { return rl_setconfig(nullptr, kRadio, kController, 0x12, 0x34); },
      [&] { return rl_gettxoffset(nullptr, kRadio, kController, &value); },
      [] { return rl_settxoffset(nullptr, kRadio, kController, -600000); },
      [&] { return rl_getvcosplitfreq(nullptr, kRadio, kController, &value, &value); },
      [] { return rl_setvcosplit(nullptr, kRadio, kController, 1, 2); },
  };
  for (std::size_t i = 0; i < std::size(calls); i++) {
    errno = 0;
    EXPECT_EQ(calls[i](), EINVAL) << "call " << i;
    EXPECT_EQ(errno, EINVAL) << "call " << i;
  }
}

TEST_F(Handle, FrameAndByteCallsWorkOnTheLine) {
  unsigned char body[] = {0xAA, 0x02};
  ASSERT_EQ(rl_sendcmd(line_, kRadio, kController, body, 2), 0);
  ASSERT_EQ(rl_rawcharout(line_, 0x41), 0);
  EXPECT_EQ(radio_.take(), hex("FE FE 20 91 AA 02 FD 41"));
  radio_.send(hex("42 FE FE 91 20 FB FD"));
  unsigned char c = 0;
  int to = 0, from = 0, resplen = 0;
  ASSERT_EQ(rl_rawcharin(line_, &c), 0);
  EXPECT_EQ(c, 0x42);
  ASSERT_EQ(rl_rcvresp(line_, &to, &from, body, 2, &resplen), 0);
  EXPECT_EQ(std::tie(to, from, resplen, body[0]), std::tuple(0x91, 0x20, 1, 0xFB));
}

// The time-out ends a wait on a radio that never answers long before the
// classic 5 seconds; the failure's lines read as perror() writes them.
TEST_F(Handle, TimeoutEndsTheWaitForASilentRadio) {
  traceOn();
  ASSERT_EQ(rl_settimeout(line_, 200), 0);
  const auto start = std::chrono::steady_clock::now();
  errno = 0;
  EXPECT_EQ(rl_setmode(line_, kRadio, kController, 12), ETIMEDOUT);
  EXPECT_EQ(errno, ETIMEDOUT);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  const std::string end =
      "rcvresp: Connection timed out\nsetmode: rcvresp returned to 00 from 00 rc 110\n"
      "setmode: Connection timed out\n";
  EXPECT_EQ(trace_.substr(trace_.size() - std::min(trace_.size(), end.size())), end) << trace_;
}

TEST_F(Handle, TimeoutOfZeroOrLessIsEinval) {
  for (const int ms : {0, -1, INT_MIN}) {
    errno = 0;
    EXPECT_EQ(rl_settimeout(line_, ms), EINVAL) << ms;
    EXPECT_EQ(errno, EINVAL) << ms;
  }
}

// The classic trace transcript's script, run on the handle: its callback
// gets the transcript's lines but for those of the classic opens, and
// debug has no say.
TEST_F(Handle, TraceCallbackGetsTheClassicLines) {
  std::ifstream file(std::regex_replace(__FILE__, std::regex("[^/]+$"), "library.trace"));
  const std::string transcript{std::istreambuf_iterator<char>(file), {}};
  const std::size_t first = transcript.find("setmode: selecting mode 12\n");
  const std::size_t last = transcript.find("seropen: opening device /nonexistent");
  ASSERT_LT(first, last) << "no library.trace beside " << __FILE__;
  traceOn();
  for (int i = 0; i < 5; i++) radio_.send(reply("FB"));
  radio_.send(hex("FF 0D"));
  radio_.send(reply(kGolden[14].reply));
  debug = 1;
  const std::string classic = stderrOf([this] {
    long tx = 0, rx = 0;
    unsigned char c = 0;
    char no_numbers[] = "";
    rl_setmode(line_, kRadio, kController, 12);
    rl_setvfofreq(line_, kRadio, kController, 145500000);
    rl_setpl(line_, kRadio, kController, 885, 0);
    rl_setpl(line_, kRadio, kController, 1000, 7);
    rl_storemodetovfo(line_, kRadio, kController);
    rl_charout(line_, 0xFF);
    rl_charin(line_, &c);
    rl_getvcosplitfreq(line_, kRadio, kController, &tx, &rx);
    rl_setvfocodeplug(line_, kRadio, kController, no_numbers);
  });
  debug = 0;
  EXPECT_EQ(classic, "");
  EXPECT_EQ(std::regex_replace(trace_, std::regex("0x[0-9a-f]{5,}|\\(nil\\)"), "PTR"),
            transcript.substr(first, last - first));
  ASSERT_EQ(rl_settrace(line_, nullptr, nullptr), 0);
  rl_storevfotomode(line_, 0, kController);
  EXPECT_EQ(trace_.find("storevfotomode"), std::string::npos) << "traced after it was switched off";
}

}  // namespace
