// The time to first fix, from real sentences through the decoder, on a fake monotonic clock.
#include "gps/EpochEnd.h"
#include "gps/NmeaDecoders.h"
#include "gps/TimeToFix.h"
#include "gps/NmeaTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using nmea_test::WithChecksum;
using namespace std::chrono;

namespace
{

struct Event
{
    enum What
    {
        Line,
        Start,
        Cancel,
    } what;
    int atMs; // a line's arrival, or when the search starts or is given up
    std::string line;
    FixSearch kind = FixSearch::Connect;
};

using Events = std::vector<Event>;

Event Command(FixSearch kind, int atMs)
{
    return {Event::Start, atMs, {}, kind};
}

Event Disconnect(int atMs)
{
    return {Event::Cancel, atMs, {}};
}

// One second's GGA, RMC and GSA as a SiRF receiver sends them, 100 ms apart from atMs.
Events Epoch(int second, bool fix, int atMs)
{
    char time[32];
    std::snprintf(time, sizeof time, "12%02d%02d.000", second / 60, second % 60);
    const std::string t(time);
    return {
        {Event::Line, atMs,
         WithChecksum("$GPGGA," + t + (fix ? ",4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"
                                           : ",,,,,0,00,,,M,,M,,"))},
        {Event::Line, atMs + 100,
         WithChecksum("$GPRMC," + t + (fix ? ",A,4807.038,N,01131.000,E,0.0,0.0,311224,,,A"
                                           : ",V,,,,,,,311224,,,N"))},
        {Event::Line, atMs + 200,
         WithChecksum(fix ? std::string("$GPGSA,A,3,04,05,09,12,,,,,,,,,1.8,0.9,1.5")
                          : std::string("$GPGSA,A,1,,,,,,,,,,,,,,,"))},
    };
}

// Epochs of the seconds [from, to], each arriving at its whole second plus `lag` ms.
Events Epochs(int from, int to, bool fix, int lag = 0)
{
    Events events;
    for (int second = from; second <= to; ++second)
        for (Event& e : Epoch(second, fix, second * 1000 + lag))
            events.push_back(std::move(e));
    return events;
}

Events operator+(Events a, const Events& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Events operator+(Events a, const Event& b)
{
    a.push_back(b);
    return a;
}

struct TtffCase
{
    const char* name;
    Events events;
    int nowMs;            // when the text is read
    const char* expected; // the text then
    int foundAtMs;        // arrival of the line that ended the search; -1 none
};

void PrintTo(const TtffCase& c, std::ostream* os)
{
    *os << c.name;
}

class TimeToFixTest : public ::testing::TestWithParam<TtffCase>
{
};

TEST_P(TimeToFixTest, EndsAtTheFirstFixAfterTheStart)
{
    const TtffCase& c = GetParam();
    const auto at = [](int ms) { return TimeToFix::Clock::time_point{} + hours(5) + milliseconds(ms); };
    TimeToFix ttff;
    EpochEnd epochs;
    GpsData gps{};
    int foundAt = -1;
    for (const Event& e : c.events)
    {
        switch (e.what)
        {
        case Event::Start:
            ttff.Start(e.kind, at(e.atMs));
            break;
        case Event::Cancel:
            ttff.Cancel();
            break;
        case Event::Line:
            DecodeSentence(e.line, gps);
            if (ttff.Feed(gps, at(e.atMs), epochs.Feed(e.line, gps).began))
            {
                EXPECT_EQ(foundAt, -1) << "ended twice";
                foundAt = e.atMs;
            }
            break;
        }
    }
    EXPECT_EQ(ttff.Text(at(c.nowMs)), c.expected);
    EXPECT_EQ(foundAt, c.foundAtMs);
    // An ignored command ends the search with no time to first fix.
    EXPECT_EQ(ttff.HasResult(), c.foundAtMs >= 0 && !std::string_view(c.expected).ends_with("ignored by the receiver"));
}

// Restart commands go out at 5.3 s, during or after second 5's epoch (5.0 to 5.2 s).
INSTANTIATE_TEST_SUITE_P(
    Searches, TimeToFixTest,
    ::testing::Values(
        // The last GSA's "no fix" is of an older epoch: the GGA that reports the fix ends it.
        TtffCase{"connect, no fix for three seconds: the fix epoch's GGA ends it",
                 Events{Command(FixSearch::Connect, 0)} + Epochs(0, 2, false, 300) + Epochs(3, 4, true, 300), 9000,
                 "Connected: fix in 3.3 s", 3300},
        TtffCase{"connect to a receiver that has its fix: its first epoch, once it has ended",
                 Events{Command(FixSearch::Connect, 0)} + Epochs(0, 2, true, 400), 9000, "Connected: fix in 0.4 s",
                 1400},
        TtffCase{"hot start: lines in flight keep the old fix, then a second's silence",
                 Epochs(0, 4, true) + Epoch(5, true, 5000)[0] + Command(FixSearch::HotStart, 5050) +
                     Epoch(5, true, 5000)[1] + Epoch(5, true, 5000)[2] + Epochs(7, 9, true),
                 9500, "Hot start: fix in 1.9 s", 8000},
        TtffCase{"hot start re-fixed within a second: the very next epoch counts",
                 Epochs(0, 5, true) + Command(FixSearch::HotStart, 5300) + Epochs(6, 8, true), 9500,
                 "Hot start: fix in 0.7 s", 7000},
        TtffCase{"hot start: lines read before the command but handed over after it are old",
                 Epochs(0, 5, true) + Command(FixSearch::HotStart, 6050) + Epoch(6, true, 6000)[0] +
                     Epoch(6, true, 6000)[1] + Epoch(6, true, 6000)[2] + Epochs(8, 9, true),
                 9500, "Hot start: fix in 1.9 s", 9000},
        TtffCase{"warm start: the decoder's old mode in the first epoch after the reboot is no fix",
                 Epochs(0, 5, true) + Command(FixSearch::WarmStart, 5300) + Epochs(7, 30, false) +
                     Epochs(31, 33, true),
                 40000, "Warm start: fix in 25.7 s", 31000},
        TtffCase{"cold start: the old fix goes on for two epochs and is lost mid-search",
                 Epochs(0, 5, true) + Command(FixSearch::ColdStart, 5300) + Epochs(6, 7, true) +
                     Epochs(8, 40, false) + Epochs(41, 42, true),
                 50000, "Cold start: fix in 35.7 s", 41000},
        TtffCase{"warm start ignored (another family's command): the fix kept for 3 s, no time to first fix",
                 Epochs(0, 5, true) + Command(FixSearch::WarmStart, 5300) + Epochs(6, 10, true), 12000,
                 "Warm start: ignored by the receiver", 9000},
        TtffCase{"cold start ignored: told once the fix has held for 3 s, however long it holds after",
                 Epochs(0, 5, true) + Command(FixSearch::ColdStart, 5300) + Epochs(6, 30, true), 40000,
                 "Cold start: ignored by the receiver", 9000},
        TtffCase{"cold start whose fix goes within 3 s is no ignored one",
                 Epochs(0, 5, true) + Command(FixSearch::ColdStart, 5300) + Epochs(6, 7, true) +
                     Epochs(8, 8, false) + Epochs(9, 9, true),
                 12000, "Cold start: fix in 3.7 s", 9000},
        TtffCase{"warm start right after connecting: a record no mode has reached yet is no loss of fix",
                 Events{Command(FixSearch::Connect, 0), Command(FixSearch::WarmStart, 10),
                        {Event::Line, 100, WithChecksum("$GPGSV,1,1,01,04,45,120,40")}} +
                     Epochs(1, 2, true),
                 2500, "Warm start: searching 2.4 s", -1},
        TtffCase{"cold start, still searching: tenths counted, cut not rounded",
                 Epochs(0, 5, true) + Command(FixSearch::ColdStart, 5300) + Epochs(8, 16, false), 17299,
                 "Cold start: searching 11.9 s", -1},
        TtffCase{"a restart while searching starts the count again",
                 Events{Command(FixSearch::Connect, 0)} + Epochs(0, 2, false) + Command(FixSearch::ColdStart, 2500) +
                     Epochs(3, 40, false) + Epochs(41, 42, true),
                 50000, "Cold start: fix in 38.5 s", 41000},
        TtffCase{"disconnected while searching: no count, and a later fix ends nothing",
                 Epochs(0, 5, true) + Command(FixSearch::ColdStart, 5300) + Epochs(6, 20, false) +
                     Disconnect(20500) + Epochs(21, 23, true),
                 30000, "", -1},
        TtffCase{"disconnected after the fix: the result stays",
                 Events{Command(FixSearch::Connect, 0)} + Epochs(0, 1, false) + Epochs(2, 3, true) + Disconnect(4000),
                 30000, "Connected: fix in 2.0 s", 2000}));

} // namespace
