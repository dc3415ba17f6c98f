// SPDX-License-Identifier: MIT
// The radio's side of a real pseudo-terminal, for tests that script the line.
#ifndef RADIOLINE_TESTS_PTY_RADIO_H
#define RADIOLINE_TESTS_PTY_RADIO_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

// Owns the master side of a raw pseudo-terminal. A test queues the bytes the
// radio "sends" with send() before it calls the library (the terminal holds
// them until the library reads), and collects what the library wrote with
// take(). The library opens slave_path() with seropen().
class PtyRadio {
 public:
  PtyRadio();
  ~PtyRadio();
  PtyRadio(const PtyRadio &) = delete;
  PtyRadio &operator=(const PtyRadio &) = delete;

  const std::string &slave_path() const { return slave_path_; }
  int master() const { return master_; }

  // Queues bytes for the library to read.
  void send(const Bytes &bytes);
  // Returns every byte the library has written so far, and forgets them.
  Bytes take();
  // Closes the master side: the line is gone.
  void hang_up();

 private:
  int master_ = -1;
  std::string slave_path_;
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
std::string stderr_of(Call call) {
  ::testing::internal::CaptureStderr();
  call();
  return ::testing::internal::GetCapturedStderr();
}

// Bytes written as "FE FE 20 91 ..." for readable golden frames.
Bytes hex(const std::string &text);

#endif  // RADIOLINE_TESTS_PTY_RADIO_H
