// SPDX-License-Identifier: MIT
// The radio's end of the serial line: a pseudo-terminal master in raw mode
// whose slave device clients open, an optional symlink to that device, and
// waiting and writing that give way to SIGINT and SIGTERM. The stop signals
// are held back everywhere except inside a wait, so a signal that arrives
// between a check and a wait still ends the wait at once.
#ifndef RADIOSIM_LINE_H
#define RADIOSIM_LINE_H

#include <string>

#include "frame.h"

namespace radiosim {

// Routes SIGINT and SIGTERM to a stop flag.
bool installStopHandlers(std::string &error);
bool stopRequested();

enum class Wait { Ready, TimedOut, Stopped, Failed };

// Waits up to timeoutMs (negative: no limit) for `events` on fd, or just
// sleeps when fd is negative; `revents` gets what poll reported.
Wait waitFor(int fd, short events, int timeoutMs, short &revents);

class PseudoTerminal {
 public:
  PseudoTerminal() = default;
  PseudoTerminal(const PseudoTerminal &) = delete;
  PseudoTerminal &operator=(const PseudoTerminal &) = delete;
  ~PseudoTerminal();

  // Opens a master in raw, non-blocking mode and learns its slave's path.
  bool open(std::string &error);
  int fd() const { return fd_; }
  const std::string &slavePath() const { return slavePath_; }

  // Writes everything, waiting for room; false when stopped or the line
  // is gone.
  bool writeAll(const Bytes &bytes) const;

 private:
  int fd_ = -1;
  std::string slavePath_;
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
