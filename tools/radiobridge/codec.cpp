// SPDX-License-Identifier: MIT
// The bridge's topics and payloads. A request is admitted in a fixed order:
// its topic names the radio and, one level further, the user; the reply's
// route is the message's response topic when that lies under the reply
// prefix (for a user, under the prefix's USER/ level), else the radio's
// response topic (with /USER for a user); a retained request, a foreign
// response topic, a radio the line does not serve and anything that is not
// one valid command are answered at once with "usage" and never queued.
// A command comes as text or as {"command": "...", "transaction": "..."}
// and is planned by radioctl, so it meets radioctl's own checks. What a
// successful command changes in a radio's state is one row per command.
#include "codec.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <tuple>

namespace radiobridge {
namespace {

using Values = std::vector<long>;

constexpr std::size_t kMaxShown = 64;  // longest client text repeated in logs and replies
constexpr const char *kRequestLevel = "request";
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

// The lead bytes of well-formed UTF-8: the range a lead byte is in, how
// many continuation bytes follow it and the range the first of them must be
// in; the others are all kContinuationLow to kContinuationHigh.
struct Utf8Lead {
  unsigned char first;
  unsigned char last;
  int follow;
  unsigned char low;
  unsigned char high;
};

constexpr unsigned char kContinuationLow = 0x80;
constexpr unsigned char kContinuationHigh = 0xBF;

// clang-format off
constexpr std::array<Utf8Lead, 9> kUtf8Leads{{
    // lead bytes   follow  first continuation
    {0x00, 0x7F,    0,      0x00, 0x00},  // ASCII
    {0xC2, 0xDF,    1,      0x80, 0xBF},
    {0xE0, 0xE0,    2,      0xA0, 0xBF},  // no overlong three-byte forms
    {0xE1, 0xEC,    2,      0x80, 0xBF},
    {0xED, 0xED,    2,      0x80, 0x9F},  // no surrogates
    {0xEE, 0xEF,    2,      0x80, 0xBF},
    {0xF0, 0xF0,    3,      0x90, 0xBF},  // no overlong four-byte forms
    {0xF1, 0xF3,    3,      0x80, 0xBF},
    {0xF4, 0xF4,    3,      0x80, 0x8F},  // nothing above U+10FFFF
}};
// clang-format on

std::string trimmed(const std::string &text) {
  const char *space = " \t\r\n";
  const std::size_t first = text.find_first_not_of(space);
  return first == std::string::npos ? std::string()
                                    : text.substr(first, text.find_last_not_of(space) - first + 1);
}

// Takes the command text (and transaction) out of a JSON request; returns
// the problem, or an empty string.
std::string readJson(const std::string &payload, std::string &text, Json &transaction) {
  const Json object = Json::parse(payload, nullptr, false);
  if (object.is_discarded() || !object.is_object()) return "request is not valid JSON";
  const auto given = object.find("transaction");
  if (given != object.end() && !given->is_string()) return "\"transaction\" must be a string";
  if (given != object.end()) transaction = *given;
  const auto command = object.find("command");
  if (command == object.end() || !command->is_string()) return "\"command\" must be a string";
  text = command->get<std::string>();
  return {};
}

// Reads the message's command into `request`; returns the problem, or an
// empty string when it is one command ready to run.
std::string readCommand(const Incoming &message, Request &request) {
  request.text = shown(trimmed(message.payload));
  if (message.payload_size > kMaxRequestBytes) {
    return "request of " + std::to_string(message.payload_size) + " bytes is longer than the " +
           std::to_string(kMaxRequestBytes) + " a request may have";
  }
  if (!validUtf8(message.payload)) return "request is not UTF-8 text";
  std::string text = trimmed(message.payload);
  if (!text.empty() && text.front() == '{') {
    std::string problem = readJson(message.payload, text, request.transaction);
    if (!problem.empty()) return problem;
    text = trimmed(text);
  }
  request.text = shown(text);
  const radioctl::Plan plan = radioctl::planLine(text);
  if (plan.outcome == radioctl::Plan::Outcome::kHelp) {
    return "no help here; radioctl COMMAND --help explains each command";
  }
  if (plan.outcome == radioctl::Plan::Outcome::kUsage) {
    request.name = plan.command;
    return plan.message;
  }
  request.invocation = plan.invocations.front();
  request.invocation.line = 0;
  request.name = radioctl::commandName(request.invocation);
  return {};
}

const Effect *effectOf(const std::string &command) {
  const auto row = std::find_if(kEffects.begin(), kEffects.end(),
                                [&command](const Effect &e) { return command == e.command; });
  return row == kEffects.end() ? nullptr : &*row;
}

}  // namespace

std::string radioName(int address) {
  char name[8];
  std::snprintf(name, sizeof name, "%02x", static_cast<unsigned>(address) & 0xFFu);
  return name;
}

std::string shown(const std::string &text) {
  std::string out;
  for (std::size_t i = 0; i < text.size() && i < kMaxShown; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
    out += c >= ' ' && c <= '~' ? std::string(1, static_cast<char>(c)) : std::string(escaped);
  }
  return text.size() > kMaxShown ? out + "..." : out;
}

bool validUtf8(const std::string &text) {
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i++]);
    const auto row = std::find_if(kUtf8Leads.begin(), kUtf8Leads.end(), [lead](const Utf8Lead &r) {
      return lead >= r.first && lead <= r.last;
    });
    if (row == kUtf8Leads.end() || text.size() - i < static_cast<std::size_t>(row->follow)) {
      return false;
    }
    for (int k = 0; k < row->follow; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i++]);
      const bool first = k == 0;
      if (next < (first ? row->low : kContinuationLow) ||
          next > (first ? row->high : kContinuationHigh)) {
        return false;
      }
    }
  }
  return true;
}

Topics::Topics(std::string line_topic, std::string reply_prefix, std::vector<int> radios)
    : line_(std::move(line_topic)),
      reply_prefix_(std::move(reply_prefix)),
      radios_(std::move(radios)) {}

std::string Topics::radioTopic(int radio, const char *leaf, const std::string &user) const {
  return line_ + "/" + radioName(radio) + leaf + (user.empty() ? "" : "/" + user);
}

std::vector<std::string> Topics::requestFilters() const {
  return {line_ + "/+/" + kRequestLevel, line_ + "/+/" + kRequestLevel + "/+"};
}

bool Topics::serves(int radio) const {
  return std::find(radios_.begin(), radios_.end(), radio) != radios_.end();
}

bool Topics::replyAllowed(const std::string &topic, const std::string &user) const {
  const std::string prefix = replyPrefix(user);
  return topic.size() > prefix.size() && topic.compare(0, prefix.size(), prefix) == 0 &&
         topic.find_first_of(std::string("+#\0", 3)) == std::string::npos;
}

std::optional<RequestTarget> Topics::targetOf(const std::string &request_topic) const {
  const std::string head = line_ + "/";
  if (request_topic.compare(0, head.size(), head) != 0) return std::nullopt;
  std::vector<std::string> levels{{}};
  for (std::size_t i = head.size(); i < request_topic.size(); ++i) {
    if (request_topic[i] == '/') {
      levels.emplace_back();
    } else {
      levels.back() += request_topic[i];
    }
  }
  const std::string &name = levels[0];
  if (levels.size() < 2 || levels.size() > 3 || levels[1] != kRequestLevel || name.size() != 2 ||
      name.find_first_not_of("0123456789abcdef") != std::string::npos ||
      (levels.size() == 3 && levels[2].empty())) {
    return std::nullopt;
  }
  return RequestTarget{std::stoi(name, nullptr, 16), levels.size() == 3 ? levels[2] : ""};
}

Admission admit(const Incoming &message, const Topics &topics,
                std::chrono::seconds default_expiry) {
  Admission admission;
  const std::optional<RequestTarget> target = topics.targetOf(message.topic);
  if (!target) {
    admission.note = "message on " + shown(message.topic) + " dropped: not a request topic";
    return admission;
  }
  Request &request = admission.request;
  const std::string radio = radioName(target->radio);
  request.radio = target->radio;
  request.expires =
      message.received +
      (message.expiry_seconds ? std::chrono::seconds(*message.expiry_seconds) : default_expiry);
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
    problem = "response topic '" + shown(*message.response_topic) + "' is not under '" +
              shown(topics.replyPrefix(target->user)) + "'";
    admission.note = "radio " + radio + ": refused to answer " +
                     (target->user.empty() ? "" : shown(target->user) + " ") + "on " +
                     shown(*message.response_topic);
  } else if (!topics.serves(target->radio)) {
    problem = "no radio " + radio + " on this line";
  }
  if (problem.empty()) {
    admission.action = Admission::Action::kQueue;
    return admission;
  }
  admission.action = Admission::Action::kAnswer;
  admission.reply = failure(request, radioctl::kCodeUsage, EINVAL, problem);
  return admission;
}

Json failure(const Request &request, const char *code, int error_number,
             const std::string &message) {
  return reply(request, radioctl::failureObject(request.name, code, error_number, message));
}

Json reply(const Request &request, Json result) {
  if (!request.transaction.is_null()) result["transaction"] = request.transaction;
  return result;
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
  return shown(instance["host"].is_string() ? instance["host"].get<std::string>()
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

bool readStatus(const std::string &payload, Json &instance) {
  const Json status = Json::parse(payload, nullptr, false);
  instance = nullptr;
  if (status.is_discarded() || !status.is_object()) return false;
  if (status.contains("instance")) instance = status["instance"];
  const auto state = status.find("state");
  return state != status.end() && *state == "online";
}

Json stateObject(const RadioState &state) {
  Json object{{"available", state.available}};
  object.update(state.readings);
  object["last_set"] = state.last_set;
  return object;
}

const std::vector<std::string> &stateReaders() {
  static const std::vector<std::string> readers{"version", "get-codeplug", "get-config",
                                                "get-offset", "get-split"};
  return readers;
}

const char *noteSuccess(RadioState &state, const radioctl::Invocation &invocation,
                        const Json &result) {
  const std::string name = radioctl::commandName(invocation);
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

}  // namespace radiobridge
