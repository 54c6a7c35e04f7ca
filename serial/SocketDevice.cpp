// Sockets for the receivers that are not serial ports. Every socket call stays here, beside
// the serial device's termios calls, so the reader loop above both is the same.
#include "serial/SocketDevice.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
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

struct AddressList
{
    addrinfo* pList = nullptr;
    ~AddressList()
    {
        if (pList)
            ::freeaddrinfo(pList);
    }
};

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

bool SocketDevice::Open(const SourceAddress& source, int timeoutMs)
{
    if (IsOpen())
        return Fail(PortError::Busy, EBUSY);
    m_lastError = PortError::None;
    m_lastSystemError = 0;
    m_kind = source.kind;
    m_filter = GpsdJsonFilter{};
    if (!m_wake.Open())
        return Fail(PortError::Other, errno);

    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (source.kind == SourceAddress::Kind::Udp)
        return Bind(source);
    if (!Connect(source, timeoutMs))
        return false;
    if (source.kind == SourceAddress::Kind::Gpsd)
        return GreetGpsd(RemainingMs(deadline));
    return true;
}

bool SocketDevice::Connect(const SourceAddress& source, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    AddressList addresses;
    const std::string port = std::to_string(source.port);
    if (::getaddrinfo(source.host.c_str(), port.c_str(), &hints, &addresses.pList) != 0 ||
        !addresses.pList)
        return Fail(PortError::HostNotFound, 0);

    int lastError = ECONNREFUSED;
    for (const addrinfo* a = addresses.pList; a; a = a->ai_next)
    {
        Descriptor fd(::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                               a->ai_protocol));
        if (fd.Get() < 0)
        {
            lastError = errno;
            continue;
        }
        int error = 0;
        if (::connect(fd.Get(), a->ai_addr, a->ai_addrlen) != 0)
        {
            error = errno;
            if (error == EINPROGRESS)
            {
                pollfd p{fd.Get(), POLLOUT, 0};
                int ready;
                while ((ready = ::poll(&p, 1, RemainingMs(deadline))) < 0 && errno == EINTR)
                {
                }
                socklen_t length = sizeof error;
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

bool SocketDevice::Bind(const SourceAddress& source)
{
    addrinfo hints{};
    hints.ai_family = source.host.empty() ? AF_INET : AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_PASSIVE;
    AddressList addresses;
    const std::string port = std::to_string(source.port);
    if (::getaddrinfo(source.host.empty() ? nullptr : source.host.c_str(), port.c_str(), &hints,
                      &addresses.pList) != 0 ||
        !addresses.pList)
        return Fail(PortError::HostNotFound, 0);

    const addrinfo* a = addresses.pList;
    Descriptor fd(
        ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol));
    if (fd.Get() < 0)
        return Fail(PortErrorFromErrno(errno), errno);
    // Other listeners of a multiplexer's broadcast (a chart plotter, say) share the port.
    const int on = 1;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd.Get(), a->ai_addr, a->ai_addrlen) != 0)
    {
        const int error = errno;
        return Fail(error == EADDRNOTAVAIL ? PortError::HostNotFound : PortErrorFromErrno(error),
                    error);
    }
    m_pDatagram = std::make_unique<char[]>(kDatagramCapacity + 2);
    m_nDatagramAt = m_nDatagramEnd = 0;
    m_fd = fd.Release();
    return true;
}

bool SocketDevice::GreetGpsd(int timeoutMs)
{
    // gpsd greets every client with its VERSION line at once; anything else is not gpsd. The
    // greeting is only peeked at: the JSON filter drops it with the rest.
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char banner[kGpsdBanner.size()];
    for (;;)
    {
        const Result ready = WaitReadable(RemainingMs(deadline));
        if (ready.status != Status::Done)
            return Fail(PortError::NotGpsd, ready.systemError);
        const ssize_t got = ::recv(m_fd, banner, sizeof banner, MSG_PEEK);
        if (got <= 0 && !(got < 0 && (errno == EAGAIN || errno == EINTR)))
            return Fail(PortError::NotGpsd, got < 0 ? errno : 0);
        if (got > 0 && std::string_view(banner, got) != kGpsdBanner.substr(0, got))
            return Fail(PortError::NotGpsd, 0);
        if (got == static_cast<ssize_t>(sizeof banner))
            break;
        if (RemainingMs(deadline) == 0)
            return Fail(PortError::NotGpsd, 0);
    }
    const std::string_view request(kWatchRequest);
    const Result sent = Write(request.data(), request.size(), RemainingMs(deadline));
    if (sent.status != Status::Done || sent.count != request.size())
        return Fail(PortError::NotGpsd, sent.systemError);
    return true;
}

void SocketDevice::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_wake.Close();
    m_pDatagram.reset();
    m_nDatagramAt = m_nDatagramEnd = 0;
}

SocketDevice::Result SocketDevice::WaitReadable(int timeoutMs)
{
    return WaitReadableOrWoken(m_fd, m_wake, Clock::now() + std::chrono::milliseconds(timeoutMs));
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
            const Result ready = WaitReadable(RemainingMs(deadline));
            if (ready.status != Status::Done)
                return ready;
            const ssize_t got = ::recv(m_fd, m_pDatagram.get(), kDatagramCapacity, 0);
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
            // A datagram ends its last line: the next datagram's bytes never join it.
            if (m_pDatagram[end - 1] != '\n')
            {
                if (m_pDatagram[end - 1] != '\r')
                    m_pDatagram[end++] = '\r';
                m_pDatagram[end++] = '\n';
            }
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
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;)
    {
        // MSG_NOSIGNAL: a peer that has gone makes this fail with EPIPE, not kill the program.
        const ssize_t put = ::send(m_fd, bytes, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (put > 0)
            return {Status::Done, static_cast<std::size_t>(put), 0};
        const int error = put == 0 ? EAGAIN : errno;
        if (error == EINTR)
            continue;
        if (error != EAGAIN)
            return {IsGone(error) ? Status::Gone : Status::Failed, 0, error};
        const int remaining = RemainingMs(deadline);
        if (remaining == 0)
            return {Status::TimedOut, 0, 0};
        pollfd fds[2] = {{m_fd, POLLOUT, 0}, {m_wake.Fd(), POLLIN, 0}};
        const int ready = ::poll(fds, 2, remaining);
        if (ready == 0)
            return {Status::TimedOut, 0, 0};
        if (ready > 0 && fds[1].revents != 0)
            return {Status::Woken, 0, 0};
    }
}

void SocketDevice::Purge(bool input, bool /*output*/)
{
    // A socket keeps no output of ours once sent; what is left of a datagram is dropped.
    if (input)
        m_nDatagramAt = m_nDatagramEnd;
}
