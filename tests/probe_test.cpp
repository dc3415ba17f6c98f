// SPDX-License-Identifier: MIT
// radioprobe as a process: the request it sends, what it prints and its exit status.
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "pty_radio.h"
#include "radioline.h"

namespace {

// The device the probe always opens, and the directory that holds it.
constexpr char kDeviceDir[] = "/dev/usb";
constexpr char kDevice[] = "/dev/usb/ttyUSB1";

bool exists(const char *path) {
  struct stat info {};
  return lstat(path, &info) == 0;
}

// Reads `fd` to its end.
std::string read_all(int fd) {
  std::string text;
  char chunk[512];
  ssize_t n = 0;
  while ((n = read(fd, chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<size_t>(n));
  return text;
}

// What the child reports through its status pipe when it cannot become the
// probe: the step that failed and its errno. A successful exec closes the
// pipe and reports nothing.
struct SetupFailure {
  char step[48];
  int error;
};

// Everything the child needs, prepared before the fork so that the child
// only makes system calls.
struct ProbeSetup {
  bool with_device;       // link the device to the pseudo-terminal
  bool dev_usb_exists;    // hide the real /dev/usb rather than make one
  const char *slave;      // the pseudo-terminal the device links to
  const char *pts_stash;  // where /dev/pts waits while /dev is replaced
  int out;                // the probe's standard output
  int err;                // the probe's standard error
  int status;             // close-on-exec pipe for a SetupFailure
};

[[noreturn]] void fail_setup(const ProbeSetup &setup, const char *step) {
  SetupFailure failure{};
  std::strncpy(failure.step, step, sizeof failure.step - 1);
  failure.error = errno;
  if (write(setup.status, &failure, sizeof failure) != sizeof failure) _exit(126);
  _exit(127);
}

// Runs in the child: gives it a private view of /dev in which the probe's
// device is the test's pseudo-terminal (or missing), then becomes the probe.
// Nothing here is visible outside the child's own mount namespace.
[[noreturn]] void become_probe(const ProbeSetup &setup) {
  if (dup2(setup.out, STDOUT_FILENO) < 0 || dup2(setup.err, STDERR_FILENO) < 0) {
    fail_setup(setup, "redirect the output");
  }
  if (unshare(CLONE_NEWNS) != 0) fail_setup(setup, "unshare the mount namespace");
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    fail_setup(setup, "make the mounts private");
  }
  if (setup.dev_usb_exists) {
    if (mount("tmpfs", kDeviceDir, "tmpfs", 0, "mode=0755") != 0)
      fail_setup(setup, "hide /dev/usb");
  } else {
    if (mount("/dev/pts", setup.pts_stash, nullptr, MS_BIND | MS_REC, nullptr) != 0) {
      fail_setup(setup, "stash /dev/pts");
    }
    if (mount("tmpfs", "/dev", "tmpfs", 0, "mode=0755") != 0)
      fail_setup(setup, "mount a tmpfs on /dev");
    if (mkdir("/dev/pts", 0755) != 0) fail_setup(setup, "make /dev/pts");
    if (mount(setup.pts_stash, "/dev/pts", nullptr, MS_MOVE, nullptr) != 0) {
      fail_setup(setup, "move /dev/pts back");
    }
    if (mkdir(kDeviceDir, 0755) != 0) fail_setup(setup, "make /dev/usb");
  }
  if (setup.with_device && symlink(setup.slave, kDevice) != 0) fail_setup(setup, "link the device");
  execl(RADIOPROBE_PATH, "radioprobe", static_cast<char *>(nullptr));
  fail_setup(setup, "exec the probe");
}

// Whether this process may give a child a mount namespace of its own with
// private mounts; the child tries and reports through its exit status.
bool private_mounts_allowed() {
  const pid_t child = fork();
  if (child == 0) {
    const bool allowed = unshare(CLONE_NEWNS) == 0 &&
                         mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    _exit(allowed ? 0 : 1);
  }
  int status = 0;
  return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

// How one run of the probe ended.
struct ProbeRun {
  int status = -1;  // exit status, -1 if it did not exit normally
  std::string out;
  std::string err;
};

// Plays the radio for radioprobe: the test queues the radio's bytes, runs
// the probe, then looks at what it wrote to the line and printed.
class ProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dev_usb_existed_ = exists(kDeviceDir);
    if (!private_mounts_allowed()) {
      GTEST_SKIP() << "needs a private mount namespace (root or CAP_SYS_ADMIN) "
                      "to give the probe its device";
    }
    // Holding the terminal open in raw mode keeps the radio's queued bytes
    // as they were sent until the probe reads them.
    slave_ = open(radio_.slave_path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave_, 0) << strerror(errno);
    termios raw{};
    ASSERT_EQ(tcgetattr(slave_, &raw), 0);
    cfmakeraw(&raw);
    ASSERT_EQ(tcsetattr(slave_, TCSANOW, &raw), 0);
  }

  void TearDown() override {
    if (slave_ >= 0) close(slave_);
    EXPECT_EQ(exists(kDeviceDir), dev_usb_existed_) << "the real /dev changed";
  }

  // Runs the probe with its device linked to the test's terminal, or with no
  // device at all. Skips the test where mount namespaces are not allowed.
  ProbeRun run_probe(bool with_device) {
    ProbeRun run;
    char stash[] = "/tmp/radioprobe-pts-XXXXXX";
    if (mkdtemp(stash) == nullptr) {
      ADD_FAILURE() << "mkdtemp: " << strerror(errno);
      return run;
    }
    int out[2];
    int err[2];
    int status[2];
    if (pipe(out) != 0 || pipe(err) != 0 || pipe2(status, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "pipe: " << strerror(errno);
      return run;
    }
    const std::string slave = radio_.slave_path();
    const ProbeSetup setup{with_device, dev_usb_existed_, slave.c_str(), stash,
                           out[1],      err[1],           status[1]};
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) become_probe(setup);
    close(out[1]);
    close(err[1]);
    close(status[1]);
    // The probe prints a few hundred bytes at most, far less than a pipe
    // holds, so it never waits for these reads.
    int wait_status = 0;
    const pid_t waited = waitpid(child, &wait_status, 0);
    run.out = read_all(out[0]);
    run.err = read_all(err[0]);
    const std::string failure = read_all(status[0]);
    close(out[0]);
    close(err[0]);
    close(status[0]);
    rmdir(stash);
    if (waited != child || child < 0) {
      ADD_FAILURE() << "fork or waitpid failed: " << strerror(errno);
      return run;
    }
    if (failure.size() == sizeof(SetupFailure)) {
      SetupFailure reported{};
      std::memcpy(&reported, failure.data(), sizeof reported);
      ADD_FAILURE() << "could not start the probe: " << reported.step << ": "
                    << strerror(reported.error);
      return run;
    }
    if (WIFEXITED(wait_status)) run.status = WEXITSTATUS(wait_status);
    return run;
  }

  PtyRadio radio_;
  int slave_ = -1;
  bool dev_usb_existed_ = false;
};

TEST_F(ProbeTest, SendsTheFirmwareVersionRequest) {
  radio_.send(hex("FE FE 91 20 AA 82 FD"));
  run_probe(true);
  EXPECT_EQ(radio_.take(), hex("FE FE 20 91 AA 02 FD"));
}

TEST_F(ProbeTest, PrintsEveryReplyByteOnStandardError) {
  radio_.send(hex("FE FE 91 20 AA 82 56 31 2E 30 FD"));
  const ProbeRun run = run_probe(true);
  EXPECT_EQ(run.err, "<< aa << 82 << 56 << 31 << 2e << 30 ");
}

TEST_F(ProbeTest, PrintsAnEmptyLineOnStandardOutputAfterAReply) {
  radio_.send(hex("FE FE 91 20 AA 82 56 31 FD"));
  const ProbeRun run = run_probe(true);
  EXPECT_EQ(run.out, "\n");
}

TEST_F(ProbeTest, ExitsWithStatusZeroAfterAReply) {
  radio_.send(hex("FE FE 91 20 AA 82 56 31 FD"));
  const ProbeRun run = run_probe(true);
  EXPECT_EQ(run.status, 0);
}

TEST_F(ProbeTest, PrintsAtMostThirtyTwoReplyBytes) {
  Bytes reply = hex("FE FE 91 20 AA 82");
  std::string expected = "<< aa << 82 ";
  for (int i = 0; i < 38; i++) {
    reply.push_back(static_cast<unsigned char>('A' + i % 26));
    if (i < 30) {
      char item[8];
      std::snprintf(item, sizeof item, "<< %02x ", 'A' + i % 26);
      expected += item;
    }
  }
  reply.push_back(0xFD);
  radio_.send(reply);
  const ProbeRun run = run_probe(true);
  EXPECT_EQ(run.err, expected);
}

TEST_F(ProbeTest, PrintsOnlyAnEmptyLineForAnEmptyBody) {
  radio_.send(hex("FE FE 91 20 FD"));
  const ProbeRun run = run_probe(true);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, "\n");
}

TEST_F(ProbeTest, ReportsAMissingDevice) {
  const ProbeRun run = run_probe(false);
  EXPECT_EQ(run.err, "rc=" + std::to_string(ENOENT) + " from seropen\n");
  EXPECT_EQ(run.out, "");
}

TEST_F(ProbeTest, ExitsWithStatusOneWhenTheDeviceIsMissing) {
  const ProbeRun run = run_probe(false);
  EXPECT_EQ(run.status, 1);
}

TEST_F(ProbeTest, ReportsASilentLineAfterFiveSecondsAndExitsWithStatusOne) {
  const ProbeRun run = run_probe(true);
  EXPECT_EQ(run.err, "rc " + std::to_string(ETIMEDOUT) + " from rcvresp\n");
  EXPECT_EQ(run.status, 1);
}

}  // namespace
