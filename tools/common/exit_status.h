// SPDX-License-Identifier: MIT
// The exit statuses every tool ends with, so that a script tells a failure
// from a usage error alike whichever tool it runs.
#ifndef RADIOLINE_COMMON_EXIT_STATUS_H
#define RADIOLINE_COMMON_EXIT_STATUS_H

namespace common {

constexpr int kExitOk = 0;
// The work failed: the radio refused, the line or the broker failed, the
// bridge could not go on, or output was lost.
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;  // a usage error: nothing was sent or started

}  // namespace common

#endif  // RADIOLINE_COMMON_EXIT_STATUS_H
