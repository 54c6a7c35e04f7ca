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
    const std::int64_t now = m_now();
    m_flood.Count(now, lines);
    m_nIntervalMs = m_flood.Flooding(now) ? kFloodUpdateMs : kFrameUpdateMs;
    m_nLastMs = now;
}
