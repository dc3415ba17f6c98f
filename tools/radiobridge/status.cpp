// SPDX-License-Identifier: MIT
// The status payloads and the order of instances. Any JSON may stand in a
// status another program published, so an instance's fields are read
// without trusting their types: a field of another type counts as absent.
#include "status.h"

#include <tuple>

#include "text.h"

namespace radiobridge {

Json onlineStatus(bool line_open, const std::string &device, int baud) {
  return {{"state", "online"},
          {"line", line_open ? "open" : "lost"},
          {"device", device},
          {"baud", baud},
          {"version", RADIOBRIDGE_VERSION}};
}

Json offlineStatus(const Json &instance) {
  return {{"state", "offline"}, {"instance", instance}};
}

Json instanceId(const std::string &host, long pid, long started) {
  return {{"host", host}, {"pid", pid}, {"started", started}};
}

std::string describeInstance(const Json &instance) {
  if (!instance.is_object() || !instance.contains("host") || !instance.contains("pid")) {
    return "another bridge";
  }
  return common::quote(instance["host"].is_string() ? instance["host"].get<std::string>()
                                                    : instance["host"].dump()) +
         " pid " + instance["pid"].dump();
}

bool olderInstance(const Json &a, const Json &b) {
  const auto key = [](const Json &instance) {
    const auto number = [&instance](const char *name) {
      const auto field = instance.find(name);
      return field != instance.end() && field->is_number_integer() ? field->get<long>() : 0L;
    };
    const auto host = instance.find("host");
    return std::make_tuple(
        number("started"),
        host != instance.end() && host->is_string() ? host->get<std::string>() : std::string(),
        number("pid"));
  };
  return key(a) < key(b);
}

}  // namespace radiobridge
