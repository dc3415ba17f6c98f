// SPDX-License-Identifier: MIT
// The serial line radioctl works on: the device named with -d, the default
// device, or a radiosim that radioctl starts on a pseudo-terminal. Opening
// takes an exclusive advisory lock on the device, so that two programs never
// interleave frames on one line, before the library opens and configures it;
// closing releases the library's descriptor, the lock and the simulator.
#ifndef RADIOCTL_LINE_H
#define RADIOCTL_LINE_H

#include <sys/types.h>

#include <string>

#include "commands.h"

namespace radioctl {

// Taken when neither a device nor --simulate is given, if it exists.
constexpr const char *kDefaultDevice = "/dev/ttyUSB0";

struct LineSettings {
  std::string device;  // empty: the default device
  bool simulate = false;
  int baud = 0;
  int radio = 0;  // the simulator answers at this address
};

class Line {
 public:
  Line() = default;
  Line(const Line &) = delete;
  Line &operator=(const Line &) = delete;
  ~Line();

  // Opens the line; on failure `error` says why, starting with the device,
  // and failureCode() and failureErrno() tell it to programs.
  bool open(const LineSettings &settings, std::string &error);

  // After a failed open: "busy" when another program holds the line, else
  // "open-failed"; and the system's error number, 0 when none applies.
  const char *failureCode() const { return failure_code_; }
  int failureErrno() const { return failure_errno_; }

 private:
  bool startSimulator(int radio, std::string &path, std::string &error);
  bool lock(const std::string &path, bool named, std::string &error);
  bool fail(int error_number, const char *code = kCodeOpenFailed);

  pid_t simulator_ = -1;
  int lock_ = -1;
  const char *failure_code_ = "";
  int failure_errno_ = 0;
};

}  // namespace radioctl

#endif  // RADIOCTL_LINE_H
