#include "gps/NmeaDecoders.h"

#include "gps/NmeaFraming.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <new>
#include <string>
#include <string_view>
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
}

// $GPGGA,083723.00,5155.55442,N,00434.65873,E,1,06,2.51,-4.0,M,46.0,M,,*70
void ParseGGA(std::string_view line, GpsData& gps)
{
    const Fields f = SplitFields(line);

    if (Has(f, {1}) && !f[1].empty())
        StoreTime(f[1], gps);

    if (Has(f, {2, 3, 4, 5}))
    {
        if (AllNonEmpty(f, {2, 3, 4, 5}))
        {
            StoreCoordinate(f[2], f[3], 'N', 'S', gps.latitude);
            StoreCoordinate(f[4], f[5], 'E', 'W', gps.longitude);
        }
        else
        {
            gps.latitude = 0.0f;
            gps.longitude = 0.0f;
        }
    }

    if (Has(f, {9}) && !f[9].empty())
        gps.altitude = FieldToFloat(f[9]);
}

// $GPRMC,083723.00,A,5155.55442,N,00434.65873,E,0.211,,210810,,,A*7F
void ParseRMC(std::string_view line, GpsData& gps)
{
    const Fields f = SplitFields(line);

    if (Has(f, {1, 9}) && AllNonEmpty(f, {1, 9}))
    {
        StoreTime(f[1], gps);
        gps.day = PairAt(f[9], 0);
        gps.month = PairAt(f[9], 1);
        gps.year = PairAt(f[9], 2) + 2000;
    }

    // Unlike GGA, missing position fields leave the previous position in place.
    if (Has(f, {3, 4, 5, 6}) && AllNonEmpty(f, {3, 4, 5, 6}))
    {
        StoreCoordinate(f[3], f[4], 'N', 'S', gps.latitude);
        StoreCoordinate(f[5], f[6], 'E', 'W', gps.longitude);
    }

    if (Has(f, {7}) && !f[7].empty())
        gps.speed = FieldToFloat(f[7]);
    if (Has(f, {8}) && !f[8].empty())
        gps.course = FieldToFloat(f[8]);
}

// $GPGSA,A,3,27,15,09,28,18,08,,,,,,,3.33,2.51,2.20*04
void ParseGSA(std::string_view line, GpsData& gps)
{
    const Fields f = SplitFields(line);

    if (Has(f, {2}) && !f[2].empty())
        gps.fixMode = FieldToInt(f[2]);

    for (SatelliteInfo& slot : gps.satellites)
        slot.used = false;

    for (std::size_t index = 3; index <= 14 && index < f.size(); ++index)
    {
        if (f[index].empty())
            continue;
        const std::int32_t prn = FieldToInt(f[index]);
        // An empty slot (PRN 0) holds no satellite: marking it would hand the flag to whatever
        // satellite a later GSV puts there.
        if (prn == 0)
            continue;
        // Only the lowest slot holding the PRN is marked, so a duplicate never counts twice.
        for (SatelliteInfo& slot : gps.satellites)
        {
            if (slot.prn == prn)
            {
                slot.used = true;
                break;
            }
        }
    }

    if (Has(f, {15}) && !f[15].empty())
        gps.pdop = FieldToFloat(f[15]);
    if (Has(f, {16}) && !f[16].empty())
        gps.hdop = FieldToFloat(f[16]);
}

// $GPGSV,3,1,12,05,04,187,,08,11,078,29,09,43,270,37,12,03,212,*75
void ParseGSV(std::string_view line, GpsData& gps)
{
    const std::size_t star = line.find('*');
    if (star == std::string_view::npos)
        return;
    // The checksum must not stick to the last signal-to-noise field.
    const Fields f = SplitFields(line.substr(0, star));

    if (Has(f, {1, 2, 3}) && f[1] == "1" && f[2] == "1" && f[3] == "00")
    {
        for (SatelliteInfo& slot : gps.satellites)
            ClearSlot(slot);
        return;
    }

    if (!Has(f, {2}))
        return;
    const std::int32_t number = FieldToInt(f[2]);
    // Only messages 1-3 have slots; the rest of a longer listing is dropped.
    if (number < 1 || number > kSatelliteSlots / 4)
        return;
    const std::size_t first = 4 * static_cast<std::size_t>(number - 1);
    // Complete four-field groups after the three header fields; -1 when not even one.
    const std::ptrdiff_t groups = static_cast<std::ptrdiff_t>(f.size() / 4) - 1;

    for (std::size_t i = 0; i < 4; ++i)
    {
        SatelliteInfo& slot = gps.satellites[first + i];
        if (static_cast<std::ptrdiff_t>(i) >= groups)
        {
            ClearSlot(slot);
            continue;
        }
        const std::size_t base = 4 + 4 * i;
        if (!AllNonEmpty(f, {base, base + 1, base + 2}))
            continue;
        slot.prn = FieldToUShort(f[base]);
        slot.elevation = FieldToUShort(f[base + 1]);
        slot.azimuth = FieldToUShort(f[base + 2]);
        if (!f[base + 3].empty())
            slot.snr = FieldToUShort(f[base + 3]);
    }
}

// Runs one decoder, ending the sentence quietly at the first field that does not convert.
template <void (*Parse)(std::string_view, GpsData&)>
void Guarded(std::string_view line, GpsData& gps)
{
    try
    {
        Parse(line, gps);
    }
    catch (const ConversionError&)
    {
    }
    catch (const std::bad_alloc&)
    {
        // A line is at most 1023 bytes; losing one sentence beats losing the reader thread.
    }
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
    Guarded<ParseGGA>(line, gps);
}

void DecodeRMC(std::string_view line, GpsData& gps)
{
    Guarded<ParseRMC>(line, gps);
}

void DecodeGSA(std::string_view line, GpsData& gps)
{
    Guarded<ParseGSA>(line, gps);
}

void DecodeGSV(std::string_view line, GpsData& gps)
{
    Guarded<ParseGSV>(line, gps);
}

void DecodeSentence(std::string_view line, GpsData& gps)
{
    if (!IsChecksumValid(line))
        return;
    const std::size_t comma = line.find(',');
    if (comma == std::string_view::npos)
        return;

    const std::string_view identifier = line.substr(0, comma);
    if (identifier == "$GPGGA")
        DecodeGGA(line, gps);
    else if (identifier == "$GPRMC")
        DecodeRMC(line, gps);
    else if (identifier == "$GPGSA")
        DecodeGSA(line, gps);
    else if (identifier == "$GPGSV")
        DecodeGSV(line, gps);
}
