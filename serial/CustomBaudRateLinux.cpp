// termios2 and BOTHER come from <asm/termbits.h>, whose struct termios clashes with the one of
// <termios.h>; this file therefore stands alone and includes no libc terminal header.
#include "serial/CustomBaudRate.h"

#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>

bool SetCustomBaudRate(int fd, int baudRate)
{
    if (baudRate <= 0)
    {
        errno = EINVAL;
        return false;
    }
    struct termios2 settings
    {
    };
    if (ioctl(fd, TCGETS2, &settings) != 0)
        return false;
    settings.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    settings.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    settings.c_ispeed = static_cast<speed_t>(baudRate);
    settings.c_ospeed = static_cast<speed_t>(baudRate);
    if (ioctl(fd, TCSETS2, &settings) != 0)
        return false;
    if (GetActualBaudRate(fd) != baudRate)
    {
        errno = EINVAL;
        return false;
    }
    return true;
}

int GetActualBaudRate(int fd)
{
    struct termios2 settings
    {
    };
    if (ioctl(fd, TCGETS2, &settings) != 0)
        return -1;
    return static_cast<int>(settings.c_ospeed);
}
