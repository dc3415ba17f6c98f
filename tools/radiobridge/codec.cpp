// SPDX-License-Identifier: MIT
// Admitting a message, in a fixed order:
// its topic names the radio and, one level further, the user; the reply's
// route is the message's response topic when that lies under the reply
// prefix (for a user, under the prefix's USER/ level), else the radio's
// response topic (with /USER for a user); a retained request, a foreign
// response topic, a radio the line does not serve and anything that is not
// one valid command are answered at once with "usage" and never queued.
// A command comes as text or as {"command": "...", "transaction": "..."}
// and is planned by the tools' shared planner, so it meets radioctl's own
// checks.
#include "codec.h"

#include <cerrno>

#include "deadline.h"
#include "reply.h"
#include "text.h"

namespace radiobridge {
namespace {

using common::quote;
using common::radioName;
using common::RequestTarget;
using common::Topics;

std::string trimmed(const std::string &text) {
  const char *space = " \t\r\n";
  const std::size_t first = text.find_first_not_of(space);
  return first == std::string::npos ? std::string()
                                    : text.substr(first, text.find_last_not_of(space) - first + 1);
}

// Takes the command text, the transaction and the wish for an interim
// message out of a JSON request; returns the problem, or an empty string.
std::string readJson(const std::string &payload, std::string &text, Request &request) {
  const Json object = Json::parse(payload, nullptr, false);
  if (object.is_discarded() || !object.is_object()) return "request is not valid JSON";
  const auto given = object.find("transaction");
  if (given != object.end() && !given->is_string()) return "\"transaction\" must be a string";
  if (given != object.end()) request.transaction = *given;
  const auto interim = object.find("interim");
  if (interim != object.end() && !interim->is_boolean()) return "\"interim\" must be true or false";
  request.interim = interim != object.end() && interim->get<bool>();
  const auto command = object.find("command");
  if (command == object.end() || !command->is_string()) return "\"command\" must be a string";
  text = command->get<std::string>();
  return {};
}

// Reads the message's command into `request`; returns the problem, or an
// empty string when it is one command ready to run.
std::string readCommand(const Incoming &message, Request &request) {
  request.text = quote(trimmed(message.payload));
  if (message.payload_size > kMaxRequestBytes) {
    return "request of " + std::to_string(message.payload_size) + " bytes is longer than the " +
           std::to_string(kMaxRequestBytes) + " a request may have";
  }
  if (!common::validUtf8(message.payload)) return "request is not UTF-8 text";
  std::string text = trimmed(message.payload);
  if (!text.empty() && text.front() == '{') {
    std::string problem = readJson(message.payload, text, request);
    if (!problem.empty()) return problem;
    text = trimmed(text);
  }
  request.text = quote(text);
  const common::Plan plan = common::planLine(text);
  if (plan.outcome == common::Plan::Outcome::kHelp) {
    return "no help here; radioctl COMMAND --help explains each command";
  }
  if (plan.outcome == common::Plan::Outcome::kUsage) {
    request.name = plan.command;
    return plan.message;
  }
  request.invocation = plan.invocations.front();
  request.invocation.line = 0;
  request.name = common::commandName(request.invocation);
  return {};
}

}  // namespace

Admission admit(const Incoming &message, const Topics &topics,
                std::chrono::seconds default_expiry) {
  Admission admission;
  const std::optional<RequestTarget> target = topics.targetOf(message.topic);
  if (!target) {
    admission.note = "message on " + quote(message.topic) + " dropped: not a request topic";
    return admission;
  }
  Request &request = admission.request;
  const std::string radio = radioName(target->radio);
  request.radio = target->radio;
  request.expires = deadlineOf(message.received, message.expiry_seconds, default_expiry);
  request.route = {topics.response(target->radio, target->user), message.correlation};
  const bool foreign =
      message.response_topic && !topics.replyAllowed(*message.response_topic, target->user);
  if (message.response_topic && !foreign) request.route.topic = *message.response_topic;
  request.requester = target->user.empty() ? request.route.topic : target->user;
  if (message.retained && message.payload_size == 0) {
    admission.note = "radio " + radio + ": empty retained request dropped";
    return admission;
  }
  std::string problem = readCommand(message, request);
  if (message.retained) {
    problem = "retained requests are not executed";
    admission.clear_retained = true;
  } else if (foreign) {
    problem = "response topic '" + quote(*message.response_topic) + "' is not under '" +
              quote(topics.replyPrefix(target->user)) + "'";
    admission.note = "radio " + radio + ": refused to answer " +
                     (target->user.empty() ? "" : quote(target->user) + " ") + "on " +
                     quote(*message.response_topic);
  } else if (!topics.serves(target->radio)) {
    problem = "no radio " + radio + " on this line";
  }
  if (problem.empty()) {
    admission.outcome = Admission::Outcome::kQueued;
    return admission;
  }
  admission.outcome = Admission::Outcome::kAnswered;
  admission.reply = failure(request, common::kCodeUsage, EINVAL, problem);
  return admission;
}

}  // namespace radiobridge
