// SPDX-License-Identifier: MIT
// Taking a message in: admission by the codec, then a push onto the queue
// for an admitted request that is still live, whose refusal becomes the
// reply ("busy" for a full queue or a used-up share, "shutting-down" for a
// closed queue).
#include "intake.h"

#include "deadline.h"
#include "reply.h"

namespace radiobridge {
namespace {

using Outcome = Admission::Outcome;

// Answers the admitted request at once with `code`.
void answer(Admission &admission, Outcome outcome, const char *code, const char *message) {
  admission.outcome = outcome;
  admission.reply = failure(admission.request, code, 0, message);
}

}  // namespace

Admission take(const Incoming &message, Clock::time_point now, const common::Topics &topics,
               std::chrono::seconds default_expiry, RequestQueue &queue) {
  Admission admission = admit(message, topics, default_expiry);
  if (admission.outcome != Outcome::kQueued) return admission;
  if (expired(now, admission.request.expires)) {
    answer(admission, Outcome::kAnswered, kCodeExpired,
           "the request expired before the bridge read it");
    return admission;
  }
  switch (queue.push(admission.request)) {
    case RequestQueue::Push::kQueued:
      if (admission.request.interim) admission.interim = interimReply(admission.request);
      break;
    case RequestQueue::Push::kFull:
      answer(admission, Outcome::kBusy, kCodeBusy, "too many requests wait for the line");
      break;
    case RequestQueue::Push::kOverShare:
      answer(admission, Outcome::kBusy, kCodeBusy,
             "too many of this requester's requests wait for the line");
      break;
    case RequestQueue::Push::kClosed:
      answer(admission, Outcome::kAnswered, kCodeShuttingDown, kShuttingDownMessage);
      break;
  }
  return admission;
}

}  // namespace radiobridge
