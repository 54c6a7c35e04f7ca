#pragma once

// The other ends of network sources, on 127.0.0.1 only: a TCP server that plays the receiver,
// a listener that never completes a connection, a peer that greets and then holds or hangs up,
// a UDP sender, and a real gpsd run on a free port in a temporary folder.

#include "support/Child.h"
#include "support/TempFolder.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace loopback
{

inline sockaddr_in Address(std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A port of 127.0.0.1 held for the test: bound to the kernel's choice, so that no other test
// running beside it is given the port, and never listened on, so that a connection to it is
// refused. The code under test may bind the same port beside it (both allow reuse): release it
// once that is done, so that datagrams go to the code alone.
class ReservedPort
{
public:
    explicit ReservedPort(int type) : m_fd(::socket(AF_INET, type | SOCK_CLOEXEC, 0))
    {
        const int on = 1;
        sockaddr_in address = Address(0);
        socklen_t length = sizeof address;
        if (m_fd >= 0 && ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
            ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            m_port = ntohs(address.sin_port);
    }
    ~ReservedPort() { Release(); }
    ReservedPort(const ReservedPort&) = delete;
    ReservedPort& operator=(const ReservedPort&) = delete;

    // 0 if no port could be had.
    std::uint16_t Port() const { return m_port; }
    void Release()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
    std::uint16_t m_port = 0;
};

// Listens on a free port of 127.0.0.1 and serves one client at a time.
class TcpServer
{
public:
    TcpServer()
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = Address(0);
        socklen_t length = sizeof address;
        if (m_listen < 0 ||
            ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_listen, 4) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
    }
    ~TcpServer()
    {
        CloseClient();
        if (m_listen >= 0)
            ::close(m_listen);
    }
    TcpServer(const TcpServer&) = delete;
    TcpServer& operator=(const TcpServer&) = delete;

    std::uint16_t Port() const { return m_port; }
    std::wstring Source() const { return L"tcp://127.0.0.1:" + std::to_wstring(m_port); }

    bool Accept(std::chrono::milliseconds limit = std::chrono::seconds(20))
    {
        pollfd p{m_listen, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(limit.count())) != 1)
            return false;
        m_client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        return m_client >= 0;
    }
    // Every byte, blocking while the client's window is full.
    bool Send(std::string_view bytes)
    {
        while (!bytes.empty())
        {
            const ssize_t put = ::send(m_client, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (put <= 0)
                return false;
            bytes.remove_prefix(static_cast<std::size_t>(put));
        }
        return true;
    }
    // Reads until `count` bytes have come, the client closes or the time runs out.
    std::string Receive(std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(20))
    {
        std::string bytes;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (bytes.size() < count)
        {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{m_client, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) != 1)
                break;
            char buffer[512];
            const ssize_t got = ::recv(m_client, buffer, sizeof buffer, 0);
            if (got <= 0)
                break;
            bytes.append(buffer, static_cast<std::size_t>(got));
        }
        return bytes;
    }
    void CloseClient()
    {
        if (m_client >= 0)
            ::close(m_client);
        m_client = -1;
    }

private:
    int m_listen = -1;
    int m_client = -1;
    std::uint16_t m_port = 0;
};

// A port whose connections never complete: its accept queue (length 0) is held full by one
// connection nobody accepts, so the kernel drops every further SYN, as a host behind a broken
// route would.
class SilentListener
{
public:
    SilentListener()
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = Address(0);
        socklen_t length = sizeof address;
        if (m_listen < 0 ||
            ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_listen, 0) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        m_filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_filler >= 0 &&
            ::connect(m_filler, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            m_port = ntohs(address.sin_port);
    }
    ~SilentListener()
    {
        for (int fd : {m_accepted, m_filler, m_listen})
            if (fd >= 0)
                ::close(fd);
    }
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;

    std::uint16_t Port() const { return m_port; }
    // Takes the waiting connection off the queue: a SYN sent from now on is answered.
    bool Release()
    {
        m_accepted = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        return m_accepted >= 0;
    }

private:
    int m_listen = -1;
    int m_filler = -1;
    int m_accepted = -1;
    std::uint16_t m_port = 0;
};

// Accepts one client, sends `greeting` (in pieces `pause` apart, if there are several), then
// holds the connection open until destroyed, or hangs up at once.
class GreetingPeer
{
public:
    enum class After
    {
        Hold,
        HangUp
    };

    GreetingPeer(std::vector<std::string> pieces, After after,
                 std::chrono::milliseconds pause = std::chrono::milliseconds(0))
        : m_thread(
              [this, pieces = std::move(pieces), after, pause]
              {
                  if (!m_server.Accept())
                      return;
                  for (std::size_t i = 0; i < pieces.size(); ++i)
                  {
                      if (i > 0)
                          std::this_thread::sleep_for(pause);
                      m_server.Send(pieces[i]);
                  }
                  if (after == After::HangUp)
                      m_server.CloseClient();
              })
    {
    }
    ~GreetingPeer()
    {
        // A client that never came: a connection of our own ends the wait for it.
        if (m_thread.joinable())
        {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const sockaddr_in address = Address(m_server.Port());
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
            m_thread.join();
            ::close(fd);
        }
    }
    GreetingPeer(const GreetingPeer&) = delete;
    GreetingPeer& operator=(const GreetingPeer&) = delete;

    std::uint16_t Port() const { return m_server.Port(); }

private:
    TcpServer m_server;
    std::thread m_thread;
};

// Sends from 127.0.0.1, or from ::1 when made for AF_INET6.
class UdpSender
{
public:
    explicit UdpSender(int family = AF_INET)
        : m_fd(::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0)), m_family(family)
    {
    }
    ~UdpSender()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    UdpSender(const UdpSender&) = delete;
    UdpSender& operator=(const UdpSender&) = delete;

    bool Send(std::uint16_t port, std::string_view datagram)
    {
        sockaddr_in6 address6{};
        address6.sin6_family = AF_INET6;
        address6.sin6_port = htons(port);
        address6.sin6_addr = in6addr_loopback;
        const sockaddr_in address = Address(port);
        const bool v6 = m_family == AF_INET6;
        return ::sendto(m_fd, datagram.data(), datagram.size(), 0,
                        v6 ? reinterpret_cast<const sockaddr*>(&address6)
                           : reinterpret_cast<const sockaddr*>(&address),
                        v6 ? sizeof address6 : sizeof address) ==
               static_cast<ssize_t>(datagram.size());
    }

private:
    int m_fd;
    int m_family;
};

// gpsd in the foreground on a loopback port held for it, reading `devicePath` from the start,
// with its control socket in a temporary folder; never the system's service. Stopped with the
// object.
class Gpsd
{
public:
    static constexpr const char* kProgram = "/usr/sbin/gpsd";

    static bool IsInstalled() { return ::access(kProgram, X_OK) == 0; }

    // gpsd does not hunt for the speed of a pseudo-terminal: it is told the simulator's, as a
    // real line needs the receiver's.
    Gpsd(const std::string& devicePath, int speed) : m_folder("orvane-gpsd")
    {
        const std::string control = (m_folder.Path() / "control.sock").string();
        if (m_port.Port() != 0)
            m_gpsd.Start({kProgram, "-N", "-n", "-s", std::to_string(speed), "-S", std::to_string(m_port.Port()),
                          "-F", control, devicePath},
                         Child::Options{{}, Child::Output::Discard, false});
    }
    ~Gpsd()
    {
        // Asked to end, it removes its control socket before the folder goes.
        m_gpsd.Signal(SIGTERM);
        m_gpsd.Wait(10);
    }
    Gpsd(const Gpsd&) = delete;
    Gpsd& operator=(const Gpsd&) = delete;

    std::uint16_t Port() const { return m_port.Port(); }
    std::wstring Source() const { return L"gpsd://127.0.0.1:" + std::to_wstring(Port()); }

    // Polls until gpsd accepts connections on its port.
    bool WaitUntilListening(std::chrono::milliseconds limit = std::chrono::seconds(20)) const
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (m_gpsd.Pid() > 0 && std::chrono::steady_clock::now() < deadline)
        {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const sockaddr_in address = Address(Port());
            const bool connected =
                ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
            ::close(fd);
            if (connected)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

private:
    TempFolder m_folder;
    // Held while gpsd runs: it listens beside the bound socket, and no one else gets the port.
    ReservedPort m_port{SOCK_STREAM};
    Child m_gpsd;
};

} // namespace loopback
