// SPDX-License-Identifier: MIT
// Private to the library's source files, never installed: what they share.
// The line object (struct radioline_line, opaque to hosts) carries
// everything the library keeps of one serial line between calls: its
// descriptor, speed, reply time-out, whether a reply was abandoned on it,
// where its trace goes and the lock that serialises its calls. The classic
// calls run on the process's default line, whose descriptor is the global
// `serfh` and whose trace goes to standard error while `debug` is set; a
// handle from rl_open() owns its descriptor and traces to its callback.
// Every layer takes the line first; onLine() takes a public call's lock.
// The trace helpers (trace.cpp) leave errno as they found it, so a code
// saved from a failing system call is still in errno when the caller
// returns it; failWith() sets errno for the codes the library makes up.
// openDevice(), rawcharout(), rawcharin() and discardUntilQuiet() (io.cpp)
// are the only ways to the descriptor; the frame layer (frame.cpp) and the
// command exchange (cmd.cpp) go through them.
#ifndef RADIOLINE_INTERNAL_H
#define RADIOLINE_INTERNAL_H

#include <cerrno>
#include <mutex>

#include "radioline.h"

namespace radioline {

// No descriptor was ever opened, or the line was closed.
constexpr int kNoDevice = -2;

// Every byte read waits this long unless rl_settimeout() says otherwise:
// the radio answers well within it.
constexpr int kDefaultTimeoutMs = RADIOLINE_TIMEOUT_MS;

}  // namespace radioline

// One serial line. Only the library's files see inside it.
struct radioline_line {
  // The default line: `shared_fh` is the global serfh and the trace is the
  // classic one. A handle (nullptr): a descriptor and a trace of its own.
  explicit constexpr radioline_line(int *shared_fh = nullptr)
      : fh(shared_fh != nullptr ? shared_fh : &own_fh), classic(shared_fh != nullptr) {}

  int own_fh = radioline::kNoDevice;              // a handle's descriptor
  int *fh;                                        // the descriptor every byte goes through
  const bool classic;                             // traces to standard error while debug is set
  int baudrate = 0;                               // the speed set at the open; 0 before it
  int timeout_ms = radioline::kDefaultTimeoutMs;  // the wait for each byte read
  bool reply_abandoned = false;                   // a late answer may still come (cmd.cpp)
  radioline_trace_fn trace_fn = nullptr;          // a handle's trace callback, or none
  void *trace_context = nullptr;                  // handed to trace_fn
  std::mutex lock;                                // held for each public call
};

namespace radioline {

using Line = radioline_line;

// The line the classic calls run on: serfh, debug, 5-second time-out.
Line &defaultLine();

// Sets errno to `code` and returns it, for codes the library makes up.
int failWith(int code);

// Runs `operation` on `line` with the line's lock held for all of it;
// EINVAL (errno set) for a NULL line.
template <typename Operation>
int onLine(Line *line, Operation operation) {
  if (line == nullptr) return failWith(EINVAL);
  const std::lock_guard<std::mutex> held(line->lock);
  return operation(*line);
}

// Whether `line` traces: debug for the default line, a callback for a handle.
bool tracing(const Line &line);

// printf-style trace line ending in a newline, when `line` traces.
void trace(const Line &line, const char *format, ...) __attribute__((format(printf, 2, 3)));

// "name: system text" for the failure `code`, as perror(name) writes it,
// when `line` traces; errno is left as it was, so a caller that means errno
// to hold `code` sets it (failWith).
void tracePerror(const Line &line, const char *name, int code);

// `label`, then every byte as "%02x ", then a newline, when `line` traces.
void traceBytes(const Line &line, const char *label, const unsigned char *bytes, int count);

// The layers below the commands, on a line whose lock the caller holds;
// each is its public namesake's contract on `line`.
int openDevice(Line &line, const char *devname, int baudrate);
int rawcharout(Line &line, unsigned char c);
int rawcharin(Line &line, unsigned char *c);
int charout(Line &line, unsigned char c);
int charin(Line &line, unsigned char *c);
int sendcmd(Line &line, int to, int from, const unsigned char *cmd, int cmdlen);
int rcvresp(Line &line, int *to, int *from, unsigned char *resp, int bufsize, int *resplen);
void tobcd(const Line &line, long value, unsigned char *outbuf, int buflen);

// Drops what waits on the line and what arrives after it, until no byte has
// come for the longer of 50 ms and 10 character times at the line's speed,
// or for at most 1 s in all. A descriptor that is no terminal keeps its
// bytes; without a usable line it returns at once. errno is left as it was.
void discardUntilQuiet(Line &line);

}  // namespace radioline

#endif  // RADIOLINE_INTERNAL_H
