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

}  // namespace radiobridge
