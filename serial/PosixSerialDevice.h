#pragma once

#include "io/ByteDevice.h"
#include "io/PortError.h"
#include "io/WakeEvent.h"

#include <cstddef>
#include <string>

// One open serial device on a POSIX system: exclusive, raw 8N1, DTR and RTS on, waits bounded
// by a time-out and cut short by Wake. Open and Close belong to the owner's thread; Read, Write
// and Purge to the one thread doing the input and output; Wake to any thread.
class PosixSerialDevice : public ByteDevice
{
public:
    PosixSerialDevice() = default;
    ~PosixSerialDevice() override;
    PosixSerialDevice(const PosixSerialDevice&) = delete;
    PosixSerialDevice& operator=(const PosixSerialDevice&) = delete;

    // Opens the device at `path` (UTF-8) and configures it. On failure nothing stays open and
    // LastError/LastSystemError say why.
    bool Open(const std::string& path, int baudRate);
    void Close() override;
    bool IsOpen() const override { return m_fd >= 0; }

    PortError LastError() const { return m_lastError; }
    int LastSystemError() const { return m_lastSystemError; }

    Result Read(void* buffer, std::size_t size, int timeoutMs) override;
    Result Write(const void* bytes, std::size_t size, int timeoutMs) override;
    void Purge(bool input, bool output) override;
    void Wake() override;
    void Gather(int us) override;

    // The speed the driver reports, for tests; -1 if closed.
    int ActualBaudRate() const;

private:
    bool Fail(int systemError);

    int m_fd = -1;
    WakeEvent m_wake;
    PortError m_lastError = PortError::None;
    int m_lastSystemError = 0;
};
