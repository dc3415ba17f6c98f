// SPDX-License-Identifier: MIT
// Text that came from a user or a client, as the tools repeat it and check
// it: the one quoting rule every message, log line and reply uses, and the
// UTF-8 checks the bridge's requests and topic names need. Pure functions,
// no I/O; radioctl, the bridge and their shared command runner call them.
#ifndef RADIOLINE_COMMON_TEXT_H
#define RADIOLINE_COMMON_TEXT_H

#include <cstddef>
#include <string>
#include <string_view>

namespace common {

// Longest piece of user input a message repeats.
constexpr std::size_t kMaxQuoted = 64;

// `text` as a message may repeat it: cut to `limit` bytes ("..." marks the
// cut), every byte outside printable ASCII written as \xNN.
std::string quote(std::string_view text, std::size_t limit = kMaxQuoted);

// Well-formed UTF-8: no stray continuation bytes, overlong forms,
// surrogates or code points above U+10FFFF.
bool validUtf8(std::string_view text);

// Well-formed UTF-8 without control characters (C0, DEL, C1).
bool printableUtf8(std::string_view text);

}  // namespace common

#endif  // RADIOLINE_COMMON_TEXT_H
