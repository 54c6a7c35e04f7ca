#pragma once

#include "tools/gpssim/ReceiverSimulator.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Picks the SiRF restart commands out of what the other side sends:
// $PSRF101,X,Y,Z,ClkOffset,TimeOfWeek,WeekNo,Channels,ResetCfg*hh CR LF, reset configuration
// 1 (hot), 2 (warm) or 4 (cold). Everything else is ignored, as a receiver ignores it.
class CommandRecogniser
{
public:
    // Longer lines are no command; they are skipped up to their LF.
    static constexpr std::size_t kMaxLine = 128;

    // Takes bytes as they come, in pieces of any size; returns the commands they complete.
    std::vector<RestartKind> Feed(std::string_view bytes);
    void Reset();

    // One whole line, up to and including its LF.
    static std::optional<RestartKind> Recognise(std::string_view line);

private:
    std::string m_strLine;
    bool m_bOverlong = false;
};
