// Sockets for the receivers that are not serial ports. Every socket call stays here, beside
// the serial device's termios calls, so the reader loop above both is the same.
#include "net/SocketDevice.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace
{

using Clock = std::chrono::steady_clock;

// How long an idle TCP peer may stay silent before the kernel probes it, and how many
// unanswered probes end the connection: a phone that left the network is noticed in about
// half a minute instead of never.
constexpr int kKeepIdleSeconds = 10;
constexpr int kKeepIntervalSeconds = 5;
constexpr int kKeepProbes = 3;

constexpr std::string_view kGpsdBanner = "{\"class\":\"VERSION\"";

class Descriptor
{
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int Get() const { return m_fd; }
    int Release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

bool IsGone(int systemError)
{
    return PortErrorFromErrno(systemError) == PortError::Gone || systemError == ETIMEDOUT;
}

} // namespace

std::size_t GpsdJsonFilter::Filter(char* bytes, std::size_t count)
{
    std::size_t kept = 0;
    for (std::size_t i = 0; i < count; ++i)
    {
        const char c = bytes[i];
        if (m_bAtLineStart)
            m_bSkipping = c == '{';
        m_bAtLineStart = c == '\n';
        if (!m_bSkipping)
            bytes[kept++] = c;
    }
    return kept;
}

SocketDevice::SocketDevice()
{
    // Open from the start, so that a cancel given before Open begins still ends it.
    m_wake.Open();
}

SocketDevice::~SocketDevice()
{
    Close();
}

bool SocketDevice::Fail(PortError error, int systemError)
{
    Close();
    m_lastError = error;
    m_lastSystemError = systemError;
    return false;
}

bool SocketDevice::Open(const SourceAddress& source, const OpenLimits& limits)
{
    if (IsOpen())
        return Fail(PortError::Busy, EBUSY);
    m_lastError = PortError::None;
    m_lastSystemError = 0;
    m_kind = source.kind;
    m_filter = GpsdJsonFilter{};
    if (m_wake.Fd() < 0 && !m_wake.Open())
        return Fail(PortError::Other, errno);

    if (source.kind == SourceAddress::Kind::Udp)
        return Bind(source, limits);
    if (!Connect(source, limits))
        return false;
    if (source.kind == SourceAddress::Kind::Gpsd)
        return GreetGpsd(limits.greetingMs);
    return true;
}

bool SocketDevice::LookUpHost(const std::string& host, std::uint16_t port, const addrinfo& hints,
                              int limitMs, std::vector<ResolvedAddress>& addresses)
{
    switch (LookUp(m_resolver, host, std::to_string(port), hints, limitMs, m_wake, addresses))
    {
    case LookupStatus::Done:
        return true;
    case LookupStatus::TimedOut:
        return Fail(PortError::HostNotFound, ETIMEDOUT);
    case LookupStatus::Cancelled:
        return Fail(PortError::Cancelled, ECANCELED);
    case LookupStatus::NotFound:
        break;
    }
    return Fail(PortError::HostNotFound, 0);
}

bool SocketDevice::Connect(const SourceAddress& source, const OpenLimits& limits)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    std::vector<ResolvedAddress> addresses;
    if (!LookUpHost(source.host, source.port, hints, limits.lookupMs, addresses))
        return false;

    int lastError = ECONNREFUSED;
    for (const ResolvedAddress& a : addresses)
    {
        Descriptor fd(::socket(a.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, a.protocol));
        if (fd.Get() < 0)
        {
            lastError = errno;
            continue;
        }
        int error = 0;
        if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&a.address), a.length) != 0)
        {
            error = errno;
            if (error == EINPROGRESS)
            {
                const auto deadline = Clock::now() + std::chrono::milliseconds(limits.connectMs);
                pollfd p[2] = {{fd.Get(), POLLOUT, 0}, {m_wake.Fd(), POLLIN, 0}};
                int ready;
                while ((ready = ::poll(p, 2, RemainingMs(deadline))) < 0 && errno == EINTR)
                {
                }
                socklen_t length = sizeof error;
                if (ready > 0 && p[1].revents != 0)
                {
                    m_wake.Take();
                    return Fail(PortError::Cancelled, ECANCELED);
                }
                if (ready == 0)
                    error = ETIMEDOUT;
                else if (::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0)
                    error = errno;
            }
        }
        if (error != 0)
        {
            lastError = error;
            continue;
        }
        const int on = 1;
        ::setsockopt(fd.Get(), SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
        ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_KEEPIDLE, &kKeepIdleSeconds, sizeof(int));
        ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_KEEPINTVL, &kKeepIntervalSeconds, sizeof(int));
        ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_KEEPCNT, &kKeepProbes, sizeof(int));
        m_fd = fd.Release();
        return true;
    }
    PortError error = PortErrorFromErrno(lastError);
    if (error == PortError::None || error == PortError::Gone)
        error = PortError::Other;
    return Fail(error, lastError);
}

bool SocketDevice::Bind(const SourceAddress& source, const OpenLimits& limits)
{
    std::vector<ResolvedAddress> addresses;
    if (source.host.empty())
    {
        // One IPv6 socket that also takes IPv4 (as mapped addresses) listens on both; a
        // system without IPv6 gets the IPv4 wildcard alone.
        ResolvedAddress any6;
        auto& in6 = reinterpret_cast<sockaddr_in6&>(any6.address);
        in6.sin6_family = AF_INET6;
        in6.sin6_port = htons(source.port);
        in6.sin6_addr = in6addr_any;
        any6.family = AF_INET6;
        any6.length = sizeof(sockaddr_in6);
        ResolvedAddress any4;
        auto& in4 = reinterpret_cast<sockaddr_in&>(any4.address);
        in4.sin_family = AF_INET;
        in4.sin_port = htons(source.port);
        in4.sin_addr.s_addr = htonl(INADDR_ANY);
        any4.family = AF_INET;
        any4.length = sizeof(sockaddr_in);
        addresses = {any6, any4};
    }
    else
    {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_DGRAM;
        hints.ai_flags = AI_PASSIVE;
        if (!LookUpHost(source.host, source.port, hints, limits.lookupMs, addresses))
            return false;
    }

    std::vector<int> fds;
    // Whatever was bound goes again if a later address fails.
    struct Bound
    {
        std::vector<int>& fds;
        ~Bound()
        {
            for (int fd : fds)
                ::close(fd);
        }
    } bound{fds};
    std::vector<ResolvedAddress> done;
    int lastError = EADDRNOTAVAIL;
    for (const ResolvedAddress& a : addresses)
    {
        const auto same = [&](const ResolvedAddress& b)
        { return b.length == a.length && std::memcmp(&b.address, &a.address, a.length) == 0; };
        if (fds.size() == kMaxListeners || std::any_of(done.begin(), done.end(), same))
            continue;
        if (source.host.empty() && !fds.empty())
            break; // the dual-stack wildcard already covers IPv4
        Descriptor fd(::socket(a.family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (fd.Get() < 0)
        {
            lastError = errno;
            if (lastError == EAFNOSUPPORT)
                continue; // no IPv6 here
            return Fail(PortErrorFromErrno(lastError), lastError);
        }
        // Other listeners of a multiplexer's broadcast (a chart plotter, say) share the port.
        const int on = 1;
        ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (a.family == AF_INET6)
        {
            // The wildcard takes both families; a named host's IPv4 address has its own socket.
            const int v6Only = source.host.empty() ? 0 : 1;
            ::setsockopt(fd.Get(), IPPROTO_IPV6, IPV6_V6ONLY, &v6Only, sizeof v6Only);
        }
        if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&a.address), a.length) != 0)
        {
            lastError = errno;
            // An address this computer does not have (IPv6 switched off) is passed over.
            if (lastError == EADDRNOTAVAIL || lastError == EAFNOSUPPORT)
                continue;
            return Fail(PortErrorFromErrno(lastError), lastError);
        }
        done.push_back(a);
        fds.push_back(fd.Release());
    }
    if (fds.empty())
        return Fail(lastError == EADDRNOTAVAIL ? PortError::HostNotFound
                                               : PortErrorFromErrno(lastError),
                    lastError);
    m_pDatagram = std::make_unique<char[]>(kDatagramCapacity + 2);
    m_nDatagramAt = m_nDatagramEnd = 0;
    m_fd = fds.front();
    m_otherFds.assign(fds.begin() + 1, fds.end());
    fds.clear();
    return true;
}

bool SocketDevice::GreetGpsd(int timeoutMs)
{
    // gpsd greets every client with its VERSION line at once; anything else is not gpsd. The
    // banner's bytes are read as they come, so that a wait after part of it blocks until more
    // arrive; the rest of the line goes to the JSON filter with the stream.
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char banner[kGpsdBanner.size()];
    std::size_t have = 0;
    while (have < sizeof banner)
    {
        const Result ready = WaitReadable(RemainingMs(deadline));
        if (ready.status == Status::Woken)
            return Fail(PortError::Cancelled, ECANCELED);
        if (ready.status != Status::Done)
            return Fail(PortError::NotGpsd, ready.systemError);
        const ssize_t got = ::recv(m_fd, banner + have, sizeof banner - have, 0);
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (got <= 0)
            return Fail(PortError::NotGpsd, got < 0 ? errno : 0);
        const std::size_t count = static_cast<std::size_t>(got);
        if (std::string_view(banner + have, count) != kGpsdBanner.substr(have, count))
            return Fail(PortError::NotGpsd, 0);
        have += count;
    }
    m_filter.Filter(banner, have);
    const std::string_view request(kWatchRequest);
    const Result sent = Write(request.data(), request.size(), RemainingMs(deadline));
    if (sent.status == Status::Woken)
        return Fail(PortError::Cancelled, ECANCELED);
    if (sent.status != Status::Done || sent.count != request.size())
        return Fail(PortError::NotGpsd, sent.systemError);
    return true;
}

void SocketDevice::Close()
{
    // The wake-up stays: it belongs to the object, so that Wake is safe at any time.
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    for (int fd : m_otherFds)
        ::close(fd);
    m_otherFds.clear();
    m_pDatagram.reset();
    m_nDatagramAt = m_nDatagramEnd = 0;
}

SocketDevice::Result SocketDevice::WaitReadable(int timeoutMs, int* readyFd)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (readyFd)
        *readyFd = m_fd;
    if (m_otherFds.empty())
        return WaitReadableOrWoken(m_fd, m_wake, deadline);
    pollfd fds[kMaxListeners + 1];
    const std::size_t count = m_otherFds.size() + 2;
    fds[0] = {m_wake.Fd(), POLLIN, 0};
    fds[1] = {m_fd, POLLIN, 0};
    for (std::size_t i = 0; i < m_otherFds.size(); ++i)
        fds[i + 2] = {m_otherFds[i], POLLIN, 0};
    for (;;)
    {
        const int ready = ::poll(fds, count, RemainingMs(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return {Status::Failed, 0, errno};
        if (ready == 0)
            return {Status::TimedOut, 0, 0};
        if (fds[0].revents != 0)
        {
            m_wake.Take();
            return {Status::Woken, 0, 0};
        }
        for (std::size_t i = 1; i < count; ++i)
            if (fds[i].revents != 0)
            {
                if (readyFd)
                    *readyFd = fds[i].fd;
                return {Status::Done, 0, 0};
            }
    }
}

SocketDevice::Result SocketDevice::Read(void* buffer, std::size_t size, int timeoutMs)
{
    if (m_fd < 0)
        return {Status::Failed, 0, EBADF};
    if (m_kind == SourceAddress::Kind::Udp)
        return ReadDatagram(static_cast<char*>(buffer), size, timeoutMs);
    return ReadStream(static_cast<char*>(buffer), size, timeoutMs);
}

SocketDevice::Result SocketDevice::ReadStream(char* buffer, std::size_t size, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;)
    {
        const Result ready = WaitReadable(RemainingMs(deadline));
        if (ready.status != Status::Done)
            return ready;
        const ssize_t got = ::recv(m_fd, buffer, size, 0);
        if (got == 0)
            return {Status::Gone, 0, ECONNRESET}; // the peer closed the connection
        if (got < 0)
        {
            const int error = errno;
            if (error == EINTR || error == EAGAIN)
                continue;
            return {IsGone(error) ? Status::Gone : Status::Failed, 0, error};
        }
        std::size_t count = static_cast<std::size_t>(got);
        if (m_kind == SourceAddress::Kind::Gpsd)
            count = m_filter.Filter(buffer, count);
        if (count > 0)
            return {Status::Done, count, 0};
        if (RemainingMs(deadline) == 0)
            return {Status::TimedOut, 0, 0};
    }
}

SocketDevice::Result SocketDevice::ReadDatagram(char* buffer, std::size_t size, int timeoutMs)
{
    if (m_nDatagramAt == m_nDatagramEnd)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;)
        {
            int fd = m_fd;
            const Result ready = WaitReadable(RemainingMs(deadline), &fd);
            if (ready.status != Status::Done)
                return ready;
            const ssize_t got = ::recv(fd, m_pDatagram.get(), kDatagramCapacity, 0);
            if (got < 0)
            {
                const int error = errno;
                if (error == EINTR || error == EAGAIN)
                    continue;
                return {Status::Failed, 0, error};
            }
            if (got == 0)
                continue; // an empty datagram carries no line
            std::size_t end = static_cast<std::size_t>(got);
            // A datagram ends its last line with CR LF: the next datagram's bytes never join
            // it, and a bare LF or CR is completed as if nothing ended it.
            if (m_pDatagram[end - 1] == '\n')
                --end;
            if (end > 0 && m_pDatagram[end - 1] == '\r')
                --end;
            m_pDatagram[end++] = '\r';
            m_pDatagram[end++] = '\n';
            m_nDatagramAt = 0;
            m_nDatagramEnd = end;
            break;
        }
    }
    const std::size_t count = std::min(size, m_nDatagramEnd - m_nDatagramAt);
    std::memcpy(buffer, m_pDatagram.get() + m_nDatagramAt, count);
    m_nDatagramAt += count;
    return {Status::Done, count, 0};
}

SocketDevice::Result SocketDevice::Write(const void* bytes, std::size_t size, int timeoutMs)
{
    if (m_fd < 0 || m_kind == SourceAddress::Kind::Udp)
        return {Status::Failed, 0, m_fd < 0 ? EBADF : EOPNOTSUPP};
    // MSG_NOSIGNAL: a peer that has gone makes this fail with EPIPE, not kill the program.
    return WriteWithin(
        m_fd, m_wake, Clock::now() + std::chrono::milliseconds(timeoutMs),
        [&] { return ::send(m_fd, bytes, size, MSG_NOSIGNAL | MSG_DONTWAIT); }, IsGone);
}

void SocketDevice::Purge(bool input, bool /*output*/)
{
    // A socket keeps no output of ours once sent; what is left of a datagram is dropped.
    if (input)
        m_nDatagramAt = m_nDatagramEnd;
}
