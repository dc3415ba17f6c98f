// SPDX-License-Identifier: MIT
// radiobridge's command line: the options, their defaults and every check of
// their values, done before anything starts, so a bad command line exits
// with a usage message and leaves no process, file or connection behind.
// Values users write as radioctl does (addresses, baud rates) go through
// radioctl's value parsers. Reading the password file is left to main: a
// file that cannot be read is a runtime failure, not a usage error.
#ifndef RADIOBRIDGE_OPTIONS_H
#define RADIOBRIDGE_OPTIONS_H

#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace radiobridge {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // the bridge started and could not go on
constexpr int kExitUsage = 2;   // nothing was started

constexpr const char *kProgram = "radiobridge";

struct Options {
  std::string device;  // empty with --simulate
  int baud = 19200;
  std::vector<int> radios;  // bus addresses of the radios served, at least one
  int controller = 0x91;
  std::string name;  // the line's name in the topics
  std::string host = "127.0.0.1";
  int port = 1883;
  std::string user;
  std::string password_file;
  std::string cafile;
  std::string cert;
  std::string key;
  std::string topic_base = "radioline";
  int heartbeat = 30;  // seconds, 0: off
  bool simulate = false;
  bool trace = false;
  std::string reply_prefix;  // topics replies may be sent to start with this
  int queue_size = 32;
  int keepalive = 30;       // seconds
  int request_expiry = 30;  // seconds a request without its own expiry stays valid
  bool discovery = true;    // announce the radios to home-automation dashboards
  std::string discovery_prefix = "homeassistant";
};

// What reading the command line came to: options to run with, or an exit
// status with a text for standard output (help, version) or standard error
// (usage, starting with "radiobridge: ").
struct ParsedOptions {
  bool run = false;
  int status = kExitOk;
  std::string output;
  std::string error;
  Options options;
};

ParsedOptions parseOptions(int argc, char **argv);

// Adds the broker login and TLS options, which radioctl takes too, bound to
// `options`: --user with --password-file, --cafile, and --cert with --key,
// which need --cafile.
void describeLogin(CLI::App &app, Options &options);

// Reads --broker's HOST, HOST:PORT, [IPV6] or [IPV6]:PORT into
// options.host and options.port; a problem goes to `error`.
bool readBroker(const std::string &text, Options &options, std::string &error);

// Whether `text`, the value of `option`, can be part of a topic: not empty,
// printable UTF-8 (no control characters), free of wildcards and of /, or
// with `inner_slashes` of a leading or trailing /. A problem goes to `error`.
bool topicPart(const char *option, const std::string &text, bool inner_slashes, std::string &error);

// T in the topic names: BASE/LINE.
std::string lineTopic(const Options &options);

}  // namespace radiobridge

#endif  // RADIOBRIDGE_OPTIONS_H
