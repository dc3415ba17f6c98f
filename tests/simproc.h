// SPDX-License-Identifier: MIT
// Test harness around the radiosim executable: SimProcess starts it as a
// child with given options, captures its stdout and stderr in temporary
// files, waits for the device path it prints first, lets tests read its log
// and stops it by its own pid. RawLine opens that device in raw mode so a
// test can put bytes on the line and read back exactly what the radio sends.
#ifndef RADIOLINE_TESTS_SIMPROC_H
#define RADIOLINE_TESTS_SIMPROC_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class SimProcess {
 public:
  // Starts radiosim with `options` and waits (bounded) for its first line.
  explicit SimProcess(const std::vector<std::string> &options = {});
  SimProcess(const SimProcess &) = delete;
  SimProcess &operator=(const SimProcess &) = delete;
  // Stops radiosim if it still runs.
  ~SimProcess();

  // True once radiosim has printed its device path.
  bool started() const { return !slavePath_.empty(); }
  const std::string &slavePath() const { return slavePath_; }

  // Everything radiosim has written to stdout or stderr so far.
  std::string output() const;
  std::string errors() const;

  // Waits (bounded) until stdout contains `text`.
  bool waitForOutput(const std::string &text) const;

  // Sends `signal` and waits for the exit; returns the exit status, 128 +
  // the signal number when killed, or -1 when it could not be learned.
  int stop(int signal);
  // Waits (bounded) for radiosim to end by itself; status as for stop().
  int waitForExit();

 private:
  bool reap(bool block);

  pid_t pid_ = -1;
  int status_ = -1;
  std::string outPath_;
  std::string errPath_;
  std::string slavePath_;
};

// The client end of the line, opened raw.
class RawLine {
 public:
  explicit RawLine(const std::string &path);
  RawLine(const RawLine &) = delete;
  RawLine &operator=(const RawLine &) = delete;
  ~RawLine();

  bool isOpen() const { return fd_ >= 0; }
  bool send(const std::vector<std::uint8_t> &bytes) const;
  // Reads until `count` bytes came or the line stayed quiet too long.
  std::vector<std::uint8_t> receive(std::size_t count) const;
  void close();

 private:
  int fd_ = -1;
};

#endif
