#pragma once

#include "serial/PortError.h"

#include <cstddef>
#include <string>

// One open serial device on a POSIX system: exclusive, raw 8N1, DTR and RTS on, waits bounded
// by a time-out and cut short by Wake. Open and Close belong to the owner's thread; Read, Write
// and Purge to the one thread doing the input and output; Wake to any thread.
class PosixSerialDevice
{
public:
    enum class Status
    {
        Done,     // count bytes moved (at least one)
        TimedOut, // nothing moved within the time-out
        Woken,    // Wake was called
        Gone,     // the device went away or hung up: no later call will succeed
        Failed    // any other failure; a later call may succeed
    };

    struct Result
    {
        Status status = Status::Failed;
        std::size_t count = 0;
        int systemError = 0;
    };

    PosixSerialDevice() = default;
    ~PosixSerialDevice();
    PosixSerialDevice(const PosixSerialDevice&) = delete;
    PosixSerialDevice& operator=(const PosixSerialDevice&) = delete;

    // Opens the device at `path` (UTF-8) and configures it. On failure nothing stays open and
    // LastError/LastSystemError say why.
    bool Open(const std::string& path, int baudRate);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }

    PortError LastError() const { return m_lastError; }
    int LastSystemError() const { return m_lastSystemError; }

    // Waits up to timeoutMs for input, then reads what has come, at most `size` bytes.
    Result Read(void* buffer, std::size_t size, int timeoutMs);
    // Writes as many of the bytes as the driver takes, waiting up to timeoutMs for room.
    Result Write(const void* bytes, std::size_t size, int timeoutMs);
    // Discards received bytes not yet read and/or bytes written but not yet sent.
    void Purge(bool input, bool output);
    // Ends the current wait of Read or Write, or the next one if none is under way. Read takes
    // the wake-up; Write leaves it for the Read that follows.
    void Wake();

    // The speed the driver reports, for tests; -1 if closed.
    int ActualBaudRate() const;

private:
    bool Fail(int systemError);

    int m_fd = -1;
    int m_wakeFd = -1;
    PortError m_lastError = PortError::None;
    int m_lastSystemError = 0;
};
