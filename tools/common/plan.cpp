// SPDX-License-Identifier: MIT
// Reading subcommands into a plan: from the command line's words, from a
// script one command a line, or from one line of text (a bridge's
// request). A small CLI11 parser is built from a table row for each command
// given, so help texts and argument errors come from the rows; values are
// checked by values.cpp before any invocation is planned. Also the --help
// summary of the commands and the address checks.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <iomanip>
#include <sstream>

#include "command_table.h"
#include "commands.h"
#include "text.h"
#include "values.h"

namespace common {
namespace {

bool isCommandName(const std::string &word) {
  return findCommand(word) != nullptr;
}

std::string usageOf(const Command &command) {
  std::string usage = command.name;
  for (const Arg &arg : command.args) {
    usage += std::string(arg.count == kSwitch ? " [" : " ") + arg.name +
             (arg.count > 1 ? "..." : "") + (arg.count == kSwitch ? "]" : "");
  }
  return usage;
}

std::string argumentHelp(const Arg &arg) {
  if (arg.count == kSwitch) return arg.help;
  return std::string(arg.help) + " (" + describeRange(arg.kind) + ")";
}

// The CLI11 parser of one row; `texts` and `switches` receive what it reads.
void describeArguments(CLI::App &app, const Command &command,
                       std::vector<std::vector<std::string>> &texts, std::vector<int> &switches) {
  for (std::size_t i = 0; i < command.args.size(); ++i) {
    const Arg &arg = command.args[i];
    if (arg.count == kSwitch) {
      app.add_flag(arg.name, switches[i], argumentHelp(arg));
    } else {
      app.add_option(arg.name, texts[i], argumentHelp(arg))
          ->required()
          ->expected(arg.count)
          ->allow_extra_args(false)
          ->type_name("");
    }
  }
}

// Checks every text against its argument's kind and collects the values.
bool collectValues(const Command &command, const std::vector<std::vector<std::string>> &texts,
                   const std::vector<int> &switches, Values &values, std::string &problem) {
  for (std::size_t i = 0; i < command.args.size(); ++i) {
    const Arg &arg = command.args[i];
    if (arg.count == kSwitch) values.push_back(switches[i] != 0 ? 1 : 0);
    for (const std::string &text : texts[i]) {
      const Value value = parseValue(arg.kind, text);
      if (!value.number) {
        problem = std::string(arg.name) + " '" + quote(text) + "' " + value.problem;
        return false;
      }
      values.push_back(*value.number);
    }
  }
  return true;
}

void stop(Plan &plan, Plan::Outcome outcome, std::string message, const char *command = "",
          int line = 0) {
  plan.outcome = outcome;
  plan.message = std::move(message);
  plan.command = command;
  plan.line = line;
}

// Reads one command and its arguments, words[0] being its name, written as
// `text`, into the plan.
void planCommand(std::vector<std::string> words, int line, std::string text, Plan &plan) {
  const Command *command = findCommand(words.front());
  if (command == nullptr) {
    const char *what = words.front()[0] == '-' ? "option" : "command";
    return stop(
        plan, Plan::Outcome::kUsage,
        std::string("unknown ") + what + " '" + quote(words.front()) + "' (see radioctl --help)",
        "", line);
  }
  CLI::App app{command->help, std::string("radioctl ") + command->name};
  std::vector<std::vector<std::string>> texts(command->args.size());
  std::vector<int> switches(command->args.size());
  describeArguments(app, *command, texts, switches);
  std::reverse(words.begin(), words.end());
  words.pop_back();
  Invocation invocation{command, {}, line, std::move(text)};
  std::string problem;
  try {
    app.parse(std::move(words));
  } catch (const CLI::CallForHelp &) {
    return stop(plan, Plan::Outcome::kHelp, app.help());
  } catch (const CLI::ExtrasError &) {
    problem = "unexpected argument '" + quote(app.remaining().front()) + "'";
  } catch (const CLI::ParseError &error) {
    problem = error.what();
  }
  if (problem.empty()) collectValues(*command, texts, switches, invocation.values, problem);
  if (!problem.empty()) return stop(plan, Plan::Outcome::kUsage, problem, command->name, line);
  plan.invocations.push_back(std::move(invocation));
}

// A script line's text, before any comment.
std::string commandText(const std::string &line) {
  return line.substr(0, line.find('#'));
}

std::vector<std::string> wordsOf(const std::string &text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

std::string joined(std::vector<std::string>::const_iterator word,
                   std::vector<std::string>::const_iterator end) {
  std::string text = *word;
  for (++word; word != end; ++word) text += " " + *word;
  return text;
}

}  // namespace

Plan planWords(const std::vector<std::string> &words) {
  Plan plan;
  if (words.empty()) {
    stop(plan, Plan::Outcome::kUsage, "no command given (see radioctl --help)");
    return plan;
  }
  for (auto start = words.begin(); start != words.end() && plan.outcome == Plan::Outcome::kRun;) {
    const auto next = std::find_if(start + 1, words.end(), isCommandName);
    planCommand({start, next}, 0, joined(start, next), plan);
    start = next;
  }
  return plan;
}

Plan planScript(std::istream &in) {
  Plan plan;
  int line = 0;
  for (std::string text; plan.outcome == Plan::Outcome::kRun && std::getline(in, text);) {
    ++line;
    const std::string command = commandText(text);
    const std::vector<std::string> words = wordsOf(command);
    if (!words.empty()) planCommand(words, line, command, plan);
  }
  return plan;
}

Plan planLine(const std::string &text) {
  const std::string command = commandText(text);
  const std::vector<std::string> words = wordsOf(command);
  Plan plan;
  if (words.empty()) {
    stop(plan, Plan::Outcome::kUsage, "no command given (see radioctl --help)");
  } else {
    planCommand(words, 0, command, plan);
  }
  return plan;
}

std::string commandSummary() {
  std::ostringstream summary;
  summary << "Commands:\n";
  for (const Command &command : commands()) {
    summary << "  " << std::left << std::setw(24) << usageOf(command) << command.help << '\n';
  }
  return summary.str();
}

std::string commandName(const Invocation &invocation) {
  return invocation.command->name;
}

std::string addressProblem(const Invocation &invocation, Addresses addresses) {
  if (addresses.controller == kBroadcast) {
    return "--controller 0 is the broadcast address; radioctl needs an address of its own";
  }
  if (addresses.radio == kBroadcast && invocation.command->fields != nullptr) {
    return "needs one radio's reply, and --radio 0 is the broadcast address, which no radio "
           "answers";
  }
  return {};
}

}  // namespace common
