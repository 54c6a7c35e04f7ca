#include "tools/gpssim/LinePacer.h"

#include <algorithm>

LinePacer::LinePacer(int baud) : m_nBaud(baud > 0 ? baud : 1) {}

LinePacer::Clock::duration LinePacer::LineTime(std::size_t count) const
{
    // Computed from the byte count each time, never summed, so no rounding builds up.
    const auto nanoseconds = static_cast<long long>(count) * 10LL * 1'000'000'000LL / m_nBaud;
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(nanoseconds));
}

LinePacer::Clock::time_point LinePacer::Departure(const Run& run, std::size_t index) const
{
    return run.start + LineTime(index + 1);
}

void LinePacer::Enqueue(std::string_view bytes, Clock::time_point ready)
{
    if (bytes.empty())
        return;
    if (!m_runs.empty() && ready <= m_lineFree)
    {
        m_runs.back().count += bytes.size();
    }
    else
    {
        // The line was idle: the new bytes start when they are ready, not earlier.
        m_runs.push_back(Run{std::max(ready, m_lineFree), 0, bytes.size()});
    }
    const Run& last = m_runs.back();
    m_lineFree = last.start + LineTime(last.count);
    m_strQueue.append(bytes);
}

std::size_t LinePacer::DueCount(Clock::time_point now) const
{
    std::size_t due = 0;
    for (const Run& run : m_runs)
    {
        if (now < Departure(run, run.sent))
            break;
        // Largest k with start + LineTime(k) <= now, found from the elapsed time and corrected
        // for the rounding of the division.
        const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(now - run.start);
        auto k = static_cast<std::size_t>(elapsed.count() * m_nBaud / 10'000'000'000LL);
        while (k > 0 && run.start + LineTime(k) > now)
            --k;
        while (run.start + LineTime(k + 1) <= now)
            ++k;
        due += std::min(k, run.count) - run.sent;
        if (k < run.count)
            break;
    }
    return due;
}

LinePacer::Clock::time_point LinePacer::DueTime(std::size_t count) const
{
    for (const Run& run : m_runs)
    {
        const std::size_t left = run.count - run.sent;
        if (count <= left)
            return Departure(run, run.sent + count - 1);
        count -= left;
    }
    return m_lineFree;
}

void LinePacer::Consume(std::size_t count)
{
    count = std::min(count, m_strQueue.size());
    m_strQueue.erase(0, count);
    while (count > 0 && !m_runs.empty())
    {
        Run& run = m_runs.front();
        const std::size_t taken = std::min(count, run.count - run.sent);
        run.sent += taken;
        count -= taken;
        if (run.sent == run.count)
            m_runs.pop_front();
    }
}

void LinePacer::Clear()
{
    m_strQueue.clear();
    m_runs.clear();
}
