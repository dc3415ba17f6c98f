// SPDX-License-Identifier: MIT
// The serial line: opening, settings, stale input, low latency, closing, raw bytes, silence.
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <iterator>

#include "kit.h"

namespace {

constexpr int kBeyondSelectSet = 1024;  // the first descriptor select() cannot watch

using Line = LineTest;

// Each time from a cooked terminal with control characters of its own; a
// rate without a speed constant (speed 0 here) is refused before anything is applied.
// A missing device leaves serfh -1; a file without line settings stays open in serfh.
TEST_F(Line, LeavesRawEightBitSettingsAtEachOfItsSpeedsAndRefusesOtherRatesAndNonTerminals) {
  const int own = open(radio_.slavePath().c_str(), O_RDWR | O_NOCTTY);
  termios cooked{};
  ASSERT_EQ(tcgetattr(own, &cooked), 0);
  cooked.c_iflag = BRKINT | ISTRIP | ICRNL | IXON;
  cooked.c_oflag = OPOST | ONLCR;
  cooked.c_cflag |= PARENB | CSTOPB | CRTSCTS;
  cooked.c_lflag = ISIG | ICANON | ECHO | IEXTEN;
  cooked.c_cc[VMIN] = 7;
  // clang-format off
  const std::pair<int, speed_t> rates[] = {
      {50, B50}, {75, B75}, {110, B110}, {134, B134}, {150, B150}, {200, B200}, {300, B300},
      {600, B600}, {1200, B1200}, {1800, B1800}, {2400, B2400}, {4800, B4800}, {9600, B9600},
      {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
      {460800, B460800}, {500000, B500000}, {576000, B576000}, {921600, B921600},
      {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
      {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
      {0, 0}, {19201, 0}, {4000001, 0}, {-19200, 0}};
  // clang-format on
  for (const auto &[baudrate, speed] : rates) {
    SCOPED_TRACE(baudrate);
    tcsetattr(own, TCSANOW, &cooked);  // a pseudo-terminal may refuse parity alone
    errno = 0;
    ASSERT_EQ(reopen(baudrate), speed == 0 ? EINVAL : 0);
    termios raw{};
    ASSERT_EQ(tcgetattr(own, &raw), 0);
    if (speed == 0) {
      EXPECT_EQ(errno, EINVAL);
      EXPECT_EQ(raw.c_iflag, cooked.c_iflag) << "applied";
      continue;
    }
    EXPECT_EQ(fcntl(serfh, F_GETFL) & (O_ACCMODE | O_NONBLOCK), O_RDWR);
    EXPECT_EQ(raw.c_iflag, static_cast<tcflag_t>(IGNBRK | IGNPAR));
    EXPECT_EQ(raw.c_oflag | raw.c_lflag, 0u);
    EXPECT_EQ(raw.c_cflag & ~(CBAUD | CBAUDEX | CIBAUD),
              static_cast<tcflag_t>(CS8 | CREAD | HUPCL | CLOCAL));
    EXPECT_EQ(std::memcmp(raw.c_cc, cooked.c_cc, sizeof raw.c_cc), 0);
    EXPECT_EQ(std::pair(cfgetispeed(&raw), cfgetospeed(&raw)), std::pair(speed, speed));
  }
  close(own);
  char missing[] = "/nonexistent/ttyUSB9";
  debug = 1;
  EXPECT_EQ(stderrOf([&] { EXPECT_EQ(seropen(missing, 19200), ENOENT); }),
            "seropen: opening device /nonexistent/ttyUSB9\nseropen: open returned fh -1\n"
            "seropen: No such file or directory\n");
  EXPECT_EQ(serfh, -1);
  char not_a_terminal[] = "/dev/null";
  EXPECT_EQ(seropen(not_a_terminal, 19200), ENOTTY);
  EXPECT_NE(fcntl(serfh, F_GETFD), -1);
}

// A pseudo-terminal refuses the request, and the open goes on as if it had
// never been made: result, errno and trace. The kernel shows that the
// request is made: a child's seropen runs into a filter turning the driver
// request for the line's serial settings into the signal SIGSYS.
TEST_F(Line, AsksTheDriverForLowLatencyAndCarriesOnWhereItIsRefused) {
  debug = 1;
  errno = EDOM;
  const std::string trace = stderrOf([&] { EXPECT_EQ(reopen(), 0); });
  EXPECT_EQ(errno, EDOM);
  EXPECT_EQ(trace, "seropen: opening device " + radio_.slavePath() +
                       "\nseropen: open returned fh " + std::to_string(serfh) +
                       "\nseropen: getting current serial device attributes\ntcgetattr returned 0\n"
                       "seropen: setting serial device attributes\ntcsetattr returned 0\n");
  const pid_t child = fork();
  if (child == 0) {
    signal(SIGSYS, [](int) { _exit(SIGSYS); });
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_ioctl, 0, 3),
        // the low 32 bits of ioctl's request argument
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[1]) +
                                               (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__ ? 4 : 0)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, TIOCGSERIAL, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRAP),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    const sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
      _exit(1);
    }
    reopen();  // the trap ends the child here
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 1) GTEST_SKIP() << "no system call filters";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == SIGSYS) << status;
}

// In a fresh process nothing has been opened; the exit status carries the result without its sign.
TEST(SerialClose, ReturnsMinusTwoBeforeAnyOpen) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(_exit(-serclose()), ::testing::ExitedWithCode(2), "");
}

// The second seropen finds only what came after it; with nothing more to
// read, a signal ends rawcharin's wait at once (select is never restarted).
TEST_F(Line, DiscardsWhatWaitedAndClosesTheLineItHadOpenThenSercloseClosesOnce) {
  const int first = serfh;
  radio_.send(hex("41"));
  ASSERT_EQ(reopen(), 0);
  radio_.send(hex("42"));
  unsigned char c = 0;
  ASSERT_EQ(rawcharin(&c), 0);
  EXPECT_EQ(c, 0x42);
  signal(SIGALRM, [](int) {});  // it stays, harmless, after the test
  ualarm(20000, 20000);
  debug = 1;
  const std::string trace = stderrOf([&] { EXPECT_EQ(rawcharin(&c), EINTR); });
  ualarm(0, 0);
  EXPECT_EQ(trace,
            "rawcharin: calling select\nrawcharin: select returned -1\n"
            "rawcharin: Interrupted system call\n");
  const int fd = serfh;
  ASSERT_EQ(serclose(), 0);
  EXPECT_EQ(fcntl(first, F_GETFD), -1) << "the first line was left open";
  EXPECT_EQ(serfh, -2);
  ASSERT_EQ(dup2(STDERR_FILENO, fd), fd);  // something else now has the number
  EXPECT_EQ(serclose(), -2);
  EXPECT_NE(fcntl(fd, F_GETFD), -1) << "the second serclose closed " << fd;
  close(fd);
  serfh = kBeyondSelectSet;  // not open
  errno = 0;
  EXPECT_EQ(serclose(), -1);
  EXPECT_EQ(errno, EBADF);
}

// Descriptor kBeyondSelectSet is the line, so only the range check can
// stop a byte there; a directory fails the write and the read themselves.
TEST_F(Line, RawBytesRefuseAnUnusableSerfhWithEbadfAndMoveNoByte) {
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
