// SPDX-License-Identifier: MIT
// Value reading for radioctl's arguments and options. One table gives every
// kind of value its syntax, the decimal places it keeps, whether k, M and G
// multipliers apply, its range and how to name it. Decimal numbers are read
// as a digit string and a power of ten, so "145.5M" becomes exactly
// 145500000 and "145.0000005M" is refused as finer than a hertz instead of
// being rounded. Whether the line can run at a baud rate is the library's
// to say: seropen() refuses a rate it has no speed for.
#include "values.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

namespace common {
namespace {

enum class Syntax {
  kScaled,        // [-|+]digits[.digits][multiplier][Hz]
  kDecimal,       // digits
  kDecimalOrHex,  // digits, or 0x and hex digits
  kHex,           // hex digits, with or without 0x
};

struct Kind {
  ValueKind kind;
  Syntax syntax;
  int decimals;      // the value counts 10^-decimals of the unit
  bool multipliers;  // k, M and G apply
  long min;
  long max;
  const char *what;  // "a frequency in Hz"
  const char *unit;  // appended to numbers in messages
};

constexpr long kTenDigits = 9999999999L;
constexpr long kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr long kInt32Max = std::numeric_limits<std::int32_t>::max();
constexpr long kHourMs = 3600000;  // longer waits for one byte are mistakes

constexpr std::array<Kind, 11> kKinds{{
    {ValueKind::kFrequency, Syntax::kScaled, 0, true, 0, kTenDigits, "a frequency in Hz", " Hz"},
    {ValueKind::kOffset, Syntax::kScaled, 0, true, kInt32Min, kInt32Max, "an offset in Hz", " Hz"},
    {ValueKind::kSplit, Syntax::kScaled, 0, true, kInt32Min, kInt32Max, "a VCO split in Hz", " Hz"},
    {ValueKind::kTone, Syntax::kScaled, 1, false, 0, 9999, "a tone in Hz", " Hz"},
    {ValueKind::kMode, Syntax::kDecimal, 0, false, 0, 99, "a mode number", ""},
    {ValueKind::kDuplex, Syntax::kDecimalOrHex, 0, false, 0, 255, "a duplex code", ""},
    {ValueKind::kByte, Syntax::kDecimalOrHex, 0, false, 0, 255, "a byte", ""},
    {ValueKind::kHexByte, Syntax::kHex, 0, false, 0, 255, "a hex byte", ""},
    {ValueKind::kAddress, Syntax::kDecimalOrHex, 0, false, 0, 252, "a bus address", ""},
    {ValueKind::kBaud, Syntax::kDecimal, 0, false, 50, 4000000, "a baud rate", ""},
    {ValueKind::kTimeout, Syntax::kDecimal, 0, false, 1, kHourMs, "a time-out in ms", " ms"},
}};

struct Multiplier {
  char letter;
  int exponent;
};
constexpr std::array<Multiplier, 4> kMultipliers{{{'k', 3}, {'K', 3}, {'M', 6}, {'G', 9}}};
constexpr std::string_view kHertz = "Hz";

// Beyond this many digits a number does not fit a long, whatever its range.
constexpr std::size_t kMaxDigits = 18;

enum class Reading { kNumber, kNotANumber, kTooFine, kOutOfRange };

// A decimal number as digits and the power of ten that scales them.
struct Decimal {
  bool negative = false;
  std::string digits;
  int exponent = 0;
};

const Kind &kindOf(ValueKind kind) {
  return *std::find_if(kKinds.begin(), kKinds.end(),
                       [kind](const Kind &row) { return row.kind == kind; });
}

std::string_view takeDigits(std::string_view &text) {
  const auto end = std::find_if(text.begin(), text.end(), [](char c) {
    return !std::isdigit(static_cast<unsigned char>(c));
  });
  const std::string_view digits = text.substr(0, static_cast<std::size_t>(end - text.begin()));
  text.remove_prefix(digits.size());
  return digits;
}

bool takePrefix(std::string_view &text, std::string_view prefix) {
  if (text.substr(0, prefix.size()) != prefix) return false;
  text.remove_prefix(prefix.size());
  return true;
}

int takeMultiplier(std::string_view &text) {
  for (const Multiplier &multiplier : kMultipliers) {
    if (takePrefix(text, std::string_view(&multiplier.letter, 1))) return multiplier.exponent;
  }
  return 0;
}

std::optional<Decimal> lexDecimal(std::string_view text, const Kind &kind) {
  Decimal number;
  number.negative = takePrefix(text, "-");
  if (!number.negative) takePrefix(text, "+");
  number.digits = std::string(takeDigits(text));
  if (takePrefix(text, ".")) {
    const std::string_view fraction = takeDigits(text);
    number.digits += fraction;
    number.exponent -= static_cast<int>(fraction.size());
  }
  if (number.digits.empty()) return std::nullopt;
  if (kind.multipliers) number.exponent += takeMultiplier(text);
  takePrefix(text, kHertz);
  if (!text.empty()) return std::nullopt;
  number.exponent += kind.decimals;
  return number;
}

// Shifts the digits by the exponent; refuses to drop a digit that is not 0.
Reading scale(Decimal number, long &value) {
  if (number.exponent < 0) {
    const std::size_t cut =
        std::min(number.digits.size(), static_cast<std::size_t>(-number.exponent));
    const std::size_t keep = number.digits.size() - cut;
    if (number.digits.find_first_not_of('0', keep) != std::string::npos) return Reading::kTooFine;
    number.digits.erase(keep);
  } else {
    number.digits.append(static_cast<std::size_t>(number.exponent), '0');
  }
  number.digits.erase(0, number.digits.find_first_not_of('0'));
  if (number.digits.size() > kMaxDigits) return Reading::kOutOfRange;
  value = 0;
  std::from_chars(number.digits.data(), number.digits.data() + number.digits.size(), value);
  if (number.negative) value = -value;
  return Reading::kNumber;
}

Reading readScaled(std::string_view text, const Kind &kind, long &value) {
  const std::optional<Decimal> number = lexDecimal(text, kind);
  return number ? scale(*number, value) : Reading::kNotANumber;
}

Reading readInteger(std::string_view text, const Kind &kind, long &value) {
  const bool prefixed = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const bool hex =
      kind.syntax == Syntax::kHex || (kind.syntax == Syntax::kDecimalOrHex && prefixed);
  if (hex && prefixed) text.remove_prefix(2);
  unsigned long number = 0;
  const char *end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, number, hex ? 16 : 10);
  if (text.empty() || stop != end) return Reading::kNotANumber;
  if (error != std::errc() || number > static_cast<unsigned long>(kind.max)) {
    return Reading::kOutOfRange;
  }
  value = static_cast<long>(number);
  return Reading::kNumber;
}

Reading read(std::string_view text, const Kind &kind, long &value) {
  const Reading reading = kind.syntax == Syntax::kScaled ? readScaled(text, kind, value)
                                                         : readInteger(text, kind, value);
  if (reading == Reading::kNumber && (value < kind.min || value > kind.max)) {
    return Reading::kOutOfRange;
  }
  return reading;
}

// `value` in the user's notation, without the unit.
std::string format(const Kind &kind, long value) {
  if (kind.syntax == Syntax::kHex) {
    char text[8];
    std::snprintf(text, sizeof text, "%02lx", value);
    return text;
  }
  const std::size_t places = static_cast<std::size_t>(kind.decimals);
  std::string digits = std::to_string(value < 0 ? -value : value);
  if (digits.size() <= places) digits.insert(0, places + 1 - digits.size(), '0');
  if (places > 0) digits.insert(digits.size() - places, ".");
  return (value < 0 ? "-" : "") + digits;
}

std::string problemWith(Reading reading, const Kind &kind) {
  switch (reading) {
    case Reading::kNotANumber:
      return std::string("is not ") + kind.what;
    case Reading::kTooFine:
      return "is finer than " + format(kind, 1) + kind.unit;
    case Reading::kOutOfRange:
      return "is out of range (" + describeRange(kind.kind) + ")";
    case Reading::kNumber:
      break;
  }
  return {};
}

}  // namespace

Value parseValue(ValueKind kind, std::string_view text) {
  const Kind &row = kindOf(kind);
  long number = 0;
  const Reading reading = read(text, row, number);
  if (reading != Reading::kNumber) return {std::nullopt, problemWith(reading, row)};
  return {number, {}};
}

std::string describeRange(ValueKind kind) {
  const Kind &row = kindOf(kind);
  return format(row, row.min) + " to " + format(row, row.max) + row.unit;
}

double inUserUnits(ValueKind kind, long number) {
  return static_cast<double>(number) / std::pow(10.0, kindOf(kind).decimals);
}

Range rangeOf(ValueKind kind) {
  const Kind &row = kindOf(kind);
  return {inUserUnits(kind, row.min), inUserUnits(kind, row.max), inUserUnits(kind, 1)};
}

std::string addressText(int address) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02x", static_cast<unsigned>(address) & 0xFFu);
  return text;
}

}  // namespace common
