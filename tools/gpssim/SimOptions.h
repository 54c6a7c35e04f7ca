#pragma once

#include "receiver/ReceiverFamily.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct SimOptions
{
    int baud = 4800;
    std::optional<std::uint32_t> seed; // none: drawn at start and printed
    std::optional<double> startLatitude;
    std::optional<double> startLongitude;
    std::string replayPath;
    bool bLoop = false;
    std::string linkPath;
    bool bStay = false;
    bool bHelp = false;
    bool bGnss = false; // a multi-constellation receiver: GN talker, four skies
    int rate = 1;       // fix cycles a second
    bool bFastRestarts = false; // restarts take a tenth of a real receiver's time
    std::optional<ReceiverFamily> family; // none: the SiRF-class receiver of old, no banner
    bool bNoBanner = false;
    bool bUbx = false; // with --family ublox: UBX navigation messages beside the NMEA
};

// --gnss sends up to forty satellites a second, more than 4800 baud can carry.
inline constexpr int kGnssDefaultBaud = 38400;

// What --fast-restarts divides the restart times by.
inline constexpr int kFastRestartSpeedup = 10;

inline constexpr int kMinBaud = 1200;
inline constexpr int kMaxBaud = 115200;

// The command line without the program name; "--name value" and "--name=value" both work.
bool ParseOptions(const std::vector<std::string>& args, SimOptions& options, std::string& error);
std::string UsageText();
