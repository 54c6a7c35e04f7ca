#include "gps/TimeToFix.h"

#include <cstdio>

const char* FixSearchName(FixSearch kind)
{
    switch (kind)
    {
    case FixSearch::Connect:
        return "Connected";
    case FixSearch::HotStart:
        return "Hot start";
    case FixSearch::WarmStart:
        return "Warm start";
    case FixSearch::ColdStart:
        return "Cold start";
    }
    return "";
}

void TimeToFix::Start(FixSearch kind, Clock::time_point now)
{
    m_state = State::Searching;
    m_kind = kind;
    m_start = now;
    m_result = {};
    m_bEpochAfterStart = false;
    m_bSawNoFix = false;
    m_bFixedEpochSeen = false;
}

void TimeToFix::Cancel()
{
    if (m_state == State::Searching)
        m_state = State::Idle;
}

void TimeToFix::Found(Clock::time_point at)
{
    m_state = State::Found;
    m_result = at > m_start ? at - m_start : Clock::duration::zero();
}

bool TimeToFix::Feed(const GpsData& gps, Clock::time_point arrived, bool bBeginsEpoch)
{
    const bool bEndedFixed = m_bLastFixed;
    m_bLastFixed = HasFix(gps);
    if (m_state != State::Searching)
        return false;
    // Read before the start, though handed over after it: the epoch under way then goes on.
    if (arrived < m_start)
        return false;

    if (bBeginsEpoch)
    {
        // The epoch that just ended, judged whole: the mode it ended with is the receiver's
        // own for that epoch, whatever an earlier one left in the decoder.
        if (m_bEpochAfterStart && bEndedFixed && !m_bSawNoFix)
        {
            if (!m_bFixedEpochSeen)
            {
                m_bFixedEpochSeen = true;
                m_firstFixedEpoch = m_epochStart;
            }
            if (MayKeepItsFix())
            {
                Found(m_firstFixedEpoch);
                return true;
            }
            if (arrived - m_start >= kIgnoredAfter)
            {
                m_state = State::Ignored;
                return true;
            }
        }
        m_epochStart = arrived;
        m_bEpochAfterStart = true;
    }
    if (m_bLastFixed)
    {
        // After the receiver has said it has no fix, the next fix it reports is its new one.
        if (m_bSawNoFix && m_bEpochAfterStart)
        {
            Found(arrived);
            return true;
        }
    }
    else if (gps.fixMode == 1)
    {
        // Said outright; a record that no mode sentence has reached yet says nothing.
        m_bSawNoFix = true;
    }
    return false;
}

bool TimeToFix::MayKeepItsFix() const
{
    // Warm and cold starts clear what a fix needs: a fix before the receiver has said it has
    // none is the old one still being sent.
    return m_kind == FixSearch::Connect || m_kind == FixSearch::HotStart;
}

TimeToFix::Clock::duration TimeToFix::Elapsed(Clock::time_point now) const
{
    switch (m_state)
    {
    case State::Searching:
        return now > m_start ? now - m_start : Clock::duration::zero();
    case State::Found:
        return m_result;
    case State::Idle:
    case State::Ignored:
        break;
    }
    return Clock::duration::zero();
}

std::string TimeToFix::Text(Clock::time_point now) const
{
    if (m_state == State::Idle)
        return {};
    if (m_state == State::Ignored)
        return std::string(FixSearchName(m_kind)) + ": ignored by the receiver";
    // Tenths cut, not rounded, so that a count never shows a tenth not yet reached.
    const auto tenths = std::chrono::floor<std::chrono::duration<std::int64_t, std::deci>>(Elapsed(now)).count();
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, m_state == State::Found ? "%s: fix in %lld.%lld s" : "%s: searching %lld.%lld s",
                  FixSearchName(m_kind), static_cast<long long>(tenths / 10), static_cast<long long>(tenths % 10));
    return buffer;
}
