#include "gps/EpochDetector.h"

namespace
{
bool SameTime(const GpsData& a, const GpsData& b)
{
    return a.hour == b.hour && a.minute == b.minute && a.second == b.second && a.millisecond == b.millisecond;
}
} // namespace

bool EpochDetector::Feed(const GpsData& after, GpsData& ended)
{
    const bool changed = !SameTime(after, m_last);
    const bool ends = m_bPending && changed;
    if (ends)
        ended = m_last;
    m_bPending = m_bPending || changed || m_bOpenOnFirst;
    m_bOpenOnFirst = false;
    m_last = after;
    return ends;
}

bool EpochDetector::Finish(GpsData& ended)
{
    if (!m_bPending)
        return false;
    ended = m_last;
    m_bPending = false;
    return true;
}
