// The terminal's line for each kind of frame.
#include "gps/FrameText.h"

#include "gps/Ecef.h"
#include "support/Binary.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace
{

using namespace std::string_literals;

struct TextRow
{
    const char* name;
    Frame frame;
    std::string text;
};

void PrintTo(const TextRow& row, std::ostream* os)
{
    *os << row.name;
}

class FrameTextTest : public testing::TestWithParam<TextRow>
{
};

TEST_P(FrameTextTest, OneReadableLine)
{
    EXPECT_EQ(FrameText(GetParam().frame), GetParam().text);
}

Frame Ubx(std::uint8_t cls, std::uint8_t id, std::string_view payload)
{
    return {FrameKind::Ubx, UbxFrame(cls, id, payload)};
}

std::string Pvt(int fixType, int flags, int satellites, std::uint32_t hAccMm)
{
    return Payload(92).U1(20, fixType).U1(21, flags).U1(23, satellites).U4(40, hAccMm).Bytes();
}

std::string MonVer()
{
    Payload p(160);
    p.Text(0, "ROM CORE 3.01 (107888)").Text(30, "00080000").Text(40, "FWVER=SPG 3.01");
    return p.Bytes();
}

std::string Station()
{
    // 1005 of station 7 at the ECEF point (4195432.03, 1140820.66, 4652177.70) m, bits packed by hand.
    const std::int64_t x = 41954320300, y = 11408206600, z = 46521777000;
    std::string bits;
    auto put = [&bits](std::uint64_t value, int count) {
        for (int i = count - 1; i >= 0; --i)
            bits += ((value >> i) & 1u) ? '1' : '0';
    };
    put(1005, 12), put(7, 12), put(0, 10), put(static_cast<std::uint64_t>(x), 38), put(0, 2);
    put(static_cast<std::uint64_t>(y), 38), put(0, 2), put(static_cast<std::uint64_t>(z), 38);
    std::string bytes((bits.size() + 7) / 8, '\0');
    for (std::size_t i = 0; i < bits.size(); ++i)
        if (bits[i] == '1')
            bytes[i / 8] = static_cast<char>(bytes[i / 8] | (0x80 >> (i % 8)));
    return Rtcm3Frame(bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FrameTextTest,
    testing::Values(
        TextRow{"NmeaAsReceived", {FrameKind::Nmea, "$GPGGA,1*00\r\n"}, "$GPGGA,1*00"},
        TextRow{"Pvt3d", Ubx(0x01, 0x07, Pvt(3, 0x01, 18, 1400)), "UBX NAV-PVT 92 B  3D fix, 18 SV, hAcc 1.4 m"},
        TextRow{"PvtRtkFixed", Ubx(0x01, 0x07, Pvt(3, 0x83, 31, 14)), "UBX NAV-PVT 92 B  RTK fixed, 31 SV, hAcc 0.01 m"},
        TextRow{"PvtRtkFloat", Ubx(0x01, 0x07, Pvt(3, 0x43, 25, 250)), "UBX NAV-PVT 92 B  RTK float, 25 SV, hAcc 0.25 m"},
        TextRow{"PvtNotFixOk", Ubx(0x01, 0x07, Pvt(3, 0x00, 2, 99000)), "UBX NAV-PVT 92 B  no fix, 2 SV, hAcc 99.0 m"},
        TextRow{"MonVer", Ubx(0x0A, 0x04, MonVer()), "UBX MON-VER 160 B  ROM CORE 3.01"},
        TextRow{"Sat", Ubx(0x01, 0x35, Payload(32).U1(5, 2).U4(8 + 8, 0x08).Bytes()), "UBX NAV-SAT 32 B  2 SV, 1 used"},
        TextRow{"Dop", Ubx(0x01, 0x04, Payload(18).U2(6, 156).U2(12, 80).Bytes()), "UBX NAV-DOP 18 B  HDOP 0.80, PDOP 1.56"},
        TextRow{"StatusTtff", Ubx(0x01, 0x03, Payload(16).U4(8, 27345).Bytes()), "UBX NAV-STATUS 16 B  TTFF 27.3 s"},
        TextRow{"Eoe", Ubx(0x01, 0x61, Payload(4).Bytes()), "UBX NAV-EOE 4 B  end of epoch"},
        TextRow{"AckOfCfgMsg", Ubx(0x05, 0x01, "\x06\x01"s), "UBX ACK-ACK 2 B  CFG-MSG"},
        TextRow{"NakOfValset", Ubx(0x05, 0x00, "\x06\x8A"s), "UBX ACK-NAK 2 B  CFG-VALSET"},
        TextRow{"UnknownMessage", Ubx(0x7F, 0x22, "abc"), "UBX 7F-22 3 B"},
        TextRow{"ShortPvtNamedOnly", Ubx(0x01, 0x07, "abc"), "UBX NAV-PVT 3 B"},
        TextRow{"Rtcm3Msm7", {FrameKind::Rtcm3, Rtcm3Frame("\x43\x50"s + std::string(410, '\0'))}, "RTCM3 1077 (GPS MSM7) 412 B"},
        TextRow{"Rtcm3Unknown", {FrameKind::Rtcm3, Rtcm3Frame("\xFF\xF0"s)}, "RTCM3 4095 2 B"},
        TextRow{"Rtcm3Station", {FrameKind::Rtcm3, Station()},
                "RTCM3 1005 (station position) 19 B  station 7, 47.129093 15.212043, 869.2 m"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
