// Sentence decoders: each row decodes some lines to reach a starting record, then one more
// line, and states what that line changes in the record as it stood.
#include "gps/NmeaDecoders.h"

#include "gps/NmeaTestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace
{

using nmea_test::ExpectSameRecord;
using nmea_test::SameBits;
using nmea_test::WithChecksum;

using Change = std::function<void(GpsData&)>;

struct DecodeRow
{
    const char* name;
    std::vector<std::string> before;
    std::string line;
    Change change;
};

void PrintTo(const DecodeRow& row, std::ostream* os)
{
    *os << row.name;
}

void RunRow(const DecodeRow& row)
{
    GpsData gps;
    for (const std::string& line : row.before)
        DecodeSentence(line, gps);
    GpsData expected = gps;
    if (row.change)
        row.change(expected);

    DecodeSentence(row.line, gps);

    SCOPED_TRACE(row.line);
    ExpectSameRecord(gps, expected);
}

std::string RowName(const testing::TestParamInfo<DecodeRow>& info)
{
    return info.param.name;
}

void SetSlot(GpsData& g, int slot, std::uint16_t prn, std::uint16_t el, std::uint16_t az,
             std::uint16_t snr)
{
    g.satellites[slot].prn = prn;
    g.satellites[slot].elevation = el;
    g.satellites[slot].azimuth = az;
    g.satellites[slot].snr = snr;
    g.satellites[slot].talker = prn != 0 ? Talker::GP : Talker::None;
    g.satellites[slot].noPosition = false;
}

void ClearSlot(GpsData& g, int slot)
{
    SetSlot(g, slot, 0, 0, 0, 0);
}

// A satellite listed with its signal but without elevation and azimuth.
void SetUnplaced(GpsData& g, int slot, std::uint16_t prn, std::uint16_t snr)
{
    SetSlot(g, slot, prn, 0, 0, snr);
    g.satellites[slot].noPosition = true;
}

const Change kNothing = [](GpsData&) {};

// The textbook sentences: 12:35:19 UTC, 48 07.038' N, 11 31.000' E.
const std::string kGga = WithChecksum("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,");
const std::string kRmc =
    WithChecksum("$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W");
const double kLat = 48.1173;
const double kLon = 11.0 + 31.0 / 60.0;

// One u-blox LEA-5H cycle, as captured.
const std::string kUbloxGsv1 = "$GPGSV,3,1,12,05,04,187,,08,11,078,29,09,43,270,37,12,03,212,*75\r\n";
const std::string kUbloxGsv2 = "$GPGSV,3,2,12,15,78,214,34,17,25,106,18,18,32,294,39,22,13,324,20*77\r\n";
const std::string kUbloxGsv3 = "$GPGSV,3,3,12,24,04,342,,26,55,139,24,27,62,276,36,28,39,055,26*77\r\n";
const std::string kUbloxGsa = "$GPGSA,A,3,27,15,09,28,18,08,,,,,,,3.33,2.51,2.20*04\r\n";
const std::vector<std::string> kUbloxSky = {kUbloxGsv1, kUbloxGsv2, kUbloxGsv3, kUbloxGsa};

// ---------------------------------------------------------------------------------------------
// Coordinate conversion

struct DegreesRow
{
    const char* name;
    float value;
    float expected;
};

class CoordinateToDegreesTest : public testing::TestWithParam<DegreesRow>
{
};

TEST_P(CoordinateToDegreesTest, MinutesBecomeFractionOfDegree)
{
    EXPECT_FLOAT_EQ(NmeaCoordinateToDegrees(GetParam().value), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CoordinateToDegreesTest,
    testing::Values(DegreesRow{"North", 48.07038f, 48.117302f},
                    DegreesRow{"South", -48.07038f, -48.117302f},
                    DegreesRow{"East", 11.31f, 11.516667f},
                    DegreesRow{"WestTruncatesTowardZero", -11.31f, -11.516667f},
                    DegreesRow{"ThreeDigitDegrees", 153.031201f, 153.052002f},
                    DegreesRow{"MinutesOnly", -0.3f, -0.5f}, DegreesRow{"Zero", 0.0f, 0.0f},
                    DegreesRow{"SixtyMinutesReachTheNextDegree", 89.60f, 90.0f}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Dispatch: lines that change nothing at all

class IgnoredLineTest : public testing::TestWithParam<DecodeRow>
{
};

TEST_P(IgnoredLineTest, RecordUntouched)
{
    RunRow(GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, IgnoredLineTest,
    testing::Values(
        DecodeRow{"WrongLowercaseChecksumHex", {},
                  "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6b\r\n", kNothing},
        DecodeRow{"WrongChecksum", {kGga}, "$GPGGA,235959,0000.000,N,00000.000,E,1,08,0.9,1.0,M,46.9,M,,*47\r\n", kNothing},
        DecodeRow{"BareLineFeed", {}, "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\n", kNothing},
        DecodeRow{"StrayByteBeforeDollar", {}, "x" + kGga, kNothing},
        DecodeRow{"NoComma", {kGga}, WithChecksum("$GPGGA"), kNothing},
        DecodeRow{"GlGsv", kUbloxSky, WithChecksum("$GLGSV,1,1,00"), kNothing},
        DecodeRow{"AisSentence", {kRmc}, "!AIVDM,1,1,,A,15MgK45P3@G?fl0E`JbR0OwT0@MS,0*4E\r\n", kNothing},
        DecodeRow{"GsvOfOtherTalker", kUbloxSky, WithChecksum("$INGSV,1,1,01,05,04,187,30"), kNothing},
        DecodeRow{"ProprietarySirf", {kGga}, WithChecksum("$PSRF101,0,0,0,000,0,0,12,4"), kNothing},
        DecodeRow{"IdentifierWithoutDollar", {}, WithChecksum("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"), kNothing},
        DecodeRow{"IdentifierWithSuffix", {}, WithChecksum("$GPGGAX,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"), kNothing},
        DecodeRow{"IdentifierAfterSpace", {}, WithChecksum(" $GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"), kNothing},
        DecodeRow{"ChecksumOnly", {kGga}, "*00\r\n", kNothing},
        DecodeRow{"EmptyLine", {kGga}, "", kNothing}),
    RowName);

// ---------------------------------------------------------------------------------------------
// GGA

class GgaTest : public testing::TestWithParam<DecodeRow>
{
};

TEST_P(GgaTest, WritesTimePositionAltitude)
{
    RunRow(GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, GgaTest,
    testing::Values(
        DecodeRow{"NorthEast", {}, kGga,
                  [](GpsData& g) { g.fixMode = 3; g.hour = 12; g.minute = 35; g.second = 19; g.latitude = kLat;
                                   g.longitude = kLon; g.altitude = 545.4; }},
        DecodeRow{"SouthWest", {}, WithChecksum("$GPGGA,123519,4807.038,S,01131.000,W,1,08,0.9,545.4,M,46.9,M,,"),
                  [](GpsData& g) { g.fixMode = 3; g.hour = 12; g.minute = 35; g.second = 19; g.latitude = -kLat;
                                   g.longitude = -kLon; g.altitude = 545.4; }},
        DecodeRow{"UbloxNegativeAltitude", {},
                  "$GPGGA,083723.00,5155.55442,N,00434.65873,E,1,06,2.51,-4.0,M,46.0,M,,*70\r\n",
                  [](GpsData& g) { g.fixMode = 3; g.hour = 8; g.minute = 37; g.second = 23; g.latitude = 51.925907;
                                   g.longitude = 4.5776455; g.altitude = -4.0; }},
        DecodeRow{"FractionOfSecondKeptToTheMillisecond", {}, WithChecksum("$GPGGA,095304.802,2712.6520,S,15303.1397,E,1,00,17.0,3.0,M,42.2,M,,"),
                  [](GpsData& g) { g.fixMode = 3; g.hour = 9; g.minute = 53; g.second = 4; g.millisecond = 802; g.latitude = -(27.0 + 12.6520 / 60.0);
                                   g.longitude = 153.0 + 3.1397 / 60.0; g.altitude = 3.0; }},
        DecodeRow{"EmptyPositionAfterFixGoesToZero", {kGga, kRmc},
                  WithChecksum("$GPGGA,123520,,,,,0,00,,,M,,M,,"),
                  [](GpsData& g) { g.fixMode = 1; g.second = 20; g.latitude = 0.0; g.longitude = 0.0; }},
        DecodeRow{"OneEmptyHemisphereZeroesBoth", {kGga},
                  WithChecksum("$GPGGA,123520,4807.038,N,01131.000,,1,08,0.9,545.4,M,46.9,M,,"),
                  [](GpsData& g) { g.second = 20; g.latitude = 0.0; g.longitude = 0.0; }},
        DecodeRow{"EmptyTimeKeepsTime", {kGga},
                  WithChecksum("$GPGGA,,4807.038,S,01131.000,W,1,08,0.9,600.0,M,46.9,M,,"),
                  [](GpsData& g) { g.latitude = -kLat; g.longitude = -kLon; g.altitude = 600.0; }},
        DecodeRow{"EmptyAltitudeKeepsAltitude", {kGga},
                  WithChecksum("$GPGGA,123521,4807.038,N,01131.000,E,1,08,0.9,,M,46.9,M,,"),
                  [](GpsData& g) { g.fixMode = 2; g.second = 21; }},
        DecodeRow{"LatitudeWithoutPointKeepsOnlyLatitude", {kGga},
                  WithChecksum("$GPGGA,123522,4807,S,01131.000,W,1,08,0.9,600.0,M,46.9,M,,"),
                  [](GpsData& g) { g.second = 22; g.longitude = -kLon; g.altitude = 600.0; }},
        DecodeRow{"LongitudeWithoutPointKeepsOnlyLongitude", {kGga},
                  WithChecksum("$GPGGA,123522,4807.038,S,01131,W,1,08,0.9,600.0,M,46.9,M,,"),
                  [](GpsData& g) { g.second = 22; g.latitude = -kLat; g.altitude = 600.0; }},
        DecodeRow{"PointTooNearStartAbandonsRest", {kGga},
                  WithChecksum("$GPGGA,123523,4.5,S,01131.000,W,1,08,0.9,600.0,M,46.9,M,,"),
                  [](GpsData& g) { g.second = 23; }},
        DecodeRow{"PointTwoFromStartIsMinutesOnly", {},
                  WithChecksum("$GPGGA,123523,30.0,S,00030.0,W,1,08,0.9,600.0,M,46.9,M,,"),
                  [](GpsData& g) { g.fixMode = 3; g.hour = 12; g.minute = 35; g.second = 23; g.latitude = -0.5;
                                   g.longitude = -0.5; g.altitude = 600.0; }},
        DecodeRow{"UnknownHemisphereAbandonsRest", {kGga},
                  WithChecksum("$GPGGA,123524,4807.038,X,01131.000,W,1,08,0.9,600.0,M,46.9,M,,"),
                  [](GpsData& g) { g.second = 24; }},
        DecodeRow{"LowercaseHemisphereAbandonsRest", {kGga},
                  WithChecksum("$GPGGA,123524,4807.038,S,01131.000,w,1,08,0.9,600.0,M,46.9,M,,"),
                  [](GpsData& g) { g.second = 24; g.latitude = -kLat; }},
        DecodeRow{"LatitudeLetterForLongitudeAbandonsRest", {kGga},
                  WithChecksum("$GPGGA,123524,4807.038,S,01131.000,N,1,08,0.9,600.0,M,46.9,M,,"),
                  [](GpsData& g) { g.second = 24; g.latitude = -kLat; }},
        DecodeRow{"ShortTimeAbandonsWholeSentence", {kGga},
                  WithChecksum("$GPGGA,12352,4807.038,S,01131.000,W,1,08,0.9,600.0,M,46.9,M,,"), kNothing},
        // A time is read whole or not at all.
        DecodeRow{"BadMinuteAbandonsWholeSentence", {kGga},
                  WithChecksum("$GPGGA,13x525,4807.038,S,01131.000,W,1,08,0.9,600.0,M,46.9,M,,"), kNothing},
        DecodeRow{"HourOutOfRangeAbandonsWholeSentence", {kGga},
                  WithChecksum("$GPGGA,243525,4807.038,S,01131.000,W,1,08,0.9,600.0,M,46.9,M,,"), kNothing},
        DecodeRow{"AltitudeWithSpaceNotStored", {kGga},
                  WithChecksum("$GPGGA,123525,4807.038,S,01131.000,W,1,08,0.9,600.0 ,M,46.9,M,,"),
                  [](GpsData& g) { g.second = 25; g.latitude = -kLat; g.longitude = -kLon; }},
        DecodeRow{"CoordinateWithExponentStillConverts", {},
                  WithChecksum("$GPGGA,123519,4807.038e0,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"),
                  [](GpsData& g) { g.fixMode = 3; g.hour = 12; g.minute = 35; g.second = 19; g.latitude = kLat;
                                   g.longitude = kLon; g.altitude = 545.4; }},
        // Seven seconds after the last word on the fix: it is gone.
        DecodeRow{"EndsAfterLatitudeKeepsPosition", {kGga},
                  WithChecksum("$GPGGA,123526,4807.038,S"),
                  [](GpsData& g) { g.fixMode = 1; g.second = 26; }},
        DecodeRow{"EndsAfterTimeStillTakesTime", {kGga}, WithChecksum("$GPGGA,123527"),
                  [](GpsData& g) { g.fixMode = 1; g.second = 27; }},
        DecodeRow{"EndsBeforeAltitudeKeepsAltitude", {kGga},
                  WithChecksum("$GPGGA,123528,4807.038,S,01131.000,W,1,08,0.9"),
                  [](GpsData& g) { g.fixMode = 2; g.second = 28; g.latitude = -kLat; g.longitude = -kLon; }},
        DecodeRow{"AltitudeAsLastFieldCarriesChecksum", {kGga},
                  WithChecksum("$GPGGA,123529,4807.038,S,01131.000,W,1,08,0.9,600.0"),
                  [](GpsData& g) { g.second = 29; g.latitude = -kLat; g.longitude = -kLon; }},
        DecodeRow{"QualityZeroStillStoresEverything", {},
                  "$GPGGA,095257.809,2712.6404,S,15303.1201,E,0,00,00.0,4.0,M,42.2,M,,*7B\r\n",
                  [](GpsData& g) { g.fixMode = 1; g.hour = 9; g.minute = 52; g.second = 57; g.millisecond = 809; g.latitude = -(27.0 + 12.6404 / 60.0);
                                   g.longitude = 153.0 + 3.1201 / 60.0; g.altitude = 4.0; }},
        // Quality 4 and 5 are the carrier-phase solutions; any other quality ends them.
        DecodeRow{"QualityFourIsRtkFixed", {kGga},
                  WithChecksum("$GNGGA,123519,4807.038,N,01131.000,E,4,12,0.5,545.4,M,46.9,M,1.0,0000"),
                  [](GpsData& g) { g.rtk = RtkState::Fixed; }},
        DecodeRow{"QualityFiveIsRtkFloat", {kGga},
                  WithChecksum("$GNGGA,123519,4807.038,N,01131.000,E,5,12,0.5,545.4,M,46.9,M,1.0,0000"),
                  [](GpsData& g) { g.rtk = RtkState::Float; }},
        DecodeRow{"OrdinaryQualityEndsRtk",
                  {WithChecksum("$GNGGA,123518,4807.038,N,01131.000,E,4,12,0.5,545.4,M,46.9,M,1.0,0000")}, kGga,
                  [](GpsData& g) { g.rtk = RtkState::None; g.second = 19; }}),
    RowName);

// ---------------------------------------------------------------------------------------------
// GST: the receiver's accuracy estimates

class GstTest : public testing::TestWithParam<DecodeRow>
{
};

TEST_P(GstTest, WritesAccuracyEstimates)
{
    RunRow(GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, GstTest,
    testing::Values(
        DecodeRow{"Deviations", {}, WithChecksum("$GPGST,172814.0,0.006,0.023,0.020,273.6,0.3,0.4,1.5"),
                  [](GpsData& g) {
                      g.horizontalAccuracy = 0.5f;
                      g.verticalAccuracy = 1.5f;
                      g.horizontalAccuracyKnown = g.verticalAccuracyKnown = true;
                  }},
        DecodeRow{"EmptyAltitudeLeavesVertical", {}, WithChecksum("$GNGST,172814.0,0.006,,,,3,4,"),
                  [](GpsData& g) { g.horizontalAccuracy = 5.0f; g.horizontalAccuracyKnown = true; }},
        DecodeRow{"NoDeviationsChangeNothing", {}, WithChecksum("$GPGST,172814.0,0.006,,,,,,"), kNothing},
        DecodeRow{"EndsEarlyChangesNothing", {}, WithChecksum("$GPGST,172814.0,0.006,0.023"), kNothing},
        DecodeRow{"BadNumberAbandonsTheRest", {}, WithChecksum("$GPGST,172814.0,0.006,,,,0.3,x,1.5"), kNothing}),
    RowName);

// ---------------------------------------------------------------------------------------------
// RMC

class RmcTest : public testing::TestWithParam<DecodeRow>
{
};

TEST_P(RmcTest, WritesTimeDatePositionSpeedCourse)
{
    RunRow(GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RmcTest,
    testing::Values(
        DecodeRow{"TwoDigitYearPlus2000", {}, kRmc,
                  [](GpsData& g) { g.fixMode = 2; g.hour = 12; g.minute = 35; g.second = 19; g.day = 23;
                                   g.month = 3; g.year = 2094; g.latitude = kLat; g.longitude = kLon;
                                   g.speed = 22.4; g.course = 84.4; }},
        // Magellan's lowercase hex checksum: the same sentence, the same record.
        DecodeRow{"LowercaseChecksumHex", {},
                  "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6a\r\n",
                  [](GpsData& g) { g.fixMode = 2; g.hour = 12; g.minute = 35; g.second = 19; g.day = 23;
                                   g.month = 3; g.year = 2094; g.latitude = kLat; g.longitude = kLon;
                                   g.speed = 22.4; g.course = 84.4; }},
        DecodeRow{"StatusVoidStillStoresPosition", {},
                  "$GPRMC,095255.810,V,2712.6404,S,15303.1201,E,0.00,0.00,080407,,,A*6E\r\n",
                  [](GpsData& g) { g.fixMode = 1; g.hour = 9; g.minute = 52; g.second = 55; g.millisecond = 810; g.day = 8;
                                   g.month = 4; g.year = 2007; g.latitude = -(27.0 + 12.6404 / 60.0);
                                   g.longitude = 153.0 + 3.1201 / 60.0; g.speed = 0.0; g.course = 0.0; }},
        DecodeRow{"EmptyDateWritesNeitherTimeNorDate", {kRmc},
                  WithChecksum("$GPRMC,140000,A,4807.038,S,01131.000,W,1.5,90.0,,003.1,W"),
                  [](GpsData& g) { g.latitude = -kLat; g.longitude = -kLon; g.speed = 1.5;
                                   g.course = 90.0; }},
        DecodeRow{"EmptyTimeWritesNeitherTimeNorDate", {kRmc},
                  WithChecksum("$GPRMC,,A,4807.038,S,01131.000,W,1.5,90.0,010100,003.1,W"),
                  [](GpsData& g) { g.latitude = -kLat; g.longitude = -kLon; g.speed = 1.5;
                                   g.course = 90.0; }},
        DecodeRow{"EmptyPositionKeepsPosition", {kGga},
                  WithChecksum("$GPRMC,235948.00,V,,,,,,,161206,,,N"),
                  [](GpsData& g) { g.fixMode = 1; g.hour = 23; g.minute = 59; g.second = 48; g.day = 16;
                                   g.month = 12; g.year = 2006; }},
        DecodeRow{"OneEmptyHemisphereKeepsPosition", {kGga},
                  WithChecksum("$GPRMC,235948.00,A,0000.000,N,00000.000,,1.0,2.0,161206,,,N"),
                  [](GpsData& g) { g.fixMode = 2; g.hour = 23; g.minute = 59; g.second = 48; g.day = 16;
                                   g.month = 12; g.year = 2006; g.speed = 1.0; g.course = 2.0; }},
        DecodeRow{"EmptySpeedKeepsSpeedCourseStored", {kRmc},
                  WithChecksum("$GPRMC,123520,A,4807.038,N,01131.000,E,,271.5,230394,003.1,W"),
                  [](GpsData& g) { g.second = 20; g.course = 271.5; }},
        DecodeRow{"EmptyCourseKeepsCourse", {kRmc},
                  "$GPRMC,083723.00,A,5155.55442,N,00434.65873,E,0.211,,210810,,,A*7F\r\n",
                  [](GpsData& g) { g.hour = 8; g.minute = 37; g.second = 23; g.day = 21;
                                   g.month = 8; g.year = 2010; g.latitude = 51.925907;
                                   g.longitude = 4.5776455; g.speed = 0.211; }},
        DecodeRow{"ShortDateKeepsTimeAbandonsRest", {kRmc},
                  WithChecksum("$GPRMC,140000,A,4807.038,S,01131.000,W,1.5,90.0,0101,003.1,W"),
                  [](GpsData& g) { g.hour = 14; g.minute = 0; g.second = 0; }},
        DecodeRow{"BadMonthKeepsDay", {kRmc},
                  WithChecksum("$GPRMC,140000,A,4807.038,S,01131.000,W,1.5,90.0,01a100,003.1,W"),
                  [](GpsData& g) { g.hour = 14; g.minute = 0; g.second = 0; g.day = 1; }},
        DecodeRow{"BadSpeedAbandonsCourse", {kRmc},
                  WithChecksum("$GPRMC,140000,A,4807.038,S,01131.000,W,1.5kn,90.0,010100,003.1,W"),
                  [](GpsData& g) { g.hour = 14; g.minute = 0; g.second = 0; g.day = 1; g.month = 1;
                                   g.year = 2000; g.latitude = -kLat; g.longitude = -kLon; }},
        DecodeRow{"UnknownHemisphereAbandonsSpeed", {kRmc},
                  WithChecksum("$GPRMC,140000,A,4807.038,S,01131.000,?,1.5,90.0,010100,003.1,W"),
                  [](GpsData& g) { g.hour = 14; g.minute = 0; g.second = 0; g.day = 1; g.month = 1;
                                   g.year = 2000; g.latitude = -kLat; }},
        DecodeRow{"EndsBeforeDateSkipsTimeAndDate", {kRmc},
                  WithChecksum("$GPRMC,140000,A,4807.038,S,01131.000,W,1.5,90.0"),
                  [](GpsData& g) { g.latitude = -kLat; g.longitude = -kLon; g.speed = 1.5; }},
        DecodeRow{"EndsAfterLongitudeKeepsPosition", {kRmc},
                  WithChecksum("$GPRMC,140000,A,4807.038,S,01131.000"), kNothing},
        DecodeRow{"MtkPowerUpDate1980Becomes2080", {},
                  "$GPRMC,235946.005,V,8960.000000,N,00000.000000,E,0.000,0.00,050180,,,N*47\r\n",
                  [](GpsData& g) { g.fixMode = 1; g.hour = 23; g.minute = 59; g.second = 46; g.millisecond = 5; g.day = 5;
                                   g.month = 1; g.year = 2080; g.latitude = 90.0;
                                   g.longitude = 0.0; g.speed = 0.0; g.course = 0.0; }}),
    RowName);

// ---------------------------------------------------------------------------------------------
// GSA

class GsaTest : public testing::TestWithParam<DecodeRow>
{
};

TEST_P(GsaTest, WritesFixModeUsedFlagsDops)
{
    RunRow(GetParam());
}

// Slots 0-3 hold PRNs 4, 9, 7, 12; slots 4-6 hold 7, 30, 4 (duplicates on purpose).
const std::vector<std::string> kSkyWithDuplicates = {
    WithChecksum("$GPGSV,2,1,07,04,10,100,30,09,20,200,31,07,30,300,32,12,40,040,33"),
    WithChecksum("$GPGSV,2,2,07,07,50,050,34,30,60,060,35,04,70,070,36")};

INSTANTIATE_TEST_SUITE_P(
    Rows, GsaTest,
    testing::Values(
        DecodeRow{"MarksExactlyTheListedSlots", kSkyWithDuplicates,
                  WithChecksum("$GPGSA,A,3,04,07,12,,,,,,,,,,2.5,1.3,2.1"),
                  [](GpsData& g) { g.fixMode = 3; g.satellites[0].used = true;
                                   g.satellites[2].used = true; g.satellites[3].used = true;
                                   g.pdop = 2.5f; g.hdop = 1.3f; }},
        DecodeRow{"UbloxCycleHdopAndPdopNotSwapped", {kUbloxGsv1, kUbloxGsv2, kUbloxGsv3}, kUbloxGsa,
                  [](GpsData& g) { g.fixMode = 3;
                                   for (int slot : {1, 2, 4, 6, 10, 11}) g.satellites[slot].used = true;
                                   g.pdop = 3.33f; g.hdop = 2.51f; }},
        DecodeRow{"FollowingGsaWithoutPrnsClearsAllUsed",
                  {kUbloxGsv1, kUbloxGsv2, kUbloxGsv3, kUbloxGsa},
                  "$GPGSA,A,1,,,,,,,,,,,,,0.0,0.0,0.0*30\r\n",
                  [](GpsData& g) { g.fixMode = 1; for (auto& s : g.satellites) s.used = false;
                                   g.pdop = 0.0f; g.hdop = 0.0f; }},
        DecodeRow{"NoSatellitesNoDopsKeepsDops", kUbloxSky, "$GPGSA,A,1,,,,,,,,,,,,,,,*1E\r\n",
                  [](GpsData& g) { g.fixMode = 1; for (auto& s : g.satellites) s.used = false; }},
        DecodeRow{"ListedPrnInNoSlotMarksNothing", kSkyWithDuplicates,
                  WithChecksum("$GPGSA,A,2,31,32,,,,,,,,,,,4.0,3.0,2.0"),
                  [](GpsData& g) { g.fixMode = 2; g.pdop = 4.0f; g.hdop = 3.0f; }},
        DecodeRow{"DuplicatePrnMarksOnlyLowerSlot", kSkyWithDuplicates,
                  WithChecksum("$GPGSA,A,3,30,07,,,,,,,,,,,4.0,3.0,2.0"),
                  [](GpsData& g) { g.fixMode = 3; g.satellites[2].used = true;
                                   g.satellites[5].used = true; g.pdop = 4.0f; g.hdop = 3.0f; }},
        DecodeRow{"PrnZeroMarksNoEmptySlot", {kSkyWithDuplicates[0]},
                  WithChecksum("$GPGSA,A,3,00,09,,,,,,,,,,,4.0,3.0,2.0"),
                  [](GpsData& g) { g.fixMode = 3; g.satellites[1].used = true; g.pdop = 4.0f;
                                   g.hdop = 3.0f; }},
        DecodeRow{"EmptyModeKeepsModeStillRecomputesUsed", kUbloxSky,
                  WithChecksum("$GPGSA,A,,09,,,,,,,,,,,,3.0,2.0,1.0"),
                  [](GpsData& g) { for (auto& s : g.satellites) s.used = false;
                                   g.satellites[2].used = true; g.pdop = 3.0f; g.hdop = 2.0f; }},
        DecodeRow{"EmptyPdopKeepsPdop", kUbloxSky,
                  WithChecksum("$GPGSA,A,3,27,15,09,28,18,08,,,,,,,,1.9,2.20"),
                  [](GpsData& g) { g.hdop = 1.9f; }},
        DecodeRow{"EmptyHdopKeepsHdop", kUbloxSky,
                  WithChecksum("$GPGSA,A,3,27,15,09,28,18,08,,,,,,,4.1,,2.20"),
                  [](GpsData& g) { g.pdop = 4.1f; }},
        DecodeRow{"WithoutVdopHdopCarriesChecksum", kUbloxSky,
                  WithChecksum("$GPGSA,A,3,27,15,09,28,18,08,,,,,,,4.1,1.9"),
                  [](GpsData& g) { g.pdop = 4.1f; }},
        DecodeRow{"BadPrnAbandonsAfterClearing", kUbloxSky,
                  WithChecksum("$GPGSA,A,2,27,1S,09,,,,,,,,,,4.1,1.9,2.20"),
                  [](GpsData& g) { g.fixMode = 2; for (auto& s : g.satellites) s.used = false;
                                   g.satellites[10].used = true; }},
        DecodeRow{"BadModeAbandonsWholeSentence", kUbloxSky,
                  WithChecksum("$GPGSA,A,3D,,,,,,,,,,,,,4.1,1.9,2.20"), kNothing},
        DecodeRow{"EndsAfterModeStillClearsUsed", kUbloxSky, WithChecksum("$GPGSA,A,2,"),
                  [](GpsData& g) { g.fixMode = 2; for (auto& s : g.satellites) s.used = false; }},
        DecodeRow{"ModeAsLastFieldCarriesChecksum", kUbloxSky, WithChecksum("$GPGSA,A,2"), kNothing}),
    RowName);

// ---------------------------------------------------------------------------------------------
// GSV

class GsvTest : public testing::TestWithParam<DecodeRow>
{
};

TEST_P(GsvTest, WritesTheMessagesFourSlots)
{
    RunRow(GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, GsvTest,
    testing::Values(
        DecodeRow{"Message1FillsSlots0To3EmptySnrKeepsZero", {}, kUbloxGsv1,
                  [](GpsData& g) { SetSlot(g, 0, 5, 4, 187, 0); SetSlot(g, 1, 8, 11, 78, 29);
                                   SetSlot(g, 2, 9, 43, 270, 37); SetSlot(g, 3, 12, 3, 212, 0); }},
        DecodeRow{"Message2Of3FillsSlots4To7Only", {kUbloxGsv1, kUbloxGsv3}, kUbloxGsv2,
                  [](GpsData& g) { SetSlot(g, 4, 15, 78, 214, 34); SetSlot(g, 5, 17, 25, 106, 18);
                                   SetSlot(g, 6, 18, 32, 294, 39); SetSlot(g, 7, 22, 13, 324, 20); }},
        DecodeRow{"Message3FillsSlots8To11", {}, kUbloxGsv3,
                  [](GpsData& g) { SetSlot(g, 8, 24, 4, 342, 0); SetSlot(g, 9, 26, 55, 139, 24);
                                   SetSlot(g, 10, 27, 62, 276, 36); SetSlot(g, 11, 28, 39, 55, 26); }},
        DecodeRow{"ThreeSatellitesClearFourthSlot", kUbloxSky,
                  WithChecksum("$GPGSV,3,2,11,15,78,214,34,17,25,106,18,18,32,294,39"),
                  [](GpsData& g) { ClearSlot(g, 7); }},
        DecodeRow{"MissingLastSnrLeavesThreeGroups", kUbloxSky,
                  WithChecksum("$GPGSV,3,2,12,11,10,100,40,13,20,200,41,14,30,300,42,16,40,040"),
                  [](GpsData& g) { SetSlot(g, 4, 11, 10, 100, 40); SetSlot(g, 5, 13, 20, 200, 41);
                                   SetSlot(g, 6, 14, 30, 300, 42); ClearSlot(g, 7); }},
        DecodeRow{"EmptyLastSnrIsNotTracked", kUbloxSky,
                  WithChecksum("$GPGSV,3,2,12,11,10,100,40,13,20,200,41,14,30,300,42,16,40,040,"),
                  [](GpsData& g) { SetSlot(g, 4, 11, 10, 100, 40); SetSlot(g, 5, 13, 20, 200, 41);
                                   SetSlot(g, 6, 14, 30, 300, 42); SetSlot(g, 7, 16, 40, 40, 0); }},
        // ublox-lea-5h line 128: PRN 11 untracked where PRN 9 had 36 dB-Hz.
        DecodeRow{"EmptySnrIsNotTracked", kUbloxSky,
                  WithChecksum("$GPGSV,3,1,12,05,04,187,,08,12,079,,09,43,270,37,12,03,212,"),
                  [](GpsData& g) { SetSlot(g, 1, 8, 12, 79, 0); }},
        DecodeRow{"UbloxSnrOfPreviousSatelliteNotInherited",
                  {"$GPGSV,3,1,12,05,04,187,,08,11,078,26,09,43,270,36,12,03,212,*7B\r\n"},
                  "$GPGSV,4,1,13,08,04,082,17,09,51,276,42,11,01,043,,12,11,214,29*7F\r\n",
                  [](GpsData& g) { SetSlot(g, 0, 8, 4, 82, 17); SetSlot(g, 1, 9, 51, 276, 42);
                                   SetSlot(g, 2, 11, 1, 43, 0); SetSlot(g, 3, 12, 11, 214, 29); }},
        DecodeRow{"EmptyElevationListsSatelliteWithoutPosition", kUbloxSky,
                  WithChecksum("$GPGSV,3,1,12,31,,187,45,08,12,079,30,09,43,270,37,12,03,212,"),
                  [](GpsData& g) { SetUnplaced(g, 0, 31, 45); SetSlot(g, 1, 8, 12, 79, 30); }},
        DecodeRow{"EmptyPrnLeavesSlotUntouched", kUbloxSky,
                  WithChecksum("$GPGSV,3,1,12,,04,187,45,08,12,079,30,09,43,270,37,12,03,212,"),
                  [](GpsData& g) { SetSlot(g, 1, 8, 12, 79, 30); }},
        // mtk-3301 and myguide-3100 while they acquire: in view, with a signal, not yet placed.
        DecodeRow{"MtkSatellitesWithoutPositionAreInView", kUbloxSky,
                  "$GPGSV,2,1,06,21,,,40,28,,,47,25,,,43,07,,,40*71\r\n",
                  [](GpsData& g) { SetUnplaced(g, 0, 21, 40); SetUnplaced(g, 1, 28, 47);
                                   SetUnplaced(g, 2, 25, 43); SetUnplaced(g, 3, 7, 40); }},
        DecodeRow{"PositionWithoutElevationIsNone", kUbloxSky,
                  WithChecksum("$GPGSV,3,1,12,05,,187,,08,11,078,29,09,43,270,37,12,03,212,"),
                  [](GpsData& g) { SetUnplaced(g, 0, 5, 0); }},
        DecodeRow{"NoSatellitesMessageClearsAllWithUsed", kUbloxSky,
                  WithChecksum("$GPGSV,1,1,00"),
                  [](GpsData& g) { for (auto& sat : g.satellites) sat = {}; }},
        // A one-message cycle: the satellites of the old messages 2 and 3 are gone.
        DecodeRow{"SingleZeroInViewEndsTheCycle", kUbloxSky,
                  WithChecksum("$GPGSV,1,1,0"),
                  [](GpsData& g) { for (int i = 0; i < 12; ++i) g.satellites[i] = {}; }},
        DecodeRow{"ThreeSatellitesInViewOneMessage", kUbloxSky,
                  WithChecksum("$GPGSV,1,1,03,02,15,123,,05,45,347,45,06,58,198,"),
                  [](GpsData& g) { SetSlot(g, 0, 2, 15, 123, 0); SetSlot(g, 1, 5, 45, 347, 45);
                                   SetSlot(g, 2, 6, 58, 198, 0); ClearSlot(g, 3);
                                   for (int i = 4; i < 12; ++i) g.satellites[i] = {}; }},
        DecodeRow{"ShorterCycleRemovesGhosts",
                  {kUbloxGsv1, kUbloxGsv2, kUbloxGsv3, kUbloxGsa,
                   WithChecksum("$GPGSV,2,1,08,05,04,187,,08,11,078,29,09,43,270,37,12,03,212,")},
                  WithChecksum("$GPGSV,2,2,08,15,78,214,34,17,25,106,18,18,32,294,39,22,13,324,20"),
                  [](GpsData& g) { for (int i = 8; i < 12; ++i) g.satellites[i] = {}; }},
        DecodeRow{"LostMiddleMessageClearedAtCycleEnd",
                  {kUbloxGsv1, kUbloxGsv2, kUbloxGsv3, kUbloxGsa, kUbloxGsv1}, kUbloxGsv3,
                  [](GpsData& g) { for (int i = 4; i < 8; ++i) g.satellites[i] = {}; }},
        DecodeRow{"LostFirstMessageRemovesNothing",
                  {kUbloxGsv1, kUbloxGsv2, kUbloxGsv3, kUbloxGsa, kUbloxGsv2},
                  WithChecksum("$GPGSV,2,2,08,24,04,342,,26,55,139,24,27,62,276,36,28,39,055,26"),
                  [](GpsData& g) { SetSlot(g, 4, 24, 4, 342, 0); SetSlot(g, 5, 26, 55, 139, 24);
                                   SetSlot(g, 6, 27, 62, 276, 36); SetSlot(g, 7, 28, 39, 55, 26); }},
        DecodeRow{"NewSatelliteKeepsSlotsUsedFlag", kUbloxSky,
                  WithChecksum("$GPGSV,3,1,12,05,04,187,,31,11,078,29,09,43,270,37,12,03,212,"),
                  [](GpsData& g) { g.satellites[1].prn = 31; }},
        // The 13th satellite of neo-m8n's GPS sky.
        DecodeRow{"Message4FillsSlots12To15", kUbloxSky, "$GPGSV,4,4,13,32,76,331,31*48\r\n",
                  [](GpsData& g) { SetSlot(g, 12, 32, 76, 331, 31); }},
        DecodeRow{"Message4WithFourSatellites", kUbloxSky,
                  WithChecksum("$GPGSV,4,4,16,32,76,331,31,33,10,100,20,34,10,100,20,35,10,100,20"),
                  [](GpsData& g) { SetSlot(g, 12, 32, 76, 331, 31); SetSlot(g, 13, 33, 10, 100, 20);
                                   SetSlot(g, 14, 34, 10, 100, 20); SetSlot(g, 15, 35, 10, 100, 20); }},
        DecodeRow{"Message0WritesNothing", kUbloxSky,
                  WithChecksum("$GPGSV,3,0,12,32,76,331,31,33,10,100,20,34,10,100,20,35,10,100,20"), kNothing},
        DecodeRow{"NegativeMessageWritesNothing", kUbloxSky,
                  WithChecksum("$GPGSV,3,-2147483648,12,32,76,331,31"), kNothing},
        DecodeRow{"EmptyMessageNumberWritesNothing", kUbloxSky,
                  WithChecksum("$GPGSV,3,,12,32,76,331,31,33,10,100,20,34,10,100,20,35,10,100,20"), kNothing},
        DecodeRow{"EndsAfterMessageNumberClearsMessageSlots", kUbloxSky, WithChecksum("$GPGSV,3,1"),
                  [](GpsData& g) { for (int i = 0; i < 4; ++i) g.satellites[i] = {}; }},
        DecodeRow{"EndsAfterInViewClearsMessageSlots", kUbloxSky, WithChecksum("$GPGSV,3,2,12"),
                  [](GpsData& g) { for (int i = 4; i < 8; ++i) g.satellites[i] = {}; }},
        // A message is read whole before it is merged: one bad field drops all of it.
        DecodeRow{"NegativeElevationAbandonsMessage", kUbloxSky,
                  WithChecksum("$GPGSV,3,1,12,31,-4,187,45,08,12,079,30,09,43,270,37,12,03,212,"), kNothing},
        DecodeRow{"PrnTooLargeAbandonsRest", kUbloxSky,
                  WithChecksum("$GPGSV,3,1,12,65536,04,187,45,08,12,079,30,09,43,270,37,12,03,212,"),
                  kNothing},
        DecodeRow{"DecimalSnrAbandonsMessage", kUbloxSky,
                  "$GPGSV,3,1,11,09,57,333,29.0,07,54,227,,04,49,043,24.5,03,43,129,,1*67\r\n", kNothing},
        DecodeRow{"BadThirdSatelliteKeepsFirstTwo", kUbloxSky,
                  WithChecksum("$GPGSV,3,1,12,31,10,100,45,32,11,110,30,33,x,270,37,12,03,212,"),
                  [](GpsData& g) { SetSlot(g, 0, 31, 10, 100, 45); SetSlot(g, 1, 32, 11, 110, 30); }},
        DecodeRow{"ChecksumNeverSticksToLastSnr", kUbloxSky,
                  WithChecksum("$GPGSV,3,3,12,24,04,342,,26,55,139,24,27,62,276,36,28,39,055,44"),
                  [](GpsData& g) { g.satellites[11].snr = 44; }}),
    RowName);

// ---------------------------------------------------------------------------------------------
// Every talker: combined and single-constellation fixes, skies per constellation

void SetSat(GpsData& g, int slot, Talker talker, std::uint16_t prn, std::uint16_t el,
            std::uint16_t az, std::uint16_t snr)
{
    SetSlot(g, slot, prn, el, az, snr);
    g.satellites[slot].talker = talker;
}

// A second position, 2 km away, to see which talker the fix follows.
const double kOtherLat = 48.135;
const std::string kGlGgaSameSecond =
    WithChecksum("$GLGGA,123519,4808.100,N,01131.000,E,1,04,1.9,550.0,M,46.9,M,,");
const std::string kGnRmc =
    WithChecksum("$GNRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W,A,V");
// GPS and GLONASS skies of one second, each its own GSV group.
const std::string kGlGsv = WithChecksum("$GLGSV,1,1,03,65,10,100,30,66,20,200,31,81,30,300,");
const std::vector<std::string> kTwoSkies = {kUbloxGsv1, kUbloxGsv2, kUbloxGsv3, kGlGsv};

void GlonassAt12(GpsData& g)
{
    SetSat(g, 12, Talker::GL, 65, 10, 100, 30);
    SetSat(g, 13, Talker::GL, 66, 20, 200, 31);
    SetSat(g, 14, Talker::GL, 81, 30, 300, 0);
}

class TalkerTest : public testing::TestWithParam<DecodeRow>
{
};

TEST_P(TalkerTest, EveryConstellation)
{
    RunRow(GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TalkerTest,
    testing::Values(
        DecodeRow{"CombinedGgaTakesOverFromGps", {kGga},
                  WithChecksum("$GNGGA,123520,4808.100,N,01131.000,E,1,12,0.9,550.0,M,46.9,M,,"),
                  [](GpsData& g) { g.second = 20; g.latitude = kOtherLat; g.altitude = 550.0; }},
        DecodeRow{"GlonassFixOfSameSecondLeavesGpsFix", {kGga}, kGlGgaSameSecond, kNothing},
        DecodeRow{"GlonassFixTwoSecondsLaterStillLeavesGpsFix", {kGga},
                  WithChecksum("$GLGGA,123521,4808.100,N,01131.000,E,1,04,1.9,550.0,M,46.9,M,,"),
                  [](GpsData& g) { g.second = 21; }},
        DecodeRow{"GlonassFixTakesOverAfterGpsSilentThreeSeconds", {kGga},
                  WithChecksum("$GLGGA,123522,4808.100,N,01131.000,E,1,04,1.9,550.0,M,46.9,M,,"),
                  [](GpsData& g) { g.second = 22; g.latitude = kOtherLat; g.altitude = 550.0; }},
        // SiRFstarV: GPGGA beside GNRMC. The GGA gives the altitude the RMC lacks.
        DecodeRow{"GpsGgaLeavesCombinedPositionGivesAltitude", {kGnRmc},
                  WithChecksum("$GPGGA,123519,4808.100,N,01131.000,E,1,08,0.9,600.0,M,46.9,M,,"),
                  [](GpsData& g) { g.fixMode = 3; g.altitude = 600.0; }},
        DecodeRow{"GpsRmcLeavesCombinedSpeed", {kGnRmc},
                  WithChecksum("$GPRMC,123519,A,4808.100,N,01131.000,E,001.0,001.0,230394,003.1,W"),
                  kNothing},
        DecodeRow{"CombinedRmcWithNavigationalStatus", {},
                  "$GNRMC,014500.00,A,4404.1306024,N,12118.8446777,W,0.013,,231221,,,D,V*04\r\n",
                  [](GpsData& g) { g.fixMode = 2; g.hour = 1; g.minute = 45; g.second = 0; g.day = 23; g.month = 12;
                                   g.year = 2021; g.latitude = 44.0 + 4.1306024 / 60.0; g.longitude = -(121.0 + 18.8446777 / 60.0);
                                   g.speed = 0.013; }},
        DecodeRow{"GalileoRmc", {},
                  WithChecksum("$GARMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,,"),
                  [](GpsData& g) { g.fixMode = 2; g.hour = 12; g.minute = 35; g.second = 19; g.day = 23;
                                   g.month = 3; g.year = 2094; g.latitude = kLat; g.longitude = kLon;
                                   g.speed = 22.4; g.course = 84.4; }},
        DecodeRow{"BeidouGbGga", {},
                  WithChecksum("$GBGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"),
                  [](GpsData& g) { g.fixMode = 3; g.hour = 12; g.minute = 35; g.second = 19; g.latitude = kLat;
                                   g.longitude = kLon; g.altitude = 545.4; }},
        DecodeRow{"NavicGiGsa", {}, WithChecksum("$GIGSA,A,3,,,,,,,,,,,,,2.5,1.3,2.1"),
                  [](GpsData& g) { g.fixMode = 3; g.pdop = 2.5f; g.hdop = 1.3f; }},
        DecodeRow{"OtherTalkerRanksBelowGps", {kGga},
                  WithChecksum("$INGGA,123520,4808.100,N,01131.000,E,1,12,0.9,550.0,M,46.9,M,,"),
                  [](GpsData& g) { g.second = 20; }},
        // A fish finder's integrated navigation: the only fix there is.
        DecodeRow{"OtherTalkerAloneGivesTheFix", {},
                  WithChecksum("$INRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W"),
                  [](GpsData& g) { g.fixMode = 2; g.hour = 12; g.minute = 35; g.second = 19; g.day = 23;
                                   g.month = 3; g.year = 2094; g.latitude = kLat; g.longitude = kLon;
                                   g.speed = 22.4; g.course = 84.4; }},
        DecodeRow{"GlonassSkyKeepsGpsSlots", kUbloxSky, kGlGsv, GlonassAt12},
        DecodeRow{"GpsSkyGrowsAheadOfGlonass", kTwoSkies, "$GPGSV,4,4,13,32,76,331,31*48\r\n",
                  [](GpsData& g) { SetSat(g, 12, Talker::GP, 32, 76, 331, 31);
                                   for (int i = 13; i < 16; ++i) g.satellites[i] = {};
                                   SetSat(g, 16, Talker::GL, 65, 10, 100, 30);
                                   SetSat(g, 17, Talker::GL, 66, 20, 200, 31);
                                   SetSat(g, 18, Talker::GL, 81, 30, 300, 0); }},
        DecodeRow{"NoGlonassInViewLeavesGps", kTwoSkies, WithChecksum("$GLGSV,1,1,00"),
                  [](GpsData& g) { for (int i = 12; i < 15; ++i) ClearSlot(g, i); }},
        DecodeRow{"GalileoGsvAfterGlonass", kTwoSkies,
                  WithChecksum("$GAGSV,1,1,01,102,28,167,40"),
                  [](GpsData& g) { SetSat(g, 16, Talker::GA, 102, 28, 167, 40); }},
        DecodeRow{"BeidouBdGsv", {}, "$BDGSV,2,2,07,05,27,090,,13,19,016,,11,07,147,*5E\r\n",
                  [](GpsData& g) { SetSat(g, 4, Talker::BD, 5, 27, 90, 0);
                                   SetSat(g, 5, Talker::BD, 13, 19, 16, 0);
                                   SetSat(g, 6, Talker::BD, 11, 7, 147, 0); }},
        DecodeRow{"QzssGqGsvNmea411", {}, WithChecksum("$GQGSV,1,1,01,02,05,042,29,1"),
                  [](GpsData& g) { SetSat(g, 0, Talker::GQ, 2, 5, 42, 29); }},
        DecodeRow{"QuectelQzGsv", {}, "$QZGSV,1,1,01,02,05,042,29*5E\r\n",
                  [](GpsData& g) { SetSat(g, 0, Talker::QZ, 2, 5, 42, 29); }},
        // u-blox F9P: the L2 listing of the same satellites after the L1 one.
        DecodeRow{"SecondSignalKeepsStrongestSnr",
                  {WithChecksum("$GPGSV,1,1,03,01,25,070,31,07,13,130,23,14,66,049,,1")},
                  WithChecksum("$GPGSV,1,1,03,01,25,070,37,07,13,130,18,14,66,049,38,6"),
                  [](GpsData& g) { SetSlot(g, 0, 1, 25, 70, 37); SetSlot(g, 2, 14, 66, 49, 38); }},
        DecodeRow{"SecondSignalAddsSatelliteInFreeSlot",
                  {WithChecksum("$GPGSV,1,1,03,01,25,070,31,07,13,130,23,14,66,049,,1")},
                  WithChecksum("$GPGSV,1,1,01,09,40,100,44,6"),
                  [](GpsData& g) { SetSlot(g, 3, 9, 40, 100, 44); }},
        DecodeRow{"NextLeadCycleResetsMergedSnr",
                  {WithChecksum("$GPGSV,1,1,02,01,25,070,31,07,13,130,23,1"),
                   WithChecksum("$GPGSV,1,1,02,01,25,070,37,07,13,130,18,6")},
                  WithChecksum("$GPGSV,1,1,02,01,25,070,30,07,13,130,22,1"),
                  [](GpsData& g) { g.satellites[0].snr = 30; g.satellites[1].snr = 22; }},
        // Quectel: the last message of the cycle repeats earlier satellites for signal 8.
        DecodeRow{"QuectelSignalMessageEndsCycleAndMerges",
                  {kUbloxGsv1, kUbloxGsv2, kUbloxGsv3, kUbloxGsa,
                   WithChecksum("$GPGSV,2,1,06,02,25,260,39,04,15,092,27,06,12,215,45,07,80,137,44")},
                  WithChecksum("$GPGSV,2,2,06,06,,,50,07,,,30,8"),
                  [](GpsData& g) { g.satellites[2].snr = 50;
                                   for (int i = 4; i < 8; ++i) g.satellites[i] = {};
                                   for (int i = 8; i < 12; ++i) g.satellites[i] = {}; }},
        // GSA per constellation.
        DecodeRow{"GlonassGsaKeepsGpsUsed",
                  {kUbloxGsv1, kUbloxGsv2, kUbloxGsv3, kGlGsv,
                   WithChecksum("$GNGSA,A,3,27,15,09,,,,,,,,,,1.8,0.9,1.5")},
                  WithChecksum("$GNGSA,A,3,66,81,,,,,,,,,,,1.7,0.8,1.4"),
                  [](GpsData& g) { g.satellites[13].used = true; g.satellites[14].used = true;
                                   g.pdop = 1.7f; g.hdop = 0.8f; }},
        DecodeRow{"GpsGsaRecomputesOnlyGps",
                  {kUbloxGsv1, kUbloxGsv2, kUbloxGsv3, kGlGsv, kUbloxGsa,
                   WithChecksum("$GNGSA,A,3,66,,,,,,,,,,,,1.7,0.8,1.4")},
                  WithChecksum("$GNGSA,A,3,05,,,,,,,,,,,,1.8,0.9,1.5"),
                  [](GpsData& g) { for (int i = 0; i < 12; ++i) g.satellites[i].used = false;
                                   g.satellites[0].used = true; g.pdop = 1.8f; g.hdop = 0.9f; }},
        DecodeRow{"SystemIdBeatsPrnRange",
                  {kUbloxGsv1, WithChecksum("$GQGSV,1,1,02,08,30,100,40,09,35,120,41")},
                  WithChecksum("$GNGSA,A,3,08,09,,,,,,,,,,,1.0,0.5,0.8,5"),
                  [](GpsData& g) { g.fixMode = 3; g.satellites[4].used = true;
                                   g.satellites[5].used = true; g.pdop = 1.0f; g.hdop = 0.5f; }},
        DecodeRow{"F9pGlonassSystemId",
                  {kGlGsv},
                  "$GNGSA,A,3,70,78,82,79,88,81,69,,,,,,0.98,0.49,0.84,2*08\r\n",
                  [](GpsData& g) { g.fixMode = 3; g.satellites[2].used = true; g.pdop = 0.98f;
                                   g.hdop = 0.49f; }},
        DecodeRow{"EmptyCombinedGsaWithFixKeepsUsed", kUbloxSky,
                  WithChecksum("$GNGSA,A,3,,,,,,,,,,,,,1.0,0.5,0.8"),
                  [](GpsData& g) { g.pdop = 1.0f; g.hdop = 0.5f; }},
        DecodeRow{"EmptyCombinedGsaWithoutFixClearsUsed", kUbloxSky,
                  WithChecksum("$GNGSA,A,1,,,,,,,,,,,,,9.9,9.9,9.9"),
                  [](GpsData& g) { g.fixMode = 1; for (auto& s : g.satellites) s.used = false;
                                   g.pdop = 9.9f; g.hdop = 9.9f; }},
        // A GN GSA without a system id, GPS and GLONASS PRNs in one list.
        DecodeRow{"MixedCombinedGsaMarksEachSystem", {kUbloxGsv1, kGlGsv},
                  WithChecksum("$GNGSA,A,3,05,08,65,66,,,,,,,,,1.9,1.0,1.6"),
                  [](GpsData& g) { g.fixMode = 3; for (int slot : {0, 1, 4, 5}) g.satellites[slot].used = true;
                                   g.pdop = 1.9f; g.hdop = 1.0f; }},
        DecodeRow{"QzssUnderGpsTalkerMarkedByGpsGsa",
                  {WithChecksum("$GPGSV,1,1,02,193,40,100,44,05,20,200,30")},
                  WithChecksum("$GPGSA,A,3,193,05,,,,,,,,,,,1.9,1.0,1.6"),
                  [](GpsData& g) { g.fixMode = 3; g.satellites[0].used = true; g.satellites[1].used = true;
                                   g.pdop = 1.9f; g.hdop = 1.0f; }},
        DecodeRow{"QzssUnderGpsTalkerMarkedByCombinedGsa",
                  {WithChecksum("$GPGSV,1,1,02,193,40,100,44,05,20,200,30")},
                  WithChecksum("$GNGSA,A,3,193,,,,,,,,,,,,1.9,1.0,1.6"),
                  [](GpsData& g) { g.fixMode = 3; g.satellites[0].used = true; g.pdop = 1.9f; g.hdop = 1.0f; }},
        // telit-pls83-w: Galileo E5a (signal 2) sees nothing; E1 (7) still sees two.
        DecodeRow{"EmptySecondSignalListingKeepsTheFirst",
                  {WithChecksum("$GAGSV,1,1,02,02,25,070,31,07,13,130,23,7")}, WithChecksum("$GAGSV,1,1,00,2"),
                  kNothing},
        DecodeRow{"EmptyLeadSignalListingClears",
                  {WithChecksum("$GAGSV,1,1,02,02,25,070,31,07,13,130,23,7")}, WithChecksum("$GAGSV,1,1,00,7"),
                  [](GpsData& g) { ClearSlot(g, 0); ClearSlot(g, 1); }},
        // quectel-eg25-g: its BeiDou sky only in the proprietary PQGSV, signal and system id last.
        DecodeRow{"QuectelPqGsvIsBeidou", {},
                  "$PQGSV,2,1,08,02,20,116,,03,,,,05,34,137,,07,06,045,,0,4*52\r\n",
                  [](GpsData& g) { SetSat(g, 0, Talker::GB, 2, 20, 116, 0); SetSat(g, 1, Talker::GB, 3, 0, 0, 0);
                                   g.satellites[1].noPosition = true; SetSat(g, 2, Talker::GB, 5, 34, 137, 0);
                                   SetSat(g, 3, Talker::GB, 7, 6, 45, 0); }},
        DecodeRow{"QuectelPqGsaMarksBeidou", {"$PQGSV,2,1,08,02,20,116,,03,,,,05,34,137,,07,06,045,,0,4*52\r\n"},
                  WithChecksum("$PQGSA,A,3,02,05,,,,,,,,,,,1.0,0.5,0.8,4"),
                  [](GpsData& g) { g.fixMode = 3; g.satellites[0].used = true; g.satellites[2].used = true;
                                   g.pdop = 1.0f; g.hdop = 0.5f; }},
        DecodeRow{"BeidouBdGsaMarksBeidou",
                  {kUbloxGsv1, "$BDGSV,2,2,07,05,27,090,,13,19,016,,11,07,147,*5E\r\n"},
                  WithChecksum("$BDGSA,A,3,05,11,,,,,,,,,,,2.1,1.1,1.8,1.2"),
                  [](GpsData& g) { g.fixMode = 3; g.satellites[8].used = true;
                                   g.satellites[10].used = true; g.pdop = 2.1f; g.hdop = 1.1f; }}),
    RowName);

// ---------------------------------------------------------------------------------------------
// GLL, GNS, VTG and ZDA; the fix mode without GSA

class MoreSentencesTest : public testing::TestWithParam<DecodeRow>
{
};

TEST_P(MoreSentencesTest, WhatTheReceiverSays)
{
    RunRow(GetParam());
}

const std::string kGsaMode2 = WithChecksum("$GPGSA,A,2,,,,,,,,,,,,,,,");
// humminbird-M37 at 12:35:0s: GGA quality 2 with the altitude (or without), RMC status A.
std::string HumGga(int second, bool altitude = true)
{
    return WithChecksum("$GPGGA,12350" + std::to_string(second) + ",4807.038,N,01131.000,E,2,08,0.9," +
                        (altitude ? "545.4" : "") + ",M,46.9,M,,");
}
std::string HumRmc(int second)
{
    return WithChecksum("$GPRMC,12350" + std::to_string(second) + ",A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W");
}
std::string GgaAt(int second)
{
    return WithChecksum("$GPGGA,1235" + std::to_string(second) + ",4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, MoreSentencesTest,
    testing::Values(
        DecodeRow{"GllGivesPositionTimeAndFix", {}, "$GPGLL,5155.55442,N,00434.65873,E,083723.00,A,A*6E\r\n",
                  [](GpsData& g) { g.fixMode = 2; g.hour = 8; g.minute = 37; g.second = 23;
                                   g.latitude = 51.925907; g.longitude = 4.5776455; }},
        DecodeRow{"GllVoidIsNoFix", {kGga}, WithChecksum("$GPGLL,4807.038,N,01131.000,E,123520,V,N"),
                  [](GpsData& g) { g.fixMode = 1; g.second = 20; }},
        DecodeRow{"GllWithoutTimeOrStatusHasOnlyThePosition", {}, WithChecksum("$GPGLL,4807.038,S,01131.000,W,,"),
                  [](GpsData& g) { g.latitude = -kLat; g.longitude = -kLon; }},
        DecodeRow{"ZdaGivesDateAndTime", {}, "$GPZDA,193913.00,07,09,2018,00,00*63\r\n",
                  [](GpsData& g) { g.hour = 19; g.minute = 39; g.second = 13; g.day = 7; g.month = 9; g.year = 2018; }},
        DecodeRow{"ZdaZoneNotApplied", {}, WithChecksum("$GPZDA,193913.00,07,09,2018,-05,30"),
                  [](GpsData& g) { g.hour = 19; g.minute = 39; g.second = 13; g.day = 7; g.month = 9; g.year = 2018; }},
        DecodeRow{"ZdaWithoutDateGivesTime", {}, WithChecksum("$GPZDA,193913.00,,,,,"),
                  [](GpsData& g) { g.hour = 19; g.minute = 39; g.second = 13; }},
        DecodeRow{"ZdaAloneLetsTheFixExpire", {kGga}, WithChecksum("$GPZDA,123522.00,23,03,1994,00,00"),
                  [](GpsData& g) { g.fixMode = 1; g.second = 22; g.day = 23; g.month = 3; g.year = 1994; }},
        DecodeRow{"GnsGivesThreeDimensionalFix", {},
                  "$GNGNS,074157.799,3114.8902,N,12135.2443,E,ANNA,07,1.1,192.9,8.3,,0000*51\r\n",
                  [](GpsData& g) { g.fixMode = 3; g.hour = 7; g.minute = 41; g.second = 57; g.millisecond = 799;
                                   g.latitude = 31.0 + 14.8902 / 60.0; g.longitude = 121.0 + 35.2443 / 60.0;
                                   g.altitude = 192.9; }},
        DecodeRow{"GnsWithoutAltitudeIsTwoDimensional", {},
                  WithChecksum("$GPGNS,074157.799,3114.8902,N,12135.2443,E,A,07,1.1,,,,"),
                  [](GpsData& g) { g.fixMode = 2; g.hour = 7; g.minute = 41; g.second = 57; g.millisecond = 799;
                                   g.latitude = 31.0 + 14.8902 / 60.0; g.longitude = 121.0 + 35.2443 / 60.0; }},
        // quectel-eg25-g before its fix.
        DecodeRow{"GnsAllLettersNIsNoFix", {kGga}, "$GNGNS,191434.96,,,,,NNN,,,,,,*36\r\n",
                  [](GpsData& g) { g.fixMode = 1; g.hour = 19; g.minute = 14; g.second = 34; g.millisecond = 960;
                                   g.latitude = 0.0; g.longitude = 0.0; }},
        DecodeRow{"VtgGivesSpeedAndCourse", {kRmc}, WithChecksum("$GPVTG,054.7,T,034.4,M,005.5,N,010.2,K,A"),
                  [](GpsData& g) { g.speed = 5.5; g.course = 54.7; }},
        DecodeRow{"VtgBeforeNmea23", {kRmc}, WithChecksum("$GPVTG,054.7,034.4,005.5,010.2"),
                  [](GpsData& g) { g.speed = 5.5; g.course = 54.7; }},
        DecodeRow{"VtgEmptyKeepsMotion", {kRmc}, "$GPVTG,,T,,M,,N,,K,N*2C\r\n", kNothing},
        DecodeRow{"VtgOfLowerTalkerLeavesCombinedMotion",
                  {WithChecksum("$GNRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W,A,V")},
                  WithChecksum("$GLVTG,054.7,T,034.4,M,005.5,N,010.2,K,A"), kNothing},
        // ait250: RMC alone, status A, gives a 2D fix; a GGA with the altitude in the same
        // second makes it 3D.
        DecodeRow{"GgaBesideRmcMakesItThreeDimensional", {kRmc}, kGga,
                  [](GpsData& g) { g.fixMode = 3; g.altitude = 545.4; }},
        DecodeRow{"ListingSilentThreeSecondsIsGone", {kGga, kUbloxGsv1, kUbloxGsv2, kUbloxGsv3, kGlGsv, GgaAt(22)},
                  kUbloxGsv1, [](GpsData& g) { for (int i = 12; i < 15; ++i) g.satellites[i] = {}; }},
        DecodeRow{"GsaModeHoldsOverGga", {kGga, kGsaMode2}, GgaAt(20),
                  [](GpsData& g) { g.second = 20; }},
        DecodeRow{"GsaSilentThreeSecondsGgaTakesOver", {kGga, kGsaMode2, GgaAt(20), GgaAt(21)}, GgaAt(22),
                  [](GpsData& g) { g.fixMode = 3; g.second = 22; }},
        DecodeRow{"GsaBeforeAnyTimeCountsFromTheFirstTime", {kGsaMode2, kGga, GgaAt(21)}, GgaAt(22),
                  [](GpsData& g) { g.fixMode = 3; g.second = 22; }},
        // humminbird-M37: GGA (quality 2, altitude) every 4 s, RMC every second, no GSA. RMC's
        // "2D at least" keeps the 3D a GGA stated within 3 s, and lowers one older.
        DecodeRow{"HumminbirdRmcKeepsTheGgas3d", {HumGga(0), HumRmc(0), HumRmc(1), HumRmc(2)}, HumRmc(3),
                  [](GpsData& g) { g.second = 3; }},
        DecodeRow{"HumminbirdRmcLowersA3dOfFourSecondsAgo", {HumGga(0), HumRmc(0), HumRmc(1), HumRmc(2), HumRmc(3)},
                  HumRmc(4), [](GpsData& g) { g.fixMode = 2; g.second = 4; }},
        DecodeRow{"HumminbirdNextGgaAfterItsRmc", {HumGga(0), HumRmc(0), HumRmc(1), HumRmc(2), HumRmc(3), HumRmc(4)},
                  HumGga(4), [](GpsData& g) { g.fixMode = 3; }},
        DecodeRow{"HumminbirdRmcBesideA2dGgaStays2d", {HumGga(0), HumRmc(0), HumGga(1, false)}, HumRmc(1),
                  [](GpsData& g) { g.second = 1; }},
        // rx210: the GSAs of the last epoch without a fix say so; the next epoch's RMC and GGA
        // report the fix before any GSA does.
        DecodeRow{"Rx210FixOfANewerEpochOverrulesAnOldGsa",
                  {WithChecksum("$GPRMC,184041,V,,,,,,,240110,,,N"), WithChecksum("$GPGSA,A,1,,,,,,,,,,,,,,,")},
                  WithChecksum("$GPRMC,184042,A,4807.038,N,01131.000,E,0.1,1.0,240110,,,A"),
                  [](GpsData& g) { g.fixMode = 2; g.second = 42; g.latitude = kLat; g.longitude = kLon;
                                   g.speed = 0.1; g.course = 1.0; }},
        DecodeRow{"Rx210FixWithinThreeSecondsOfTheGsa",
                  {WithChecksum("$GPRMC,184100,V,,,,,,,240110,,,N"), WithChecksum("$GPGSA,A,1,,,,,,,,,,,,,,,")},
                  WithChecksum("$GPGGA,184101,4807.038,N,01131.000,E,1,04,2.0,545.4,M,46.9,M,,"),
                  [](GpsData& g) { g.fixMode = 3; g.second = 1; g.latitude = kLat; g.longitude = kLon;
                                   g.altitude = 545.4; }},
        DecodeRow{"Rx210UntimedGsaIsOfAnOlderEpoch", {WithChecksum("$GPGSA,A,1,,,,,,,,,,,,,,,")},
                  WithChecksum("$GPGGA,184102,4807.038,N,01131.000,E,1,04,2.0,545.4,M,46.9,M,,"),
                  [](GpsData& g) { g.fixMode = 3; g.hour = 18; g.minute = 41; g.second = 2; g.latitude = kLat;
                                   g.longitude = kLon; g.altitude = 545.4; }},
        DecodeRow{"GsaOfTheSameEpochStillSaysNoFix",
                  {WithChecksum("$GPGGA,184102,4807.038,N,01131.000,E,1,04,2.0,545.4,M,46.9,M,,"),
                   WithChecksum("$GPGSA,A,1,,,,,,,,,,,,,,,")},
                  WithChecksum("$GPRMC,184102,A,4807.038,N,01131.000,E,0.1,1.0,240110,,,A"),
                  [](GpsData& g) { g.day = 24; g.month = 1; g.year = 2010; g.speed = 0.1; g.course = 1.0; }}),
    RowName);

// ---------------------------------------------------------------------------------------------
// Satellites used: the GSA's word, listed by a GSV or not, else the GGA's count

struct UsedRow
{
    const char* name;
    std::vector<std::string> lines;
    int used;
    GnssSystem system; // where they are counted
};

class UsedCountTest : public testing::TestWithParam<UsedRow>
{
};

TEST_P(UsedCountTest, CountsWhatTheReceiverSaysItUses)
{
    GpsData gps;
    for (const std::string& line : GetParam().lines)
        DecodeSentence(line, gps);
    EXPECT_EQ(SatellitesUsed(gps), GetParam().used);
    int bySystem[kGnssSystems];
    SatellitesUsedBySystem(gps, bySystem);
    EXPECT_EQ(bySystem[static_cast<int>(GetParam().system)], GetParam().used);
}

const std::string kGga9 = WithChecksum("$GPGGA,123519,4807.038,N,01131.000,E,1,09,0.9,545.4,M,46.9,M,,");
const std::string kGsa9 = WithChecksum("$GPGSA,A,3,27,15,09,28,18,08,05,12,26,,,,1.8,0.9,1.5");

INSTANTIATE_TEST_SUITE_P(
    Rows, UsedCountTest,
    testing::Values(
        UsedRow{"GsaWithoutGsv", {kGga9, kGsa9}, 9, GnssSystem::Gps},
        UsedRow{"GgaCountWithoutGsaOrGsv", {kGga9}, 9, GnssSystem::Gps},
        UsedRow{"GgaCountBesideAGsvWithoutGsa", {kUbloxGsv1, kUbloxGsv2, kUbloxGsv3, kGga9}, 9, GnssSystem::Gps},
        // The GSA names each satellite; the GGA's count (here 12) gives way to it.
        UsedRow{"GsaWinsOverADifferentGgaCount",
                {WithChecksum("$GPGGA,123519,4807.038,N,01131.000,E,1,12,0.9,545.4,M,46.9,M,,"), kGsa9}, 9,
                GnssSystem::Gps},
        // Six of the GSA's PRNs are in the GSV's slots, three are not: nine all the same.
        UsedRow{"GsvListsSomeOfThem", {kUbloxGsv1, kUbloxGsv2, kUbloxGsv3, kGsa9}, 9, GnssSystem::Gps},
        UsedRow{"ListedLaterStillCountedOnce", {kGsa9, kUbloxGsv1, kUbloxGsv2, kUbloxGsv3}, 9, GnssSystem::Gps},
        UsedRow{"NextGsaCountsAfresh", {kGsa9, WithChecksum("$GPGSA,A,3,27,15,09,28,,,,,,,,,1.8,0.9,1.5")}, 4,
                GnssSystem::Gps},
        UsedRow{"NoFixGsaEmptiesIt", {kGsa9, WithChecksum("$GPGSA,A,1,,,,,,,,,,,,,,,")}, 0, GnssSystem::Gps},
        // u-blox F9P: one GN GSA per system id, GLONASS and Galileo never listed by a GSV.
        UsedRow{"GlonassBySystemId", {WithChecksum("$GNGSA,A,3,70,78,82,79,88,81,69,,,,,,0.98,0.49,0.84,2")}, 7,
                GnssSystem::Glonass},
        UsedRow{"GalileoBySystemId", {WithChecksum("$GNGSA,A,3,13,31,01,09,04,26,21,,,,,,0.98,0.49,0.84,3")}, 7,
                GnssSystem::Galileo},
        // Without a system id each PRN speaks for its own system.
        UsedRow{"GlonassByPrnRange", {WithChecksum("$GNGSA,A,3,70,78,82,,,,,,,,,,1.9,1.0,1.6")}, 3,
                GnssSystem::Glonass},
        // A combined fix's count names no one system.
        UsedRow{"CombinedGgaCount", {WithChecksum("$GNGGA,123519,4807.038,N,01131.000,E,1,17,0.9,545.4,M,46.9,M,,")},
                17, GnssSystem::Unknown}),
    [](const auto& info) { return std::string(info.param.name); });

// A receiver that moves between talkers, as in gpsd's nmea-rtk capture (10 Hz, GN sentences,
// then GP ones for a while, then GN again): each epoch a GGA and an RMC of one talker, or of
// two (the first talker's first). After each epoch the position is the one of the epoch `shows`
// names (its index) that the talker `by` sent, and the altitude that epoch's.
struct TalkerEpoch
{
    std::vector<std::string> talkers;
    const char* time;
    int shows;
    std::string by;
};

struct TalkerChangeRow
{
    const char* name;
    std::vector<TalkerEpoch> epochs;
};

class TalkerChangeTest : public testing::TestWithParam<TalkerChangeRow>
{
};

// Epoch i's own position: 48 degrees 7.001 + i thousandths of a minute north, GP's a tenth of
// a minute further, so that every epoch and talker is told apart; its altitude 100 + i.
std::string EpochLatitude(int epoch, const std::string& talker)
{
    return "4807." + std::to_string((talker == "GP" ? 100 : 0) + epoch + 1 + 1000).substr(1);
}

TEST_P(TalkerChangeTest, ThePositionFollowsTheTalkerThatStillSpeaks)
{
    GpsData gps;
    const std::vector<TalkerEpoch>& epochs = GetParam().epochs;
    for (std::size_t i = 0; i < epochs.size(); ++i)
    {
        const int epoch = static_cast<int>(i);
        for (const std::string& talker : epochs[i].talkers)
        {
            const std::string lat = EpochLatitude(epoch, talker);
            const std::string alt = std::to_string(100 + epoch) + ".0";
            DecodeSentence(WithChecksum("$" + talker + "GGA," + epochs[i].time + "," + lat +
                                        ",N,01131.000,E,4,12,0.7," + alt + ",M,46.9,M,1.0,0000"), gps);
            DecodeSentence(WithChecksum("$" + talker + "RMC," + epochs[i].time + ",A," + lat +
                                        ",N,01131.000,E,0.1,,091226,,,R"), gps);
        }
        GpsData alone;
        DecodeSentence(WithChecksum("$GPGGA," + std::string(epochs[i].time) + "," +
                                    EpochLatitude(epochs[i].shows, epochs[i].by) + ",N,01131.000,E,4,12,0.7,1,M,,,,"), alone);
        EXPECT_DOUBLE_EQ(gps.latitude, alone.latitude) << "epoch " << i << " at " << epochs[i].time;
        EXPECT_DOUBLE_EQ(gps.altitude, 100.0 + epochs[i].shows) << "epoch " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TalkerChangeTest,
    testing::Values(
        // GP's first epoch still stands beside GN's last (a GP sentence may come before the GN
        // one of its epoch); from its second GP is followed, and GN again at once.
        TalkerChangeRow{"GnToGpAndBackAtTenHertz",
                        {{{"GN"}, "120000.00", 0, "GN"}, {{"GN"}, "120000.10", 1, "GN"},
                         {{"GN"}, "120000.20", 2, "GN"}, {{"GP"}, "120000.30", 2, "GN"},
                         {{"GP"}, "120000.40", 4, "GP"}, {{"GP"}, "120000.50", 5, "GP"},
                         {{"GP"}, "120000.60", 6, "GP"}, {{"GN"}, "120000.70", 7, "GN"},
                         {{"GN"}, "120000.80", 8, "GN"}, {{"GP"}, "120000.90", 8, "GN"},
                         {{"GP"}, "120001.00", 10, "GP"}}},
        TalkerChangeRow{"GnToGpOnceASecond",
                        {{{"GN"}, "120000", 0, "GN"}, {{"GP"}, "120001", 0, "GN"}, {{"GP"}, "120002", 2, "GP"},
                         {{"GP"}, "120003", 3, "GP"}, {{"GN"}, "120004", 4, "GN"}}},
        // Across midnight the epochs still follow one another.
        TalkerChangeRow{"GnToGpOverMidnight",
                        {{{"GN"}, "235959.80", 0, "GN"}, {{"GP"}, "235959.90", 0, "GN"},
                         {{"GP"}, "000000.00", 2, "GP"}}},
        // Both talkers every epoch, GP's sentences first (as SiRFstarV sends them): GN's
        // position stands throughout, and GP's takes over only when GN stops.
        TalkerChangeRow{"GpBesideGnEveryEpoch",
                        {{{"GN"}, "120000", 0, "GN"}, {{"GP", "GN"}, "120001", 1, "GN"},
                         {{"GP", "GN"}, "120002", 2, "GN"}, {{"GP"}, "120003", 2, "GN"},
                         {{"GP"}, "120004", 4, "GP"}}}),
    [](const auto& info) { return std::string(info.param.name); });

// SiRFstarV sends GPGGA and GLGGA beside GNRMC every second: once the combined fix is there,
// the position follows it on every later line, and the altitude follows GPGGA.
TEST(CombinedFix, SirfstarvPositionFollowsGnThroughout)
{
    const auto lines = nmea_test::CutLines(nmea_test::ReadFile(nmea_test::CorpusPath("sirfstarv-nmea.nmea")));
    GpsData gps;
    bool combined = false;
    int checked = 0;
    for (const std::string& line : lines)
    {
        const GpsData before = gps;
        DecodeSentence(line, gps);
        const bool single = line.rfind("$GPGGA", 0) == 0 || line.rfind("$GLGGA", 0) == 0;
        if (line.rfind("$GNRMC", 0) == 0)
        {
            GpsData alone;
            DecodeSentence(line, alone);
            EXPECT_FLOAT_EQ(gps.latitude, alone.latitude) << line;
            combined = true;
        }
        else if (combined && single)
        {
            ++checked;
            EXPECT_EQ(gps.latitude, before.latitude) << line;
            EXPECT_EQ(gps.longitude, before.longitude) << line;
        }
        if (line.rfind("$GLGGA", 0) == 0)
        {
            EXPECT_EQ(gps.altitude, before.altitude) << "GLGGA moved the GPGGA altitude: " << line;
        }
    }
    EXPECT_GT(checked, 50);
}

// No message number lets a GSV write past the record's last slot.
TEST(GsvBounds, HighMessageNumbersStayInsideRecord)
{
    for (const char* number : {"17", "18", "99", "65535", "2147483647"})
    {
        GpsData gps;
        for (const auto& line : kUbloxSky)
            DecodeSentence(line, gps);
        const GpsData before = gps;
        DecodeSentence(WithChecksum(std::string("$GPGSV,9,") + number +
                                    ",36,01,01,001,01,02,02,002,02,03,03,003,03,04,04,004,04"),
                       gps);
        EXPECT_TRUE(SameBits(gps, before)) << "message " << number;
    }
}

// The per-sentence decoders are public too: they make no checksum test and throw nothing.
TEST(DirectDecoders, AcceptSentenceWithoutChecksumAndNeverThrow)
{
    GpsData gps;
    DecodeGGA("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,", gps);
    EXPECT_EQ(gps.second, 19);
    EXPECT_FLOAT_EQ(gps.longitude, kLon);

    EXPECT_NO_THROW(DecodeRMC("$GPRMC,1", gps));
    EXPECT_NO_THROW(DecodeGSA("$GPGSA,A,x", gps));
    EXPECT_NO_THROW(DecodeGGA("", gps));
    EXPECT_EQ(gps.second, 19);

    // GSV without an asterisk has nothing to cut off, so it is ignored.
    const GpsData before = gps;
    DecodeGSV("$GPGSV,1,1,01,05,04,187,30", gps);
    EXPECT_TRUE(SameBits(gps, before));
    DecodeGSV("$GPGSV,1,1,01,05,04,187,30*", gps);
    EXPECT_EQ(gps.satellites[0].prn, 5);
    EXPECT_EQ(gps.satellites[0].snr, 30);
}

} // namespace
