#include "gps/History.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

namespace
{
std::size_t SystemIndex(GnssSystem system)
{
    for (std::size_t i = 0; i < kHistorySystems; ++i)
        if (kSystemsInOrder[i] == system)
            return i;
    return kHistorySystems - 1;
}
} // namespace

HistorySample SampleOf(const GpsData& gps)
{
    HistorySample sample;
    float top[4] = {};
    float snrSum = 0.0f;
    int snrCount = 0;
    for (const SatelliteInfo& sat : gps.satellites)
    {
        if (sat.prn == 0)
            continue;
        ++sample.inView[SystemIndex(SatelliteSystem(sat))];
        // A used satellite without a C/N0 is one the GSV has not listed yet, not a 0 dB-Hz one.
        if (sat.used && sat.snr > 0)
        {
            snrSum += sat.snr;
            ++snrCount;
        }
        // The four strongest heard, used or not: the antenna's view of the sky.
        float snr = sat.snr;
        for (float& slot : top)
            if (snr > slot)
                std::swap(snr, slot);
    }
    int used[kGnssSystems];
    SatellitesUsedBySystem(gps, used);
    for (int s = 0; s < kGnssSystems; ++s)
        sample.used[SystemIndex(static_cast<GnssSystem>(s))] += static_cast<std::uint8_t>(used[s]);
    if (snrCount > 0)
        sample.snrUsed = snrSum / static_cast<float>(snrCount);
    const int heard = static_cast<int>(
        std::count_if(std::begin(top), std::end(top), [](float v) { return v > 0.0f; }));
    if (heard > 0)
        sample.snrTop4 = (top[0] + top[1] + top[2] + top[3]) / static_cast<float>(heard);
    if (gps.decode.known & kKnownHdop)
        sample.hdop = gps.hdop;
    if (gps.decode.known & kKnownPdop)
        sample.pdop = gps.pdop;
    if (gps.horizontalAccuracyKnown && std::isfinite(gps.horizontalAccuracy))
        sample.horizontalAccuracy = std::max(gps.horizontalAccuracy, 0.0f);
    sample.fixMode = static_cast<std::int8_t>(std::clamp(gps.fixMode, 0, 3));
    return sample;
}

History::History(Clock now) : m_now(std::move(now)) {}

std::int64_t History::AxisTime(const GpsData& gps, bool& bNew)
{
    const std::int64_t now = m_now();
    const std::optional<TimeOfDay> utc = UtcTimeOfDay(gps);
    const bool bHasTime = utc.has_value();
    const std::int32_t timeOfDay = utc ? utc->SecondOfDay() : -1;
    if (bHasTime && timeOfDay != m_nLastTimeOfDay)
    {
        m_nLastTimeOfDay = timeOfDay;
        m_nTimeMovedMs = now;
    }
    // A time that stopped moving is the last one a receiver sent before it lost it (sentences
    // with empty time fields leave it standing): the clock carries on from there.
    const bool bUtc = bHasTime && now - m_nTimeMovedMs < kStaleTimeMs;
    const std::int64_t key = bUtc ? timeOfDay : now / 1000;

    if (!m_samples.Empty() && bUtc == m_bKeyedByUtc && key == m_nKey)
    {
        bNew = false;
        return m_samples.Back().t;
    }
    bNew = true;
    std::int64_t step = 0;
    if (!m_samples.Empty() && bUtc == m_bKeyedByUtc)
    {
        // Seconds of the day: midnight and a leap second are steps of one second.
        step = bUtc ? StepMs(*TimeOfDay::FromMs(m_nKey * 1000), *TimeOfDay::FromMs(key * 1000)) / 1000
                    : key - m_nKey;
    }
    // Going back (a log starting over), or changing between receiver time and the clock: the
    // axis goes on by the time that really passed.
    if (step <= 0)
        step = std::max<std::int64_t>(1, (now - m_nKeyClockMs) / 1000);
    const std::int64_t t = m_samples.Empty() ? 0 : m_samples.Back().t + step;
    m_bKeyedByUtc = bUtc;
    m_nKey = key;
    m_nKeyClockMs = now;
    return t;
}

void History::Add(const GpsData& gps)
{
    bool bNew = false;
    const std::int64_t t = AxisTime(gps, bNew);
    HistorySample sample = SampleOf(gps);
    sample.t = t;
    if (!bNew)
    {
        m_samples.Back() = sample;
        return;
    }
    // A second is judged once it is complete: a fix that flickers within it is no loss.
    if (m_samples.Size() >= 2)
    {
        const HistorySample& ended = m_samples.Back();
        const HistorySample& before = m_samples[m_samples.Size() - 2];
        if (before.fixMode >= 2 && ended.fixMode < 2)
            m_events.Push({ended.t, HistoryEventKind::FixLost});
    }
    m_samples.Push(sample);
    DropOldFixes();
}

void History::AddEpoch(const GpsData& ended)
{
    if (std::exchange(m_bSkipEpochUnderWay, false) || !HasFixedPosition(ended))
        return;
    m_fixes.Push({Now(), {ended.latitude, ended.longitude}});
}

void History::MarkEvent(HistoryEventKind kind)
{
    m_events.Push({Now(), kind});
}

void History::ResetFixes()
{
    m_fixes.Clear();
    m_bSkipEpochUnderWay = true;
}

void History::DropOldFixes()
{
    while (!m_fixes.Empty() && m_fixes.Front().t <= Now() - kWindowSeconds)
        m_fixes.PopFront();
}

std::vector<GeoPoint> History::FixPositions() const
{
    std::vector<GeoPoint> points;
    points.reserve(m_fixes.Size());
    for (std::size_t i = 0; i < m_fixes.Size(); ++i)
        points.push_back(m_fixes[i].position);
    return points;
}
