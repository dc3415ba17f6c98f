// SPDX-License-Identifier: MIT
// Fuzz kit: a finding when a property fails, and a socket-pair serial line.
#ifndef RADIOLINE_FUZZ_FUZZ_LINE_H
#define RADIOLINE_FUZZ_FUZZ_LINE_H

#include "golden.h"

// Aborts with `what` when `condition` is false: a finding for libFuzzer.
void require(bool condition, const char *what);

// The library's line for one run: one end of a socket pair is installed as
// `serfh`, the test keeps the other. What the radio sends is queued before
// the call and the line then ended, so that reading past it ends in EPIPE
// instead of a five-second wait; what the library writes stays readable.
class FuzzLine {
 public:
  FuzzLine();
  ~FuzzLine();
  FuzzLine(const FuzzLine &) = delete;
  FuzzLine &operator=(const FuzzLine &) = delete;

  // Queues bytes for the library to read and ends the line.
  void sendLast(const Bytes &bytes) const;
  // Every byte the library has written so far.
  Bytes written() const;

 private:
  int radio_ = -1;
};

#endif  // RADIOLINE_FUZZ_FUZZ_LINE_H
