#pragma once

#include "tools/gpssim/ReceiverSimulator.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace simtest
{

// 31 December 2024, 23:58:00 UTC: runs of a few minutes cross midnight and the year.
inline std::chrono::system_clock::time_point NewYearsEve()
{
    using namespace std::chrono;
    return sys_days{year{2024} / December / 31} + hours(23) + minutes(58);
}

// Runs the simulator on a fake clock, one cycle per simulated second.
inline std::vector<SimCycle> Run(ReceiverSimulator& simulator,
                                 std::chrono::system_clock::time_point start, int seconds)
{
    std::vector<SimCycle> cycles;
    for (int i = 0; i < seconds; ++i)
        cycles.push_back(simulator.Step(start + std::chrono::seconds(i)));
    return cycles;
}

// A u-blox without its banner, its UBX navigation messages on beside the NMEA.
inline SimConfig UBloxWithUbx(std::uint32_t seed)
{
    SimConfig config;
    config.seed = seed;
    config.baud = 38400;
    config.family = ReceiverFamily::UBlox;
    config.banner = false;
    config.ubx = true;
    return config;
}

inline std::string Joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line;
    return text;
}

} // namespace simtest
