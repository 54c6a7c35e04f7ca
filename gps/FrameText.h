#pragma once

#include "gps/Framer.h"

#include <string>
#include <string_view>

// One readable line for a frame, as the terminal shows it (no line end). An NMEA line is its
// text as received, line end removed; a binary frame is named with its payload's size and,
// for the messages decoded here, what it says:
//   UBX NAV-PVT 92 B  3D fix, 18 SV, hAcc 1.4 m
//   UBX MON-VER 160 B  ROM CORE 3.01
//   RTCM3 1077 (GPS MSM7) 412 B
std::string FrameText(const Frame& frame);
std::string FrameText(FrameKind kind, std::string_view bytes);
