#include "tools/gpssim/LineSpeed.h"

#include "serial/CustomBaudRate.h"

int PeerSpeed(int masterFd)
{
    // termios2, so that speeds beyond the B-constants (14400) read as they were set.
    return GetActualBaudRate(masterFd);
}

std::string GarbleForWrongSpeed(std::string_view bytes)
{
    std::string garbled(bytes);
    unsigned char scramble = 0x5a;
    for (char& c : garbled)
    {
        if (c == '\n')
            continue;
        scramble = static_cast<unsigned char>(scramble * 33u + 7u);
        c = static_cast<char>(0x80u | ((static_cast<unsigned char>(c) ^ scramble) & 0x7fu));
    }
    return garbled;
}
