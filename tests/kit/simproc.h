// SPDX-License-Identifier: MIT
// The test kit's process half, free of the test framework so benchmarks can
// use it too: Process runs a program with given arguments and standard
// input, captures its stdout and stderr in temporary files and stops it by
// its own pid; SimProcess runs radiosim and waits for the device path it
// prints first.
#ifndef RADIOLINE_TESTS_SIMPROC_H
#define RADIOLINE_TESTS_SIMPROC_H

#include <sys/types.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "golden.h"

// Polls `done` every 10 ms until it holds (true) or `seconds` have passed (false).
template <typename Condition>
bool pollFor(int seconds, Condition done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// A directory of its own that goes away with the object.
class TempDir {
 public:
  TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string file(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

class Process {
 public:
  // Starts `program` with `args`, `input` on its standard input.
  Process(const std::string &program, const std::vector<std::string> &args,
          const std::string &input = {});
  // Stops the program if it still runs.
  ~Process() { stop(SIGTERM); }

  // Everything the program has written to stdout or stderr so far.
  std::string output() const { return readFile(files_.file("out")); }
  std::string errors() const { return readFile(files_.file("err")); }

  // Waits (bounded) until stdout contains `text`.
  bool waitForOutput(const std::string &text) const;

  // Sends `signal` and waits for the exit; returns the exit status, 128 +
  // the signal number when killed, or -1 when it could not be learned.
  int stop(int signal);
  // Sends `signal` (SIGSTOP, SIGCONT) and goes on; false if it could not.
  bool signal(int signal) const { return pid_ >= 0 && ::kill(pid_, signal) == 0; }
  // Waits (bounded) for the program to end by itself; status as for stop().
  int waitForExit();

 protected:
  bool reap(bool block);
  static std::string readFile(const std::string &path);

 private:
  TempDir files_;  // the program's standard input, output and error; no copies
  pid_t pid_ = -1;
  int status_ = -1;
};

class SimProcess : public Process {
 public:
  // Starts radiosim with `options` and waits (bounded) for its first line.
  explicit SimProcess(const std::vector<std::string> &options = {});

  // True once radiosim has printed its device path.
  bool started() const { return !slave_path_.empty(); }
  const std::string &slavePath() const { return slave_path_; }

 private:
  std::string slave_path_;
};

#endif
