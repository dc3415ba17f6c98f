// SPDX-License-Identifier: MIT
// Fuzz: radioctl's value parsers never throw, keep to their ranges and re-read accepted values in
// every notation.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_line.h"
#include "values.h"

using common::parseValue;
using common::ValueKind;

namespace {

constexpr ValueKind kKinds[] = {ValueKind::kFrequency, ValueKind::kOffset,  ValueKind::kSplit,
                                ValueKind::kTone,      ValueKind::kMode,    ValueKind::kDuplex,
                                ValueKind::kByte,      ValueKind::kHexByte, ValueKind::kAddress,
                                ValueKind::kBaud};

std::string printed(const char *format, long value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// `value` in units of 10^`places`, with a fraction of `places` digits and
// then `suffix`: 145500000 with 6 places and "M" is "145.500000M".
std::string scaled(long value, int places, const char *suffix) {
  long unit = 1;
  for (int i = 0; i < places; i++) unit *= 10;
  const long magnitude = value < 0 ? -value : value;
  std::string text = (value < 0 ? "-" : "") + std::to_string(magnitude / unit);
  if (places > 0) {
    const std::string fraction = std::to_string(magnitude % unit);
    text += "." + std::string(static_cast<std::size_t>(places) - fraction.size(), '0') + fraction;
  }
  return text + suffix;
}

// The ways a user may write `value` of `kind`.
std::vector<std::string> notations(ValueKind kind, long value) {
  switch (kind) {
    case ValueKind::kFrequency:
    case ValueKind::kOffset:
    case ValueKind::kSplit:
      return {scaled(value, 0, ""),    scaled(value, 0, "Hz"),
              scaled(value, 3, "kHz"), scaled(value, 6, "M"),
              scaled(value, 9, "GHz"), (value < 0 ? "" : "+") + scaled(value, 3, "k")};
    case ValueKind::kTone:
      return {scaled(value, 1, ""), scaled(value, 1, "Hz")};
    case ValueKind::kDuplex:
    case ValueKind::kByte:
    case ValueKind::kAddress:
      return {std::to_string(value), printed("0x%lx", value), printed("0X%02lX", value)};
    case ValueKind::kHexByte:
      return {printed("%lx", value), printed("0x%02lx", value), printed("%02lX", value)};
    case ValueKind::kMode:
    case ValueKind::kBaud:
      break;
  }
  return {std::to_string(value)};
}

// The range's ends as described ("0 to 999.9 Hz"), read back as values.
std::pair<long, long> describedRange(ValueKind kind) {
  std::string range = common::describeRange(kind);
  const std::size_t to = range.find(" to ");
  require(to != std::string::npos, "the range reads \"LOW to HIGH\"");
  const common::Value low = parseValue(kind, range.substr(0, to));
  std::string high_text = range.substr(to + 4);
  high_text = high_text.substr(0, high_text.find(' '));  // without the unit
  const common::Value high = parseValue(kind, high_text);
  require(low.number && high.number, "the range's ends are values of their kind");
  return {*low.number, *high.number};
}

void check(ValueKind kind, const std::string &text) {
  const common::Value value = parseValue(kind, text);  // an escaping exception aborts the run
  require(value.number.has_value() == value.problem.empty(), "a refusal, and only one, says why");
  if (!value.number) return;
  const auto [low, high] = describedRange(kind);
  require(low <= *value.number && *value.number <= high, "an accepted value is in range");
  for (const std::string &again : notations(kind, *value.number)) {
    const common::Value reread = parseValue(kind, again);
    require(reread.number == value.number, "a re-written value reads back the same");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0) return 0;
  const ValueKind kind = kKinds[data[0] % (sizeof kKinds / sizeof kKinds[0])];
  check(kind, std::string(reinterpret_cast<const char *>(data + 1), size - 1));
  return 0;
}
