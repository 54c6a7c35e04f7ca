#pragma once

// Sets input and output speed to any rate the driver accepts, beyond the fixed Bnnn table of
// termios (14400 is not in it). Returns false with errno set when the driver refuses.
bool SetCustomBaudRate(int fd, int baudRate);

// The output speed the driver currently reports, in bits per second; -1 on failure.
int GetActualBaudRate(int fd);
