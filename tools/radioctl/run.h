// SPDX-License-Identifier: MIT
// Running radioctl's plan: each invocation in order, on the open line or
// through a bridge, with each result printed as it comes and the run
// stopped at the first failure.
#ifndef RADIOCTL_RUN_H
#define RADIOCTL_RUN_H

#include <functional>
#include <vector>

#include "commands.h"

namespace radioctl {

// Runs one invocation into its result object; returns whether it succeeded.
using Runner = std::function<bool(const common::Invocation &invocation, common::Json &result)>;

// Runs `plan` in order with `run` and prints each result (as JSON with
// `json`); stops at the first failure. Returns the exit status.
int runPlan(const std::vector<common::Invocation> &plan, bool json, const Runner &run);

// The runner of invocations on the open line `line`.
Runner onLine(radioline_line *line, common::Addresses addresses);

}  // namespace radioctl

#endif  // RADIOCTL_RUN_H
