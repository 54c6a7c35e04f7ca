#include "net/ShareServer.h"

#include "net/AddressLookup.h"
#include "util/UniqueFd.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace
{
// A host name is looked up in the shared, bounded pool; so long at most.
constexpr int kLookupMs = 10000;
constexpr int kBacklog = 16;
} // namespace

struct ShareServer::Client
{
    UniqueFd fd;
    std::string queue;
    std::size_t sent = 0; // bytes of `queue` already written
    bool bDropped = false;
};

std::optional<SourceAddress> ParseShareAddress(std::string_view text)
{
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    SourceAddress address;
    address.kind = SourceAddress::Kind::Tcp;
    std::optional<std::uint16_t> port;
    if (text.empty() || !ParseHostAndPort(text, address.host, port))
        return std::nullopt;
    if (!port)
    {
        // A bare number is a port on loopback, the safe default.
        if (!ParseHostAndPort(":" + address.host, address.host, port) || !port)
            return std::nullopt;
        address.host = "127.0.0.1";
    }
    if (address.host.empty())
        address.host = "127.0.0.1";
    address.port = *port;
    return address;
}

ShareServer::ShareServer()
{
    m_wake.Open();
}

ShareServer::~ShareServer()
{
    Stop();
}

bool ShareServer::Start(const SourceAddress& address)
{
    Stop();
    m_lastSystemError = 0;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    std::vector<ResolvedAddress> addresses;
    WakeEvent never;
    never.Open();
    if (LookUp(SystemResolve, address.host, std::to_string(address.port), hints, kLookupMs, never, addresses) !=
        LookupStatus::Done)
    {
        m_lastSystemError = EADDRNOTAVAIL;
        return false;
    }
    for (const ResolvedAddress& a : addresses)
    {
        UniqueFd fd(::socket(a.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        const int on = 1;
        if (!fd.Valid() || ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
            ::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&a.address), a.length) != 0 ||
            ::listen(fd.Get(), kBacklog) != 0)
        {
            m_lastSystemError = errno;
            continue;
        }
        sockaddr_storage bound{};
        socklen_t length = sizeof bound;
        ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&bound), &length);
        m_port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(bound).sin6_port
                                                   : reinterpret_cast<sockaddr_in&>(bound).sin_port);
        m_listen = std::move(fd);
        break;
    }
    if (!m_listen.Valid())
        return false;
    m_bStopping = false;
    m_thread = std::thread([this] { Run(); });
    return true;
}

void ShareServer::Stop()
{
    if (m_thread.joinable())
    {
        m_bStopping = true;
        m_wake.Signal();
        m_thread.join();
    }
    m_listen.Reset();
    m_port = 0;
    std::lock_guard guard(m_lock);
    m_clients.clear();
}

int ShareServer::Clients() const
{
    std::lock_guard guard(m_lock);
    return static_cast<int>(m_clients.size());
}

void ShareServer::Publish(std::string_view line)
{
    bool bQueued = false;
    {
        std::lock_guard guard(m_lock);
        for (const auto& client : m_clients)
        {
            if (client->bDropped)
                continue;
            if (client->queue.size() - client->sent + line.size() > kQueueBytes)
            {
                // It has not read for too long: dropped, so that no one waits for it.
                client->bDropped = true;
                ++m_nDropped;
                bQueued = true;
                continue;
            }
            client->queue.append(line);
            bQueued = true;
        }
    }
    if (bQueued)
        m_wake.Signal();
}

void ShareServer::Accept()
{
    for (;;)
    {
        UniqueFd fd(::accept4(m_listen.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!fd.Valid())
            return;
        std::lock_guard guard(m_lock);
        if (m_clients.size() >= kMaxClients)
        {
            ++m_nRefused; // closed as it goes out of scope
            continue;
        }
        auto client = std::make_unique<Client>();
        client->fd = std::move(fd);
        m_clients.push_back(std::move(client));
    }
}

bool ShareServer::Flush(Client& client)
{
    while (client.sent < client.queue.size())
    {
        const ssize_t put = ::send(client.fd.Get(), client.queue.data() + client.sent, client.queue.size() - client.sent,
                                   MSG_NOSIGNAL | MSG_DONTWAIT);
        if (put < 0)
        {
            if (errno != EAGAIN && errno != EINTR)
                return false;
            break;
        }
        client.sent += static_cast<std::size_t>(put);
    }
    // What went out leaves the queue, so that a client that reads slowly but always keeps it
    // within its bound.
    client.queue.erase(0, client.sent);
    client.sent = 0;
    return true;
}

void ShareServer::Run()
{
    std::vector<pollfd> fds;
    while (!m_bStopping)
    {
        fds.clear();
        fds.push_back({m_wake.Fd(), POLLIN, 0});
        fds.push_back({m_listen.Get(), POLLIN, 0});
        {
            std::lock_guard guard(m_lock);
            for (const auto& client : m_clients)
                fds.push_back({client->fd.Get(),
                               static_cast<short>(POLLIN | (client->sent < client->queue.size() ? POLLOUT : 0)), 0});
        }
        if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
            break;
        if (fds[0].revents != 0)
            m_wake.Take();
        if (fds[1].revents != 0)
            Accept();

        std::lock_guard guard(m_lock);
        for (auto& client : m_clients)
        {
            const auto polled = std::find_if(fds.begin() + 2, fds.end(),
                                             [&](const pollfd& p) { return p.fd == client->fd.Get(); });
            if (polled != fds.end() && (polled->revents & (POLLIN | POLLHUP | POLLERR)) != 0)
            {
                // What a client sends is not for the receiver: read and forgotten.
                char scratch[1024];
                const ssize_t got = ::recv(client->fd.Get(), scratch, sizeof scratch, MSG_DONTWAIT);
                if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR))
                    client->bDropped = true;
            }
            if (!client->bDropped && !Flush(*client))
                client->bDropped = true;
        }
        const auto gone = std::remove_if(m_clients.begin(), m_clients.end(),
                                         [](const auto& client) { return client->bDropped; });
        m_clients.erase(gone, m_clients.end());
    }
}
