// SPDX-License-Identifier: MIT
// The stall rule and a request's deadline.
#include "deadline.h"

namespace radiobridge {

Clock::time_point receivedAt(Clock::time_point now, Clock::time_point last_ran) {
  return now - last_ran > kStallGap ? last_ran : now;
}

Clock::time_point deadlineOf(Clock::time_point received, std::optional<long> expiry_seconds,
                             std::chrono::seconds default_expiry) {
  return received + (expiry_seconds ? std::chrono::seconds(*expiry_seconds) : default_expiry);
}

}  // namespace radiobridge
