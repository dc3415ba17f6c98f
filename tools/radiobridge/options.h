// SPDX-License-Identifier: MIT
// radiobridge's command line: the options, their defaults and every check of
// their values, done before anything starts, so a bad command line exits
// with a usage message and leaves no process, file or connection behind.
// Values users write as radioctl does (addresses, baud rates, the broker
// and its login) go through the tools' shared readers. Reading the password file is left to main: a
// file that cannot be read is a runtime failure, not a usage error.
#ifndef RADIOBRIDGE_OPTIONS_H
#define RADIOBRIDGE_OPTIONS_H

#include <string>
#include <vector>

#include "broker_options.h"
#include "exit_status.h"
#include "locked_line.h"

namespace radiobridge {

constexpr const char *kProgram = "radiobridge";

struct Options {
  common::LineSettings line;  // device empty with --simulate; radio: the first served
  bool trace = false;
  std::vector<int> radios;  // bus addresses of the radios served, at least one
  int controller = RADIOLINE_CONTROLLER_ADDRESS;
  common::BrokerOptions broker;  // broker.line: the line's name in the topics
  int heartbeat = 30;            // seconds, 0: off
  std::string reply_prefix;      // topics replies may be sent to start with this
  int queue_size = 32;
  int request_expiry = 30;  // seconds a request without its own expiry stays valid
  bool discovery = true;    // announce the radios to home-automation dashboards
  std::string discovery_prefix = "homeassistant";
};

// What reading the command line came to: options to run with, or an exit
// status with a text for standard output (help, version) or standard error
// (usage, starting with "radiobridge: ").
struct ParsedOptions {
  bool run = false;
  int status = common::kExitOk;
  std::string output;
  std::string error;
  Options options;
};

ParsedOptions parseOptions(int argc, char **argv);

}  // namespace radiobridge

#endif  // RADIOBRIDGE_OPTIONS_H
