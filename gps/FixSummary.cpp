#include "gps/FixSummary.h"

#include <algorithm>
#include <chrono>

namespace
{

double DayNumber(const GpsData& gps)
{
    using namespace std::chrono;
    const sys_days day{year{gps.year} / month{static_cast<unsigned>(gps.month)} /
                       std::chrono::day{static_cast<unsigned>(gps.day)}};
    return static_cast<double>(day.time_since_epoch().count());
}

// UTC in seconds from one epoch to the next (both with a time). With both dates the
// difference is exact (a leap second lengthens the day it ends); without, the time of day's
// own rule reads midnight.
double UtcStep(const GpsData& from, const GpsData& to)
{
    const TimeOfDay start = *UtcTimeOfDay(from);
    const TimeOfDay end = *UtcTimeOfDay(to);
    if (HasValidDate(from) && HasValidDate(to))
    {
        const double days = DayNumber(to) - DayNumber(from);
        const double leap = start.IsLeapSecond() && days > 0.0 ? 1.0 : 0.0;
        return days * 86400.0 + leap + static_cast<double>(end.Ms() - start.Ms()) / 1000.0;
    }
    return static_cast<double>(StepMs(start, end)) / 1000.0;
}

} // namespace

void FixSummary::Add(const GpsData& epoch)
{
    ++m_nEpochs;
    if (epoch.fixMode >= 0 && epoch.fixMode <= 3)
        ++m_nModes[epoch.fixMode];

    const bool fix = HasFix(epoch);
    if (!m_bFixSeen && UtcTimeOfDay(epoch))
    {
        if (m_bTimed)
        {
            const double step = UtcStep(m_lastTimed, epoch);
            if (step < 0.0 || step > kClockStepSeconds)
                m_bClockStepped = true;
            m_elapsed += step;
        }
        m_bTimed = true;
        m_lastTimed = epoch;
        if (fix && !m_bClockStepped)
            m_ttff = m_elapsed;
    }
    m_bFixSeen = m_bFixSeen || fix;

    if (fix && (epoch.decode.known & kKnownHdop))
    {
        m_hdopMin = m_nHdops ? std::min(m_hdopMin, epoch.hdop) : epoch.hdop;
        m_hdopMax = m_nHdops ? std::max(m_hdopMax, epoch.hdop) : epoch.hdop;
        m_hdopSum += epoch.hdop;
        ++m_nHdops;
    }
    if (HasFixedPosition(epoch))
        m_fixPositions.push_back({epoch.latitude, epoch.longitude});

    static_assert(kSystems == kGnssSystems);
    Satellites counts[kSystems] = {};
    for (const SatelliteInfo& sat : epoch.satellites)
    {
        if (sat.prn != 0)
            ++counts[static_cast<int>(SatelliteSystem(sat))].inViewMax;
    }
    int used[kGnssSystems];
    SatellitesUsedBySystem(epoch, used);
    for (int i = 0; i < kSystems; ++i)
        counts[i].usedMax = used[i];
    Satellites all{};
    for (int i = 0; i < kSystems; ++i)
    {
        m_systems[i].usedMax = std::max(m_systems[i].usedMax, counts[i].usedMax);
        m_systems[i].inViewMax = std::max(m_systems[i].inViewMax, counts[i].inViewMax);
        all.usedMax += counts[i].usedMax;
        all.inViewMax += counts[i].inViewMax;
    }
    m_all.usedMax = std::max(m_all.usedMax, all.usedMax);
    m_all.inViewMax = std::max(m_all.inViewMax, all.inViewMax);
}

int FixSummary::EpochsInMode(int mode) const
{
    return mode >= 0 && mode <= 3 ? m_nModes[mode] : 0;
}

std::optional<double> FixSummary::TimeToFirstFix() const
{
    return m_ttff;
}

FixSummary::Hdop FixSummary::HdopOfFixes() const
{
    Hdop hdop;
    hdop.count = m_nHdops;
    if (m_nHdops > 0)
    {
        hdop.mean = m_hdopSum / m_nHdops;
        hdop.min = m_hdopMin;
        hdop.max = m_hdopMax;
    }
    return hdop;
}

FixSummary::Satellites FixSummary::SatellitesOf(GnssSystem system) const
{
    const int i = static_cast<int>(system);
    return i >= 0 && i < kSystems ? m_systems[i] : Satellites{};
}
