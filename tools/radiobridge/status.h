// SPDX-License-Identifier: MIT
// The line's retained status as the bridge publishes it, and who publishes
// it: "online" with the line open or lost, its device and baud rate and
// the bridge's version, or "offline" (the will and the clean stop); each
// carries the instance id of the bridge that published it, by which two
// bridges on one line tell each other apart and the older keeps the line.
// Pure: the session publishes these, and the claim rule (claim.h) compares
// instances. Reading a status is the tools' shared readStatus() (topics.h).
#ifndef RADIOBRIDGE_STATUS_H
#define RADIOBRIDGE_STATUS_H

#include <string>

#include "request.h"

namespace radiobridge {

// Who publishes a status: {"host":…,"pid":…,"started":UNIX-SECONDS}.
Json instanceId(const std::string &host, long pid, long started);
// "HOST pid N", or "another bridge" for a status without an instance id.
std::string describeInstance(const Json &instance);
// Whether instance `a` started before `b` (host and pid break a tie), so
// that of two bridges that took a line at once the older keeps it.
bool olderInstance(const Json &a, const Json &b);

// The retained status of the line, and the will's and clean stop's payload;
// the session adds the instance to both.
Json onlineStatus(bool line_open, const std::string &device, int baud);
Json offlineStatus(const Json &instance);

}  // namespace radiobridge

#endif  // RADIOBRIDGE_STATUS_H
