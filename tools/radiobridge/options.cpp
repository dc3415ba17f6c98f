// SPDX-License-Identifier: MIT
// Reading radiobridge's command line with CLI11 and checking what it read:
// the line options, the broker and its login and the topic parts through
// the tools' shared readers, the radios served, and the bridge's own
// settings. Defaults that depend on other options (the line's name, the
// reply prefix) are filled in here.
#include "options.h"

#include <CLI/CLI.hpp>
#include <algorithm>

#include "line_options.h"
#include "text.h"
#include "topics.h"
#include "values.h"

namespace radiobridge {
namespace {

constexpr int kMinKeepalive = 5;
constexpr int kMaxKeepalive = 65535;  // the protocol's two-byte field
constexpr int kMaxQueue = 10000;
constexpr int kMaxSeconds = 86400;  // a day: longer waits are mistakes
constexpr const char *kSimulatedName = "sim";

struct Texts {
  common::LineTexts line;
  std::vector<std::string> radios;
  std::string broker;
  bool no_discovery = false;
  bool version = false;
};

void describe(CLI::App &app, Options &options, Texts &texts) {
  common::describeLineOptions(app, texts.line, "the bridge");
  app.add_option("--radio", texts.radios, "bus address of a radio on the line (repeat for more)")
      ->type_name("ADDR")
      ->default_str(common::addressText(RADIOLINE_RADIO_ADDRESS));
  common::BrokerOptions &broker = options.broker;
  app.add_option("--name", broker.line, "the line's name in topics (default: device base name)")
      ->type_name("LINE");
  app.add_option("--broker", texts.broker, "MQTT broker (default 127.0.0.1:1883, 8883 with TLS)")
      ->type_name("HOST[:PORT]");
  common::describeLogin(app, broker);
  app.add_option("--topic-base", broker.topic_base, "first part of every topic")
      ->type_name("BASE")
      ->capture_default_str();
  app.add_option("--heartbeat", options.heartbeat, "seconds between version reads, 0: off")
      ->type_name("SECONDS")
      ->check(CLI::Range(0, kMaxSeconds).description(""))
      ->capture_default_str();
  app.add_option("--reply-prefix", options.reply_prefix,
                 "replies go only to response topics starting with this (default BASE/LINE/reply/)")
      ->type_name("PREFIX");
  app.add_option("--queue-size", options.queue_size, "requests that may wait for the line")
      ->type_name("N")
      ->check(CLI::Range(1, kMaxQueue).description(""))
      ->capture_default_str();
  app.add_option("--keepalive", broker.keepalive, "MQTT keepalive in seconds")
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

bool readRadios(const std::vector<std::string> &texts, Options &options, std::string &error) {
  for (const std::string &text : texts) {
    int radio = 0;
    if (!common::readOption("--radio", text, common::ValueKind::kAddress, radio, error)) {
      return false;
    }
    if (radio == common::kBroadcast) {
      error =
          "--radio '" + common::quote(text) + "' is the broadcast address, which no radio answers";
      return false;
    }
    if (std::find(options.radios.begin(), options.radios.end(), radio) != options.radios.end()) {
      error = "--radio '" + common::quote(text) + "' is given twice";
      return false;
    }
    options.radios.push_back(radio);
  }
  if (options.radios.empty()) options.radios.push_back(RADIOLINE_RADIO_ADDRESS);
  options.line.radio = options.radios.front();
  return true;
}

bool readLine(const Texts &texts, Options &options, std::string &error) {
  if (!common::readLineOptions(texts.line, options.line, options.controller, error) ||
      !readRadios(texts.radios, options, error)) {
    return false;
  }
  options.trace = texts.line.trace;
  if (options.controller == common::kBroadcast) {
    error = "--controller '" + common::quote(texts.line.controller) +
            "' is the broadcast address; the bridge needs an address of its own";
    return false;
  }
  options.discovery = !texts.no_discovery;
  if (options.line.device.empty() && !options.line.simulate) {
    error = "give the line's device with -d DEVICE, or --simulate";
    return false;
  }
  return true;
}

bool readBroker(const Texts &texts, Options &options, std::string &error) {
  common::BrokerOptions &broker = options.broker;
  if (!common::readBroker(texts.broker, broker, error)) return false;
  if (broker.line.empty()) {
    const std::string &device = options.line.device;
    broker.line = options.line.simulate ? kSimulatedName : device.substr(device.rfind('/') + 1);
  }
  if (!common::checkTopics(broker, "--name", error) ||
      !common::topicPart("--discovery-prefix", options.discovery_prefix, true, error)) {
    return false;
  }
  if (options.reply_prefix.empty()) {
    options.reply_prefix = common::Topics(common::lineTopic(broker)).replyPrefix();
  }
  if (options.reply_prefix.find_first_of("+#") != std::string::npos) {
    error = "--reply-prefix '" + common::quote(options.reply_prefix) + "' must not contain + or #";
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
    parsed.status = common::kExitUsage;
    parsed.error = std::string(kProgram) + ": " + error.what() + "\n";
    return parsed;
  }
  if (texts.version) {
    parsed.output = std::string(kProgram) + " " + RADIOBRIDGE_VERSION + "\n";
    return parsed;
  }
  std::string error;
  if (!readLine(texts, parsed.options, error) || !readBroker(texts, parsed.options, error)) {
    parsed.status = common::kExitUsage;
    parsed.error = std::string(kProgram) + ": " + error + "\n";
    return parsed;
  }
  parsed.run = true;
  return parsed;
}

}  // namespace radiobridge
