// SPDX-License-Identifier: MIT
// Where the broker is and how to log in: the options radiobridge and
// radioctl --broker share (the broker's HOST[:PORT], --user with
// --password-file, --cafile, --cert and --key, --topic-base and the line's
// name), their defaults and their checks, done before anything starts.
// Connecting with them is mqtt_client.cpp's job, the topics they make
// topics.h's. No I/O.
#ifndef RADIOLINE_COMMON_BROKER_OPTIONS_H
#define RADIOLINE_COMMON_BROKER_OPTIONS_H

#include <string>

namespace CLI {
class App;
}

namespace common {

constexpr int kBrokerPort = 1883;
constexpr int kTlsPort = 8883;         // the broker's usual TLS port, the default with --cafile
constexpr int kDefaultKeepalive = 30;  // seconds

struct BrokerOptions {
  std::string host = "127.0.0.1";
  int port = kBrokerPort;
  std::string user;  // empty: connect without a user name
  std::string password_file;
  std::string cafile;  // empty: no TLS
  std::string cert;
  std::string key;
  std::string topic_base = "radioline";
  std::string line;  // the line's name in the topics
  int keepalive = kDefaultKeepalive;
};

// Adds the login and TLS options bound to `options`: --user with
// --password-file, --cafile, and --cert with --key, which need --cafile.
void describeLogin(CLI::App &app, BrokerOptions &options);

// Reads the broker's address, HOST, HOST:PORT, [IPV6] or [IPV6]:PORT, into
// options.host and options.port; without a port the port is 8883 with
// --cafile and 1883 without. An empty `text` keeps the host. A problem goes
// to `error`.
bool readBroker(const std::string &text, BrokerOptions &options, std::string &error);

// Whether `text`, the value of `option`, can be part of a topic: not empty,
// printable UTF-8 (no control characters), free of wildcards and of /, or
// with `inner_slashes` of a leading or trailing /. A problem goes to `error`.
bool topicPart(const char *option, const std::string &text, bool inner_slashes, std::string &error);

// Checks --topic-base and the line's name (given as `line_option`).
bool checkTopics(const BrokerOptions &options, const char *line_option, std::string &error);

}  // namespace common

#endif  // RADIOLINE_COMMON_BROKER_OPTIONS_H
