// SPDX-License-Identifier: MIT
// The loop that runs a plan and prints each result (output.cpp prints), and
// the runner of an invocation on a line, the shared command runner's. The
// bridge's runner is Remote::run (remote.cpp).
#include "run.h"

#include "output.h"

namespace radioctl {

int runPlan(const std::vector<common::Invocation> &plan, bool json, const Runner &run) {
  for (const common::Invocation &invocation : plan) {
    common::Json result;
    const bool ok = run(invocation, result);
    if (!printResult(result, json) || !ok) return common::kExitFailed;
  }
  return common::kExitOk;
}

Runner onLine(radioline_line *line, common::Addresses addresses) {
  return [line, addresses](const common::Invocation &invocation, common::Json &result) {
    return common::runInvocation(line, invocation, addresses, result) == 0;
  };
}

}  // namespace radioctl
