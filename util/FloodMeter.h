#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// When lines come too fast to be shown one by one: more than kLinesPerSecond of them within
// the last second. The reader's pause, the hand-over of lines to the window and the status
// panel's redraws all pace a flood by this one rule; each keeps its own meter, fed with the
// lines it sees. The clock is given in milliseconds, so that the rule is tested without waiting.
class FloodMeter
{
public:
    static constexpr std::int64_t kLinesPerSecond = 100;

    // `lines` lines came at `nowMs`; times never go back.
    void Count(std::int64_t nowMs, std::int64_t lines = 1);
    // More than kLinesPerSecond lines came in the second up to `nowMs`.
    bool Flooding(std::int64_t nowMs) const;
    void Reset() { *this = FloodMeter(); }

private:
    // The arrival times of the last kLinesPerSecond + 1 lines, a ring: a flood is when the
    // oldest of them is less than a second old.
    std::array<std::int64_t, kLinesPerSecond + 1> m_times{};
    std::size_t m_nNext = 0;
    bool m_bFull = false;
};
