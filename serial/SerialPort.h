#pragma once

#include "io/SourceReader.h"

#include <string>

// A serial port: the termios device under the reader loop, with the line's speed setting how
// long the reader lets bytes gather.
class SerialPort : public SourceReader
{
public:
    SerialPort() = default;
    // The reader thread calls this object's handlers: it stops before the object changes type.
    ~SerialPort() override { Close(); }

    // Opens and configures the device (a path such as /dev/ttyUSB0), creates the rings and starts
    // the reader thread. Only while closed. On false, LastOpenError says why.
    bool Open(const std::wstring& devicePath, int baudRate);
};
