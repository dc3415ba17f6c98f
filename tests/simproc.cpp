// SPDX-License-Identifier: MIT
// Process, SimProcess and RawLine: starting, watching and stopping the
// tools, and talking to radiosim's line, for tests.
#include "simproc.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
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
constexpr mode_t kFileMode = 0600;

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
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(kWaitStep);
  }
  return true;
}

}  // namespace

TempDir::TempDir()
    : path_((std::filesystem::temp_directory_path() / "radioline-XXXXXX").string()),
      made_(::mkdtemp(path_.data()) != nullptr) {}

TempDir::~TempDir() {
  if (made_) std::filesystem::remove_all(path_);
}

Process::Process(const std::string &program, const std::vector<std::string> &args,
                 const std::string &input) {
  const std::string in = input.empty() ? "/dev/null" : files_.file("in");
  if (!input.empty()) std::ofstream(in) << input;
  std::vector<std::string> words{program};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char *> argv;
  argv.reserve(words.size() + 1);
  for (std::string &word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  constexpr int kCreate = O_WRONLY | O_CREAT | O_TRUNC;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, in.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, files_.file("out").c_str(), kCreate,
                                   kFileMode);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, files_.file("err").c_str(), kCreate,
                                   kFileMode);
  if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
}

Process::~Process() {
  stop(SIGTERM);
}

SimProcess::SimProcess(const std::vector<std::string> &options) : Process(RADIOSIM_PATH, options) {
  waitUntil([this] {
    const std::string out = output();
    const std::size_t end = out.find('\n');
    if (end != std::string::npos) slave_path_ = out.substr(0, end);
    return started() || reap(false);
  });
}

std::string Process::output() const {
  return readFile(files_.file("out"));
}

std::string Process::errors() const {
  return readFile(files_.file("err"));
}

bool Process::waitForOutput(const std::string &text) const {
  return waitUntil([&] { return output().find(text) != std::string::npos; });
}

// Collects the exit status once the child has ended; true when it has.
bool Process::reap(bool block) {
  int raw = 0;
  if (pid_ < 0 || ::waitpid(pid_, &raw, block ? 0 : WNOHANG) != pid_) return pid_ < 0;
  status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? kSignalBase + WTERMSIG(raw) : -1;
  pid_ = -1;
  return true;
}

int Process::waitForExit() {
  waitUntil([this] { return reap(false); });
  return pid_ < 0 ? status_ : -1;
}

int Process::stop(int signal) {
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

std::string RawLine::exchange(const std::string &request, const std::string &expected) const {
  const std::vector<std::uint8_t> bytes = hex(request);
  if (::write(fd_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
    return "not sent";
  }
  std::vector<std::uint8_t> reply(hex(expected).size());
  std::size_t got = 0;
  pollfd entry{fd_, POLLIN, 0};
  while (got < reply.size() && ::poll(&entry, 1, kQuietLimitMs) > 0) {
    const ssize_t n = ::read(fd_, reply.data() + got, reply.size() - got);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  reply.resize(got);
  return hexOf(reply);
}
