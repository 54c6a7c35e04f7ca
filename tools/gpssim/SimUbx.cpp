#include "tools/gpssim/SimUbx.h"

#include "gps/Constellations.h"
#include "receiver/ReceiverCommands.h"

#include <chrono>
#include <cmath>
#include <numbers>

namespace
{
constexpr std::uint8_t kNav = 0x01;
constexpr std::int64_t kLeapSeconds = 18;
constexpr std::int64_t kMsPerWeek = 7LL * 86400 * 1000;

// Little-endian fields written at their offsets.
class Fields
{
public:
    explicit Fields(std::size_t size) : m_bytes(size, '\0') {}
    Fields& Put(std::size_t at, std::int64_t value, int size)
    {
        for (int i = 0; i < size; ++i)
            m_bytes[at + static_cast<std::size_t>(i)] = static_cast<char>((static_cast<std::uint64_t>(value) >> (8 * i)) & 0xFF);
        return *this;
    }
    std::string& Bytes() { return m_bytes; }

private:
    std::string m_bytes;
};

std::int64_t Scaled(double value, double scale)
{
    return static_cast<std::int64_t>(std::llround(value * scale));
}

std::string NavPvt(const SimState& state, std::uint32_t tow)
{
    using namespace std::chrono;
    const auto day = floor<days>(state.utc);
    const year_month_day date{day};
    const hh_mm_ss time{floor<milliseconds>(state.utc - day)};
    const bool fix = state.fixMode >= 2;
    const double knotsToMms = 1852.0 / 3.6;
    const double speed = state.speedKnots * knotsToMms;
    const double course = state.course * std::numbers::pi / 180.0;
    Fields p(92);
    p.Put(0, tow, 4);
    p.Put(4, static_cast<int>(date.year()), 2);
    p.Put(6, static_cast<unsigned>(date.month()), 1);
    p.Put(7, static_cast<unsigned>(date.day()), 1);
    p.Put(8, time.hours().count(), 1);
    p.Put(9, time.minutes().count(), 1);
    p.Put(10, time.seconds().count(), 1);
    p.Put(11, 0x07, 1); // valid date, valid time, fully resolved
    p.Put(12, 30, 4);   // tAcc, ns
    p.Put(16, time.subseconds().count() * 1000000, 4);
    p.Put(20, fix ? state.fixMode : 0, 1);
    // gnssFixOK, and the carrier solution of GGA's quality 5 (float) and 4 (fixed) in bits 6-7.
    const int carrier = !fix ? 0 : state.quality == 5 ? 1 : state.quality == 4 ? 2 : 0;
    p.Put(21, fix ? 0x01 | (carrier << 6) : 0x00, 1);
    int used = 0;
    for (const SimSatellite& sat : state.satellites)
        used += sat.used ? 1 : 0;
    p.Put(23, used, 1);
    p.Put(24, Scaled(state.longitude, 1e7), 4);
    p.Put(28, Scaled(state.latitude, 1e7), 4);
    p.Put(32, Scaled(state.altitude + state.geoidSeparation, 1000.0), 4);
    p.Put(36, Scaled(state.altitude, 1000.0), 4);
    // The estimates a receiver gives with such DOPs: a few metres of ranging error each.
    p.Put(40, fix ? Scaled(state.hdop * 2.0, 1000.0) : 4294967, 4);
    p.Put(44, fix ? Scaled(state.vdop * 3.0, 1000.0) : 4294967, 4);
    p.Put(48, Scaled(speed * std::cos(course), 1.0), 4);
    p.Put(52, Scaled(speed * std::sin(course), 1.0), 4);
    p.Put(60, Scaled(speed, 1.0), 4);
    p.Put(64, Scaled(state.course, 1e5), 4);
    p.Put(68, 300, 4);
    p.Put(72, 5000000, 4);
    p.Put(76, Scaled(state.pdop, 100.0), 2);
    return UbxMessage(kNav, 0x07, p.Bytes());
}

std::string NavSat(const SimState& state, std::uint32_t tow)
{
    Fields p(8 + 12 * state.satellites.size());
    p.Put(0, tow, 4);
    p.Put(4, 1, 1);
    p.Put(5, static_cast<std::int64_t>(state.satellites.size()), 1);
    std::size_t at = 8;
    for (const SimSatellite& sat : state.satellites)
    {
        const GnssSystem system = SystemOf(sat.talker, sat.prn);
        p.Put(at, ConstellationOf(system).gpsdId, 1);
        p.Put(at + 1, GpsdSvid(system, sat.prn), 1);
        p.Put(at + 2, sat.snr, 1);
        p.Put(at + 3, sat.elevation, 1);
        p.Put(at + 4, sat.azimuth, 2);
        // Quality: code and carrier locked while heard, searching otherwise; healthy.
        const std::uint32_t quality = sat.snr > 0 ? 7 : 1;
        p.Put(at + 8, quality | (sat.used ? 0x08u : 0u) | (1u << 4), 4);
        at += 12;
    }
    return UbxMessage(kNav, 0x35, p.Bytes());
}

std::string NavDop(const SimState& state, std::uint32_t tow)
{
    Fields p(18);
    p.Put(0, tow, 4);
    p.Put(4, Scaled(state.pdop * 1.1, 100.0), 2); // gDOP
    p.Put(6, Scaled(state.pdop, 100.0), 2);
    p.Put(8, Scaled(state.pdop * 0.5, 100.0), 2); // tDOP
    p.Put(10, Scaled(state.vdop, 100.0), 2);
    p.Put(12, Scaled(state.hdop, 100.0), 2);
    p.Put(14, Scaled(state.hdop * 0.7, 100.0), 2); // nDOP
    p.Put(16, Scaled(state.hdop * 0.7, 100.0), 2); // eDOP
    return UbxMessage(kNav, 0x04, p.Bytes());
}

std::string NavEoe(std::uint32_t tow)
{
    Fields p(4);
    p.Put(0, tow, 4);
    return UbxMessage(kNav, 0x61, p.Bytes());
}
} // namespace

std::uint32_t GpsTimeOfWeekMs(std::chrono::system_clock::time_point utc)
{
    using namespace std::chrono;
    const sys_days gpsEpoch = year{1980} / January / 6;
    const std::int64_t ms = duration_cast<milliseconds>(utc - gpsEpoch).count() + kLeapSeconds * 1000;
    return static_cast<std::uint32_t>(((ms % kMsPerWeek) + kMsPerWeek) % kMsPerWeek);
}

std::vector<std::string> UbxCycleFrames(const SimState& state)
{
    const std::uint32_t tow = GpsTimeOfWeekMs(state.utc);
    return {NavPvt(state, tow), NavSat(state, tow), NavDop(state, tow), NavEoe(tow)};
}
