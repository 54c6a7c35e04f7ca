#include "gps/NmeaDecoders.h"
#include "gps/NmeaFraming.h"
#include "gps/UbxDecoders.h"
#include "tools/gpssim/SimTestSupport.h"
#include "tools/gpssim/ReceiverSimulator.h"
#include "tools/gpssim/SimUbx.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <set>

using namespace std::chrono;
using simtest::NewYearsEve;

namespace
{

double AngleBetween(double a, double b)
{
    const double d = std::fmod(std::fabs(a - b), 360.0);
    return std::min(d, 360.0 - d);
}

// Distance in metres on a sphere, plenty for steps of one second.
double Distance(double lat1, double lon1, double lat2, double lon2)
{
    constexpr double kRad = 3.14159265358979323846 / 180.0;
    const double x = (lon2 - lon1) * kRad * std::cos((lat1 + lat2) / 2.0 * kRad);
    const double y = (lat2 - lat1) * kRad;
    return std::sqrt(x * x + y * y) * 6371000.0;
}

std::string Kind(const std::string& sentence)
{
    return sentence.substr(3, 3);
}

// One field against a shape: '9' a digit, '+' one or more digits, '~' an optional minus,
// anything else itself; alternatives separated by '|'.
bool MatchesShape(std::string_view field, std::string_view shapes)
{
    for (;;)
    {
        const std::string_view shape = shapes.substr(0, shapes.find('|'));
        std::size_t at = 0;
        bool bMatch = true;
        for (const char c : shape)
        {
            const auto digit = [&]
            { return at < field.size() && std::isdigit(static_cast<unsigned char>(field[at])); };
            if (c == '9' || c == '+')
            {
                bMatch = bMatch && digit();
                ++at;
                while (c == '+' && digit())
                    ++at;
            }
            else if (c == '~')
            {
                at += at < field.size() && field[at] == '-' ? 1 : 0;
            }
            else
            {
                bMatch = bMatch && at < field.size() && field[at] == c;
                ++at;
            }
        }
        if (bMatch && at == field.size())
            return true;
        if (shape.size() == shapes.size())
            return false;
        shapes.remove_prefix(shape.size() + 1);
    }
}

// The text before the checksum, field by field, against a layout of shapes.
bool MatchesLayout(const std::string& sentence, const std::string& layout)
{
    const std::vector<NmeaField> fields = SplitFields(sentence.substr(0, sentence.find('*')));
    const std::vector<NmeaField> shapes = SplitFields(layout);
    if (fields.size() != shapes.size())
        return false;
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (!MatchesShape(fields[i], shapes[i]))
            return false;
    return true;
}

// Compares the record after a whole cycle has been decoded with what the receiver meant.
// `before` is the record before the cycle: receivers send GSA ahead of GSV, so the used flags
// land on the slots as the previous cycle's GSV left them.
void ExpectDecodedState(const GpsData& gps, const GpsData& before, const SimState& state,
                        int second)
{
    SCOPED_TRACE("simulated second " + std::to_string(second));
    const auto day = floor<days>(state.utc);
    const hh_mm_ss clock{state.utc - day};
    const year_month_day date{day};
    EXPECT_EQ(gps.hour, clock.hours().count());
    EXPECT_EQ(gps.minute, clock.minutes().count());
    EXPECT_EQ(gps.second, clock.seconds().count());
    EXPECT_EQ(gps.day, static_cast<int>(static_cast<unsigned>(date.day())));
    EXPECT_EQ(gps.month, static_cast<int>(static_cast<unsigned>(date.month())));
    EXPECT_EQ(gps.year, static_cast<int>(date.year()));
    EXPECT_EQ(gps.fixMode, state.fixMode);

    if (state.fixMode > 1)
    {
        EXPECT_NEAR(gps.latitude, state.latitude, 2e-5);
        EXPECT_NEAR(gps.longitude, state.longitude, 2e-5);
        EXPECT_NEAR(gps.altitude, state.altitude, 0.01);
        EXPECT_NEAR(gps.speed, state.speedKnots, 0.006);
        EXPECT_LT(AngleBetween(gps.course, state.course), 0.006);
        EXPECT_NEAR(gps.hdop, state.hdop, 1e-4);
        EXPECT_NEAR(gps.pdop, state.pdop, 1e-4);
    }
    else
    {
        // A GGA without position sets it to 0.0.
        EXPECT_EQ(gps.latitude, 0.0f);
        EXPECT_EQ(gps.longitude, 0.0f);
    }

    if (state.satellites.empty())
    {
        for (const SatelliteInfo& slot : gps.satellites)
        {
            EXPECT_EQ(slot.prn, 0);
            EXPECT_FALSE(slot.used);
        }
        return;
    }
    ASSERT_GE(state.satellites.size(), 8u);
    ASSERT_LE(state.satellites.size(), 12u);
    std::set<std::uint16_t> usedPrns;
    for (const SimSatellite& satellite : state.satellites)
        if (satellite.used)
            usedPrns.insert(satellite.prn);
    std::set<std::uint16_t> marked;
    for (std::size_t i = 0; i < kSatelliteSlots; ++i)
    {
        const SatelliteInfo& slot = gps.satellites[i];
        const std::uint16_t prnBefore = before.satellites[i].prn;
        const bool bMarked =
            prnBefore != 0 && usedPrns.count(prnBefore) && marked.insert(prnBefore).second;
        EXPECT_EQ(slot.used, bMarked) << "slot " << i;
        if (i >= state.satellites.size())
            continue;
        const SimSatellite& meant = state.satellites[i];
        EXPECT_EQ(slot.prn, meant.prn) << "slot " << i;
        EXPECT_EQ(slot.elevation, meant.elevation) << "slot " << i;
        EXPECT_EQ(slot.azimuth, meant.azimuth) << "slot " << i;
        // An untracked satellite is sent with an empty signal field: 0, not the slot's old value.
        EXPECT_EQ(slot.snr, meant.snr) << "slot " << i;
        if (prnBefore == meant.prn)
        {
            EXPECT_EQ(slot.used, meant.used) << "slot " << i;
        }
    }
}

} // namespace

TEST(ReceiverSimulator, EverySentenceDecodesIntoTheStateMeantOverMinutesWithLostFixesAndAColdStart)
{
    SimConfig config;
    config.seed = 2024;
    ReceiverSimulator simulator(config);
    GpsData gps{};
    int lostFixes = 0;
    int recoveries = 0;
    int withoutSatelliteList = 0;
    int previousMode = 0;
    const int kColdStartAt = 420;

    for (int second = 0; second < 720; ++second)
    {
        if (second == kColdStartAt)
            simulator.Restart(RestartKind::Cold, NewYearsEve() + seconds(second) - milliseconds(500));
        const SimCycle cycle = simulator.Step(NewYearsEve() + seconds(second));
        EXPECT_EQ(cycle.droppedSentences, 0u) << "4800 baud has room for a whole cycle";
        const GpsData before = gps;
        for (const std::string& sentence : cycle.sentences)
        {
            ASSERT_TRUE(IsChecksumValid(sentence)) << sentence;
            ASSERT_LE(sentence.size(), 82u) << "NMEA's longest sentence: " << sentence;
            DecodeSentence(sentence, gps);
        }
        if (cycle.state.silent)
        {
            EXPECT_TRUE(cycle.sentences.empty());
            continue;
        }
        ExpectDecodedState(gps, before, cycle.state, second);
        if (previousMode == 3 && cycle.state.fixMode == 1 && second < kColdStartAt)
            ++lostFixes;
        if (previousMode == 1 && cycle.state.fixMode == 3)
            ++recoveries;
        withoutSatelliteList += cycle.state.satellites.empty() ? 1 : 0;
        previousMode = cycle.state.fixMode;
    }
    EXPECT_GE(lostFixes, 1);
    EXPECT_GE(recoveries, 2) << "each lost fix and the cold start end in a fix again";
    EXPECT_GE(withoutSatelliteList, 5) << "the cold start forgets the satellites for a while";
    EXPECT_EQ(previousMode, 3) << "reacquired by the end";
}

// --gnss: GN fixes and four skies, each decoded into its own satellites with their used flags,
// every second, through lost fixes and a cold start.
TEST(ReceiverSimulator, GnssSkyDecodesPerConstellationEverySecond)
{
    SimConfig config;
    config.seed = 77;
    config.gnss = true;
    config.baud = 38400;
    ReceiverSimulator simulator(config);
    GpsData gps{};
    int fewest = 99;
    int most = 0;
    std::set<std::string> talkers;
    for (int second = 0; second < 400; ++second)
    {
        if (second == 250)
            simulator.Restart(RestartKind::Cold, NewYearsEve() + seconds(second) - milliseconds(500));
        const SimCycle cycle = simulator.Step(NewYearsEve() + seconds(second));
        EXPECT_EQ(cycle.droppedSentences, 0u) << "38400 baud has room for a whole cycle";
        for (const std::string& sentence : cycle.sentences)
        {
            ASSERT_TRUE(IsChecksumValid(sentence)) << sentence;
            ASSERT_LE(sentence.size(), 82u) << sentence;
            talkers.insert(sentence.substr(1, 5));
            DecodeSentence(sentence, gps);
        }
        if (cycle.state.silent)
            continue;
        SCOPED_TRACE("second " + std::to_string(second));
        EXPECT_EQ(gps.fixMode, cycle.state.fixMode);
        if (cycle.state.fixMode > 1)
        {
            EXPECT_NEAR(gps.latitude, cycle.state.latitude, 2e-5);
            EXPECT_NEAR(gps.longitude, cycle.state.longitude, 2e-5);
            EXPECT_NEAR(gps.pdop, cycle.state.pdop, 1e-4);
        }
        std::map<std::pair<Talker, int>, SimSatellite> meant;
        for (const SimSatellite& s : cycle.state.satellites)
            meant[{s.talker, s.prn}] = s;
        std::map<std::pair<Talker, int>, SatelliteInfo> decoded;
        for (const SatelliteInfo& s : gps.satellites)
        {
            if (s.prn != 0)
            {
                EXPECT_TRUE(decoded.emplace(std::pair{s.talker, int{s.prn}}, s).second) << "listed twice";
            }
        }
        ASSERT_EQ(decoded.size(), meant.size());
        for (const auto& [key, sat] : meant)
        {
            const auto it = decoded.find(key);
            ASSERT_NE(it, decoded.end()) << TalkerName(key.first) << " " << key.second;
            EXPECT_EQ(it->second.elevation, sat.elevation);
            EXPECT_EQ(it->second.azimuth, sat.azimuth);
            EXPECT_EQ(it->second.snr, sat.snr);
            EXPECT_EQ(it->second.used, sat.used) << TalkerName(key.first) << " " << key.second;
        }
        if (!meant.empty())
        {
            fewest = std::min(fewest, static_cast<int>(meant.size()));
            most = std::max(most, static_cast<int>(meant.size()));
        }
    }
    EXPECT_GE(fewest, 20);
    EXPECT_LE(most, 40);
    EXPECT_EQ(talkers, (std::set<std::string>{"GNGGA", "GNGSA", "GNRMC", "GPGSV", "GLGSV", "GAGSV", "GBGSV"}));
}

TEST(ReceiverSimulator, SentencesHaveTheFieldLayoutsOfRealReceivers)
{
    std::string gsaWithFix = "$GPGSA,A,2|3";
    for (int i = 0; i < 12; ++i)
        gsaWithFix += ",99|";
    gsaWithFix += ",+.9,+.9,+.9";
    std::vector<std::string> gsv;
    for (std::string layout = "$GPGSV,1|2|3,1|2|3,99"; gsv.size() < 4;)
        gsv.push_back(layout += ",99,99,999,99|");
    std::vector<std::string> gsvWithoutFix = gsv;
    gsvWithoutFix.push_back("$GPGSV,1,1,00");

    const std::map<std::string, std::vector<std::string>> withFix = {
        {"GGA", {"$GPGGA,999999.999,9999.9999,N|S,99999.9999,E|W,1,99,+.9,~+.9,M,~+.9,M,,0000"}},
        {"GSA", {gsaWithFix}},
        {"GSV", gsv},
        {"RMC", {"$GPRMC,999999.999,A,9999.9999,N|S,99999.9999,E|W,+.99,+.99,999999,,,A"}},
    };
    // The layouts tell real sentences from near misses.
    const std::string gga = withFix.at("GGA").front();
    EXPECT_TRUE(MatchesLayout(
        "$GPGGA,123519.000,4807.0380,N,01131.0000,E,1,08,1.0,-5.4,M,47.0,M,,0000*00\r\n", gga));
    EXPECT_FALSE(MatchesLayout(
        "$GPGGA,12351.000,4807.0380,N,01131.0000,E,1,08,1.0,545.4,M,47.0,M,,0000*00\r\n", gga));
    EXPECT_FALSE(MatchesLayout(
        "$GPGGA,123519.000,4807.0380,X,01131.0000,E,1,08,1.0,545.4,M,47.0,M,,0000*00\r\n", gga));
    EXPECT_FALSE(MatchesLayout(
        "$GPGGA,123519.000,4807.0380,N,01131.0000,E,1,08,1.0,545.4,M,47.0,M,0000*00\r\n", gga));

    const std::map<std::string, std::vector<std::string>> withoutFix = {
        {"GGA", {"$GPGGA,999999.999,,,,,0,00,,,M,,M,,0000"}},
        {"GSA", {"$GPGSA,A,1,,,,,,,,,,,,,,,"}},
        {"GSV", gsvWithoutFix},
        {"RMC", {"$GPRMC,999999.999,V,,,,,,,999999,,,N"}},
    };

    SimConfig config;
    config.seed = 7;
    ReceiverSimulator simulator(config);
    simulator.ScheduleOutage(20);
    std::set<std::string> seen;
    for (int second = 0; second < 120; ++second)
    {
        if (second == 60)
            simulator.Restart(RestartKind::Cold, NewYearsEve() + seconds(second) - milliseconds(500));
        const SimCycle cycle = simulator.Step(NewYearsEve() + seconds(second));
        const auto& layouts = cycle.state.fixMode > 1 ? withFix : withoutFix;
        for (const std::string& sentence : cycle.sentences)
        {
            const std::string kind = Kind(sentence);
            ASSERT_TRUE(layouts.count(kind)) << sentence;
            EXPECT_TRUE(IsChecksumValid(sentence)) << sentence;
            const auto& candidates = layouts.at(kind);
            EXPECT_TRUE(std::any_of(candidates.begin(), candidates.end(),
                                    [&](const std::string& layout)
                                    { return MatchesLayout(sentence, layout); }))
                << sentence;
            seen.insert(kind + (cycle.state.fixMode > 1 ? "+fix" : "-fix"));
        }
        if (!cycle.state.silent)
        {
            // SiRF order: GGA, GSA, the GSV messages, RMC.
            ASSERT_GE(cycle.sentences.size(), 4u);
            EXPECT_EQ(Kind(cycle.sentences.front()), "GGA");
            EXPECT_EQ(Kind(cycle.sentences[1]), "GSA");
            EXPECT_EQ(Kind(cycle.sentences.back()), "RMC");
        }
    }
    EXPECT_EQ(seen.size(), 8u) << "every sentence seen with and without a fix";
}

TEST(ReceiverSimulator, TheSameSeedGivesTheSameStreamAndAnotherSeedAnother)
{
    SimConfig config;
    config.seed = 99;
    ReceiverSimulator first(config);
    ReceiverSimulator second(config);
    config.seed = 100;
    ReceiverSimulator other(config);
    std::string a;
    std::string b;
    std::string c;
    for (int i = 0; i < 300; ++i)
    {
        const auto utc = NewYearsEve() + seconds(i);
        a += simtest::Joined(first.Step(utc).sentences);
        b += simtest::Joined(second.Step(utc).sentences);
        c += simtest::Joined(other.Step(utc).sentences);
    }
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
}

TEST(ReceiverSimulator, StartsAtTheChosenPositionInEveryQuarterOfTheWorld)
{
    const struct
    {
        const char* name;
        double latitude;
        double longitude;
        std::string hemispheres;
    } rows[] = {
        {"north east", 48.1173, 11.5167, "NE"},       {"south east", -27.2107, 153.052, "SE"},
        {"north west", 44.0689, -121.3143, "NW"},     {"south west", -34.6037, -58.3816, "SW"},
        {"near the date line", 10.0, 179.9999, "NE"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        SimConfig config;
        config.startLatitude = row.latitude;
        config.startLongitude = row.longitude;
        ReceiverSimulator simulator(config);
        const SimCycle cycle = simulator.Step(NewYearsEve());
        EXPECT_LT(
            Distance(cycle.state.latitude, cycle.state.longitude, row.latitude, row.longitude),
            50.0);
        GpsData gps{};
        for (const std::string& sentence : cycle.sentences)
            DecodeSentence(sentence, gps);
        EXPECT_NEAR(gps.latitude, row.latitude, 1e-3);
        EXPECT_LT(AngleBetween(gps.longitude, row.longitude), 1e-3);
        const std::string& gga = cycle.sentences.front();
        EXPECT_NE(gga.find(std::string(",") + row.hemispheres[0] + ","), std::string::npos) << gga;
        EXPECT_NE(gga.find(std::string(",") + row.hemispheres[1] + ","), std::string::npos) << gga;
    }
}

TEST(ReceiverSimulator, MovesAlongARouteAtRealisticSpeedWithCourseAndAltitudeChanging)
{
    SimConfig config;
    config.seed = 3;
    ReceiverSimulator simulator(config);
    const std::vector<SimCycle> cycles = simtest::Run(simulator, NewYearsEve(), 900);
    double travelled = 0.0;
    double lowestAltitude = 1e9;
    double highestAltitude = -1e9;
    std::set<int> courseSectors;
    for (std::size_t i = 1; i < cycles.size(); ++i)
    {
        const SimState& before = cycles[i - 1].state;
        const SimState& now = cycles[i].state;
        const double step =
            Distance(before.latitude, before.longitude, now.latitude, now.longitude);
        travelled += step;
        // One second at the reported speed, within what one second of acceleration changes.
        EXPECT_NEAR(step, now.speedKnots * 1852.0 / 3600.0, 3.0) << "second " << i;
        EXPECT_LE(now.speedKnots, 60.0);
        EXPECT_LE(AngleBetween(now.course, before.course), 5.0) << "second " << i;
        EXPECT_LE(std::fabs(now.altitude - before.altitude), 1.0) << "second " << i;
        lowestAltitude = std::min(lowestAltitude, now.altitude);
        highestAltitude = std::max(highestAltitude, now.altitude);
        courseSectors.insert(static_cast<int>(now.course / 45.0));
    }
    EXPECT_GT(travelled, 2000.0);
    EXPECT_GE(courseSectors.size(), 3u) << "the route turns";
    EXPECT_GT(highestAltitude - lowestAltitude, 5.0);
}

TEST(ReceiverSimulator, SatellitesChangeSlowlyAndEightToTwelveAreInView)
{
    SimConfig config;
    config.seed = 11;
    ReceiverSimulator simulator(config);
    const std::vector<SimCycle> cycles = simtest::Run(simulator, NewYearsEve(), 1200);
    std::set<int> counts;
    bool bSignalChanged = false;
    bool bPositionInSkyChanged = false;
    for (std::size_t i = 1; i < cycles.size(); ++i)
    {
        const auto& before = cycles[i - 1].state.satellites;
        const auto& now = cycles[i].state.satellites;
        ASSERT_GE(now.size(), 8u);
        ASSERT_LE(now.size(), 12u);
        counts.insert(static_cast<int>(now.size()));
        const int used = static_cast<int>(
            std::count_if(now.begin(), now.end(), [](const SimSatellite& s) { return s.used; }));
        if (cycles[i].state.fixMode == 3)
        {
            EXPECT_GE(used, 4);
        }
        for (const SimSatellite& satellite : now)
        {
            EXPECT_LE(satellite.elevation, 90);
            EXPECT_LT(satellite.azimuth, 360);
            EXPECT_LE(satellite.snr, 99);
            const auto previous =
                std::find_if(before.begin(), before.end(),
                             [&](const SimSatellite& s) { return s.prn == satellite.prn; });
            if (previous == before.end())
                continue;
            EXPECT_LE(std::abs(satellite.elevation - previous->elevation), 1);
            EXPECT_LE(AngleBetween(satellite.azimuth, previous->azimuth), 1.0);
            if (satellite.snr > 0 && previous->snr > 0)
            {
                EXPECT_LE(std::abs(satellite.snr - previous->snr), 8);
                bSignalChanged = bSignalChanged || satellite.snr != previous->snr;
            }
            bPositionInSkyChanged = bPositionInSkyChanged ||
                                    satellite.elevation != previous->elevation ||
                                    satellite.azimuth != previous->azimuth;
        }
    }
    EXPECT_TRUE(bSignalChanged);
    EXPECT_TRUE(bPositionInSkyChanged);
}

TEST(ReceiverSimulator, ASlowLineGetsFewerSentencesButEveryKindInTurn)
{
    const struct
    {
        int baud;
        bool bAllFit;
    } rows[] = {{1200, false}, {2400, false}, {4800, true}, {9600, true}, {115200, true}};
    for (const auto& row : rows)
    {
        SCOPED_TRACE(std::to_string(row.baud) + " baud");
        SimConfig config;
        config.baud = row.baud;
        ReceiverSimulator simulator(config);
        std::map<std::string, int> counts;
        std::size_t dropped = 0;
        for (const SimCycle& cycle : simtest::Run(simulator, NewYearsEve(), 120))
        {
            const std::string bytes = simtest::Joined(cycle.sentences);
            EXPECT_LE(bytes.size(), ReceiverSimulator::LineBudget(row.baud));
            EXPECT_LE(bytes.size() * 10, static_cast<std::size_t>(row.baud))
                << "fits in the second";
            for (const std::string& sentence : cycle.sentences)
                ++counts[Kind(sentence)];
            dropped += cycle.droppedSentences;
        }
        for (const char* kind : {"GGA", "GSA", "GSV", "RMC"})
            EXPECT_GE(counts[kind], row.bAllFit ? 120 : 10) << kind;
        EXPECT_EQ(dropped == 0, row.bAllFit);
    }
}

// The simulated u-blox's UBX output, read back by the program's own decoder: the cycle's state
// at UBX's resolution, one epoch ended by NAV-EOE.
TEST(SimUbx, EachCycleDecodesToItsStateAndEndsWithNavEoe)
{
    ReceiverSimulator simulator(simtest::UBloxWithUbx(11));
    const auto start = std::chrono::sys_days{std::chrono::year{2023} / 12 / 31} + std::chrono::hours(23) +
                       std::chrono::minutes(59) + std::chrono::seconds(58);
    for (int second = 0; second < 4; ++second)
    {
        SCOPED_TRACE(second);
        const SimCycle cycle = simulator.Step(start + std::chrono::seconds(second));
        std::vector<std::string> binary;
        for (const std::string& piece : cycle.sentences)
            if (BinaryFrameLength(piece) == piece.size())
                binary.push_back(piece);
        ASSERT_EQ(binary.size(), 4u);
        const char* names[] = {"NAV-PVT", "NAV-SAT", "NAV-DOP", "NAV-EOE"};
        GpsData gps{};
        for (std::size_t i = 0; i < binary.size(); ++i)
        {
            EXPECT_EQ(UbxMessageName(UbxClass(binary[i]), UbxId(binary[i])), names[i]);
            EXPECT_EQ(UbxEpochTow(binary[i]), GpsTimeOfWeekMs(cycle.state.utc));
            DecodeFrame(Frame{FrameKind::Ubx, binary[i]}, gps);
        }
        EXPECT_TRUE(IsUbxEpochEnd(binary.back()));
        const SimState& state = cycle.state;
        EXPECT_EQ(gps.fixMode, state.fixMode >= 2 ? state.fixMode : 1);
        EXPECT_EQ(gps.day, second < 2 ? 31 : 1) << "the date rolls over with the year";
        EXPECT_EQ(gps.year, second < 2 ? 2023 : 2024);
        EXPECT_EQ(gps.second, (58 + second) % 60);
        if (state.fixMode >= 2)
        {
            EXPECT_NEAR(gps.latitude, state.latitude, 1e-7);
            EXPECT_NEAR(gps.longitude, state.longitude, 1e-7);
            EXPECT_NEAR(gps.altitude, state.altitude, 1e-3);
            EXPECT_NEAR(gps.speed, state.speedKnots, 1e-2);
            EXPECT_NEAR(gps.hdop, state.hdop, 1e-2);
            EXPECT_TRUE(gps.horizontalAccuracyKnown);
        }
        EXPECT_EQ(SatellitesInView(gps), static_cast<int>(state.satellites.size()));
        int used = 0;
        for (const SimSatellite& sat : state.satellites)
            used += sat.used ? 1 : 0;
        EXPECT_EQ(SatellitesUsed(gps), used);
    }
}
