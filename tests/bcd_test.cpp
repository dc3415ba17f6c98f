// SPDX-License-Identifier: MIT
// Value encoding: BCD byte orders, cut digits, zero, negatives, LONG_MIN, bufrev, quiet tobcdrev.
#include <climits>
#include <string>
#include <tuple>
#include <utility>

#include "kit.h"

namespace {

// The field starts full of EE (so a missing zero fill shows) and sits between two guard bytes.
TEST(Bcd, EncodersWriteOnlyTheirFieldInTheirByteOrder) {
  // Value, field length, what tobcd writes, what tobcdrev writes.
  const std::tuple<long, int, const char *, const char *> cases[] = {
      {123, 2, "01 23", "23 01"},
      {5, 5, "00 00 00 00 05", "05 00 00 00 00"},
      {1234567890, 5, "12 34 56 78 90", "90 78 56 34 12"},
      {345, 1, "45", "45"},  // digits that do not fit are dropped from the top
      {12345678901L, 5, "23 45 67 89 01", "01 89 67 45 23"},
      {0, 2, "00 00", "00 00"},
      {-123, 2, "01 23", "23 01"},  // a negative value gives the digits of its magnitude
      {LONG_MIN, 10, "09 22 33 72 03 68 54 77 58 08", "08 58 77 54 68 03 72 33 22 09"},
      {123, 0, "", ""},
      {123, -1, "", ""},
  };
  for (const auto &[value, buflen, big, little] : cases) {
    const std::pair<void (*)(long, unsigned char *, int), const char *> orders[] = {
        {tobcd, big}, {tobcdrev, little}};
    for (const auto &[encoder, want] : orders) {
      SCOPED_TRACE(std::to_string(value) + " in " + std::to_string(buflen) + ": " + want);
      Bytes field(hex(want).size() + 2, 0xEE);
      encoder(value, field.data() + 1, buflen);
      EXPECT_EQ(field, hex(std::string("EE ") + want + " EE"));
    }
  }
}

TEST(Bcd, BufrevReversesInPlaceLeavingAMiddleByte) {
  const std::tuple<const char *, int, const char *> cases[] = {{"01 02 03 04", 4, "04 03 02 01"},
                                                               {"01 02 03", 3, "03 02 01"},
                                                               {"01 02", 1, "01 02"},
                                                               {"01 02", 0, "01 02"}};
  for (const auto &[before, buflen, after] : cases) {
    Bytes bytes = hex(before);
    bufrev(bytes.data(), buflen);
    EXPECT_EQ(bytes, hex(after)) << before << " / " << buflen;
  }
  bufrev(nullptr, 4);  // no buffer: nothing is touched, and nothing crashes
}

}  // namespace
