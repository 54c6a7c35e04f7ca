#pragma once

#include "tools/gpssim/ReceiverSimulator.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One message the other side sent: an NMEA line or, to a u-blox, a UBX message.
struct ReceivedMessage
{
    std::string bytes;                  // as received: a line up to its LF, or the whole UBX message
    std::optional<RestartKind> restart; // one of this receiver's own restart commands
    // For the log: the line without CR LF, or "UBX 06 04 FF FF 02 00" (class, id, payload).
    std::string Text() const;
};

// Splits what the other side sends into messages, and picks out the receiver family's restart
// commands; other families' commands are nothing to it, as to a real receiver. Without a family
// it is the SiRF-class receiver of old: $PSRF101,X,Y,Z,ClkOffset,TimeOfWeek,WeekNo,Channels,
// ResetCfg*hh CR LF, reset configuration 1 (hot), 2 (warm) or 4 (cold), whatever the numbers
// before it. A u-blox also reads binary UBX messages among the lines.
class CommandRecogniser
{
public:
    // Longer lines are no command; they are skipped up to their LF.
    static constexpr std::size_t kMaxLine = 128;
    // A UBX message announcing a longer payload is no command of ours.
    static constexpr std::size_t kMaxUbxPayload = 512;

    explicit CommandRecogniser(std::optional<ReceiverFamily> family = std::nullopt);

    // Takes bytes as they come, in pieces of any size; returns the messages they complete.
    std::vector<ReceivedMessage> Feed(std::string_view bytes);
    void Reset();

    // One whole line, up to and including its LF: a SiRF restart command.
    static std::optional<RestartKind> Recognise(std::string_view line);

private:
    std::optional<RestartKind> RestartIn(std::string_view message) const;
    void FeedUbx(char c, std::vector<ReceivedMessage>& messages);

    std::optional<ReceiverFamily> m_family;
    std::string m_strLine;
    bool m_bOverlong = false;
    std::string m_strUbx; // a UBX message under way, from its first sync byte
};
