#include "receiver/VersionProbe.h"

#include "receiver/ReceiverCommands.h"

void VersionProbe::Connected(Clock::time_point now, bool bSourceTakesCommands)
{
    m_state = bSourceTakesCommands ? State::Waiting : State::Idle;
    m_due = now + kQuietTime;
}

void VersionProbe::Disconnected()
{
    m_state = State::Idle;
}

void VersionProbe::FamilyKnown()
{
    if (m_state == State::Waiting)
        m_state = State::Idle;
}

std::string VersionProbe::Poll(Clock::time_point now)
{
    if (m_state != State::Waiting || now < m_due)
        return {};
    m_state = State::Asked;
    return VersionQueries();
}

std::optional<VersionProbe::Clock::time_point> VersionProbe::Due() const
{
    if (m_state != State::Waiting)
        return std::nullopt;
    return m_due;
}
