#pragma once

#include <array>

// The line speeds a receiver is offered at, slowest first: the setup form lists them and the
// rate detection listens at them.
inline constexpr std::array<int, 9> kBaudRates = {1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600, 115200};
