// SPDX-License-Identifier: MIT
// The claim rule's steps. The watch lasts 1.5 keepalives, written in the
// log to the half second; the status is due again half a keepalive after it
// was last published.
#include "claim.h"

#include <chrono>

#include "status.h"

namespace radiobridge {

using Action = Claim::Step::Action;

Claim::Claim(Json instance, std::string line, int keepalive)
    : instance_(std::move(instance)), line_(std::move(line)), keepalive_(keepalive) {}

Claim::Step Claim::connected() {
  if (stopping_ || phase_ == Phase::kYielded) return {};
  phase_ = Phase::kChecking;
  watched_.reset();
  return {Action::kCheck, {}};
}

void Claim::disconnected() {
  if (phase_ != Phase::kYielded) phase_ = Phase::kChecking;
}

Claim::Step Claim::retainedEnd(Clock::time_point now) {
  if (stopping_ || phase_ != Phase::kChecking) return {};
  if (!watched_) return take(now, {});
  phase_ = Phase::kWatching;
  watch_until_ = now + std::chrono::milliseconds(keepalive_ * 1500);
  return {Action::kWatch, "line " + line_ + " shows " + describeInstance(*watched_) +
                              " online; watching its status for " +
                              std::to_string(keepalive_ * 3 / 2) +
                              (keepalive_ % 2 != 0 ? ".5" : "") + " s"};
}

Claim::Step Claim::statusSeen(bool online, const Json &instance, bool retained,
                              Clock::time_point now) {
  if (stopping_ || instance == instance_) return {};
  switch (phase_.load()) {
    case Phase::kChecking:
      // A status published just now shows a live bridge; a retained one may be a ghost.
      if (online && !retained) return yield(instance);
      watched_ = online ? std::optional<Json>(instance) : std::nullopt;
      return {};
    case Phase::kWatching:
      if (online) return yield(instance);
      return take(now, describeInstance(instance) + " went offline; taking line " + line_);
    case Phase::kClaimed:
      if (online && olderInstance(instance, instance_)) return yield(instance);
      return publish(now);
    case Phase::kYielded:
      break;
  }
  return {};
}

Claim::Step Claim::tick(Clock::time_point now) {
  if (stopping_) return {};
  if (phase_ == Phase::kWatching && now >= watch_until_) {
    return take(now, describeInstance(*watched_) + " stayed silent; taking line " + line_);
  }
  if (phase_ == Phase::kClaimed && now >= status_due_) return publish(now);
  return {};
}

Claim::Step Claim::take(Clock::time_point now, std::string why) {
  phase_ = Phase::kClaimed;
  publish(now);
  return {Action::kTake, std::move(why)};
}

Claim::Step Claim::publish(Clock::time_point now) {
  status_due_ = now + std::chrono::seconds(keepalive_ / 2);
  return {Action::kPublishStatus, {}};
}

Claim::Step Claim::yield(const Json &instance) {
  phase_ = Phase::kYielded;
  return {Action::kYield, "line " + line_ + " is served by " + describeInstance(instance)};
}

}  // namespace radiobridge
