#include "gps/NmeaDecoders.h"

#include "gps/NmeaFraming.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace
{

using Fields = std::vector<NmeaField>;

// True when the sentence carries every one of the given fields; a step that needs a field
// beyond the last is skipped rather than reading past the end.
bool Has(const Fields& fields, std::initializer_list<std::size_t> indices)
{
    for (const std::size_t index : indices)
    {
        if (index >= fields.size())
            return false;
    }
    return true;
}

bool AllNonEmpty(const Fields& fields, std::initializer_list<std::size_t> indices)
{
    for (const std::size_t index : indices)
    {
        if (fields[index].empty())
            return false;
    }
    return true;
}

// Two characters of a date field (ddmmyy), counted from 0. A field too short to cut into
// three pairs cannot be read at all.
std::int32_t PairAt(std::string_view field, std::size_t pair)
{
    if (field.size() < 6)
        throw ConversionError{};
    return FieldToInt(field.substr(pair * 2, 2));
}

void StoreTime(std::string_view field, GpsData& gps)
{
    const std::optional<TimeOfDay> time = TimeOfDay::Parse(field);
    if (!time)
        throw ConversionError{};
    // The epoch before this one, for the talker rule.
    if (const std::optional<TimeOfDay> before = UtcTimeOfDay(gps); before && *before != *time)
        gps.decode.previousEpochMs = static_cast<std::int32_t>(before->Ms());
    gps.hour = time->Hour();
    gps.minute = time->Minute();
    gps.second = time->Second();
    gps.millisecond = time->Millisecond();
    gps.decode.known |= kKnownTime;
}

// Applies the coordinate rule to one of latitude (N/S) or longitude (E/W).
void StoreCoordinate(std::string_view text, std::string_view hemisphere, char positive,
                     char negative, double& target)
{
    const std::size_t point = text.find('.');
    if (point == std::string_view::npos)
        return;
    if (point < 2)
        throw ConversionError{};

    // ddmm.mmmm -> dd.mmmmmm: the two minute digits move behind the point.
    std::string degrees;
    degrees.reserve(text.size());
    degrees.append(text.substr(0, point - 2));
    degrees.push_back('.');
    degrees.append(text.substr(point - 2, 2));
    degrees.append(text.substr(point + 1));

    double value = 0.0;
    if (hemisphere.size() == 1 && hemisphere.front() == positive)
        value = FieldToDouble(degrees);
    else if (hemisphere.size() == 1 && hemisphere.front() == negative)
        value = 0.0 - FieldToDouble(degrees);
    else
        throw ConversionError{};

    target = NmeaCoordinateToDegrees(value);
}

// An emptied slot holds no satellite, so it is used by none either.
void ClearSlot(SatelliteInfo& slot)
{
    slot = SatelliteInfo{};
}

// A field read without abandoning the sentence when it does not convert.
bool TryInt(std::string_view field, std::int32_t& out)
{
    try
    {
        out = FieldToInt(field);
        return true;
    }
    catch (const ConversionError&)
    {
        return false;
    }
}

// ---------------------------------------------------------------------------------------------
// Which talker outranks which for the fix

constexpr std::int64_t kSilentMs = 3000;

// The millisecond of the day the record's time stands at, -1 before any sentence sent one.
std::int32_t CurrentMs(const GpsData& gps)
{
    const std::optional<TimeOfDay> time = UtcTimeOfDay(gps);
    return time ? static_cast<std::int32_t>(time->Ms()) : -1;
}

// The second of the day of a millisecond of the day; -1 stays unknown.
std::int32_t SecondOf(std::int32_t ms)
{
    return ms < 0 ? -1 : ms / 1000;
}

// The second of the day the record's time stands at, -1 before any sentence sent one.
std::int32_t CurrentSecond(const GpsData& gps)
{
    return SecondOf(CurrentMs(gps));
}

// True when 3 s or more of the stream's UTC passed from `since` to `now` (seconds of the day);
// false when either is unknown. A step back (a replayed log, a clock reset) is not silence.
bool SilentSince(std::int32_t since, std::int32_t now)
{
    const std::optional<TimeOfDay> from = TimeOfDay::FromMs(since * 1000LL);
    const std::optional<TimeOfDay> to = TimeOfDay::FromMs(now * 1000LL);
    return from && to && StepMs(*from, *to) >= kSilentMs;
}

// True when a sentence of `talker` stamped `time` (ms of the day, -1 unknown) may write a value
// that currently follows `owner`, last written at `ownerTime`. A talker of lower rank may once
// the owner has let a whole epoch pass without writing it: the receiver has moved from GN to GP
// sentences, say. Within the epoch, and the one after it (where GP's sentence may come before
// GN's), the owner's value stands, unless 3 s of the stream have passed since (a gap in it).
bool MayWrite(const GpsData& gps, Talker owner, std::int32_t ownerTime, Talker talker, std::int32_t time)
{
    if (owner == Talker::None || owner == talker || TalkerRank(talker) > TalkerRank(owner))
        return true;
    const bool skipped = ownerTime != time && ownerTime != gps.decode.previousEpochMs;
    return time >= 0 && (ownerTime < 0 || skipped || SilentSince(SecondOf(ownerTime), SecondOf(time)));
}

void TakeOver(Talker& owner, std::int32_t& ownerTime, Talker talker, std::int32_t time)
{
    owner = talker;
    if (time >= 0)
        ownerTime = time;
}

// ---------------------------------------------------------------------------------------------
// Runs of slots per constellation

// The run a combined-talker PRN belongs to; SBAS goes with GPS, whose GSV lists it.
bool GroupOfPrn(std::int32_t prn, SkyGroup& group)
{
    const GnssSystem system = SystemOfCombinedPrn(prn);
    if (system == GnssSystem::Unknown)
        return false;
    group = GroupOfSystem(system);
    return true;
}

int GroupIndex(SkyGroup group)
{
    return static_cast<int>(group);
}

int GroupStart(const GpsData& gps, SkyGroup group)
{
    int start = 0;
    for (int g = 0; g < GroupIndex(group); ++g)
        start += gps.decode.groupSlots[g];
    return start;
}

int UsedSlots(const GpsData& gps)
{
    return GroupStart(gps, SkyGroup::Count);
}

// Gives the group at least `wanted` slots where the record has room, opening empty slots at
// the end of its run; returns how many it has.
int GrowGroup(GpsData& gps, SkyGroup group, int wanted)
{
    std::uint8_t& have = gps.decode.groupSlots[GroupIndex(group)];
    if (wanted <= have)
        return have;
    const int total = UsedSlots(gps);
    const int add = std::min(wanted - have, kSatelliteSlots - total);
    if (add <= 0)
        return have;
    SatelliteInfo* sats = gps.satellites;
    const int end = GroupStart(gps, group) + have;
    std::copy_backward(sats + end, sats + total, sats + total + add);
    std::fill(sats + end, sats + end + add, SatelliteInfo{});
    have = static_cast<std::uint8_t>(have + add);
    return have;
}

// Drops the group's slots past `keep`, used flags and all: they hold no satellite any more.
void ShrinkGroup(GpsData& gps, SkyGroup group, int keep)
{
    std::uint8_t& have = gps.decode.groupSlots[GroupIndex(group)];
    if (keep >= have)
        return;
    const int total = UsedSlots(gps);
    SatelliteInfo* sats = gps.satellites;
    const int from = GroupStart(gps, group) + have;
    const int to = from - (have - keep);
    std::copy(sats + from, sats + total, sats + to);
    std::fill(sats + total - (have - keep), sats + total, SatelliteInfo{});
    have = static_cast<std::uint8_t>(keep);
}

// The constellation a slot belongs to, for the used flags: its run's, or, in the run of a
// combined listing, its PRN's.
bool SlotInGroup(const GpsData& gps, int slot, SkyGroup wanted)
{
    int start = 0;
    for (int g = 0; g < kSkyGroups; ++g)
    {
        const int end = start + gps.decode.groupSlots[g];
        if (slot < end)
        {
            if (static_cast<SkyGroup>(g) != SkyGroup::Combined)
                return static_cast<SkyGroup>(g) == wanted;
            SkyGroup byPrn = SkyGroup::Count;
            return GroupOfPrn(gps.satellites[slot].prn, byPrn) && byPrn == wanted;
        }
        start = end;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// The fix mode

constexpr int kNoFix = 1;
constexpr int kFix2d = 2;
constexpr int kFix3d = 3;

// True when `time` is at most 3 s of the stream after `since` (seconds of the day, -1 unknown).
bool Within3s(std::int32_t since, std::int32_t time)
{
    const std::optional<TimeOfDay> from = TimeOfDay::FromMs(since * 1000LL);
    const std::optional<TimeOfDay> to = TimeOfDay::FromMs(time * 1000LL);
    if (!from || !to)
        return false;
    const std::int64_t step = StepMs(*from, *to);
    return step >= 0 && step <= kSilentMs;
}

// A sentence that states the mode (not "2D at least") says whether the fix is 3D now.
void Remember3d(GpsDecodeState& d, int mode, std::int32_t time)
{
    d.fix3dTime = mode == kFix3d ? time : -1;
}

// A GSA states the mode outright; it speaks until 3 s of the stream pass without one.
void ReportGsaMode(GpsData& gps, std::int32_t mode)
{
    GpsDecodeState& d = gps.decode;
    gps.fixMode = mode;
    d.gsaMode = static_cast<std::int8_t>(std::clamp(mode, -1, 127));
    d.gsaTime = CurrentSecond(gps);
    d.modeTime = d.gsaTime;
    Remember3d(d, mode, d.gsaTime);
}

// What a position sentence says of the fix. Within one second the best report of every
// sentence counts (RMC's "A" is 2D at least, beside a GGA that has the altitude), and "at
// least 2D" keeps a 3D that a sentence stated within the last 3 s (a GGA every 4 s beside an
// RMC every second).
void ReportMode(GpsData& gps, int mode, std::int32_t timeMs, bool atLeast = false)
{
    GpsDecodeState& d = gps.decode;
    const std::int32_t time = timeMs < 0 ? CurrentSecond(gps) : SecondOf(timeMs);
    // A GSA before any time: its 3 s start with the first time, and its epoch is an older one.
    const bool gsaUntimed = d.gsaMode != 0 && d.gsaTime < 0;
    if (gsaUntimed)
        d.gsaTime = time;
    if (!atLeast)
        Remember3d(d, mode, time);
    else if (mode == kFix2d && Within3s(d.fix3dTime, time))
        mode = kFix3d;
    if (time != d.epochTime || d.epochMode == 0)
    {
        d.epochTime = time;
        d.epochMode = static_cast<std::int8_t>(mode);
    }
    else
        d.epochMode = static_cast<std::int8_t>(std::max<int>(d.epochMode, mode));
    d.modeTime = time;
    // A GSA speaks for its own epoch: a fix reported in a newer one is not held back by its
    // "no fix" (the first fix after a cold start, before the next GSA).
    const bool newerFix = d.gsaMode <= kNoFix && d.epochMode >= kFix2d && (gsaUntimed || time != d.gsaTime);
    if (d.gsaMode == 0 || newerFix || SilentSince(d.gsaTime, time))
        gps.fixMode = d.epochMode;
}

// A sentence stamped `time` that reports no mode: a fix nothing has reported for 3 s is gone.
void AgeMode(GpsData& gps, std::int32_t timeMs)
{
    if (gps.fixMode >= kFix2d && SilentSince(gps.decode.modeTime, SecondOf(timeMs)))
        gps.fixMode = kNoFix;
}

// The UTC time field of a sentence, stored; its millisecond of the day, or -1 when it is empty.
std::int32_t ReadTime(const Fields& f, std::size_t index, GpsData& gps)
{
    if (!Has(f, {index}) || f[index].empty())
        return -1;
    // A sentence that ends with its time carries the checksum in the same field.
    const std::string_view field(f[index]);
    StoreTime(field.substr(0, field.find('*')), gps);
    return CurrentMs(gps);
}

// The position of fields at..at+3 (latitude, N/S, longitude, E/W), by the rule of which
// talker the position follows. GGA and GNS clear a position they send empty; RMC and GLL
// leave the previous one.
void ReadPosition(const Fields& f, std::size_t at, bool clearWhenEmpty, Talker talker, std::int32_t time,
                  GpsData& gps)
{
    GpsDecodeState& d = gps.decode;
    if (!Has(f, {at, at + 1, at + 2, at + 3}) || !MayWrite(gps, d.positionTalker, d.positionTime, talker, time))
        return;
    if (AllNonEmpty(f, {at, at + 1, at + 2, at + 3}))
    {
        TakeOver(d.positionTalker, d.positionTime, talker, time);
        StoreCoordinate(f[at], f[at + 1], 'N', 'S', gps.latitude);
        StoreCoordinate(f[at + 2], f[at + 3], 'E', 'W', gps.longitude);
        d.known |= kKnownPosition;
    }
    else if (clearWhenEmpty)
    {
        TakeOver(d.positionTalker, d.positionTime, talker, time);
        gps.latitude = 0.0;
        gps.longitude = 0.0;
        d.known &= static_cast<std::uint8_t>(~kKnownPosition);
    }
}

void ReadAltitude(const Fields& f, std::size_t index, Talker talker, std::int32_t time, GpsData& gps)
{
    GpsDecodeState& d = gps.decode;
    if (Has(f, {index}) && !f[index].empty() && MayWrite(gps, d.altitudeTalker, d.altitudeTime, talker, time))
    {
        TakeOver(d.altitudeTalker, d.altitudeTime, talker, time);
        gps.altitude = FieldToDouble(f[index]);
        d.known |= kKnownAltitude;
    }
}

// Speed in knots and course, which follow the talker of the position.
void ReadMotion(const Fields& f, std::size_t speed, std::size_t course, GpsData& gps)
{
    if (Has(f, {speed}) && !f[speed].empty())
    {
        gps.speed = FieldToDouble(f[speed]);
        gps.decode.known |= kKnownSpeed;
    }
    if (Has(f, {course}) && !f[course].empty())
    {
        gps.course = FieldToDouble(f[course]);
        gps.decode.known |= kKnownCourse;
    }
}

// An A/V status field as a mode: A is a fix, at least 2D; V none.
void ReportStatus(const Fields& f, std::size_t index, std::int32_t time, GpsData& gps)
{
    if (!Has(f, {index}))
        return;
    if (f[index] == "A")
        ReportMode(gps, kFix2d, time, true);
    else if (f[index] == "V")
        ReportMode(gps, kNoFix, time);
}

// ---------------------------------------------------------------------------------------------
// Position sentences

// $GPGGA,083723.00,5155.55442,N,00434.65873,E,1,06,2.51,-4.0,M,46.0,M,,*70
// Quality (field 6) 1-8 is a fix, 3D when the altitude is sent; 0 is none.
void ParseGGA(std::string_view line, Talker talker, GpsData& gps)
{
    const Fields f = SplitFields(line);
    const std::int32_t time = ReadTime(f, 1, gps);
    ReadPosition(f, 2, true, talker, time, gps);
    ReadAltitude(f, 9, talker, time, gps);
    std::int32_t used = 0;
    if (Has(f, {7}) && !f[7].empty() && TryInt(f[7], used) && used >= 0 && used <= 255)
    {
        gps.decode.ggaUsed = static_cast<std::uint8_t>(used);
        gps.decode.ggaUsedSystem = SystemOf(talker, 0);
    }
    std::int32_t quality = 0;
    if (Has(f, {6}) && !f[6].empty() && TryInt(f[6], quality) && quality >= 0 && quality <= 8)
    {
        const bool altitude = Has(f, {9}) && !f[9].empty();
        ReportMode(gps, quality == 0 ? kNoFix : altitude ? kFix3d : kFix2d, time);
        gps.rtk = quality == 4 ? RtkState::Fixed : quality == 5 ? RtkState::Float : RtkState::None;
    }
    else
        AgeMode(gps, time);
}

// $GPGST,172814.0,0.006,0.023,0.020,273.6,0.023,0.020,0.031*6A
// The standard deviations of latitude, longitude (fields 6, 7) and altitude (8), in metres:
// the horizontal estimate is their root sum of squares, as a 2D error is.
void ParseGST(std::string_view line, Talker, GpsData& gps)
{
    const Fields f = SplitFields(line.substr(0, line.find('*')));
    if (Has(f, {6, 7}) && AllNonEmpty(f, {6, 7}))
    {
        const double lat = FieldToDouble(f[6]);
        const double lon = FieldToDouble(f[7]);
        gps.horizontalAccuracy = static_cast<float>(std::sqrt(lat * lat + lon * lon));
        gps.horizontalAccuracyKnown = true;
    }
    if (Has(f, {8}) && !f[8].empty())
    {
        gps.verticalAccuracy = FieldToFloat(f[8]);
        gps.verticalAccuracyKnown = true;
    }
}

// $GPRMC,083723.00,A,5155.55442,N,00434.65873,E,0.211,,210810,,,A*7F
// NMEA 4.10 adds the mode (field 12) and 4.11 the navigational status (13); neither is read.
void ParseRMC(std::string_view line, Talker talker, GpsData& gps)
{
    const Fields f = SplitFields(line);

    std::int32_t time = -1;
    if (Has(f, {1, 9}) && AllNonEmpty(f, {1, 9}))
    {
        time = ReadTime(f, 1, gps);
        gps.day = PairAt(f[9], 0);
        gps.month = PairAt(f[9], 1);
        gps.year = PairAt(f[9], 2) + 2000;
    }

    GpsDecodeState& d = gps.decode;
    if (MayWrite(gps, d.positionTalker, d.positionTime, talker, time))
    {
        ReadPosition(f, 3, false, talker, time, gps);
        ReadMotion(f, 7, 8, gps);
    }
    ReportStatus(f, 2, time, gps);
}

// $GPGLL,5155.55442,N,00434.65873,E,083723.00,A,A*6E
// NMEA 2.3 and later; the time (5) and status (6) of earlier versions may be missing.
void ParseGLL(std::string_view line, Talker talker, GpsData& gps)
{
    const Fields f = SplitFields(line);
    const std::int32_t time = ReadTime(f, 5, gps);
    ReadPosition(f, 1, false, talker, time, gps);
    ReportStatus(f, 6, time, gps);
}

// $GNGNS,074157.799,3114.8902,N,12135.2443,E,ANNA,07,1.1,192.9,8.3,,0000*51
// One mode letter per system (field 6): N is no fix, any other letter a fix.
void ParseGNS(std::string_view line, Talker talker, GpsData& gps)
{
    const Fields f = SplitFields(line);
    const std::int32_t time = ReadTime(f, 1, gps);
    ReadPosition(f, 2, true, talker, time, gps);
    ReadAltitude(f, 9, talker, time, gps);
    if (Has(f, {6}) && !f[6].empty())
    {
        const bool fix = f[6].find_first_not_of('N') != std::string::npos;
        const bool altitude = Has(f, {9}) && !f[9].empty();
        ReportMode(gps, !fix ? kNoFix : altitude ? kFix3d : kFix2d, time);
    }
    else
        AgeMode(gps, time);
}

// $GPVTG,054.7,T,034.4,M,005.5,N,010.2,K,A*25 (NMEA 2.3; 4.10 the same)
// $GPVTG,054.7,034.4,005.5,010.2*4B (before NMEA 2.3: no unit letters)
void ParseVTG(std::string_view line, Talker talker, GpsData& gps)
{
    const Fields f = SplitFields(line);
    const GpsDecodeState& d = gps.decode;
    if (!MayWrite(gps, d.positionTalker, d.positionTime, talker, CurrentMs(gps)))
        return;
    if (Has(f, {2}) && f[2] == "T")
        ReadMotion(f, 5, 1, gps);
    else
        ReadMotion(f, 3, 1, gps);
}

// $GPZDA,193913.00,07,09,2018,00,00*63
// Date and UTC time; the local zone (fields 5 and 6) is not applied.
void ParseZDA(std::string_view line, Talker, GpsData& gps)
{
    const Fields f = SplitFields(line);
    const std::int32_t time = ReadTime(f, 1, gps);
    if (time >= 0 && Has(f, {2, 3, 4}) && AllNonEmpty(f, {2, 3, 4}))
    {
        gps.day = FieldToInt(f[2]);
        gps.month = FieldToInt(f[3]);
        gps.year = FieldToInt(f[4]);
    }
    AgeMode(gps, time);
}

// ---------------------------------------------------------------------------------------------
// Satellites used

// $GPGSA,A,3,27,15,09,28,18,08,,,,,,,3.33,2.51,2.20*04
// $GNGSA,A,3,70,78,82,79,88,81,69,,,,,,0.98,0.49,0.84,2*08 (NMEA 4.10: system id 2, GLONASS)
// $GNGSA,A,3,05,12,70,71,,,,,,,,,1.9,1.0,1.6*2A (no system id: each PRN in its own system)
void ParseGSA(std::string_view line, Talker talker, GpsData& gps)
{
    const Fields f = SplitFields(line);

    const bool noFix = Has(f, {2}) && f[2] == "1";
    if (Has(f, {2}) && !f[2].empty())
        ReportGsaMode(gps, FieldToInt(f[2]));

    // A PRN that does not convert ends the list there; the flags are still recomputed from the
    // PRNs before it, and the DOPs after it are not read.
    std::int32_t prns[12] = {};
    int listed = 0;
    bool broken = false;
    for (std::size_t index = 3; index <= 14 && index < f.size() && !broken; ++index)
    {
        std::int32_t prn = 0;
        if (f[index].empty())
            continue;
        broken = !TryInt(f[index], prn);
        // An empty slot (PRN 0) holds no satellite: marking it would hand the flag to whatever
        // satellite a later GSV puts there.
        if (!broken && prn > 0)
            prns[listed++] = prn;
    }

    // Which constellation the sentence speaks for: its talker's, else the system id of
    // NMEA 4.10 (the last field, with the checksum behind it), else each PRN's own.
    SkyGroup group = GroupOfTalker(talker);
    bool byRun = talker != Talker::GN;
    std::int32_t id = 0;
    if (!byRun && Has(f, {18}) && TryInt(std::string_view(f[18]).substr(0, f[18].find('*')), id) &&
        SystemOfNmeaId(id) != GnssSystem::Unknown)
    {
        group = GroupOfSystem(SystemOfNmeaId(id));
        byRun = true;
    }

    GpsDecodeState& d = gps.decode;
    d.usedByGsa = true;
    if (byRun)
    {
        for (int slot = 0; slot < kSatelliteSlots; ++slot)
        {
            if (SlotInGroup(gps, slot, group))
                gps.satellites[slot].used = false;
        }
        for (int s = 0; s < kGnssSystems; ++s)
        {
            if (GroupOfSystem(static_cast<GnssSystem>(s)) == group)
                d.usedUnlisted[s] = 0;
        }
    }
    else
    {
        bool speaksFor[kSkyGroups] = {};
        for (int i = 0; i < listed; ++i)
        {
            SkyGroup of = SkyGroup::Count;
            if (GroupOfPrn(prns[i], of))
                speaksFor[static_cast<int>(of)] = true;
        }
        // No satellites and no word of which constellation: nothing is used only without a fix.
        const auto cleared = [&](GnssSystem system) {
            return listed == 0 ? noFix : speaksFor[static_cast<int>(GroupOfSystem(system))];
        };
        for (SatelliteInfo& sat : gps.satellites)
        {
            if (sat.prn != 0 && cleared(SatelliteSystem(sat)))
                sat.used = false;
        }
        for (int s = 0; s < kGnssSystems; ++s)
        {
            if (cleared(static_cast<GnssSystem>(s)))
                d.usedUnlisted[s] = 0;
        }
    }

    // The talker the PRNs are numbered by: a GN GSA with a system id numbers them as that
    // system's own talker would.
    const Talker numbering = talker == Talker::GN && byRun ? ConstellationOf(SystemOfNmeaId(id)).talker : talker;
    for (int i = 0; i < listed; ++i)
    {
        const GnssSystem system = SystemOfCombinedPrn(prns[i]);
        // Only the lowest slot holding the PRN is marked, so a duplicate never counts twice.
        bool marked = false;
        for (int slot = 0; slot < kSatelliteSlots && !marked; ++slot)
        {
            const SatelliteInfo& sat = gps.satellites[slot];
            const bool inScope = byRun ? SlotInGroup(gps, slot, group) : SatelliteSystem(sat) == system;
            if (sat.prn == prns[i] && inScope)
            {
                gps.satellites[slot].used = true;
                marked = true;
            }
        }
        // Used, though no GSV has listed it (yet, or ever): counted all the same.
        std::uint8_t& unlisted = d.usedUnlisted[static_cast<int>(SystemOf(numbering, prns[i]))];
        if (!marked && unlisted < 255)
            ++unlisted;
    }

    if (broken)
        return;
    if (Has(f, {15}) && !f[15].empty())
    {
        gps.pdop = FieldToFloat(f[15]);
        gps.decode.known |= kKnownPdop;
    }
    if (Has(f, {16}) && !f[16].empty())
    {
        gps.hdop = FieldToFloat(f[16]);
        gps.decode.known |= kKnownHdop;
    }
}

// ---------------------------------------------------------------------------------------------
// Satellites in view: a GSV message is read whole first, then merged into the record.

// Messages per group: four satellites each, and no run can be longer than the record.
constexpr std::int32_t kMaxGsvMessages = kSatelliteSlots / 4;

struct GsvSatellite
{
    bool listed = false; // a PRN was sent; the rest of the group may be empty
    std::uint16_t prn = 0;
    bool positioned = false;
    std::uint16_t elevation = 0;
    std::uint16_t azimuth = 0;
    std::uint16_t snr = 0; // 0: not tracked
};

struct GsvMessage
{
    std::int32_t total = 0;  // 0: no cycle to complete
    std::int32_t number = 0;
    bool nothingInView = false;
    std::uint8_t signal = 1; // signal id + 2; 1 when none was sent
    int groups = -1;         // complete four-field groups, -1 when not even one
    int read = 0;            // groups read before a field that did not convert
    bool broken = false;
    GsvSatellite sats[4];
};

// $GPGSV,3,1,12,05,04,187,,08,11,078,29,09,43,270,37,12,03,212,*75
// $GPGSV,4,4,13,51,37,160,37,1*55 (NMEA 4.10: signal id 1 after the last satellite)
// $PQGSV,2,1,08,02,20,116,,03,,,,05,34,137,,07,06,045,,0,4*52 (Quectel: signal, then system id)
// $GPGSV,1,1,00*79 (nothing in view)
// False when the message cannot be placed at all.
bool ParseGsvMessage(std::string_view line, GsvMessage& m)
{
    const std::size_t star = line.find('*');
    if (star == std::string_view::npos)
        return false;
    // The checksum must not stick to the last signal-to-noise field.
    const Fields f = SplitFields(line.substr(0, star));
    m.nothingInView = Has(f, {1, 2, 3}) && f[1] == "1" && f[2] == "1" && f[3] == "00";

    if (!Has(f, {2}))
        return false;
    m.number = FieldToInt(f[2]);
    if (m.number < 1 || m.number > kMaxGsvMessages)
        return false;
    if (!TryInt(f[1], m.total) || m.total < m.number || m.total > kMaxGsvMessages)
        m.total = 0;
    m.groups = static_cast<int>(f.size() / 4) - 1;

    // Past the last group: the signal id, and at Quectel's also a system id. A message of four
    // satellites, or the last of its cycle, never ends in loose fields otherwise.
    const std::size_t loose = (f.size() - 4) % 4;
    if (m.groups >= 0 && (loose == 1 || loose == 2) && (m.groups == 4 || m.number == m.total))
    {
        const std::string_view id(f[f.size() - loose]);
        if (id.size() == 1 && std::isxdigit(static_cast<unsigned char>(id[0])))
            m.signal = static_cast<std::uint8_t>(2 + std::stoi(std::string(id), nullptr, 16));
    }

    try
    {
        for (int i = 0; i < std::min(m.groups, 4); ++i)
        {
            const std::size_t base = 4 + 4 * static_cast<std::size_t>(i);
            GsvSatellite& sat = m.sats[i];
            if (f[base].empty())
            {
                ++m.read;
                continue;
            }
            sat.prn = FieldToUShort(f[base]);
            sat.listed = true;
            if (AllNonEmpty(f, {base + 1, base + 2}))
            {
                sat.elevation = FieldToUShort(f[base + 1]);
                sat.azimuth = FieldToUShort(f[base + 2]);
                sat.positioned = true;
            }
            sat.snr = f[base + 3].empty() ? 0 : FieldToUShort(f[base + 3]);
            ++m.read;
        }
    }
    catch (const ConversionError&)
    {
        m.sats[m.read] = GsvSatellite{};
        m.broken = true;
    }
    return true;
}

void PlaceSatellite(SatelliteInfo& slot, const GsvSatellite& sat, Talker talker)
{
    slot.prn = sat.prn;
    slot.talker = talker;
    slot.elevation = sat.elevation;
    slot.azimuth = sat.azimuth;
    slot.snr = sat.snr;
    slot.noPosition = !sat.positioned;
}

// Raises a listed satellite's SNR to this signal's (and gives it the position it lacked), or
// adds a satellite the lead signal did not list, in the first empty slot of the run or a new
// one at its end.
void MergeSatellite(GpsData& gps, SkyGroup group, Talker talker, const GsvSatellite& sat)
{
    if (!sat.listed || sat.prn == 0)
        return;
    const int start = GroupStart(gps, group);
    int have = gps.decode.groupSlots[GroupIndex(group)];
    for (int i = start; i < start + have; ++i)
    {
        SatelliteInfo& slot = gps.satellites[i];
        if (slot.prn != sat.prn)
            continue;
        slot.snr = std::max(slot.snr, sat.snr);
        if (slot.noPosition && sat.positioned)
        {
            slot.elevation = sat.elevation;
            slot.azimuth = sat.azimuth;
            slot.noPosition = false;
        }
        return;
    }
    int free = -1;
    for (int i = start; i < start + have && free < 0; ++i)
    {
        if (gps.satellites[i].prn == 0)
            free = i;
    }
    if (free < 0)
    {
        if (GrowGroup(gps, group, have + 1) == have)
            return;
        free = start + have;
    }
    PlaceSatellite(gps.satellites[free], sat, talker);
}

// At the last message of a lead cycle: what the cycle did not send is gone.
void CompleteCycle(GpsData& gps, SkyGroup group, std::int32_t total)
{
    const int g = GroupIndex(group);
    const std::uint32_t seen = gps.decode.messagesSeen[g];
    if ((seen & 2u) == 0)
        return; // its first message was lost: no telling what the cycle held
    const int start = GroupStart(gps, group);
    const int have = gps.decode.groupSlots[g];
    for (std::int32_t message = 1; message <= total; ++message)
    {
        if (seen & (1u << message))
            continue;
        for (int i = 4 * (message - 1); i < 4 * message && i < have; ++i)
            ClearSlot(gps.satellites[start + i]);
    }
    ShrinkGroup(gps, group, 4 * total);
}

// A listing of another signal that no longer sees the lead for this many cycles takes over.
constexpr int kLeadPatience = 16;

// NMEA 4.10 receivers repeat a listing per signal: the lead signal lays out the slots, the
// others only merge into them.
void MergeGsv(const GsvMessage& m, Talker talker, GpsData& gps)
{
    const SkyGroup group = GroupOfTalker(talker);
    const int g = GroupIndex(group);
    GpsDecodeState& d = gps.decode;

    if (d.leadSignal[g] == 0)
        d.leadSignal[g] = m.signal;
    // A cycle that starts with a signal id where the lead had none means the receiver now
    // sends ids; otherwise the lead is replaced only once it has long stopped coming.
    if (m.signal != d.leadSignal[g] && m.number == 1 && !m.nothingInView &&
        (d.leadSignal[g] == 1 || ++d.otherSignalStarts[g] > kLeadPatience))
        d.leadSignal[g] = m.signal;

    if (m.nothingInView)
    {
        // Another signal that sees nothing says nothing of the lead's listing.
        if (m.signal != d.leadSignal[g])
            return;
        const int start = GroupStart(gps, group);
        for (int i = start; i < start + d.groupSlots[g]; ++i)
            ClearSlot(gps.satellites[i]);
        return;
    }

    if (m.signal != d.leadSignal[g])
    {
        // A later message of the lead's cycle that carries another signal (Quectel) still
        // counts towards that cycle; a cycle of its own (u-blox) only merges.
        const bool continuesLead = m.number > 1 && m.total == static_cast<std::int32_t>(d.leadTotal[g]) &&
                                   (d.messagesSeen[g] & (1u << (m.number - 1))) != 0;
        if (continuesLead && m.number == m.total && !m.broken)
            CompleteCycle(gps, group, m.total);
        for (int i = 0; i < m.read; ++i)
            MergeSatellite(gps, group, talker, m.sats[i]);
        return;
    }

    if (m.number == 1)
    {
        d.messagesSeen[g] = 0;
        d.otherSignalStarts[g] = 0;
    }
    else if ((d.messagesSeen[g] & (1u << m.number)) != 0 || m.total != static_cast<std::int32_t>(d.leadTotal[g]))
    {
        // A new cycle whose first message was lost.
        d.messagesSeen[g] = 0;
    }
    d.messagesSeen[g] |= 1u << m.number;
    d.leadTotal[g] = static_cast<std::uint8_t>(m.total);

    const int first = 4 * (m.number - 1);
    const int have = GrowGroup(gps, group, first + 4);
    const int start = GroupStart(gps, group);
    for (int i = 0; i < 4 && first + i < have; ++i)
    {
        SatelliteInfo& slot = gps.satellites[start + first + i];
        if (i >= m.read)
        {
            // A field that did not convert ends the message: what follows stays as it was.
            if (!m.broken && i >= m.groups)
                ClearSlot(slot);
            continue;
        }
        if (m.sats[i].listed)
            PlaceSatellite(slot, m.sats[i], talker);
    }

    if (m.total != 0 && m.number == m.total && !m.broken)
        CompleteCycle(gps, group, m.total);
}

// A constellation no GSV has listed for 3 s of the stream is no longer in view.
void ExpireListings(GpsData& gps, SkyGroup listed)
{
    GpsDecodeState& d = gps.decode;
    const std::int32_t now = CurrentSecond(gps);
    d.listedAt[GroupIndex(listed)] = now;
    for (int g = 0; g < kSkyGroups; ++g)
    {
        if (d.listedAt[g] < 0 && d.groupSlots[g] != 0)
            d.listedAt[g] = now; // listed before any time: its 3 s start now
        else if (d.groupSlots[g] != 0 && SilentSince(d.listedAt[g], now))
            ShrinkGroup(gps, static_cast<SkyGroup>(g), 0);
    }
}

void ParseGSV(std::string_view line, Talker talker, GpsData& gps)
{
    GsvMessage message;
    if (!ParseGsvMessage(line, message))
        return;
    MergeGsv(message, talker, gps);
    ExpireListings(gps, GroupOfTalker(talker));
}

// ---------------------------------------------------------------------------------------------
// Dispatch

// Runs one decoder, ending the sentence quietly at the first field that does not convert.
template <void (*Parse)(std::string_view, Talker, GpsData&)>
void Guarded(std::string_view line, Talker talker, GpsData& gps)
{
    try
    {
        Parse(line, talker, gps);
    }
    catch (const ConversionError&)
    {
    }
    catch (const std::bad_alloc&)
    {
        // A line is at most 1023 bytes; losing one sentence beats losing the reader thread.
    }
}

using Decoder = void (*)(std::string_view, Talker, GpsData&);

struct SentenceRow
{
    std::string_view type;
    Decoder decode;
    bool anyTalker; // also from talkers that are no satellite system
};

constexpr SentenceRow kSentences[] = {
    {"GGA", Guarded<ParseGGA>, true}, {"RMC", Guarded<ParseRMC>, true}, {"GSA", Guarded<ParseGSA>, false},
    {"GSV", Guarded<ParseGSV>, false}, {"GLL", Guarded<ParseGLL>, true}, {"GNS", Guarded<ParseGNS>, false},
    {"VTG", Guarded<ParseVTG>, true}, {"ZDA", Guarded<ParseZDA>, true}, {"GST", Guarded<ParseGST>, true},
};

// The talker of an identifier such as "$GNGGA"; None for a proprietary or malformed one.
Talker TalkerOf(std::string_view identifier)
{
    if (identifier.size() != 6 || identifier[0] != '$')
        return Talker::None;
    return TalkerOfText(identifier.substr(1, 2));
}

Talker TalkerOfLine(std::string_view line)
{
    const Talker talker = TalkerOf(line.substr(0, std::min<std::size_t>(line.find(','), 6)));
    return talker == Talker::None ? Talker::GP : talker;
}

} // namespace

double NmeaCoordinateToDegrees(double value)
{
    const double degrees = std::trunc(value);
    return degrees + (value - degrees) * 100.0 / 60.0;
}

void DecodeGGA(std::string_view line, GpsData& gps)
{
    Guarded<ParseGGA>(line, TalkerOfLine(line), gps);
}

void DecodeRMC(std::string_view line, GpsData& gps)
{
    Guarded<ParseRMC>(line, TalkerOfLine(line), gps);
}

void DecodeGSA(std::string_view line, GpsData& gps)
{
    Guarded<ParseGSA>(line, TalkerOfLine(line), gps);
}

void DecodeGSV(std::string_view line, GpsData& gps)
{
    Guarded<ParseGSV>(line, TalkerOfLine(line), gps);
}

void DecodeSentence(std::string_view line, GpsData& gps)
{
    if (!IsChecksumValid(line))
        return;
    const std::size_t comma = line.find(',');
    if (comma == std::string_view::npos)
        return;

    const std::string_view identifier = line.substr(0, comma);
    const Talker talker = TalkerOf(identifier);
    if (talker == Talker::None)
        return;
    const std::string_view type = identifier.substr(3);
    for (const SentenceRow& row : kSentences)
    {
        if (row.type == type && (row.anyTalker || talker != Talker::Other))
        {
            row.decode(line, talker, gps);
            return;
        }
    }
}
