// SPDX-License-Identifier: MIT
// radioctl's output: a result object printed as readable text on standard
// output or as one JSON line, a failure also told on standard error, and a
// failed write to standard output reported rather than lost. The readable
// form comes from the object alone (the table row's line for a reader's
// fields), so a result that came over the network prints as a local one
// does.
#include "output.h"

#include <cerrno>
#include <cstring>
#include <iostream>

#include "command_table.h"

namespace radioctl {
namespace {

using common::Json;

constexpr const char *kBroadcastNote = "sent to all radios; no reply is awaited";

std::string number(const Json &value) {
  return std::to_string(value.get<long>());
}

std::string placeOf(const Json &result) {
  std::string place;
  if (result.contains("line")) place += "line " + number(result.at("line")) + ": ";
  if (result.at("command").is_string()) place += result.at("command").get<std::string>() + ": ";
  return place;
}

// The readable line of a success, from its fields.
std::string successText(const Json &result) {
  if (result.value("broadcast", false)) return placeOf(result) + kBroadcastNote;
  const common::Command *command = common::findCommand(result.at("command").get<std::string>());
  if (command == nullptr) return result.dump();
  return command->text == nullptr ? std::string() : command->text(result);
}

std::string jsonLine(const Json &result) {
  return result.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

bool printResult(const Json &result, bool json) {
  std::string out;
  std::string failure;
  try {
    if (result.at("ok").get<bool>()) {
      out = successText(result);
    } else {
      failure = placeOf(result) + result.at("error").at("message").get<std::string>();
    }
  } catch (const Json::exception &) {
    out = jsonLine(result);  // not a result radioctl made: show it as it is
  }
  if (json) out = jsonLine(result);
  return printOutput(out.empty() ? out : out + "\n", failure);
}

bool printOutput(const std::string &text, const std::string &failure) {
  std::cout << text << std::flush;
  const bool written = static_cast<bool>(std::cout);
  const int error = errno;
  if (!failure.empty()) std::cerr << "radioctl: " << failure << std::endl;
  if (!written)
    std::cerr << "radioctl: cannot write to standard output: " << std::strerror(error) << std::endl;
  return written;
}

}  // namespace radioctl
