#include "io/PortError.h"

#include <cerrno>

PortError PortErrorFromErrno(int systemError)
{
    switch (systemError)
    {
    case 0:
        return PortError::None;
    case ENOENT:
    case ENOTDIR:
        return PortError::NotFound;
    case EBUSY:
    case EWOULDBLOCK: // flock held by another program
        return PortError::Busy;
    case EACCES:
    case EPERM:
    case EROFS:
        return PortError::PermissionDenied;
    case ENOTTY:
        return PortError::NotSerialPort;
    case EINVAL:
        return PortError::Unsupported;
    case EIO:
    case ENXIO:
    case ENODEV:
    case EPIPE:
    case ECONNRESET:
        return PortError::Gone;
    case ECONNREFUSED:
        return PortError::ConnectionRefused;
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case ENETUNREACH:
        return PortError::NoAnswer;
    case EADDRINUSE:
        return PortError::Busy;
    default:
        return PortError::Other;
    }
}
