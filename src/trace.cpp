// SPDX-License-Identifier: MIT
// The trace switch and the helpers every layer writes its trace lines with.
// This file owns the global `debug` (0, silent, until a host sets it) and
// rl_settrace(), and is the only place that decides where a line goes: for
// the default line, to standard error while `debug` is set, exactly as the
// classic calls have always written it; for a handle, to its callback, one
// call per line without the newline, formatted into a fixed buffer on the
// stack; with neither, nowhere. The lines themselves are written as
// literals where they happen, in io.cpp, frame.cpp, cmd.cpp and bcd.cpp.
// No helper changes errno: callers save a system call's errno, trace, and
// set errno themselves where a failure means them to (failWith).
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "internal.h"

int debug = 0;

namespace radioline {
namespace {

// The longest line the library makes of its own is getversion's dump of a
// 253-byte text: 17 characters of label and 3 per byte, 776 in all. Only a
// caller's own text (a long codeplug text) makes a longer line, which a
// callback gets cut to kTraceLineSize - 1 bytes.
constexpr std::size_t kTraceLineSize = 1024;
constexpr int kByteTextSize = 4;  // "%02x " and its terminator

// The system's text for `code`, from either strerror_r() the C library has.
[[maybe_unused]] const char *errorText(int result, const char *buffer) {
  return result == 0 ? buffer : "Unknown error";
}
[[maybe_unused]] const char *errorText(const char *text, const char * /*buffer*/) {
  return text;
}

// Hands a handle's line, as written for standard error, to its callback
// without the newline. errno stays as it was.
void handOver(const Line &line, char *text) {
  const int saved = errno;
  const std::size_t length = std::strlen(text);
  if (length > 0 && text[length - 1] == '\n') text[length - 1] = '\0';
  line.trace_fn(line.trace_context, text);
  errno = saved;
}

}  // namespace

bool tracing(const Line &line) {
  return line.classic ? debug != 0 : line.trace_fn != nullptr;
}

void trace(const Line &line, const char *format, ...) {
  if (!tracing(line)) return;
  const int saved = errno;
  va_list args;
  va_start(args, format);
  char text[kTraceLineSize];
  if (line.classic) {
    std::vfprintf(stderr, format, args);
  } else {
    std::vsnprintf(text, sizeof text, format, args);
    handOver(line, text);
  }
  va_end(args);
  errno = saved;
}

void tracePerror(const Line &line, const char *name, int code) {
  if (!tracing(line)) return;
  const int saved = errno;
  if (line.classic) {
    errno = code;  // what perror names
    std::perror(name);
  } else {
    char buffer[kTraceLineSize];
    char text[kTraceLineSize];
    std::snprintf(text, sizeof text, "%s: %s", name,
                  errorText(strerror_r(code, buffer, sizeof buffer), buffer));
    handOver(line, text);
  }
  errno = saved;
}

void traceBytes(const Line &line, const char *label, const unsigned char *bytes, int count) {
  if (!tracing(line)) return;
  char text[kTraceLineSize];
  std::size_t length = std::strlen(label);
  std::memcpy(text, label, length);  // every label is a short literal
  for (int i = 0; i < count && length + kByteTextSize < sizeof text; i++) {
    std::snprintf(text + length, kByteTextSize, "%02x ", bytes[i]);
    length += kByteTextSize - 1;
  }
  text[length] = '\n';
  text[length + 1] = '\0';
  if (!line.classic) return handOver(line, text);
  const int saved = errno;
  std::fputs(text, stderr);
  errno = saved;
}

int failWith(int code) {
  errno = code;
  return code;
}

}  // namespace radioline

int rl_settrace(radioline_line *line, radioline_trace_fn fn, void *context) {
  return radioline::onLine(line, [&](radioline::Line &held) {
    held.trace_fn = fn;
    held.trace_context = context;
    return 0;
  });
}
