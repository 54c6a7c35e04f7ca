#pragma once

#include "gps/GpsData.h"
#include "gps/Rtcm3.h"

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <string_view>

// What the corrections line of the status panel says about the RTCM3 frames sent to the
// receiver: the mountpoint, the data rate over the last kRateWindow, the age of the last
// frame, the message types seen, and the distance to the base station of 1005/1006. No I/O:
// the caller gives each frame and the moments.
class CorrectionsSummary
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kRateWindow{10};

    explicit CorrectionsSummary(std::string mountpoint = {}) : m_mountpoint(std::move(mountpoint)) {}

    // One whole frame, CRC verified, at `at`.
    void Add(std::string_view frame, Clock::time_point at);

    // Bytes a second over the window ending at `now`; over the time since the first frame
    // while that is shorter.
    double BytesPerSecond(Clock::time_point now) const;
    std::optional<Clock::duration> Age(Clock::time_point now) const;
    const std::set<int>& Types() const { return m_types; }
    const std::optional<Rtcm3Station>& Station() const { return m_station; }

    // "BNDM  1.2 kB/s  age 0.4 s  base 11.1 km  1005 1077 1087"; the parts not known yet are
    // left out ("BNDM  no corrections yet" before the first frame).
    std::string Text(Clock::time_point now, const GpsData& fix) const;

private:
    struct Arrival
    {
        Clock::time_point at;
        std::size_t bytes;
    };
    void Forget(Clock::time_point now) const;

    std::string m_mountpoint;
    mutable std::deque<Arrival> m_window;
    mutable std::size_t m_nWindowBytes = 0;
    std::optional<Clock::time_point> m_first;
    std::optional<Clock::time_point> m_last;
    std::set<int> m_types;
    std::optional<Rtcm3Station> m_station;
};
