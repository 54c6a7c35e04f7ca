#pragma once

#include "receiver/ReceiverFamily.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// What each family is sent: its restart commands, and the queries that make a receiver say
// who it is. Bytes ready for the line.

// "$" + body + "*hh" CR LF, the checksum computed.
std::string NmeaCommand(std::string_view body);
// A UBX message: sync B5 62, class, id, little-endian length, payload, Fletcher checksum.
std::string UbxMessage(std::uint8_t messageClass, std::uint8_t messageId, std::string_view payload);

// The family's command for a kind of start; none when the family has no such command. Hot,
// warm and cold keep nothing but the position and time / drop the ephemeris / drop everything.
// u-blox: CFG-RST with reset mode 2, a restart of the GNSS part only, so that a receiver on
// native USB is not re-enumerated as another /dev/ttyACM*. Unknown gets SiRF's, the commands
// Orvane has always sent.
std::optional<std::string> RestartCommand(ReceiverFamily family, RestartKind kind);

// A line the receiver sent that answers our restart command of that kind: MediaTek's
// "$PMTK010,001" start-up message, Airoha's "$PAIR001,<command>,<result>". The other families
// answer nothing. `line` is one sentence, with or without its CR LF; the checksum must be right.
bool AnswersRestart(ReceiverFamily family, RestartKind kind, std::string_view line);

// The polite questions sent once to a receiver that has not said who it is: a UBX MON-VER
// poll, $PMTK605, $PQTMVERNO and $PCAS06,0. None changes a receiver's state; each family
// ignores the others'.
std::string VersionQueries();
