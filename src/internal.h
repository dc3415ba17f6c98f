// SPDX-License-Identifier: MIT
// Private to the library's source files, never installed: what they share.
// The trace helpers (trace.cpp) write to standard error only when `debug`
// is set and leave errno as they found it, so a code saved from a failing
// system call is still in errno when the caller returns it; failWith() sets
// errno for the codes the library makes up. discardUntilQuiet() and
// linesOpened() (io.cpp) let the command exchange in cmd.cpp clear the line
// after a reply it abandoned without touching the descriptor itself.
#ifndef RADIOLINE_INTERNAL_H
#define RADIOLINE_INTERNAL_H

#include "radioline.h"

namespace radioline {

// printf-style line to standard error when debug is set.
void trace(const char *format, ...) __attribute__((format(printf, 1, 2)));

// perror(name) naming the failure `code` when debug is set; errno is left as
// it was, so a caller that means errno to hold `code` sets it (failWith).
void tracePerror(const char *name, int code);

// `label`, then every byte as "%02x ", then a newline, when debug is set.
void traceBytes(const char *label, const unsigned char *bytes, int count);

// Sets errno to `code` and returns it, for codes the library makes up.
int failWith(int code);

// Drops what waits on the line and what arrives after it, until no byte has
// come for the longer of 50 ms and 10 character times at the line's speed,
// or for at most 1 s in all. A descriptor that is no terminal keeps its
// bytes; without a usable line it returns at once. errno is left as it was.
void discardUntilQuiet();

// How many lines seropen() has opened since the process started: it grows
// by one with each successful seropen(), so a number taken earlier names
// the line that was open then.
unsigned long linesOpened();

}  // namespace radioline

#endif  // RADIOLINE_INTERNAL_H
