#include "session/UpdatePacer.h"

#include <algorithm>

std::int64_t UpdatePacer::SinceLast() const
{
    return m_nLastMs < 0 ? kFloodUpdateMs : m_now() - m_nLastMs;
}

std::int64_t UpdatePacer::Wait() const
{
    return std::max<std::int64_t>(0, m_nIntervalMs - SinceLast());
}

void UpdatePacer::Ran(unsigned lines)
{
    const std::int64_t sinceLast = SinceLast();
    const bool fast = static_cast<std::int64_t>(lines) * 1000 > kFloodLinesPerSecond * std::max<std::int64_t>(sinceLast, 1);
    m_nFastUpdates = fast ? m_nFastUpdates + 1 : 0;
    m_nIntervalMs = m_nFastUpdates >= kFloodUpdates ? kFloodUpdateMs : kFrameUpdateMs;
    m_nLastMs = m_now();
}
