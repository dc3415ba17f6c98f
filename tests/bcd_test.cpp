// SPDX-License-Identifier: MIT
// Value encoding: tobcd, tobcdrev and bufrev byte orders, truncation, zero,
// negative values, LONG_MIN, tobcd's trace lines and silence without debug.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "pty_radio.h"
#include "radioline.h"

namespace {

// Encodes `value` into a fresh field of `buflen` bytes with `encoder`; the
// field sits between two guard bytes that must stay 0xEE.
Bytes encoded(void (*encoder)(long, unsigned char *, int), long value, int buflen) {
  std::vector<unsigned char> field(static_cast<size_t>(buflen) + 2, 0xEE);
  encoder(value, field.data() + 1, buflen);
  EXPECT_EQ(field.front(), 0xEE) << "wrote before the field";
  EXPECT_EQ(field.back(), 0xEE) << "wrote past the field";
  return Bytes(field.begin() + 1, field.end() - 1);
}

Bytes big(long value, int buflen) {
  return encoded(tobcd, value, buflen);
}
Bytes little(long value, int buflen) {
  return encoded(tobcdrev, value, buflen);
}

// "%p" of `p`, as the trace prints it.
std::string ptr(const void *p) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", p);
  return text;
}

class BcdTest : public ::testing::Test {
 protected:
  void TearDown() override { debug = 0; }
};

TEST_F(BcdTest, BigEndianPutsTheMostSignificantByteFirst) {
  EXPECT_EQ(big(123, 2), hex("01 23"));
  EXPECT_EQ(big(885, 2), hex("08 85"));
  EXPECT_EQ(big(7, 1), hex("07"));
  EXPECT_EQ(big(12, 1), hex("12"));
  EXPECT_EQ(big(1234567890, 5), hex("12 34 56 78 90"));
}

TEST_F(BcdTest, LittleEndianPutsTheLeastSignificantByteFirst) {
  EXPECT_EQ(little(123, 2), hex("23 01"));
  EXPECT_EQ(little(5, 5), hex("05 00 00 00 00"));
  EXPECT_EQ(little(1234567890, 5), hex("90 78 56 34 12"));
}

TEST_F(BcdTest, DropsDigitsThatDoNotFitFromTheTop) {
  EXPECT_EQ(big(345, 1), hex("45"));
  EXPECT_EQ(little(345, 1), hex("45"));
  EXPECT_EQ(big(12345678901L, 5), hex("23 45 67 89 01"));
  EXPECT_EQ(little(12345678901L, 5), hex("01 89 67 45 23"));
}

TEST_F(BcdTest, PadsLeadingPositionsWithZeros) {
  EXPECT_EQ(big(5, 3), hex("00 00 05"));
  EXPECT_EQ(little(5, 3), hex("05 00 00"));
}

TEST_F(BcdTest, ZeroGivesAnAllZeroField) {
  EXPECT_EQ(big(0, 2), hex("00 00"));
  EXPECT_EQ(little(0, 2), hex("00 00"));
}

TEST_F(BcdTest, OverwritesWhateverTheFieldHeld) {
  unsigned char field[2] = {0x99, 0x99};
  tobcd(1, field, 2);
  EXPECT_EQ(Bytes(field, field + 2), hex("00 01"));
}

TEST_F(BcdTest, NegativeValueEncodesTheDigitsOfItsMagnitude) {
  EXPECT_EQ(big(-123, 2), hex("01 23"));
  EXPECT_EQ(little(-123, 2), hex("23 01"));
  EXPECT_EQ(big(-7, 1), hex("07"));
}

TEST_F(BcdTest, MostNegativeLongDoesNotOverflow) {
  // LONG_MIN is -9223372036854775808: nineteen digits.
  ASSERT_EQ(LONG_MIN, -9223372036854775807L - 1);
  EXPECT_EQ(big(LONG_MIN, 10), hex("09 22 33 72 03 68 54 77 58 08"));
  EXPECT_EQ(little(LONG_MIN, 10), hex("08 58 77 54 68 03 72 33 22 09"));
  EXPECT_EQ(big(LONG_MIN, 2), hex("58 08"));
  EXPECT_EQ(big(LONG_MAX, 10), hex("09 22 33 72 03 68 54 77 58 07"));
}

TEST_F(BcdTest, EmptyFieldIsLeftAlone) {
  unsigned char guard[2] = {0x5A, 0x5A};
  tobcd(123, guard, 0);
  tobcdrev(123, guard, 0);
  tobcd(123, guard, -1);
  EXPECT_EQ(Bytes(guard, guard + 2), hex("5A 5A"));
}

TEST_F(BcdTest, BufrevReversesEvenAndOddLengths) {
  Bytes even = hex("01 02 03 04");
  bufrev(even.data(), 4);
  EXPECT_EQ(even, hex("04 03 02 01"));
  Bytes odd = hex("01 02 03");
  bufrev(odd.data(), 3);
  EXPECT_EQ(odd, hex("03 02 01"));
}

TEST_F(BcdTest, BufrevLeavesZeroAndOneByteAlone) {
  Bytes one = hex("01 02");
  bufrev(one.data(), 1);
  EXPECT_EQ(one, hex("01 02"));
  bufrev(one.data(), 0);
  EXPECT_EQ(one, hex("01 02"));
}

TEST_F(BcdTest, TobcdTracesEveryDigit) {
  debug = 1;
  unsigned char field[2] = {};
  const std::string o0 = ptr(field);
  const std::string o1 = ptr(field + 1);
  const std::string got = stderr_of([&] { tobcd(123, field, 2); });
  EXPECT_EQ(got, "tobcd: o " + o0 +
                     "\n"
                     "tobcd: value 123\n"
                     "tobcd: rem 3\n"
                     "tobcd: after oddeven shift oddeven 1 rem 03\n"
                     "tobcd: after mask rem 03\n"
                     "tobcd: after insert o " +
                     o0 +
                     " *o 03\n"
                     "tobcd: after div10 value 12\n"
                     "tobcd: value 12\n"
                     "tobcd: rem 2\n"
                     "tobcd: after oddeven shift oddeven 0 rem 20\n"
                     "tobcd: after mask rem 20\n"
                     "tobcd: after insert o " +
                     o0 +
                     " *o 23\n"
                     "tobcd: after recycling oddeven o " +
                     o1 +
                     "\n"
                     "tobcd: after div10 value 1\n"
                     "tobcd: value 1\n"
                     "tobcd: rem 1\n"
                     "tobcd: after oddeven shift oddeven 1 rem 01\n"
                     "tobcd: after mask rem 01\n"
                     "tobcd: after insert o " +
                     o1 +
                     " *o 01\n"
                     "tobcd: after div10 value 0\n");
  EXPECT_EQ(Bytes(field, field + 2), hex("01 23"));
}

TEST_F(BcdTest, TobcdTracesAFullFieldEvenWhenTheDigitsFitExactly) {
  debug = 1;
  unsigned char field[1] = {};
  const std::string o0 = ptr(field);
  const std::string o1 = ptr(field + 1);
  const std::string got = stderr_of([&] { tobcd(12, field, 1); });
  EXPECT_EQ(got, "tobcd: o " + o0 +
                     "\n"
                     "tobcd: value 12\n"
                     "tobcd: rem 2\n"
                     "tobcd: after oddeven shift oddeven 1 rem 02\n"
                     "tobcd: after mask rem 02\n"
                     "tobcd: after insert o " +
                     o0 +
                     " *o 02\n"
                     "tobcd: after div10 value 1\n"
                     "tobcd: value 1\n"
                     "tobcd: rem 1\n"
                     "tobcd: after oddeven shift oddeven 0 rem 10\n"
                     "tobcd: after mask rem 10\n"
                     "tobcd: after insert o " +
                     o0 +
                     " *o 12\n"
                     "tobcd: after recycling oddeven o " +
                     o1 +
                     "\n"
                     "tobcd: no more room in outbuf\n");
}

TEST_F(BcdTest, TobcdOfZeroTracesOnlyTheField) {
  debug = 1;
  unsigned char field[2] = {};
  const std::string got = stderr_of([&] { tobcd(0, field, 2); });
  EXPECT_EQ(got, "tobcd: o " + ptr(field) + "\n");
}

TEST_F(BcdTest, TobcdrevAndBufrevWriteNoTraces) {
  debug = 1;
  unsigned char field[5] = {};
  const std::string got = stderr_of([&] {
    tobcdrev(1234567890, field, 5);
    bufrev(field, 5);
  });
  EXPECT_EQ(got, "");
}

TEST_F(BcdTest, TobcdIsSilentWithoutDebug) {
  unsigned char field[2] = {};
  EXPECT_EQ(stderr_of([&] { tobcd(123, field, 2); }), "");
}

}  // namespace
