// SPDX-License-Identifier: MIT
// Whether the line is this bridge's: the claim rule as a state machine,
// pure. The session feeds it the clock and what it sees (a connection made
// or lost, each status read on the line's status topic, retained or live,
// the end of what was retained) and carries out the step it returns.
// - On every connect the status is read first (kCheck). No status, an
//   offline one or this instance's own: the line is taken at the end of
//   what was retained (kTake).
// - A status published live that says online shows another bridge serving
//   the line: this one yields (kYield) without having taken anything.
// - A retained online status of another instance may be a dead bridge's
//   that a restarted broker kept: it is watched for 1.5 keepalives (a dead
//   bridge's will comes within that time, and a live one republishes its
//   status at least once per keepalive). A fresh online status from it and
//   this bridge yields; an offline one, or silence, and the line is taken.
// - Holding the line, the bridge publishes its status every half keepalive
//   (kPublishStatus), yields to an older instance's online status, and
//   overwrites any other status that replaced its own (a younger bridge's,
//   a dead one's will) with its own at once.
// - A claim lasts one connection: after a disconnect nothing is published
//   until the next connection has checked the status again. Once stopping
//   (or having yielded) the rule asks for nothing more: the session's last
//   word is "offline".
// The session drives it from its network thread alone; stop() and claimed()
// may be called from any thread.
#ifndef RADIOBRIDGE_CLAIM_H
#define RADIOBRIDGE_CLAIM_H

#include <atomic>
#include <optional>
#include <string>

#include "clock.h"
#include "request.h"
#include "status.h"

namespace radiobridge {

class Claim {
 public:
  // What the session is to do.
  struct Step {
    enum class Action {
      kNothing,
      kCheck,          // subscribe to the status topic, then mark the end of what it retains
      kWatch,          // nothing but the log line: a retained online status is watched
      kTake,           // subscribe to the requests, publish the status, republish the radios
      kPublishStatus,  // publish the status again
      kYield,          // stop: another bridge serves the line
    };
    Action action = Action::kNothing;
    std::string text;  // the log line (kWatch, kTake; may be empty), or why (kYield)
  };

  // `instance`: this bridge's instance id (instanceId()); `line`: LINE, for the log;
  // `keepalive`: the broker connection's, in seconds.
  Claim(Json instance, std::string line, int keepalive);

  Step connected();
  void disconnected();
  // The end of what the status topic retained (the marker subscription's answer).
  Step retainedEnd(Clock::time_point now);
  // A status read on the status topic: whether it says online, the instance
  // that published it (null when it names none) and whether it was retained.
  Step statusSeen(bool online, const Json &instance, bool retained, Clock::time_point now);
  // What the clock makes due: the end of a watch, the status again.
  Step tick(Clock::time_point now);
  // The bridge stops: nothing more is taken or published.
  void stop() { stopping_ = true; }

  // Whether the line is this bridge's on the current connection.
  bool claimed() const { return phase_ == Phase::kClaimed; }

 private:
  enum class Phase {
    kChecking,  // reading the retained status
    kWatching,  // another instance's retained status says online: is it alive?
    kClaimed,   // the line is this bridge's
    kYielded,   // another bridge serves the line; the bridge stops
  };

  Step take(Clock::time_point now, std::string why);
  Step publish(Clock::time_point now);
  Step yield(const Json &instance);

  Json instance_;
  std::string line_;
  int keepalive_;
  std::atomic<Phase> phase_{Phase::kChecking};
  std::atomic<bool> stopping_{false};
  std::optional<Json> watched_;  // the instance whose retained status says online
  Clock::time_point watch_until_;
  Clock::time_point status_due_;
};

}  // namespace radiobridge

#endif  // RADIOBRIDGE_CLAIM_H
