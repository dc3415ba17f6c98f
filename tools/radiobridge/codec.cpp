// SPDX-License-Identifier: MIT
// The bridge's payloads. A request is admitted in a fixed order:
// its topic names the radio and, one level further, the user; the reply's
// route is the message's response topic when that lies under the reply
// prefix (for a user, under the prefix's USER/ level), else the radio's
// response topic (with /USER for a user); a retained request, a foreign
// response topic, a radio the line does not serve and anything that is not
// one valid command are answered at once with "usage" and never queued.
// A command comes as text or as {"command": "...", "transaction": "..."}
// and is planned by the tools' shared planner, so it meets radioctl's own
// checks. What a successful command changes in a radio's state is one row
// per command.
#include "codec.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <tuple>

#include "text.h"

namespace radiobridge {
namespace {

using common::quote;

using Values = std::vector<long>;

constexpr double kTenthsPerHz = 10.0;

// What a successful command changes in a radio's state: the reader that
// shows the value it wrote, and what it set that no reader can report.
struct Effect {
  const char *command;
  const char *read_back;
  void (*note)(Json &last_set, const Values &values);
};

// clang-format off
constexpr std::array<Effect, 9> kEffects{{
    // command        read back       values to remember
    {"set-freq",      nullptr,        [](Json &s, const Values &v) { s["freq"] = v[0]; }},
    {"set-mode",      nullptr,        [](Json &s, const Values &v) { s["mode"] = v[0]; }},
    {"set-duplex",    nullptr,        [](Json &s, const Values &v) { s["duplex"] = v[0]; }},
    {"set-pl",        nullptr,        [](Json &s, const Values &v) {
                                        s["pl"][v[1] != 0 ? "rx" : "tx"] = v[0] / kTenthsPerHz; }},
    // A recalled slot brings its own frequency, duplex, tones and codeplug.
    {"recall-mode",   "get-codeplug", [](Json &s, const Values &) {
                                        s.erase("freq"); s.erase("duplex"); s.erase("pl"); }},
    {"set-codeplug",  "get-codeplug", nullptr},
    {"set-config",    "get-config",   nullptr},
    {"set-offset",    "get-offset",   nullptr},
    {"set-split",     "get-split",    nullptr},
}};
// clang-format on

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

const Effect *effectOf(const std::string &command) {
  const auto row = std::find_if(kEffects.begin(), kEffects.end(),
                                [&command](const Effect &e) { return command == e.command; });
  return row == kEffects.end() ? nullptr : &*row;
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
    admission.action = Admission::Action::kQueue;
    return admission;
  }
  admission.action = Admission::Action::kAnswer;
  admission.reply = failure(request, common::kCodeUsage, EINVAL, problem);
  return admission;
}

Json failure(const Request &request, const char *code, int error_number,
             const std::string &message) {
  return reply(request, common::failureObject(request.name, code, error_number, message));
}

Json reply(const Request &request, Json result) {
  if (!request.transaction.is_null()) result["transaction"] = request.transaction;
  return result;
}

Json interimReply(const Request &request) {
  return reply(request, {{"command", request.name}, {"queued", true}});
}

std::string logEntry(const Request &request, const Json &reply, std::chrono::milliseconds took) {
  const bool ok = reply.value("ok", false);
  const std::string result = ok ? "ok" : reply["error"].value("code", std::string("failed"));
  return "radio " + radioName(request.radio) + " " +
         (request.text.empty() ? "(empty)" : request.text) + ": " + result + " (" +
         std::to_string(took.count()) + " ms)";
}

Json onlineStatus(bool line_open, const std::string &device, int baud) {
  return {{"state", "online"},
          {"line", line_open ? "open" : "lost"},
          {"device", device},
          {"baud", baud},
          {"version", RADIOBRIDGE_VERSION}};
}

Json offlineStatus(const Json &instance) {
  return {{"state", "offline"}, {"instance", instance}};
}

Json instanceId(const std::string &host, long pid, long started) {
  return {{"host", host}, {"pid", pid}, {"started", started}};
}

std::string describeInstance(const Json &instance) {
  if (!instance.is_object() || !instance.contains("host") || !instance.contains("pid")) {
    return "another bridge";
  }
  return quote(instance["host"].is_string() ? instance["host"].get<std::string>()
                                            : instance["host"].dump()) +
         " pid " + instance["pid"].dump();
}

bool olderInstance(const Json &a, const Json &b) {
  // Any JSON may stand in a foreign status: a field of another type counts as absent.
  const auto key = [](const Json &instance) {
    const auto number = [&instance](const char *name) {
      const auto field = instance.find(name);
      return field != instance.end() && field->is_number_integer() ? field->get<long>() : 0L;
    };
    const auto host = instance.find("host");
    return std::make_tuple(
        number("started"),
        host != instance.end() && host->is_string() ? host->get<std::string>() : std::string(),
        number("pid"));
  };
  return key(a) < key(b);
}

Json stateObject(const RadioState &state) {
  Json object{{"available", state.available}};
  object.update(state.readings);
  object["last_set"] = state.last_set;
  object["unsupported"] = state.unsupported;
  return object;
}

const std::vector<std::string> &stateReaders() {
  static const std::vector<std::string> readers{"version", "get-codeplug", "get-config",
                                                "get-offset", "get-split"};
  return readers;
}

const char *noteSuccess(RadioState &state, const common::Invocation &invocation,
                        const Json &result) {
  const std::string name = common::commandName(invocation);
  const auto &readers = stateReaders();
  if (std::find(readers.begin(), readers.end(), name) != readers.end()) {
    for (const auto &field : result.items()) {
      if (field.key() != "command" && field.key() != "ok")
        state.readings[field.key()] = field.value();
    }
    return nullptr;
  }
  const Effect *effect = effectOf(name);
  if (effect == nullptr) return nullptr;
  if (effect->note != nullptr) effect->note(state.last_set, invocation.values);
  return effect->read_back;
}

std::string readBackOf(const std::string &command) {
  const Effect *effect = effectOf(command);
  return effect == nullptr || effect->read_back == nullptr ? std::string() : effect->read_back;
}

}  // namespace radiobridge
