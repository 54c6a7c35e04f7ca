// The time to first fix, from the stream's UTC; the rest of the summary is held against worked
// streams and the corpus through orvane-nmea (tests/nmea).
#include "gps/FixSummary.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace
{

// One epoch as the detector hands it on: its UTC (date 0 for none) and mode.
struct Epoch
{
    int date; // yyyymmdd
    int time; // hhmmss
    int millisecond;
    int mode;
};

GpsData Record(const Epoch& e)
{
    GpsData gps{};
    gps.year = e.date / 10000;
    gps.month = e.date / 100 % 100;
    gps.day = e.date % 100;
    gps.hour = e.time / 10000;
    gps.minute = e.time / 100 % 100;
    gps.second = e.time % 100;
    gps.millisecond = e.millisecond;
    gps.fixMode = e.mode;
    if (e.time >= 0)
        gps.decode.known |= kKnownTime;
    return gps;
}

struct TtffCase
{
    std::string name;
    std::vector<Epoch> epochs;
    std::optional<double> ttff;
};

class TtffTest : public testing::TestWithParam<TtffCase>
{
};

TEST_P(TtffTest, StreamUtcFromFirstEpochToFirstFix)
{
    FixSummary summary;
    for (const Epoch& e : GetParam().epochs)
        summary.Add(Record(e));
    const auto ttff = summary.TimeToFirstFix();
    ASSERT_EQ(ttff.has_value(), GetParam().ttff.has_value());
    if (ttff)
    {
        EXPECT_NEAR(*ttff, *GetParam().ttff, 1e-9);
    }
}

constexpr int kNoTime = -1;

INSTANTIATE_TEST_SUITE_P(
    HandWorked, TtffTest,
    testing::Values(
        TtffCase{"WithMilliseconds",
                 {{20261209, 120000, 0, 1}, {20261209, 120005, 500, 1}, {20261209, 120009, 250, 2}},
                 9.25},
        TtffCase{"FixFromTheStart", {{20261209, 120000, 0, 3}, {20261209, 120001, 0, 3}}, 0.0},
        TtffCase{"LaterFixesDoNotCount",
                 {{20261209, 120000, 0, 1},
                  {20261209, 120002, 0, 3},
                  {20261209, 120003, 0, 1},
                  {20261209, 120004, 0, 3}},
                 2.0},
        TtffCase{"MidnightWithDate", {{20261231, 235958, 0, 1}, {20270101, 3, 0, 3}}, 5.0},
        TtffCase{"MidnightWithoutDate", {{0, 235958, 0, 1}, {0, 235959, 0, 1}, {0, 3, 0, 2}}, 5.0},
        // The date turns up with the first fix's RMC: the time of day alone carries the step.
        TtffCase{"DateArrivesAfterMidnight", {{0, 235959, 0, 1}, {20270101, 1, 0, 3}}, 2.0},
        TtffCase{"EpochsBeforeAnyTimeDoNotCount",
                 {{0, kNoTime, 0, 1},
                  {0, kNoTime, 0, 1},
                  {20261209, 100000, 0, 1},
                  {20261209, 100002, 0, 3}},
                 2.0},
        TtffCase{"NoFix", {{20261209, 120000, 0, 1}, {20261209, 120001, 0, 0}}, std::nullopt},
        // mtk-3301 at power-up: a 1980 default date until the satellites give it 2008.
        TtffCase{"ClockSetOnTheWay",
                 {{19800105, 235950, 4, 1}, {20080823, 81434, 590, 1}, {20080823, 81436, 0, 3}},
                 std::nullopt},
        TtffCase{"ClockStepsBack", {{0, 120010, 0, 1}, {0, 120000, 0, 3}}, std::nullopt},
        // A step after the first fix changes nothing.
        TtffCase{"StepAfterTheFix",
                 {{20261209, 120000, 0, 1}, {20261209, 120004, 0, 3}, {19800106, 0, 0, 3}},
                 4.0}),
    [](const testing::TestParamInfo<TtffCase>& info) { return info.param.name; });

} // namespace
