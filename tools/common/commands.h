// SPDX-License-Identifier: MIT
// The radio's subcommands as every tool takes them: reading them from the command line, from a
// script or from one line of text into a plan of invocations whose values are all checked, the help
// text that lists them, running one invocation on the open line into the JSON object that reports
// it, and printing such an object in readable or JSON form. Every subcommand is one row of a table
// (name, arguments, help line, library call, result fields, readable line) that parsing, help and
// output share, so any front end that runs commands (the command line, a script, a network bridge)
// checks and reports them alike.
#ifndef RADIOLINE_COMMON_COMMANDS_H
#define RADIOLINE_COMMON_COMMANDS_H

#include <istream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "exit_status.h"

struct radioline_line;

namespace common {

using Json = nlohmann::ordered_json;

// The address every radio takes as its own; no radio answers it.
constexpr int kBroadcast = 0;

// Error codes in a failure object, for clients to act on. Library results
// map to the first four (see errorCode()); the others come from radioctl.
constexpr const char *kCodeRefused = "refused";     // refused, or answered with a wrong reply
constexpr const char *kCodeTimeout = "timeout";     // no reply within the time-out
constexpr const char *kCodeLineLost = "line-lost";  // the device went away or is not open
constexpr const char *kCodeFailed = "failed";       // any other system error; see its errno
constexpr const char *kCodeUsage = "usage";         // bad command, value or option; nothing sent
constexpr const char *kCodeBusy = "busy";           // another program holds the line
constexpr const char *kCodeOpenFailed = "open-failed";  // the line could not be opened

struct Command;  // a row of the subcommand table

// Bus addresses of the radio and of radioctl itself.
struct Addresses {
  int radio;
  int controller;
};

// One subcommand to run, with its values in the library's units.
struct Invocation {
  const Command *command = nullptr;
  std::vector<long> values;
  int line = 0;      // line of the script it came from, 0 otherwise
  std::string text;  // as written: its words joined by spaces, or its script line before any '#'
};

// What reading the subcommands came to: a plan to run, a help text for
// standard output, or a usage problem.
struct Plan {
  enum class Outcome { kRun, kHelp, kUsage };
  Outcome outcome = Outcome::kRun;
  std::string message;  // kHelp: the help text; kUsage: what is wrong
  std::string command;  // kUsage: the command it concerns, empty when none
  int line = 0;         // kUsage: the script line, 0 otherwise
  std::vector<Invocation> invocations;
};

// Reads COMMAND [ARGS] [COMMAND [ARGS] ...].
Plan planWords(const std::vector<std::string> &words);

// Reads one command a line; blank lines and text after '#' are skipped.
Plan planScript(std::istream &in);

// Reads one command from one line of text, split as a script line is; an
// empty line is a usage problem.
Plan planLine(const std::string &text);

// The subcommands with their arguments and help lines, for --help.
std::string commandSummary();

// The invocation's subcommand name: "set-offset".
std::string commandName(const Invocation &invocation);

// Why the invocation cannot run with these addresses, or an empty string:
// the controller may not use the broadcast address, and only commands that
// await no data (the setters) may be sent to it.
std::string addressProblem(const Invocation &invocation, Addresses addresses);

// The one failure shape:
// {"command":…,["line":N,]"ok":false,"error":{"code":…,"errno":…,"message":…}}
// An empty `command` is written as null (the problem concerns no command);
// `line` is left out when 0; `error_number` is 0 when no system error applies.
Json failureObject(const std::string &command, const std::string &code, int error_number,
                   const std::string &message, int line = 0);

// The failure object of a plan whose outcome is kUsage (code "usage").
Json usageFailure(const Plan &plan);

// The code a client can act on for a library result code: EINVAL "refused",
// ETIMEDOUT "timeout", EPIPE, EIO, ENXIO and EBADF "line-lost", anything
// else "failed".
const char *errorCode(int rc);

// Whether a library result code means the device went away or is not open
// (the codes errorCode() calls "line-lost"): the line must be reopened.
bool meansLineLost(int rc);

// The success object of an invocation, before its fields:
// {"command":…,["line":N,]"ok":true}.
Json successObject(const Invocation &invocation);

// The failure object of an invocation that the library ended with `rc`.
Json resultFailure(const Invocation &invocation, int rc);

// Runs one invocation on the open line `line`: returns the library's result code
// (0 ok; EINVAL for an address problem, which sends nothing) and sets
// `result` to exactly the object `radioctl --json` prints for it: the
// success fields, {"command":…,["line":N,]"ok":true,…}, or the failure
// shape. A setter sent to the broadcast address awaits no reply and reports
// "broadcast":true.
int runInvocation(radioline_line *line, const Invocation &invocation, Addresses addresses,
                  Json &result);

}  // namespace common

#endif  // RADIOLINE_COMMON_COMMANDS_H
