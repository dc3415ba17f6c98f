// SPDX-License-Identifier: MIT
// The radio's end of the serial line: a pseudo-terminal master in raw mode
// whose slave device clients open, an optional symlink to that device, and
// waiting and writing that give way to SIGINT and SIGTERM. The stop signals
// are held back everywhere except inside a wait, so a signal that arrives
// between a check and a wait still ends the wait at once: the wait fails
// with EINTR, which is how a stop is seen.
#ifndef RADIOSIM_PTY_H
#define RADIOSIM_PTY_H

#include <chrono>
#include <string>

#include "frame.h"

namespace radiosim {

// Routes SIGINT and SIGTERM to a stop flag.
bool installStopHandlers(std::string &error);
bool stopRequested();

enum class Wait { kReady, kTimedOut, kStopped, kFailed };

using Clock = std::chrono::steady_clock;

// A time-out that never ends.
constexpr std::chrono::nanoseconds kForever{-1};

// Waits up to `timeout` (kForever: no limit) for `events` on fd, or just
// sleeps when fd is negative; `revents` gets what poll reported.
Wait waitFor(int fd, short events, std::chrono::nanoseconds timeout, short &revents);

// Sleeps until `when` (at once when it has passed), or until stopped.
Wait pauseUntil(Clock::time_point when);

class PseudoTerminal {
 public:
  PseudoTerminal() = default;
  PseudoTerminal(const PseudoTerminal &) = delete;
  PseudoTerminal &operator=(const PseudoTerminal &) = delete;
  ~PseudoTerminal();

  // Opens a master in raw, non-blocking mode and learns its slave's path.
  bool open(std::string &error);
  int fd() const { return fd_; }
  const std::string &slavePath() const { return slave_path_; }

  // Writes everything, waiting for room; false when stopped (errno EINTR)
  // or when the line failed (errno says how).
  bool writeAll(const Bytes &bytes) const;

 private:
  int fd_ = -1;
  std::string slave_path_;
};

// A symlink to the slave device, removed again when this goes away.
class SlaveLink {
 public:
  SlaveLink() = default;
  SlaveLink(const SlaveLink &) = delete;
  SlaveLink &operator=(const SlaveLink &) = delete;
  ~SlaveLink();

  // Points `path` at `target`, replacing a stale symlink but no other file.
  bool create(const std::string &path, const std::string &target, std::string &error);

 private:
  std::string path_;
};

}  // namespace radiosim

#endif
