// SPDX-License-Identifier: MIT
// The broker options with CLI11, and their checks: the broker's address
// (a bracketed IPv6 address may carry a port after the bracket, a bare one
// none) and the topic parts, which must be printable UTF-8 without MQTT
// wildcards.
#include "broker_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>

#include "text.h"

namespace common {
namespace {

constexpr int kMaxPort = 65535;
constexpr std::size_t kMaxPortDigits = 5;

// The port's number, or 0 when `port` is not one from 1 to 65535.
int portNumber(const std::string &port) {
  const bool digits =
      !port.empty() && port.size() <= kMaxPortDigits &&
      std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; });
  const int number = digits ? std::stoi(port) : 0;
  return number <= kMaxPort ? number : 0;
}

}  // namespace

void describeLogin(CLI::App &app, BrokerOptions &options) {
  CLI::Option *user =
      app.add_option("--user", options.user, "user name at the broker")->type_name("USER");
  CLI::Option *password = app.add_option("--password-file", options.password_file,
                                         "file whose first line is the password")
                              ->type_name("FILE");
  user->needs(password);
  password->needs(user);
  CLI::Option *cafile =
      app.add_option("--cafile", options.cafile, "CA certificate: connect with TLS")
          ->type_name("FILE");
  CLI::Option *cert =
      app.add_option("--cert", options.cert, "client certificate for TLS")->type_name("FILE");
  CLI::Option *key = app.add_option("--key", options.key, "client key for TLS")->type_name("FILE");
  cert->needs(key)->needs(cafile);
  key->needs(cert);
}

bool readBroker(const std::string &text, BrokerOptions &options, std::string &error) {
  options.port = options.cafile.empty() ? kBrokerPort : kTlsPort;
  if (text.empty()) return true;
  std::string host = text;
  std::string port;
  bool has_port = false;
  if (text.front() == '[') {
    const std::size_t close = text.find(']');
    const bool tail_ok =
        close != std::string::npos && (close + 1 == text.size() || text[close + 1] == ':');
    if (!tail_ok) {
      error = "--broker '" + quote(text) + "' is not HOST[:PORT]";
      return false;
    }
    host = text.substr(1, close - 1);
    has_port = close + 1 < text.size();
    if (has_port) port = text.substr(close + 2);
  } else if (std::count(text.begin(), text.end(), ':') == 1) {
    host = text.substr(0, text.find(':'));
    port = text.substr(text.find(':') + 1);
    has_port = true;
  }
  const int number = has_port ? portNumber(port) : options.port;
  if (host.empty() || number == 0) {
    error = "--broker '" + quote(text) + "' is not HOST[:PORT] with a port from 1 to 65535";
    return false;
  }
  options.host = host;
  options.port = number;
  return true;
}

bool topicPart(const char *option, const std::string &text, bool inner_slashes,
               std::string &error) {
  const bool wild = text.find_first_of("+#") != std::string::npos;
  const bool slash = inner_slashes ? (!text.empty() && (text.front() == '/' || text.back() == '/'))
                                   : text.find('/') != std::string::npos;
  if (text.empty() || wild || slash || !printableUtf8(text)) {
    error = std::string(option) + " '" + quote(text) +
            "' must be printable UTF-8 without +, # or " +
            (inner_slashes ? "a leading or trailing /" : "/");
    return false;
  }
  return true;
}

bool checkTopics(const BrokerOptions &options, const char *line_option, std::string &error) {
  return topicPart("--topic-base", options.topic_base, true, error) &&
         topicPart(line_option, options.line, false, error);
}

}  // namespace common
