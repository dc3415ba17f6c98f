// SPDX-License-Identifier: MIT
// The types the bridge's rules share, with no behaviour of their own: a
// message as the network thread copied it out of the MQTT library, the
// request it becomes (what to run on which radio, who asked, where the
// reply goes and until when it may start), the reply's route, and the
// error codes the bridge answers with besides radioctl's. Admission
// (codec.h) makes requests, the queue carries them, the worker runs them.
#ifndef RADIOBRIDGE_REQUEST_H
#define RADIOBRIDGE_REQUEST_H

#include <cstddef>
#include <optional>
#include <string>

#include "clock.h"
#include "commands.h"

namespace radiobridge {

using Json = common::Json;

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

}  // namespace radiobridge

#endif  // RADIOBRIDGE_REQUEST_H
