#include "ui/PanelPacer.h"

#include <algorithm>

void PanelPacer::Line(EpochMarks marks)
{
    const std::int64_t now = m_now();
    const bool bAfterSilence = m_nLastLineMs < 0 || now - m_nLastLineMs >= kSilenceMs;
    // A new epoch: lines of the last one still waiting are due now.
    m_bComplete = m_bComplete || (marks.began && m_nWaiting > 0) || marks.ends || bAfterSilence;
    if (m_nWaiting++ == 0)
        m_nFirstWaitingMs = now;
    m_nLastLineMs = now;
    m_flood.Count(now);
}

std::int64_t PanelPacer::Due() const
{
    if (m_nWaiting == 0)
        return -1;
    const std::int64_t now = m_now();
    std::int64_t at = m_bComplete ? now : std::min(m_nLastLineMs + kQuietMs, m_nFirstWaitingMs + kLatestMs);
    if (m_nDrawnMs >= 0 && m_flood.Flooding(now))
        at = std::max(at, m_nDrawnMs + kFloodRepaintMs);
    return std::max<std::int64_t>(0, at - now);
}

void PanelPacer::Drawn()
{
    m_nDrawnMs = m_now();
    m_nWaiting = 0;
    m_bComplete = false;
}

void PanelPacer::Reset()
{
    *this = PanelPacer(std::move(m_now));
}
