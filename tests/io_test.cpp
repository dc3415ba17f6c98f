// SPDX-License-Identifier: MIT
// The serial line: opening, settings, stale input, low latency, closing, raw bytes, silence.
#include <fcntl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "kit.h"

namespace {

constexpr int kBeyondSelectSet = 1024;  // the first descriptor select() cannot watch

// The line's settings as another descriptor of the same terminal sees them,
// cooked beforehand with control characters of its own, so that each
// setting seropen() leaves shows.
class Settings : public LineTest {
 protected:
  void SetUp() override {
    LineTest::SetUp();
    ASSERT_EQ(tcgetattr(own_, &cooked_), 0);
    cooked_.c_iflag = BRKINT | ISTRIP | ICRNL | IXON;
    cooked_.c_oflag = OPOST | ONLCR;
    cooked_.c_cflag |= PARENB | CSTOPB | CRTSCTS;
    cooked_.c_lflag = ISIG | ICANON | ECHO | IEXTEN;
    cooked_.c_cc[VMIN] = 7;
    tcsetattr(own_, TCSANOW, &cooked_);  // a pseudo-terminal may refuse parity alone
    ASSERT_EQ(tcgetattr(own_, &cooked_), 0);
  }
  void TearDown() override {
    close(own_);
    LineTest::TearDown();
  }
  termios now() {
    termios settings{};
    tcgetattr(own_, &settings);
    return settings;
  }

  int own_ = open(radio_.slavePath().c_str(), O_RDWR | O_NOCTTY);
  termios cooked_{};
};

// At the two ends of the list of speeds.
TEST_F(Settings, OpenSetsARawEightBitLineAtTheRate) {
  for (const auto &[baudrate, speed] : {std::pair<int, speed_t>{50, B50}, {4000000, B4000000}}) {
    SCOPED_TRACE(baudrate);
    ASSERT_EQ(reopen(baudrate), 0);
    const termios raw = now();
    EXPECT_EQ(fcntl(serfh, F_GETFL) & (O_ACCMODE | O_NONBLOCK), O_RDWR);
    EXPECT_EQ(raw.c_iflag, static_cast<tcflag_t>(IGNBRK | IGNPAR));
    EXPECT_EQ(raw.c_oflag | raw.c_lflag, 0u);
    EXPECT_EQ(raw.c_cflag & ~(CBAUD | CBAUDEX | CIBAUD),
              static_cast<tcflag_t>(CS8 | CREAD | HUPCL | CLOCAL));
    EXPECT_EQ(std::memcmp(raw.c_cc, cooked_.c_cc, sizeof raw.c_cc), 0);
    EXPECT_EQ(std::pair(cfgetispeed(&raw), cfgetospeed(&raw)), std::pair(speed, speed));
    tcsetattr(own_, TCSANOW, &cooked_);
  }
}

TEST_F(Settings, RateWithoutASpeedIsEinvalBeforeAnySetting) {
  errno = 0;
  EXPECT_EQ(reopen(19201), EINVAL);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(now().c_iflag, cooked_.c_iflag) << "applied";
}

using Line = LineTest;

// A missing device leaves serfh -1; a file without line settings stays open there.
TEST_F(Line, FailedOpenReturnsTheSystemsCode) {
  char missing[] = "/nonexistent/ttyUSB9", not_a_terminal[] = "/dev/null";
  EXPECT_EQ(seropen(missing, 19200), ENOENT);
  EXPECT_EQ(serfh, -1);
  EXPECT_EQ(seropen(not_a_terminal, 19200), ENOTTY);
  EXPECT_NE(fcntl(serfh, F_GETFD), -1);
}

// A pseudo-terminal refuses low latency: the open goes on as if it had never
// been asked (its trace is in the transcript).
TEST_F(Line, RefusedLowLatencyChangesNothing) {
  errno = EDOM;
  EXPECT_EQ(reopen(), 0);
  EXPECT_EQ(errno, EDOM);
}

// In a fresh process nothing has been opened; the exit status carries the result without its sign.
TEST(SerialClose, ReturnsMinusTwoBeforeAnyOpen) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(_exit(-serclose()), ::testing::ExitedWithCode(2), "");
}

// The line it had open is closed, and what waited on it discarded.
TEST_F(Line, ReopenStartsAFreshLine) {
  const int first = serfh;
  radio_.send(hex("41"));
  ASSERT_EQ(reopen(), 0);
  EXPECT_TRUE(serfh == first || fcntl(first, F_GETFD) == -1) << "left open: " << first;
  radio_.send(hex("42"));
  unsigned char c = 0;
  ASSERT_EQ(rawcharin(&c), 0);
  EXPECT_EQ(c, 0x42);
}

// select is never restarted after a signal.
TEST_F(Line, SignalEndsTheReadWaitWithEintr) {
  signal(SIGALRM, [](int) {});  // it stays, harmless, after the test
  ualarm(20000, 20000);
  debug = 1;
  unsigned char c = 0;
  const std::string trace = stderrOf([&] { EXPECT_EQ(rawcharin(&c), EINTR); });
  ualarm(0, 0);
  EXPECT_EQ(trace,
            "rawcharin: calling select\nrawcharin: select returned -1\n"
            "rawcharin: Interrupted system call\n");
}

// On descriptor 0, where a host without standard input gets its line; the
// number is reused by something else after the first close.
TEST_F(Line, SercloseClosesOnlyOnce) {
  const int input = dup(STDIN_FILENO);
  ASSERT_EQ(dup2(serfh, STDIN_FILENO), STDIN_FILENO);
  close(serfh);
  serfh = STDIN_FILENO;
  ASSERT_EQ(serclose(), 0);
  EXPECT_EQ(serfh, -2);
  EXPECT_EQ(fcntl(STDIN_FILENO, F_GETFD), -1) << "left open";
  ASSERT_EQ(dup2(STDERR_FILENO, STDIN_FILENO), STDIN_FILENO);
  EXPECT_EQ(serclose(), -2);
  EXPECT_NE(fcntl(STDIN_FILENO, F_GETFD), -1) << "the second serclose closed it";
  dup2(input, STDIN_FILENO);
  close(input);
}

// Descriptor kBeyondSelectSet is the line, so only the range check can
// stop a byte there; a directory fails the write and the read themselves.
TEST_F(Line, RawBytesRefuseAnUnusableSerfh) {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  if (limit.rlim_cur <= kBeyondSelectSet) limit.rlim_cur = kBeyondSelectSet + 1;
  if (setrlimit(RLIMIT_NOFILE, &limit) != 0 || dup2(serfh, kBeyondSelectSet) != kBeyondSelectSet) {
    GTEST_SKIP() << "cannot open descriptor " << kBeyondSelectSet;
  }
  close(serfh);  // descriptor kBeyondSelectSet is the line now; the last row leaves it in serfh
  const int directory = open(".", O_RDONLY | O_DIRECTORY);
  radio_.send(hex("42"));
  for (const auto &[fd, read_error] :
       {std::pair{-2, EBADF}, {-1, EBADF}, {directory, EISDIR}, {kBeyondSelectSet, EBADF}}) {
    serfh = fd;
    unsigned char c = 0x5A;
    errno = 0;
    EXPECT_EQ(rawcharout(0x41), EBADF) << fd;
    EXPECT_EQ(errno, EBADF);
    errno = 0;
    EXPECT_EQ(rawcharin(&c), read_error) << "a read would have taken the waiting byte";
    EXPECT_EQ(errno, read_error);
    EXPECT_EQ(c, 0x5A);
  }
  close(directory);
  EXPECT_EQ(radio_.take(), Bytes{});
}

}  // namespace
