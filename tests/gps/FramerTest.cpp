// The framer: NMEA lines, UBX and RTCM3 frames out of one byte stream, however it is split.
#include "gps/Framer.h"

#include "io/RingBuffer.h"
#include "support/Binary.h"
#include "support/Files.h"
#include "support/Nmea.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace
{

using namespace std::string_literals;

struct Out
{
    FrameKind kind;
    std::string bytes;
    bool operator==(const Out&) const = default;
};

void PrintTo(const Out& out, std::ostream* os)
{
    static const char* kNames[] = {"NMEA", "UBX", "RTCM3"};
    *os << kNames[static_cast<int>(out.kind)] << " " << out.bytes.size() << " B";
}

struct Cut
{
    std::vector<Out> frames;
    std::uint64_t skipped = 0;
};

// Feeds the pieces one after the other, taking every frame after each, then ends the stream.
Cut Frames(const std::vector<std::string_view>& pieces)
{
    Framer framer;
    Cut cut;
    Frame frame;
    auto drain = [&] {
        while (framer.Next(frame))
            cut.frames.push_back({frame.kind, frame.bytes});
    };
    for (const std::string_view piece : pieces)
    {
        framer.Feed(piece);
        drain();
    }
    framer.Finish();
    drain();
    cut.skipped = framer.SkippedBytes();
    return cut;
}

const std::string kGga = "$GPGGA,083723.00,5155.55442,N,00434.65873,E,1,06,2.51,-4.0,M,46.0,M,,*70\r\n";
const std::string kRmc = WithChecksum("$GNRMC,120000.00,A,5155.55442,N,00434.65873,E,0.1,,010124,,,A");
const std::string kPvt = UbxFrame(0x01, 0x07, std::string(92, '\x11'));
const std::string kEoe = UbxFrame(0x01, 0x61, "\x10\x20\x30\x40"s);
const std::string kMsm = Rtcm3Frame("\x43\x50"s + std::string(40, '\x5A'));

std::string WithByteChanged(std::string frame, std::size_t at)
{
    frame[at] = static_cast<char>(frame[at] ^ 0x01);
    return frame;
}

struct FramerRow
{
    const char* name;
    std::string stream;
    std::vector<Out> frames;
    std::uint64_t skipped;
};

void PrintTo(const FramerRow& row, std::ostream* os)
{
    *os << row.name;
}

class FramerTest : public testing::TestWithParam<FramerRow>
{
};

TEST_P(FramerTest, WholeStream)
{
    const Cut cut = Frames({GetParam().stream});
    EXPECT_EQ(cut.frames, GetParam().frames);
    EXPECT_EQ(cut.skipped, GetParam().skipped);
}

// Any split in two, and a byte at a time: the frames do not depend on how the bytes came.
TEST_P(FramerTest, SplitAnywhere)
{
    const std::string_view stream = GetParam().stream;
    for (std::size_t at = 0; at <= stream.size(); ++at)
    {
        const Cut cut = Frames({stream.substr(0, at), stream.substr(at)});
        ASSERT_EQ(cut.frames, GetParam().frames) << "split at " << at;
        ASSERT_EQ(cut.skipped, GetParam().skipped) << "split at " << at;
    }
    std::vector<std::string_view> bytes;
    for (std::size_t at = 0; at < stream.size(); ++at)
        bytes.push_back(stream.substr(at, 1));
    const Cut cut = Frames(bytes);
    EXPECT_EQ(cut.frames, GetParam().frames);
    EXPECT_EQ(cut.skipped, GetParam().skipped);
}

const std::string kMaxUbx = UbxFrame(0x0A, 0x04, std::string(Framer::kMaxUbxPayload, '$'));
const std::string kTooLongUbx = UbxFrame(0x0A, 0x04, std::string(Framer::kMaxUbxPayload + 1, 'x'));
const std::string kMaxRtcm = Rtcm3Frame(std::string(Framer::kMaxRtcm3Payload, '\xD3'));
const std::string kLongestLine = WithChecksum("$GPTXT," + std::string(Framer::kMaxLineLength - 12, 'A'));
const std::string kTooLongLine = WithChecksum("$GPTXT," + std::string(Framer::kMaxLineLength - 11, 'A'));
// A UBX header whose length runs 40 bytes past what follows it.
const std::string kRunsPast = "\xB5\x62\x01\x07\x5C\x00"s + std::string(52, '\x01');
const std::string kJunk = "\x01\xFF\x00\x7F\x0A\x62"s;

INSTANTIATE_TEST_SUITE_P(
    Rows, FramerTest,
    testing::Values(
        FramerRow{"NmeaLine", kGga, {{FrameKind::Nmea, kGga}}, 0},
        FramerRow{"UbxFrame", kPvt, {{FrameKind::Ubx, kPvt}}, 0},
        FramerRow{"Rtcm3Frame", kMsm, {{FrameKind::Rtcm3, kMsm}}, 0},
        FramerRow{"MixedInOrder",
                  kGga + kPvt + kRmc + kMsm + kEoe + kGga,
                  {{FrameKind::Nmea, kGga},
                   {FrameKind::Ubx, kPvt},
                   {FrameKind::Nmea, kRmc},
                   {FrameKind::Rtcm3, kMsm},
                   {FrameKind::Ubx, kEoe},
                   {FrameKind::Nmea, kGga}},
                  0},
        // The NMEA layer judges checksums: a damaged line goes on as it came.
        FramerRow{"BadNmeaChecksumPassedOn", WithByteChanged(kGga, 10), {{FrameKind::Nmea, WithByteChanged(kGga, 10)}}, 0},
        FramerRow{"BadUbxChecksumDropped", WithByteChanged(kPvt, kPvt.size() - 1) + kRmc, {{FrameKind::Nmea, kRmc}}, kPvt.size()},
        FramerRow{"BadUbxPayloadDropped", kEoe + WithByteChanged(kPvt, 30) + kEoe,
                  {{FrameKind::Ubx, kEoe}, {FrameKind::Ubx, kEoe}}, kPvt.size()},
        FramerRow{"BadRtcm3CrcDropped", WithByteChanged(kMsm, 20) + kGga, {{FrameKind::Nmea, kGga}}, kMsm.size()},
        FramerRow{"RtcmReservedBitsSetIsNoFrame", "\xD3\x04\x00"s + kGga, {{FrameKind::Nmea, kGga}}, 3},
        // The length claims more than the stream holds; the line after it is still found.
        FramerRow{"LengthRunsPastTheData", kRunsPast + kRmc, {{FrameKind::Nmea, kRmc}}, kRunsPast.size()},
        // A false header's length swallows no valid frame within it.
        FramerRow{"FalseHeaderSwallowsNoFrame", "\xB5\x62\x01\x07\x40\x00"s + kEoe + kMsm,
                  {{FrameKind::Ubx, kEoe}, {FrameKind::Rtcm3, kMsm}}, 6},
        FramerRow{"NmeaInsideBinaryJunk", kPvt + kJunk + kRmc + kJunk + kEoe + kJunk + kGga,
                  {{FrameKind::Ubx, kPvt}, {FrameKind::Nmea, kRmc}, {FrameKind::Ubx, kEoe}, {FrameKind::Nmea, kGga}},
                  3 * kJunk.size()},
        // '$' inside a frame's payload starts no line: the frame whose checksum holds wins.
        FramerRow{"DollarInsidePayload", UbxFrame(0x01, 0x07, "$GPGGA,1*\r\n"s + std::string(20, '\n')) + kGga,
                  {{FrameKind::Ubx, UbxFrame(0x01, 0x07, "$GPGGA,1*\r\n"s + std::string(20, '\n'))},
                   {FrameKind::Nmea, kGga}},
                  0},
        // A binary frame inside an unfinished line ends it: the line's start is skipped.
        FramerRow{"FrameCutsLineShort", "$GPGGA,0837"s + kPvt + kGga, {{FrameKind::Ubx, kPvt}, {FrameKind::Nmea, kGga}}, 11},
        // Sync bytes that start no frame are text inside a line.
        FramerRow{"UbxSyncInsideNmeaLine", "$GPTXT,01,01,02,\xB5\x62\x01\x07\r\n"s,
                  {{FrameKind::Nmea, "$GPTXT,01,01,02,\xB5\x62\x01\x07\r\n"s}}, 0},
        FramerRow{"RtcmSyncInsideNmeaLine", "$GPTXT,\xD3\x01\x05,x\r\n"s + kGga,
                  {{FrameKind::Nmea, "$GPTXT,\xD3\x01\x05,x\r\n"s}, {FrameKind::Nmea, kGga}}, 0},
        // Before any binary, text is cut as the port cuts it: junk stays in front of its line.
        FramerRow{"JunkBeforeFirstLineKept", "\x01\x7F" + kGga, {{FrameKind::Nmea, "\x01\x7F" + kGga}}, 0},
        FramerRow{"LineCutAtNul", "$GPRMC,1\0x*00\r\n"s, {{FrameKind::Nmea, "$GPRMC,1"}}, 0},
        FramerRow{"UnendedLastLineNotDelivered", kGga + "$GPGGA,0837", {{FrameKind::Nmea, kGga}}, 0},
        FramerRow{"MaximumUbxPayload", kMaxUbx + kGga, {{FrameKind::Ubx, kMaxUbx}, {FrameKind::Nmea, kGga}}, 0},
        FramerRow{"LongerUbxPayloadIsNoFrame", kTooLongUbx + kGga, {{FrameKind::Nmea, kGga}}, kTooLongUbx.size()},
        FramerRow{"MaximumRtcm3Payload", kMaxRtcm + kEoe, {{FrameKind::Rtcm3, kMaxRtcm}, {FrameKind::Ubx, kEoe}}, 0},
        FramerRow{"LongestLine", kLongestLine, {{FrameKind::Nmea, kLongestLine}}, 0},
        FramerRow{"OverLongLineDropped", kTooLongLine + kGga, {{FrameKind::Nmea, kGga}}, kTooLongLine.size()}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FramerSizes, LongestLineIsThePortsLongest)
{
    EXPECT_EQ(kLongestLine.size(), Framer::kMaxLineLength);
    EXPECT_EQ(kTooLongLine.size(), Framer::kMaxLineLength + 1);
    EXPECT_EQ(kMaxUbx.size(), Framer::kMaxUbxPayload + 8);
    EXPECT_EQ(kMaxRtcm.size(), Framer::kMaxRtcm3Payload + 6);
}

// Known check values: CRC-24Q of "123456789", and a UBX poll of MON-VER as u-blox documents it.
TEST(FramerChecksums, KnownValues)
{
    EXPECT_EQ(Crc24q("123456789"), 0xCDE703u);
    EXPECT_EQ(UbxFrame(0x0A, 0x04, ""), "\xB5\x62\x0A\x04\x00\x00\x0E\x34"s);
}

TEST(CaptureHeader, LeadingCommentLinesOnly)
{
    EXPECT_EQ(CaptureHeaderLength("# a\n# b\n$GPGGA,#\n"), 8u);
    EXPECT_EQ(CaptureHeaderLength("\xB5\x62#\n"), 0u);
    EXPECT_EQ(CaptureHeaderLength("# no end"), 0u);
    EXPECT_EQ(CaptureHeaderLength("# a\n#\n\xD3# c\n"), 6u);
}

// Every NMEA capture comes out line for line as the port's own line cutting gives it.
TEST(FramerOnCorpus, NmeaCapturesCutAsThePortCuts)
{
    for (const auto& path : CaptureFiles())
    {
        SCOPED_TRACE(path.filename().string());
        const std::string bytes = ReadFile(path);
        RingBuffer ring;
        Framer framer;
        Frame frame;
        std::vector<std::string> theirs;
        std::vector<std::string> ours;
        for (std::size_t at = 0; at < bytes.size(); at += 64)
        {
            const std::string_view piece = std::string_view(bytes).substr(at, 64);
            ASSERT_TRUE(ring.Write(piece.data(), static_cast<std::uint32_t>(piece.size())));
            for (std::string line; ring.ReadLine(line);)
                theirs.push_back(line);
            framer.Feed(piece);
            while (framer.Next(frame))
            {
                ASSERT_EQ(frame.kind, FrameKind::Nmea);
                ours.push_back(frame.bytes);
            }
        }
        EXPECT_EQ(ours, theirs);
        EXPECT_EQ(framer.SkippedBytes(), 0u);
    }
}

} // namespace
