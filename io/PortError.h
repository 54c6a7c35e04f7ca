#pragma once

// Why opening or using a serial port failed: the few outcomes the rest of the program tells
// apart. The operating system's own code is kept beside it for the details.
enum class PortError
{
    None,
    NotFound,         // no such device
    Busy,             // opened or locked by another program
    PermissionDenied, // on Linux: the user is not in the group that owns the device (dialout)
    NotSerialPort,    // the path names something that is not a terminal device
    Unsupported,      // the device refused the line settings, such as the baud rate
    Gone,             // the device went away or stopped answering (unplugged, hung up)
    HeldByGpsd,       // a serial port that a gpsd on this computer reads
    BadAddress,       // a network source that is not written as gpsd://, tcp:// or udp:// take
    HostNotFound,     // the host name does not resolve
    ConnectionRefused, // nothing accepts connections at the host and port
    NoAnswer,         // the host did not answer in time or cannot be reached
    NotGpsd,          // what answers at a gpsd:// address is not gpsd
    Cancelled,        // the open was called off before it ended (SerialPort::CancelOpen)
    Other
};

// The one place where system error codes (errno) become a PortError.
PortError PortErrorFromErrno(int systemError);
