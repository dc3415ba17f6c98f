// SPDX-License-Identifier: MIT
// The rows of the subcommand table, shared by the files that read, run and
// print commands: a name, the arguments with their value kinds, a help
// line, the library call that runs it on a line handle, the JSON fields a
// reader's reply gives and the readable line made from them (setters have
// neither).
#ifndef RADIOLINE_COMMON_COMMAND_TABLE_H
#define RADIOLINE_COMMON_COMMAND_TABLE_H

#include <string>
#include <vector>

#include "commands.h"
#include "radioline.h"
#include "values.h"

namespace common {

using Values = std::vector<long>;
using Bytes = std::vector<unsigned char>;

// Everything a library call may hand back.
struct Reply {
  Bytes bytes;
  std::string text;
  long first = 0;
  long second = 0;
  int to = 0;
  int from = 0;
};

// One argument: a positional value taken `count` times, or, with a count of
// kSwitch, a flag that adds 1 or 0 to the values (its kind is not used).
struct Arg {
  const char *name;
  ValueKind kind;
  int count;
  const char *help;
};

struct Command {
  const char *name;
  std::vector<Arg> args;
  const char *help;
  int (*call)(radioline_line *, Addresses, const Values &, Reply &);
  Json (*fields)(const Reply &);      // a reader's result fields; nullptr for a setter
  std::string (*text)(const Json &);  // the readable line made from those fields
};

// A switch's count: the argument is a flag, not a value.
constexpr int kSwitch = 0;

// The table, in the order --help lists it.
const std::vector<Command> &commands();

// The row named `name`, or nullptr.
const Command *findCommand(const std::string &name);

}  // namespace common

#endif  // RADIOLINE_COMMON_COMMAND_TABLE_H
