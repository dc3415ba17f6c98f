// SPDX-License-Identifier: MIT
// Taking a message in: admission by the codec, then a push onto the queue
// for an admitted request that is still live, whose refusal becomes the
// reply ("busy" for a full queue or a used-up share, "shutting-down" for a
// closed queue).
#include "intake.h"

namespace radiobridge {

Intake take(const Incoming &message, Clock::time_point now, const Topics &topics,
            std::chrono::seconds default_expiry, RequestQueue &queue) {
  const Admission admission = admit(message, topics, default_expiry);
  Intake intake;
  intake.clear_retained = admission.clear_retained;
  intake.note = admission.note;
  intake.request = admission.request;
  if (admission.action == Admission::Action::kDrop) return intake;
  if (admission.action == Admission::Action::kAnswer) {
    intake.outcome = Intake::Outcome::kAnswered;
    intake.reply = admission.reply;
    return intake;
  }
  if (expired(now, admission.request.expires)) {
    intake.outcome = Intake::Outcome::kAnswered;
    intake.reply =
        failure(intake.request, kCodeExpired, 0, "the request expired before the bridge read it");
    return intake;
  }
  switch (queue.push(admission.request)) {
    case RequestQueue::Push::kQueued:
      intake.outcome = Intake::Outcome::kQueued;
      if (intake.request.interim) intake.interim = interimReply(intake.request);
      break;
    case RequestQueue::Push::kFull:
      intake.outcome = Intake::Outcome::kBusy;
      intake.reply = failure(intake.request, kCodeBusy, 0, "too many requests wait for the line");
      break;
    case RequestQueue::Push::kOverShare:
      intake.outcome = Intake::Outcome::kBusy;
      intake.reply = failure(intake.request, kCodeBusy, 0,
                             "too many of this requester's requests wait for the line");
      break;
    case RequestQueue::Push::kClosed:
      intake.outcome = Intake::Outcome::kAnswered;
      intake.reply = failure(intake.request, kCodeShuttingDown, 0, kShuttingDownMessage);
      break;
  }
  return intake;
}

}  // namespace radiobridge
