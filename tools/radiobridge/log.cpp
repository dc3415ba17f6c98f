// SPDX-License-Identifier: MIT
// Writing log lines to standard error with one write() each: the line and
// its newline leave together, whichever thread writes them. A write that
// fails has nowhere to be reported and is dropped.
#include "log.h"

#include <unistd.h>

#include <cerrno>

namespace radiobridge {

void logLine(const std::string &line) {
  const std::string whole = line + "\n";
  std::size_t done = 0;
  while (done < whole.size()) {
    const ssize_t n = ::write(STDERR_FILENO, whole.data() + done, whole.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

void StateLog::change(const std::string &line) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (line == last_) return;
  last_ = line;
  logLine(line);
}

void OnceLog::note(int kind, const std::string &line) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (written_.insert(kind).second) logLine(line);
}

void RateLog::note(const std::string &line, Clock::time_point now) {
  flush(now);
  if (running_) {
    ++count_;
    return;
  }
  logLine(line);
  running_ = true;
  since_ = now;
  count_ = 0;
}

void RateLog::flush(Clock::time_point now) {
  if (!running_ || now - since_ < period_) return;
  if (count_ == 0) {
    running_ = false;
    return;
  }
  logLine(std::to_string(count_) + " " + counted_ + " in the last " +
          std::to_string(period_.count()) + " s");
  since_ = now;
  count_ = 0;
}

}  // namespace radiobridge
