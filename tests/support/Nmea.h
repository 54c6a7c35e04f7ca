#pragma once

#include "gps/NmeaFraming.h"

#include <cstdio>
#include <string>

// A sentence made whole: "$GPGGA,..." with "*HH\r\n" after it, HH the checksum the receiver
// would send. The program's own checksum, which its framing tests check against fixed values.
inline std::string WithChecksum(const std::string& body)
{
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", static_cast<unsigned>(ComputeChecksum(body)));
    return body + tail;
}
