// SPDX-License-Identifier: MIT
// radioctl's value parsers: suffixes, decimals, refused rounding, ranges and hex forms.
#include "values.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

using radioctl::parseValue;
using radioctl::ValueKind;

struct Accepted {
  const char *name;
  ValueKind kind;
  const char *text;
  long number;
};

struct Refused {
  const char *name;
  ValueKind kind;
  const char *text;
  const char *problem;
};

void PrintTo(const Accepted &value, std::ostream *out) {
  *out << '"' << value.text << '"';
}
void PrintTo(const Refused &value, std::ostream *out) {
  *out << '"' << value.text << '"';
}

class ValueIsAccepted : public ::testing::TestWithParam<Accepted> {};
class ValueIsRefused : public ::testing::TestWithParam<Refused> {};

TEST_P(ValueIsAccepted, AsTheNumberTheLibraryTakes) {
  const radioctl::Value value = parseValue(GetParam().kind, GetParam().text);
  ASSERT_TRUE(value.number.has_value()) << value.problem;
  EXPECT_EQ(*value.number, GetParam().number);
  EXPECT_EQ(value.problem, "");
}

TEST_P(ValueIsRefused, WithAPhraseSayingWhy) {
  const radioctl::Value value = parseValue(GetParam().kind, GetParam().text);
  EXPECT_FALSE(value.number.has_value());
  EXPECT_EQ(value.problem, GetParam().problem);
}

template <typename Case>
std::string caseName(const ::testing::TestParamInfo<Case> &info) {
  return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(
    radioctl, ValueIsAccepted,
    ::testing::Values(
        Accepted{"FrequencyInPlainHertz", ValueKind::kFrequency, "145500000", 145500000},
        Accepted{"FrequencyWithKiloSuffix", ValueKind::kFrequency, "145500k", 145500000},
        Accepted{"FrequencyWithMegaSuffixAndDecimals", ValueKind::kFrequency, "145.5M", 145500000},
        Accepted{"FrequencyWithGigaSuffix", ValueKind::kFrequency, "1.2G", 1200000000},
        Accepted{"FrequencyWithHertzUnit", ValueKind::kFrequency, "145.5MHz", 145500000},
        Accepted{"FrequencyWithTrailingZeroDecimals", ValueKind::kFrequency, "145.5000000M",
                 145500000},
        Accepted{"FrequencyOfTenDigits", ValueKind::kFrequency, "9999999999", 9999999999L},
        Accepted{"FrequencyOfZero", ValueKind::kFrequency, "0", 0},
        Accepted{"OffsetNegativeWithSuffix", ValueKind::kOffset, "-600k", -600000},
        Accepted{"OffsetNegativeWithDecimals", ValueKind::kOffset, "-0.6M", -600000},
        Accepted{"OffsetSmallestOfThirtyTwoBits", ValueKind::kOffset, "-2147483648", -2147483648L},
        Accepted{"ToneWithOneDecimal", ValueKind::kTone, "88.5", 885},
        Accepted{"ToneWithoutDecimals", ValueKind::kTone, "100", 1000},
        Accepted{"ToneHighest", ValueKind::kTone, "999.9", 9999},
        Accepted{"ModeZero", ValueKind::kMode, "0", 0},
        Accepted{"ModeNinetyNine", ValueKind::kMode, "99", 99},
        Accepted{"DuplexInHex", ValueKind::kDuplex, "0x11", 17},
        Accepted{"ByteInDecimal", ValueKind::kByte, "255", 255},
        Accepted{"ByteInUpperCaseHex", ValueKind::kByte, "0XFF", 255},
        Accepted{"HexByteBare", ValueKind::kHexByte, "1f", 31},
        Accepted{"HexBytePrefixed", ValueKind::kHexByte, "0x1F", 31},
        Accepted{"AddressInHex", ValueKind::kAddress, "0x20", 32},
        Accepted{"AddressHighest", ValueKind::kAddress, "252", 252},
        Accepted{"BaudRate", ValueKind::kBaud, "19200", 19200}),
    caseName<Accepted>);

INSTANTIATE_TEST_SUITE_P(
    radioctl, ValueIsRefused,
    ::testing::Values(
        Refused{"FrequencyWithLetters", ValueKind::kFrequency, "12x", "is not a frequency in Hz"},
        Refused{"FrequencyEmpty", ValueKind::kFrequency, "", "is not a frequency in Hz"},
        Refused{"FrequencyWithTwoPoints", ValueKind::kFrequency, "1.2.3",
                "is not a frequency in Hz"},
        Refused{"FrequencyOfASuffixAlone", ValueKind::kFrequency, "M", "is not a frequency in Hz"},
        Refused{"FrequencyInExponentNotation", ValueKind::kFrequency, "1e6",
                "is not a frequency in Hz"},
        Refused{"FrequencyWithMilliSuffix", ValueKind::kFrequency, "145m",
                "is not a frequency in Hz"},
        Refused{"FrequencyFinerThanAHertz", ValueKind::kFrequency, "145.0000005M",
                "is finer than 1 Hz"},
        Refused{"FrequencyNegative", ValueKind::kFrequency, "-1",
                "is out of range (0 to 9999999999 Hz)"},
        Refused{"FrequencyOfElevenDigits", ValueKind::kFrequency, "10000000000",
                "is out of range (0 to 9999999999 Hz)"},
        Refused{"FrequencyTooLongForAnyInteger", ValueKind::kFrequency,
                "99999999999999999999999999M", "is out of range (0 to 9999999999 Hz)"},
        Refused{"OffsetBeyondThirtyTwoBits", ValueKind::kOffset, "2147483648",
                "is out of range (-2147483648 to 2147483647 Hz)"},
        Refused{"ToneWithHundredths", ValueKind::kTone, "88.55", "is finer than 0.1 Hz"},
        Refused{"ToneAboveRange", ValueKind::kTone, "1000", "is out of range (0.0 to 999.9 Hz)"},
        Refused{"ToneWithMultiplier", ValueKind::kTone, "1k", "is not a tone in Hz"},
        Refused{"ModeOfAHundred", ValueKind::kMode, "100", "is out of range (0 to 99)"},
        Refused{"ModeInHex", ValueKind::kMode, "0x10", "is not a mode number"},
        Refused{"ByteAboveRange", ValueKind::kByte, "256", "is out of range (0 to 255)"},
        Refused{"ByteInHexAboveRange", ValueKind::kByte, "0x100", "is out of range (0 to 255)"},
        Refused{"ByteNegative", ValueKind::kByte, "-1", "is not a byte"},
        Refused{"HexByteOfThreeDigits", ValueKind::kHexByte, "1ff", "is out of range (00 to ff)"},
        Refused{"HexByteWithABadDigit", ValueKind::kHexByte, "g1", "is not a hex byte"},
        Refused{"AddressReserved", ValueKind::kAddress, "0xfd", "is out of range (0 to 252)"},
        Refused{"AddressPrefixAlone", ValueKind::kAddress, "0x", "is not a bus address"},
        Refused{"BaudZero", ValueKind::kBaud, "0", "is out of range (1 to 4000000)"}),
    caseName<Refused>);

}  // namespace
