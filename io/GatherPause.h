#pragma once

#include "util/FloodMeter.h"

#include <chrono>
#include <cstddef>

// How long the serial reader lets bytes gather after a read before it reads again. A slow line
// brings a byte or two per wake-up, and dozens of wake-ups a second cost more than the reading:
// after a short read the reader waits for about kGatherBytes to arrive, at most kMaxUs, which
// keeps a line's last byte within a tenth of a second of the device. While sentences flood,
// the window shows them ten times a second anyway, so the
// reader waits kFloodUs between reads, but never so long that the terminal driver's buffer could
// fill: at most kMaxHeldBytes of the line's time. A flood is judged by FloodMeter.
class GatherPause
{
public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::size_t kGatherBytes = 64;
    static constexpr int kMaxUs = 90000;
    static constexpr int kFloodUs = 20000;
    static constexpr long long kMaxHeldBytes = 2048;

    // At `baudRate` bits a second; 0 (a network source): no pause.
    explicit GatherPause(int baudRate = 0);

    // A read brought `count` bytes at `now`: the pause to take before the next, in microseconds.
    // None after a full read, since more is waiting.
    int After(const char* bytes, std::size_t count, Clock::time_point now);

    int BaseUs() const { return m_nBaseUs; }
    int FloodUs() const { return m_nFloodUs; }
    bool Flooding() const { return m_bFlooding; }

private:
    int m_nBaseUs = 0;
    int m_nFloodUs = 0;
    FloodMeter m_flood;
    bool m_bFlooding = false;
};
