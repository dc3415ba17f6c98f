// SPDX-License-Identifier: MIT
// The fifteen radio commands as the tests know them: each call with its
// arguments, the request body it must send, a reply body the radio gives it
// and what a reader makes of that reply. Every test and fuzz target that
// drives the commands takes them from here, so the commands are written down
// once. The rows are in an order a stateful radio can replay: the setters put
// the values the readers then read back. Also the one Bytes type and the one
// hex helper of the tests.
#ifndef RADIOLINE_TESTS_GOLDEN_H
#define RADIOLINE_TESTS_GOLDEN_H

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "radioline.h"

using Bytes = std::vector<std::uint8_t>;

// Bytes written as "FE FE 20 91 ..." and back: upper case, one space apart.
inline Bytes hex(const std::string &text) {
  Bytes bytes;
  std::istringstream in(text);
  for (unsigned value = 0; in >> std::hex >> value;)
    bytes.push_back(static_cast<std::uint8_t>(value));
  return bytes;
}

inline std::string hexOf(const Bytes &bytes) {
  std::string text;
  for (const std::uint8_t byte : bytes) {
    char digits[4];
    std::snprintf(digits, sizeof digits, " %02X", byte);
    text += digits;
  }
  return text.empty() ? text : text.substr(1);
}

// The radio and controller addresses of the golden exchanges.
constexpr int kRadio = 0x20;
constexpr int kController = 0x91;

// What a reader may write to. It starts patterned, so a stray write shows;
// no padding, so comparing its bytes sees every field.
struct Storage {
  std::uint8_t buf[32];
  long first;
  long second;
  Storage() { std::memset(this, 0x5A, sizeof *this); }
  bool operator==(const Storage &other) const {
    return std::memcmp(this, &other, sizeof other) == 0;
  }
};

// How a reader's result shows in decodedText().
enum class Decoded { kNothing, kBytes, kText, kOne, kPair };

struct Golden {
  const char *name;  // the library call, as its trace lines name it
  int (*call)(int to, int from, Storage &storage);
  const char *request;  // the request body
  const char *reply;    // the reply body: FB for a setter, AA 8x and data for a reader
  Decoded form;
  const char *decoded;  // what the reader stored, shown as decodedText() shows it
  bool reader() const { return form != Decoded::kNothing; }
};

inline char sixteen_numbers[] = "1 2 3 4 5 6 7 8 9 a b c d e f 10";

// clang-format off
inline const std::array<Golden, 15> kGolden{{
  {"setvfofreq", [](int t, int f, Storage &) { return setvfofreq(t, f, 145500000); }, "05 00 00 50 45 01", "FB", Decoded::kNothing, ""},
  {"setduplex", [](int t, int f, Storage &) { return setduplex(t, f, 0x11); }, "0F 11", "FB", Decoded::kNothing, ""},
  {"setpl", [](int t, int f, Storage &) { return setpl(t, f, 885, 0); }, "1B 00 08 85", "FB", Decoded::kNothing, ""},
  {"setvfocodeplug", [](int t, int f, Storage &) { return setvfocodeplug(t, f, sixteen_numbers); },
   "AA 01 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10", "FB", Decoded::kNothing, ""},
  {"setmode", [](int t, int f, Storage &) { return setmode(t, f, 12); }, "08 12", "FB", Decoded::kNothing, ""},
  {"storevfotomode", [](int t, int f, Storage &) { return storevfotomode(t, f); }, "09", "FB", Decoded::kNothing, ""},
  {"storemodetovfo", [](int t, int f, Storage &) { return storemodetovfo(t, f); }, "0A", "FB", Decoded::kNothing, ""},
  {"setconfig", [](int t, int f, Storage &) { return setconfig(t, f, 0x12, 0x34); }, "AA 04 12 34", "FB", Decoded::kNothing, ""},
  {"settxoffset", [](int t, int f, Storage &) { return settxoffset(t, f, -256); }, "AA 06 00 FF 0F FF 0F FF 0F", "FB", Decoded::kNothing, ""},
  {"setvcosplit", [](int t, int f, Storage &) { return setvcosplit(t, f, 1, 2); }, "AA 08 02 00 00 00 01 00 00 00", "FB", Decoded::kNothing, ""},
  {"getvfocodeplug", [](int t, int f, Storage &s) { return getvfocodeplug(t, f, s.buf, 16); }, "AA 00",
   "AA 80 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10", Decoded::kBytes, "01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10"},
  {"getversion", [](int t, int f, Storage &s) { return getversion(t, f, s.buf, 32); }, "AA 02",
   "AA 82 72 61 64 69 6F 73 69 6D 20 31 2E 30", Decoded::kText, "radiosim 1.0"},
  {"getconfig", [](int t, int f, Storage &s) { return getconfig(t, f, s.buf, 2); }, "AA 03", "AA 83 12 34", Decoded::kBytes, "12 34"},
  {"gettxoffset", [](int t, int f, Storage &s) { return gettxoffset(t, f, &s.first); }, "AA 05",
   "AA 85 00 FF 0F FF 0F FF 0F", Decoded::kOne, "-256"},
  {"getvcosplit", [](int t, int f, Storage &s) { return getvcosplitfreq(t, f, &s.first, &s.second); }, "AA 07",
   "AA 87 02 00 00 00 01 00 00 00", Decoded::kPair, "tx 1 rx 2"},
}};
// clang-format on

// What `row`'s reader stored in `storage`: its data bytes in hex, its text,
// or its numbers.
inline std::string decodedText(const Golden &row, const Storage &storage) {
  const char *text = reinterpret_cast<const char *>(storage.buf);
  switch (row.form) {
    case Decoded::kBytes:
      return hexOf(Bytes(storage.buf, storage.buf + hex(row.decoded).size()));
    case Decoded::kText:
      return std::string(text, strnlen(text, sizeof storage.buf));
    case Decoded::kOne:
      return std::to_string(storage.first);
    case Decoded::kPair:
      return "tx " + std::to_string(storage.first) + " rx " + std::to_string(storage.second);
    case Decoded::kNothing:
      break;
  }
  return "";
}

#endif  // RADIOLINE_TESTS_GOLDEN_H
