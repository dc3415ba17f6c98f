// SPDX-License-Identifier: MIT
// What a request is answered with, in radioctl's JSON so that a request
// through the bridge and a radioctl command line report alike: its reply
// (a result of radioctl's with the request's transaction), the failure
// reply of a request that is not run, the interim message that tells a
// client its request is queued, and the log line of an answered request.
// Pure: the session and the worker send and log what comes out.
#ifndef RADIOBRIDGE_REPLY_H
#define RADIOBRIDGE_REPLY_H

#include <chrono>
#include <string>

#include "request.h"

namespace radiobridge {

// The failure reply of a request with one of the codes of request.h or
// radioctl's; errno 0 when no system error applies.
Json failure(const Request &request, const char *code, int error_number,
             const std::string &message);

// A result of radioctl's (success or failure) as the reply to `request`.
Json reply(const Request &request, Json result);

// The interim message that tells a client who asked for it that its
// request is queued: {"command":…,"queued":true}, no "ok", so that it is
// never taken for the one final reply.
Json interimReply(const Request &request);

// A reply's outcome: "ok", or its error code ("failed" when it has none).
std::string outcomeOf(const Json &reply);

// "radio 20 set-freq 145.5M: ok (7 ms)"
std::string logEntry(const Request &request, const Json &reply, std::chrono::milliseconds took);

}  // namespace radiobridge

#endif  // RADIOBRIDGE_REPLY_H
