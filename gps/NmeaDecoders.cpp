#include "gps/NmeaDecoders.h"

#include "gps/NmeaFraming.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <new>
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

// Two characters of a time or date field, counted from 0. A field too short to cut into
// three pairs cannot be read at all.
std::int32_t PairAt(std::string_view field, std::size_t pair)
{
    if (field.size() < 6)
        throw ConversionError{};
    return FieldToInt(field.substr(pair * 2, 2));
}

void StoreTime(std::string_view field, GpsData& gps)
{
    gps.hour = PairAt(field, 0);
    gps.minute = PairAt(field, 1);
    gps.second = PairAt(field, 2);
}

// Applies the coordinate rule to one of latitude (N/S) or longitude (E/W).
void StoreCoordinate(std::string_view text, std::string_view hemisphere, char positive,
                     char negative, float& target)
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

    float value = 0.0f;
    if (hemisphere.size() == 1 && hemisphere.front() == positive)
        value = FieldToFloat(degrees);
    else if (hemisphere.size() == 1 && hemisphere.front() == negative)
        value = 0.0f - FieldToFloat(degrees);
    else
        throw ConversionError{};

    target = NmeaCoordinateToDegrees(value);
}

void ClearSlot(SatelliteInfo& slot)
{
    slot.prn = 0;
    slot.elevation = 0;
    slot.azimuth = 0;
    slot.snr = 0;
    slot.talker = Talker::None;
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

int Rank(Talker talker)
{
    switch (talker)
    {
    case Talker::GN:
        return 3;
    case Talker::GP:
        return 2;
    case Talker::None:
        return 0;
    default:
        return 1;
    }
}

constexpr std::int32_t kSecondsPerDay = 24 * 3600;
constexpr std::int32_t kSilentSeconds = 3;

std::int32_t SecondOfDay(const GpsData& gps)
{
    return gps.hour * 3600 + gps.minute * 60 + gps.second;
}

// True when a sentence of `talker` stamped `time` (-1 unknown) may write a value that
// currently follows `owner`, last written at `ownerTime`.
bool MayWrite(Talker owner, std::int32_t ownerTime, Talker talker, std::int32_t time)
{
    if (owner == Talker::None || owner == talker || Rank(talker) > Rank(owner))
        return true;
    if (time < 0 || ownerTime < 0)
        return false;
    const std::int32_t silent = ((time - ownerTime) % kSecondsPerDay + kSecondsPerDay) % kSecondsPerDay;
    // A jump backwards (a replayed log, a new day in the far past) is not silence.
    return silent >= kSilentSeconds && silent < kSecondsPerDay / 2;
}

void TakeOver(Talker& owner, std::int32_t& ownerTime, Talker talker, std::int32_t time)
{
    owner = talker;
    if (time >= 0)
        ownerTime = time;
}

// ---------------------------------------------------------------------------------------------
// Runs of slots per constellation

SkyGroup GroupOfTalker(Talker talker)
{
    switch (talker)
    {
    case Talker::GL:
        return SkyGroup::Glonass;
    case Talker::GA:
        return SkyGroup::Galileo;
    case Talker::GB:
    case Talker::BD:
        return SkyGroup::BeiDou;
    case Talker::GQ:
    case Talker::QZ:
        return SkyGroup::Qzss;
    case Talker::GI:
        return SkyGroup::NavIC;
    case Talker::GN:
        return SkyGroup::Combined;
    default:
        return SkyGroup::Gps;
    }
}

// NMEA 4.10 system ids of GSA field 18 (5 and 6 from NMEA 4.11).
bool GroupOfSystemId(std::int32_t id, SkyGroup& group)
{
    switch (id)
    {
    case 1: group = SkyGroup::Gps; return true;
    case 2: group = SkyGroup::Glonass; return true;
    case 3: group = SkyGroup::Galileo; return true;
    case 4: group = SkyGroup::BeiDou; return true;
    case 5: group = SkyGroup::Qzss; return true;
    case 6: group = SkyGroup::NavIC; return true;
    default: return false;
    }
}

// The constellation of a combined-talker PRN; SBAS goes with GPS, whose GSV lists it.
bool GroupOfPrn(std::int32_t prn, SkyGroup& group)
{
    SatelliteInfo sat;
    sat.talker = Talker::GN;
    if (prn <= 0 || prn > 0xFFFF)
        return false;
    sat.prn = static_cast<std::uint16_t>(prn);
    switch (SatelliteSystem(sat))
    {
    case GnssSystem::Gps:
    case GnssSystem::Sbas: group = SkyGroup::Gps; return true;
    case GnssSystem::Glonass: group = SkyGroup::Glonass; return true;
    case GnssSystem::Galileo: group = SkyGroup::Galileo; return true;
    case GnssSystem::BeiDou: group = SkyGroup::BeiDou; return true;
    case GnssSystem::Qzss: group = SkyGroup::Qzss; return true;
    case GnssSystem::NavIC: group = SkyGroup::NavIC; return true;
    case GnssSystem::Unknown: break;
    }
    return false;
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
            SkyGroup byPrn;
            return GroupOfPrn(gps.satellites[slot].prn, byPrn) && byPrn == wanted;
        }
        start = end;
    }
    return false;
}

// $GPGGA,083723.00,5155.55442,N,00434.65873,E,1,06,2.51,-4.0,M,46.0,M,,*70
void ParseGGA(std::string_view line, Talker talker, GpsData& gps)
{
    const Fields f = SplitFields(line);

    std::int32_t time = -1;
    if (Has(f, {1}) && !f[1].empty())
    {
        StoreTime(f[1], gps);
        time = SecondOfDay(gps);
    }

    GpsDecodeState& d = gps.decode;
    if (Has(f, {2, 3, 4, 5}) && MayWrite(d.positionTalker, d.positionTime, talker, time))
    {
        TakeOver(d.positionTalker, d.positionTime, talker, time);
        if (AllNonEmpty(f, {2, 3, 4, 5}))
        {
            StoreCoordinate(f[2], f[3], 'N', 'S', gps.latitude);
            StoreCoordinate(f[4], f[5], 'E', 'W', gps.longitude);
            d.known |= kKnownPosition;
        }
        else
        {
            gps.latitude = 0.0f;
            gps.longitude = 0.0f;
            d.known &= static_cast<std::uint8_t>(~kKnownPosition);
        }
    }

    if (Has(f, {9}) && !f[9].empty() && MayWrite(d.altitudeTalker, d.altitudeTime, talker, time))
    {
        TakeOver(d.altitudeTalker, d.altitudeTime, talker, time);
        gps.altitude = FieldToFloat(f[9]);
        d.known |= kKnownAltitude;
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
        StoreTime(f[1], gps);
        time = SecondOfDay(gps);
        gps.day = PairAt(f[9], 0);
        gps.month = PairAt(f[9], 1);
        gps.year = PairAt(f[9], 2) + 2000;
    }

    GpsDecodeState& d = gps.decode;
    if (!MayWrite(d.positionTalker, d.positionTime, talker, time))
        return;
    // Unlike GGA, missing position fields leave the previous position in place.
    if (Has(f, {3, 4, 5, 6}) && AllNonEmpty(f, {3, 4, 5, 6}))
    {
        TakeOver(d.positionTalker, d.positionTime, talker, time);
        StoreCoordinate(f[3], f[4], 'N', 'S', gps.latitude);
        StoreCoordinate(f[5], f[6], 'E', 'W', gps.longitude);
        d.known |= kKnownPosition;
    }

    if (Has(f, {7}) && !f[7].empty())
    {
        gps.speed = FieldToFloat(f[7]);
        d.known |= kKnownSpeed;
    }
    if (Has(f, {8}) && !f[8].empty())
    {
        gps.course = FieldToFloat(f[8]);
        d.known |= kKnownCourse;
    }
}

// Which constellation a GSA speaks for; false when it cannot tell.
bool GsaGroup(const Fields& f, Talker talker, SkyGroup& group)
{
    if (talker != Talker::GN)
    {
        group = GroupOfTalker(talker);
        return true;
    }
    if (Has(f, {18}))
    {
        // The system id is the last field, with the checksum behind it.
        const std::string_view field(f[18]);
        std::int32_t id = 0;
        if (TryInt(field.substr(0, field.find('*')), id) && GroupOfSystemId(id, group))
            return true;
    }
    for (std::size_t index = 3; index <= 14 && index < f.size(); ++index)
    {
        std::int32_t prn = 0;
        if (!f[index].empty() && TryInt(f[index], prn))
            return GroupOfPrn(prn, group);
    }
    return false;
}

// $GPGSA,A,3,27,15,09,28,18,08,,,,,,,3.33,2.51,2.20*04
// $GNGSA,A,3,70,78,82,79,88,81,69,,,,,,0.98,0.49,0.84,2*08 (NMEA 4.10: system id 2, GLONASS)
void ParseGSA(std::string_view line, Talker talker, GpsData& gps)
{
    const Fields f = SplitFields(line);

    if (Has(f, {2}) && !f[2].empty())
        gps.fixMode = FieldToInt(f[2]);

    SkyGroup group = SkyGroup::Gps;
    const bool known = GsaGroup(f, talker, group);
    if (known)
    {
        for (int slot = 0; slot < kSatelliteSlots; ++slot)
        {
            if (SlotInGroup(gps, slot, group))
                gps.satellites[slot].used = false;
        }
    }
    else if (Has(f, {2}) && f[2] == "1")
    {
        // No fix and no word of which constellation: nothing is used.
        for (SatelliteInfo& slot : gps.satellites)
            slot.used = false;
    }

    for (std::size_t index = 3; index <= 14 && index < f.size(); ++index)
    {
        if (f[index].empty())
            continue;
        const std::int32_t prn = FieldToInt(f[index]);
        // An empty slot (PRN 0) holds no satellite: marking it would hand the flag to whatever
        // satellite a later GSV puts there.
        if (prn == 0 || !known)
            continue;
        // Only the lowest slot holding the PRN is marked, so a duplicate never counts twice.
        for (int slot = 0; slot < kSatelliteSlots; ++slot)
        {
            if (gps.satellites[slot].prn == prn && SlotInGroup(gps, slot, group))
            {
                gps.satellites[slot].used = true;
                break;
            }
        }
    }

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

// A listing of another signal that no longer sees the lead for this many cycles takes over.
constexpr int kLeadPatience = 16;
// Messages per group: four satellites each, and no run can be longer than the record.
constexpr std::int32_t kMaxGsvMessages = kSatelliteSlots / 4;

// Raises a listed satellite's SNR to this signal's, or adds a satellite the lead signal did
// not list, in the first empty slot of the run or a new one at its end.
void MergeSatellite(GpsData& gps, SkyGroup group, Talker talker, const Fields& f, std::size_t base)
{
    if (f[base].empty())
        return;
    const std::uint16_t prn = FieldToUShort(f[base]);
    if (prn == 0)
        return;
    const int start = GroupStart(gps, group);
    int have = gps.decode.groupSlots[GroupIndex(group)];
    for (int i = start; i < start + have; ++i)
    {
        SatelliteInfo& sat = gps.satellites[i];
        if (sat.prn != prn)
            continue;
        if (!f[base + 3].empty())
            sat.snr = std::max(sat.snr, FieldToUShort(f[base + 3]));
        return;
    }
    if (f[base + 1].empty() || f[base + 2].empty())
        return;
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
    SatelliteInfo& sat = gps.satellites[free];
    const std::uint16_t elevation = FieldToUShort(f[base + 1]);
    const std::uint16_t azimuth = FieldToUShort(f[base + 2]);
    const std::uint16_t snr = f[base + 3].empty() ? 0 : FieldToUShort(f[base + 3]);
    sat.prn = prn;
    sat.talker = talker;
    sat.elevation = elevation;
    sat.azimuth = azimuth;
    sat.snr = snr;
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

// $GPGSV,3,1,12,05,04,187,,08,11,078,29,09,43,270,37,12,03,212,*75
// $GPGSV,4,4,13,51,37,160,37,1*55 (NMEA 4.10: signal id 1 after the last satellite)
void ParseGSV(std::string_view line, Talker talker, GpsData& gps)
{
    const std::size_t star = line.find('*');
    if (star == std::string_view::npos)
        return;
    // The checksum must not stick to the last signal-to-noise field.
    const Fields f = SplitFields(line.substr(0, star));
    const SkyGroup group = GroupOfTalker(talker);
    const int g = GroupIndex(group);
    GpsDecodeState& d = gps.decode;

    if (Has(f, {1, 2, 3}) && f[1] == "1" && f[2] == "1" && f[3] == "00")
    {
        const int start = GroupStart(gps, group);
        for (int i = start; i < start + d.groupSlots[g]; ++i)
            ClearSlot(gps.satellites[i]);
        return;
    }

    if (!Has(f, {2}))
        return;
    const std::int32_t number = FieldToInt(f[2]);
    if (number < 1 || number > kMaxGsvMessages)
        return;
    std::int32_t total = 0;
    if (!TryInt(f[1], total) || total < number || total > kMaxGsvMessages)
        total = 0; // no cycle to complete
    // Complete four-field groups after the three header fields; -1 when not even one.
    const std::ptrdiff_t groups = static_cast<std::ptrdiff_t>(f.size() / 4) - 1;

    // One field past the last group is the signal id: a message of four satellites, or the
    // last of its cycle, never ends in a lone field otherwise.
    std::uint8_t signal = 1; // no signal id
    if (groups >= 0 && (f.size() - 4) % 4 == 1 && (groups == 4 || number == total))
    {
        const std::string_view id(f.back());
        if (id.size() == 1 && std::isxdigit(static_cast<unsigned char>(id[0])))
            signal = static_cast<std::uint8_t>(2 + std::stoi(std::string(id), nullptr, 16));
    }

    if (d.leadSignal[g] == 0)
        d.leadSignal[g] = signal;
    // A cycle that starts with a signal id where the lead had none means the receiver now
    // sends ids; otherwise the lead is replaced only once it has long stopped coming.
    if (signal != d.leadSignal[g] && number == 1 &&
        (d.leadSignal[g] == 1 || ++d.otherSignalStarts[g] > kLeadPatience))
        d.leadSignal[g] = signal;

    if (signal != d.leadSignal[g])
    {
        // A later message of the lead's cycle that carries another signal (Quectel) still
        // counts towards that cycle; a cycle of its own (u-blox) only merges.
        const bool continuesLead = number > 1 && total == static_cast<std::int32_t>(d.leadTotal[g]) &&
                                   (d.messagesSeen[g] & (1u << (number - 1))) != 0;
        if (continuesLead && number == total)
            CompleteCycle(gps, group, total);
        for (std::ptrdiff_t i = 0; i < std::min<std::ptrdiff_t>(groups, 4); ++i)
            MergeSatellite(gps, group, talker, f, 4 + 4 * static_cast<std::size_t>(i));
        return;
    }

    if (number == 1)
    {
        d.messagesSeen[g] = 0;
        d.otherSignalStarts[g] = 0;
    }
    else if ((d.messagesSeen[g] & (1u << number)) != 0 || total != static_cast<std::int32_t>(d.leadTotal[g]))
    {
        // A new cycle whose first message was lost.
        d.messagesSeen[g] = 0;
    }
    d.messagesSeen[g] |= 1u << number;
    d.leadTotal[g] = static_cast<std::uint8_t>(total);

    const int first = 4 * (number - 1);
    const int have = GrowGroup(gps, group, first + 4);
    const int start = GroupStart(gps, group);
    for (int i = 0; i < 4 && first + i < have; ++i)
    {
        SatelliteInfo& slot = gps.satellites[start + first + i];
        if (i >= groups)
        {
            ClearSlot(slot);
            continue;
        }
        const std::size_t base = 4 + 4 * static_cast<std::size_t>(i);
        if (!AllNonEmpty(f, {base, base + 1, base + 2}))
            continue;
        slot.prn = FieldToUShort(f[base]);
        slot.talker = talker;
        slot.elevation = FieldToUShort(f[base + 1]);
        slot.azimuth = FieldToUShort(f[base + 2]);
        // Empty: not tracked, whatever the slot held before.
        slot.snr = f[base + 3].empty() ? 0 : FieldToUShort(f[base + 3]);
    }

    if (total != 0 && number == total)
        CompleteCycle(gps, group, total);
}

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

// The talker of an identifier such as "$GNGGA"; None for any other.
Talker TalkerOf(std::string_view identifier)
{
    static constexpr std::pair<std::string_view, Talker> kTalkers[] = {
        {"GP", Talker::GP}, {"GN", Talker::GN}, {"GL", Talker::GL}, {"GA", Talker::GA},
        {"GB", Talker::GB}, {"BD", Talker::BD}, {"GQ", Talker::GQ}, {"QZ", Talker::QZ},
        {"GI", Talker::GI}};
    if (identifier.size() != 6 || identifier[0] != '$')
        return Talker::None;
    for (const auto& [text, talker] : kTalkers)
    {
        if (identifier.substr(1, 2) == text)
            return talker;
    }
    return Talker::None;
}

Talker TalkerOfLine(std::string_view line)
{
    const Talker talker = TalkerOf(line.substr(0, std::min<std::size_t>(line.find(','), 6)));
    return talker == Talker::None ? Talker::GP : talker;
}

} // namespace

float NmeaCoordinateToDegrees(float value)
{
    const double degrees = std::trunc(static_cast<double>(value));
    const float minutes = static_cast<float>((static_cast<double>(value) - degrees) * 100.0 / 60.0);
    return static_cast<float>(degrees + static_cast<double>(minutes));
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
    if (type == "GGA")
        Guarded<ParseGGA>(line, talker, gps);
    else if (type == "RMC")
        Guarded<ParseRMC>(line, talker, gps);
    else if (type == "GSA")
        Guarded<ParseGSA>(line, talker, gps);
    else if (type == "GSV")
        Guarded<ParseGSV>(line, talker, gps);
}
