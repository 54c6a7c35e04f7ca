#pragma once

#include "net/AddressLookup.h"
#include "io/ByteDevice.h"
#include "io/PortError.h"
#include "net/SourceAddress.h"
#include "io/WakeEvent.h"

#include <cstddef>
#include <memory>
#include <vector>

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

// How long each step of opening a network source may take. Each step has its own time, so a
// slow lookup leaves the connection and the greeting theirs, and an address that does not
// answer (a broken IPv6 route) leaves the next its own try.
struct OpenLimits
{
    int lookupMs = 10000;
    int connectMs = 3000; // for each address
    int greetingMs = 3000;
};

// A receiver behind a socket, under the same narrow interface as the serial device: a TCP
// client (tcp://, and gpsd:// with its watch request sent and its JSON skipped) or a UDP
// listener on the one port the user typed (udp://), on every address its host stands for.
// Memory is fixed at open: a flood of datagrams is dropped by the kernel's own bounded queue,
// never kept here.
class SocketDevice : public ByteDevice
{
public:
    // Addresses a udp:// host may stand for that are listened on; more are left out.
    static constexpr std::size_t kMaxListeners = 8;
    // What gpsd is sent once connected: its NMEA relay, and nothing else is decoded here.
    static constexpr const char* kWatchRequest = "?WATCH={\"enable\":true,\"nmea\":true}\n";
    // Largest datagram kept whole; the rest of a larger one is cut off.
    static constexpr std::size_t kDatagramCapacity = 65536;

    SocketDevice();
    ~SocketDevice() override;
    SocketDevice(const SocketDevice&) = delete;
    SocketDevice& operator=(const SocketDevice&) = delete;

    // Looks the host up, then connects (tcp, gpsd) or binds (udp), each within its limit. Blocks:
    // not for the user-interface thread. Wake from another thread, also before Open begins,
    // ends it with PortError::Cancelled. On failure nothing stays open and
    // LastError/LastSystemError say why (a lookup out of time: HostNotFound with ETIMEDOUT).
    bool Open(const SourceAddress& source, const OpenLimits& limits = {});
    // Used by the next Open in place of getaddrinfo.
    void SetResolver(Resolver resolver) { m_resolver = std::move(resolver); }
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
    // HostNotFound, timed out or Cancelled as the lookup ended; true with the addresses.
    bool LookUpHost(const std::string& host, std::uint16_t port, const addrinfo& hints, int limitMs,
                    std::vector<ResolvedAddress>& addresses);
    bool Connect(const SourceAddress& source, const OpenLimits& limits);
    bool Bind(const SourceAddress& source, const OpenLimits& limits);
    bool GreetGpsd(int timeoutMs);
    // Waits for input on any of the sockets or the wake-up; Done when `readyFd` is readable.
    Result WaitReadable(int timeoutMs, int* readyFd = nullptr);
    Result ReadStream(char* buffer, std::size_t size, int timeoutMs);
    Result ReadDatagram(char* buffer, std::size_t size, int timeoutMs);

    int m_fd = -1;
    // udp: the further sockets when the host stands for more than one address.
    std::vector<int> m_otherFds;
    Resolver m_resolver = SystemResolve;
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
