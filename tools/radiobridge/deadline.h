// SPDX-License-Identifier: MIT
// When a request counts as received and until when it may start: the rule
// that keeps a bridge from running what its client has given up on. The
// network thread wakes at least once a second; when it reads a message
// after a gap much longer than that (the process was stopped, starved or
// the machine suspended), the message may have waited in the socket all
// that time, so it counts as received when the thread last ran, as old as
// the stall. A request's deadline is its receipt plus its MQTT 5 message
// expiry (what the broker left of it), or the bridge's default; nothing
// starts after it. Pure: the session passes the clock's readings in.
#ifndef RADIOBRIDGE_DEADLINE_H
#define RADIOBRIDGE_DEADLINE_H

#include <chrono>
#include <optional>

#include "clock.h"

namespace radiobridge {

// A gap between two runs of the network thread longer than this is a stall.
constexpr auto kStallGap = std::chrono::seconds(3);

// When a message read at `now` counts as received, the network thread
// having last run at `last_ran`.
Clock::time_point receivedAt(Clock::time_point now, Clock::time_point last_ran);

// The deadline of a request received at `received`.
Clock::time_point deadlineOf(Clock::time_point received, std::optional<long> expiry_seconds,
                             std::chrono::seconds default_expiry);

// Whether a request with `deadline` may no longer start at `now`.
inline bool expired(Clock::time_point now, Clock::time_point deadline) {
  return now > deadline;
}

}  // namespace radiobridge

#endif  // RADIOBRIDGE_DEADLINE_H
