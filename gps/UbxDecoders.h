#pragma once

#include "gps/Framer.h"
#include "gps/GpsData.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Decodes a frame from the framer into the live record: an NMEA line through DecodeSentence,
// a UBX frame through the table below, nothing of RTCM3. Never throws.
//
//   message      writes
//   NAV-PVT      time and date (when valid), fix mode (none unless gnssFixOK), position,
//                height above sea level, ground speed, heading of motion, hAcc, vAcc, PDOP,
//                carrier solution (RTK)
//   NAV-SAT      every satellite: system, number, C/N0, elevation, azimuth, used, health
//   NAV-SIG      each satellite's C/N0 raised to its strongest signal in the message (as the
//                NMEA decoder merges GSV signals); a satellite NAV-SAT did not list is added
//   NAV-DOP      HDOP, PDOP
//   NAV-STATUS   the receiver's time to first fix and time since start-up
//   NAV-TIMEUTC  time and date (when valid)
//   NAV-TIMEGPS  time and date from GPS week and time of week less the leap seconds
//   NAV-SOL, NAV-POSLLH, NAV-VELNED, NAV-SVINFO: the older receivers' messages, for the same
//                fields; they write nothing NAV-PVT writes once NAV-PVT has come
//
// One source per field. When a receiver sends NMEA and UBX for the same epochs, UBX's values
// win: they are the receiver's solution at full precision (1e-7 degree, millimetres), with
// its own validity flags, where NMEA carries the same solution rounded. So while UBX sends a
// navigation solution, NMEA sentences leave the time, position, motion, mode, DOPs, accuracy
// and RTK state as UBX set them; while it sends a satellite list, they leave the satellites.
// NMEA keeps the fields again once kUbxPatience NMEA sentences have come without the UBX
// message (several epochs of the busiest NMEA output), so the two never alternate within an
// epoch and a receiver switched back to NMEA only is followed.
void DecodeFrame(FrameKind kind, std::string_view bytes, GpsData& gps);
void DecodeFrame(const Frame& frame, GpsData& gps);
void DecodeUbx(std::string_view frame, GpsData& gps);

inline constexpr std::uint8_t kUbxPatience = 100;

// "NAV-PVT", "MON-VER", ...; empty for a class and id not known here.
std::string_view UbxMessageName(std::uint8_t cls, std::uint8_t id);

// NAV-EOE: the receiver says its epoch is complete.
bool IsUbxEpochEnd(std::string_view frame);
// The GPS time of week (ms) a UBX navigation message belongs to: every message of one epoch
// carries the same; none for other messages.
std::optional<std::uint32_t> UbxEpochTow(std::string_view frame);

// The UTC time of day a NAV-PVT or NAV-TIMEUTC message states as valid; none for others.
std::optional<TimeOfDay> UbxTimeOfDay(std::string_view frame);

// MON-VER's strings: the receiver's identity.
struct UbxVersion
{
    std::string software; // "ROM CORE 3.01 (107888)"
    std::string hardware; // "00080000"
    std::vector<std::string> extensions; // "FWVER=SPG 3.01", "PROTVER=18.00", ...
};
std::optional<UbxVersion> DecodeMonVer(std::string_view frame);
