// Checksum, field splitting and field conversion.
#include "gps/NmeaFraming.h"

#include "gps/NmeaTestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace
{

using namespace std::string_literals;

// A u-blox GSA whose XOR is 0x0A: sent as the characters '0' and 'A'.
const std::string kLowChecksumGsa = "$GPGSA,A,3,27,15,09,28,18,08,,,,,,,2.50,1.58,2.20*0A\r\n";
const std::string kUbloxGga =
    "$GPGGA,083723.00,5155.55442,N,00434.65873,E,1,06,2.51,-4.0,M,46.0,M,,*70\r\n";
const std::string kHaicomGsv =
    "$GPGSV,3,3,12,24,58,220,,26,17,053,,29,20,063,,30,60,311,44*7F\r\n";

// ---------------------------------------------------------------------------------------------
// ComputeChecksum

struct ChecksumRow
{
    const char* name;
    std::string line;
    std::uint8_t expected;
};

void PrintTo(const ChecksumRow& row, std::ostream* os)
{
    *os << row.name;
}

class ComputeChecksumTest : public testing::TestWithParam<ChecksumRow>
{
};

TEST_P(ComputeChecksumTest, XorOfBytesBeforeAsterisk)
{
    EXPECT_EQ(ComputeChecksum(GetParam().line), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ComputeChecksumTest,
    testing::Values(
        ChecksumRow{"EmptyLine", "", 0x00},
        ChecksumRow{"OnlyDollar", "$", 0x00},
        ChecksumRow{"UbloxGga", kUbloxGga, 0x70},
        ChecksumRow{"StopsAtFirstAsterisk", "$GPGSA,A,3,27,15,09,28,18,08,,,,,,,2.50,1.58,2.20*0A*FF",
                    0x0A},
        ChecksumRow{"NoAsteriskTakesWholeLine", "$A", 'A'},
        ChecksumRow{"EveryDollarSkipped", "$A$B$", 'A' ^ 'B'},
        ChecksumRow{"BytesBeforeDollarCount", "x$A*", 'x' ^ 'A'}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// IsChecksumValid

struct ValidityRow
{
    const char* name;
    std::string line;
    bool valid;
};

void PrintTo(const ValidityRow& row, std::ostream* os)
{
    *os << row.name;
}

class ChecksumValidityTest : public testing::TestWithParam<ValidityRow>
{
};

TEST_P(ChecksumValidityTest, OnlyTheExactHexInEitherCaseThenCrLf)
{
    EXPECT_EQ(IsChecksumValid(GetParam().line), GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ChecksumValidityTest,
    testing::Values(
        ValidityRow{"RealUbloxGga", kUbloxGga, true},
        ValidityRow{"RealHaicomGsvWithEmptySnr", kHaicomGsv, true},
        ValidityRow{"BelowSixteenWrittenWithLeadingZero", kLowChecksumGsa, true},
        ValidityRow{"BelowSixteenAsSingleDigit",
                    "$GPGSA,A,3,27,15,09,28,18,08,,,,,,,2.50,1.58,2.20*A\r\n", false},
        // Magellan receivers write their checksums in lowercase hex, as gpsd and minmea accept.
        ValidityRow{"LowercaseHex",
                    "$GPGSV,3,3,12,24,58,220,,26,17,053,,29,20,063,,30,60,311,44*7f\r\n", true},
        ValidityRow{"LowercaseHexDigitOfLowChecksum",
                    "$GPGSA,A,3,27,15,09,28,18,08,,,,,,,2.50,1.58,2.20*0a\r\n", true},
        // A byte above 0x7F (a Latin-1 degree sign in a text sentence) makes both digits letters.
        ValidityRow{"MixedCaseHex", "$GPTXT,01,01,02,\xB0 0*eD\r\n", true},
        ValidityRow{"MixedCaseHexOtherWay", "$GPTXT,01,01,02,\xB0 0*Ed\r\n", true},
        ValidityRow{"UppercaseOfTheSameLine", "$GPTXT,01,01,02,\xB0 0*ED\r\n", true},
        ValidityRow{"WrongMixedCaseHex", "$GPTXT,01,01,02,\xB0 0*eE\r\n", false},
        ValidityRow{"WrongLowercaseHex",
                    "$GPGSV,3,3,12,24,58,220,,26,17,053,,29,20,063,,30,60,311,44*7e\r\n", false},
        ValidityRow{"WrongLowercaseHexUpperDigit",
                    "$GPGSA,A,3,27,15,09,28,18,08,,,,,,,2.50,1.58,2.20*1a\r\n", false},
        ValidityRow{"LetterPastF", "$GPGSA,A,3,27,15,09,28,18,08,,,,,,,2.50,1.58,2.20*0g\r\n", false},
        ValidityRow{"BareLineFeed",
                    "$GPGGA,083723.00,5155.55442,N,00434.65873,E,1,06,2.51,-4.0,M,46.0,M,,*70\n",
                    false},
        ValidityRow{"NoLineEnd",
                    "$GPGGA,083723.00,5155.55442,N,00434.65873,E,1,06,2.51,-4.0,M,46.0,M,,*70",
                    false},
        ValidityRow{"CarriageReturnOnly",
                    "$GPGGA,083723.00,5155.55442,N,00434.65873,E,1,06,2.51,-4.0,M,46.0,M,,*70\r",
                    false},
        ValidityRow{"LfCrInsteadOfCrLf",
                    "$GPGGA,083723.00,5155.55442,N,00434.65873,E,1,06,2.51,-4.0,M,46.0,M,,*70\n\r",
                    false},
        // telit-pls83-w ends every sentence so.
        ValidityRow{"ExtraCarriageReturnBeforeLineFeed",
                    "$GPGGA,083723.00,5155.55442,N,00434.65873,E,1,06,2.51,-4.0,M,46.0,M,,*70\r\r\n",
                    true},
        ValidityRow{"SeveralCarriageReturnsBeforeLineFeed",
                    "$GPGGA,083723.00,5155.55442,N,00434.65873,E,1,06,2.51,-4.0,M,46.0,M,,*70\r\r\r\n",
                    true},
        ValidityRow{"CarriageReturnsWithoutLineFeed",
                    "$GPGGA,083723.00,5155.55442,N,00434.65873,E,1,06,2.51,-4.0,M,46.0,M,,*70\r\r",
                    false},
        ValidityRow{"CrLfCrLf",
                    "$GPGGA,083723.00,5155.55442,N,00434.65873,E,1,06,2.51,-4.0,M,46.0,M,,*70\r\n\r\n",
                    false},
        ValidityRow{"SpaceBeforeLineEnd",
                    "$GPGGA,083723.00,5155.55442,N,00434.65873,E,1,06,2.51,-4.0,M,46.0,M,,*70 \r\n",
                    false},
        ValidityRow{"SpaceAfterAsterisk",
                    "$GPGGA,083723.00,5155.55442,N,00434.65873,E,1,06,2.51,-4.0,M,46.0,M,,* 70\r\n",
                    false},
        ValidityRow{"TrailingBytesAfterLineEnd", kUbloxGga + "\r\n", false},
        ValidityRow{"ThreeHexDigits",
                    "$GPGGA,083723.00,5155.55442,N,00434.65873,E,1,06,2.51,-4.0,M,46.0,M,,*070\r\n",
                    false},
        ValidityRow{"WrongDigits",
                    "$GPGGA,083723.00,5155.55442,N,00434.65873,E,1,06,2.51,-4.0,M,46.0,M,,*71\r\n",
                    false},
        ValidityRow{"NoAsterisk", "$GPGGA,083723.00,5155.55442,N,00434.65873,E\r\n", false},
        ValidityRow{"EmptyLine", "", false},
        ValidityRow{"StrayByteBeforeDollar", "x" + kUbloxGga, false},
        ValidityRow{"NulByteBeforeDollarLeavesXorAlone", "\0"s + kUbloxGga, true},
        ValidityRow{"SecondDollarInsideIgnored",
                    "$GPGGA,083723.00,$5155.55442,N,00434.65873,E,1,06,2.51,-4.0,M,46.0,M,,*70\r\n",
                    true},
        ValidityRow{"SecondAsteriskMakesTailLonger", "$GPGSA,A,3,27,15,09,28,18,08,,,,,,,2.50,1.58,2.20*0A*0A\r\n",
                    false},
        ValidityRow{"NoDollarAtAllStillJudgedByXor", kUbloxGga.substr(1), true},
        ValidityRow{"OnlyAsteriskAndZeroChecksum", "*00\r\n", true},
        ValidityRow{"ReceiverWithoutChecksum", "$POLYN,TIME,RESTART_OCCURRED\r\n", false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// SplitFields

struct SplitRow
{
    const char* name;
    std::string text;
    std::vector<std::string> fields;
};

void PrintTo(const SplitRow& row, std::ostream* os)
{
    *os << row.name;
}

class SplitFieldsTest : public testing::TestWithParam<SplitRow>
{
};

TEST_P(SplitFieldsTest, CutsAtEveryCommaKeepingEmptyFields)
{
    EXPECT_EQ(SplitFields(GetParam().text), GetParam().fields);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SplitFieldsTest,
    testing::Values(
        SplitRow{"GsaWithoutSatellitesOrDopsHasEighteenFields",
                 "$GPGSA,A,1,,,,,,,,,,,,,,,*1E\r\n",
                 {"$GPGSA", "A", "1", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
                  "*1E\r\n"}},
        SplitRow{"EmptyText", "", {""}},
        SplitRow{"OnlyComma", ",", {"", ""}},
        SplitRow{"AdjacentAndTrailingCommas", "a,,b,", {"a", "", "b", ""}},
        SplitRow{"NothingTrimmed", " a , b\r\n", {" a ", " b\r\n"}},
        SplitRow{"OnlyCommaSeparates", "a;b.c*d e\tf", {"a;b.c*d e\tf"}},
        SplitRow{"NulBytesAreOrdinary", "a\0b,c"s, {"a\0b"s, "c"}},
        SplitRow{"WholeGsvLineKeepsChecksumOnLastField", kHaicomGsv,
                 {"$GPGSV", "3", "3", "12", "24", "58", "220", "", "26", "17", "053", "", "29", "20",
                  "063", "", "30", "60", "311", "44*7F\r\n"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SplitFieldsCount, GsaWithoutSatellitesHasChecksumOnlyInFieldSeventeen)
{
    const auto fields = SplitFields("$GPGSA,A,1,,,,,,,,,,,,,,,*1E\r\n");
    ASSERT_EQ(fields.size(), 18u);
    for (std::size_t i = 3; i <= 16; ++i)
        EXPECT_TRUE(fields[i].empty()) << "field " << i;
    EXPECT_EQ(fields[17], "*1E\r\n");
}

// ---------------------------------------------------------------------------------------------
// Field conversions: a row's expected value is empty when the text must not convert.

template <typename Number>
struct ConversionRow
{
    const char* name;
    std::string text;
    std::optional<Number> expected;
};

template <typename Number, typename Convert>
std::optional<Number> TryConvert(Convert convert, const std::string& text)
{
    try
    {
        return convert(text);
    }
    catch (const ConversionError&)
    {
        return std::nullopt;
    }
}

template <typename Number>
void PrintTo(const ConversionRow<Number>& row, std::ostream* os)
{
    *os << row.name;
}

using IntRow = ConversionRow<std::int32_t>;
class FieldToIntTest : public testing::TestWithParam<IntRow>
{
};

TEST_P(FieldToIntTest, WholeTextMustBeTheNumber)
{
    EXPECT_EQ(TryConvert<std::int32_t>(FieldToInt, GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FieldToIntTest,
    testing::Values(IntRow{"Plain", "12", 12}, IntRow{"LeadingZero", "08", 8},
                    IntRow{"PlusSign", "+5", 5}, IntRow{"MinusSign", "-12", -12},
                    IntRow{"Largest", "2147483647", 2147483647},
                    IntRow{"Smallest", "-2147483648", -2147483647 - 1},
                    IntRow{"Empty", "", std::nullopt}, IntRow{"LeadingSpace", " 1", std::nullopt},
                    IntRow{"TrailingSpace", "1 ", std::nullopt},
                    IntRow{"Fraction", "1.5", std::nullopt},
                    IntRow{"TooLarge", "2147483648", std::nullopt},
                    IntRow{"Hex", "0x10", std::nullopt}, IntRow{"SignOnly", "-", std::nullopt},
                    IntRow{"TrailingChecksum", "3*1E\r\n", std::nullopt},
                    IntRow{"EmbeddedNul", "1\0"s, std::nullopt},
                    IntRow{"HighByteBeforeDigits", "\xcd" "1234567890", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

using UShortRow = ConversionRow<std::uint16_t>;
class FieldToUShortTest : public testing::TestWithParam<UShortRow>
{
};

TEST_P(FieldToUShortTest, WholeTextMustBeTheNumber)
{
    EXPECT_EQ(TryConvert<std::uint16_t>(FieldToUShort, GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FieldToUShortTest,
    testing::Values(UShortRow{"Plain", "311", 311}, UShortRow{"LeadingZero", "053", 53},
                    UShortRow{"PlusSign", "+7", 7}, UShortRow{"Largest", "65535", 65535},
                    UShortRow{"TooLarge", "65536", std::nullopt},
                    UShortRow{"MinusOneDoesNotWrap", "-1", std::nullopt},
                    UShortRow{"MinusZero", "-0", std::nullopt},
                    UShortRow{"LargeNegativeDoesNotWrap", "-65535", std::nullopt},
                    UShortRow{"Empty", "", std::nullopt},
                    UShortRow{"LeadingSpace", " 44", std::nullopt},
                    UShortRow{"TrailingSpace", "44 ", std::nullopt},
                    UShortRow{"DecimalSnr", "29.0", std::nullopt},
                    UShortRow{"HighByteAfterFiveDigitsNoOverflow", "\xcd" "12345", std::nullopt},
                    UShortRow{"HighByteBetweenDigits", "12\xcd" "345", std::nullopt},
                    UShortRow{"LongRunOfLeadingZeros", "000000000000000000044", 44}),
    [](const auto& info) { return std::string(info.param.name); });

using FloatRow = ConversionRow<float>;
class FieldToFloatTest : public testing::TestWithParam<FloatRow>
{
};

TEST_P(FieldToFloatTest, UsualDecimalFormsOnly)
{
    const auto actual = TryConvert<float>(FieldToFloat, GetParam().text);
    ASSERT_EQ(actual.has_value(), GetParam().expected.has_value());
    if (actual)
    {
        EXPECT_FLOAT_EQ(*actual, *GetParam().expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FieldToFloatTest,
    testing::Values(FloatRow{"Altitude", "545.4", 545.4f}, FloatRow{"Negative", "-4.0", -4.0f},
                    FloatRow{"PlusSign", "+2.5", 2.5f}, FloatRow{"Integer", "00460", 460.0f},
                    FloatRow{"NoLeadingDigit", ".5", 0.5f},
                    FloatRow{"NoFractionDigit", "5.", 5.0f},
                    FloatRow{"Exponent", "1e3", 1000.0f},
                    FloatRow{"SignedExponent", "+.5e-2", 0.005f},
                    FloatRow{"UppercaseExponent", "2.5E1", 25.0f},
                    FloatRow{"Empty", "", std::nullopt},
                    FloatRow{"LeadingSpace", " 1.0", std::nullopt},
                    FloatRow{"TrailingSpace", "1.0 ", std::nullopt},
                    FloatRow{"DecimalComma", "1,5", std::nullopt},
                    FloatRow{"TwoPoints", "1.2.3", std::nullopt},
                    FloatRow{"OnlyPoint", ".", std::nullopt},
                    FloatRow{"DanglingExponent", "1e", std::nullopt},
                    FloatRow{"Suffix", "1.5f", std::nullopt},
                    FloatRow{"NotANumber", "nan", std::nullopt},
                    FloatRow{"Infinity", "inf", std::nullopt},
                    FloatRow{"InfinitySpelledOut", "infinity", std::nullopt},
                    FloatRow{"OutOfRange", "1e40", std::nullopt},
                    FloatRow{"TrailingChecksum", "2.1*39\r\n", std::nullopt},
                    FloatRow{"SignOnly", "-", std::nullopt},
                    FloatRow{"ExponentWithoutDigits", "1e+", std::nullopt},
                    FloatRow{"ExponentWithoutMantissa", "e5", std::nullopt},
                    FloatRow{"HexFloat", "0x1p3", std::nullopt},
                    FloatRow{"HighByteInside", "12\xcd.5", std::nullopt},
                    FloatRow{"UnderflowIsZero", "1e-50", 0.0f}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
