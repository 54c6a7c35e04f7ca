#pragma once

#include "gps/GpsData.h"

#include <chrono>
#include <cstdint>
#include <string>

// What started a search for the first fix.
enum class FixSearch
{
    Connect,
    HotStart,
    WarmStart,
    ColdStart,
};

// "Connected", "Hot start", ...
const char* FixSearchName(FixSearch kind);

// Measures the time to first fix after the port opened or a restart command was written. It
// reads no clock: every moment is handed in, on the computer's monotonic clock.
//
// Lines already on their way when a command is written still carry the old fix, and a decoder
// may hold a mode from before the restart into the first epoch after it. So a fix counts only
// from an epoch (as the reader's epoch marks tell them) that began after the command: once
// a record without fix arrived after the command, the first record with a fix in such an epoch
// ends the search. Without one (a receiver that re-fixes at once), after Connect or a hot start
// such an epoch ends the search when it has ended with a fix, timed at its first line. Warm and
// cold starts lose the fix first; a receiver that keeps it for kIgnoredAfter has ignored the
// command (a command of another family, say), which ends the search without a time.
class TimeToFix
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kIgnoredAfter{3};

    // A new search from `now`; one under way is given up.
    void Start(FixSearch kind, Clock::time_point now);
    // The search is given up (disconnected); a result already found stays.
    void Cancel();
    // Each record as it stood after a line, in order, with the moment that line arrived and
    // whether the line began an epoch. True when this record ended the search.
    bool Feed(const GpsData& gps, Clock::time_point arrived, bool bBeginsEpoch);

    bool IsSearching() const { return m_state == State::Searching; }
    bool HasResult() const { return m_state == State::Found; }
    // The receiver kept its fix through a warm or cold start: it did not take the command.
    bool IsIgnored() const { return m_state == State::Ignored; }
    // "Cold start: searching 12.3 s", "Cold start: fix in 34.2 s", "Cold start: ignored by the
    // receiver"; empty when none.
    std::string Text(Clock::time_point now) const;

private:
    enum class State
    {
        Idle,
        Searching,
        Found,
        Ignored,
    };

    void Found(Clock::time_point at);
    // Searched so far at `now`, or the time to first fix once found.
    Clock::duration Elapsed(Clock::time_point now) const;
    bool MayKeepItsFix() const;

    State m_state = State::Idle;
    FixSearch m_kind = FixSearch::Connect;
    Clock::time_point m_start{};
    Clock::duration m_result{};

    // The latest record's fix.
    bool m_bLastFixed = false;
    // The epoch under way: whether it began after the start, and when its first line arrived.
    Clock::time_point m_epochStart{};
    bool m_bEpochAfterStart = false;
    // A record that said "no fix" arrived since the start.
    bool m_bSawNoFix = false;
    // The first epoch after the start that ended with a fix, before any "no fix".
    bool m_bFixedEpochSeen = false;
    Clock::time_point m_firstFixedEpoch{};
};
