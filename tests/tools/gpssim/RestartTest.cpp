#include "receiver/ReceiverCommands.h"
#include "tools/gpssim/SimTestSupport.h"
#include "tools/gpssim/CommandRecogniser.h"
#include "tools/gpssim/CycleSource.h"
#include "tools/gpssim/ReceiverSimulator.h"
#include "tools/gpssim/SimOptions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <set>
#include <vector>

using namespace std::chrono;
using simtest::NewYearsEve;

namespace
{

// SiRF's restart commands, which the simulator obeys without --family.
const std::string kSirfHotStart = RestartCommand(ReceiverFamily::SiRF, RestartKind::Hot).value_or("");
const std::string kSirfWarmStart = RestartCommand(ReceiverFamily::SiRF, RestartKind::Warm).value_or("");
const std::string kSirfColdStart = RestartCommand(ReceiverFamily::SiRF, RestartKind::Cold).value_or("");

constexpr std::string_view kNoSatellites = "$GPGSV,1,1,00*79\r\n";

struct Recognition
{
    const char* name;
    std::string line;
    std::optional<RestartKind> expected;
};

std::vector<Recognition> RecognitionRows()
{
    return {
        {"hot start", std::string(kSirfHotStart), RestartKind::Hot},
        {"warm start", std::string(kSirfWarmStart), RestartKind::Warm},
        {"cold start", std::string(kSirfColdStart), RestartKind::Cold},
        {"other seed values, checksum right",
         FinishSentence("PSRF101,-2686727,-4304282,3851642,75000,86400,1200,12,4"),
         RestartKind::Cold},
        {"wrong checksum", "$PSRF101,0,0,0,96000,497260,921,12,1*2F\r\n", std::nullopt},
        {"lowercase checksum", "$PSRF101,0,0,0,96000,497260,921,12,1*2e\r\n", RestartKind::Hot},
        {"wrong lowercase checksum", "$PSRF101,0,0,0,96000,497260,921,12,1*2f\r\n", std::nullopt},
        {"no checksum", "$PSRF101,0,0,0,96000,497260,921,12,1\r\n", std::nullopt},
        {"bare LF", "$PSRF101,0,0,0,96000,497260,921,12,1*2E\n", std::nullopt},
        {"reset configuration 3", FinishSentence("PSRF101,0,0,0,96000,497260,921,12,3"),
         std::nullopt},
        {"factory reset 8 is not one of ours",
         FinishSentence("PSRF101,0,0,0,96000,497260,921,12,8"), std::nullopt},
        {"empty reset configuration", FinishSentence("PSRF101,0,0,0,96000,497260,921,12,"),
         std::nullopt},
        {"a field that is no number", FinishSentence("PSRF101,0,0,x,96000,497260,921,12,1"),
         std::nullopt},
        {"an empty field", FinishSentence("PSRF101,0,,0,96000,497260,921,12,1"), std::nullopt},
        {"a field missing", FinishSentence("PSRF101,0,0,96000,497260,921,12,1"), std::nullopt},
        {"a field too many", FinishSentence("PSRF101,0,0,0,96000,497260,921,12,1,1"), std::nullopt},
        {"another message id", FinishSentence("PSRF100,0,0,0,96000,497260,921,12,1"), std::nullopt},
        {"an NMEA sentence", "$GPGSA,A,1,,,,,,,,,,,,,,,*1E\r\n", std::nullopt},
    };
}

// The restart commands among the messages.
std::vector<RestartKind> Restarts(const std::vector<ReceivedMessage>& messages)
{
    std::vector<RestartKind> kinds;
    for (const ReceivedMessage& message : messages)
        if (message.restart)
            kinds.push_back(*message.restart);
    return kinds;
}

// One receiver as another program would see it: fed through the recogniser, stepped by a
// fake clock.
struct Receiver
{
    explicit Receiver(std::uint32_t seed, int speedup = 1) : simulator(Config(seed, speedup)) {}
    static SimConfig Config(std::uint32_t seed, int speedup)
    {
        SimConfig config;
        config.seed = seed;
        config.restartSpeedup = speedup;
        return config;
    }
    // Arrives half-way between the last cycle and the next.
    void Send(std::string_view bytes)
    {
        for (const RestartKind kind : Restarts(recogniser.Feed(bytes)))
            simulator.Restart(kind, NewYearsEve() + seconds(second) - milliseconds(500));
    }
    SimCycle Step() { return simulator.Step(NewYearsEve() + seconds(second++)); }

    ReceiverSimulator simulator;
    CommandRecogniser recogniser;
    int second = 0;
};

// What follows a restart: seconds of silence, seconds without fix, seconds without any
// satellite listed, and whether the fix came back within the minute.
struct AfterRestart
{
    int silent = 0;
    int withoutFix = 0;
    int withoutSatellites = 0;
    int untilFix = -1;
    bool bSilenceFirst = true;
};

AfterRestart Observe(Receiver& receiver, int seconds)
{
    AfterRestart seen;
    bool bStillSilent = true;
    for (int i = 0; i < seconds; ++i)
    {
        const SimCycle cycle = receiver.Step();
        if (cycle.state.silent)
        {
            ++seen.silent;
            seen.bSilenceFirst = seen.bSilenceFirst && bStillSilent;
            continue;
        }
        bStillSilent = false;
        if (cycle.state.fixMode == 1)
            ++seen.withoutFix;
        if (cycle.state.satellites.empty())
        {
            ++seen.withoutSatellites;
            EXPECT_NE(std::find(cycle.sentences.begin(), cycle.sentences.end(), kNoSatellites),
                      cycle.sentences.end());
        }
        if (cycle.state.fixMode == 3 && seen.untilFix < 0)
            seen.untilFix = i;
    }
    return seen;
}

} // namespace

TEST(CommandRecogniser, RecognisesExactlyTheThreeRestartCommands)
{
    for (const Recognition& row : RecognitionRows())
    {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(CommandRecogniser::Recognise(row.line), row.expected);
        CommandRecogniser recogniser;
        const std::vector<RestartKind> fed = Restarts(recogniser.Feed(row.line));
        EXPECT_EQ(fed.size(), row.expected ? 1u : 0u);
    }
}

TEST(CommandRecogniser, FindsCommandsInPiecesAndAmongOtherBytes)
{
    const std::string stream =
        std::string("garbage without end of line ") + std::string(kSirfWarmStart) +
        "$GPGGA,1,2,3*00\r\n" + std::string(200, 'z') + "\r\n" +
        std::string(kSirfHotStart) + std::string(kSirfColdStart);
    for (const std::size_t piece : {1u, 8u, 41u, 1000u})
    {
        SCOPED_TRACE("pieces of " + std::to_string(piece));
        CommandRecogniser recogniser;
        std::vector<RestartKind> kinds;
        for (std::size_t at = 0; at < stream.size(); at += piece)
            for (const RestartKind kind :
                 Restarts(recogniser.Feed(std::string_view(stream).substr(at, piece))))
                kinds.push_back(kind);
        EXPECT_EQ(kinds, (std::vector<RestartKind>{RestartKind::Warm, RestartKind::Hot,
                                                   RestartKind::Cold}));
    }
}

TEST(CommandRecogniser, AnOverlongLineIsNoCommandEvenIfItEndsLikeOne)
{
    CommandRecogniser recogniser;
    const std::string padded = std::string(CommandRecogniser::kMaxLine, '0') + "," +
                               std::string(kSirfHotStart).substr(1);
    EXPECT_TRUE(recogniser.Feed("#" + padded).empty());
    EXPECT_EQ(Restarts(recogniser.Feed(kSirfHotStart)).size(), 1u);
}

TEST(Restart, HotStartKeepsTheFixAfterAShortGap)
{
    Receiver receiver(21);
    Observe(receiver, 20);
    receiver.Send(kSirfHotStart);
    const AfterRestart seen = Observe(receiver, 30);
    EXPECT_GE(seen.silent, 1);
    EXPECT_LE(seen.silent, 2);
    EXPECT_TRUE(seen.bSilenceFirst);
    EXPECT_EQ(seen.withoutFix, 0);
    EXPECT_EQ(seen.withoutSatellites, 0);
    EXPECT_EQ(seen.untilFix, seen.silent);
}

TEST(Restart, WarmStartLosesTheFixForHalfAMinuteButKeepsTheSky)
{
    Receiver receiver(22);
    Observe(receiver, 20);
    receiver.Send(kSirfWarmStart);
    const AfterRestart seen = Observe(receiver, 40);
    EXPECT_EQ(seen.silent, 1);
    EXPECT_TRUE(seen.bSilenceFirst);
    EXPECT_GE(seen.withoutFix, 23);
    EXPECT_LE(seen.withoutFix, 35);
    EXPECT_EQ(seen.withoutSatellites, 0);
    EXPECT_EQ(seen.untilFix, seen.silent + seen.withoutFix);
}

TEST(Restart, ColdStartLosesFixAndSatellitesForLongerThenReacquires)
{
    Receiver receiver(23);
    Observe(receiver, 20);
    receiver.Send(kSirfColdStart);
    const AfterRestart seen = Observe(receiver, 70);
    EXPECT_EQ(seen.silent, 2);
    EXPECT_TRUE(seen.bSilenceFirst);
    EXPECT_GE(seen.withoutSatellites, 5);
    EXPECT_LE(seen.withoutSatellites, 11);
    EXPECT_GE(seen.untilFix, 30);
    EXPECT_LE(seen.untilFix, 60);
}

// The first fix after each command on the fake clock, at real and at --fast-restarts speed,
// for twenty seeds: the command arrives half-way through a second and the fix goes out with
// the first cycle after the drawn delay, so the measured time is at most one cycle late.
struct RestartDelay
{
    const char* name;
    std::string_view command;
    double lowest;  // seconds, real speed
    double highest;
    double spread;  // at least this much between the seeds' fastest and slowest
};

TEST(Restart, TimeToFirstFixIsDrawnPerSeedAndFastRestartsDivideItByTen)
{
    const RestartDelay rows[] = {
        {"hot", kSirfHotStart, 1.0, 2.0, 0.0},
        {"warm", kSirfWarmStart, 25.0, 35.0, 5.0},
        {"cold", kSirfColdStart, 30.0, 60.0, 15.0},
    };
    for (const RestartDelay& row : rows)
    {
        SCOPED_TRACE(row.name);
        double fastest = 1e9;
        double slowest = 0.0;
        for (std::uint32_t seed = 1; seed <= 20; ++seed)
        {
            SCOPED_TRACE("seed " + std::to_string(seed));
            double measured[2] = {};
            const int speedups[2] = {1, kFastRestartSpeedup};
            for (int k = 0; k < 2; ++k)
            {
                Receiver receiver(seed, speedups[k]);
                receiver.simulator.ScheduleOutage(1000);
                Observe(receiver, 5);
                receiver.Send(row.command);
                const int untilFix = Observe(receiver, 75).untilFix;
                ASSERT_GE(untilFix, 0);
                measured[k] = untilFix + 0.5;
                EXPECT_GE(measured[k], row.lowest / speedups[k]);
                EXPECT_LT(measured[k], row.highest / speedups[k] + 1.0);
            }
            // The same seed draws the same delay, a tenth of it with fast restarts.
            EXPECT_NEAR(measured[1], measured[0] / kFastRestartSpeedup, 1.1);
            fastest = std::min(fastest, measured[0]);
            slowest = std::max(slowest, measured[0]);
        }
        EXPECT_GE(slowest - fastest, row.spread);
    }
}

TEST(Restart, AMalformedCommandChangesNothing)
{
    for (const Recognition& row : RecognitionRows())
    {
        if (row.expected)
            continue;
        SCOPED_TRACE(row.name);
        Receiver told(31);
        Receiver untold(31);
        for (int second = 0; second < 40; ++second)
        {
            if (second == 10)
                told.Send(row.line);
            ASSERT_EQ(told.Step().sentences, untold.Step().sentences) << "second " << second;
        }
    }
}

TEST(Restart, TheSourcePassesCommandsToItsReceiver)
{
    SimConfig config;
    config.seed = 5;
    auto utc = NewYearsEve();
    GeneratedSource source(config, [&] { return utc; });
    auto now = CycleSource::Clock::time_point{} + hours(1);
    const auto stepOneSecond = [&]
    {
        const auto due = source.NextDue(now);
        now = *due;
        utc += seconds(1);
        return source.Produce();
    };
    EXPECT_NE(stepOneSecond(), "");
    source.OnRestart(RestartKind::Cold);
    EXPECT_EQ(stepOneSecond(), "") << "rebooting";
    EXPECT_EQ(stepOneSecond(), "") << "rebooting for two seconds from the command";
    EXPECT_NE(stepOneSecond(), "");
}

TEST(GeneratedSource, TenCyclesASecondRepeatTheSecondsStateWithTheirOwnTimes)
{
    SimConfig config;
    config.seed = 7;
    config.gnss = true;
    config.baud = 115200;
    config.cyclesPerSecond = 10;
    auto utc = NewYearsEve() + milliseconds(30);
    GeneratedSource source(config, [&] { return utc; });
    auto now = CycleSource::Clock::time_point{} + hours(1);
    std::vector<std::string> times;
    std::vector<std::string> positions;
    std::size_t largest = 0;
    for (int cycle = 0; cycle < 20; ++cycle)
    {
        const auto due = source.NextDue(now);
        ASSERT_TRUE(due);
        utc += *due - now;
        now = *due;
        const std::string bytes = source.Produce();
        largest = std::max(largest, bytes.size());
        const SimCycle& last = source.LastCycle();
        const auto gga = std::find_if(last.sentences.begin(), last.sentences.end(),
                                      [](const std::string& s) { return s.starts_with("$GNGGA,"); });
        ASSERT_NE(gga, last.sentences.end());
        const std::string& fix = *gga; // $GNGGA,hhmmss.sss,lat,N,lon,E,...
        const auto fields = [&](int from, int count)
        {
            std::size_t begin = 0;
            for (int i = 0; i < from; ++i)
                begin = fix.find(',', begin) + 1;
            std::size_t end = begin;
            for (int i = 0; i < count; ++i)
                end = fix.find(',', end) + 1;
            return fix.substr(begin, end - begin);
        };
        times.push_back(fields(1, 1));
        positions.push_back(fields(2, 4));
    }
    // Stamped at each tenth from the next one on, never twice the same.
    EXPECT_EQ(times.front(), "235800.100,");
    EXPECT_EQ(times[9], "235801.000,");
    EXPECT_EQ(std::set<std::string>(times.begin(), times.end()).size(), times.size());
    // The receiver moves once a second: the nine cycles after a whole second repeat it.
    for (int cycle = 10; cycle < 19; ++cycle)
        EXPECT_EQ(positions[cycle], positions[9]) << "cycle " << cycle;
    EXPECT_NE(positions[19], positions[9]);
    // Each cycle keeps to its tenth of the line.
    EXPECT_LE(largest, ReceiverSimulator::LineBudget(115200) / 10);
}
