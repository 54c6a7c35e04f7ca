#include "gps/TimeOfDay.h"
#include "gps/NmeaDecoders.h"

#include "support/Nmea.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace
{

// ---- Reading hhmmss.sss ---------------------------------------------------------------------

struct ParseCase
{
    const char* name;
    const char* field;
    std::int64_t ms; // -1: malformed
};

class TimeField : public testing::TestWithParam<ParseCase>
{
};

TEST_P(TimeField, ReadsTheTimeOrRefusesTheField)
{
    const std::optional<TimeOfDay> time = TimeOfDay::Parse(GetParam().field);
    if (GetParam().ms < 0)
    {
        EXPECT_FALSE(time) << time->Ms();
        return;
    }
    ASSERT_TRUE(time);
    EXPECT_EQ(time->Ms(), GetParam().ms);
    // Its parts say the same time again.
    const std::optional<TimeOfDay> again =
        TimeOfDay::FromParts(time->Hour(), time->Minute(), time->Second(), time->Millisecond());
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, *time);
}

constexpr std::int64_t kH = 3'600'000;
constexpr std::int64_t kM = 60'000;
constexpr std::int64_t kS = 1000;

INSTANTIATE_TEST_SUITE_P(
    TimeOfDay, TimeField,
    testing::Values(
        ParseCase{"Midnight", "000000", 0},
        ParseCase{"WholeSeconds", "123519", 12 * kH + 35 * kM + 19 * kS},
        ParseCase{"Centiseconds", "083723.00", 8 * kH + 37 * kM + 23 * kS},
        ParseCase{"TenthAtTenHertz", "120000.1", 12 * kH + 100},
        ParseCase{"TwoTenthsAtTenHertz", "120000.20", 12 * kH + 200},
        ParseCase{"TwentiethAtTwentyHertz", "120000.05", 12 * kH + 50},
        ParseCase{"Milliseconds", "235959.999", 24 * kH - 1},
        ParseCase{"DigitsPastTheMillisecondAreCut", "120000.12345", 12 * kH + 123},
        ParseCase{"PointWithoutFraction", "120000.", 12 * kH},
        ParseCase{"LeapSecond", "235960", 24 * kH},
        ParseCase{"LeapSecondFraction", "235960.500", 24 * kH + 500},
        ParseCase{"Empty", "", -1},
        ParseCase{"TooShort", "12000", -1},
        ParseCase{"LetterInTheSeconds", "12000a", -1},
        ParseCase{"SignedHour", "+10000", -1},
        ParseCase{"SpaceInside", "12 000", -1},
        ParseCase{"NoPointBeforeTheFraction", "1200001", -1},
        ParseCase{"CommaForAPoint", "120000,5", -1},
        ParseCase{"LetterInTheFraction", "120000.1x", -1},
        ParseCase{"Hour24", "240000", -1},
        ParseCase{"Minute60", "126000", -1},
        ParseCase{"Second61", "235961", -1},
        ParseCase{"SixtyBeforeTheDaysLastMinute", "120060", -1}),
    [](const testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

// ---- Steps between two times ------------------------------------------------------------------

struct StepCase
{
    const char* name;
    const char* from;
    const char* to;
    std::int64_t ms;
};

class TimeStep : public testing::TestWithParam<StepCase>
{
};

TEST_P(TimeStep, TakesTheShorterWayRoundTheClock)
{
    const std::optional<TimeOfDay> from = TimeOfDay::Parse(GetParam().from);
    const std::optional<TimeOfDay> to = TimeOfDay::Parse(GetParam().to);
    ASSERT_TRUE(from && to);
    EXPECT_EQ(StepMs(*from, *to), GetParam().ms);
}

INSTANTIATE_TEST_SUITE_P(
    TimeOfDay, TimeStep,
    testing::Values(
        StepCase{"Same", "120000.10", "120000.10", 0},
        StepCase{"OneSecond", "120000", "120001", kS},
        StepCase{"TenHertz", "120000.1", "120000.2", 100},
        StepCase{"TwentyHertz", "120000.00", "120000.05", 50},
        StepCase{"TenHertzAcrossASecond", "120000.9", "120001.0", 100},
        StepCase{"MidnightForward", "235959", "000000", kS},
        StepCase{"MidnightForwardAtTenHertz", "235959.9", "000000.0", 100},
        StepCase{"MidnightBackwardIsAStepBack", "000001", "235959", -2 * kS},
        StepCase{"IntoTheLeapSecond", "235959", "235960", kS},
        StepCase{"OutOfTheLeapSecond", "235960", "000000", kS},
        StepCase{"HalfwayThroughTheLeapSecond", "235960.5", "000000.5", kS},
        StepCase{"BackIntoTheLeapSecond", "000000", "235960", -kS},
        StepCase{"SmallStepBack", "120010", "120000", -10 * kS},
        StepCase{"TwelveHoursForward", "000000", "120000", 12 * kH},
        StepCase{"TwelveHoursBack", "120000", "000000", -12 * kH},
        StepCase{"MoreThanTwelveHoursBackIsTheNextDay", "180000", "050000", 11 * kH},
        StepCase{"MoreThanTwelveHoursForwardIsTheDayBefore", "010000", "230000", -2 * kH}),
    [](const testing::TestParamInfo<StepCase>& info) { return std::string(info.param.name); });

// ---- The sentences that carry a time -----------------------------------------------------------

struct SentenceCase
{
    const char* name;
    std::string line;
    std::int64_t ms; // -1: none
};

class SentenceTime : public testing::TestWithParam<SentenceCase>
{
};

TEST_P(SentenceTime, FindsTheTimeFieldOfEachSentence)
{
    const std::optional<TimeOfDay> time = SentenceTimeOfDay(GetParam().line);
    EXPECT_EQ(time ? time->Ms() : -1, GetParam().ms);
}

INSTANTIATE_TEST_SUITE_P(
    TimeOfDay, SentenceTime,
    testing::Values(
        SentenceCase{"Gga", WithChecksum("$GNGGA,120001.20,4807.038,N,01131.000,E,1,08,0.9,545.4,M,,,,"), 12 * kH + kS + 200},
        SentenceCase{"Gll", WithChecksum("$GPGLL,4807.038,N,01131.000,E,235960,A,A"), 24 * kH},
        SentenceCase{"Zda", WithChecksum("$GPZDA,000000.00,01,01,2017,00,00"), 0},
        SentenceCase{"Gst", WithChecksum("$GPGST,120002,1.1,,,,1.0,1.0,2.0"), 12 * kH + 2 * kS},
        SentenceCase{"GsaHasNone", WithChecksum("$GPGSA,A,3,04,05,,,,,,,,,,,2.5,1.3,2.1"), -1},
        SentenceCase{"EmptyTime", WithChecksum("$GPGGA,,,,,,0,,,,,,,,"), -1},
        SentenceCase{"MalformedTime", WithChecksum("$GPRMC,12000a,V,,,,,,,010120,,,N"), -1}),
    [](const testing::TestParamInfo<SentenceCase>& info) { return std::string(info.param.name); });

// The decoder reads a time by the same rule: a malformed time ends the sentence there, and
// what it stored before stays.
TEST(TimeOfDay, TheDecoderStoresWhatTheFieldSays)
{
    GpsData gps;
    DecodeSentence(WithChecksum("$GPGGA,235960.50,4807.038,N,01131.000,E,1,08,0.9,545.4,M,,,,"), gps);
    EXPECT_EQ(gps.hour, 23);
    EXPECT_EQ(gps.minute, 59);
    EXPECT_EQ(gps.second, 60);
    EXPECT_EQ(gps.millisecond, 500);
    ASSERT_TRUE(UtcTimeOfDay(gps));
    EXPECT_EQ(UtcTimeOfDay(gps)->Ms(), 24 * kH + 500);

    DecodeSentence(WithChecksum("$GPGGA,126000,4900.000,N,01131.000,E,1,08,0.9,545.4,M,,,,"), gps);
    EXPECT_EQ(gps.second, 60);
    EXPECT_DOUBLE_EQ(gps.latitude, 48.1173);
}

} // namespace
