// SPDX-License-Identifier: MIT
// The line options with CLI11, and reading their numbers through the value
// parsers, so radioctl and radiobridge describe and check them alike.
#include "line_options.h"

#include <CLI/CLI.hpp>

#include "text.h"

namespace common {

void describeLineOptions(CLI::App &app, LineTexts &texts, const std::string &program) {
  CLI::Option *device =
      app.add_option("-d,--device", texts.device, "serial device of the line")->type_name("DEVICE");
  app.add_option("-b,--baud", texts.baud, "line speed in bits per second")
      ->type_name("BAUD")
      ->capture_default_str();
  app.add_option("--controller", texts.controller, "bus address of " + program)
      ->type_name("ADDR")
      ->capture_default_str();
  app.add_option("--timeout", texts.timeout, "how long each byte of a reply is waited for, in ms")
      ->type_name("MS")
      ->capture_default_str();
  app.add_flag("--simulate", texts.simulate, "run against radiosim on a pseudo-terminal")
      ->excludes(device);
  app.add_flag("-v,--trace", texts.trace, "trace the library's work on standard error");
}

bool readOption(const char *option, const std::string &text, ValueKind kind, int &number,
                std::string &error) {
  const Value value = parseValue(kind, text);
  if (!value.number) {
    error = std::string(option) + " '" + quote(text) + "' " + value.problem;
    return false;
  }
  number = static_cast<int>(*value.number);
  return true;
}

bool readLineOptions(const LineTexts &texts, LineSettings &line, int &controller,
                     std::string &error) {
  line.device = texts.device;
  line.simulate = texts.simulate;
  return readOption("--baud", texts.baud, ValueKind::kBaud, line.baud, error) &&
         readOption("--timeout", texts.timeout, ValueKind::kTimeout, line.timeout_ms, error) &&
         readOption("--controller", texts.controller, ValueKind::kAddress, controller, error);
}

}  // namespace common
