// SPDX-License-Identifier: MIT
// radioctl's subcommands: reading them from the command line or from a
// script into a plan of invocations whose values are all checked, the help
// text that lists them, and running a plan on the open line with readable or
// JSON output. Every subcommand is one row of a table (name, arguments, help
// line, library call, result printer) that parsing, help and output share.
#ifndef RADIOCTL_COMMANDS_H
#define RADIOCTL_COMMANDS_H

#include <istream>
#include <string>
#include <vector>

namespace radioctl {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // the radio refused or the line failed
constexpr int kExitUsage = 2;   // nothing was sent

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
  int line = 0;  // line of the script it came from, 0 on the command line
};

// What reading the subcommands came to: a plan to run, a help text for
// standard output, or a usage message (without the program name).
struct Plan {
  enum class Outcome { kRun, kHelp, kUsage };
  Outcome outcome = Outcome::kRun;
  std::string message;
  std::vector<Invocation> invocations;
};

// Reads COMMAND [ARGS] [COMMAND [ARGS] ...].
Plan planWords(const std::vector<std::string> &words);

// Reads one command a line; blank lines and text after '#' are skipped.
Plan planScript(std::istream &in);

// The subcommands with their arguments and help lines, for --help.
std::string commandSummary();

// Runs the plan in order on the open line and prints each result; stops at
// the first failure. Returns the exit status.
int runPlan(const std::vector<Invocation> &plan, Addresses addresses, bool json);

}  // namespace radioctl

#endif  // RADIOCTL_COMMANDS_H
