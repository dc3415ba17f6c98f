// SPDX-License-Identifier: MIT
// Private to the library's source files, never installed: the frame bytes that
// the escaping and framing layers share, the escape-aware byte reader that
// lets the frame receiver tell a raw end byte from an escaped one, and the
// trace helpers that write to standard error only when `debug` is set. Every
// trace helper leaves errno as it found it, so a code saved from a failing
// system call is still in errno when the caller returns it.
#ifndef RADIOLINE_INTERNAL_H
#define RADIOLINE_INTERNAL_H

#include "radioline.h"

namespace radioline {

// Frame bytes. They never appear raw inside a body or an address field.
constexpr unsigned char kFrameEnd = 0xFD;     // ends every frame
constexpr unsigned char kFrameStart = 0xFE;   // two of them start a frame
constexpr unsigned char kFrameEscape = 0xFF;  // next byte is a body byte's low nibble
constexpr unsigned char kEscapeKeep = 0x0F;   // what an escaped byte keeps on the wire
constexpr unsigned char kEscapeRestore = 0xF0;  // what the receiver puts back

// Highest bus address: FD, FE and FF are the frame's own bytes.
constexpr int kMaxAddress = 0xFC;

// charin() that also says whether the byte arrived as an escape pair.
int charin_escaped(unsigned char *c, bool *escaped);

// printf-style line to standard error when debug is set.
void trace(const char *format, ...) __attribute__((format(printf, 1, 2)));

// perror(name) for the failure `code` when debug is set; errno ends as `code`.
void trace_perror(const char *name, int code);

// `label`, then every byte as "%02x ", then a newline, when debug is set.
void trace_bytes(const char *label, const unsigned char *bytes, int count);

// Sets errno to `code` and returns it, for codes the library makes up.
int fail_with(int code);

}  // namespace radioline

#endif  // RADIOLINE_INTERNAL_H
