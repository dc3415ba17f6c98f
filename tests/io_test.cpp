// SPDX-License-Identifier: MIT
// The serial line: opening, settings, stale input, low latency, closing, raw bytes, silence.
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <numeric>

#include "kit.h"

namespace {

constexpr int kBeyondSelectSet = 1024;  // the first descriptor select() cannot watch

class SerialOpen : public ::testing::Test {
 protected:
  void TearDown() override {
    serclose();
    debug = 0;
  }
  int openLine(int baudrate) {
    std::string path = radio_.slavePath();
    return seropen(path.data(), baudrate);
  }
  PtyRadio radio_;
};

termios settingsOf(int fd) {
  termios settings{};
  EXPECT_EQ(tcgetattr(fd, &settings), 0) << strerror(errno);
  return settings;
}

// A missing device leaves serfh -1; a file without line settings stays open
// in serfh; a rate without a speed constant is refused before anything is
// applied (the fresh terminal has IGNBRK off until a seropen applies its own).
TEST_F(SerialOpen, RefusesWhatItCannotUseWithItsCodeAndErrnoSet) {
  char missing[] = "/nonexistent/ttyUSB9";
  debug = 1;
  EXPECT_EQ(stderrOf([&] { EXPECT_EQ(seropen(missing, 19200), ENOENT); }),
            "seropen: opening device /nonexistent/ttyUSB9\nseropen: open returned fh -1\n"
            "seropen: No such file or directory\n");
  EXPECT_EQ(serfh, -1);
  debug = 0;
  char not_a_terminal[] = "/dev/null";
  EXPECT_EQ(seropen(not_a_terminal, 19200), ENOTTY);
  EXPECT_NE(fcntl(serfh, F_GETFD), -1);
  for (int baudrate : {0, 19201, 4000001, -19200}) {
    errno = 0;
    EXPECT_EQ(openLine(baudrate), EINVAL) << baudrate;
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(settingsOf(serfh).c_iflag & IGNBRK, 0u) << "applied for " << baudrate;
  }
}

// Each time from a cooked terminal with control characters of its own.
TEST_F(SerialOpen, LeavesRawEightBitSettingsAtTheRequestedSpeedAndKeepsTheControlCharacters) {
  const int own = open(radio_.slavePath().c_str(), O_RDWR | O_NOCTTY);
  termios cooked = settingsOf(own);
  cooked.c_iflag = BRKINT | ISTRIP | ICRNL | IXON;
  cooked.c_oflag = OPOST | ONLCR;
  cooked.c_cflag |= PARENB | CSTOPB | CRTSCTS;
  cooked.c_lflag = ISIG | ICANON | ECHO | IEXTEN;
  cooked.c_cc[VMIN] = 7;
  for (const auto &[baudrate, speed] : {std::pair<int, speed_t>{50, B50}, {4000000, B4000000}}) {
    ASSERT_EQ(tcsetattr(own, TCSANOW, &cooked), 0);
    ASSERT_EQ(openLine(baudrate), 0);
    EXPECT_EQ(fcntl(serfh, F_GETFL) & (O_ACCMODE | O_NONBLOCK), O_RDWR);
    const termios raw = settingsOf(own);
    EXPECT_EQ(raw.c_iflag, static_cast<tcflag_t>(IGNBRK | IGNPAR));
    EXPECT_EQ(raw.c_oflag | raw.c_lflag, 0u);
    EXPECT_EQ(raw.c_cflag & ~(CBAUD | CBAUDEX | CIBAUD),
              static_cast<tcflag_t>(CS8 | CREAD | HUPCL | CLOCAL));
    EXPECT_EQ(std::memcmp(raw.c_cc, cooked.c_cc, sizeof raw.c_cc), 0);
    EXPECT_EQ(cfgetispeed(&raw), speed);
    EXPECT_EQ(cfgetospeed(&raw), speed);
  }
  close(own);
}

TEST_F(SerialOpen, DiscardsWhatWaitedAndClosesTheLineItHadOpen) {
  radio_.send(hex("41"));
  ASSERT_EQ(openLine(19200), 0);
  radio_.send(hex("42"));
  unsigned char c = 0;
  ASSERT_EQ(rawcharin(&c), 0);
  EXPECT_EQ(c, 0x42);
  const int first = serfh;
  ASSERT_EQ(openLine(19200), 0);
  ASSERT_EQ(serclose(), 0);
  EXPECT_EQ(fcntl(first, F_GETFD), -1) << "the first line was left open";
}

// Exit statuses of a child that opens the line under a filter turning the
// driver request for the line's serial settings into the signal SIGSYS.
constexpr int kAskedTheDriver = 42;
constexpr int kNoFilter = 44;

[[noreturn]] void openUnderSerialSettingsTrap(std::string path) {
  signal(SIGSYS, [](int) { _exit(kAskedTheDriver); });
  constexpr unsigned kRequestWord =  // the low 32 bits of ioctl's request argument
      offsetof(seccomp_data, args[1]) + (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__ ? 4 : 0);
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_ioctl, 0, 3),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kRequestWord),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, TIOCGSERIAL, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRAP),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  const sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
    _exit(kNoFilter);
  }
  seropen(path.data(), 19200);
  _exit(0);
}

// A pseudo-terminal refuses the request, and the open goes on as if it had
// never been made: result, errno and trace. The kernel shows that the
// request is made: a child's seropen runs into the filter.
TEST_F(SerialOpen, AsksTheDriverForLowLatencyAndCarriesOnWhereItIsRefused) {
  debug = 1;
  errno = EDOM;
  int rc = -1;
  const std::string trace = stderrOf([&] { rc = openLine(19200); });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(errno, EDOM);
  EXPECT_EQ(trace, "seropen: opening device " + radio_.slavePath() +
                       "\nseropen: open returned fh " + std::to_string(serfh) +
                       "\nseropen: getting current serial device attributes\ntcgetattr returned 0\n"
                       "seropen: setting serial device attributes\ntcsetattr returned 0\n");
  const pid_t child = fork();
  if (child == 0) openUnderSerialSettingsTrap(radio_.slavePath());
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  if (WIFEXITED(status) && WEXITSTATUS(status) == kNoFilter)
    GTEST_SKIP() << "no system call filters";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kAskedTheDriver) << status;
}

// In a fresh process nothing has been opened; the exit status carries the result without its sign.
TEST(SerialClose, ReturnsMinusTwoBeforeAnyOpen) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(_exit(-serclose()), ::testing::ExitedWithCode(2), "");
}

using Line = LineTest;

TEST_F(Line, SercloseClosesOnceAndReportsAFailedClose) {
  const int fd = serfh;
  ASSERT_EQ(serclose(), 0);
  EXPECT_EQ(serfh, -2);
  ASSERT_EQ(dup2(STDERR_FILENO, fd), fd);  // something else now has the number
  EXPECT_EQ(serclose(), -2);
  EXPECT_NE(fcntl(fd, F_GETFD), -1) << "the second serclose closed " << fd;
  close(fd);
  ScopedSerfh not_open(kBeyondSelectSet);
  errno = 0;
  EXPECT_EQ(serclose(), -1);
  EXPECT_EQ(errno, EBADF);
}

// Descriptor kBeyondSelectSet is the line too, so only the range check can stop a byte there.
TEST_F(Line, RawBytesRefuseAnUnusableSerfhWithEbadfAndMoveNoByte) {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  if (limit.rlim_cur <= kBeyondSelectSet) limit.rlim_cur = kBeyondSelectSet + 1;
  if (setrlimit(RLIMIT_NOFILE, &limit) != 0 || dup2(serfh, kBeyondSelectSet) != kBeyondSelectSet) {
    GTEST_SKIP() << "cannot open descriptor " << kBeyondSelectSet;
  }
  radio_.send(hex("42"));
  for (int fd : {-2, -1, kBeyondSelectSet}) {
    ScopedSerfh unusable(fd);
    unsigned char c = 0;
    errno = 0;
    EXPECT_EQ(rawcharout(0x41), EBADF) << fd;
    EXPECT_EQ(errno, EBADF);
    errno = 0;
    EXPECT_EQ(rawcharin(&c), EBADF) << "a read would have taken the waiting byte";
    EXPECT_EQ(errno, EBADF);
  }
  close(kBeyondSelectSet);
  EXPECT_EQ(radio_.take(), Bytes{});
}

// No translation, echo, parity stripping or XON/XOFF either way; rawcharout() escapes nothing.
TEST_F(Line, RawBytesPassEveryValueUnchangedBothWays) {
  Bytes every_value(256);
  std::iota(every_value.begin(), every_value.end(), 0);
  radio_.send(every_value);
  for (unsigned char sent : every_value) {
    unsigned char c = 0;
    ASSERT_EQ(rawcharin(&c), 0);
    ASSERT_EQ(c, sent);
  }
  for (unsigned char b : every_value) ASSERT_EQ(rawcharout(b), 0);
  EXPECT_EQ(radio_.take(), every_value);
}

// The pseudo-terminal itself is the silent line; the wait is timed.
TEST_F(Line, RawcharinWaitsOutTheTimeoutThenReportsEndOfFileAndReadErrorsWithErrnoSet) {
  const auto start = std::chrono::steady_clock::now();
  FinishedLine finished;
  const int directory = open(".", O_RDONLY | O_DIRECTORY);
  for (const auto &[fd, code] :
       {std::pair{serfh, ETIMEDOUT}, {finished.fd(), EPIPE}, {directory, EISDIR}}) {
    ScopedSerfh line(fd);
    unsigned char c = 0x5A;
    errno = 0;
    EXPECT_EQ(rawcharin(&c), code);
    EXPECT_EQ(errno, code);
    EXPECT_EQ(c, 0x5A) << code;
  }
  close(directory);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4990));
}

TEST_F(Line, RawcharinReturnsEintrAtOnceWhenASignalInterruptsTheWait) {
  struct sigaction wake {};
  struct sigaction saved {};
  wake.sa_handler = [](int) {};  // no SA_RESTART
  sigaction(SIGALRM, &wake, &saved);
  const itimerval every_20ms{{0, 20000}, {0, 20000}};
  setitimer(ITIMER_REAL, &every_20ms, nullptr);
  unsigned char c = 0;
  int rc = 0;
  debug = 1;
  const std::string trace = stderrOf([&] { rc = rawcharin(&c); });
  const itimerval off{};
  setitimer(ITIMER_REAL, &off, nullptr);
  sigaction(SIGALRM, &saved, nullptr);
  EXPECT_EQ(rc, EINTR);
  EXPECT_EQ(trace,
            "rawcharin: calling select\nrawcharin: select returned -1\n"
            "rawcharin: Interrupted system call\n");
}

// Opening, an exchange with escapes and a broken start, a lost line, closing.
TEST_F(SerialOpen, WritesNothingWithDebugOff) {
  EXPECT_EQ(stderrOf([&] {
              openLine(19200);
              radio_.send(hex("00 FE FE 91 20 FF 0E FD FE 00"));
              unsigned char body[] = {0xAA, 0xFE};
              int length = 0;
              sendcmd(0x20, 0x91, body, 2);
              rcvresp(&length, &length, body, 2, &length);
              rcvresp(&length, &length, body, 2, &length);
              radio_.hangUp();
              sendcmd(0x20, 0x91, body, 2);
              serclose();
              rawcharin(body);
            }),
            "");
}

}  // namespace
