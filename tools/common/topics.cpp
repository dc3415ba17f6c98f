// SPDX-License-Identifier: MIT
// Topic names and the reading of a request topic, an announcement's topic
// and a status. A request topic is T/RR/request or T/RR/request/USER, RR a
// served radio's address in two lower-case hex digits; a reply may go to a
// topic under the reply prefix (for a user, under its USER/ level) that
// holds no wildcard or NUL.
#include "topics.h"

#include <algorithm>
#include <cstdio>

namespace common {
namespace {

constexpr const char *kRequestLevel = "request";
constexpr const char *kReplyLevel = "reply";
constexpr const char *kConfigLevel = "config";

// The levels of `topic` below `head` (which ends with a /), or none when it
// does not start with it.
std::optional<std::vector<std::string>> levelsBelow(const std::string &head,
                                                    const std::string &topic) {
  if (topic.compare(0, head.size(), head) != 0) return std::nullopt;
  return topicLevels(topic.substr(head.size()));
}

}  // namespace

std::string radioName(int address) {
  char name[8];
  std::snprintf(name, sizeof name, "%02x", static_cast<unsigned>(address) & 0xFFu);
  return name;
}

std::optional<int> radioOfName(const std::string &name) {
  if (name.size() != 2 || name.find_first_not_of("0123456789abcdef") != std::string::npos) {
    return std::nullopt;
  }
  return std::stoi(name, nullptr, 16);
}

std::vector<std::string> topicLevels(const std::string &topic) {
  std::vector<std::string> levels{{}};
  for (const char c : topic) {
    if (c == '/') {
      levels.emplace_back();
    } else {
      levels.back() += c;
    }
  }
  return levels;
}

std::string lineTopic(const BrokerOptions &options) {
  return options.topic_base + "/" + options.line;
}

Topics::Topics(std::string line_topic, std::string reply_prefix, std::vector<int> radios)
    : line_(std::move(line_topic)),
      reply_prefix_(reply_prefix.empty() ? line_ + "/" + kReplyLevel + "/"
                                         : std::move(reply_prefix)),
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
  const auto levels = levelsBelow(line_ + "/", request_topic);
  if (!levels || levels->size() < 2 || levels->size() > 3 || (*levels)[1] != kRequestLevel ||
      (levels->size() == 3 && (*levels)[2].empty())) {
    return std::nullopt;
  }
  const std::optional<int> radio = radioOfName(levels->front());
  if (!radio) return std::nullopt;
  return RequestTarget{*radio, levels->size() == 3 ? levels->back() : ""};
}

std::string ConfigTopics::topic(const ConfigTopic &config) const {
  return prefix_ + "/" + config.component + "/" + config.node + "/" + config.object + "/" +
         kConfigLevel;
}

std::string ConfigTopics::filter() const {
  return topic({"+", "+", "+"});
}

bool ConfigTopics::under(const std::string &topic) const {
  return topic.compare(0, prefix_.size() + 1, prefix_ + "/") == 0;
}

std::optional<ConfigTopic> ConfigTopics::read(const std::string &topic) const {
  const auto levels = levelsBelow(prefix_ + "/", topic);
  if (!levels || levels->size() != 4 || (*levels)[3] != kConfigLevel) return std::nullopt;
  return ConfigTopic{(*levels)[0], (*levels)[1], (*levels)[2]};
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
