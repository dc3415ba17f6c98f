// SPDX-License-Identifier: MIT
// Opening and closing a tool's line. The lock is flock(LOCK_EX | LOCK_NB)
// on a descriptor of the line's own, taken before rl_open() touches the
// device's settings and held until after rl_close(). The simulator is
// radiosim, found beside this executable or else on PATH, started with its
// standard output in an unlinked temporary file from which the device path,
// its first line, is read; the rest of its log goes there unread, so it
// never blocks on a full pipe. It is stopped by its pid. A failed open
// (a rate the library has no speed for among them) releases all it took.
// The lock's descriptor also tells a hang-up of the device, by poll().
#include "locked_line.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>

#include "radioline.h"

namespace common {
namespace {

constexpr const char *kSimulator = "radiosim";
constexpr auto kStartLimit = std::chrono::seconds(5);
constexpr auto kStartStep = std::chrono::milliseconds(10);
constexpr std::size_t kMaxPathLine = 4096;

// radiosim beside this executable, else its name for a search of PATH.
std::string simulatorProgram() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  const std::filesystem::path beside = self.parent_path() / kSimulator;
  return !error && ::access(beside.c_str(), X_OK) == 0 ? beside.string() : kSimulator;
}

// The first line of the file behind `fd`, once a whole one is there.
bool readFirstLine(int fd, std::string &line) {
  std::string text(kMaxPathLine, '\0');
  const ssize_t got = ::pread(fd, text.data(), text.size(), 0);
  const std::size_t end = text.find('\n');
  if (got <= 0 || end >= static_cast<std::size_t>(got)) return false;
  line = text.substr(0, end);
  return true;
}

std::string failure(const std::string &path, int code) {
  return path + ": " + std::strerror(code);
}

std::string openFailure(const std::string &path, int code, bool named) {
  if (code == ENOENT && !named) {
    return "no radio at " + path + "; name its device with -d DEVICE, or use --simulate";
  }
  if (code == EACCES || code == EPERM) {
    return failure(path, code) +
           " (serial devices need membership of the dialout group: "
           "sudo usermod -aG dialout $USER, then log in again)";
  }
  return failure(path, code);
}

}  // namespace

LockedLine::~LockedLine() {
  release();
}

void LockedLine::release() {
  if (line_ != nullptr) rl_close(line_);
  line_ = nullptr;
  if (lock_ >= 0) ::close(lock_);
  lock_ = -1;
  if (simulator_ > 0 && ::kill(simulator_, SIGTERM) == 0) ::waitpid(simulator_, nullptr, 0);
  simulator_ = -1;
}

bool LockedLine::open(const LineSettings &settings, std::string &error) {
  std::string path = settings.device.empty() ? kDefaultDevice : settings.device;
  if (settings.simulate && !startSimulator(settings.radio, path, error)) return false;
  if (!lock(path, settings.simulate || !settings.device.empty(), error)) return false;
  const int rc = rl_open(path.c_str(), settings.baud, &line_);
  if (rc == 0) {
    rl_settimeout(line_, settings.timeout_ms);
    rl_settrace(line_, settings.trace, nullptr);
    device_ = path;
  } else if (rc == EINVAL) {
    error = path + ": cannot run at " + std::to_string(settings.baud) + " baud (" +
            std::strerror(rc) + ")";
  } else if (rc != 0) {
    error = failure(path, rc);
  }
  return rc == 0 || fail(rc);
}

bool LockedLine::hungUp() const {
  pollfd device{lock_, 0, 0};  // no events asked for: a hang-up and an error are always told
  return lock_ >= 0 && ::poll(&device, 1, 0) == 1 &&
         (device.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

bool LockedLine::fail(int error_number, const char *code) {
  release();
  failure_code_ = code;
  failure_errno_ = error_number;
  return false;
}

bool LockedLine::lock(const std::string &path, bool named, std::string &error) {
  lock_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (lock_ < 0) {
    const int error_number = errno;
    error = openFailure(path, error_number, named);
    return fail(error_number);
  }
  if (::flock(lock_, LOCK_EX | LOCK_NB) != 0) {
    const int error_number = errno;
    if (error_number != EWOULDBLOCK) {
      error = failure(path, error_number);
      return fail(error_number);
    }
    error = path + ": device busy";
    return fail(EBUSY, kCodeBusy);
  }
  return true;
}

bool LockedLine::startSimulator(int radio, std::string &path, std::string &error) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE *)> log(std::tmpfile(), std::fclose);
  if (!log) {
    const int error_number = errno;
    error = std::string("cannot start ") + kSimulator + ": " + std::strerror(error_number);
    return fail(error_number);
  }
  std::string program = simulatorProgram();
  std::string option = "--address";
  std::string address = std::to_string(radio);
  char *argv[] = {program.data(), option.data(), address.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fileno(log.get()), STDOUT_FILENO);
  const int rc = posix_spawnp(&simulator_, program.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    simulator_ = -1;
    error = "cannot start " + program + ": " + std::strerror(rc);
    return fail(rc);
  }
  const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
  while (!readFirstLine(fileno(log.get()), path)) {
    if (::waitpid(simulator_, nullptr, WNOHANG) == simulator_) {
      simulator_ = -1;
      error = program + " ended before it named its device";
      return fail(0);
    }
    if (std::chrono::steady_clock::now() > deadline) {
      error = program + " named no device";
      return fail(0);
    }
    std::this_thread::sleep_for(kStartStep);
  }
  return true;
}

}  // namespace common
