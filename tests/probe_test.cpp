// SPDX-License-Identifier: MIT
// radioprobe as a process: the request it sends, what it prints, its arguments and exit status.
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <tuple>

#include "kit.h"

namespace {

// What a run of the probe printed and its exit status (-1 if it did not exit).
struct ProbeRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the probe in a child with standard output and error captured. The
// child first mounts a private, empty /dev and puts the probe's fixed device
// there as a link to `device` (none when empty).
ProbeRun runProbe(const char *arg, const std::string &device) {
  std::fflush(nullptr);
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  const pid_t pid = fork();
  if (pid == 0) {
    if (unshare(CLONE_NEWNS) == 0 &&
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
        mount("tmpfs", "/dev", "tmpfs", 0, "mode=0755") == 0 && mkdir("/dev/usb", 0755) == 0 &&
        (device.empty() || symlink(device.c_str(), "/dev/usb/ttyUSB1") == 0)) {
      execl(RADIOPROBE_PATH, "radioprobe", arg, static_cast<char *>(nullptr));
    }
    _exit(127);
  }
  int status = -1;
  if (pid > 0) waitpid(pid, &status, 0);
  ProbeRun run;
  run.err = ::testing::internal::GetCapturedStderr();
  run.out = ::testing::internal::GetCapturedStdout();
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// The probe reaches the line the library holds open by its descriptor number.
using Probe = LineTest;

TEST_F(Probe, PrintsTheReplyOrTheFailingStepAndWaitsOutTheTimeoutOnce) {
  if (runProbe(nullptr, "").status == 127) GTEST_SKIP() << "needs a private mount namespace";
  const std::string device = "/proc/self/fd/" + std::to_string(serfh);
  std::string forty = "41", thirty_two;
  for (int i = 1; i < 40; i++) forty += " 41";
  for (int i = 0; i < 32; i++) thirty_two += "<< 41 ";
  // The argument, with the device?, the radio's answer, exit status, standard output and error.
  // The time-out row waits 5 s; of the long answer, 32 bytes are read and the rest left.
  const std::tuple<const char *, bool, Bytes, int, const char *, std::string> runs[] = {
      {nullptr, true, reply("AA 82 56 31 2E 30"), 0, "\n", "<< aa << 82 << 56 << 31 << 2e << 30 "},
      {nullptr, true, reply(""), 0, "\n", ""},
      {"-x", false, {}, 2, "", "radioprobe: unexpected argument\nusage: radioprobe [--version]\n"},
      {nullptr, false, {}, 1, "", "rc=" + std::to_string(ENOENT) + " from seropen\n"},
      {nullptr, true, {}, 1, "", "rc " + std::to_string(ETIMEDOUT) + " from rcvresp\n"},
      {nullptr, true, reply(forty), 0, "\n", thirty_two},
  };
  for (const auto &[arg, with_device, answer, status, out, err] : runs) {
    ProbeRun run;
    if (answer.empty()) {
      run = runProbe(arg, with_device ? device : "");
      EXPECT_EQ(radio_.take(), with_device ? request("AA 02") : Bytes{});
    } else {
      RadioAnswer radio(radio_, request("AA 02"), answer);
      run = runProbe(arg, device);
    }
    EXPECT_EQ(run.status, status) << err;
    EXPECT_EQ(run.out, out) << err;
    EXPECT_EQ(run.err, err);
  }
  EXPECT_EQ(access("/dev/null", F_OK), 0) << "the probe's private /dev leaked out";
}

}  // namespace
