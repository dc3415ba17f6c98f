// SPDX-License-Identifier: MIT
// The options that say which serial line to use and how, as radioctl and
// radiobridge both take them: -d/--device DEVICE, -b/--baud BAUD,
// --controller ADDR, --timeout MS, --simulate and -v/--trace, with one set
// of placeholders and help lines, and their checks.
#ifndef RADIOLINE_COMMON_LINE_OPTIONS_H
#define RADIOLINE_COMMON_LINE_OPTIONS_H

#include <string>

#include "locked_line.h"
#include "values.h"

namespace CLI {
class App;
}

namespace common {

// The line options as written.
struct LineTexts {
  std::string device;
  std::string baud = std::to_string(RADIOLINE_BAUD);
  std::string controller = addressText(RADIOLINE_CONTROLLER_ADDRESS);
  std::string timeout = std::to_string(RADIOLINE_TIMEOUT_MS);
  bool simulate = false;
  bool trace = false;
};

// The long names of the line options, for a program that refuses them in
// some mode.
constexpr const char *kLineOptionNames[] = {"--device",  "--baud",     "--controller",
                                            "--timeout", "--simulate", "--trace"};

// Adds the line options bound to `texts`; `program` is the controller
// ("radioctl") named in --controller's help line.
void describeLineOptions(CLI::App &app, LineTexts &texts, const std::string &program);

// Reads `text`, the value of `option`, as a number of kind `kind`. A
// problem goes to `error` as "OPTION 'TEXT' PROBLEM".
bool readOption(const char *option, const std::string &text, ValueKind kind, int &number,
                std::string &error);

// Reads the device, the baud rate, the time-out and the controller's address
// into `line` and `controller`. A problem goes to `error`.
bool readLineOptions(const LineTexts &texts, LineSettings &line, int &controller,
                     std::string &error);

}  // namespace common

#endif  // RADIOLINE_COMMON_LINE_OPTIONS_H
