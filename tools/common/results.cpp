// SPDX-License-Identifier: MIT
// Reporting what a command came to: the success and failure objects
// radioctl --json prints and the bridge sends, the codes clients act on for
// the library's result codes (the errno values that mean the line is lost
// among them).
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "commands.h"

namespace common {
namespace {

// What a library result code means, as a code for clients and, ahead of the
// system's own text, in words.
struct Failure {
  int rc;
  const char *code;
  const char *text;
};

constexpr std::array<Failure, 6> kFailures{{
    {EINVAL, kCodeRefused, "radio refused the command or sent a bad reply"},
    {ETIMEDOUT, kCodeTimeout, "no reply from the radio"},
    {EPIPE, kCodeLineLost, "the line went away"},
    {EIO, kCodeLineLost, "the line went away"},
    {ENXIO, kCodeLineLost, "the line went away"},
    {EBADF, kCodeLineLost, "the line is not open"},
}};

const Failure *findFailure(int rc) {
  const auto found = std::find_if(kFailures.begin(), kFailures.end(),
                                  [rc](const Failure &failure) { return failure.rc == rc; });
  return found == kFailures.end() ? nullptr : &*found;
}

std::string describeFailure(int rc) {
  const Failure *failure = findFailure(rc);
  const std::string system = std::strerror(rc);
  return failure == nullptr ? system : failure->text + (" (" + system + ")");
}

}  // namespace

bool meansLineLost(int rc) {
  const Failure *failure = findFailure(rc);
  return failure != nullptr && std::strcmp(failure->code, kCodeLineLost) == 0;
}

Json successObject(const Invocation &invocation) {
  Json object{{"command", commandName(invocation)}};
  if (invocation.line > 0) object["line"] = invocation.line;
  object["ok"] = true;
  return object;
}

Json failureObject(const std::string &command, const std::string &code, int error_number,
                   const std::string &message, int line) {
  Json object{{"command", command.empty() ? Json() : Json(command)}};
  if (line > 0) object["line"] = line;
  object["ok"] = false;
  object["error"] = {{"code", code}, {"errno", error_number}, {"message", message}};
  return object;
}

Json usageFailure(const Plan &plan) {
  return failureObject(plan.command, kCodeUsage, EINVAL, plan.message, plan.line);
}

const char *errorCode(int rc) {
  const Failure *failure = findFailure(rc);
  return failure == nullptr ? kCodeFailed : failure->code;
}

Json resultFailure(const Invocation &invocation, int rc) {
  return failureObject(commandName(invocation), errorCode(rc), rc, describeFailure(rc),
                       invocation.line);
}

}  // namespace common
