// Every receiver capture streamed through the device over a pseudo-terminal, as the receiver
// would send it, with the queue and the snapshot checked against the capture itself and
// against gpsd's reading of it.
#include "device/GPSDevice.h"
#include "gps/EpochEnd.h"
#include "gps/Framer.h"
#include "gps/NmeaFraming.h"
#include "gps/UbxDecoders.h"
#include "support/Binary.h"

#include "device/DeviceTestSupport.h"
#include "support/PseudoTerminal.h"
#include "support/Files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace
{

const std::filesystem::path kCorpus = ORVANE_CORPUS_DIR;

struct Expectation
{
    int lines = 0;                   // lines the device hands on: LF-terminated, at most 1023 bytes
    std::vector<std::string> queued; // those of them with a valid checksum, cut at a NUL
    int overLong = 0;
    int withNul = 0;
};

// Cut at LF independently of the device: what a receiver's stream should come out as.
Expectation Expect(const std::string& capture)
{
    Expectation out;
    std::size_t start = 0;
    for (std::size_t lf; (lf = capture.find('\n', start)) != std::string::npos; start = lf + 1)
    {
        std::string line = capture.substr(start, lf + 1 - start);
        if (line.size() > 1023)
        {
            ++out.overLong;
            continue;
        }
        ++out.lines;
        if (const std::size_t nul = line.find('\0'); nul != std::string::npos)
        {
            ++out.withNul;
            line.resize(nul);
        }
        if (IsChecksumValid(line))
            out.queued.push_back(line);
    }
    return out;
}

struct StreamResult
{
    std::vector<ReceivedLine> queued; // records, marks and kinds included
    int notifications = 0;
    std::uint64_t skipped = 0;
};

// Writes the bytes to the receiver side in pieces of changing size, up to `maxPiece` (cutting
// lines and frames anywhere), while the test thread drains the queue, as the status view does.
StreamResult Stream(const std::string& bytes, int expectedNotifications, std::size_t maxPiece = 400)
{
    StreamResult result;
    PseudoTerminal pty;
    EXPECT_TRUE(pty.IsValid());
    Counter notifications;
    CGPSDevice device;
    boost::signals2::scoped_connection connection =
        device.ConnectNotification([&](int) { notifications.Raise(); });
    if (!device.OpenPort(pty.SlavePortName(), 115200))
    {
        ADD_FAILURE() << "cannot open " << pty.SlavePath();
        return result;
    }

    std::atomic<bool> written{true};
    std::thread receiver(
        [&]
        {
            std::size_t piece = 1;
            for (std::size_t at = 0; at < bytes.size(); at += piece)
            {
                piece = 1 + (at * 7 + 13) % maxPiece;
                written = written.load() && pty.Write(std::string_view(bytes).substr(at, piece));
            }
        });
    while (!notifications.WaitFor(expectedNotifications, std::chrono::milliseconds(5)))
    {
        device.PopLines(result.queued);
        if (!written)
            break;
    }
    receiver.join();
    EXPECT_TRUE(written);
    EXPECT_TRUE(notifications.WaitFor(expectedNotifications));
    device.Close();
    device.PopLines(result.queued);
    result.notifications = notifications.Value();
    result.skipped = device.SkippedByteCount();
    return result;
}

std::vector<std::string> Texts(const std::vector<ReceivedLine>& lines)
{
    std::vector<std::string> texts;
    for (const ReceivedLine& line : lines)
        texts.push_back(line.text);
    return texts;
}

TEST(CorpusStream, EveryCaptureQueuesExactlyItsChecksumValidLines)
{
    const std::vector<std::filesystem::path> captures = CaptureFiles();
    ASSERT_GE(captures.size(), 9u) << kCorpus;
    int totalWithNul = 0;
    for (const std::filesystem::path& path : captures)
    {
        SCOPED_TRACE(path.filename().string());
        const std::string capture = ReadFile(path);
        ASSERT_FALSE(capture.empty());
        const Expectation expected = Expect(capture);
        ASSERT_GT(expected.queued.size(), 0u);
        totalWithNul += expected.withNul;

        const StreamResult result = Stream(capture, expected.lines);
        EXPECT_EQ(result.notifications, expected.lines);
        EXPECT_EQ(result.queued.size(), expected.queued.size());
        EXPECT_TRUE(Texts(result.queued) == expected.queued);
    }
    // The simulator capture carries NUL bytes inside an RMC; that line must not be queued.
    EXPECT_GE(totalWithNul, 1);
}

// ---- Decoded values against gpsd's reports ------------------------------------------------

std::optional<double> Number(const std::string& json, const std::string& key)
{
    const std::string tag = "\"" + key + "\":";
    const std::size_t at = json.find(tag);
    if (at == std::string::npos)
        return std::nullopt;
    return std::strtod(json.c_str() + at + tag.size(), nullptr);
}

struct OracleSatellite
{
    double elevation = -1, azimuth = -1, snr = -1;
    bool used = false;
};

std::optional<OracleSatellite> Satellite(const std::string& sky, int prn)
{
    const std::size_t at = sky.find("{\"PRN\":" + std::to_string(prn) + ",");
    if (at == std::string::npos)
        return std::nullopt;
    const std::string entry = sky.substr(at, sky.find('}', at) - at);
    OracleSatellite satellite;
    satellite.elevation = Number(entry, "el").value_or(-1);
    satellite.azimuth = Number(entry, "az").value_or(-1);
    satellite.snr = Number(entry, "ss").value_or(-1);
    satellite.used = entry.find("\"used\":true") != std::string::npos;
    return satellite;
}

struct Oracle
{
    std::string tpv;    // the first TPV report after the chosen sentence
    std::string dopSky; // the latest SKY report with a PDOP, up to that TPV
    std::string satSky; // the latest SKY report with a satellite list, up to that TPV
};

Oracle ReadOracle(const std::filesystem::path& chk, const std::string& sentence)
{
    Oracle oracle;
    std::istringstream in(ReadFile(chk));
    const std::string wanted = sentence.substr(0, sentence.find('\r'));
    bool reached = false;
    for (std::string line; std::getline(in, line);)
    {
        if (line.find("\"class\":\"SKY\"") != std::string::npos)
        {
            if (line.find("\"pdop\"") != std::string::npos)
                oracle.dopSky = line;
            if (line.find("\"satellites\"") != std::string::npos)
                oracle.satSky = line;
        }
        if (line == wanted)
            reached = true;
        else if (reached && line.find("\"class\":\"TPV\"") != std::string::npos)
        {
            oracle.tpv = line;
            break;
        }
    }
    return oracle;
}

struct OracleCase
{
    const char* capture;
    const char* sentence; // stream the capture up to and including this line
    int prn;              // a satellite to compare
};

class CorpusOracle : public testing::TestWithParam<OracleCase>
{
};

TEST_P(CorpusOracle, SnapshotAfterTheSentenceMatchesGpsd)
{
    const OracleCase& row = GetParam();
    const std::string capture = ReadFile(kCorpus / (std::string(row.capture) + ".nmea"));
    const std::size_t at = capture.find(row.sentence);
    ASSERT_NE(at, std::string::npos);
    const std::string head = capture.substr(0, at + std::string(row.sentence).size());
    const Oracle oracle = ReadOracle(kCorpus / (std::string(row.capture) + ".chk"), row.sentence);
    ASSERT_FALSE(oracle.tpv.empty());
    ASSERT_FALSE(oracle.dopSky.empty());
    ASSERT_FALSE(oracle.satSky.empty());

    const StreamResult result = Stream(head, Expect(head).lines);
    ASSERT_FALSE(result.queued.empty());
    const GpsData& gps = result.queued.back().gps;

    const std::size_t timeAt = oracle.tpv.find("\"time\":\"");
    ASSERT_NE(timeAt, std::string::npos);
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    ASSERT_EQ(std::sscanf(oracle.tpv.c_str() + timeAt, "\"time\":\"%4d-%2d-%2dT%2d:%2d:%2d", &year,
                          &month, &day, &hour, &minute, &second),
              6);
    EXPECT_EQ(gps.year, year);
    EXPECT_EQ(gps.month, month);
    EXPECT_EQ(gps.day, day);
    EXPECT_EQ(gps.hour, hour);
    EXPECT_EQ(gps.minute, minute);
    EXPECT_EQ(gps.second, second);

    // Single precision keeps about 1e-5 degrees at 153 degrees (a metre or two).
    EXPECT_NEAR(gps.latitude, *Number(oracle.tpv, "lat"), 3e-5);
    EXPECT_NEAR(gps.longitude, *Number(oracle.tpv, "lon"), 3e-5);
    EXPECT_NEAR(gps.altitude, *Number(oracle.tpv, "altMSL"), 1e-3);
    EXPECT_NEAR(gps.course, *Number(oracle.tpv, "track"), 1e-3);
    EXPECT_NEAR(gps.speed * 1852.0 / 3600.0, *Number(oracle.tpv, "speed"), 1e-3);
    EXPECT_EQ(gps.fixMode, static_cast<int>(*Number(oracle.tpv, "mode")));
    EXPECT_NEAR(gps.hdop, *Number(oracle.dopSky, "hdop"), 1e-4);
    EXPECT_NEAR(gps.pdop, *Number(oracle.dopSky, "pdop"), 1e-4);

    const std::optional<OracleSatellite> expected = Satellite(oracle.satSky, row.prn);
    ASSERT_TRUE(expected.has_value());
    const SatelliteInfo* slot =
        std::find_if(std::begin(gps.satellites), std::end(gps.satellites),
                     [&](const SatelliteInfo& s) { return s.prn == row.prn; });
    ASSERT_NE(slot, std::end(gps.satellites));
    EXPECT_EQ(slot->elevation, expected->elevation);
    EXPECT_EQ(slot->azimuth, expected->azimuth);
    EXPECT_EQ(slot->snr, expected->snr);
    EXPECT_EQ(slot->used, expected->used);
}

INSTANTIATE_TEST_SUITE_P(
    Captures, CorpusOracle,
    testing::Values(
        OracleCase{"gpslim236",
                   "$GPRMC,185249.000,A,4854.2572,N,00219.9810,E,0.00,296.61,210706,,,A*60\r\n",
                   14},
        OracleCase{"haicom-305N",
                   "$GPRMC,095355.791,A,2712.6493,S,15303.1137,E,2.13,16.78,080407,,,A*4E\r\n",
                   12}),
    [](const testing::TestParamInfo<OracleCase>& info)
    {
        std::string name = info.param.capture;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

} // namespace

// ---- Binary captures: frames, not lines ----------------------------------------------------

namespace
{
// What the device should queue for a stream, found without it: the framer cuts the bytes, the
// decoder fills one record, the epoch marks come from the same frames.
struct FrameExpectation
{
    std::vector<ReceivedLine> queued;
    int frames = 0; // every frame the framer delivers: one notification each
    std::uint64_t skipped = 0;
};

FrameExpectation ExpectFrames(std::string_view bytes)
{
    FrameExpectation out;
    Framer framer;
    EpochEnd epochs;
    GpsData gps{};
    Frame frame;
    framer.Feed(bytes);
    while (framer.Next(frame))
    {
        ++out.frames;
        DecodeFrame(frame, gps);
        if (frame.kind == FrameKind::Nmea && !IsChecksumValid(frame.bytes))
            continue;
        const EpochMarks marks = epochs.Feed(frame, gps);
        out.queued.push_back(ReceivedLine{frame.bytes, gps, {}, marks, frame.kind});
    }
    out.skipped = framer.SkippedBytes();
    return out;
}

const char* KindName(FrameKind kind)
{
    return kind == FrameKind::Ubx ? "UBX" : kind == FrameKind::Rtcm3 ? "RTCM3" : "NMEA";
}
} // namespace

class BinaryCaptureStream : public testing::TestWithParam<const char*>
{
};

TEST_P(BinaryCaptureStream, QueuesWhatTheFramerAndDecoderGiveFrameByFrame)
{
    const std::string capture = ReadFile(kCorpus / GetParam());
    ASSERT_FALSE(capture.empty());
    // The capture's comment lines go to the device too: they are lines without a checksum.
    const FrameExpectation expected = ExpectFrames(capture);
    ASSERT_GT(expected.queued.size(), 10u);
    ASSERT_TRUE(std::any_of(expected.queued.begin(), expected.queued.end(),
                            [](const ReceivedLine& line) { return line.kind != FrameKind::Nmea; }));

    const StreamResult result = Stream(capture, expected.frames, 97);
    const std::vector<ReceivedLine>& queued = result.queued;
    ASSERT_EQ(queued.size(), expected.queued.size());
    for (std::size_t i = 0; i < queued.size(); ++i)
    {
        SCOPED_TRACE("frame " + std::to_string(i) + " " + KindName(expected.queued[i].kind));
        ASSERT_EQ(queued[i].kind, expected.queued[i].kind);
        ASSERT_EQ(queued[i].text, expected.queued[i].text);
        ASSERT_TRUE(queued[i].gps == expected.queued[i].gps);
        ASSERT_EQ(queued[i].epoch.began, expected.queued[i].epoch.began);
        ASSERT_EQ(queued[i].epoch.ends, expected.queued[i].epoch.ends);
    }
    EXPECT_EQ(result.skipped, expected.skipped);
}

INSTANTIATE_TEST_SUITE_P(Captures, BinaryCaptureStream,
                         testing::Values("ublox-neo-m8n.ubx", "ublox-zed-f9p-rtk.ubx", "ublox-neo-f9v.ubx",
                                         "ublox-8-time.ubx", "ublox8-uniqid-monhw.ubx"),
                         [](const auto& info) {
                             std::string name = info.param;
                             std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
                             return name;
                         });

TEST(MixedStream, NavEoeEndsTheEpochAndJunkBetweenFramesIsSkippedAndCounted)
{
    // NMEA beside UBX with junk between them: the UBX epoch's end is NAV-EOE, said at once.
    const std::string pvt = UbxFrame(0x01, 0x07, Payload(92).U4(0, 1000).U2(4, 2024).U1(6, 5).U1(7, 17).U1(8, 12)
                                                     .U1(11, 0x07).U1(20, 3).U1(21, 0x81).U1(23, 14)
                                                     .I4(24, -583000000).I4(28, -345000000).U4(40, 1400).U4(44, 2100));
    const std::string eoe = UbxFrame(0x01, 0x61, Payload(4).U4(0, 1000));
    const std::string pvt2 = UbxFrame(0x01, 0x07, Payload(92).U4(0, 2000).U2(4, 2024).U1(6, 5).U1(7, 17).U1(8, 12)
                                                      .U1(10, 1).U1(11, 0x07).U1(20, 3).U1(21, 0x41).U1(23, 14));
    const std::string eoe2 = UbxFrame(0x01, 0x61, Payload(4).U4(0, 2000));
    // Sync bytes that start no frame (B5 without 62, D3 with reserved bits set) among the junk.
    const std::string junk = "\x01\xB5\x00\xD3\xFF\x7F";
    const std::string rmc = "$GPRMC,120000.00,A,4854.2575,N,00219.9816,E,0.00,296.61,170524,,,A*56\r\n";
    const std::string stream = "$GPTXT,01,01,02,u-blox ag*2A\r\n" + pvt + junk + eoe + rmc + pvt2 + eoe2;
    const FrameExpectation expected = ExpectFrames(stream);
    const StreamResult result = Stream(stream, expected.frames, 97);
    const std::vector<ReceivedLine>& queued = result.queued;
    ASSERT_EQ(expected.queued.size(), 6u);
    ASSERT_EQ(queued.size(), 6u);
    const FrameKind kinds[] = {FrameKind::Nmea, FrameKind::Ubx, FrameKind::Ubx, FrameKind::Nmea, FrameKind::Ubx, FrameKind::Ubx};
    for (std::size_t i = 0; i < queued.size(); ++i)
        EXPECT_EQ(queued[i].kind, kinds[i]) << i;
    EXPECT_TRUE(queued[2].epoch.ends) << "NAV-EOE";
    EXPECT_TRUE(queued[5].epoch.ends) << "NAV-EOE";
    EXPECT_FALSE(queued[1].epoch.ends);
    EXPECT_EQ(queued[1].gps.rtk, RtkState::Fixed);
    EXPECT_NEAR(queued[1].gps.latitude, -34.5, 1e-9);
    EXPECT_NEAR(queued[1].gps.longitude, -58.3, 1e-9);
    EXPECT_FLOAT_EQ(queued[1].gps.horizontalAccuracy, 1.4f);
    EXPECT_EQ(queued[3].gps.latitude, queued[1].gps.latitude) << "UBX's position stands beside NMEA's in one epoch";
    EXPECT_EQ(queued[4].gps.second, 1);
    EXPECT_EQ(queued[4].gps.rtk, RtkState::Float);
    EXPECT_EQ(result.skipped, junk.size());
    EXPECT_EQ(result.skipped, expected.skipped);
}
