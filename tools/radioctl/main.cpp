// SPDX-License-Identifier: MIT
// radioctl: every radio operation from the command line. Reads the global
// options, reads and checks every subcommand (from the arguments, or from
// standard input for "-"), and only then opens and locks the line and runs
// them in order. Exit status 0 on success, 1 when the radio refused or the
// line failed, 2 for usage errors, which send nothing.
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "line.h"
#include "radioline.h"
#include "values.h"

namespace {

using radioctl::ValueKind;

struct Options {
  std::string device;
  std::string baud = "19200";
  std::string radio = "0x20";
  std::string controller = "0x91";
  bool trace = false;
  bool json = false;
  bool simulate = false;
};

std::string about() {
  return std::string(
             "Controls a two-way radio over a serial line: runs each COMMAND in order on one "
             "open line.\nWith '-' in place of the commands it reads them from standard input, "
             "one a line\n(blank lines and text after '#' are skipped).\n"
             "Without -d or --simulate it uses ") +
         radioctl::kDefaultDevice + " when that exists.";
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
  app.footer(radioctl::commandSummary());
  CLI::Option *device = app.add_option("-d,--device", options.device, "serial device of the radio")
                            ->type_name("PATH");
  app.add_option("-b,--baud", options.baud, "line speed in bits per second")
      ->type_name("N")
      ->capture_default_str();
  app.add_option("--radio", options.radio, "bus address of the radio, decimal or 0x hex")
      ->type_name("ADDR")
      ->capture_default_str();
  app.add_option("--controller", options.controller, "bus address of radioctl")
      ->type_name("ADDR")
      ->capture_default_str();
  app.add_flag("-v,--trace", options.trace, "trace the library's work on standard error");
  app.add_flag("--json", options.json, "print one JSON object per command");
  app.add_flag("--simulate", options.simulate, "run against radiosim on a pseudo-terminal")
      ->excludes(device);
}

// The option's value, or a usage message on standard error.
std::optional<int> number(const char *option, const std::string &text, ValueKind kind) {
  const radioctl::Value value = radioctl::parseValue(kind, text);
  if (!value.number) {
    std::cerr << "radioctl: " << option << " '" << text << "' " << value.problem << '\n';
    return std::nullopt;
  }
  return static_cast<int>(*value.number);
}

int run(int argc, char **argv) {
  Options options;
  CLI::App app{about(), "radioctl"};
  describeOptions(app, options);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp &) {
    std::cout << app.help();
    return radioctl::kExitOk;
  } catch (const CLI::ParseError &error) {
    std::cerr << "radioctl: " << error.what() << '\n';
    return radioctl::kExitUsage;
  }
  const auto baud = number("--baud", options.baud, ValueKind::kBaud);
  const auto radio = number("--radio", options.radio, ValueKind::kAddress);
  const auto controller = number("--controller", options.controller, ValueKind::kAddress);
  if (!baud || !radio || !controller) return radioctl::kExitUsage;

  const std::vector<std::string> words = app.remaining();
  const bool script = words.size() == 1 && words.front() == "-";
  const radioctl::Plan plan = script ? radioctl::planScript(std::cin) : radioctl::planWords(words);
  if (plan.outcome == radioctl::Plan::Outcome::kHelp) {
    std::cout << plan.message;
    return radioctl::kExitOk;
  }
  if (plan.outcome == radioctl::Plan::Outcome::kUsage) {
    std::cerr << "radioctl: " << plan.message << '\n';
    return radioctl::kExitUsage;
  }
  if (plan.invocations.empty()) return radioctl::kExitOk;

  debug = options.trace ? 1 : 0;
  radioctl::Line line;
  std::string error;
  if (!line.open({options.device, options.simulate, *baud, *radio}, error)) {
    std::cerr << "radioctl: " << error << '\n';
    return radioctl::kExitFailed;
  }
  return radioctl::runPlan(plan.invocations, {*radio, *controller}, options.json);
}

}  // namespace

int main(int argc, char **argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception &error) {
    std::cerr << "radioctl: " << error.what() << '\n';
    return radioctl::kExitFailed;
  }
}
