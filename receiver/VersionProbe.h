#pragma once

#include <chrono>
#include <optional>
#include <string>

// When to ask a receiver who it is: once per connection, when about 5 s after Connect nothing
// has named its family, and only through a source that carries commands (a serial port or
// tcp://; never gpsd://, udp:// or a played log). No clock and no timer of its own: the
// session says what happens and asks at the moments it likes.
class VersionProbe
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kQuietTime{5000};

    // The port is open (again: a reconnection or a new baud rate starts the wait afresh).
    void Connected(Clock::time_point now, bool bSourceTakesCommands);
    void Disconnected();
    // The receiver named its family: nothing is asked any more on this connection.
    void FamilyKnown();

    // The bytes to write now (VersionQueries()), exactly once per connection when due;
    // empty otherwise.
    std::string Poll(Clock::time_point now);
    // When Poll will have something to send, if ever: for the caller's timer.
    std::optional<Clock::time_point> Due() const;

private:
    enum class State
    {
        Idle,    // not connected, or nothing to be asked on this connection
        Waiting, // connected; asks at m_due unless the family is told first
        Asked,
    };
    State m_state = State::Idle;
    Clock::time_point m_due{};
};
