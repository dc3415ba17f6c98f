// SPDX-License-Identifier: MIT
// Quoting and the UTF-8 checks. The decoder is one table of lead bytes: the
// range a lead byte is in, how many continuation bytes follow it and the
// range the first of them must be in, which is where overlong forms,
// surrogates and code points above U+10FFFF are refused.
#include "text.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace common {
namespace {

constexpr unsigned char kDelete = 0x7F;
constexpr unsigned char kC1Lead = 0xC2;  // U+0080 to U+009F are C2 80 to C2 9F
constexpr unsigned char kC1Last = 0x9F;
constexpr unsigned char kContinuationLow = 0x80;
constexpr unsigned char kContinuationHigh = 0xBF;

struct Utf8Lead {
  unsigned char first;
  unsigned char last;
  int follow;
  unsigned char low;
  unsigned char high;
};

// clang-format off
constexpr std::array<Utf8Lead, 9> kUtf8Leads{{
    // lead bytes   follow  first continuation
    {0x00, 0x7F,    0,      0x00, 0x00},  // ASCII
    {0xC2, 0xDF,    1,      0x80, 0xBF},
    {0xE0, 0xE0,    2,      0xA0, 0xBF},  // no overlong three-byte forms
    {0xE1, 0xEC,    2,      0x80, 0xBF},
    {0xED, 0xED,    2,      0x80, 0x9F},  // no surrogates
    {0xEE, 0xEF,    2,      0x80, 0xBF},
    {0xF0, 0xF0,    3,      0x90, 0xBF},  // no overlong four-byte forms
    {0xF1, 0xF3,    3,      0x80, 0xBF},
    {0xF4, 0xF4,    3,      0x80, 0x8F},  // nothing above U+10FFFF
}};
// clang-format on

bool printableAscii(unsigned char c) {
  return c >= ' ' && c < kDelete;
}

}  // namespace

std::string quote(std::string_view text, std::size_t limit) {
  std::string out;
  for (unsigned char c : text.substr(0, limit)) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
    out += printableAscii(c) ? std::string(1, static_cast<char>(c)) : std::string(escaped);
  }
  return text.size() > limit ? out + "..." : out;
}

bool validUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i++]);
    const auto row = std::find_if(kUtf8Leads.begin(), kUtf8Leads.end(), [lead](const Utf8Lead &r) {
      return lead >= r.first && lead <= r.last;
    });
    if (row == kUtf8Leads.end() || text.size() - i < static_cast<std::size_t>(row->follow)) {
      return false;
    }
    for (int k = 0; k < row->follow; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i++]);
      const bool first = k == 0;
      if (next < (first ? row->low : kContinuationLow) ||
          next > (first ? row->high : kContinuationHigh)) {
        return false;
      }
    }
  }
  return true;
}

bool printableUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const bool c1 =
        c == kC1Lead && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= kC1Last;
    if (c < ' ' || c == kDelete || c1) return false;
  }
  return validUtf8(text);
}

}  // namespace common
