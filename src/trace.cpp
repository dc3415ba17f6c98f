// SPDX-License-Identifier: MIT
// The trace switch and the helpers every layer writes its trace lines with.
// This file owns the global `debug` (0, silent, until a host sets it) and is
// the only place that decides whether a line reaches standard error, so that
// with `debug` zero the library writes nothing at all. The lines themselves
// are written as literals where they happen, in io.cpp, frame.cpp, cmd.cpp
// and bcd.cpp. No helper changes errno: callers save a system call's errno,
// trace, and set errno themselves where a failure means them to (failWith).
#include <cerrno>
#include <cstdarg>
#include <cstdio>

#include "internal.h"

int debug = 0;

namespace radioline {

void trace(const char *format, ...) {
  if (!debug) return;
  const int saved = errno;
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  errno = saved;
}

void tracePerror(const char *name, int code) {
  if (!debug) return;
  const int saved = errno;
  errno = code;  // what perror names
  std::perror(name);
  errno = saved;
}

void traceBytes(const char *label, const unsigned char *bytes, int count) {
  if (!debug) return;
  const int saved = errno;
  std::fputs(label, stderr);
  for (int i = 0; i < count; i++) std::fprintf(stderr, "%02x ", bytes[i]);
  std::fputc('\n', stderr);
  errno = saved;
}

int failWith(int code) {
  errno = code;
  return code;
}

}  // namespace radioline
