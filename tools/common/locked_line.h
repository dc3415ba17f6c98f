// SPDX-License-Identifier: MIT
// The serial line a tool works on: the device named with -d, the default
// device, or a radiosim that the tool starts on a pseudo-terminal. Opening
// takes an exclusive advisory lock on the device, so that two programs never
// interleave frames on one line, before the library opens and configures it
// as a line handle with the tool's reply time-out and trace callback;
// closing releases the handle, the lock and the simulator.
#ifndef RADIOLINE_COMMON_LOCKED_LINE_H
#define RADIOLINE_COMMON_LOCKED_LINE_H

#include <sys/types.h>

#include <string>

#include "commands.h"
#include "radioline.h"

namespace common {

// Taken when neither a device nor --simulate is given, if it exists.
constexpr const char *kDefaultDevice = "/dev/ttyUSB0";

struct LineSettings {
  std::string device;  // empty: the default device
  bool simulate = false;
  int baud = 0;
  int radio = 0;                          // the simulator answers at this address
  int timeout_ms = RADIOLINE_TIMEOUT_MS;  // the wait for each byte of a reply
  radioline_trace_fn trace = nullptr;     // takes the library's trace lines; nullptr: none
};

class LockedLine {
 public:
  LockedLine() = default;
  LockedLine(const LockedLine &) = delete;
  LockedLine &operator=(const LockedLine &) = delete;
  ~LockedLine();

  // Opens the line; on failure `error` says why, starting with the device,
  // and failureCode() and failureErrno() tell it to programs.
  bool open(const LineSettings &settings, std::string &error);

  // Whether the open device has hung up (the other side of a
  // pseudo-terminal closed, a USB adapter was unplugged), learned without
  // reading from it or touching the library's descriptor.
  bool hungUp() const;

  // After a failed open: "busy" when another program holds the line, else
  // "open-failed"; and the system's error number, 0 when none applies.
  const char *failureCode() const { return failure_code_; }
  int failureErrno() const { return failure_errno_; }

  // The open line for the library's calls, nullptr while none is open, and
  // the device it is open on (with --simulate the simulator's).
  radioline_line *handle() const { return line_; }
  const std::string &device() const { return device_; }

 private:
  bool startSimulator(int radio, std::string &path, std::string &error);
  bool lock(const std::string &path, bool named, std::string &error);
  bool fail(int error_number, const char *code = kCodeOpenFailed);
  void release();

  pid_t simulator_ = -1;
  int lock_ = -1;
  radioline_line *line_ = nullptr;
  std::string device_;
  const char *failure_code_ = "";
  int failure_errno_ = 0;
};

}  // namespace common

#endif  // RADIOLINE_COMMON_LOCKED_LINE_H
