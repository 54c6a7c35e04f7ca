#pragma once

#include "util/FloodMeter.h"

#include <cstdint>
#include <functional>

// When the views may be updated next. Sentences one at a time are shown as they come, at most
// a frame apart. A flood (see FloodMeter) is shown ten times a second, as fast as a person can
// read it and receivers compute fixes. The clock is given, so that the rule is tested without
// waiting.
class UpdatePacer
{
public:
    static constexpr std::int64_t kFrameUpdateMs = 16;
    static constexpr std::int64_t kFloodUpdateMs = 100;

    // Milliseconds on a steady clock.
    using Clock = std::function<std::int64_t()>;
    explicit UpdatePacer(Clock now) : m_now(std::move(now)) {}

    // How long an update must wait before it may run; 0: now.
    std::int64_t Wait() const;
    // An update runs now; `lines` came since the last one.
    void Ran(unsigned lines);
    std::int64_t Interval() const { return m_nIntervalMs; }
    bool Flooding() const { return m_nIntervalMs == kFloodUpdateMs; }

private:
    std::int64_t SinceLast() const;

    Clock m_now;
    std::int64_t m_nLastMs = -1;
    std::int64_t m_nIntervalMs = kFrameUpdateMs;
    FloodMeter m_flood;
};
