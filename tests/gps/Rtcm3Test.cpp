// RTCM3: message numbers and names, the reference station of 1005 and 1006, and the summary
// of the corrections sent to the receiver.
#include "gps/Rtcm3.h"

#include "gps/CorrectionsSummary.h"
#include "gps/Framer.h"
#include "gps/NmeaFraming.h"
#include "support/Binary.h"
#include "support/Files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace
{

// Packs big-endian bit fields as RTCM 3 does.
class BitWriter
{
public:
    BitWriter& Put(std::uint64_t value, int count)
    {
        for (int i = count - 1; i >= 0; --i)
        {
            if (m_bits % 8 == 0)
                m_bytes.push_back('\0');
            if ((value >> i) & 1u)
                m_bytes.back() = static_cast<char>(m_bytes.back() | (0x80 >> (m_bits % 8)));
            ++m_bits;
        }
        return *this;
    }
    BitWriter& PutSigned(std::int64_t value, int count)
    {
        return Put(static_cast<std::uint64_t>(value) & ((std::uint64_t{1} << count) - 1), count);
    }
    const std::string& Bytes() const { return m_bytes; }

private:
    std::string m_bytes;
    int m_bits = 0;
};

std::string StationFrame(int type, int stationId, const Ecef& at, double antennaHeight = 0.0)
{
    BitWriter w;
    w.Put(type, 12).Put(stationId, 12).Put(0, 6).Put(1, 1).Put(1, 1).Put(0, 1).Put(0, 1);
    w.PutSigned(std::llround(at.x * 1e4), 38).Put(0, 2);
    w.PutSigned(std::llround(at.y * 1e4), 38).Put(0, 2);
    w.PutSigned(std::llround(at.z * 1e4), 38);
    if (type == 1006)
        w.Put(static_cast<std::uint64_t>(std::llround(antennaHeight * 1e4)), 16);
    return Rtcm3Frame(w.Bytes());
}

struct NameRow
{
    int type;
    const char* name;
};

class Rtcm3NameTest : public testing::TestWithParam<NameRow>
{
};

TEST_P(Rtcm3NameTest, NameOfNumber)
{
    EXPECT_EQ(Rtcm3MessageName(GetParam().type), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(Rows, Rtcm3NameTest,
                         testing::Values(NameRow{1077, "GPS MSM7"}, NameRow{1074, "GPS MSM4"}, NameRow{1087, "GLONASS MSM7"},
                                         NameRow{1097, "Galileo MSM7"}, NameRow{1107, "SBAS MSM7"},
                                         NameRow{1117, "QZSS MSM7"}, NameRow{1127, "BeiDou MSM7"},
                                         NameRow{1131, "NavIC MSM1"}, NameRow{1005, "station position"},
                                         NameRow{1019, "GPS ephemeris"}, NameRow{1070, ""}, NameRow{1078, ""},
                                         NameRow{1080, ""}, NameRow{1141, ""}, NameRow{0, ""}, NameRow{4095, ""}));

// Bend, Oregon, where the corpus's stream comes from.
const Geodetic kBase{44.0582, -121.3153, 1100.0};

TEST(Rtcm3Station, PositionOf1005)
{
    const Ecef at = EcefOf(kBase);
    const std::string frame = StationFrame(1005, 2003, at);
    EXPECT_EQ(Rtcm3MessageType(frame), 1005);
    const auto station = DecodeStationPosition(frame);
    ASSERT_TRUE(station);
    EXPECT_EQ(station->stationId, 2003);
    EXPECT_NEAR(station->position.x, at.x, 1e-4);
    EXPECT_NEAR(station->position.y, at.y, 1e-4);
    EXPECT_NEAR(station->position.z, at.z, 1e-4);
    EXPECT_EQ(station->antennaHeight, 0.0);
    const Geodetic point = StationGeodetic(*station);
    EXPECT_NEAR(point.latitude, kBase.latitude, 1e-8);
    EXPECT_NEAR(point.longitude, kBase.longitude, 1e-8);
    EXPECT_NEAR(point.height, kBase.height, 1e-3);
}

TEST(Rtcm3Station, SouthernAndWesternSigns1006)
{
    const Ecef at = EcefOf({-34.9062266, -58.5, 12.0});
    const auto station = DecodeStationPosition(StationFrame(1006, 4095, at, 1.5432));
    ASSERT_TRUE(station);
    EXPECT_EQ(station->stationId, 4095);
    EXPECT_NEAR(station->position.x, at.x, 1e-4);
    EXPECT_NEAR(station->position.z, at.z, 1e-4);
    EXPECT_NEAR(station->antennaHeight, 1.5432, 1e-9);
}

TEST(Rtcm3Station, ShortOrOtherFramesAreNoStation)
{
    EXPECT_FALSE(DecodeStationPosition(StationFrame(1005, 1, EcefOf(kBase)).substr(0, 10)));
    EXPECT_FALSE(DecodeStationPosition(Rtcm3Frame(std::string(19, '\0'))));
    EXPECT_EQ(Rtcm3MessageType(Rtcm3Frame("")), 0);
}

TEST(Rtcm3Station, DistanceFromAFix)
{
    const auto station = DecodeStationPosition(StationFrame(1005, 1, EcefOf(kBase)));
    ASSERT_TRUE(station);
    GpsData fix;
    EXPECT_FALSE(StationDistance(*station, fix)) << "no fix, no distance";
    fix.fixMode = 3;
    fix.latitude = kBase.latitude + 0.1; // a tenth of a degree north: 11.1 km at this latitude
    fix.longitude = kBase.longitude;
    fix.altitude = 1100.0f;
    fix.decode.known = kKnownPosition | kKnownAltitude;
    const auto distance = StationDistance(*station, fix);
    ASSERT_TRUE(distance);
    EXPECT_NEAR(*distance, 11118.0, 20.0);
}

// A message of `type` with `size` bytes of payload in all.
std::string MessageFrame(int type, std::size_t size)
{
    BitWriter w;
    w.Put(static_cast<std::uint64_t>(type), 12).Put(0, 4);
    std::string payload = w.Bytes();
    payload.resize(size, '\x55');
    return Rtcm3Frame(payload);
}

struct SummaryRow
{
    std::string name;
    std::vector<std::pair<int, std::string>> frames; // milliseconds after the start, frame
    int nowMs;
    bool withFix;
    std::string text;
};

class CorrectionsSummaryTest : public testing::TestWithParam<SummaryRow>
{
};

TEST_P(CorrectionsSummaryTest, Line)
{
    const SummaryRow& row = GetParam();
    const auto start = CorrectionsSummary::Clock::time_point{} + std::chrono::hours(1);
    CorrectionsSummary summary("BNDM");
    for (const auto& [ms, frame] : row.frames)
        summary.Add(frame, start + std::chrono::milliseconds(ms));
    GpsData fix;
    if (row.withFix)
    {
        fix.fixMode = 3;
        fix.latitude = kBase.latitude + 0.1;
        fix.longitude = kBase.longitude;
        fix.altitude = 1100.0f;
        fix.decode.known = kKnownPosition | kKnownAltitude;
    }
    EXPECT_EQ(summary.Text(start + std::chrono::milliseconds(row.nowMs), fix), row.text);
}

std::vector<SummaryRow> SummaryRows()
{
    // Each frame: 3 bytes of header, the payload, 3 of CRC.
    const std::string msm = MessageFrame(1077, 494);       // 500 bytes
    const std::string ephemeris = MessageFrame(1019, 94);  // 100 bytes
    const std::string station = StationFrame(1005, 7, EcefOf(kBase));
    std::vector<std::pair<int, std::string>> tenSeconds;
    for (int s = 0; s < 20; ++s)
        tenSeconds.push_back({s * 1000, msm});
    std::vector<std::pair<int, std::string>> withStation = {{0, station}, {500, msm}};
    return {
        {"NothingYet", {}, 5000, true, "BNDM  no corrections yet"},
        {"OneFrameRateOverASecond", {{0, msm}}, 400, false, "BNDM  500 B/s  age 0.4 s  1077"},
        {"YoungStreamOverItsLife", {{0, msm}, {1000, msm}, {2000, msm}, {3000, ephemeris}}, 4000, false,
         "BNDM  400 B/s  age 1.0 s  1019 1077"},
        {"OnlyTheLastTenSeconds", tenSeconds, 19500, false, "BNDM  500 B/s  age 0.5 s  1077"},
        {"KiloBytes", {{0, msm}, {0, msm}, {0, msm}}, 1000, false, "BNDM  1.5 kB/s  age 1.0 s  1077"},
        {"StoppedLongAgo", {{0, msm}}, 60000, false, "BNDM  0 B/s  age 60.0 s  1077"},
        {"BaseDistance", withStation, 1000, true, "BNDM  " + std::to_string((station.size() + 500)) + " B/s  age 0.5 s  base 11.1 km  1005 1077"},
        {"BaseWithoutFix", withStation, 1000, false, "BNDM  " + std::to_string((station.size() + 500)) + " B/s  age 0.5 s  1005 1077"},
    };
}

INSTANTIATE_TEST_SUITE_P(Rows, CorrectionsSummaryTest, testing::ValuesIn(SummaryRows()),
                         [](const auto& info) { return info.param.name; });

// The corpus's stream: every frame passes its CRC and has the number gpsd read.
TEST(Rtcm3Corpus, NumbersAsGpsdReadThem)
{
    Framer framer;
    const std::string bytes = ReadFile(std::string(ORVANE_CORPUS_DIR) + "/rtcm3.2.rtcm3");
    framer.Feed(std::string_view(bytes).substr(CaptureHeaderLength(bytes)));
    framer.Finish();
    std::vector<int> ours;
    for (Frame frame; framer.Next(frame);)
    {
        // The capture begins in the middle of a frame, which, before any frame has come, is
        // cut as text: a line the NMEA layer refuses.
        if (frame.kind == FrameKind::Nmea)
            EXPECT_FALSE(IsChecksumValid(frame.bytes));
        else
            ours.push_back(Rtcm3MessageType(frame.bytes));
    }

    std::vector<int> theirs;
    const std::string chk = ReadFile(std::string(ORVANE_CORPUS_DIR) + "/rtcm3.2.rtcm3.chk");
    const std::string report = "\"class\":\"RTCM3\",\"type\":";
    for (std::size_t at = chk.find(report); at != std::string::npos; at = chk.find(report, at + 1))
        theirs.push_back(std::stoi(chk.substr(at + report.size(), 5)));
    EXPECT_EQ(ours, theirs);
}

} // namespace
