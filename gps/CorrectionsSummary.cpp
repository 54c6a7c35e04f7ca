#include "gps/CorrectionsSummary.h"

#include <algorithm>
#include <cstdio>

void CorrectionsSummary::Add(std::string_view frame, Clock::time_point at)
{
    if (!m_first)
        m_first = at;
    m_last = at;
    m_window.push_back({at, frame.size()});
    m_nWindowBytes += frame.size();
    Forget(at);
    const int type = Rtcm3MessageType(frame);
    if (type != 0)
        m_types.insert(type);
    if (auto station = DecodeStationPosition(frame))
        m_station = *station;
}

void CorrectionsSummary::Forget(Clock::time_point now) const
{
    while (!m_window.empty() && now - m_window.front().at > kRateWindow)
    {
        m_nWindowBytes -= m_window.front().bytes;
        m_window.pop_front();
    }
}

double CorrectionsSummary::BytesPerSecond(Clock::time_point now) const
{
    Forget(now);
    if (!m_first || m_window.empty())
        return 0.0;
    // A stream younger than the window is measured over its own life, at least a second.
    const auto span = std::clamp<Clock::duration>(now - *m_first, std::chrono::seconds(1), kRateWindow);
    return static_cast<double>(m_nWindowBytes) / std::chrono::duration<double>(span).count();
}

std::optional<CorrectionsSummary::Clock::duration> CorrectionsSummary::Age(Clock::time_point now) const
{
    if (!m_last)
        return std::nullopt;
    return std::max<Clock::duration>(now - *m_last, Clock::duration::zero());
}

std::string CorrectionsSummary::Text(Clock::time_point now, const GpsData& fix) const
{
    std::string text = m_mountpoint;
    const auto add = [&text](const std::string& part)
    {
        if (!text.empty())
            text += "  ";
        text += part;
    };
    if (!m_last)
    {
        add("no corrections yet");
        return text;
    }
    char buffer[64];
    const double rate = BytesPerSecond(now);
    if (rate >= 1000.0)
        std::snprintf(buffer, sizeof buffer, "%.1f kB/s", rate / 1000.0);
    else
        std::snprintf(buffer, sizeof buffer, "%.0f B/s", rate);
    add(buffer);
    std::snprintf(buffer, sizeof buffer, "age %.1f s", std::chrono::duration<double>(*Age(now)).count());
    add(buffer);
    if (m_station)
    {
        if (const auto distance = StationDistance(*m_station, fix))
        {
            if (*distance >= 1000.0)
                std::snprintf(buffer, sizeof buffer, "base %.1f km", *distance / 1000.0);
            else
                std::snprintf(buffer, sizeof buffer, "base %.0f m", *distance);
            add(buffer);
        }
    }
    // Last: a network stream has a dozen types, and the panel cuts what does not fit.
    std::string types;
    for (const int type : m_types)
        types += (types.empty() ? "" : " ") + std::to_string(type);
    add(types);
    return text;
}
