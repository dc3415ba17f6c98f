// SPDX-License-Identifier: MIT
// The test kit: the golden command table and hex helper, the tools as
// processes (radiosim, radioctl), and the radio's side of a real
// pseudo-terminal for tests that script the line byte by byte.
#ifndef RADIOLINE_TESTS_KIT_H
#define RADIOLINE_TESTS_KIT_H

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "golden.h"
#include "simproc.h"

// Owns the master side of a raw pseudo-terminal. The library opens
// slavePath() with seropen(), which discards what waited before; a test then
// queues the radio's bytes with send() (the terminal holds them until the
// library reads), or has a RadioAnswer send them once the request is out,
// and collects what the library wrote with take().
class PtyRadio {
 public:
  PtyRadio();
  ~PtyRadio() { hangUp(); }
  PtyRadio(const PtyRadio &) = delete;
  PtyRadio &operator=(const PtyRadio &) = delete;

  const std::string &slavePath() const { return slave_path_; }
  void send(const Bytes &bytes);
  // Every byte the library has written so far; they are forgotten.
  Bytes take() { return await(SIZE_MAX, 0); }
  // Waits up to `timeout_ms` for each next byte until `count` bytes came
  // from the library.
  Bytes await(std::size_t count, int timeout_ms = 10000);
  // Closes the master side: the line is gone.
  void hangUp();

 private:
  int master_ = -1;
  std::string slave_path_;
};

// Plays the radio on a thread of its own: once the library has written
// `request` (and nothing else), waits `delay` and sends `reply`. The
// destructor waits for the thread.
class RadioAnswer {
 public:
  RadioAnswer(PtyRadio &radio, const Bytes &request, const Bytes &reply,
              std::chrono::milliseconds delay = std::chrono::milliseconds(0));
  ~RadioAnswer() { thread_.join(); }

 private:
  std::thread thread_;
};

// The library's line open on a fresh pseudo-terminal: seropen() in SetUp,
// serclose() and debug = 0 in TearDown.
class LineTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(reopen(), 0); }
  void TearDown() override {
    serclose();
    debug = 0;
  }
  // seropen() on the pseudo-terminal again.
  int reopen(int baudrate = 19200) {
    return seropen(std::string(radio_.slavePath()).data(), baudrate);
  }

  PtyRadio radio_;
};

// What `call` wrote to standard error.
template <typename Call>
std::string stderrOf(Call call) {
  ::testing::internal::CaptureStderr();
  call();
  return ::testing::internal::GetCapturedStderr();
}

// A frame to the radio from the controller, and one back, with `body`.
inline Bytes request(const std::string &body) {
  return hex("FE FE 20 91 " + body + " FD");
}
inline Bytes reply(const std::string &body) {
  return hex("FE FE 91 20 " + body + " FD");
}

#endif  // RADIOLINE_TESTS_KIT_H
