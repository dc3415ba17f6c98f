// SPDX-License-Identifier: MIT
// radioprobe as a process: the request it sends, what it prints, its arguments and exit status.
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "kit.h"
#include "radioline.h"

namespace {

// Runs in the child: mounts a private, empty /dev that only the child sees,
// puts the probe's fixed device in it as a link to `device` (a path, or
// nullptr for none), then becomes the probe; exits 127 if it cannot.
[[noreturn]] void becomeProbe(const char *device) {
  if (unshare(CLONE_NEWNS) == 0 &&
      mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
      mount("tmpfs", "/dev", "tmpfs", 0, "mode=0755") == 0 && mkdir("/dev/usb", 0755) == 0 &&
      (device == nullptr || symlink(device, "/dev/usb/ttyUSB1") == 0)) {
    execl(RADIOPROBE_PATH, "radioprobe", static_cast<char *>(nullptr));
  }
  std::perror("cannot start the probe in a private /dev");
  _exit(127);
}

// What a run of the probe printed and its exit status (-1 if it did not exit).
struct ProbeRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs `child` in a child process that must end in _exit or exec, with
// standard output and error captured.
template <typename Child>
ProbeRun runCaptured(Child child) {
  std::fflush(nullptr);
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  const pid_t pid = fork();
  if (pid == 0) child();
  int status = -1;  // a failed fork or setup fails the test by its status and output
  if (pid > 0) waitpid(pid, &status, 0);
  ProbeRun run;
  run.err = ::testing::internal::GetCapturedStderr();
  run.out = ::testing::internal::GetCapturedStdout();
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST(ProbeArguments, VersionIsPrintedAndAnyOtherArgumentIsAUsageError) {
  const char *const usage = "radioprobe: unexpected argument\nusage: radioprobe [--version]\n";
  // Arguments, exit status, standard output, standard error.
  const std::tuple<std::vector<const char *>, int, std::string, std::string> runs[] = {
      {{"--version"}, 0, "radioprobe " RADIOLINE_VERSION "\n", ""},
      {{"--help"}, 2, "", usage},
      {{"--version", "x"}, 2, "", usage},
  };
  for (const auto &[args, status, out, err] : runs) {
    SCOPED_TRACE(args.back());
    std::vector<const char *> argv{"radioprobe"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(nullptr);
    const ProbeRun run = runCaptured([&] {
      execv(RADIOPROBE_PATH, const_cast<char *const *>(argv.data()));
      _exit(127);
    });
    EXPECT_EQ(run.status, status);
    EXPECT_EQ(run.out, out);
    EXPECT_EQ(run.err, err);
  }
}

// Whether a child may have a mount namespace of its own with private mounts.
bool privateMountsAllowed() {
  const pid_t child = fork();
  if (child == 0) {
    _exit(unshare(CLONE_NEWNS) != 0 ||
          mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0);
  }
  int status = 0;
  return child > 0 && waitpid(child, &status, 0) == child && status == 0;
}

// Plays the radio for radioprobe: the test has the radio answer the probe's
// request, runs the probe, then looks at what it printed. The probe reaches
// the line the library holds open by its descriptor number.
class ProbeTest : public LineTest {
 protected:
  void SetUp() override {
    if (!privateMountsAllowed()) {
      GTEST_SKIP()
          << "needs a private mount namespace (root or CAP_SYS_ADMIN) to give the probe its device";
    }
    LineTest::SetUp();
  }

  void TearDown() override {
    LineTest::TearDown();
    EXPECT_EQ(access("/dev/null", F_OK), 0) << "the probe's private /dev leaked out";
  }

  // Runs the probe with its fixed device linked to the line, or missing.
  static ProbeRun runProbe(bool with_device) {
    const std::string device = "/proc/self/fd/" + std::to_string(serfh);
    return runCaptured([&] { becomeProbe(with_device ? device.c_str() : nullptr); });
  }
};

TEST_F(ProbeTest,
       SendsTheVersionRequestThenPrintsTheReplyOrTheFailingStepWaitingOutTheTimeoutOnce) {
  Bytes long_reply = hex("FE FE 91 20");
  long_reply.insert(long_reply.end(), 40, 0x41);
  long_reply.push_back(0xFD);
  std::string thirty_two;
  for (int i = 0; i < 32; i++) thirty_two += "<< 41 ";
  // With the device?, the radio's answer to the request, exit status, standard output, standard
  // error.
  const std::tuple<bool, Bytes, int, const char *, std::string> runs[] = {
      {true, hex("FE FE 91 20 AA 82 56 31 2E 30 FD"), 0, "\n",
       "<< aa << 82 << 56 << 31 << 2e << 30 "},
      {true, hex("FE FE 91 20 FD"), 0, "\n", ""},
      {false, {}, 1, "", "rc=" + std::to_string(ENOENT) + " from seropen\n"},
      {true, {}, 1, "", "rc " + std::to_string(ETIMEDOUT) + " from rcvresp\n"},  // after 5 s
      {true, long_reply, 0, "\n", thirty_two},  // at most 32 bytes, the rest left on the line
  };
  const Bytes request = hex("FE FE 20 91 AA 02 FD");
  for (const auto &[with_device, reply, status, out, err] : runs) {
    SCOPED_TRACE(err);
    ProbeRun run;
    if (reply.empty()) {
      run = runProbe(with_device);
      EXPECT_EQ(radio_.take(), with_device ? request : Bytes{});
    } else {
      RadioAnswer answer(radio_, request, reply);
      run = runProbe(with_device);
    }
    EXPECT_EQ(run.status, status);
    EXPECT_EQ(run.out, out);
    EXPECT_EQ(run.err, err);
  }
}

}  // namespace
