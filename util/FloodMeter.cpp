#include "util/FloodMeter.h"

#include <algorithm>

void FloodMeter::Count(std::int64_t nowMs, std::int64_t lines)
{
    // More lines at one instant than the ring holds say no more than a full ring does.
    const std::int64_t kept = std::min<std::int64_t>(lines, static_cast<std::int64_t>(m_times.size()));
    for (std::int64_t i = 0; i < kept; ++i)
    {
        m_times[m_nNext] = nowMs;
        m_nNext = (m_nNext + 1) % m_times.size();
        m_bFull = m_bFull || m_nNext == 0;
    }
}

bool FloodMeter::Flooding(std::int64_t nowMs) const
{
    // m_nNext is the oldest entry once the ring is full.
    return m_bFull && nowMs - m_times[m_nNext] < 1000;
}
