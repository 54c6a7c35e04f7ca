#include "gps/History.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace
{

// A record as a line leaves it: its UTC time of day, or none sent yet.
GpsData At(int hour, int minute, int second, int millisecond = 0, int fixMode = 3)
{
    GpsData gps;
    gps.decode.known = kKnownTime | kKnownPosition;
    gps.hour = hour;
    gps.minute = minute;
    gps.second = second;
    gps.millisecond = millisecond;
    gps.fixMode = fixMode;
    return gps;
}

GpsData WithoutTime()
{
    return GpsData{};
}

struct Step
{
    std::int64_t clockMs;
    GpsData gps;
};

struct SamplingCase
{
    std::string name;
    std::vector<Step> steps;
    std::vector<std::int64_t> axis; // t of every sample kept, oldest first
};

class Sampling : public testing::TestWithParam<SamplingCase>
{
};

TEST_P(Sampling, OneSamplePerSecondOnAnAxisThatNeverGoesBack)
{
    std::int64_t clock = 0;
    History history([&clock] { return clock; });
    for (const Step& step : GetParam().steps)
    {
        clock = step.clockMs;
        history.Add(step.gps);
    }
    std::vector<std::int64_t> axis;
    for (std::size_t i = 0; i < history.Samples().Size(); ++i)
        axis.push_back(history.Samples()[i].t);
    EXPECT_EQ(axis, GetParam().axis);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, Sampling,
    testing::Values(
        // Ten epochs a second are one sample each second.
        SamplingCase{"TenHertzReceiver",
                     {{0, At(12, 0, 0, 0)},
                      {100, At(12, 0, 0, 100)},
                      {900, At(12, 0, 0, 900)},
                      {1000, At(12, 0, 1, 0)},
                      {1500, At(12, 0, 1, 500)},
                      {2000, At(12, 0, 2, 0)}},
                     {0, 1, 2}},
        // A log played back fast: the clock hardly moves, the receiver's seconds do.
        SamplingCase{"FastPlaybackByReceiverSeconds",
                     {{5, At(8, 0, 0)}, {5, At(8, 0, 1)}, {6, At(8, 0, 2)}, {6, At(8, 0, 3)}},
                     {0, 1, 2, 3}},
        SamplingCase{"SilenceKeepsItsLength", {{0, At(8, 0, 0)}, {30000, At(8, 0, 30)}}, {0, 30}},
        SamplingCase{
            "MidnightGoesOn",
            {{0, At(23, 59, 58)}, {1000, At(23, 59, 59)}, {2000, At(0, 0, 0)}, {3000, At(0, 0, 1)}},
            {0, 1, 2, 3}},
        SamplingCase{"LeapSecondBeforeMidnight",
                     {{0, At(23, 59, 59)}, {1000, At(23, 59, 60)}, {2000, At(0, 0, 0)}},
                     {0, 1, 2}},
        // No time sent yet: the clock's seconds.
        SamplingCase{"WithoutTimeByTheClock",
                     {{0, WithoutTime()},
                      {500, WithoutTime()},
                      {1000, WithoutTime()},
                      {1999, WithoutTime()},
                      {2000, WithoutTime()},
                      {5000, WithoutTime()}},
                     {0, 1, 2, 5}},
        // Sentences with empty time fields leave the last time standing: after 3 s the clock takes
        // over from where it stood, and the receiver's time again once it moves.
        SamplingCase{"StalledTimeHandsOverToTheClock",
                     {{0, At(9, 0, 0)},
                      {1000, At(9, 0, 0)},
                      {2000, At(9, 0, 0)},
                      {3000, At(9, 0, 0)},
                      {4000, At(9, 0, 0)},
                      {5000, At(9, 0, 5)},
                      {6000, At(9, 0, 6)}},
                     {0, 3, 4, 5, 6}},
        // A log that starts over goes back hours; the axis goes on by the clock.
        SamplingCase{
            "LogStartingOver",
            {{0, At(12, 0, 0)}, {1000, At(12, 0, 1)}, {2000, At(11, 0, 0)}, {3000, At(11, 0, 1)}},
            {0, 1, 2, 3}}),
    [](const testing::TestParamInfo<SamplingCase>& info) { return info.param.name; });

TEST(History, RingKeepsTheLastFifteenMinutesInFixedRoom)
{
    std::int64_t clock = 0;
    History history([&clock] { return clock; });
    for (int s = 0; s < 2000; ++s)
    {
        clock = s * 1000;
        history.Add(At(s / 3600, s / 60 % 60, s % 60));
    }
    const auto& samples = history.Samples();
    ASSERT_EQ(samples.Size(), History::kSamples);
    EXPECT_EQ(samples.Front().t, 2000 - 900);
    EXPECT_EQ(samples.Back().t, 1999);
    for (std::size_t i = 1; i < samples.Size(); ++i)
        ASSERT_EQ(samples[i].t, samples[i - 1].t + 1) << "at " << i;
}

SatelliteInfo Sat(Talker talker, int prn, int snr, bool used)
{
    SatelliteInfo sat;
    sat.talker = talker;
    sat.prn = static_cast<std::uint16_t>(prn);
    sat.snr = static_cast<std::uint16_t>(snr);
    sat.used = used;
    return sat;
}

TEST(History, SampleCountsEachConstellationAndAveragesTheSignals)
{
    GpsData gps;
    gps.satellites[0] = Sat(Talker::GP, 5, 40, true);
    gps.satellites[1] = Sat(Talker::GP, 7, 30, true);
    gps.satellites[2] = Sat(Talker::GP, 9, 20, false);
    gps.satellites[3] = Sat(Talker::GL, 70, 45, false);
    // Used by the GSA before any GSV gave its C/N0: not a 0 dB-Hz signal.
    gps.satellites[4] = Sat(Talker::GA, 11, 0, true);
    gps.satellites[5] = Sat(Talker::GP, 12, 10, false);
    gps.hdop = 0.9f;
    gps.pdop = 1.7f;
    gps.decode.known = kKnownPdop; // HDOP never sent
    gps.fixMode = 3;

    const HistorySample s = SampleOf(gps);
    auto index = [](GnssSystem system)
    {
        for (std::size_t i = 0; i < kHistorySystems; ++i)
            if (kSystemsInOrder[i] == system)
                return i;
        return kHistorySystems;
    };
    EXPECT_EQ(s.used[index(GnssSystem::Gps)], 2);
    EXPECT_EQ(s.inView[index(GnssSystem::Gps)], 4);
    EXPECT_EQ(s.used[index(GnssSystem::Glonass)], 0);
    EXPECT_EQ(s.inView[index(GnssSystem::Glonass)], 1);
    EXPECT_EQ(s.used[index(GnssSystem::Galileo)], 1);
    EXPECT_FLOAT_EQ(s.snrUsed, 35.0f);
    EXPECT_FLOAT_EQ(s.snrTop4, (45.0f + 40.0f + 30.0f + 20.0f) / 4.0f);
    EXPECT_EQ(s.hdop, 0.0f);
    EXPECT_FLOAT_EQ(s.pdop, 1.7f);
    EXPECT_EQ(s.fixMode, 3);
}

TEST(History, FixLossIsMarkedOncePerCompleteSecondAndRestartsWhereTheyHappen)
{
    std::int64_t clock = 0;
    History history([&clock] { return clock; });
    // Modes of each second's lines; the second's last line is what it ended with.
    const std::vector<std::vector<int>> seconds = {{3}, {3}, {1, 1}, {1}, {3, 1, 3}, {2}, {1}};
    for (std::size_t s = 0; s < seconds.size(); ++s)
    {
        for (int mode : seconds[s])
            history.Add(At(10, 0, static_cast<int>(s), 0, mode));
        if (s == 3)
            history.MarkEvent(HistoryEventKind::ColdStart);
    }
    // The last second's loss is judged when the next one begins.
    history.Add(At(10, 0, 7, 0, 1));
    std::vector<std::pair<std::int64_t, HistoryEventKind>> events;
    for (std::size_t i = 0; i < history.Events().Size(); ++i)
        events.emplace_back(history.Events()[i].t, history.Events()[i].kind);
    EXPECT_EQ(events, (std::vector<std::pair<std::int64_t, HistoryEventKind>>{
                          {2, HistoryEventKind::FixLost},
                          {3, HistoryEventKind::ColdStart},
                          {6, HistoryEventKind::FixLost}}));
}

TEST(History, AccuracyRingTakesFixEpochsForFifteenMinutesUntilReset)
{
    std::int64_t clock = 0;
    History history([&clock] { return clock; });
    GpsData noFix = At(0, 0, 0, 0, 1);
    GpsData unplaced = At(0, 0, 0);
    unplaced.decode.known = kKnownTime;
    history.Add(At(0, 0, 0));
    history.AddEpoch(noFix);
    history.AddEpoch(unplaced);
    EXPECT_TRUE(history.FixPositions().empty());

    for (int s = 0; s < 1000; ++s)
    {
        GpsData epoch = At(0, s / 60, s % 60);
        epoch.latitude = s;
        history.Add(epoch);
        history.AddEpoch(epoch);
    }
    // Positions at t 100 to 999 are inside the window that ends at 999.
    const std::vector<GeoPoint> kept = history.FixPositions();
    ASSERT_EQ(kept.size(), 900u);
    EXPECT_EQ(kept.front().latitude, 100);
    EXPECT_EQ(kept.back().latitude, 999);

    history.ResetFixes();
    EXPECT_TRUE(history.FixPositions().empty());
    EXPECT_EQ(history.Samples().Size(), History::kSamples) << "a reset keeps the timeline";
    // The epoch under way at the reset began where the receiver was before it was moved.
    GpsData before = At(0, 16, 40);
    before.longitude = -1.0;
    history.AddEpoch(before);
    EXPECT_TRUE(history.FixPositions().empty());

    // A fast receiver fills the ring before the window passes: the newest stay.
    for (std::size_t i = 0; i < History::kFixes + 5; ++i)
    {
        GpsData epoch = At(0, 16, 40);
        epoch.longitude = static_cast<double>(i);
        history.AddEpoch(epoch);
    }
    EXPECT_EQ(history.FixPositions().size(), History::kFixes);
    EXPECT_EQ(history.FixPositions().front().longitude, 5.0);
}

} // namespace
