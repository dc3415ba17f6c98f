// SPDX-License-Identifier: MIT
// Private to the library's source files, never installed: the frame bytes that
// the escaping and framing layers share, the escape-aware byte reader that
// lets the frame receiver tell a raw end byte from an escaped one, the trace
// helpers that write to standard error only when `debug` is set, and the type
// of a row of the command table in cmd.cpp. Every trace helper leaves errno
// as it found it, so a code saved from a failing system call is still in
// errno when the caller returns it.
#ifndef RADIOLINE_INTERNAL_H
#define RADIOLINE_INTERNAL_H

#include <optional>

#include "radioline.h"

namespace radioline {

// Frame bytes. They never appear raw inside a body or an address field.
constexpr unsigned char kFrameEnd = 0xFD;       // ends every frame
constexpr unsigned char kFrameStart = 0xFE;     // two of them start a frame
constexpr unsigned char kFrameEscape = 0xFF;    // next byte is a body byte's low nibble
constexpr unsigned char kEscapeKeep = 0x0F;     // what an escaped byte keeps on the wire
constexpr unsigned char kEscapeRestore = 0xF0;  // what the receiver puts back

// Highest bus address: FD, FE and FF are the frame's own bytes.
constexpr int kMaxAddress = 0xFC;

// An exchange gave up on its reply (a time-out, a broken frame start) or
// rejected the frame it took for it (a refusal, another form or command):
// its own answer, or the rest of it, may still arrive. The next
// discardAbandonedReply() drops what arrives on the line then, so that the
// late answer is not taken for the answer to the next request; seropen()
// clears the mark.
void abandonReply();
// When a reply was abandoned since the line was opened or this was last
// called: drops what waits on the line and what arrives after it, until no
// byte has come for the longer of 50 ms and 10 character times at the
// line's speed, or for at most 1 s in all. Returns at once otherwise. A
// descriptor that is no terminal keeps its bytes. errno is left as it was.
void discardAbandonedReply();

// charin() that also says whether the byte arrived as an escape pair.
int charinEscaped(unsigned char *c, bool *escaped);

// printf-style line to standard error when debug is set.
void trace(const char *format, ...) __attribute__((format(printf, 1, 2)));

// perror(name) naming the failure `code` when debug is set; errno is left as
// it was, so a caller that means errno to hold `code` sets it (failWith).
void tracePerror(const char *name, int code);

// `label`, then every byte as "%02x ", then a newline, when debug is set.
void traceBytes(const char *label, const unsigned char *bytes, int count);

// Sets errno to `code` and returns it, for codes the library makes up.
int failWith(int code);

// How the command exchange judges the reply that concerns it.
enum class ReplyForm {
  kStatus,  // the first body byte is a status; only FB accepts
  kData,    // the command byte, the subcommand with its top bit set, data
};

// Whether the exchange traces "<name>: calling sendcmd"; storemodetovfo's
// trace has always gone without that one line.
enum class SendTrace { kAnnounced, kUnannounced };

// Turns the data of an accepted data-form reply (the body after its command
// and subcommand bytes, `length` of them) into the caller's storage at `out`.
// Returns 0, or EINVAL (errno set) when the data is too short; it writes to
// `out` only when it returns 0.
using Decoder = int (*)(const unsigned char *data, int length, void *out);

// Everything that sets one radio command apart: one row of the table in
// cmd.cpp. The request body is the command byte, the subcommand when there
// is one, then `data_length` bytes that the command fills.
struct CommandRow {
  const char *name;                         // trace prefix and perror name
  unsigned char command;                    // first body byte
  std::optional<unsigned char> subcommand;  // second body byte, if any
  int data_length;                          // request bytes after those
  int bufsize;                              // reply body bytes to store
  ReplyForm form;                           // how the reply is judged
  Decoder decode;                           // data form only, else nullptr
  SendTrace send_trace;                     // the "calling sendcmd" line
};

}  // namespace radioline

#endif  // RADIOLINE_INTERNAL_H
