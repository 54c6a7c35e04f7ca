#pragma once

#include "gps/GpsData.h"
#include "tools/gpssim/ReceiverModel.h"
#include "tools/gpssim/RtkCorrections.h"
#include "tools/gpssim/SimSentences.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct SimCycle
{
    SimState state;
    std::vector<std::string> sentences; // what goes on the line this second, in order, CR LF ended
    std::size_t droppedSentences = 0;   // generated but left out to fit the line's capacity
};

// A receiver in motion on its line: each call to Step in a new UTC second is one second of its
// model's life, sent in its dialect as far as the line carries it. It owns no clock; the caller
// passes the moment that the cycle stamps.
class ReceiverSimulator
{
public:
    // Share of the line's capacity (baud / 10 bytes a second) that one second's sentences may
    // take; the rest leaves room for the scheduling of the writes.
    static constexpr double kLineShare = 0.92;

    explicit ReceiverSimulator(const SimConfig& config);

    SimCycle Step(std::chrono::system_clock::time_point utc);
    // The command arrived at `at`, on the clock Step is given; takes effect from the next Step.
    void Restart(RestartKind kind, std::chrono::system_clock::time_point at);

    // What the receiver sends when the port is opened: its family's banner, if any.
    std::string Greeting() const;
    // Its answer at once to a message from the other side (a line with its CR LF, or a whole
    // UBX message): its version, an acknowledgement; empty for none. A u-blox's CFG-MSG turning
    // NAV-PVT on turns its UBX output on from the next cycle.
    std::string Answer(std::string_view message);
    std::optional<ReceiverFamily> Family() const { return m_family; }

    // What the other side sent at `at`: RTCM3 corrections among it move the fix to RTK.
    void Received(std::string_view bytes, std::chrono::system_clock::time_point at)
    {
        m_corrections.Received(bytes, at);
    }
    const RtkCorrections& Corrections() const { return m_corrections; }

    // Seconds of normal operation before the next lost fix; for tests that want one now.
    void ScheduleOutage(int secondsFromNow) { m_model.ScheduleOutage(secondsFromNow); }

    static std::size_t LineBudget(int baud);

private:
    // A new second: the model moves on and its state goes out.
    SimCycle StepSecond(std::chrono::system_clock::time_point utc);
    // The cycle's state as sentences, as many as its share of the line carries.
    void SendState(SimCycle& cycle);
    // `reserved` bytes of the budget are already taken (the UBX frames).
    std::vector<std::string> FitToLine(const std::vector<std::string>& sentences, std::size_t reserved = 0);

    Dialect m_dialect;
    std::optional<ReceiverFamily> m_family;
    bool m_bBanner;
    bool m_bUbx;
    ReceiverModel m_model;
    RtkCorrections m_corrections;
    // Printed with the first sentences after a restart's silence.
    std::vector<std::string> m_afterRestart;
    std::size_t m_nBudget;

    // Seconds since each kind of sentence last went out, to share a slow line fairly.
    std::map<std::string, int> m_ages;

    // The second the state last moved, and that second's state, for the cycles after it.
    std::optional<std::chrono::system_clock::time_point> m_lastSecond;
    SimState m_lastState;
};
