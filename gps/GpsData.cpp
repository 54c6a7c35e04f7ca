#include "gps/GpsData.h"

#include <algorithm>
#include <charconv>

GnssSystem SatelliteSystem(const SatelliteInfo& sat)
{
    return SystemOf(sat.talker, sat.prn);
}

int SatellitesInView(const GpsData& gps)
{
    int count = 0;
    for (const SatelliteInfo& sat : gps.satellites)
        count += sat.prn != 0 ? 1 : 0;
    return count;
}

int SatellitesUsed(const GpsData& gps)
{
    int count = 0;
    for (const SatelliteInfo& sat : gps.satellites)
        count += (sat.prn != 0 && sat.used) ? 1 : 0;
    return count;
}

void AppendCoordinate(std::string& out, double degrees)
{
    // Nine decimals are a tenth of a millimetre: every digit a receiver sends of its minutes.
    char digits[400];
    const auto result = std::to_chars(digits, digits + sizeof digits, degrees, std::chars_format::fixed, 9);
    const char* end = result.ptr;
    while (end[-1] == '0')
        --end;
    if (end[-1] == '.')
        --end;
    out.append(digits, static_cast<std::size_t>(end - digits));
}
