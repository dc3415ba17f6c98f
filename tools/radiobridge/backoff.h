// SPDX-License-Identifier: MIT
// The wait between attempts to reopen a lost line or to reach the broker
// again: 1 s after the first failure, doubling after each further one, never
// more than 30 s, and back to the start once the line opens or the broker
// answers. next() only reads the count of failures, so the sequence is the
// same however the waiting is done; the worker waits on its request queue and
// the session on its stop flag, so both waits end early when the bridge stops.
#ifndef RADIOBRIDGE_BACKOFF_H
#define RADIOBRIDGE_BACKOFF_H

#include <chrono>

namespace radiobridge {

class Backoff {
 public:
  using Seconds = std::chrono::seconds;

  Backoff(Seconds first, Seconds limit) : first_(first), limit_(limit) {}

  // The wait before the next attempt.
  Seconds next() const;
  void failed() { ++failures_; }
  void reset() { failures_ = 0; }

 private:
  Seconds first_;
  Seconds limit_;
  int failures_ = 0;
};

}  // namespace radiobridge

#endif  // RADIOBRIDGE_BACKOFF_H
