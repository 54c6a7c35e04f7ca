#pragma once

#include "tools/gpssim/ReceiverSimulator.h"
#include "tools/gpssim/ReplayLog.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>

// What the session sends: one burst of sentences a cycle, each due at a moment.
class CycleSource
{
public:
    using Clock = std::chrono::steady_clock;

    virtual ~CycleSource() = default;
    // When the cycle after the last one produced is due, seen from `now`; nullopt when no
    // cycle is left. Asking again before Produce gives the same answer.
    virtual std::optional<Clock::time_point> NextDue(Clock::time_point now) = 0;
    // The bytes of the cycle NextDue announced.
    virtual std::string Produce() = 0;
    virtual void OnRestart(RestartKind) {}
    // The receiver family whose commands it obeys; none for the SiRF-class receiver of old.
    virtual std::optional<ReceiverFamily> Family() const { return std::nullopt; }
    // Sent at once when the other side opens the port: a banner.
    virtual std::string OnOpened() { return {}; }
    // Sent at once in answer to a message from the other side.
    virtual std::string Answer(std::string_view /*message*/) { return {}; }
    // Every byte the other side sent, as it comes: a receiver takes RTCM3 corrections so.
    virtual void Received(std::string_view /*bytes*/) {}
    // A replay starts from its top when the other side opens the port; a receiver runs on its
    // own clock whether anyone listens or not.
    virtual bool WaitsForPeer() const { return false; }
};

// The generated receiver, one cycle at each turn of the UTC second, or of its tenth with
// ten cycles a second.
class GeneratedSource : public CycleSource
{
public:
    using UtcClock = std::function<std::chrono::system_clock::time_point()>;

    GeneratedSource(const SimConfig& config, UtcClock utcClock);

    std::optional<Clock::time_point> NextDue(Clock::time_point now) override;
    std::string Produce() override;
    void OnRestart(RestartKind kind) override { m_simulator.Restart(kind, m_utcClock()); }
    std::optional<ReceiverFamily> Family() const override { return m_simulator.Family(); }
    std::string OnOpened() override { return m_simulator.Greeting(); }
    std::string Answer(std::string_view message) override { return m_simulator.Answer(message); }
    void Received(std::string_view bytes) override { m_simulator.Received(bytes, m_utcClock()); }

    const SimCycle& LastCycle() const { return m_lastCycle; }
    ReceiverSimulator& Simulator() { return m_simulator; }

private:
    ReceiverSimulator m_simulator;
    UtcClock m_utcClock;
    std::optional<Clock::time_point> m_due;
    std::chrono::system_clock::time_point m_stamp;
    std::optional<std::chrono::system_clock::time_point> m_lastStamp;
    SimCycle m_lastCycle;
    std::chrono::milliseconds m_period;
};

// A log sent at its recorded pace, from the moment the schedule is first asked for.
class ReplaySource : public CycleSource
{
public:
    ReplaySource(ReplayLog log, bool bLoop);

    std::optional<Clock::time_point> NextDue(Clock::time_point now) override;
    std::string Produce() override;
    bool WaitsForPeer() const override { return true; }

    std::size_t Pass() const { return m_nPass; }

private:
    ReplayLog m_log;
    bool m_bLoop;
    std::optional<Clock::time_point> m_start;
    std::size_t m_nPass = 0;
    std::size_t m_nIndex = 0;
};
