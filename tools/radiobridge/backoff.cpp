// SPDX-License-Identifier: MIT
// The doubling of the line's back-off, capped: the count of doublings is
// bounded before shifting so that no count of failures overflows.
#include "backoff.h"

#include <algorithm>

namespace radiobridge {

Backoff::Seconds Backoff::next() const {
  constexpr int kMaxDoublings = 30;
  const int doublings = std::clamp(failures_ - 1, 0, kMaxDoublings);
  return std::min(limit_, Seconds(first_.count() << doublings));
}

}  // namespace radiobridge
