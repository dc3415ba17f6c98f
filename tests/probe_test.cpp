// SPDX-License-Identifier: MIT
// radioprobe as a process: the request it sends, what it prints, ignored arguments, exit status.
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <regex>
#include <tuple>

#include "kit.h"

namespace {

// Runs the probe in a child with standard output and error captured and
// returns its exit status (-1 if it did not exit), output and error. The
// child first mounts a private, empty /dev and puts the probe's fixed device
// there as a link to `device` (none when empty).
std::tuple<int, std::string, std::string> runProbe(const char *arg, const std::string &device) {
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
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ::testing::internal::GetCapturedStdout(),
          ::testing::internal::GetCapturedStderr()};
}

// One run of the probe: what it shows (the test's name), argument, whether its device is there,
// the radio's answer, and the exit status, standard output and error.
using ProbeRun =
    std::tuple<const char *, const char *, bool, Bytes, int, const char *, std::string>;

// The probe reaches the line the library holds open by its descriptor number.
class Radioprobe : public LineTest, public ::testing::WithParamInterface<ProbeRun> {};

TEST_P(Radioprobe, Run) {
  if (std::get<0>(runProbe(nullptr, "")) == 127) GTEST_SKIP() << "needs a private mount namespace";
  const auto &[name, arg, with_device, answer, status, out, err] = GetParam();
  std::optional<RadioAnswer> radio;
  if (!answer.empty()) radio.emplace(radio_, request("AA 02"), answer);
  const std::string device = "/proc/self/fd/" + std::to_string(serfh);
  EXPECT_EQ(runProbe(arg, with_device ? device : ""), std::make_tuple(status, out, err));
  radio.reset();  // the request answered is taken; the probe wrote nothing else
  EXPECT_EQ(radio_.take(), Bytes{});
  EXPECT_EQ(access("/dev/null", F_OK), 0) << "the probe's private /dev leaked out";
}

// Of the long answer, 32 bytes are read and the rest left. The failed open's number is ENOENT.
const std::string kThirtyTwo = std::regex_replace(std::string(32, 'x'), std::regex("x"), "<< 41 ");
INSTANTIATE_TEST_SUITE_P(
    Probe, Radioprobe,
    ::testing::Values(ProbeRun{"PrintsTheReplyBody", nullptr, true, reply("AA 82 56 31"), 0, "\n",
                               "<< aa << 82 << 56 << 31 "},
                      ProbeRun{"IgnoresAnArgument", "-x", true, reply(""), 0, "\n", ""},
                      ProbeRun{
                          "ReportsAFailedOpen", nullptr, false, {}, 1, "", "rc=2 from seropen\n"},
                      ProbeRun{"ReadsAtMostThirtyTwoBytes", nullptr, true,
                               reply(hexOf(Bytes(40, 0x41))), 0, "\n", kThirtyTwo}),
    [](const auto &info) { return std::string(std::get<0>(info.param)); });

}  // namespace
