// SPDX-License-Identifier: MIT
// The radio's side of a real pseudo-terminal, for tests that script the line.
#ifndef RADIOLINE_TESTS_PTY_RADIO_H
#define RADIOLINE_TESTS_PTY_RADIO_H

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

using Bytes = std::vector<unsigned char>;

// Owns the master side of a raw pseudo-terminal. The library opens
// slave_path() with seropen(), which discards what waited before. A test then
// queues the bytes the radio "sends" with send() before it calls the library
// (the terminal holds them until the library reads), or has a RadioAnswer
// send them once the request is out, and collects what the library wrote
// with take().
class PtyRadio {
 public:
  PtyRadio();
  ~PtyRadio();
  PtyRadio(const PtyRadio &) = delete;
  PtyRadio &operator=(const PtyRadio &) = delete;

  const std::string &slave_path() const { return slave_path_; }

  // Queues bytes for the library to read.
  void send(const Bytes &bytes);
  // Returns every byte the library has written so far, and forgets them.
  Bytes take();
  // Waits up to ten seconds for the library to write `count` bytes; returns
  // those that came.
  Bytes await(std::size_t count);
  // Closes the master side: the line is gone.
  void hangUp();

 private:
  int master_ = -1;
  std::string slave_path_;
};

// Plays the radio on a thread of its own for requests the library has yet to
// send: waits until the library has written `request` (and nothing else),
// then, after `delay`, sends `reply`. The destructor waits for the thread.
class RadioAnswer {
 public:
  RadioAnswer(PtyRadio &radio, const Bytes &request, const Bytes &reply,
              std::chrono::milliseconds delay = std::chrono::milliseconds(0));
  ~RadioAnswer();
  RadioAnswer(const RadioAnswer &) = delete;
  RadioAnswer &operator=(const RadioAnswer &) = delete;

 private:
  std::thread thread_;
};

// A test with the library's line open on a fresh pseudo-terminal: seropen()
// in SetUp, serclose() and debug = 0 in TearDown.
class LineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  PtyRadio radio_;
};

// Runs `call` with standard error captured and returns what it wrote.
template <typename Call>
std::string stderrOf(Call call) {
  ::testing::internal::CaptureStderr();
  call();
  return ::testing::internal::GetCapturedStderr();
}

// Runs `call` with standard output and standard error captured and returns
// everything it wrote to either, standard output first.
template <typename Call>
std::string outputOf(Call call) {
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  call();
  const std::string err = ::testing::internal::GetCapturedStderr();
  return ::testing::internal::GetCapturedStdout() + err;
}

// Puts `fd` into serfh for the life of the object, then puts back the
// descriptor that was there, so a test can point the library at a pipe, a
// closed descriptor or an impossible number and still hand the line back
// to TearDown.
class ScopedSerfh {
 public:
  explicit ScopedSerfh(int fd);
  ~ScopedSerfh();
  ScopedSerfh(const ScopedSerfh &) = delete;
  ScopedSerfh &operator=(const ScopedSerfh &) = delete;

 private:
  int saved_;
};

// A pipe that holds `bytes` and whose writer has gone: reading it yields the
// bytes and then end of file, like a device that went away.
class FinishedLine {
 public:
  explicit FinishedLine(const Bytes &bytes = {});
  ~FinishedLine();
  FinishedLine(const FinishedLine &) = delete;
  FinishedLine &operator=(const FinishedLine &) = delete;

  int fd() const { return read_end_; }

 private:
  int read_end_ = -1;
};

// The trace lines of one successful rawcharout(c) and rawcharin().
std::string rawcharoutTrace(unsigned char c);
std::string rawcharinTrace();

// Bytes written as "FE FE 20 91 ..." for readable golden frames.
Bytes hex(const std::string &text);

#endif  // RADIOLINE_TESTS_PTY_RADIO_H
