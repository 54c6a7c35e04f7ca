// RTCM3 corrections sent to the simulated receiver: RTK float after about 10 s of them, fixed
// after 20 s, each with a smaller scatter, and an ordinary fix again 30 s after they stop.
#include "gps/NmeaDecoders.h"
#include "support/Rtcm3Corpus.h"
#include "tools/gpssim/SimTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace std::chrono;
using simtest::NewYearsEve;

namespace
{

std::vector<std::string> CorpusFrames()
{
    return Rtcm3FramesOf(CorpusRtcm3Bytes());
}

double MetresBetween(double lat1, double lon1, double lat2, double lon2)
{
    constexpr double kRad = 3.14159265358979323846 / 180.0;
    const double x = (lon2 - lon1) * kRad * std::cos((lat1 + lat2) / 2.0 * kRad);
    const double y = (lat2 - lat1) * kRad;
    return std::hypot(x, y) * 6371008.8;
}

struct Phase
{
    int from; // simulated seconds, both ends included
    int to;
    int quality;
    RtkState rtk;
    double leastWanderM; // the largest wander of the phase is at least this...
    double mostWanderM;  // ...and at most this
};

// Corrections from second 5 to second 64, every second.
constexpr int kFirstFrame = 5;
constexpr int kLastFrame = 64;
constexpr Phase kPhases[] = {
    {0, 4, 1, RtkState::None, 0.0, 0.0},        // never corrected: the track itself
    {5, 14, 1, RtkState::None, 0.3, 2.2},       // corrected, not yet float: an ordinary wander
    {15, 24, 5, RtkState::Float, 0.02, 0.45},   // 10 s of corrections
    {25, 93, 4, RtkState::Fixed, 0.0, 0.03},    // 20 s, and until 30 s after the last (63.5 s)
    {94, 140, 1, RtkState::None, 0.3, 2.2},     // stopped more than 30 s ago
};

} // namespace

TEST(Corrections, FloatThenFixedWithSmallerScatterAndBackAfterTheyStop)
{
    SimConfig config;
    config.seed = 31;
    ReceiverSimulator corrected(config);
    ReceiverSimulator track(config); // the same life, never corrected
    const std::vector<std::string> frames = CorpusFrames();
    ASSERT_FALSE(frames.empty());

    std::size_t sent = 0;
    std::uint64_t sentBytes = 0;
    for (const Phase& phase : kPhases)
    {
        double largest = 0.0;
        int fixes = 0;
        for (int second = phase.from; second <= phase.to; ++second)
        {
            SCOPED_TRACE("second " + std::to_string(second));
            const auto at = NewYearsEve() + seconds(second);
            if (second >= kFirstFrame && second <= kLastFrame)
            {
                // Each second's frame in two pieces, as a serial line may hand them over.
                const std::string& frame = frames[sent++ % frames.size()];
                corrected.Received(std::string_view(frame).substr(0, 3), at - milliseconds(600));
                corrected.Received(std::string_view(frame).substr(3), at - milliseconds(500));
                sentBytes += frame.size();
            }
            const SimCycle cycle = corrected.Step(at);
            const SimCycle truth = track.Step(at);
            if (cycle.state.fixMode < 2)
                continue;
            GpsData gps{};
            for (const std::string& sentence : cycle.sentences)
                DecodeSentence(sentence, gps);
            EXPECT_EQ(cycle.state.quality, phase.quality);
            EXPECT_EQ(gps.rtk, phase.rtk);
            largest = std::max(largest, MetresBetween(gps.latitude, gps.longitude, truth.state.latitude,
                                                      truth.state.longitude));
            ++fixes;
        }
        SCOPED_TRACE("seconds " + std::to_string(phase.from) + " to " + std::to_string(phase.to));
        ASSERT_GT(fixes, 0);
        EXPECT_LE(largest, phase.mostWanderM + 0.2 * (phase.quality == 1)); // 4 decimals of a minute: 0.2 m
        EXPECT_GE(largest, phase.leastWanderM);
    }
    EXPECT_EQ(corrected.Corrections().Frames(), sent);
    EXPECT_EQ(corrected.Corrections().FrameBytes(), sentBytes);
}

TEST(Corrections, BrokenFramesAreNoCorrections)
{
    SimConfig config;
    ReceiverSimulator simulator(config);
    std::string frame = CorpusFrames().front();
    frame.back() = static_cast<char>(frame.back() ^ 1); // its CRC no longer holds
    for (int second = 0; second < 40; ++second)
    {
        simulator.Received(frame, NewYearsEve() + seconds(second) - milliseconds(500));
        const SimCycle cycle = simulator.Step(NewYearsEve() + seconds(second));
        EXPECT_EQ(cycle.state.quality, 1);
    }
    EXPECT_EQ(simulator.Corrections().Frames(), 0u);
}
