#include "gps/GpsData.h"

#include <algorithm>
#include <charconv>

GnssSystem SatelliteSystem(const SatelliteInfo& sat)
{
    return SystemOf(sat.talker, sat.prn);
}

bool HasFix(const GpsData& gps)
{
    return gps.fixMode >= 2;
}

bool HasFixedPosition(const GpsData& gps)
{
    return HasFix(gps) && (gps.decode.known & kKnownPosition) != 0;
}

bool HasValidDate(const GpsData& gps)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (gps.year < 1 || gps.year > 9999 || gps.month < 1 || gps.month > 12)
        return false;
    const bool leap = (gps.year % 4 == 0 && gps.year % 100 != 0) || gps.year % 400 == 0;
    const int days = kDays[gps.month - 1] + (gps.month == 2 && leap ? 1 : 0);
    return gps.day >= 1 && gps.day <= days && gps.hour >= 0 && gps.hour <= 23 && gps.minute >= 0 &&
           gps.minute <= 59 && gps.second >= 0 && gps.second <= 60 && gps.millisecond >= 0 &&
           gps.millisecond <= 999;
}

std::optional<TimeOfDay> UtcTimeOfDay(const GpsData& gps)
{
    if ((gps.decode.known & kKnownTime) == 0)
        return std::nullopt;
    return TimeOfDay::FromParts(gps.hour, gps.minute, gps.second, gps.millisecond);
}

int SatellitesInView(const GpsData& gps)
{
    int count = 0;
    for (const SatelliteInfo& sat : gps.satellites)
        count += sat.prn != 0 ? 1 : 0;
    return count;
}

void SatellitesUsedBySystem(const GpsData& gps, int (&used)[kGnssSystems])
{
    int total = 0;
    for (int& count : used)
        count = 0;
    for (const SatelliteInfo& sat : gps.satellites)
    {
        if (sat.prn != 0 && sat.used)
        {
            ++used[static_cast<int>(SatelliteSystem(sat))];
            ++total;
        }
    }
    for (int i = 0; i < kGnssSystems; ++i)
    {
        used[i] += gps.decode.usedUnlisted[i];
        total += gps.decode.usedUnlisted[i];
    }
    if (!gps.decode.usedByGsa && total == 0)
        used[static_cast<int>(gps.decode.ggaUsedSystem)] = gps.decode.ggaUsed;
}

int SatellitesUsed(const GpsData& gps)
{
    int used[kGnssSystems];
    SatellitesUsedBySystem(gps, used);
    int count = 0;
    for (const int n : used)
        count += n;
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
