// SPDX-License-Identifier: MIT
// Admission: a message as it arrived turned into a request for the worker,
// or into the error reply it gets at once, or dropped, with no I/O (the
// topic layout is the tools' shared topics.h). Commands are read with the
// planner radioctl uses, so a request through the bridge and a radioctl
// command line are checked alike. The intake (intake.h) admits each
// message and queues what is admitted.
#ifndef RADIOBRIDGE_CODEC_H
#define RADIOBRIDGE_CODEC_H

#include <chrono>
#include <string>

#include "request.h"
#include "topics.h"

namespace radiobridge {

// What becomes of an incoming message: admit() admits it, answers it or
// drops it; take() (intake.h) queues an admitted one or answers it when it
// cannot wait.
struct Admission {
  enum class Outcome {
    kQueued,    // admitted (admit()), and queued (take())
    kAnswered,  // answered at once with `reply`
    kBusy,      // answered "busy" at once: the queue or the requester's share is full
    kDropped,   // neither run nor answered
  };
  Outcome outcome = Outcome::kDropped;
  Request request;              // kQueued: the request; else the reply's route and the log's text
  Json reply;                   // kAnswered, kBusy: the one reply to send
  Json interim;                 // kQueued by take(): the interim message to send, null for none
  bool clear_retained = false;  // publish an empty retained message on the message's topic
  std::string note;             // a log line beside the request's own, if any
};

Admission admit(const Incoming &message, const common::Topics &topics,
                std::chrono::seconds default_expiry);

}  // namespace radiobridge

#endif  // RADIOBRIDGE_CODEC_H
