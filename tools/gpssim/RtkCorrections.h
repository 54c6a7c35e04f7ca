#pragma once

#include "gps/Framer.h"
#include "tools/gpssim/SimRandom.h"
#include "tools/gpssim/SimState.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

// What RTCM3 corrections sent to the receiver do to its fix, as a dual-band RTK receiver
// behaves: after kFloatAfter of valid frames its GGA says RTK float (quality 5), after
// kFixedAfter RTK fixed (4), each with a smaller scatter; kLostAfter after the last frame it
// is an ordinary fix again. A receiver that has never had corrections reports its track
// exactly, as the simulator always has; once it has, its ordinary fix wanders as real ones do,
// so that the smaller scatter of RTK shows.
class RtkCorrections
{
public:
    using TimePoint = std::chrono::system_clock::time_point;
    static constexpr std::chrono::seconds kFloatAfter{10};
    static constexpr std::chrono::seconds kFixedAfter{20};
    static constexpr std::chrono::seconds kLostAfter{30};
    // The wander of each fix, in metres either way (standard deviation-like, uniform here).
    static constexpr double kOrdinaryScatterM = 1.5;
    static constexpr double kFloatScatterM = 0.3;
    static constexpr double kFixedScatterM = 0.02;

    explicit RtkCorrections(std::uint32_t seed);

    // Bytes the other side sent at `at`: the frames among them whose CRC holds count.
    void Received(std::string_view bytes, TimePoint at);
    // The GGA quality and the wander for the second stamped `utc`.
    void Apply(SimState& state, TimePoint utc);

    std::uint64_t Frames() const { return m_nFrames; }
    std::uint64_t FrameBytes() const { return m_nFrameBytes; }

private:
    Framer m_framer;
    Frame m_frame;
    SimRandom m_random;
    std::optional<TimePoint> m_runStart; // the first frame after a silence of kLostAfter
    TimePoint m_lastFrame{};
    bool m_bEverCorrected = false;
    std::uint64_t m_nFrames = 0;
    std::uint64_t m_nFrameBytes = 0;
};
