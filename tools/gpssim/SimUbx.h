#pragma once

#include "tools/gpssim/SimState.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// The simulated u-blox receiver's own output (--ubx): one cycle's state as NAV-PVT, NAV-SAT and
// NAV-DOP, then NAV-EOE, each a whole UBX frame. Integers as the receiver scales them: 1e-7
// degree, millimetres, 0.01 DOP.
std::vector<std::string> UbxCycleFrames(const SimState& state);

// GPS time of week in ms of a UTC instant (GPS runs 18 s ahead of UTC since 2017).
std::uint32_t GpsTimeOfWeekMs(std::chrono::system_clock::time_point utc);
