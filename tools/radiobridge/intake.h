// SPDX-License-Identifier: MIT
// What becomes of one message from the network, decided in one place: the
// codec admits it, then it is queued (with an interim message for a client
// that asked for one), answered at once (a usage problem, a deadline
// already passed, a full queue, the requester's share used up, a closed
// queue) or dropped.
// Nothing here touches the broker: the session publishes and logs what
// comes out, and a test or a fuzz target can check each message's one
// outcome with a queue of its own.
#ifndef RADIOBRIDGE_INTAKE_H
#define RADIOBRIDGE_INTAKE_H

#include <chrono>

#include "codec.h"
#include "queue.h"

namespace radiobridge {

// Takes `message` in at `now`.
Admission take(const Incoming &message, Clock::time_point now, const common::Topics &topics,
               std::chrono::seconds default_expiry, RequestQueue &queue);

}  // namespace radiobridge

#endif  // RADIOBRIDGE_INTAKE_H
