#include "tools/gpssim/CycleSource.h"

#include <algorithm>

using namespace std::chrono;

GeneratedSource::GeneratedSource(const SimConfig& config, UtcClock utcClock)
    : m_simulator(config), m_utcClock(std::move(utcClock)),
      m_period(1000 / std::clamp(config.cyclesPerSecond, 1, 10))
{
}

std::optional<CycleSource::Clock::time_point> GeneratedSource::NextDue(Clock::time_point now)
{
    if (!m_due)
    {
        // Asked afresh after every cycle, so that a change of the computer's clock is followed
        // at the next second and never makes up for lost seconds with a burst.
        const system_clock::time_point utc = m_utcClock();
        system_clock::time_point next = ceil<milliseconds>(utc);
        // The next whole period of the UTC second (periods divide it evenly).
        const auto intoSecond = next - floor<seconds>(next);
        next += (m_period - intoSecond % m_period) % m_period;
        if (m_lastStamp && next <= *m_lastStamp && *m_lastStamp - utc < seconds(2))
            next = *m_lastStamp + m_period;
        m_stamp = next;
        m_due = now + duration_cast<Clock::duration>(next - utc);
    }
    return m_due;
}

std::string GeneratedSource::Produce()
{
    m_lastCycle = m_simulator.Step(m_stamp);
    m_lastStamp = m_stamp;
    m_due.reset();
    std::string bytes;
    for (const std::string& sentence : m_lastCycle.sentences)
        bytes += sentence;
    return bytes;
}

ReplaySource::ReplaySource(ReplayLog log, bool bLoop) : m_log(std::move(log)), m_bLoop(bLoop) {}

std::optional<CycleSource::Clock::time_point> ReplaySource::NextDue(Clock::time_point now)
{
    if (m_log.Cycles().empty())
        return std::nullopt;
    if (m_nIndex == m_log.Cycles().size())
    {
        if (!m_bLoop)
            return std::nullopt;
        m_nIndex = 0;
        ++m_nPass;
    }
    if (!m_start)
        m_start = now;
    const duration<double> offset(m_log.Offset(m_nPass, m_nIndex));
    return *m_start + duration_cast<Clock::duration>(offset);
}

std::string ReplaySource::Produce()
{
    std::string bytes;
    if (m_nIndex == m_log.Cycles().size())
    {
        if (!m_bLoop || m_log.Cycles().empty())
            return bytes;
        m_nIndex = 0;
        ++m_nPass;
    }
    for (const std::string& line : m_log.Cycles().at(m_nIndex).lines)
        bytes += line;
    ++m_nIndex;
    return bytes;
}
