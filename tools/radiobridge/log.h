// SPDX-License-Identifier: MIT
// The bridge's log on standard error: one whole line per event, written in
// one call so lines from different threads never interleave, and no
// timestamp (the journal adds its own). StateLog writes a change of state
// once: a line equal to the last one it wrote is skipped, so a retry that
// fails the same way as the one before says nothing. OnceLog writes the
// first line of each kind of event and no more of that kind. RateLog writes the
// first of a run of like events, then one count per period while they go
// on, so a flood of refused requests costs a few lines, not one each.
#ifndef RADIOBRIDGE_LOG_H
#define RADIOBRIDGE_LOG_H

#include <chrono>
#include <mutex>
#include <set>
#include <string>

#include "clock.h"

namespace radiobridge {

void logLine(const std::string &line);

class StateLog {
 public:
  // Writes `line` unless it was the last line written here.
  void change(const std::string &line);

 private:
  std::mutex mutex_;
  std::string last_;
};

// Writes the first line of each kind, and no later one of that kind.
class OnceLog {
 public:
  void note(int kind, const std::string &line);

 private:
  std::mutex mutex_;
  std::set<int> written_;
};

// Not thread-safe: one thread notes and flushes.
class RateLog {
 public:
  // `counted` names the events in the count's line: "requests answered busy".
  RateLog(std::chrono::seconds period, std::string counted)
      : period_(period), counted_(std::move(counted)) {}

  // Writes `line` when no event was written or counted in the last period;
  // else counts the event.
  void note(const std::string &line, Clock::time_point now);
  // Once a period is over, writes "N requests answered busy in the last
  // 10 s" when it counted any, and ends the run when it counted none.
  void flush(Clock::time_point now);

 private:
  std::chrono::seconds period_;
  std::string counted_;
  bool running_ = false;
  Clock::time_point since_;
  long count_ = 0;
};

}  // namespace radiobridge

#endif  // RADIOBRIDGE_LOG_H
