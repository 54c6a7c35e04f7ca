#include "gps/FrameText.h"

#include "gps/Rtcm3.h"
#include "gps/UbxDecoders.h"
#include "gps/UbxFields.h"

#include <cstdio>
#include <string_view>

namespace
{

using ubx::U1;
using ubx::U2;
using ubx::U4;

std::string Format(const char* format, double a, double b = 0.0)
{
    char text[96];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

// The fix as the panel would name it: UBX fix type, gnssFixOK and the carrier solution.
std::string FixName(std::uint32_t fixType, bool fixOk, std::uint32_t carrier)
{
    static const char* kTypes[] = {"no fix", "dead reckoning", "2D fix", "3D fix", "GNSS and dead reckoning", "time only"};
    if (!fixOk || fixType == 0)
        return "no fix";
    if (carrier == 2)
        return "RTK fixed";
    if (carrier == 1)
        return "RTK float";
    return fixType < std::size(kTypes) ? kTypes[fixType] : "fix type " + std::to_string(fixType);
}

// Centimetres count below a metre (an RTK fix), decimetres above.
std::string Metres(std::uint32_t mm)
{
    return Format(mm < 1000 ? "%.2f m" : "%.1f m", mm / 1000.0);
}

// What the messages decoded here say, briefly; empty for the others.
std::string UbxSummary(std::uint8_t cls, std::uint8_t id, std::string_view p, std::string_view frame)
{
    if (cls == 0x01)
    {
        switch (id)
        {
        case 0x07:
            if (p.size() >= 84)
                return FixName(U1(p, 20), (U1(p, 21) & 0x01) != 0, U1(p, 21) >> 6) + ", " + std::to_string(U1(p, 23)) +
                       " SV, hAcc " + Metres(U4(p, 40));
            break;
        case 0x06:
            if (p.size() >= 52)
                return FixName(U1(p, 10), (U1(p, 11) & 0x01) != 0, 0) + ", " + std::to_string(U1(p, 47)) + " SV";
            break;
        case 0x02:
            if (p.size() >= 28)
                return "hAcc " + Metres(U4(p, 20)) + ", vAcc " + Metres(U4(p, 24));
            break;
        case 0x04:
            if (p.size() >= 18)
                return Format("HDOP %.2f, PDOP %.2f", U2(p, 12) / 100.0, U2(p, 6) / 100.0);
            break;
        case 0x03:
            if (p.size() >= 16)
                return U4(p, 8) == 0 ? std::string("no first fix yet") : Format("TTFF %.1f s", U4(p, 8) / 1000.0);
            break;
        case 0x21:
            if (p.size() >= 20 && (U1(p, 19) & 0x04))
            {
                char text[40];
                std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u UTC", U2(p, 12), U1(p, 14), U1(p, 15),
                              U1(p, 16), U1(p, 17), U1(p, 18));
                return text;
            }
            break;
        case 0x35:
            if (p.size() >= 8)
            {
                int used = 0;
                const std::size_t count = std::min<std::size_t>(U1(p, 5), (p.size() - 8) / 12);
                for (std::size_t i = 0; i < count; ++i)
                    used += (U4(p, 8 + 12 * i + 8) & 0x08) ? 1 : 0;
                return std::to_string(count) + " SV, " + std::to_string(used) + " used";
            }
            break;
        case 0x30:
            if (p.size() >= 8)
                return std::to_string(U1(p, 4)) + " channels";
            break;
        case 0x43:
            if (p.size() >= 8)
                return std::to_string(U1(p, 5)) + " signals";
            break;
        case 0x61:
            return "end of epoch";
        default:
            break;
        }
        return {};
    }
    if (cls == 0x05 && p.size() >= 2)
    {
        // ACK-ACK and ACK-NAK name the message they answer.
        const std::string_view name = UbxMessageName(static_cast<std::uint8_t>(U1(p, 0)), static_cast<std::uint8_t>(U1(p, 1)));
        char text[16];
        std::snprintf(text, sizeof text, "%02X-%02X", U1(p, 0), U1(p, 1));
        return name.empty() ? std::string(text) : std::string(name);
    }
    if (const auto version = DecodeMonVer(frame))
    {
        // The software version without its build number: "ROM CORE 3.01 (107888)".
        const std::string& software = version->software;
        return software.substr(0, software.find(" ("));
    }
    return {};
}

std::string UbxText(std::string_view frame)
{
    const std::uint8_t cls = UbxClass(frame);
    const std::uint8_t id = UbxId(frame);
    const std::string_view payload = UbxPayload(frame);
    std::string name(UbxMessageName(cls, id));
    if (name.empty())
    {
        char text[16];
        std::snprintf(text, sizeof text, "%02X-%02X", cls, id);
        name = text;
    }
    std::string text = "UBX " + name + " " + std::to_string(payload.size()) + " B";
    const std::string summary = UbxSummary(cls, id, payload, frame);
    if (!summary.empty())
        text += "  " + summary;
    return text;
}

std::string Rtcm3Text(std::string_view frame)
{
    const int type = Rtcm3MessageType(frame);
    std::string text = "RTCM3 " + std::to_string(type);
    const std::string name = Rtcm3MessageName(type);
    if (!name.empty())
        text += " (" + name + ")";
    text += " " + std::to_string(Rtcm3Payload(frame).size()) + " B";
    if (const auto station = DecodeStationPosition(frame))
    {
        const Geodetic at = StationGeodetic(*station);
        text += "  station " + std::to_string(station->stationId) + ", " +
                Format("%.6f %.6f", at.latitude, at.longitude) + Format(", %.1f m", at.height);
    }
    return text;
}

} // namespace

std::string FrameText(const Frame& frame)
{
    return FrameText(frame.kind, frame.bytes);
}

std::string FrameText(FrameKind kind, std::string_view bytes)
{
    switch (kind)
    {
    case FrameKind::Ubx:
        return UbxText(bytes);
    case FrameKind::Rtcm3:
        return Rtcm3Text(bytes);
    case FrameKind::Nmea:
        break;
    }
    std::string_view line = bytes;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    return std::string(line);
}
