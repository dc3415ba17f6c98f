// SPDX-License-Identifier: MIT
// The bridge's log on standard error: one whole line per event, written in
// one call so lines from different threads never interleave, and no
// timestamp (the journal adds its own). StateLog writes a change of state
// once: a line equal to the last one it wrote is skipped, so a retry that
// fails the same way as the one before says nothing.
#ifndef RADIOBRIDGE_LOG_H
#define RADIOBRIDGE_LOG_H

#include <mutex>
#include <string>

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

}  // namespace radiobridge

#endif  // RADIOBRIDGE_LOG_H
