// SPDX-License-Identifier: MIT
// radioctl's output: printing result objects, readable or as JSON.
#ifndef RADIOCTL_OUTPUT_H
#define RADIOCTL_OUTPUT_H

#include <string>

#include "commands.h"

namespace radioctl {

// Prints one result object as radioctl does: readable text on standard
// output, or one JSON line with `json`; a failure is also told on standard
// error as "radioctl: [line N: ][COMMAND: ]MESSAGE". The readable form comes
// from the object alone, so a result that came over the network prints as a
// local one does. When writing to standard output fails it says so on
// standard error and returns false.
bool printResult(const common::Json &result, bool json);

// Writes `text` to standard output at once, then `failure` (when there is
// one) to standard error as "radioctl: FAILURE". When writing to standard
// output fails it says so on standard error and returns false.
bool printOutput(const std::string &text, const std::string &failure = {});

}  // namespace radioctl

#endif  // RADIOCTL_OUTPUT_H
