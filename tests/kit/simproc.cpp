// SPDX-License-Identifier: MIT
// Process and SimProcess: starting, watching and stopping the tools for
// tests.
#include "simproc.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

// A failed mkdtemp leaves a name that does not exist: nothing to remove.
TempDir::TempDir() : path_((std::filesystem::temp_directory_path() / "radioline-XXXXXX").string()) {
  ::mkdtemp(path_.data());
}

Process::Process(const std::string &program, const std::vector<std::string> &args,
                 const std::string &input) {
  std::ofstream(files_.file("in")) << input;
  // posix_spawn takes the words as char *const[] and does not change them.
  std::vector<char *> argv{const_cast<char *>(program.c_str())};
  for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, files_.file("in").c_str(), O_RDONLY, 0);
  for (const auto &[fd, name] : {std::pair{STDOUT_FILENO, "out"}, std::pair{STDERR_FILENO, "err"}})
    posix_spawn_file_actions_addopen(&actions, fd, files_.file(name).c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
}

SimProcess::SimProcess(const std::vector<std::string> &options) : Process(RADIOSIM_PATH, options) {
  pollFor(5, [this] {
    const std::string out = output();
    const std::size_t end = out.find('\n');
    if (end != std::string::npos) slave_path_ = out.substr(0, end);
    return started() || reap(false);
  });
}

std::string Process::readFile(const std::string &path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool Process::waitForOutput(const std::string &text) const {
  return pollFor(5, [&] { return output().find(text) != std::string::npos; });
}

// Collects the exit status once the child has ended; true when it has.
bool Process::reap(bool block) {
  int raw = 0;
  if (pid_ < 0 || ::waitpid(pid_, &raw, block ? 0 : WNOHANG) != pid_) return pid_ < 0;
  status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
  pid_ = -1;
  return true;
}

int Process::waitForExit() {
  pollFor(5, [this] { return reap(false); });
  return pid_ < 0 ? status_ : -1;
}

int Process::stop(int signal) {
  if (pid_ >= 0 && ::kill(pid_, signal) == 0 && !pollFor(5, [this] { return reap(false); })) {
    ::kill(pid_, SIGKILL);
    reap(true);
  }
  return status_;
}
