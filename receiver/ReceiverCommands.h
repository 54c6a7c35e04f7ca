#pragma once

#include "receiver/ReceiverFamily.h"

#include <cstdint>
#include <optional>
#include <span>
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

// The UBX protocol version a MON-VER answer's extension strings state ("PROTVER=18.00",
// "PROTVER 14.00"), times 100; none when they state none.
std::optional<int> UbxProtocolVersion(std::span<const std::string> extensions);

// The generation from which u-blox receivers are configured through CFG-VALSET (protocol 27.00,
// generation 9); the older take CFG-MSG.
inline constexpr int kUbxValsetProtocol = 2700;

// What turns a u-blox receiver's UBX navigation messages on, in its RAM only (a power cycle
// forgets it; its flash is never written): NAV-PVT, NAV-SAT, NAV-SIG, NAV-DOP and NAV-EOE, once
// per navigation solution.
//   protocol >= 27:  one CFG-VALSET for the UART1 and USB ports, RAM layer
//   15 to 26:        CFG-MSG (current port) for NAV-PVT, NAV-SAT, NAV-DOP and, from 18, NAV-EOE
//   below 15:        CFG-MSG for the older set: NAV-PVT (from 14), NAV-SOL, NAV-POSLLH,
//                    NAV-VELNED, NAV-SVINFO and NAV-DOP
//   not known:       the CFG-VALSET and the CFG-MSG of 15 to 26 both; the receiver
//                    acknowledges what it knows and refuses (NAK) the rest
// None for a family other than u-blox.
std::optional<std::string> EnableUbxCommand(ReceiverFamily family, std::optional<int> protocolVersion);
