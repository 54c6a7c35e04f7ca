// UBX decoders: each row decodes some frames to reach a starting record, then one more frame,
// and states what that frame changes in the record as it stood.
#include "gps/UbxDecoders.h"

#include "gps/Ecef.h"
#include "gps/NmeaDecoders.h"
#include "gps/NmeaTestSupport.h"
#include "support/Binary.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace
{

using nmea_test::ExpectSameRecord;
using nmea_test::WithChecksum;
using namespace std::string_literals;

using Change = std::function<void(GpsData&)>;

struct UbxRow
{
    const char* name;
    std::vector<std::string> before;
    std::string frame;
    Change change;
};

void PrintTo(const UbxRow& row, std::ostream* os)
{
    *os << row.name;
}

constexpr std::uint8_t kKnownFix = kKnownPosition | kKnownAltitude | kKnownSpeed | kKnownCourse | kKnownPdop | kKnownTime;

// NAV-PVT as a u-blox 8 sends it: 2024-03-10 12:34:56.000, 3D fix, 18 satellites.
Payload Pvt()
{
    Payload p(92);
    p.U4(0, 304514000).U2(4, 2024).U1(6, 3).U1(7, 10).U1(8, 12).U1(9, 34).U1(10, 56).U1(11, 0x07);
    p.U1(20, 3).U1(21, 0x01).U1(23, 18);
    p.I4(24, 152120432).I4(28, 471290927).I4(32, 869218).I4(36, 826560);
    p.U4(40, 1400).U4(44, 2100).I4(60, 1000).I4(64, 19795060).U2(76, 156);
    return p;
}

std::string PvtFrame(const Payload& p)
{
    return UbxFrame(0x01, 0x07, p);
}

void PvtFields(GpsData& g)
{
    g.fixMode = 3;
    g.year = 2024, g.month = 3, g.day = 10, g.hour = 12, g.minute = 34, g.second = 56, g.millisecond = 0;
    g.latitude = 47.1290927, g.longitude = 15.2120432;
    g.altitude = 826.56f;
    g.speed = static_cast<float>(1.0 * 3600.0 / 1852.0);
    g.course = 197.9506f;
    g.horizontalAccuracy = 1.4f, g.verticalAccuracy = 2.1f;
    g.horizontalAccuracyKnown = g.verticalAccuracyKnown = true;
    g.pdop = 1.56f;
    g.decode.known |= kKnownFix;
}

// NAV-SAT of some satellites: gnssId, svId, cno, elevation, azimuth, flags.
struct Sv
{
    int gnssId, svId, cno, elevation, azimuth;
    std::uint32_t flags;
};
std::string SatFrame(const std::vector<Sv>& svs)
{
    Payload p(8 + 12 * svs.size());
    p.U4(0, 304514000).U1(4, 1).U1(5, static_cast<std::uint32_t>(svs.size()));
    for (std::size_t i = 0; i < svs.size(); ++i)
    {
        const std::size_t at = 8 + 12 * i;
        p.U1(at, svs[i].gnssId).U1(at + 1, svs[i].svId).U1(at + 2, svs[i].cno).I1(at + 3, svs[i].elevation);
        p.I2(at + 4, svs[i].azimuth).U4(at + 8, svs[i].flags);
    }
    return UbxFrame(0x01, 0x35, p);
}
constexpr std::uint32_t kUsedHealthy = 0x08 | 0x10;

// NAV-SIG signals: gnssId, svId, sigId, cno.
std::string SigFrame(const std::vector<std::array<int, 4>>& signals)
{
    Payload p(8 + 16 * signals.size());
    p.U4(0, 304514000).U1(4, 0).U1(5, static_cast<std::uint32_t>(signals.size()));
    for (std::size_t i = 0; i < signals.size(); ++i)
    {
        const std::size_t at = 8 + 16 * i;
        p.U1(at, signals[i][0]).U1(at + 1, signals[i][1]).U1(at + 2, signals[i][2]).U1(at + 6, signals[i][3]);
    }
    return UbxFrame(0x01, 0x43, p);
}

void SetSat(GpsData& g, int slot, Talker talker, std::uint16_t prn, std::uint16_t snr, std::uint16_t el, std::uint16_t az,
            bool used, std::uint8_t health, bool noPosition = false)
{
    SatelliteInfo& s = g.satellites[slot];
    s = SatelliteInfo{};
    s.talker = talker, s.prn = prn, s.snr = snr, s.used = used, s.health = health, s.noPosition = noPosition;
    if (!noPosition)
        s.elevation = el, s.azimuth = az;
}

// GPS week 2305 (2024-03-10 is its Sunday), 12:35:14 GPS time = 12:34:56 UTC with 18 leap seconds.
std::string TimeGpsFrame(std::uint32_t valid)
{
    return UbxFrame(0x01, 0x20, Payload(16).U4(0, 45314000).I4(4, 0).I2(8, 2305).I1(10, 18).U1(11, valid));
}

std::string SolFrame(int fixType, const Ecef& at)
{
    Payload p(52);
    p.U4(0, 45314000).I2(8, 2305).U1(10, fixType).U1(11, 0x0D);
    p.I4(12, static_cast<std::int32_t>(std::lround(at.x * 100))).I4(16, static_cast<std::int32_t>(std::lround(at.y * 100)));
    p.I4(20, static_cast<std::int32_t>(std::lround(at.z * 100))).U2(44, 250).U1(47, 9);
    return UbxFrame(0x01, 0x06, p);
}

// gpsd's report of a ZED-F9P's epoch: ECEF in cm and the latitude and longitude it gave.
const Ecef kF9pEcef{4195432.03, 1140820.66, 4652177.70};

class UbxDecodeTest : public testing::TestWithParam<UbxRow>
{
};

TEST_P(UbxDecodeTest, WritesTheRecord)
{
    const UbxRow& row = GetParam();
    GpsData gps;
    for (const std::string& frame : row.before)
        DecodeUbx(frame, gps);
    GpsData expected = gps;
    row.change(expected);
    DecodeUbx(row.frame, gps);
    ExpectSameRecord(gps, expected);
    EXPECT_EQ(gps.decode.known, expected.decode.known);
}

const Change kNothing = [](GpsData&) {};

INSTANTIATE_TEST_SUITE_P(
    Rows, UbxDecodeTest,
    testing::Values(
        UbxRow{"PvtFix", {}, PvtFrame(Pvt()), PvtFields},
        UbxRow{"PvtOlderShorterPayload", {}, UbxFrame(0x01, 0x07, std::string_view(Pvt()).substr(0, 84)), PvtFields},
        UbxRow{"PvtSouthAndWest", {}, PvtFrame(Pvt().I4(28, -349062266).I4(24, -1386081199)),
               [](GpsData& g) { PvtFields(g); g.latitude = -34.9062266; g.longitude = -138.6081199; }},
        UbxRow{"PvtDateRollsOver", {PvtFrame(Pvt().U2(4, 2023).U1(6, 12).U1(7, 31).U1(8, 23).U1(9, 59).U1(10, 59))},
               PvtFrame(Pvt().U2(4, 2024).U1(6, 1).U1(7, 1).U1(8, 0).U1(9, 0).U1(10, 0)),
               [](GpsData& g) { g.year = 2024, g.month = 1, g.day = 1, g.hour = 0, g.minute = 0, g.second = 0; }},
        // A negative fraction takes the instant back across midnight and the year.
        UbxRow{"PvtNegativeFractionBeforeMidnight", {},
               PvtFrame(Pvt().U2(4, 2024).U1(6, 1).U1(7, 1).U1(8, 0).U1(9, 0).U1(10, 0).I4(16, -600000)),
               [](GpsData& g) {
                   PvtFields(g);
                   g.year = 2023, g.month = 12, g.day = 31, g.hour = 23, g.minute = 59, g.second = 59, g.millisecond = 999;
               }},
        UbxRow{"PvtInvalidDateAndTimeLeaveThem", {}, PvtFrame(Pvt().U1(11, 0x00)),
               [](GpsData& g) {
                   PvtFields(g);
                   g.year = g.month = g.day = g.hour = g.minute = g.second = 0;
                   g.decode.known &= static_cast<std::uint8_t>(~kKnownTime);
               }},
        UbxRow{"PvtValidTimeOnly", {}, PvtFrame(Pvt().U1(11, 0x02)),
               [](GpsData& g) { PvtFields(g); g.year = g.month = g.day = 0; }},
        // Without gnssFixOK the solution is not to be used: no fix, no position.
        UbxRow{"PvtWithoutFixOk", {}, PvtFrame(Pvt().U1(21, 0x00)),
               [](GpsData& g) {
                   PvtFields(g);
                   g.fixMode = 1;
                   g.latitude = g.longitude = 0.0;
                   g.altitude = g.speed = g.course = 0.0f;
                   g.decode.known = kKnownPdop | kKnownTime;
               }},
        UbxRow{"PvtInvalidPositionFlag", {PvtFrame(Pvt())}, PvtFrame(Pvt().I4(28, 0).U1(78, 0x01)), kNothing},
        UbxRow{"PvtNoFixType", {}, PvtFrame(Pvt().U1(20, 0)),
               [](GpsData& g) { PvtFields(g); g.fixMode = 1; }},
        UbxRow{"PvtTwoDimensional", {}, PvtFrame(Pvt().U1(20, 2)), [](GpsData& g) { PvtFields(g); g.fixMode = 2; }},
        UbxRow{"PvtRtkFloat", {}, PvtFrame(Pvt().U1(21, 0x43)),
               [](GpsData& g) { PvtFields(g); g.rtk = RtkState::Float; }},
        UbxRow{"PvtRtkFixed", {}, PvtFrame(Pvt().U1(21, 0x83)),
               [](GpsData& g) { PvtFields(g); g.rtk = RtkState::Fixed; }},
        UbxRow{"PvtTooShortIgnored", {}, UbxFrame(0x01, 0x07, std::string_view(Pvt()).substr(0, 83)), kNothing},
        UbxRow{"SatSystemsThroughTheTable", {},
               SatFrame({{0, 3, 32, 35, 107, kUsedHealthy},
                         {6, 5, 20, -5, 300, 0x10},
                         {2, 11, 0, -91, 0, 0x20},
                         {3, 19, 41, 60, 10, kUsedHealthy},
                         {1, 123, 38, 30, 200, 0x10},
                         {4, 1, 40, 10, 10, 0}}),
               [](GpsData& g) {
                   SetSat(g, 0, Talker::GP, 3, 32, 35, 107, true, 1);
                   SetSat(g, 1, Talker::GL, 69, 20, 0, 300, false, 1);
                   SetSat(g, 2, Talker::GA, 311, 0, 0, 0, false, 2, true);
                   SetSat(g, 3, Talker::GB, 419, 41, 60, 10, true, 1);
                   SetSat(g, 4, Talker::GP, 36, 38, 30, 200, false, 1);
               }},
        UbxRow{"SatZeroSatellitesEmptiesTheSky", {SatFrame({{0, 3, 32, 35, 107, kUsedHealthy}})}, SatFrame({}),
               [](GpsData& g) { g.satellites[0] = SatelliteInfo{}; }},
        UbxRow{"SigStrongestSignalPerSatellite",
               {SatFrame({{0, 3, 32, 35, 107, kUsedHealthy}, {2, 11, 25, 20, 40, kUsedHealthy}})},
               SigFrame({{0, 3, 0, 30}, {0, 3, 3, 38}, {2, 11, 0, 21}, {3, 7, 0, 27}}),
               [](GpsData& g) {
                   g.satellites[0].snr = 38;
                   g.satellites[1].snr = 21;
                   SetSat(g, 2, Talker::GB, 407, 27, 0, 0, false, 0, true);
               }},
        UbxRow{"Dop", {}, UbxFrame(0x01, 0x04, Payload(18).U2(4, 183).U2(6, 156).U2(12, 80)),
               [](GpsData& g) { g.hdop = 0.8f, g.pdop = 1.56f, g.decode.known |= kKnownHdop | kKnownPdop; }},
        UbxRow{"DopNotKnown", {}, UbxFrame(0x01, 0x04, Payload(18).U2(6, 9999).U2(12, 9999)), kNothing},
        UbxRow{"Status", {}, UbxFrame(0x01, 0x03, Payload(16).U4(8, 30123).U4(12, 600000)),
               [](GpsData& g) { g.receiverTtff = 30123, g.receiverUptime = 600000; }},
        UbxRow{"TimeUtc", {},
               UbxFrame(0x01, 0x21, Payload(20).I4(8, 250000000).U2(12, 2024).U1(14, 2).U1(15, 29).U1(16, 23).U1(17, 5).U1(18, 7).U1(19, 0x07)),
               [](GpsData& g) {
                   g.year = 2024, g.month = 2, g.day = 29, g.hour = 23, g.minute = 5, g.second = 7, g.millisecond = 250;
                   g.decode.known |= kKnownTime;
               }},
        UbxRow{"TimeUtcNotValid", {},
               UbxFrame(0x01, 0x21, Payload(20).U2(12, 2024).U1(14, 2).U1(15, 29).U1(16, 23).U1(19, 0x03)), kNothing},
        UbxRow{"TimeGps", {}, TimeGpsFrame(0x07),
               [](GpsData& g) {
                   g.year = 2024, g.month = 3, g.day = 10, g.hour = 12, g.minute = 34, g.second = 56;
                   g.decode.known |= kKnownTime;
               }},
        UbxRow{"TimeGpsWithoutWeek", {}, TimeGpsFrame(0x05), kNothing},
        UbxRow{"SolPositionFromEcef", {TimeGpsFrame(0x07)}, SolFrame(3, kF9pEcef),
               [](GpsData& g) {
                   g.fixMode = 3, g.latitude = GeodeticOf(kF9pEcef).latitude, g.longitude = GeodeticOf(kF9pEcef).longitude;
                   g.pdop = 2.5f;
                   g.decode.known |= kKnownPosition | kKnownPdop;
               }},
        UbxRow{"SolNoFix", {}, SolFrame(0, kF9pEcef),
               [](GpsData& g) { g.fixMode = 1, g.pdop = 2.5f, g.decode.known |= kKnownPdop; }},
        UbxRow{"SolTimeOnlyIsThreeD", {}, SolFrame(5, kF9pEcef),
               [](GpsData& g) {
                   g.fixMode = 3, g.latitude = GeodeticOf(kF9pEcef).latitude, g.longitude = GeodeticOf(kF9pEcef).longitude;
                   g.pdop = 2.5f;
                   g.decode.known |= kKnownPosition | kKnownPdop;
               }},
        // Once NAV-PVT comes, the older messages of the same epoch write nothing of its fields.
        UbxRow{"SolAfterPvtWritesNothing", {PvtFrame(Pvt())}, SolFrame(2, {6378137.0, 0.0, 0.0}), kNothing},
        UbxRow{"PosLlh", {},
               UbxFrame(0x01, 0x02, Payload(28).I4(4, -1386081199).I4(8, -349062266).I4(16, 28849).U4(20, 1133).U4(24, 1603)),
               [](GpsData& g) {
                   g.latitude = -34.9062266, g.longitude = -138.6081199, g.altitude = 28.849f;
                   g.horizontalAccuracy = 1.133f, g.verticalAccuracy = 1.603f;
                   g.horizontalAccuracyKnown = g.verticalAccuracyKnown = true;
                   g.decode.known |= kKnownPosition | kKnownAltitude;
               }},
        UbxRow{"VelNed", {}, UbxFrame(0x01, 0x12, Payload(36).U4(20, 1852).I4(24, 3147180)),
               [](GpsData& g) { g.speed = static_cast<float>(1852 / 100.0 * 3600.0 / 1852.0), g.course = static_cast<float>(3147180 * 1e-5), g.decode.known |= kKnownSpeed | kKnownCourse; }},
        UbxRow{"SvInfoOlderNumbering", {},
               [] {
                   Payload p(8 + 12 * 5);
                   p.U1(4, 5);
                   const int svids[] = {1, 65, 211, 255, 40};
                   const int flags[] = {0x01, 0x10, 0x00, 0x01, 0x01};
                   for (int i = 0; i < 5; ++i)
                       p.U1(8 + 12 * i + 1, svids[i]).U1(8 + 12 * i + 2, flags[i]).U1(8 + 12 * i + 4, 30 + i).I1(8 + 12 * i + 5, 45).I2(8 + 12 * i + 6, 90);
                   return UbxFrame(0x01, 0x30, p);
               }(),
               [](GpsData& g) {
                   SetSat(g, 0, Talker::GP, 1, 30, 45, 90, true, 1);
                   SetSat(g, 1, Talker::GL, 65, 31, 45, 90, false, 2);
                   SetSat(g, 2, Talker::GA, 301, 32, 45, 90, false, 1);
                   SetSat(g, 3, Talker::GB, 408, 34, 45, 90, true, 1);
               }},
        UbxRow{"OtherClassChangesNothing", {}, UbxFrame(0x0A, 0x04, std::string(40, 'x')), kNothing},
        UbxRow{"EpochEndChangesNothing", {PvtFrame(Pvt())}, UbxFrame(0x01, 0x61, Payload(4).U4(0, 304514000)), kNothing}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// NMEA beside UBX: one source per field

const std::string kGga = WithChecksum("$GNGGA,123456.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,");
const std::string kGsv = WithChecksum("$GPGSV,1,1,01,07,40,100,44");

GpsData AfterFrames(const std::vector<Frame>& frames)
{
    GpsData gps;
    for (const Frame& frame : frames)
        DecodeFrame(frame, gps);
    return gps;
}

TEST(NmeaBesideUbx, UbxNavigationWinsOverNmea)
{
    const GpsData gps = AfterFrames({{FrameKind::Ubx, PvtFrame(Pvt())}, {FrameKind::Nmea, kGga}});
    GpsData expected;
    DecodeUbx(PvtFrame(Pvt()), expected);
    ExpectSameRecord(gps, expected);
}

TEST(NmeaBesideUbx, NmeaKeepsWhatUbxDoesNotSend)
{
    // NAV-PVT alone: the satellites still come from GSV.
    const GpsData gps = AfterFrames({{FrameKind::Ubx, PvtFrame(Pvt())}, {FrameKind::Nmea, kGsv}});
    EXPECT_EQ(gps.satellites[0].prn, 7);
    EXPECT_EQ(gps.satellites[0].snr, 44);
    EXPECT_EQ(gps.latitude, 47.1290927);
}

TEST(NmeaBesideUbx, UbxSkyWinsOverGsv)
{
    const GpsData gps =
        AfterFrames({{FrameKind::Ubx, SatFrame({{0, 3, 32, 35, 107, kUsedHealthy}})}, {FrameKind::Nmea, kGsv}, {FrameKind::Nmea, kGga}});
    EXPECT_EQ(SatellitesInView(gps), 1);
    EXPECT_EQ(gps.satellites[0].prn, 3);
    // The navigation fields are NMEA's: UBX sent none.
    EXPECT_NEAR(gps.latitude, 48.1173, 1e-9);
}

TEST(NmeaBesideUbx, NmeaTakesOverWhenUbxFallsSilent)
{
    std::vector<Frame> frames{{FrameKind::Ubx, PvtFrame(Pvt())}};
    for (int i = 0; i < kUbxPatience; ++i)
        frames.push_back({FrameKind::Nmea, kGga});
    EXPECT_EQ(AfterFrames(frames).latitude, 47.1290927);
    frames.push_back({FrameKind::Nmea, kGga});
    EXPECT_NEAR(AfterFrames(frames).latitude, 48.1173, 1e-9);
}

TEST(NmeaBesideUbx, GsvListsAfreshWhenUbxSkyFallsSilent)
{
    std::vector<Frame> frames{{FrameKind::Ubx, SatFrame({{0, 3, 32, 35, 107, kUsedHealthy}, {0, 9, 30, 20, 10, 0}})}};
    for (int i = 0; i < kUbxPatience; ++i)
        frames.push_back({FrameKind::Nmea, kGga});
    EXPECT_EQ(SatellitesInView(AfterFrames(frames)), 0);
    frames.push_back({FrameKind::Nmea, kGsv});
    const GpsData gps = AfterFrames(frames);
    EXPECT_EQ(SatellitesInView(gps), 1);
    EXPECT_EQ(gps.satellites[0].prn, 7);
}

TEST(NmeaBesideUbx, RtcmChangesNothing)
{
    EXPECT_EQ(AfterFrames({{FrameKind::Rtcm3, Rtcm3Frame("\x3E\xD0"s)}}), GpsData{});
}

// ---------------------------------------------------------------------------------------------
// Identity, names, epochs

TEST(MonVer, StringsOfTheReceiver)
{
    Payload p(40 + 2 * 30);
    p.Text(0, "ROM CORE 3.01 (107888)").Text(30, "00080000").Text(40, "FWVER=SPG 3.01").Text(70, "PROTVER=18.00");
    const auto version = DecodeMonVer(UbxFrame(0x0A, 0x04, p));
    ASSERT_TRUE(version);
    EXPECT_EQ(version->software, "ROM CORE 3.01 (107888)");
    EXPECT_EQ(version->hardware, "00080000");
    EXPECT_EQ(version->extensions, (std::vector<std::string>{"FWVER=SPG 3.01", "PROTVER=18.00"}));
    EXPECT_FALSE(DecodeMonVer(UbxFrame(0x0A, 0x04, std::string(39, 'x'))));
    EXPECT_FALSE(DecodeMonVer(PvtFrame(Pvt())));
}

TEST(UbxNames, KnownAndUnknown)
{
    EXPECT_EQ(UbxMessageName(0x01, 0x07), "NAV-PVT");
    EXPECT_EQ(UbxMessageName(0x0A, 0x04), "MON-VER");
    EXPECT_EQ(UbxMessageName(0x01, 0x61), "NAV-EOE");
    EXPECT_EQ(UbxMessageName(0x7F, 0x7F), "");
}

TEST(UbxEpochs, TimeOfWeekAndEnd)
{
    EXPECT_EQ(UbxEpochTow(PvtFrame(Pvt())), 304514000u);
    EXPECT_EQ(UbxEpochTow(UbxFrame(0x0A, 0x04, std::string(40, 'x'))), std::nullopt);
    EXPECT_TRUE(IsUbxEpochEnd(UbxFrame(0x01, 0x61, Payload(4))));
    EXPECT_FALSE(IsUbxEpochEnd(PvtFrame(Pvt())));
}

// ---------------------------------------------------------------------------------------------
// ECEF

TEST(Ecef, GpsdsReportOfAZedF9p)
{
    const Geodetic point = GeodeticOf(kF9pEcef);
    EXPECT_NEAR(point.latitude, 47.1290927, 2e-7);
    EXPECT_NEAR(point.longitude, 15.2120432, 2e-7);
    EXPECT_NEAR(point.height, 869.218, 0.02);
}

TEST(Ecef, RoundTripAnywhere)
{
    for (const Geodetic& point : {Geodetic{-34.9, 138.6, 28.8}, Geodetic{89.99, -45.0, 3000.0}, Geodetic{0.0, 180.0, -20.0},
                                  Geodetic{-89.999, 10.0, 0.0}})
    {
        const Geodetic back = GeodeticOf(EcefOf(point));
        EXPECT_NEAR(back.latitude, point.latitude, 1e-9);
        EXPECT_NEAR(back.longitude, point.longitude, 1e-9);
        EXPECT_NEAR(back.height, point.height, 1e-3);
    }
}

} // namespace
