#include "gps/NmeaFraming.h"
#include "tools/gpssim/SimSentences.h"

#include <gtest/gtest.h>

namespace
{

using namespace std::chrono;

// A state the generator seldom makes: minutes that round up into the next degree, south and
// west, an SNR below 10, an untracked satellite, two GSV messages, systems with nothing in view.
SimState Sample(int fixMode, std::vector<SimSatellite> satellites)
{
    SimState state;
    state.utc = sys_days{year{2024} / December / 31} + hours(23) + minutes(59) + seconds(59) +
                milliseconds(500);
    state.fixMode = fixMode;
    state.latitude = -(10.0 + 59.99996 / 60.0);
    state.longitude = -0.5;
    state.altitude = 12.3;
    state.geoidSeparation = -4.5;
    state.speedKnots = 5.5;
    state.course = 7.25;
    state.pdop = 1.5;
    state.hdop = 0.9;
    state.vdop = 1.2;
    state.satellites = std::move(satellites);
    return state;
}

const std::vector<SimSatellite> kGpsSky = {{3, 5, 7, 9, true, Talker::GP},
                                           {12, 45, 270, 0, false, Talker::GP},
                                           {17, 60, 45, 35, true, Talker::GP},
                                           {22, 10, 300, 22, false, Talker::GP},
                                           {31, 80, 180, 44, true, Talker::GP}};
const std::vector<SimSatellite> kGnssSky = {{3, 5, 7, 9, true, Talker::GP},
                                            {65, 30, 120, 40, true, Talker::GL}};

// Without a fix the receiver uses none of what it sees.
std::vector<SimSatellite> Unused(std::vector<SimSatellite> satellites)
{
    for (SimSatellite& satellite : satellites)
        satellite.used = false;
    return satellites;
}

std::string Commas(int n)
{
    return std::string(n, ',');
}

struct Row
{
    const char* name;
    Dialect dialect;
    SimState state;
    std::vector<std::string> bodies; // the cycle, in order, without checksum and line end
};

} // namespace

TEST(SimSentences, EachDialectWritesItsCycleFieldByField)
{
    const std::string fix = "1100.0000,S,00030.0000,W";
    const Row rows[] = {
        {"GPS with a fix", Dialect::Gps, Sample(3, kGpsSky),
         {"$GPGGA,235959.500," + fix + ",1,03,0.9,12.3,M,-4.5,M,,0000",
          "$GPGSA,A,3,03,17,31" + Commas(9) + ",1.5,0.9,1.2",
          "$GPGSV,2,1,05,03,05,007,09,12,45,270,,17,60,045,35,22,10,300,22",
          "$GPGSV,2,2,05,31,80,180,44", "$GPRMC,235959.500,A," + fix + ",5.50,7.25,311224,,,A"}},
        {"GPS without a fix or satellites", Dialect::Gps, Sample(1, {}),
         {"$GPGGA,235959.500,,,,,0,00,,,M,,M,,0000", "$GPGSA,A,1" + Commas(12) + ",,,",
          "$GPGSV,1,1,00", "$GPRMC,235959.500,V,,,,,,,311224,,,N"}},
        {"GNSS with a fix", Dialect::Gnss, Sample(3, kGnssSky),
         {"$GNGGA,235959.500," + fix + ",1,02,0.9,12.3,M,-4.5,M,,",
          "$GPGSV,1,1,01,03,05,007,09,1", "$GLGSV,1,1,01,65,30,120,40,1", "$GAGSV,1,1,00,7",
          "$GBGSV,1,1,00,1", "$GNGSA,A,3,03" + Commas(11) + ",1.5,0.9,1.2,1",
          "$GNGSA,A,3,65" + Commas(11) + ",1.5,0.9,1.2,2",
          "$GNGSA,A,3" + Commas(12) + ",1.5,0.9,1.2,3",
          "$GNGSA,A,3" + Commas(12) + ",1.5,0.9,1.2,4",
          "$GNRMC,235959.500,A," + fix + ",5.50,7.25,311224,,,A,V"}},
        {"GNSS without a fix", Dialect::Gnss, Sample(1, Unused(kGnssSky)),
         {"$GNGGA,235959.500,,,,,0,00,99.99,,,,,,", "$GPGSV,1,1,01,03,05,007,09,1",
          "$GLGSV,1,1,01,65,30,120,40,1", "$GAGSV,1,1,00,7", "$GBGSV,1,1,00,1",
          "$GNGSA,A,1" + Commas(12) + ",99.99,99.99,99.99,1",
          "$GNGSA,A,1" + Commas(12) + ",99.99,99.99,99.99,2",
          "$GNGSA,A,1" + Commas(12) + ",99.99,99.99,99.99,3",
          "$GNGSA,A,1" + Commas(12) + ",99.99,99.99,99.99,4",
          "$GNRMC,235959.500,V,,,,,,,311224,,,N,V"}},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        const std::vector<std::string> cycle = CycleSentences(row.state, row.dialect);
        ASSERT_EQ(cycle.size(), row.bodies.size());
        for (std::size_t i = 0; i < cycle.size(); ++i)
        {
            EXPECT_TRUE(IsChecksumValid(cycle[i])) << cycle[i];
            EXPECT_TRUE(cycle[i].ends_with("\r\n")) << cycle[i];
            EXPECT_EQ(cycle[i].substr(0, cycle[i].rfind('*')), row.bodies[i]);
        }
    }
}
