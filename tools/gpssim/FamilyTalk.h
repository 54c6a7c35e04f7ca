#pragma once

#include "receiver/ReceiverFamily.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What the simulated receiver of each family says besides its fixes: the banner it prints when
// it starts, its answer to its own version query, its acknowledgement of a restart command
// and what it prints when it comes back from one. Messages are whole, checksums included.
namespace family_talk
{

// At start-up: u-blox's TXT banner, MediaTek's $PMTK011/$PMTK010, SiRF's $PSRFTXT lines, ST's
// $PSTMVER, CASIC's TXT banner; Airoha and Quectel print their version.
std::vector<std::string> Banner(ReceiverFamily family);

// The answer to `message` (an NMEA line with its CR LF, or a whole UBX message) when it is
// one of the family's version queries or one of its restart commands that it acknowledges;
// empty otherwise. The u-blox answers a MON-VER poll with MON-VER.
std::string Answer(ReceiverFamily family, std::string_view message);

// What it prints once it speaks again after a restart: MediaTek its start-up messages, SiRF
// and CASIC their banner; the others nothing.
std::vector<std::string> AfterRestart(ReceiverFamily family);

// The u-blox's MON-VER answer as it sends it.
std::string UBloxMonVer();

} // namespace family_talk
