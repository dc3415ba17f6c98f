// SPDX-License-Identifier: MIT
// Reading command-line values as users write them: frequencies and offsets
// and VCO splits in hertz with k, M and G suffixes and decimals, PL tones in
// hertz with one decimal, mode numbers, duplex codes, bytes, hex bytes, bus
// addresses, baud rates and time-outs. Each kind of value has its syntax, its range and
// its unit in one table; reading is exact (no floating point) and a value
// that is finer than the unit, out of range or not a number at all is
// refused with a short phrase saying which. Pure functions, no I/O; a
// baud rate is only range-checked here, and the library refuses one it has
// no line speed for when the line is opened.
#ifndef RADIOLINE_COMMON_VALUES_H
#define RADIOLINE_COMMON_VALUES_H

#include <optional>
#include <string>
#include <string_view>

namespace common {

enum class ValueKind {
  kFrequency,  // Hz, 0 to ten digits: "145.5M", "145500k", "145500000"
  kOffset,     // Hz, signed 32-bit: "-600k", "-0.6M", "+600k"
  kSplit,      // Hz, signed 32-bit, as kOffset
  kTone,       // PL tone in Hz with one decimal, read as tenths: "88.5" is 885
  kMode,       // mode slot, decimal 0 to 99
  kDuplex,     // duplex code, decimal or 0x hex, 0 to 255
  kByte,       // decimal or 0x hex, 0 to 255
  kHexByte,    // hex with or without 0x, 0 to ff
  kAddress,    // bus address, decimal or 0x hex, 0 to 252
  kBaud,       // bits per second, decimal, 50 to 4000000
  kTimeout,    // milliseconds, decimal, 1 to 3600000
};

// The number read, in the unit the library takes, or the reason it was
// refused as a phrase to follow the quoted text ("is not a frequency in Hz").
struct Value {
  std::optional<long> number;
  std::string problem;
};

Value parseValue(ValueKind kind, std::string_view text);

// The accepted range in the user's units: "0 to 9999999999 Hz".
std::string describeRange(ValueKind kind);

// A number in the library's unit in the user's: a tone's 885 tenths are
// 88.5 Hz.
double inUserUnits(ValueKind kind, long number);

// The accepted range in the user's units and the step between two values:
// what a dashboard's number may take.
struct Range {
  double min;
  double max;
  double step;
};
Range rangeOf(ValueKind kind);

// A bus address as users write it: "0x20".
std::string addressText(int address);

}  // namespace common

#endif  // RADIOLINE_COMMON_VALUES_H
