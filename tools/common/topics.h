// SPDX-License-Identifier: MIT
// The topic layout, said once for every tool: the topics of one line as
// radiobridge serves them and radioctl --broker uses them (the line's
// status and metrics, each radio's state, request and response topics,
// plain and per user, and the reply prefix a response topic must start
// with), the dashboard announcements' topics, the radio's two-hex-digit
// name in a topic, and what the status topic's payload says. Every topic is built
// and taken apart here. Pure, no I/O.
#ifndef RADIOLINE_COMMON_TOPICS_H
#define RADIOLINE_COMMON_TOPICS_H

#include <optional>
#include <string>
#include <vector>

#include "broker_options.h"
#include "commands.h"

namespace common {

// A radio's address as it appears in topics: two lower-case hex digits.
std::string radioName(int address);
// The address a radio's name in a topic gives, or none when `name` is not
// two lower-case hex digits.
std::optional<int> radioOfName(const std::string &name);

// The levels of `topic`, split at each /.
std::vector<std::string> topicLevels(const std::string &topic);

// T in the topic names of a line: BASE/LINE.
std::string lineTopic(const BrokerOptions &options);

// What a request topic names: the radio, and the user for a per-user
// topic T/R/request/USER (empty for the plain T/R/request).
struct RequestTarget {
  int radio = 0;
  std::string user;
};

// The topics of one line T (BASE/LINE) and the radios it serves. A user's
// replies go to T/R/response/USER or under PREFIX USER/; the plain request
// topic's to T/R/response or under PREFIX (T/reply/ when it is empty).
class Topics {
 public:
  explicit Topics(std::string line_topic, std::string reply_prefix = {},
                  std::vector<int> radios = {});

  std::string status() const { return line_ + "/status"; }
  std::string metrics() const { return line_ + "/metrics"; }
  std::string state(int radio) const { return radioTopic(radio, "/state", {}); }
  std::string request(int radio, const std::string &user = {}) const {
    return radioTopic(radio, "/request", user);
  }
  std::string response(int radio, const std::string &user = {}) const {
    return radioTopic(radio, "/response", user);
  }
  std::string replyPrefix(const std::string &user = {}) const {
    return user.empty() ? reply_prefix_ : reply_prefix_ + user + "/";
  }
  // The filters that take every radio's plain and per-user requests.
  std::vector<std::string> requestFilters() const;
  bool serves(int radio) const;

  // Whether `user`'s reply may be published on `topic`.
  bool replyAllowed(const std::string &topic, const std::string &user) const;
  // The radio and user a request topic names.
  std::optional<RequestTarget> targetOf(const std::string &request_topic) const;

 private:
  std::string radioTopic(int radio, const char *leaf, const std::string &user) const;

  std::string line_;
  std::string reply_prefix_;
  std::vector<int> radios_;
};

// What a dashboard announcement's topic names.
struct ConfigTopic {
  std::string component;  // "number", "button", "sensor"
  std::string node;       // the device
  std::string object;     // the entity
};

// The dashboard announcements' topics: PREFIX/COMPONENT/NODE/OBJECT/config.
class ConfigTopics {
 public:
  explicit ConfigTopics(std::string prefix) : prefix_(std::move(prefix)) {}

  std::string topic(const ConfigTopic &config) const;
  // The filter that takes every configuration under the prefix.
  std::string filter() const;
  // Whether `topic` lies under the prefix.
  bool under(const std::string &topic) const;
  // What the configuration topic `topic` names, or none for any other topic.
  std::optional<ConfigTopic> read(const std::string &topic) const;

 private:
  std::string prefix_;
};

// Whether a status read from the status topic says online; `instance` is
// set to the instance that published it (null when it names none). Anything
// that is not a status object counts as offline.
bool readStatus(const std::string &payload, Json &instance);

}  // namespace common

#endif  // RADIOLINE_COMMON_TOPICS_H
