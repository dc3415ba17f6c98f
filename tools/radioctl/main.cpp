// SPDX-License-Identifier: MIT
// radioctl: every radio operation from the command line. Reads the global
// options, reads and checks every subcommand (from the arguments, or from
// standard input for "-") and the addresses they go to, and only then opens
// and locks the line, or with --broker connects to the bridge that owns the
// line, and runs them in order. Every problem is reported as a
// result object, so --json turns usage errors and open failures into JSON
// too. Exit status 0 on success, 1 when the radio refused, the line failed
// or standard output could not be written, 2 for usage errors, which send
// nothing.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "commands.h"
#include "line_options.h"
#include "locked_line.h"
#include "output.h"
#include "profiles.h"
#include "remote.h"
#include "run.h"
#include "text.h"
#include "values.h"

namespace {

using common::Json;
using common::ValueKind;

struct Options {
  common::LineTexts line;
  std::vector<std::string> radios;  // none given: the default address
  std::vector<std::string> lines;
  bool json = false;
  bool version = false;
  radioctl::RemoteOptions remote;
};

// The options as checked numbers.
struct Settings {
  common::LineSettings line;
  common::Addresses addresses{};  // the first radio's
  std::vector<int> radios;
  std::vector<common::BrokerOptions> bridges;  // one a line, with --broker
};

std::string about() {
  return std::string(
             "Controls a two-way radio over a serial line: runs each COMMAND in order on one "
             "open line.\nWith '-' in place of the commands it reads them from standard input, "
             "one a line\n(blank lines and text after '#' are skipped).\n"
             "Without -d or --simulate it uses ") +
         common::kDefaultDevice +
         " when that exists.\nWith --broker it runs them through the radiobridge that owns the "
         "line LINE.";
}

// Help whose usage lines show the commands after the options.
class Usage : public CLI::Formatter {
 public:
  std::string make_usage(const CLI::App *, std::string name) const override {
    return "Usage: " + name + " [OPTIONS] COMMAND [ARGS] [COMMAND [ARGS] ...]\n       " + name +
           " [OPTIONS] -\n";
  }
};

void describeOptions(CLI::App &app, Options &options) {
  app.prefix_command();
  app.formatter(std::make_shared<Usage>());
  app.footer(common::commandSummary() + "\n" + radioctl::profileSummary());
  common::describeLineOptions(app, options.line, "radioctl");
  app.add_option("--radio", options.radios,
                 "bus address of the radio, decimal or 0x hex; 0 sends setters to all radios; "
                 "repeated, diff and apply run on each radio in turn")
      ->type_name("ADDR")
      ->allow_extra_args(false)
      ->default_str(common::addressText(RADIOLINE_RADIO_ADDRESS));
  app.add_flag("--json", options.json, "print one JSON object per command, and per failure");
  app.add_flag("--version", options.version, "print radioctl's version and exit");
  radioctl::RemoteOptions &remote = options.remote;
  CLI::Option *broker =
      app.add_option("--broker", remote.broker, "run through a bridge at this MQTT broker")
          ->type_name("HOST[:PORT]");
  CLI::Option *line =
      app.add_option("--line", options.lines,
                     "the bridge's name of the line; repeated, diff and apply run on each line "
                     "at once")
          ->type_name("LINE")
          ->allow_extra_args(false);
  broker->needs(line);
  common::describeLogin(app, remote.bridge);
  app.get_option("--user")->needs(broker);
  app.get_option("--cafile")->needs(broker);
  app.add_option("--topic-base", remote.bridge.topic_base, "first part of the bridge's topics")
      ->type_name("BASE")
      ->capture_default_str()
      ->needs(broker);
  line->needs(broker);
}

// Writes one line of the library's trace, with -v, to standard error.
void traceLine(void * /*context*/, const char *text) {
  std::fprintf(stderr, "%s\n", text);
}

// A usage problem that concerns no command.
Json usage(const std::string &message) {
  return common::failureObject("", common::kCodeUsage, EINVAL, message);
}

// Reads the options' numbers and, with --broker, where the bridge is; the first
// problem goes to `failure`.
std::optional<Settings> readSettings(Options &options, const CLI::App &app, Json &failure) {
  Settings settings;
  const bool remote = app.count("--broker") > 0;
  for (const char *option : common::kLineOptionNames) {
    if (remote && app.count(option) > 0) {
      failure =
          usage(std::string(option) + " has no meaning with --broker: the bridge owns the line");
      return std::nullopt;
    }
  }
  std::string problem;
  if (options.radios.empty())
    options.radios.push_back(common::addressText(RADIOLINE_RADIO_ADDRESS));
  if (!common::readLineOptions(options.line, settings.line, settings.addresses.controller,
                               problem)) {
    failure = usage(problem);
    return std::nullopt;
  }
  for (const std::string &text : options.radios) {
    int radio = 0;
    if (!common::readOption("--radio", text, ValueKind::kAddress, radio, problem)) {
      failure = usage(problem);
      return std::nullopt;
    }
    settings.radios.push_back(radio);
  }
  settings.addresses.radio = settings.radios.front();
  settings.line.radio = settings.addresses.radio;
  settings.line.trace = options.line.trace ? traceLine : nullptr;
  if (app.count("--device") > 0 && options.line.device.empty()) {
    failure = usage("--device '' names no device");
    return std::nullopt;
  }
  for (const std::string &line : options.lines) {
    radioctl::RemoteOptions bridge = options.remote;
    bridge.bridge.line = line;
    for (int radio : settings.radios) {
      problem = radioctl::readRemote(bridge, radio);
      if (!problem.empty()) {
        failure = usage(problem);
        return std::nullopt;
      }
    }
    settings.bridges.push_back(bridge.bridge);
  }
  return settings;
}

// The first invocation the addresses do not allow, as a usage failure.
std::optional<Json> addressFailure(const common::Plan &plan, common::Addresses addresses) {
  for (const common::Invocation &invocation : plan.invocations) {
    const std::string problem = common::addressProblem(invocation, addresses);
    if (!problem.empty()) {
      return common::failureObject(common::commandName(invocation), common::kCodeUsage, EINVAL,
                                   problem, invocation.line);
    }
  }
  return std::nullopt;
}

// Reports a failure object; the status is `status`, or 1 when the report
// itself could not be written.
int report(const Json &failure, bool json, int status) {
  return radioctl::printResult(failure, json) ? status : common::kExitFailed;
}

// Prints help or the version: status 0, or 1 when it could not be written.
int show(const std::string &text) {
  return radioctl::printOutput(text) ? common::kExitOk : common::kExitFailed;
}

// Runs a profile command on every radio the options name; returns the
// worst status.
int runProfiles(const std::vector<std::string> &words, const Settings &settings, bool json) {
  radioctl::ProfileRequest request;
  Json failure;
  switch (radioctl::readProfileRequest(words, request, failure)) {
    case common::Plan::Outcome::kHelp:
      return show(failure.get<std::string>());
    case common::Plan::Outcome::kUsage:
      return report(failure, json, common::kExitUsage);
    case common::Plan::Outcome::kRun:
      break;
  }
  if (request.what == radioctl::ProfileRequest::What::kImport) {
    return radioctl::importCsv(request.file, json);
  }
  const std::size_t lines = std::max<std::size_t>(settings.bridges.size(), 1);
  const bool many = settings.radios.size() * lines > 1;
  if (request.what == radioctl::ProfileRequest::What::kSave && many) {
    return report(usage("save reads one radio: give --radio and --line once"), json,
                  common::kExitUsage);
  }
  // Every profile command reads from each radio, as the version reader does.
  const common::Invocation reader = common::planLine("version").invocations.front();
  for (int radio : settings.radios) {
    const std::string problem =
        common::addressProblem(reader, {radio, settings.addresses.controller});
    if (!problem.empty()) return report(usage(problem), json, common::kExitUsage);
  }
  if (!settings.bridges.empty()) {
    return radioctl::printReports(
        radioctl::runThroughBridges(request, settings.bridges, settings.radios), json, many);
  }
  common::LockedLine line;
  std::string error;
  if (!line.open(settings.line, error)) {
    return report(common::failureObject("", line.failureCode(), line.failureErrno(), error), json,
                  common::kExitFailed);
  }
  std::vector<radioctl::RadioReport> reports;
  for (int radio : settings.radios) {
    const common::Addresses addresses{radio, settings.addresses.controller};
    reports.push_back(
        radioctl::runProfile(request, {radio, "", radioctl::onLine(line.handle(), addresses), {}}));
  }
  return radioctl::printReports(reports, json, many);
}

int run(int argc, char **argv) {
  Options options;
  // Known before the options are read, so that a problem with them is JSON too.
  const bool json = std::find(argv + 1, argv + argc, std::string("--json")) != argv + argc;
  CLI::App app{about(), "radioctl"};
  describeOptions(app, options);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp &) {
    return show(app.help());
  } catch (const CLI::ParseError &error) {
    return report(usage(error.what()), json, common::kExitUsage);
  }
  if (options.version) return show("radioctl " RADIOLINE_VERSION "\n");
  Json failure;
  const std::optional<Settings> settings = readSettings(options, app, failure);
  if (!settings) return report(failure, json, common::kExitUsage);

  const std::vector<std::string> words = app.remaining();
  if (!words.empty() && radioctl::isProfileCommand(words.front())) {
    return runProfiles(words, *settings, json);
  }
  if (settings->radios.size() > 1 || settings->bridges.size() > 1) {
    return report(usage("--radio and --line are given more than once only for diff and apply"),
                  json, common::kExitUsage);
  }
  const bool script = words.size() == 1 && words.front() == "-";
  std::string input;
  if (script) input.assign(std::istreambuf_iterator<char>(std::cin), {});
  std::istringstream script_in(input);
  const common::Plan plan = script ? common::planScript(script_in) : common::planWords(words);
  if (plan.outcome == common::Plan::Outcome::kHelp) return show(plan.message);
  if (plan.outcome == common::Plan::Outcome::kUsage) {
    return report(common::usageFailure(plan), json, common::kExitUsage);
  }
  if (const auto problem = addressFailure(plan, settings->addresses)) {
    return report(*problem, json, common::kExitUsage);
  }
  if (plan.invocations.empty()) return common::kExitOk;
  if (app.count("--broker") > 0) {
    radioctl::Remote remote(settings->bridges.front(), settings->addresses.radio);
    if (!remote.open(failure)) return report(failure, json, common::kExitFailed);
    return radioctl::runPlan(plan.invocations, json,
                             [&remote](const common::Invocation &invocation, Json &result) {
                               return remote.run(invocation, result);
                             });
  }

  common::LockedLine line;
  std::string error;
  if (!line.open(settings->line, error)) {
    return report(common::failureObject("", line.failureCode(), line.failureErrno(), error), json,
                  common::kExitFailed);
  }
  return radioctl::runPlan(plan.invocations, json,
                           radioctl::onLine(line.handle(), settings->addresses));
}

}  // namespace

int main(int argc, char **argv) {
  // A closed pipe on standard output is a failed write, reported, not a
  // silent death.
  std::signal(SIGPIPE, SIG_IGN);
  try {
    return run(argc, argv);
  } catch (const std::exception &error) {
    std::cerr << "radioctl: " << error.what() << '\n';
    return common::kExitFailed;
  }
}
