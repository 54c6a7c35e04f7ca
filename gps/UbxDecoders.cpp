#include "gps/UbxDecoders.h"

#include "gps/Constellations.h"
#include "gps/Ecef.h"
#include "gps/NmeaDecoders.h"
#include "gps/NmeaFraming.h"
#include "gps/UbxFields.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>

namespace
{

constexpr std::uint8_t kNav = 0x01;
constexpr std::uint8_t kMon = 0x0A;

struct MessageRow
{
    std::uint8_t cls;
    std::uint8_t id;
    std::string_view name;
};

constexpr MessageRow kMessages[] = {
    {0x01, 0x01, "NAV-POSECEF"}, {0x01, 0x02, "NAV-POSLLH"},  {0x01, 0x03, "NAV-STATUS"},  {0x01, 0x04, "NAV-DOP"},
    {0x01, 0x06, "NAV-SOL"},     {0x01, 0x07, "NAV-PVT"},     {0x01, 0x11, "NAV-VELECEF"}, {0x01, 0x12, "NAV-VELNED"},
    {0x01, 0x13, "NAV-HPPOSECEF"}, {0x01, 0x14, "NAV-HPPOSLLH"}, {0x01, 0x20, "NAV-TIMEGPS"}, {0x01, 0x21, "NAV-TIMEUTC"},
    {0x01, 0x22, "NAV-CLOCK"},   {0x01, 0x26, "NAV-TIMELS"},  {0x01, 0x30, "NAV-SVINFO"},  {0x01, 0x32, "NAV-SBAS"},
    {0x01, 0x35, "NAV-SAT"},     {0x01, 0x3C, "NAV-RELPOSNED"}, {0x01, 0x43, "NAV-SIG"},   {0x01, 0x61, "NAV-EOE"},
    {0x02, 0x13, "RXM-SFRBX"},   {0x02, 0x15, "RXM-RAWX"},    {0x04, 0x04, "INF-DEBUG"},   {0x04, 0x00, "INF-ERROR"},
    {0x04, 0x01, "INF-WARNING"}, {0x04, 0x02, "INF-NOTICE"},  {0x05, 0x00, "ACK-NAK"},     {0x05, 0x01, "ACK-ACK"},
    {0x06, 0x00, "CFG-PRT"},     {0x06, 0x01, "CFG-MSG"},     {0x06, 0x04, "CFG-RST"},     {0x06, 0x08, "CFG-RATE"},
    {0x06, 0x8A, "CFG-VALSET"},  {0x06, 0x8B, "CFG-VALGET"},  {0x0A, 0x04, "MON-VER"},     {0x0A, 0x07, "MON-TXBUF"},
    {0x0A, 0x08, "MON-RXBUF"},   {0x0A, 0x09, "MON-HW"},      {0x0A, 0x38, "MON-RF"},      {0x0D, 0x01, "TIM-TP"},
    {0x27, 0x03, "SEC-UNIQID"},
};

using ubx::I1;
using ubx::I2;
using ubx::I4;
using ubx::U1;
using ubx::U2;
using ubx::U4;

// Days from 1970-01-01 of a proleptic Gregorian date, and back (H. Hinnant's algorithms).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int32_t& year, std::int32_t& month, std::int32_t& day)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<std::int32_t>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<std::int32_t>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<std::int32_t>(static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2 ? 1 : 0));
}

constexpr std::int64_t kMsPerDay = 86400000;

// Writes an instant given in ms since 1970 (UTC) as the record's date and time of day.
void StoreInstant(std::int64_t ms, bool date, bool time, GpsData& gps)
{
    const std::int64_t days = (ms >= 0 ? ms : ms - kMsPerDay + 1) / kMsPerDay;
    const std::int64_t ofDay = ms - days * kMsPerDay;
    if (date)
        CivilFromDays(days, gps.year, gps.month, gps.day);
    if (time)
    {
        gps.hour = static_cast<std::int32_t>(ofDay / 3600000);
        gps.minute = static_cast<std::int32_t>(ofDay / 60000 % 60);
        gps.second = static_cast<std::int32_t>(ofDay / 1000 % 60);
        gps.millisecond = static_cast<std::int32_t>(ofDay % 1000);
        gps.decode.known |= kKnownTime;
    }
}

// A UTC date and time with a signed fraction in ns, as NAV-PVT and NAV-TIMEUTC send them
// (the fraction may be negative: 12:00:00 less 20 us is 11:59:59.999...).
void StoreUtc(std::string_view p, std::size_t year, std::size_t nano, bool date, bool time, GpsData& gps)
{
    const std::uint32_t y = U2(p, year);
    const std::uint32_t mo = U1(p, year + 2);
    const std::uint32_t d = U1(p, year + 3);
    const std::uint32_t h = U1(p, year + 4);
    const std::uint32_t mi = U1(p, year + 5);
    const std::uint32_t s = U1(p, year + 6);
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60)
        return;
    const auto ms = static_cast<std::int64_t>(std::lround(I4(p, nano) / 1e6));
    if (s == 60)
    {
        // A leap second has no place in a count of seconds: written as it stands.
        if (date)
            gps.year = static_cast<std::int32_t>(y), gps.month = static_cast<std::int32_t>(mo),
            gps.day = static_cast<std::int32_t>(d);
        if (time)
        {
            gps.hour = static_cast<std::int32_t>(h);
            gps.minute = static_cast<std::int32_t>(mi);
            gps.second = 60;
            gps.millisecond = static_cast<std::int32_t>(std::clamp<std::int64_t>(ms, 0, 999));
            gps.decode.known |= kKnownTime;
        }
        return;
    }
    const std::int64_t days = DaysFromCivil(y, mo, d);
    StoreInstant(days * kMsPerDay + ((h * 60 + mi) * 60 + s) * 1000 + ms, date, time, gps);
}

// GPS week and time of week less the leap seconds.
void StoreGpsTime(std::int32_t week, std::uint32_t towMs, std::int32_t fractionNs, GpsData& gps)
{
    static const std::int64_t kGpsEpochDays = DaysFromCivil(1980, 1, 6);
    const std::int64_t ms = kGpsEpochDays * kMsPerDay + static_cast<std::int64_t>(week) * 7 * kMsPerDay + towMs +
                            std::lround(fractionNs / 1e6) - gps.ubx.leapSeconds * 1000;
    StoreInstant(ms, true, true, gps);
}

void TakeNavigation(GpsData& gps)
{
    gps.ubx.navOwned = kUbxPatience;
}

void StorePosition(double latitude, double longitude, GpsData& gps)
{
    gps.latitude = latitude;
    gps.longitude = longitude;
    gps.decode.known |= kKnownPosition;
}

void StoreAccuracy(std::uint32_t hAccMm, std::uint32_t vAccMm, GpsData& gps)
{
    gps.horizontalAccuracy = static_cast<float>(hAccMm / 1000.0);
    gps.verticalAccuracy = static_cast<float>(vAccMm / 1000.0);
    gps.horizontalAccuracyKnown = true;
    gps.verticalAccuracyKnown = true;
}

void StoreMotion(double speedMs, double headingDeg, GpsData& gps)
{
    // The record keeps knots, as RMC and VTG send them.
    gps.speed = static_cast<float>(speedMs * 3600.0 / 1852.0);
    gps.course = static_cast<float>(headingDeg);
    gps.decode.known |= kKnownSpeed | kKnownCourse;
}

// UBX's fix types, as gpsd reads them: dead reckoning alone counts as 2D, GNSS with dead
// reckoning and a time-only fix (a surveyed timing receiver) as 3D.
std::int32_t ModeOfFixType(std::uint32_t fixType)
{
    switch (fixType)
    {
    case 1:
    case 2:
        return 2;
    case 3:
    case 4:
    case 5:
        return 3;
    default:
        return 1;
    }
}

// NAV-PVT, 92 bytes (84 before protocol 15).
void DecodePvt(std::string_view p, GpsData& gps)
{
    if (p.size() < 84)
        return;
    TakeNavigation(gps);
    gps.ubx.pvtSeen = true;
    const std::uint32_t valid = U1(p, 11);
    StoreUtc(p, 4, 16, (valid & 0x01) != 0, (valid & 0x02) != 0, gps);
    const std::uint32_t flags = U1(p, 21);
    const bool fixOk = (flags & 0x01) != 0;
    gps.fixMode = fixOk ? ModeOfFixType(U1(p, 20)) : 1;
    const std::uint32_t carrier = (flags >> 6) & 0x03;
    gps.rtk = !fixOk ? RtkState::None : carrier == 2 ? RtkState::Fixed : carrier == 1 ? RtkState::Float : RtkState::None;
    const bool invalidPosition = p.size() >= 80 && (U1(p, 78) & 0x01) != 0;
    if (fixOk && !invalidPosition)
    {
        StorePosition(I4(p, 28) * 1e-7, I4(p, 24) * 1e-7, gps);
        gps.altitude = static_cast<float>(I4(p, 36) / 1000.0);
        gps.decode.known |= kKnownAltitude;
        StoreMotion(I4(p, 60) / 1000.0, I4(p, 64) * 1e-5, gps);
    }
    StoreAccuracy(U4(p, 40), U4(p, 44), gps);
    gps.pdop = static_cast<float>(U2(p, 76) / 100.0);
    gps.decode.known |= kKnownPdop;
}

// NAV-SOL (u-blox 5 to 8): ECEF position, fix type, week and time of week.
void DecodeSol(std::string_view p, GpsData& gps)
{
    if (p.size() < 52 || gps.ubx.pvtSeen)
        return;
    TakeNavigation(gps);
    const std::uint32_t flags = U1(p, 11);
    if ((flags & 0x0C) == 0x0C && gps.ubx.leapKnown)
        StoreGpsTime(I2(p, 8), U4(p, 0), I4(p, 4), gps);
    gps.fixMode = ModeOfFixType(U1(p, 10));
    if (gps.fixMode >= 2)
    {
        const Geodetic point = GeodeticOf({I4(p, 12) / 100.0, I4(p, 16) / 100.0, I4(p, 20) / 100.0});
        StorePosition(point.latitude, point.longitude, gps);
    }
    if (U2(p, 44) < 9999)
    {
        gps.pdop = static_cast<float>(U2(p, 44) / 100.0);
        gps.decode.known |= kKnownPdop;
    }
}

// NAV-POSLLH: position and height without a word on the fix.
void DecodePosLlh(std::string_view p, GpsData& gps)
{
    if (p.size() < 28 || gps.ubx.pvtSeen)
        return;
    TakeNavigation(gps);
    StorePosition(I4(p, 8) * 1e-7, I4(p, 4) * 1e-7, gps);
    gps.altitude = static_cast<float>(I4(p, 16) / 1000.0);
    gps.decode.known |= kKnownAltitude;
    StoreAccuracy(U4(p, 20), U4(p, 24), gps);
}

// NAV-VELNED: ground speed and heading, in cm/s and 1e-5 degree.
void DecodeVelNed(std::string_view p, GpsData& gps)
{
    if (p.size() < 36 || gps.ubx.pvtSeen)
        return;
    TakeNavigation(gps);
    StoreMotion(U4(p, 20) / 100.0, I4(p, 24) * 1e-5, gps);
}

void DecodeDop(std::string_view p, GpsData& gps)
{
    if (p.size() < 18)
        return;
    TakeNavigation(gps);
    // 99.99 is the receiver's "not known".
    if (U2(p, 6) < 9999)
    {
        gps.pdop = static_cast<float>(U2(p, 6) / 100.0);
        gps.decode.known |= kKnownPdop;
    }
    if (U2(p, 12) < 9999)
    {
        gps.hdop = static_cast<float>(U2(p, 12) / 100.0);
        gps.decode.known |= kKnownHdop;
    }
}

void DecodeStatus(std::string_view p, GpsData& gps)
{
    if (p.size() < 16)
        return;
    gps.receiverTtff = U4(p, 8);
    gps.receiverUptime = U4(p, 12);
}

void DecodeTimeUtc(std::string_view p, GpsData& gps)
{
    if (p.size() < 20 || gps.ubx.pvtSeen)
        return;
    if ((U1(p, 19) & 0x04) == 0)
        return;
    TakeNavigation(gps);
    StoreUtc(p, 12, 8, true, true, gps);
}

void DecodeTimeGps(std::string_view p, GpsData& gps)
{
    if (p.size() < 16)
        return;
    const std::uint32_t valid = U1(p, 11);
    // Before the receiver has read the leap seconds from the sky it sends its firmware's
    // figure, which is what it applies to its own UTC too.
    gps.ubx.leapSeconds = static_cast<std::int8_t>(I1(p, 10));
    gps.ubx.leapKnown = true;
    if (gps.ubx.pvtSeen || (valid & 0x03) != 0x03)
        return;
    TakeNavigation(gps);
    StoreGpsTime(I2(p, 8), U4(p, 0), I4(p, 4), gps);
}

// One satellite into the next free slot; false when the slots are full.
bool PlaceSatellite(GpsData& gps, int& next, GnssSystem system, int svid, std::uint32_t cno, std::int32_t elevation,
                    std::int32_t azimuth, bool used, std::uint8_t health)
{
    if (next >= kSatelliteSlots)
        return false;
    SatelliteInfo& slot = gps.satellites[next++];
    slot = SatelliteInfo{};
    slot.prn = static_cast<std::uint16_t>(NmeaPrnOf(system, svid));
    slot.talker = ConstellationOf(system).talker;
    slot.snr = static_cast<std::uint16_t>(cno);
    slot.used = used;
    slot.health = health;
    // Unknown positions are sent as an elevation beyond +-90 or an azimuth beyond 359.
    slot.noPosition = elevation < -90 || elevation > 90 || azimuth < 0 || azimuth > 359;
    if (!slot.noPosition)
    {
        slot.elevation = static_cast<std::uint16_t>(std::max(0, elevation));
        slot.azimuth = static_cast<std::uint16_t>(azimuth);
    }
    return true;
}

void ClearFrom(GpsData& gps, int slot)
{
    for (int i = slot; i < kSatelliteSlots; ++i)
        gps.satellites[i] = SatelliteInfo{};
    gps.ubx.skyOwned = kUbxPatience;
}

// NAV-SAT: the whole sky, 12 bytes a satellite.
void DecodeSat(std::string_view p, GpsData& gps)
{
    if (p.size() < 8)
        return;
    const std::size_t count = std::min<std::size_t>(U1(p, 5), (p.size() - 8) / 12);
    int next = 0;
    for (std::size_t i = 0; i < count; ++i)
    {
        const std::size_t at = 8 + 12 * i;
        const GnssSystem system = SystemOfGnssId(static_cast<int>(U1(p, at)));
        if (system == GnssSystem::Unknown)
            continue;
        const std::uint32_t flags = U4(p, at + 8);
        if (!PlaceSatellite(gps, next, system, static_cast<int>(U1(p, at + 1)), U1(p, at + 2), I1(p, at + 3),
                            I2(p, at + 4), (flags & 0x08) != 0, static_cast<std::uint8_t>((flags >> 4) & 0x03)))
            break;
    }
    ClearFrom(gps, next);
}

// NAV-SVINFO's one numbering of every system's satellites.
bool SystemOfLegacySvid(int number, GnssSystem& system, int& svid)
{
    struct Run
    {
        int first;
        int last;
        GnssSystem system;
        int firstSvid;
    };
    static constexpr Run kRuns[] = {
        {1, 32, GnssSystem::Gps, 1},       {33, 64, GnssSystem::BeiDou, 1},   {65, 96, GnssSystem::Glonass, 1},
        {120, 158, GnssSystem::Sbas, 120}, {159, 163, GnssSystem::BeiDou, 33}, {193, 202, GnssSystem::Qzss, 1},
        {211, 246, GnssSystem::Galileo, 1},
    };
    for (const Run& run : kRuns)
    {
        if (number >= run.first && number <= run.last)
        {
            system = run.system;
            svid = number - run.first + run.firstSvid;
            return true;
        }
    }
    return false;
}

// NAV-SVINFO (u-blox 5 to 8): the sky by channel.
void DecodeSvInfo(std::string_view p, GpsData& gps)
{
    if (p.size() < 8)
        return;
    const std::size_t count = std::min<std::size_t>(U1(p, 4), (p.size() - 8) / 12);
    int next = 0;
    for (std::size_t i = 0; i < count; ++i)
    {
        const std::size_t at = 8 + 12 * i;
        GnssSystem system = GnssSystem::Unknown;
        int svid = 0;
        if (!SystemOfLegacySvid(static_cast<int>(U1(p, at + 1)), system, svid))
            continue;
        const std::uint32_t flags = U1(p, at + 2);
        const std::uint8_t health = (flags & 0x10) ? 2 : 1;
        if (!PlaceSatellite(gps, next, system, svid, U1(p, at + 4), I1(p, at + 5), I2(p, at + 6), (flags & 0x01) != 0,
                            health))
            break;
    }
    ClearFrom(gps, next);
}

// NAV-SIG: 16 bytes a signal; several signals of one satellite make its strongest C/N0.
void DecodeSig(std::string_view p, GpsData& gps)
{
    if (p.size() < 8)
        return;
    const std::size_t count = std::min<std::size_t>(U1(p, 5), (p.size() - 8) / 16);
    std::uint64_t seen = 0; // slots this message has spoken for
    static_assert(kSatelliteSlots <= 64);
    for (std::size_t i = 0; i < count; ++i)
    {
        const std::size_t at = 8 + 16 * i;
        const GnssSystem system = SystemOfGnssId(static_cast<int>(U1(p, at)));
        if (system == GnssSystem::Unknown)
            continue;
        const int prn = NmeaPrnOf(system, static_cast<int>(U1(p, at + 1)));
        const auto cno = static_cast<std::uint16_t>(U1(p, at + 6));
        int found = -1;
        int free = -1;
        for (int s = 0; s < kSatelliteSlots && found < 0; ++s)
        {
            const SatelliteInfo& slot = gps.satellites[s];
            if (slot.prn == prn && SatelliteSystem(slot) == system)
                found = s;
            else if (slot.prn == 0 && free < 0)
                free = s;
        }
        if (found < 0)
        {
            int next = free;
            if (free < 0 || !PlaceSatellite(gps, next, system, U1(p, at + 1), cno, 1000, 0,
                                            (U2(p, at + 10) & 0x08) != 0, 0))
                continue;
            found = free;
        }
        SatelliteInfo& slot = gps.satellites[found];
        const std::uint64_t bit = std::uint64_t{1} << found;
        slot.snr = (seen & bit) ? std::max(slot.snr, cno) : cno;
        seen |= bit;
    }
}

using Decoder = void (*)(std::string_view, GpsData&);
struct DecoderRow
{
    std::uint8_t id;
    Decoder decode;
};
constexpr DecoderRow kNavDecoders[] = {
    {0x02, DecodePosLlh}, {0x03, DecodeStatus},  {0x04, DecodeDop},     {0x06, DecodeSol},
    {0x07, DecodePvt},    {0x12, DecodeVelNed},  {0x20, DecodeTimeGps}, {0x21, DecodeTimeUtc},
    {0x30, DecodeSvInfo}, {0x35, DecodeSat},     {0x43, DecodeSig},
};

// The fields that belong to UBX while it sends them, put back after an NMEA sentence.
void DecodeNmeaBesideUbx(std::string_view line, GpsData& gps)
{
    if (gps.ubx.navOwned == 0 && gps.ubx.skyOwned == 0)
    {
        DecodeSentence(line, gps);
        return;
    }
    if (!IsChecksumValid(line))
        return;
    const GpsData before = gps;
    DecodeSentence(line, gps);
    if (before.ubx.navOwned > 0)
    {
        GpsData kept = before;
        kept.decode = gps.decode;
        kept.decode.known = before.decode.known;
        if (before.ubx.skyOwned == 0)
            std::copy(std::begin(gps.satellites), std::end(gps.satellites), std::begin(kept.satellites));
        gps = kept;
    }
    else
        std::copy(std::begin(before.satellites), std::end(before.satellites), std::begin(gps.satellites));
    gps.ubx.navOwned = before.ubx.navOwned > 0 ? before.ubx.navOwned - 1 : 0;
    gps.ubx.skyOwned = before.ubx.skyOwned > 0 ? before.ubx.skyOwned - 1 : 0;
    // The sky goes back to GSV: UBX's list goes, and the next GSV cycles list afresh.
    if (before.ubx.skyOwned == 1)
        std::fill(std::begin(gps.satellites), std::end(gps.satellites), SatelliteInfo{});
}

} // namespace

void DecodeUbx(std::string_view frame, GpsData& gps)
{
    if (frame.size() < 8 || UbxClass(frame) != kNav)
        return;
    const std::uint8_t id = UbxId(frame);
    for (const DecoderRow& row : kNavDecoders)
    {
        if (row.id == id)
        {
            row.decode(UbxPayload(frame), gps);
            return;
        }
    }
}

void DecodeFrame(FrameKind kind, std::string_view bytes, GpsData& gps)
{
    switch (kind)
    {
    case FrameKind::Nmea:
        DecodeNmeaBesideUbx(bytes, gps);
        break;
    case FrameKind::Ubx:
        DecodeUbx(bytes, gps);
        break;
    case FrameKind::Rtcm3:
        break;
    }
}

void DecodeFrame(const Frame& frame, GpsData& gps)
{
    DecodeFrame(frame.kind, frame.bytes, gps);
}

std::string_view UbxMessageName(std::uint8_t cls, std::uint8_t id)
{
    for (const MessageRow& row : kMessages)
    {
        if (row.cls == cls && row.id == id)
            return row.name;
    }
    return {};
}

std::optional<TimeOfDay> UbxTimeOfDay(std::string_view frame)
{
    if (frame.size() < 8 || UbxClass(frame) != kNav || (UbxId(frame) != 0x07 && UbxId(frame) != 0x21))
        return std::nullopt;
    // Through the decoder itself, so that the validity flags are read in one place.
    GpsData scratch{};
    DecodeUbx(frame, scratch);
    return UtcTimeOfDay(scratch);
}

bool IsUbxEpochEnd(std::string_view frame)
{
    return frame.size() >= 8 && UbxClass(frame) == kNav && UbxId(frame) == 0x61;
}

std::optional<std::uint32_t> UbxEpochTow(std::string_view frame)
{
    // Every NAV message but a few begins with iTOW.
    if (frame.size() < 12 || UbxClass(frame) != kNav)
        return std::nullopt;
    const std::uint8_t id = UbxId(frame);
    if (id == 0x32 || id == 0x3B)
        return std::nullopt;
    return U4(UbxPayload(frame), 0);
}

std::optional<UbxVersion> DecodeMonVer(std::string_view frame)
{
    if (frame.size() < 8 || UbxClass(frame) != kMon || UbxId(frame) != 0x04)
        return std::nullopt;
    const std::string_view p = UbxPayload(frame);
    if (p.size() < 40)
        return std::nullopt;
    auto text = [&p](std::size_t at, std::size_t size) {
        const std::string_view field = p.substr(at, size);
        return std::string(field.substr(0, field.find('\0')));
    };
    UbxVersion version;
    version.software = text(0, 30);
    version.hardware = text(30, 10);
    for (std::size_t at = 40; at + 30 <= p.size(); at += 30)
        version.extensions.push_back(text(at, 30));
    return version;
}
