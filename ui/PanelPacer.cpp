#include "ui/PanelPacer.h"

#include <algorithm>

std::string PanelPacer::KeyOf(std::string_view sentence)
{
    const std::size_t start = sentence.find_first_of("$!");
    std::string_view address;
    if (start != std::string_view::npos)
    {
        address = sentence.substr(start + 1);
        address = address.substr(0, std::min(address.find_first_of(",*\r\n"), std::size_t{8}));
    }
    auto it = std::find_if(m_seen.begin(), m_seen.end(), [&](const auto& seen) { return seen.first == address; });
    if (it == m_seen.end())
        it = m_seen.insert(m_seen.end(), {std::string(address), 0});
    return std::string(address) + '#' + std::to_string(++it->second);
}

void PanelPacer::Line(std::string_view sentence, const GpsData& after)
{
    const std::int64_t now = m_now();
    const bool bAfterSilence = m_nLastLineMs < 0 || now - m_nLastLineMs >= kSilenceMs;
    GpsData ended;
    if (m_epochs.Feed(after, ended))
    {
        // The line before this one ended an epoch; lines of it still waiting are due now.
        m_ender = m_previousKey;
        m_seen.clear();
        m_bComplete = m_bComplete || m_nWaiting > 0;
    }
    std::string key = KeyOf(sentence);
    m_bComplete = m_bComplete || bAfterSilence || key == m_ender;
    m_previousKey = std::move(key);

    if (m_nWaiting++ == 0)
        m_nFirstWaitingMs = now;
    m_nLastLineMs = now;
    m_recent[m_nRecent++ % m_recent.size()] = now;
}

bool PanelPacer::Flooding(std::int64_t now) const
{
    if (m_nRecent < m_recent.size())
        return false;
    // The oldest of the last kFloodLinesPerSecond lines came less than a second ago.
    return now - m_recent[m_nRecent % m_recent.size()] < 1000;
}

std::int64_t PanelPacer::Due() const
{
    if (m_nWaiting == 0)
        return -1;
    const std::int64_t now = m_now();
    std::int64_t at = m_bComplete ? now : std::min(m_nLastLineMs + kQuietMs, m_nFirstWaitingMs + kLatestMs);
    if (m_nDrawnMs >= 0 && Flooding(now))
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
