// SPDX-License-Identifier: MIT
// The bridge's clock: the time since the machine booted, suspended time
// included (CLOCK_BOOTTIME), so that a request's deadline passes while the
// machine sleeps or the process is stopped, as it does for the client that
// gave up on it. steady_clock stands still while the machine is suspended.
#ifndef RADIOBRIDGE_CLOCK_H
#define RADIOBRIDGE_CLOCK_H

#include <time.h>

#include <chrono>

namespace radiobridge {

struct BootClock {
  // The names the standard library's clocks have.
  // NOLINTBEGIN(readability-identifier-naming)
  using duration = std::chrono::nanoseconds;
  using rep = duration::rep;
  using period = duration::period;
  using time_point = std::chrono::time_point<BootClock>;
  static constexpr bool is_steady = true;
  // NOLINTEND(readability-identifier-naming)

  static time_point now() noexcept {
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    return time_point(std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec));
  }
};

using Clock = BootClock;

}  // namespace radiobridge

#endif  // RADIOBRIDGE_CLOCK_H
