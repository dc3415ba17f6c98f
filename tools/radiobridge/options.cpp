// SPDX-License-Identifier: MIT
// Reading radiobridge's command line with CLI11 and checking what it read:
// bus addresses and the baud rate through radioctl's value parsers, the
// broker's HOST[:PORT], option pairs that only make sense together, and the
// topic parts, which must be printable UTF-8 without MQTT wildcards. Defaults
// that depend on other options (the line's name, the reply prefix) are
// filled in here.
#include "options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <optional>

#include "codec.h"
#include "values.h"

namespace radiobridge {
namespace {

constexpr int kDefaultRadio = 0x20;
constexpr int kTlsPort = 8883;  // the broker's usual TLS port, used with --cafile
constexpr int kMaxPort = 65535;
constexpr int kMinKeepalive = 5;
constexpr int kMaxKeepalive = 65535;  // the protocol's two-byte field
constexpr int kMaxQueue = 10000;
constexpr int kMaxSeconds = 86400;  // a day: longer waits are mistakes
constexpr const char *kSimulatedName = "sim";

struct Texts {
  std::string baud = "19200";
  std::vector<std::string> radios;
  std::string controller = "0x91";
  std::string broker;
  bool no_discovery = false;
  bool version = false;
};

void describe(CLI::App &app, Options &options, Texts &texts) {
  CLI::Option *device = app.add_option("-d,--device", options.device, "serial device of the line")
                            ->type_name("DEVICE");
  app.add_option("-b,--baud", texts.baud, "line speed in bits per second")
      ->type_name("BAUD")
      ->capture_default_str();
  app.add_option("--radio", texts.radios, "bus address of a radio on the line (repeat for more)")
      ->type_name("ADDR")
      ->default_str("0x20");
  app.add_option("--controller", texts.controller, "bus address of the bridge")
      ->type_name("ADDR")
      ->capture_default_str();
  app.add_option("--name", options.name, "the line's name in topics (default: device base name)")
      ->type_name("LINE");
  app.add_option("--broker", texts.broker, "MQTT broker (default 127.0.0.1:1883, 8883 with TLS)")
      ->type_name("HOST[:PORT]");
  describeLogin(app, options);
  app.add_option("--topic-base", options.topic_base, "first part of every topic")
      ->type_name("BASE")
      ->capture_default_str();
  app.add_option("--heartbeat", options.heartbeat, "seconds between version reads, 0: off")
      ->type_name("SECONDS")
      ->check(CLI::Range(0, kMaxSeconds).description(""))
      ->capture_default_str();
  app.add_flag("--simulate", options.simulate, "run against radiosim on a pseudo-terminal")
      ->excludes(device);
  app.add_flag("-v,--trace", options.trace, "trace the library's work on standard error");
  app.add_option("--reply-prefix", options.reply_prefix,
                 "replies go only to response topics starting with this (default BASE/LINE/reply/)")
      ->type_name("PREFIX");
  app.add_option("--queue-size", options.queue_size, "requests that may wait for the line")
      ->type_name("N")
      ->check(CLI::Range(1, kMaxQueue).description(""))
      ->capture_default_str();
  app.add_option("--keepalive", options.keepalive, "MQTT keepalive in seconds")
      ->type_name("SECONDS")
      ->check(CLI::Range(kMinKeepalive, kMaxKeepalive).description(""))
      ->capture_default_str();
  app.add_option("--request-expiry", options.request_expiry,
                 "seconds a request without its own expiry may wait")
      ->type_name("SECONDS")
      ->check(CLI::Range(1, kMaxSeconds).description(""))
      ->capture_default_str();
  app.add_option("--discovery-prefix", options.discovery_prefix,
                 "topic prefix of the dashboard announcements")
      ->type_name("PREFIX")
      ->capture_default_str();
  app.add_flag("--no-discovery", texts.no_discovery,
               "announce nothing to dashboards and clear earlier announcements");
  app.add_flag("--version", texts.version, "print the version and exit");
}

}  // namespace

void describeLogin(CLI::App &app, Options &options) {
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

namespace {

std::optional<int> number(const char *option, const std::string &text, radioctl::ValueKind kind,
                          std::string &error) {
  const radioctl::Value value = radioctl::parseValue(kind, text);
  if (!value.number) {
    error = std::string(option) + " '" + text + "' " + value.problem;
    return std::nullopt;
  }
  return static_cast<int>(*value.number);
}

}  // namespace

bool readBroker(const std::string &text, Options &options, std::string &error) {
  std::string host = text;
  std::string port;
  if (!text.empty() && text.front() == '[') {
    const std::size_t close = text.find(']');
    const bool tail_ok =
        close != std::string::npos && (close + 1 == text.size() || text[close + 1] == ':');
    if (!tail_ok) {
      error = "--broker '" + text + "' is not HOST[:PORT]";
      return false;
    }
    host = text.substr(1, close - 1);
    if (close + 1 < text.size()) port = text.substr(close + 2);
  } else if (std::count(text.begin(), text.end(), ':') == 1) {
    host = text.substr(0, text.find(':'));
    port = text.substr(text.find(':') + 1);
  }
  const bool digits =
      !port.empty() && port.size() <= 5 &&
      std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (host.empty() ||
      (!port.empty() && (!digits || std::stoi(port) < 1 || std::stoi(port) > kMaxPort)) ||
      (port.empty() && text.back() == ':')) {
    error = "--broker '" + text + "' is not HOST[:PORT] with a port from 1 to 65535";
    return false;
  }
  options.host = host;
  if (!port.empty()) options.port = std::stoi(port);
  return true;
}

namespace {

// UTF-8 without control characters (C0, DEL, C1), which have no place in a
// topic that people read.
bool printableUtf8(const std::string &text) {
  constexpr unsigned char kDelete = 0x7F;
  constexpr unsigned char kC1Lead = 0xC2;  // U+0080 to U+009F are C2 80 to C2 9F
  constexpr unsigned char kC1Last = 0x9F;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const bool c1 =
        c == kC1Lead && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= kC1Last;
    if (c < ' ' || c == kDelete || c1) return false;
  }
  return validUtf8(text);
}

}  // namespace

bool topicPart(const char *option, const std::string &text, bool inner_slashes,
               std::string &error) {
  const bool wild = text.find_first_of("+#") != std::string::npos;
  const bool slash = inner_slashes ? (!text.empty() && (text.front() == '/' || text.back() == '/'))
                                   : text.find('/') != std::string::npos;
  if (text.empty() || wild || slash || !printableUtf8(text)) {
    error = std::string(option) + " '" + shown(text) +
            "' must be printable UTF-8 without +, # or " +
            (inner_slashes ? "a leading or trailing /" : "/");
    return false;
  }
  return true;
}

namespace {

bool readRadios(const std::vector<std::string> &texts, Options &options, std::string &error) {
  for (const std::string &text : texts) {
    const auto radio = number("--radio", text, radioctl::ValueKind::kAddress, error);
    if (!radio) return false;
    if (*radio == 0) {
      error = "--radio '" + text + "' is the broadcast address, which no radio answers";
      return false;
    }
    if (std::find(options.radios.begin(), options.radios.end(), *radio) != options.radios.end()) {
      error = "--radio '" + text + "' is given twice";
      return false;
    }
    options.radios.push_back(*radio);
  }
  if (options.radios.empty()) options.radios.push_back(kDefaultRadio);
  return true;
}

bool check(const Texts &texts, Options &options, std::string &error) {
  const auto baud = number("--baud", texts.baud, radioctl::ValueKind::kBaud, error);
  const auto controller =
      baud ? number("--controller", texts.controller, radioctl::ValueKind::kAddress, error)
           : std::nullopt;
  if (!baud || !controller || !readRadios(texts.radios, options, error)) return false;
  if (*controller == radioctl::kBroadcast) {
    error = "--controller '" + texts.controller +
            "' is the broadcast address; the bridge needs an address of its own";
    return false;
  }
  options.baud = *baud;
  options.controller = *controller;
  options.discovery = !texts.no_discovery;
  if (options.device.empty() && !options.simulate) {
    error = "give the line's device with -d DEVICE, or --simulate";
    return false;
  }
  if (!options.cafile.empty()) options.port = kTlsPort;
  if (!texts.broker.empty() && !readBroker(texts.broker, options, error)) return false;
  if (options.name.empty()) {
    const std::size_t slash = options.device.find_last_of('/');
    options.name = options.simulate ? kSimulatedName : options.device.substr(slash + 1);
  }
  if (!topicPart("--topic-base", options.topic_base, true, error) ||
      !topicPart("--name", options.name, false, error) ||
      !topicPart("--discovery-prefix", options.discovery_prefix, true, error)) {
    return false;
  }
  if (options.reply_prefix.empty()) options.reply_prefix = lineTopic(options) + "/reply/";
  if (options.reply_prefix.find_first_of("+#") != std::string::npos) {
    error = "--reply-prefix '" + options.reply_prefix + "' must not contain + or #";
    return false;
  }
  return true;
}

}  // namespace

ParsedOptions parseOptions(int argc, char **argv) {
  ParsedOptions parsed;
  Texts texts;
  CLI::App app{"Connects the radios on one serial line to an MQTT broker.", kProgram};
  describe(app, parsed.options, texts);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp &) {
    parsed.output = app.help();
    return parsed;
  } catch (const CLI::ParseError &error) {
    parsed.status = kExitUsage;
    parsed.error = std::string(kProgram) + ": " + error.what() + "\n";
    return parsed;
  }
  if (texts.version) {
    parsed.output = std::string(kProgram) + " " + RADIOBRIDGE_VERSION + "\n";
    return parsed;
  }
  std::string error;
  if (!check(texts, parsed.options, error)) {
    parsed.status = kExitUsage;
    parsed.error = std::string(kProgram) + ": " + error + "\n";
    return parsed;
  }
  parsed.run = true;
  return parsed;
}

std::string lineTopic(const Options &options) {
  return options.topic_base + "/" + options.name;
}

}  // namespace radiobridge
