#pragma once

#include <string>
#include <string_view>

// A real serial line read at another speed than it is sent at delivers wrong bytes: framing
// errors and bit soup, never a sentence. A pseudo-terminal has no clock and delivers whatever
// it is given, so the simulator does the garbling itself when the other side's speed differs.

// The speed the other side of the pseudo-terminal set (read through the master, which shares
// the slave's settings); -1 when it cannot be read.
int PeerSpeed(int masterFd);

// `bytes` as a reader at the wrong speed would see them: every byte but the line ends turned
// into one with the high bit set, so no '$', digit or '*' survives and no checksum can match.
// Line ends are kept so that the reader still cuts lines, as it would from a line's breaks.
std::string GarbleForWrongSpeed(std::string_view bytes);
