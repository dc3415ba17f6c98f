// SPDX-License-Identifier: MIT
// The serial line: opening and closing the device, its settings, and raw bytes in and out.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <initializer_list>
#include <string>
#include <thread>
#include <utility>

#include "pty_radio.h"
#include "radioline.h"

namespace {

// A descriptor number that nothing has open, taken from the top of the
// smallest descriptor table (64 entries) so that select() looks at it and no
// capture or pipe the test opens meanwhile takes it.
int unused_descriptor() {
  for (int fd = 63; fd > 2; fd--) {
    if (fcntl(fd, F_GETFD) == -1) return fd;
  }
  ADD_FAILURE() << "every descriptor below 64 is open";
  return -1;
}

// The lines, each ended by a newline, as one text.
std::string lines(std::initializer_list<std::string> each) {
  std::string text;
  for (const std::string &line : each) text += line + "\n";
  return text;
}

// A descriptor number select() cannot watch (its set holds 0 to 1023).
constexpr int kBeyondSelectSet = 5000;

// Reads the settings the device has now.
termios settings_of(int fd) {
  termios settings{};
  EXPECT_EQ(tcgetattr(fd, &settings), 0) << strerror(errno);
  return settings;
}

// The speed bits that share the control flags with the other settings.
constexpr tcflag_t kSpeedBits = CBAUD | CBAUDEX | CIBAUD;

// A pseudo-terminal that the test opens itself; closed again in TearDown.
class DeviceTest : public ::testing::Test {
 protected:
  void TearDown() override {
    serclose();
    debug = 0;
  }

  int open_line(int baudrate) {
    std::string path = radio_.slave_path();
    return seropen(path.data(), baudrate);
  }

  PtyRadio radio_;
};

// ---------------------------------------------------------------------------
// seropen: opening the device.
// ---------------------------------------------------------------------------

using SerialOpenTest = DeviceTest;

TEST_F(SerialOpenTest, OpensAPseudoTerminalAndStoresItsDescriptor) {
  ASSERT_EQ(open_line(19200), 0);
  EXPECT_GE(serfh, 0);
  EXPECT_EQ(fcntl(serfh, F_GETFL) & O_ACCMODE, O_RDWR);
}

TEST_F(SerialOpenTest, ReturnsEnoentForAMissingDeviceAndLeavesSerfhAtMinusOne) {
  char missing[] = "/nonexistent/radioline/ttyUSB9";
  errno = 0;
  EXPECT_EQ(seropen(missing, 19200), ENOENT);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(serfh, -1);
}

TEST_F(SerialOpenTest, ClosingAfterAFailedOpenReturnsMinusOne) {
  char missing[] = "/nonexistent/radioline/ttyUSB9";
  ASSERT_EQ(seropen(missing, 19200), ENOENT);
  EXPECT_EQ(serclose(), -1);
}

TEST_F(SerialOpenTest, ReturnsEaccesForADeviceThatMayNotBeOpened) {
  const std::string path = radio_.slave_path();
  ASSERT_EQ(chmod(path.c_str(), 0), 0) << strerror(errno);
  const pid_t child = fork();
  ASSERT_NE(child, -1) << strerror(errno);
  if (child == 0) {
    // Root may open anything, so the child gives up root before trying.
    constexpr uid_t kNobody = 65534;
    if (geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) _exit(255);
    std::string copy = path;
    _exit(seropen(copy.data(), 19200));
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), EACCES);
}

TEST_F(SerialOpenTest, ReturnsEnottyForAFileWithoutLineSettings) {
  char not_a_terminal[] = "/dev/null";
  EXPECT_EQ(seropen(not_a_terminal, 19200), ENOTTY);
}

TEST_F(SerialOpenTest, LeavesAFileWithoutLineSettingsOpenInSerfh) {
  char not_a_terminal[] = "/dev/null";
  ASSERT_EQ(seropen(not_a_terminal, 19200), ENOTTY);
  ASSERT_GE(serfh, 0);
  EXPECT_EQ(serclose(), 0);
}

// Reads `fd` to its end.
std::string read_all(int fd) {
  std::string text;
  char chunk[512];
  ssize_t n = 0;
  while ((n = read(fd, chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<size_t>(n));
  return text;
}

// What seropen() did in the process that open_from_orphaned_background()
// ran it in: its result, errno afterwards, the descriptor it stored and
// what it traced.
struct RefusedOpen {
  int rc = -1;
  int error = -1;
  int fh = -1;
  std::string trace;
};

// Runs seropen(path) with `traced` as debug in a process whose group is an
// orphaned background group of the terminal's session: the terminal lets
// such a process read its settings but refuses to change them (EIO).
RefusedOpen open_from_orphaned_background(const std::string &path, int traced) {
  RefusedOpen result;
  int report[2];
  int trace[2];
  int alive[2];
  if (pipe(report) != 0 || pipe(trace) != 0 || pipe(alive) != 0) {
    ADD_FAILURE() << "no pipes: " << strerror(errno);
    return result;
  }
  // The opener is handed to this process, outside its session, when its
  // parent exits, which orphans its group; this process then reaps it.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  const pid_t leader = fork();
  if (leader == 0) {
    // A new session that takes the terminal as its controlling terminal.
    setsid();
    if (open(path.c_str(), O_RDWR) < 0) _exit(1);
    const pid_t middle = fork();
    if (middle == 0) {
      // A group of its own in the same session, with a child left in it.
      setpgid(0, 0);
      const pid_t parent = getpid();
      if (fork() == 0) {
        while (getppid() == parent) usleep(1000);
        dup2(trace[1], STDERR_FILENO);
        debug = traced;
        std::string copy = path;
        const int rc = seropen(copy.data(), 19200);
        const int facts[4] = {rc, errno, serfh, getpid()};
        if (write(report[1], facts, sizeof facts) != sizeof facts) _exit(1);
        _exit(0);
      }
      _exit(0);
    }
    waitpid(middle, nullptr, 0);
    close(alive[1]);
    close(report[1]);
    close(trace[1]);
    // The session keeps the terminal until the opener has finished.
    char ignored = 0;
    while (read(alive[0], &ignored, 1) > 0) {
    }
    _exit(0);
  }
  close(report[1]);
  close(trace[1]);
  close(alive[0]);
  close(alive[1]);
  int facts[4] = {-1, -1, -1, -1};
  const std::string reported = read_all(report[0]);
  result.trace = read_all(trace[0]);
  close(report[0]);
  close(trace[0]);
  waitpid(leader, nullptr, 0);
  if (reported.size() == sizeof facts) {
    std::memcpy(facts, reported.data(), sizeof facts);
    waitpid(facts[3], nullptr, 0);
  } else {
    ADD_FAILURE() << "the opener reported nothing";
  }
  prctl(PR_SET_CHILD_SUBREAPER, 0);
  result.rc = facts[0];
  result.error = facts[1];
  result.fh = facts[2];
  return result;
}

TEST_F(SerialOpenTest, ReturnsTheErrnoOfTcsetattrWhenTheSettingsAreRefused) {
  const RefusedOpen refused = open_from_orphaned_background(radio_.slave_path(), 0);
  EXPECT_EQ(refused.rc, EIO);
  EXPECT_EQ(refused.error, EIO);
}

TEST_F(SerialOpenTest, TracesRefusedSettingsWithThePerrorLine) {
  const RefusedOpen refused = open_from_orphaned_background(radio_.slave_path(), 1);
  ASSERT_EQ(refused.rc, EIO);
  EXPECT_EQ(refused.trace, lines({
                               "seropen: opening device " + radio_.slave_path(),
                               "seropen: open returned fh " + std::to_string(refused.fh),
                               "seropen: getting current serial device attributes",
                               "tcgetattr returned 0",
                               "seropen: setting serial device attributes",
                               "tcsetattr returned -1",
                               "seropen: Input/output error",
                           }));
}

TEST_F(SerialOpenTest, TracesASuccessfulOpen) {
  std::string path = radio_.slave_path();
  debug = 1;
  const std::string trace = stderr_of([&] { ASSERT_EQ(seropen(path.data(), 19200), 0); });
  EXPECT_EQ(trace, lines({
                       "seropen: opening device " + path,
                       "seropen: open returned fh " + std::to_string(serfh),
                       "seropen: getting current serial device attributes",
                       "tcgetattr returned 0",
                       "seropen: setting serial device attributes",
                       "tcsetattr returned 0",
                   }));
}

TEST_F(SerialOpenTest, TracesAFailedOpenWithThePerrorLine) {
  char missing[] = "/nonexistent/radioline/ttyUSB9";
  debug = 1;
  const std::string trace = stderr_of([&] { seropen(missing, 19200); });
  EXPECT_EQ(trace,
            "seropen: opening device /nonexistent/radioline/ttyUSB9\n"
            "seropen: open returned fh -1\n"
            "seropen: No such file or directory\n");
}

TEST_F(SerialOpenTest, TracesUnreadableSettingsWithoutAPerrorLine) {
  char not_a_terminal[] = "/dev/null";
  debug = 1;
  const std::string trace = stderr_of([&] { seropen(not_a_terminal, 19200); });
  EXPECT_EQ(trace, lines({
                       "seropen: opening device /dev/null",
                       "seropen: open returned fh " + std::to_string(serfh),
                       "seropen: getting current serial device attributes",
                       "tcgetattr returned -1",
                   }));
}

TEST_F(SerialOpenTest, KeepsTheDevicesControlCharacters) {
  const int own = open(radio_.slave_path().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(own, 0) << strerror(errno);
  termios before = settings_of(own);
  before.c_cc[VINTR] = 1;
  before.c_cc[VMIN] = 7;
  before.c_cc[VTIME] = 3;
  ASSERT_EQ(tcsetattr(own, TCSANOW, &before), 0);
  ASSERT_EQ(open_line(19200), 0);
  const termios after = settings_of(own);
  close(own);
  for (size_t i = 0; i < NCCS; i++) EXPECT_EQ(after.c_cc[i], before.c_cc[i]) << "c_cc[" << i << "]";
}

// ---------------------------------------------------------------------------
// seropen: the line settings it leaves on the device.
// ---------------------------------------------------------------------------

using LineSettingsTest = LineTest;

TEST_F(LineSettingsTest, SetsOnlyIgnbrkAndIgnparAmongTheInputFlags) {
  EXPECT_EQ(settings_of(serfh).c_iflag, static_cast<tcflag_t>(IGNBRK | IGNPAR));
}

TEST_F(LineSettingsTest, ClearsEveryOutputFlag) {
  EXPECT_EQ(settings_of(serfh).c_oflag, 0u);
}

TEST_F(LineSettingsTest, SetsOnlyCs8CreadHupclAndClocalAmongTheControlFlags) {
  EXPECT_EQ(settings_of(serfh).c_cflag & ~kSpeedBits,
            static_cast<tcflag_t>(CS8 | CREAD | HUPCL | CLOCAL));
}

TEST_F(LineSettingsTest, ClearsEveryLocalFlag) {
  EXPECT_EQ(settings_of(serfh).c_lflag, 0u);
}

TEST_F(LineSettingsTest, SetsTheInputSpeedToTheRequestedRate) {
  const termios settings = settings_of(serfh);
  EXPECT_EQ(cfgetispeed(&settings), static_cast<speed_t>(B19200));
}

TEST_F(LineSettingsTest, SetsTheOutputSpeedToTheRequestedRate) {
  const termios settings = settings_of(serfh);
  EXPECT_EQ(cfgetospeed(&settings), static_cast<speed_t>(B19200));
}

// ---------------------------------------------------------------------------
// seropen: baud rates.
// ---------------------------------------------------------------------------

class SupportedBaudRateTest : public DeviceTest,
                              public ::testing::WithParamInterface<std::pair<int, speed_t>> {};

TEST_P(SupportedBaudRateTest, SetsBothSpeedsToTheMatchingConstant) {
  ASSERT_EQ(open_line(GetParam().first), 0);
  const termios settings = settings_of(serfh);
  EXPECT_EQ(cfgetispeed(&settings), GetParam().second);
  EXPECT_EQ(cfgetospeed(&settings), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(
    EveryTerminalSpeed, SupportedBaudRateTest,
    ::testing::Values(std::make_pair(50, B50), std::make_pair(75, B75), std::make_pair(110, B110),
                      std::make_pair(134, B134), std::make_pair(150, B150),
                      std::make_pair(200, B200), std::make_pair(300, B300),
                      std::make_pair(600, B600), std::make_pair(1200, B1200),
                      std::make_pair(1800, B1800), std::make_pair(2400, B2400),
                      std::make_pair(4800, B4800), std::make_pair(9600, B9600),
                      std::make_pair(19200, B19200), std::make_pair(38400, B38400),
                      std::make_pair(57600, B57600), std::make_pair(115200, B115200),
                      std::make_pair(230400, B230400), std::make_pair(460800, B460800),
                      std::make_pair(500000, B500000), std::make_pair(576000, B576000),
                      std::make_pair(921600, B921600), std::make_pair(1000000, B1000000),
                      std::make_pair(1152000, B1152000), std::make_pair(1500000, B1500000),
                      std::make_pair(2000000, B2000000), std::make_pair(2500000, B2500000),
                      std::make_pair(3000000, B3000000), std::make_pair(3500000, B3500000),
                      std::make_pair(4000000, B4000000)),
    [](const ::testing::TestParamInfo<std::pair<int, speed_t>> &info) {
      return "Baud" + std::to_string(info.param.first);
    });

class UnsupportedBaudRateTest : public DeviceTest, public ::testing::WithParamInterface<int> {};

TEST_P(UnsupportedBaudRateTest, FailsWithEinvalAndSetsErrno) {
  errno = 0;
  EXPECT_EQ(open_line(GetParam()), EINVAL);
  EXPECT_EQ(errno, EINVAL);
}

TEST_P(UnsupportedBaudRateTest, LeavesTheLineSettingsAsTheyWere) {
  const int own = open(radio_.slave_path().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(own, 0) << strerror(errno);
  const termios before = settings_of(own);
  ASSERT_EQ(open_line(GetParam()), EINVAL);
  const termios after = settings_of(own);
  close(own);
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  EXPECT_EQ(after.c_oflag, before.c_oflag);
  EXPECT_EQ(after.c_cflag, before.c_cflag);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
}

INSTANTIATE_TEST_SUITE_P(NumbersWithoutASpeedConstant, UnsupportedBaudRateTest,
                         ::testing::Values(12345, 19201, 4000001, 0, -19200),
                         [](const ::testing::TestParamInfo<int> &info) {
                           return (info.param < 0 ? "Minus" : "") +
                                  std::to_string(info.param < 0 ? -info.param : info.param);
                         });

// ---------------------------------------------------------------------------
// serclose.
// ---------------------------------------------------------------------------

TEST(SerialCloseBeforeOpenTest, ReturnsMinusTwoBeforeAnyOpen) {
  // A fresh process, so that no earlier test has opened anything; the exit
  // status carries serclose's result without its sign.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(_exit(-serclose()), ::testing::ExitedWithCode(2), "");
}

using SerialCloseTest = LineTest;

TEST_F(SerialCloseTest, ClosesTheDescriptor) {
  const int fd = serfh;
  ASSERT_EQ(serclose(), 0);
  errno = 0;
  EXPECT_EQ(fcntl(fd, F_GETFD), -1);
  EXPECT_EQ(errno, EBADF);
}

TEST_F(SerialCloseTest, SetsSerfhBackToMinusTwo) {
  ASSERT_EQ(serclose(), 0);
  EXPECT_EQ(serfh, -2);
}

TEST_F(SerialCloseTest, ReturnsMinusTwoWhenCalledASecondTime) {
  ASSERT_EQ(serclose(), 0);
  EXPECT_EQ(serclose(), -2);
}

TEST_F(SerialCloseTest, LeavesADescriptorThatReusedTheNumberOpenOnASecondClose) {
  const int fd = serfh;
  ASSERT_EQ(serclose(), 0);
  // Something else opens a file and gets the same number.
  const int other = open("/dev/null", O_RDONLY);
  if (other != fd) {
    ASSERT_EQ(dup2(other, fd), fd);
    close(other);
  }
  serclose();
  EXPECT_NE(fcntl(fd, F_GETFD), -1) << "the second serclose closed " << fd;
  close(fd);
}

TEST_F(SerialCloseTest, ReturnsMinusOneWithErrnoWhenCloseFails) {
  ScopedSerfh closed(unused_descriptor());
  errno = 0;
  EXPECT_EQ(serclose(), -1);
  EXPECT_EQ(errno, EBADF);
}

TEST_F(SerialCloseTest, TracesTheClose) {
  debug = 1;
  EXPECT_EQ(stderr_of([] { serclose(); }), "serclose: closing serial device\n");
}

TEST_F(SerialCloseTest, TracesNothingWithNoDeviceOpen) {
  ASSERT_EQ(serclose(), 0);
  debug = 1;
  EXPECT_EQ(stderr_of([] { serclose(); }), "");
}

// ---------------------------------------------------------------------------
// rawcharout.
// ---------------------------------------------------------------------------

using RawOutTest = LineTest;

TEST_F(RawOutTest, WritesFfAsOneRawByte) {
  ASSERT_EQ(rawcharout(0xFF), 0);
  EXPECT_EQ(radio_.take(), hex("FF"));
}

TEST_F(RawOutTest, TracesTheWrite) {
  debug = 1;
  EXPECT_EQ(stderr_of([] { rawcharout(0x5A); }),
            "rawcharout: writing 5a\n"
            "rawcharout: write returned 1\n");
}

TEST_F(RawOutTest, RefusesANegativeSerfhWithEbadf) {
  {
    ScopedSerfh none(-1);
    errno = 0;
    EXPECT_EQ(rawcharout(0x41), EBADF);
    EXPECT_EQ(errno, EBADF);
  }
  EXPECT_EQ(radio_.take(), Bytes{});
}

TEST_F(RawOutTest, RefusesSerfh5000WithEbadf) {
  ScopedSerfh beyond(kBeyondSelectSet);
  errno = 0;
  EXPECT_EQ(rawcharout(0x41), EBADF);
  EXPECT_EQ(errno, EBADF);
}

// Puts the line's descriptor also at kBeyondSelectSet, raising the limit on
// descriptors if it has to; false when the system does not allow it.
bool duplicate_beyond_select_set() {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  if (limit.rlim_cur <= static_cast<rlim_t>(kBeyondSelectSet)) {
    if (limit.rlim_max <= static_cast<rlim_t>(kBeyondSelectSet)) return false;
    limit.rlim_cur = kBeyondSelectSet + 1;
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
  }
  return dup2(serfh, kBeyondSelectSet) == kBeyondSelectSet;
}

TEST_F(RawOutTest, WritesNothingThroughAnOpenDescriptorBeyondTheSelectSet) {
  if (!duplicate_beyond_select_set()) GTEST_SKIP() << "cannot open descriptor " << kBeyondSelectSet;
  {
    ScopedSerfh beyond(kBeyondSelectSet);
    EXPECT_EQ(rawcharout(0x41), EBADF);
  }
  close(kBeyondSelectSet);
  EXPECT_EQ(radio_.take(), Bytes{});
}

TEST_F(RawOutTest, ReturnsEioOnceTheLineHasHungUp) {
  radio_.hang_up();
  errno = 0;
  EXPECT_EQ(rawcharout(0x41), EIO);
  EXPECT_EQ(errno, EIO);
}

TEST_F(RawOutTest, TracesAFailedWriteWithThePerrorLine) {
  radio_.hang_up();
  debug = 1;
  EXPECT_EQ(stderr_of([] { rawcharout(0x41); }),
            "rawcharout: writing 41\n"
            "rawcharout: write returned -1\n"
            "rawcharout: Input/output error\n");
}

// ---------------------------------------------------------------------------
// rawcharin.
// ---------------------------------------------------------------------------

using RawInTest = LineTest;

// What *c holds before a call that must not store into it.
constexpr unsigned char kUntouched = 0x5A;

TEST_F(RawInTest, ReadsOneByte) {
  radio_.send(hex("42 43"));
  unsigned char c = 0;
  ASSERT_EQ(rawcharin(&c), 0);
  EXPECT_EQ(c, 0x42);
}

TEST_F(RawInTest, TracesTheRead) {
  radio_.send(hex("42"));
  unsigned char c = 0;
  debug = 1;
  EXPECT_EQ(stderr_of([&] { rawcharin(&c); }), rawcharin_trace());
}

TEST_F(RawInTest, TimesOutAfterFiveSecondsOfSilence) {
  unsigned char c = kUntouched;
  errno = 0;
  EXPECT_EQ(rawcharin(&c), ETIMEDOUT);
  EXPECT_EQ(errno, ETIMEDOUT);
  EXPECT_EQ(c, kUntouched);
}

TEST_F(RawInTest, ReturnsEpipeAtEndOfFile) {
  FinishedLine finished;
  ScopedSerfh line(finished.fd());
  unsigned char c = kUntouched;
  errno = 0;
  EXPECT_EQ(rawcharin(&c), EPIPE);
  EXPECT_EQ(errno, EPIPE);
}

TEST_F(RawInTest, ReturnsEpipeOnceTheLineHasHungUp) {
  radio_.hang_up();
  unsigned char c = kUntouched;
  EXPECT_EQ(rawcharin(&c), EPIPE);
}

TEST_F(RawInTest, TracesEndOfFileWithoutAPerrorLine) {
  FinishedLine finished;
  ScopedSerfh line(finished.fd());
  unsigned char c = 0;
  debug = 1;
  EXPECT_EQ(stderr_of([&] { rawcharin(&c); }),
            "rawcharin: calling select\n"
            "rawcharin: select returned 1\n"
            "rawcharin: reading a character\n"
            "rawcharin: read returned 0\n");
}

TEST_F(RawInTest, ReturnsTheErrnoOfAFailingRead) {
  const int directory = open(".", O_RDONLY | O_DIRECTORY);
  ASSERT_GE(directory, 0) << strerror(errno);
  unsigned char c = kUntouched;
  int rc = 0;
  errno = 0;
  {
    ScopedSerfh line(directory);
    rc = rawcharin(&c);
  }
  const int error = errno;
  close(directory);
  EXPECT_EQ(rc, EISDIR);
  EXPECT_EQ(error, EISDIR);
}

TEST_F(RawInTest, TracesAFailedReadWithThePerrorLine) {
  const int directory = open(".", O_RDONLY | O_DIRECTORY);
  ASSERT_GE(directory, 0) << strerror(errno);
  unsigned char c = 0;
  std::string trace;
  debug = 1;
  {
    ScopedSerfh line(directory);
    trace = stderr_of([&] { rawcharin(&c); });
  }
  close(directory);
  EXPECT_EQ(trace,
            "rawcharin: calling select\n"
            "rawcharin: select returned 1\n"
            "rawcharin: reading a character\n"
            "rawcharin: read returned -1\n"
            "rawcharin: Is a directory\n");
}

TEST_F(RawInTest, RefusesANegativeSerfhWithEbadfAndReadsNothing) {
  radio_.send(hex("42"));
  unsigned char c = kUntouched;
  {
    ScopedSerfh none(-1);
    errno = 0;
    EXPECT_EQ(rawcharin(&c), EBADF);
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(c, kUntouched);
  }
  ASSERT_EQ(rawcharin(&c), 0);
  EXPECT_EQ(c, 0x42) << "the waiting byte was consumed";
}

TEST_F(RawInTest, RefusesSerfh5000WithEbadf) {
  ScopedSerfh beyond(kBeyondSelectSet);
  unsigned char c = kUntouched;
  errno = 0;
  EXPECT_EQ(rawcharin(&c), EBADF);
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(c, kUntouched);
}

TEST_F(RawInTest, ReadsNothingThroughAnOpenDescriptorBeyondTheSelectSet) {
  if (!duplicate_beyond_select_set()) GTEST_SKIP() << "cannot open descriptor " << kBeyondSelectSet;
  radio_.send(hex("42"));
  unsigned char c = kUntouched;
  {
    ScopedSerfh beyond(kBeyondSelectSet);
    EXPECT_EQ(rawcharin(&c), EBADF);
  }
  close(kBeyondSelectSet);
  EXPECT_EQ(c, kUntouched);
  ASSERT_EQ(rawcharin(&c), 0);
  EXPECT_EQ(c, 0x42) << "the waiting byte was consumed";
}

TEST_F(RawInTest, ReturnsTheErrnoOfAFailingSelect) {
  ScopedSerfh closed(unused_descriptor());
  unsigned char c = kUntouched;
  debug = 1;
  int rc = 0;
  const std::string trace = stderr_of([&] { rc = rawcharin(&c); });
  EXPECT_EQ(rc, EBADF);
  EXPECT_EQ(trace,
            "rawcharin: calling select\n"
            "rawcharin: select returned -1\n"
            "rawcharin: Bad file descriptor\n");
}

// Keeps sending SIGUSR1, whose handler does not ask for restarts, to the
// thread that made it until it is destroyed, so that a signal is sure to
// land while that thread waits in select().
class Interrupter {
 public:
  Interrupter() : target_(pthread_self()) {
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGUSR1, &action, &saved_);
    sender_ = std::thread([this] {
      while (!done_) {
        pthread_kill(target_, SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
  }
  ~Interrupter() {
    done_ = true;
    sender_.join();
    sigaction(SIGUSR1, &saved_, nullptr);
  }
  Interrupter(const Interrupter &) = delete;
  Interrupter &operator=(const Interrupter &) = delete;

 private:
  pthread_t target_;
  struct sigaction saved_ {};
  std::atomic<bool> done_{false};
  std::thread sender_;
};

TEST_F(RawInTest, ReturnsEintrWhenASignalInterruptsTheWait) {
  unsigned char c = kUntouched;
  int rc = 0;
  int error = 0;
  {
    Interrupter interrupter;
    errno = 0;
    rc = rawcharin(&c);
    error = errno;
  }
  EXPECT_EQ(rc, EINTR);
  EXPECT_EQ(error, EINTR);
  EXPECT_EQ(c, kUntouched);
}

TEST_F(RawInTest, TracesAnInterruptedWaitAndDoesNotRead) {
  unsigned char c = kUntouched;
  debug = 1;
  std::string trace;
  {
    Interrupter interrupter;
    trace = stderr_of([&] { rawcharin(&c); });
  }
  EXPECT_EQ(trace,
            "rawcharin: calling select\n"
            "rawcharin: select returned -1\n"
            "rawcharin: Interrupted system call\n");
}

// ---------------------------------------------------------------------------
// Eight-bit transparency of the line seropen() sets up.
// ---------------------------------------------------------------------------

using TransparencyTest = LineTest;

Bytes every_byte_value() {
  Bytes all;
  for (int b = 0; b < 256; b++) all.push_back(static_cast<unsigned char>(b));
  return all;
}

TEST_F(TransparencyTest, PassesEveryByteValueFromTheLibraryToTheRadio) {
  for (unsigned char b : every_byte_value()) ASSERT_EQ(rawcharout(b), 0);
  EXPECT_EQ(radio_.take(), every_byte_value());
}

TEST_F(TransparencyTest, PassesEveryByteValueFromTheRadioToTheLibrary) {
  radio_.send(every_byte_value());
  Bytes got;
  for (int i = 0; i < 256; i++) {
    unsigned char c = 0;
    ASSERT_EQ(rawcharin(&c), 0) << "after " << got.size() << " bytes";
    got.push_back(c);
  }
  EXPECT_EQ(got, every_byte_value());
}

TEST_F(TransparencyTest, EchoesNothingTheRadioSends) {
  radio_.send(every_byte_value());
  for (int i = 0; i < 256; i++) {
    unsigned char c = 0;
    ASSERT_EQ(rawcharin(&c), 0);
  }
  EXPECT_EQ(radio_.take(), Bytes{});
}

TEST_F(TransparencyTest, KeepsSendingAfterTheRadioSendsXoff) {
  radio_.send(hex("13"));
  unsigned char c = 0;
  ASSERT_EQ(rawcharin(&c), 0);
  ASSERT_EQ(rawcharout(0x41), 0);
  EXPECT_EQ(radio_.take(), hex("41"));
}

// ---------------------------------------------------------------------------
// Silence with debug off.
// ---------------------------------------------------------------------------

using SilenceTest = DeviceTest;

TEST_F(SilenceTest, WritesNothingAnywhereWithDebugOff) {
  const std::string output = output_of([&] {
    char missing[] = "/nonexistent/radioline/ttyUSB9";
    seropen(missing, 19200);
    serclose();
    open_line(12345);
    serclose();
    open_line(19200);
    radio_.send(hex("42"));
    unsigned char c = 0;
    rawcharout(0xFF);
    rawcharin(&c);
    {
      ScopedSerfh none(-1);
      rawcharout(0x41);
      rawcharin(&c);
    }
    radio_.hang_up();
    rawcharout(0x41);
    rawcharin(&c);
    serclose();
    serclose();
  });
  EXPECT_EQ(output, "");
}

}  // namespace
