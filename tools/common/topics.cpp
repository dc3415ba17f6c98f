// SPDX-License-Identifier: MIT
// Topic names and the reading of a request topic and of a status. A
// request topic is T/RR/request or T/RR/request/USER, RR a served radio's
// address in two lower-case hex digits; a reply may go to a topic under
// the reply prefix (for a user, under its USER/ level) that holds no
// wildcard or NUL.
#include "topics.h"

#include <algorithm>
#include <cstdio>

namespace common {
namespace {

constexpr const char *kRequestLevel = "request";

}  // namespace

std::string radioName(int address) {
  char name[8];
  std::snprintf(name, sizeof name, "%02x", static_cast<unsigned>(address) & 0xFFu);
  return name;
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

bool readStatus(const std::string &payload, Json &instance) {
  const Json status = Json::parse(payload, nullptr, false);
  instance = nullptr;
  if (status.is_discarded() || !status.is_object()) return false;
  if (status.contains("instance")) instance = status["instance"];
  const auto state = status.find("state");
  return state != status.end() && *state == "online";
}

}  // namespace common
