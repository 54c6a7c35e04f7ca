#pragma once

#include "serial/ByteDevice.h"
#include "serial/PortError.h"
#include "serial/SourceAddress.h"
#include "serial/WakeEvent.h"

#include <cstddef>
#include <memory>

// Drops gpsd's JSON lines (those that start with '{') from its watch stream and keeps every
// other byte in order, however the stream is cut into pieces. Needs no buffer of its own.
class GpsdJsonFilter
{
public:
    // Removes the JSON bytes from bytes[0, count) in place; returns how many bytes are left.
    std::size_t Filter(char* bytes, std::size_t count);

private:
    bool m_bAtLineStart = true;
    bool m_bSkipping = false;
};

// A receiver behind a socket, under the same narrow interface as the serial device: a TCP
// client (tcp://, and gpsd:// with its watch request sent and its JSON skipped) or a UDP
// listener on the one port the user typed (udp://). Memory is fixed at open: a flood of
// datagrams is dropped by the kernel's own bounded queue, never kept here.
class SocketDevice : public ByteDevice
{
public:
    static constexpr int kConnectTimeoutMs = 5000;
    // What gpsd is sent once connected: its NMEA relay, and nothing else is decoded here.
    static constexpr const char* kWatchRequest = "?WATCH={\"enable\":true,\"nmea\":true}\n";
    // Largest datagram kept whole; the rest of a larger one is cut off.
    static constexpr std::size_t kDatagramCapacity = 65536;

    SocketDevice() = default;
    ~SocketDevice() override;
    SocketDevice(const SocketDevice&) = delete;
    SocketDevice& operator=(const SocketDevice&) = delete;

    // Connects (tcp, gpsd) or binds (udp) within timeoutMs. On failure nothing stays open and
    // LastError/LastSystemError say why.
    bool Open(const SourceAddress& source, int timeoutMs = kConnectTimeoutMs);
    void Close() override;
    bool IsOpen() const override { return m_fd >= 0; }
    // Only a plain TCP peer takes bytes: gpsd's watch socket does not pass them on to the
    // receiver, and a datagram listener has no one to send to.
    bool AcceptsWrites() const override { return m_kind == SourceAddress::Kind::Tcp; }

    PortError LastError() const { return m_lastError; }
    int LastSystemError() const { return m_lastSystemError; }

    Result Read(void* buffer, std::size_t size, int timeoutMs) override;
    Result Write(const void* bytes, std::size_t size, int timeoutMs) override;
    void Purge(bool input, bool output) override;
    void Wake() override { m_wake.Signal(); }

private:
    bool Fail(PortError error, int systemError);
    bool Connect(const SourceAddress& source, int timeoutMs);
    bool Bind(const SourceAddress& source);
    bool GreetGpsd(int timeoutMs);
    // Waits for input or the wake-up; Done when the socket is readable.
    Result WaitReadable(int timeoutMs);
    Result ReadStream(char* buffer, std::size_t size, int timeoutMs);
    Result ReadDatagram(char* buffer, std::size_t size, int timeoutMs);

    int m_fd = -1;
    SourceAddress::Kind m_kind = SourceAddress::Kind::Tcp;
    WakeEvent m_wake;
    GpsdJsonFilter m_filter;
    // udp: the datagram being handed out, and how much of it is left.
    std::unique_ptr<char[]> m_pDatagram;
    std::size_t m_nDatagramAt = 0;
    std::size_t m_nDatagramEnd = 0;
    PortError m_lastError = PortError::None;
    int m_lastSystemError = 0;
};
