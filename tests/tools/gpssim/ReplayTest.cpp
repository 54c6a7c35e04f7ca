#include "tools/gpssim/CycleSource.h"
#include "tools/gpssim/LinePacer.h"
#include "support/Files.h"
#include "support/Nmea.h"
#include "support/TempFolder.h"
#include "tools/gpssim/ReplayLog.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace std::chrono;
using Clock = CycleSource::Clock;

namespace
{

const char* const kCaptures[] = {
    "gp-320fw-2019-04-07-coldboot.nmea",
    "gpslim236.nmea",
    "haicom-305N.nmea",
    "holux-gm-210.nmea",
    "mtk-3301.nmea",
    "neo-m8n.nmea",
    "nl402u.nmea",
    "sirfstarv-nmea.nmea",
    "ublox-lea-5h.nmea",
};

std::string ReadCapture(const std::string& name)
{
    return ReadFile(std::filesystem::path(ORVANE_CORPUS_DIR) / name);
}

std::vector<std::string> ReplayedLines(const ReplayLog& log)
{
    std::vector<std::string> lines;
    for (const ReplayCycle& cycle : log.Cycles())
        lines.insert(lines.end(), cycle.lines.begin(), cycle.lines.end());
    return lines;
}

// A line as it reached the reader, with the moment its LF arrived.
struct Arrival
{
    std::string line;
    Clock::time_point at;
};

// Runs the session's scheduling (source, pacer) on a fake clock in 1 ms steps.
std::vector<Arrival> ReplayOnFakeClock(ReplaySource& source, int baud, Clock::time_point start,
                                       milliseconds length)
{
    LinePacer pacer(baud);
    std::vector<Arrival> arrivals;
    std::string partial;
    for (auto now = start; now < start + length; now += milliseconds(1))
    {
        std::optional<Clock::time_point> due;
        while ((due = source.NextDue(now)) && *due <= now)
            pacer.Enqueue(source.Produce(), *due);
        const std::size_t count = pacer.DueCount(now);
        for (const char c : pacer.Pending().substr(0, count))
        {
            partial.push_back(c);
            if (c == '\n')
            {
                arrivals.push_back({partial, now});
                partial.clear();
            }
        }
        pacer.Consume(count);
        if (!due && pacer.Empty())
            break;
    }
    return arrivals;
}

} // namespace

TEST(SentenceTime, ReadsTheTimeOfEveryTalkerAndTimedSentence)
{
    const struct
    {
        const char* line;
        std::optional<double> seconds;
    } rows[] = {
        {"$GPGGA,185244.000,4854.2575,N,00219.9816,E,1,05,1.7,124.4,M,47.3,M,,0000*56\r\n",
         18 * 3600 + 52 * 60 + 44.0},
        {"$GPRMC,095255.810,V,2712.6404,S,15303.1201,E,0.00,0.00,080407,,,A*6E\r\n",
         9 * 3600 + 52 * 60 + 55.81},
        {"$GNRMC,020935.000,A,4404.1351,N,12118.8556,W,0.04,359.11,050219,,,A*6C\r\n",
         2 * 3600 + 9 * 60 + 35.0},
        {"$GLGGA,020935.000,4404.1351,N,12118.8556,W,1,02,0.9,1123.9,M,-19.6,M,,0000*48\r\n",
         2 * 3600 + 9 * 60 + 35.0},
        {"$GPGLL,4808.9993,N,01135.0798,E,000343.03,A,A*60\r\n", 3 * 60 + 43.03},
        {"$GPGGA,000343.03,4808.9993,N,01135.0798,E,1,04,01.4,00460.0,M,0046.2,M,,*56\r\n",
         3 * 60 + 43.03},
        {"text before $GPGGA,185244.000,4854.2575,N,00219.9816,E,1,05,1.7,124.4,M,47.3,M,,0000*56",
         std::nullopt},
        {"$GPGGA,185244.000,4854.2575,N,00219.9816,E,1,05,1.7,124.4,M,47.3,M,,0000*57\r\n",
         std::nullopt},
        {"$GPGGA,,,,,,0,00,,,M,,M,,0000*66\r\n", std::nullopt},
        {"$GPVTG,296.61,T,,M,0.00,N,0.0,K,A*07\r\n", std::nullopt},
        {"$GPGSA,A,3,14,01,30,06,09,,,,,,,,2.8,1.7,2.2*36\r\n", std::nullopt},
        {"# 185244.000\r\n", std::nullopt},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.line);
        const std::optional<double> time = SentenceTime(row.line);
        ASSERT_EQ(time.has_value(), row.seconds.has_value());
        if (time)
        {
            EXPECT_NEAR(*time, *row.seconds, 1e-6);
        }
    }
}

TEST(ReplayLog, EveryCaptureReplaysByteForByteWithoutItsCommentsAtAPlausiblePace)
{
    for (const char* name : kCaptures)
    {
        SCOPED_TRACE(name);
        const std::string content = ReadCapture(name);
        ASSERT_FALSE(content.empty());
        ReplayLog log;
        log.Parse(content);
        const std::vector<std::string> replayed = ReplayedLines(log);
        EXPECT_EQ(replayed, DataLines(content));
        for (const std::string& line : replayed)
            EXPECT_NE(line.front(), '#');
        ASSERT_GE(log.Cycles().size(), 5u);
        EXPECT_EQ(log.Cycles().front().offset, 0.0);
        for (std::size_t i = 1; i < log.Cycles().size(); ++i)
        {
            const double step = log.Cycles()[i].offset - log.Cycles()[i - 1].offset;
            EXPECT_GT(step, 0.0) << "cycle " << i;
            EXPECT_LE(step, ReplayLog::kLongestGap) << "cycle " << i;
        }
    }
}

TEST(ReplayLog, CyclesFollowTheRecordedTimes)
{
    ReplayLog log;
    log.Parse(ReadCapture("gpslim236.nmea"));
    // 185244 to 185318 with a sentence every second: one cycle per second.
    const auto& cycles = log.Cycles();
    ASSERT_GT(cycles.size(), 10u);
    EXPECT_EQ(cycles[0].lines.size(), 7u) << "GGA, GSA, three GSV, RMC, VTG";
    for (std::size_t i = 0; i < cycles.size(); ++i)
    {
        ASSERT_TRUE(cycles[i].time);
        EXPECT_NEAR(*cycles[i].time - *cycles[0].time, cycles[i].offset, 1e-9);
        EXPECT_EQ(cycles[i].offset, static_cast<double>(i));
    }

    log.Parse(ReadCapture("haicom-305N.nmea"));
    // RMC 095255.810 with the leading GSV, then GGA 095257.809: a gap of 1.999 s kept.
    ASSERT_GE(log.Cycles().size(), 2u);
    EXPECT_EQ(log.Cycles()[0].lines.size(), 3u);
    EXPECT_NEAR(log.Cycles()[1].offset, 1.999, 1e-9);
}

TEST(ReplayLog, TimesMissingOrOddFallBackToOneCyclePerSecond)
{
    const struct
    {
        const char* name;
        std::string content;
        std::vector<double> offsets;
        std::vector<std::size_t> sizes;
    } rows[] = {
        {"untimed: a cycle ends where its first sentence comes again",
         WithChecksum("$GPGSA,A,1,,,,,,,,,,,,,,") + WithChecksum("$GPGSV,1,1,00") +
             WithChecksum("$GPGSA,A,1,,,,,,,,,,,,,,") + WithChecksum("$GPGSV,1,1,00") +
             WithChecksum("$GPGSA,A,1,,,,,,,,,,,,,,"),
         {0.0, 1.0, 2.0},
         {2, 2, 1}},
        {"past midnight",
         WithChecksum("$GPGGA,235959.000,,,,,0,00,,,M,,M,,0000") +
             WithChecksum("$GPGGA,000000.000,,,,,0,00,,,M,,M,,0000"),
         {0.0, 1.0},
         {1, 1}},
        {"half-second receiver",
         WithChecksum("$GPRMC,120000.000,A,,,,,,,010120,,,A") +
             WithChecksum("$GPRMC,120000.500,A,,,,,,,010120,,,A"),
         {0.0, 0.5},
         {1, 1}},
        {"time going backwards",
         WithChecksum("$GPGGA,120010.000,,,,,0,00,,,M,,M,,0000") +
             WithChecksum("$GPGGA,120000.000,,,,,0,00,,,M,,M,,0000"),
         {0.0, 1.0},
         {1, 1}},
        {"a gap of an hour",
         WithChecksum("$GPGGA,120000.000,,,,,0,00,,,M,,M,,0000") +
             WithChecksum("$GPGGA,130000.000,,,,,0,00,,,M,,M,,0000"),
         {0.0, 1.0},
         {1, 1}},
        {"a gap of five seconds kept",
         WithChecksum("$GPGGA,120000.000,,,,,0,00,,,M,,M,,0000") +
             WithChecksum("$GPGGA,120005.000,,,,,0,00,,,M,,M,,0000"),
         {0.0, 5.0},
         {1, 1}},
        {"comments and a last line without LF",
         "# header\r\n" + WithChecksum("$GPGGA,120000.000,,,,,0,00,,,M,,M,,0000") + "# between\n" +
             WithChecksum("$GPGGA,120001.000,,,,,0,00,,,M,,M,,0000") + "$GPGGA,1200",
         {0.0, 1.0},
         {1, 2}},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        ReplayLog log;
        log.Parse(row.content);
        ASSERT_EQ(log.Cycles().size(), row.offsets.size());
        for (std::size_t i = 0; i < row.offsets.size(); ++i)
        {
            EXPECT_NEAR(log.Cycles()[i].offset, row.offsets[i], 1e-9) << "cycle " << i;
            EXPECT_EQ(log.Cycles()[i].lines.size(), row.sizes[i]) << "cycle " << i;
        }
        EXPECT_NEAR(log.Period(), row.offsets.back() + 1.0, 1e-9);
        EXPECT_NEAR(log.Offset(2, 0), 2 * log.Period(), 1e-9);
    }
}

TEST(ReplayLog, LoadReportsMissingAndEmptyFiles)
{
    const TempFolder temp;
    ASSERT_FALSE(temp.Path().empty());
    const std::filesystem::path& folder = temp.Path();
    std::string error;
    ReplayLog log;
    EXPECT_FALSE(log.Load((folder / "absent.nmea").string(), error));
    EXPECT_NE(error.find("absent.nmea"), std::string::npos);
    std::ofstream(folder / "comments.nmea") << "# only a header\n# and more\n";
    EXPECT_FALSE(log.Load((folder / "comments.nmea").string(), error));
    EXPECT_TRUE(log.Load(std::string(ORVANE_CORPUS_DIR) + "/nl402u.nmea", error)) << error;
}

TEST(ReplaySource, CorpusLinesArriveInOrderAtTheRecordedPace)
{
    const std::string content = ReadCapture("haicom-305N.nmea");
    ReplayLog log;
    log.Parse(content);
    const ReplayLog copy = log;
    ReplaySource source(std::move(log), false);
    const int baud = 38400;
    const Clock::time_point start = Clock::time_point{} + hours(5);
    const std::vector<Arrival> arrivals = ReplayOnFakeClock(source, baud, start, minutes(10));

    std::vector<std::string> received;
    for (const Arrival& arrival : arrivals)
        received.push_back(arrival.line);
    EXPECT_EQ(received, DataLines(content));

    // The first line of each cycle arrives when its cycle is due plus its own time on the wire
    // (to the millisecond of the fake clock); the last cycle ends the replay.
    LinePacer wire(baud);
    std::size_t index = 0;
    for (const ReplayCycle& cycle : copy.Cycles())
    {
        const auto expected = start +
                              duration_cast<Clock::duration>(duration<double>(cycle.offset)) +
                              wire.LineTime(cycle.lines.front().size());
        ASSERT_LT(index, arrivals.size());
        EXPECT_GE(arrivals[index].at, expected);
        EXPECT_LT(arrivals[index].at, expected + milliseconds(1));
        index += cycle.lines.size();
    }
    EXPECT_FALSE(source.NextDue(start + hours(1)).has_value());
}

TEST(ReplaySource, LoopsFromTheTopOnePeriodLater)
{
    ReplayLog log;
    log.Parse(ReadCapture("gpslim236.nmea"));
    const std::size_t lines = log.LineCount();
    const double period = log.Period();
    ReplaySource source(std::move(log), true);
    const Clock::time_point start = Clock::time_point{} + hours(5);
    const std::vector<Arrival> arrivals = ReplayOnFakeClock(
        source, 115200, start, duration_cast<milliseconds>(duration<double>(2 * period + 0.5)));
    ASSERT_GE(arrivals.size(), 2 * lines + 1);
    EXPECT_EQ(arrivals[lines].line, arrivals[0].line);
    EXPECT_EQ(arrivals[2 * lines].line, arrivals[0].line);
    const auto firstPassToSecond = duration<double>(arrivals[lines].at - arrivals[0].at).count();
    EXPECT_NEAR(firstPassToSecond, period, 0.002);
    EXPECT_EQ(source.Pass(), 2u);
}
