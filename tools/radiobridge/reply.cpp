// SPDX-License-Identifier: MIT
// A request's replies and log line: the transaction a client gave goes
// back in every reply to it, and the log names the radio, the command as
// written and its outcome's code.
#include "reply.h"

#include "topics.h"

namespace radiobridge {

Json failure(const Request &request, const char *code, int error_number,
             const std::string &message) {
  return reply(request, common::failureObject(request.name, code, error_number, message));
}

Json reply(const Request &request, Json result) {
  if (!request.transaction.is_null()) result["transaction"] = request.transaction;
  return result;
}

Json interimReply(const Request &request) {
  return reply(request, {{"command", request.name}, {"queued", true}});
}

std::string outcomeOf(const Json &reply) {
  if (reply.value("ok", false)) return "ok";
  const auto error = reply.find("error");
  return error != reply.end() && error->is_object()
             ? error->value("code", std::string(common::kCodeFailed))
             : common::kCodeFailed;
}

std::string logEntry(const Request &request, const Json &reply, std::chrono::milliseconds took) {
  const std::string result = outcomeOf(reply);
  return "radio " + common::radioName(request.radio) + " " +
         (request.text.empty() ? "(empty)" : request.text) + ": " + result + " (" +
         std::to_string(took.count()) + " ms)";
}

}  // namespace radiobridge
