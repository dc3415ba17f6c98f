// SPDX-License-Identifier: MIT
// The bridge's JSON, both ways, with no I/O (the topic names are the tools'
// shared topics.h): a message as it arrived turned into a request for the worker (or into the
// error reply it gets at once), the reply and log line of a request, the
// retained status and radio-state payloads, and the instance id a status
// carries. Commands are read with the planner radioctl uses and answered
// in radioctl's JSON, so a request through the bridge and a radioctl command
// line are checked and reported alike. The session feeds messages in; the
// worker and the session publish what comes out.
#ifndef RADIOBRIDGE_CODEC_H
#define RADIOBRIDGE_CODEC_H

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "deadline.h"
#include "topics.h"

namespace radiobridge {

using Json = common::Json;
using common::radioName;
using common::readStatus;
using common::RequestTarget;
using common::Topics;

// Error codes of the bridge's own, beside radioctl's ("usage", "refused",
// "timeout", "line-lost", ...). "busy" is radioctl's word for a line held by
// another program; here it means the queue is full.
constexpr const char *kCodeBusy = common::kCodeBusy;
constexpr const char *kCodeExpired = "expired";
constexpr const char *kCodeUnavailable = "unavailable";
constexpr const char *kCodeShuttingDown = "shutting-down";
constexpr const char *kShuttingDownMessage = "the bridge is shutting down";

// A request is one command line; anything longer is refused unread.
constexpr std::size_t kMaxRequestBytes = 4096;

// Where a reply goes: the topic and the correlation data to send with it.
struct Route {
  std::string topic;
  std::string correlation;
};

// A message as the network thread copies it out of the library.
struct Incoming {
  std::string topic;
  std::string payload;  // cut after kMaxRequestBytes + 1 bytes
  std::size_t payload_size = 0;
  std::optional<std::string> response_topic;
  std::string correlation;
  bool retained = false;
  std::optional<long> expiry_seconds;  // what is left of the message's own expiry
  Clock::time_point received;
};

// One request for a radio: what to run, who asked, where to answer and
// until when.
struct Request {
  int radio = 0;
  std::string requester;  // its USER, else its route's topic: whose turn it takes
  std::string text;       // the command as written, made printable, for the log
  std::string name;       // the command's name in replies, empty when there is none
  common::Invocation invocation;
  Json transaction;      // null when none was given
  bool interim = false;  // the client asked to be told when the request is queued
  Route route;
  Clock::time_point expires;  // the deadline: the request never starts after it
};

// What becomes of an incoming message.
struct Admission {
  enum class Action { kQueue, kAnswer, kDrop };
  Action action = Action::kDrop;
  Request request;              // kQueue: the request; kAnswer: where the reply goes
  Json reply;                   // kAnswer: the reply to send at once
  bool clear_retained = false;  // publish an empty retained message on its topic
  std::string note;             // a log line beside the request's own, if any
};

Admission admit(const Incoming &message, const Topics &topics, std::chrono::seconds default_expiry);

// The failure reply of a request with one of the codes above; errno 0 when
// no system error applies.
Json failure(const Request &request, const char *code, int error_number,
             const std::string &message);

// A result of radioctl's (success or failure) as the reply to `request`.
Json reply(const Request &request, Json result);

// The interim message that tells a client who asked for it that its
// request is queued: {"command":…,"queued":true}, no "ok", so that it is
// never taken for the one final reply.
Json interimReply(const Request &request);

// "radio 20 set-freq 145.5M: ok (7 ms)"
std::string logEntry(const Request &request, const Json &reply, std::chrono::milliseconds took);

// Who publishes a status: {"host":…,"pid":…,"started":UNIX-SECONDS}.
Json instanceId(const std::string &host, long pid, long started);
// "HOST pid N", or "another bridge" for a status without an instance id.
std::string describeInstance(const Json &instance);
// Whether instance `a` started before `b` (host and pid break a tie), so
// that of two bridges that took a line at once the older keeps it.
bool olderInstance(const Json &a, const Json &b);

// The retained status of the line, and the will's and clean stop's payload;
// the session adds the instance to both.
Json onlineStatus(bool line_open, const std::string &device, int baud);
Json offlineStatus(const Json &instance);

// What is known of one radio.
struct RadioState {
  bool available = true;
  Json readings = Json::object();        // fields of the readers' results
  Json last_set = Json::object();        // values set that the radio cannot report
  std::vector<std::string> unsupported;  // readers the radio refuses
};

Json stateObject(const RadioState &state);

// The readers whose results make up a radio's readable state, in the order
// they are read when a line opens or a radio comes back.
const std::vector<std::string> &stateReaders();

// Records a successful result of `invocation` in `state`; returns the
// reader to run next so the state shows what the radio now holds, or
// nullptr.
const char *noteSuccess(RadioState &state, const common::Invocation &invocation,
                        const Json &result);

// The reader that shows what `command` writes ("get-offset" for
// "set-offset"), or "" for a command that writes nothing readable.
std::string readBackOf(const std::string &command);

}  // namespace radiobridge

#endif  // RADIOBRIDGE_CODEC_H
