// SPDX-License-Identifier: MIT
// SimProcess and RawLine: starting, watching and stopping radiosim, and
// talking to its line, for tests.
#include "simproc.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#ifndef RADIOSIM_PATH
#error "RADIOSIM_PATH must name the radiosim executable"
#endif

namespace {

constexpr auto kWaitLimit = std::chrono::seconds(5);
constexpr auto kWaitStep = std::chrono::milliseconds(10);
constexpr int kQuietLimitMs = 2000;
constexpr int kSignalBase = 128;

std::string makeTempFile(const char *stem) {
  std::string pattern = (std::filesystem::temp_directory_path() / stem).string() + "-XXXXXX";
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) {
    return {};
  }
  ::close(fd);
  return pattern;
}

std::string readFile(const std::string &path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Polls `done` every few milliseconds until it holds or the limit passes.
template <typename Condition>
bool waitUntil(Condition done) {
  const auto deadline = std::chrono::steady_clock::now() + kWaitLimit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(kWaitStep);
  }
  return true;
}

}  // namespace

SimProcess::SimProcess(const std::vector<std::string> &options)
    : outPath_(makeTempFile("radiosim-out")), errPath_(makeTempFile("radiosim-err")) {
  std::vector<std::string> words{RADIOSIM_PATH};
  words.insert(words.end(), options.begin(), options.end());
  std::vector<char *> argv;
  argv.reserve(words.size() + 1);
  for (std::string &word : words) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath_.c_str(), O_WRONLY | O_TRUNC,
                                   0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath_.c_str(), O_WRONLY | O_TRUNC,
                                   0);
  if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
    pid_ = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  waitUntil([this] {
    const std::string out = output();
    const std::size_t end = out.find('\n');
    if (end != std::string::npos) {
      slavePath_ = out.substr(0, end);
    }
    return started() || pid_ < 0 || reap(false);
  });
}

SimProcess::~SimProcess() {
  stop(SIGTERM);
  std::filesystem::remove(outPath_);
  std::filesystem::remove(errPath_);
}

std::string SimProcess::output() const {
  return readFile(outPath_);
}

std::string SimProcess::errors() const {
  return readFile(errPath_);
}

bool SimProcess::waitForOutput(const std::string &text) const {
  return waitUntil([&] { return output().find(text) != std::string::npos; });
}

// Collects the exit status once the child has ended; true when it has.
bool SimProcess::reap(bool block) {
  int raw = 0;
  if (pid_ < 0 || ::waitpid(pid_, &raw, block ? 0 : WNOHANG) != pid_) {
    return pid_ < 0;
  }
  status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? kSignalBase + WTERMSIG(raw) : -1;
  pid_ = -1;
  return true;
}

int SimProcess::waitForExit() {
  waitUntil([this] { return reap(false); });
  return pid_ < 0 ? status_ : -1;
}

int SimProcess::stop(int signal) {
  if (pid_ >= 0 && ::kill(pid_, signal) == 0 && !waitUntil([this] { return reap(false); })) {
    ::kill(pid_, SIGKILL);
    reap(true);
  }
  return status_;
}

RawLine::RawLine(const std::string &path)
    : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
  termios mode{};
  if (fd_ >= 0 && ::tcgetattr(fd_, &mode) == 0) {
    ::cfmakeraw(&mode);
    ::tcsetattr(fd_, TCSANOW, &mode);
  }
}

RawLine::~RawLine() {
  close();
}

void RawLine::close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

bool RawLine::send(const std::vector<std::uint8_t> &bytes) const {
  return ::write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

std::vector<std::uint8_t> RawLine::receive(std::size_t count) const {
  std::vector<std::uint8_t> bytes(count);
  std::size_t got = 0;
  pollfd entry{fd_, POLLIN, 0};
  while (got<count && ::poll(&entry, 1, kQuietLimitMs)> 0) {
    const ssize_t n = ::read(fd_, bytes.data() + got, count - got);
    if (n <= 0) {
      break;
    }
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}
