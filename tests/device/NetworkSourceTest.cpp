// Receivers on the network through the real device: a TCP server and a UDP sender on
// loopback play the receiver; the lines come out of the same ring and queue as a serial
// port's. Opening is taken step by step on the socket itself, with names looked up by a
// resolver of the test's own.
#include "support/DeviceLines.h"
#include "device/GPSDevice.h"
#include "gps/NmeaFraming.h"
#include "net/SocketDevice.h"
#include "receiver/ReceiverCommands.h"

#include "support/Counter.h"
#include "support/Files.h"
#include "support/LoopbackPeers.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <time.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <thread>

using namespace std::chrono_literals;
using loopback::TcpServer;
using loopback::UdpSender;

namespace
{

// A command as the restart items send it while the receiver is unknown.
const std::string kHotStart = RestartCommand(ReceiverFamily::Unknown, RestartKind::Hot).value_or("");

// Checksum-valid lines of several captures: what the queue must hand out, in this order.
std::vector<std::string> ValidCaptureLines(std::string& bytes)
{
    std::vector<std::string> valid;
    for (const char* name : {"haicom-305N.nmea", "neo-m8n.nmea", "sirfstarv-nmea.nmea"})
        for (const std::string& line : CaptureLines(name))
        {
            bytes += line;
            if (IsChecksumValid(line))
                valid.push_back(line);
        }
    return valid;
}

// Pops until `count` lines have come or the time runs out.
std::vector<std::string> PopLines(CGPSDevice& device, std::size_t count,
                                  std::chrono::milliseconds limit = 30s)
{
    std::vector<std::string> lines;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (lines.size() < count && std::chrono::steady_clock::now() < deadline)
    {
        const std::vector<std::string> taken = PopTexts(device);
        lines.insert(lines.end(), taken.begin(), taken.end());
        if (taken.empty())
            std::this_thread::sleep_for(1ms);
    }
    return lines;
}

std::wstring UdpSource(std::uint16_t port)
{
    return L"udp://127.0.0.1:" + std::to_wstring(port);
}

const std::string kGga = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
const std::string kRmc =
    "$GPRMC,185244.000,A,4854.2575,N,00219.9816,E,0.00,296.61,210706,,,A*6C\r\n";
const std::string kGsa = "$GPGSA,A,3,14,01,30,06,09,,,,,,,,2.8,1.7,2.2*36\r\n";
const std::string kBanner = "{\"class\":\"VERSION\",\"release\":\"3.22\",\"proto_major\":3}\r\n";

ResolvedAddress Loopback4(std::uint16_t port)
{
    ResolvedAddress a;
    a.family = AF_INET;
    const sockaddr_in in = loopback::Address(port);
    std::memcpy(&a.address, &in, sizeof in);
    a.length = sizeof in;
    return a;
}

ResolvedAddress Loopback6(std::uint16_t port)
{
    ResolvedAddress a;
    a.family = AF_INET6;
    sockaddr_in6 in6{};
    in6.sin6_family = AF_INET6;
    in6.sin6_port = htons(port);
    in6.sin6_addr = in6addr_loopback;
    std::memcpy(&a.address, &in6, sizeof in6);
    a.length = sizeof in6;
    return a;
}

// Answers every name with `addresses` after `delay`, or with `status` when it is not 0.
Resolver FakeResolver(std::vector<ResolvedAddress> addresses, std::chrono::milliseconds delay = 0ms,
                      int status = 0, Counter* asked = nullptr)
{
    return [=](const std::string&, const std::string&, const addrinfo&)
    {
        if (asked)
            asked->Raise();
        std::this_thread::sleep_for(delay);
        ResolverAnswer answer;
        answer.status = status;
        if (status == 0)
            answer.addresses = addresses;
        return answer;
    };
}

double ThreadCpuMs()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

} // namespace

TEST(TcpSource, LinesComeInOrderAndNoneIsLost)
{
    std::string bytes;
    const std::vector<std::string> expected = ValidCaptureLines(bytes);
    ASSERT_GT(expected.size(), 800u);

    TcpServer server;
    ASSERT_NE(server.Port(), 0);
    CGPSDevice device;
    ASSERT_TRUE(device.OpenPort(server.Source(), 4800));
    EXPECT_TRUE(device.AcceptsWrites());
    ASSERT_TRUE(server.Accept());

    // Pieces of every size a segment may bring, cut anywhere, lines split across them.
    std::atomic<bool> sent{true};
    std::thread sender(
        [&]
        {
            std::size_t piece = 1;
            for (std::size_t at = 0; at < bytes.size(); at += piece)
            {
                piece = 1 + (at * 31 + 7) % 1500;
                sent = sent.load() && server.Send(std::string_view(bytes).substr(at, piece));
            }
        });
    const std::vector<std::string> received = PopLines(device, expected.size());
    sender.join();
    EXPECT_TRUE(sent);
    EXPECT_EQ(received, expected);
}

TEST(TcpSource, ServerClosingMidStreamStopsThePortAsAnUnplugDoes)
{
    TcpServer server;
    CGPSDevice device;
    Counter stopped;
    boost::signals2::scoped_connection connection =
        device.ConnectStoppedNotification([&] { stopped.Raise(); });
    ASSERT_TRUE(device.OpenPort(server.Source(), 4800));
    ASSERT_TRUE(server.Accept());

    // The last line is cut off by the close: it never comes out.
    ASSERT_TRUE(server.Send(kGga + kRmc + kGsa.substr(0, 20)));
    EXPECT_EQ(PopLines(device, 2), (std::vector<std::string>{kGga, kRmc}));
    server.CloseClient();

    ASSERT_TRUE(stopped.WaitFor(1));
    EXPECT_TRUE(device.HasStoppedOnItsOwn());
    EXPECT_FALSE(device.Write(kHotStart.data(), kHotStart.size()));
    EXPECT_EQ(device.QueuedLineCount(), 0u);
    device.Close();
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(stopped.Value(), 1);
}

TEST(TcpSource, RestartCommandsAreWrittenToTheSocket)
{
    TcpServer server;
    CGPSDevice device;
    ASSERT_TRUE(device.OpenPort(server.Source(), 4800));
    ASSERT_TRUE(server.Accept());
    for (const RestartKind kind : {RestartKind::Hot, RestartKind::Warm, RestartKind::Cold})
    {
        const std::string command = RestartCommand(ReceiverFamily::Unknown, kind).value_or("");
        ASSERT_TRUE(device.Write(command.data(), command.size()));
        EXPECT_EQ(server.Receive(command.size()), command);
    }
    // Nothing else was sent: no greeting, no request.
    EXPECT_EQ(server.Receive(1, 300ms), "");
}

TEST(UdpSource, EachDatagramsLinesComeInOrder)
{
    // Datagrams as multiplexers send them; a datagram ends its last line, so a sentence
    // without CR LF is not glued to the next datagram's first.
    const struct
    {
        const char* name;
        std::vector<std::string> datagrams;
        std::vector<std::string> lines;
    } rows[] = {
        {"one sentence each", {kGga, kRmc}, {kGga, kRmc}},
        {"several in one", {kGga + kRmc + kGsa}, {kGga, kRmc, kGsa}},
        {"no line end", {kGga.substr(0, kGga.size() - 2), kRmc}, {kGga, kRmc}},
        {"only LF missing", {kGga.substr(0, kGga.size() - 1), kRmc}, {kGga, kRmc}},
        {"bare LF", {kGga.substr(0, kGga.size() - 2) + "\n", kRmc}, {kGga, kRmc}},
        {"bare LF after several", {kGga + kRmc.substr(0, kRmc.size() - 2) + "\n", kGsa}, {kGga, kRmc, kGsa}},
        {"empty datagram between", {kGga, "", kRmc}, {kGga, kRmc}},
        {"longer than a read", {kGga + kRmc + kGsa + kGga + kRmc}, {kGga, kRmc, kGsa, kGga, kRmc}},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        loopback::ReservedPort reserved(SOCK_DGRAM);
        const std::uint16_t port = reserved.Port();
        CGPSDevice device;
        ASSERT_TRUE(device.OpenPort(UdpSource(port), 4800));
        reserved.Release();
        UdpSender sender;
        for (const std::string& datagram : row.datagrams)
            ASSERT_TRUE(sender.Send(port, datagram));
        EXPECT_EQ(PopLines(device, row.lines.size()), row.lines);
        EXPECT_EQ(PopLines(device, 1, 100ms), std::vector<std::string>{});
    }
}

TEST(UdpSource, ManyDatagramsNoneLostAndNothingToSend)
{
    std::string bytes;
    const std::vector<std::string> expected = ValidCaptureLines(bytes);
    loopback::ReservedPort reserved(SOCK_DGRAM);
    const std::uint16_t port = reserved.Port();
    CGPSDevice device;
    ASSERT_TRUE(device.OpenPort(UdpSource(port), 4800));
    reserved.Release();
    EXPECT_FALSE(device.AcceptsWrites());
    EXPECT_FALSE(device.Write(kHotStart.data(), kHotStart.size()));

    // Three lines a datagram, sent in bursts the socket's queue holds whole.
    UdpSender sender;
    std::vector<std::string> received;
    for (std::size_t at = 0; at < expected.size();)
    {
        const std::size_t burstEnd = std::min(expected.size(), at + 60);
        for (; at < burstEnd; at += 3)
        {
            std::string datagram;
            for (std::size_t i = at; i < std::min(burstEnd, at + 3); ++i)
                datagram += expected[i];
            ASSERT_TRUE(sender.Send(port, datagram));
        }
        const std::vector<std::string> burst = PopLines(device, burstEnd - received.size());
        received.insert(received.end(), burst.begin(), burst.end());
        ASSERT_EQ(received.size(), burstEnd);
    }
    EXPECT_EQ(received, expected);
}

TEST(UdpSource, FloodWithNoOneTakingLinesKeepsTheQueueBounded)
{
    loopback::ReservedPort reserved(SOCK_DGRAM);
    const std::uint16_t port = reserved.Port();
    CGPSDevice device;
    Counter notified;
    boost::signals2::scoped_connection connection =
        device.ConnectNotification([&](int) { notified.Raise(); });
    ASSERT_TRUE(device.OpenPort(UdpSource(port), 4800));
    reserved.Release();

    UdpSender sender;
    const std::string datagram = kGga + kRmc + kGsa + kGga + kRmc + kGsa;
    // Far more than the queue holds, as fast as the sender can: the reader fills the queue and
    // then waits, and what the kernel's queue cannot hold is dropped.
    const int kFull = static_cast<int>(CGPSDevice::kMaxQueuedLines);
    for (int i = 0; i < 100000 && notified.Value() < kFull + 600; ++i)
    {
        ASSERT_TRUE(sender.Send(port, datagram));
        if (i % 100 == 99)
            std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(notified.WaitFor(kFull));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(device.QueuedLineCount(), CGPSDevice::kMaxQueuedLines);

    // Taking lines lets the reader go on: a datagram sent now still comes through.
    PopTexts(device);
    const int before = notified.Value();
    const std::string marker = "$GPTXT,01,01,02,marker*4F\r\n";
    ASSERT_TRUE(IsChecksumValid(marker));
    bool bSeen = false;
    for (int attempt = 0; attempt < 50 && !bSeen; ++attempt)
    {
        ASSERT_TRUE(sender.Send(port, marker));
        for (const std::string& got : PopLines(device, 1000, 200ms))
            bSeen = bSeen || got == marker;
    }
    EXPECT_TRUE(bSeen);
    EXPECT_GT(notified.Value(), before);
    EXPECT_LE(device.QueuedLineCount(), CGPSDevice::kMaxQueuedLines);
    device.Close();
}

TEST(NetworkOpen, FailuresSayWhy)
{
    const loopback::ReservedPort refusing(SOCK_STREAM);
    const std::uint16_t closedPort = refusing.Port();
    // Something that answers but is not gpsd: it greets with a line of its own.
    TcpServer other;
    std::thread greeter(
        [&]
        {
            if (other.Accept())
                other.Send("220 hello\r\n");
        });
    const std::wstring closed = std::to_wstring(closedPort);
    const struct
    {
        std::wstring source;
        PortError error;
    } rows[] = {
        {L"tcp://127.0.0.1:" + closed, PortError::ConnectionRefused},
        {L"gpsd://127.0.0.1:" + closed, PortError::ConnectionRefused},
        {L"gpsd://127.0.0.1:" + std::to_wstring(other.Port()), PortError::NotGpsd},
        {L"tcp://127.0.0.1", PortError::BadAddress},
        {L"tcp://:4000", PortError::BadAddress},
        {L"TCP://127.0.0.1:99999", PortError::BadAddress},
        {L"udp://127.0.0.1:port", PortError::BadAddress},
        {L"gpsd://[::1", PortError::BadAddress},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(std::string(row.source.begin(), row.source.end()));
        CGPSDevice device;
        EXPECT_FALSE(device.OpenPort(row.source, 4800));
        EXPECT_EQ(device.LastOpenError(), row.error);
        EXPECT_FALSE(device.IsOpen());
    }
    greeter.join();
}

TEST(NetworkOpen, OnlyTheTypedUdpPortIsBoundAndOnlyWhileOpen)
{
    loopback::ReservedPort reserved(SOCK_DGRAM);
    const std::uint16_t port = reserved.Port();
    const auto bound = [&]
    {
        const int probe = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const sockaddr_in address = loopback::Address(port);
        const bool taken =
            ::bind(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0;
        ::close(probe);
        return taken;
    };
    CGPSDevice device;
    ASSERT_TRUE(device.OpenPort(UdpSource(port), 4800));
    reserved.Release();
    EXPECT_TRUE(bound());
    device.Close();
    EXPECT_FALSE(bound());
    // Reopening after a close finds the port free again.
    ASSERT_TRUE(device.OpenPort(UdpSource(port), 4800));
    device.Close();
}

TEST(UdpSource, NoHostListensOnIpv4AndIpv6AndANameOnEachOfItsAddresses)
{
    loopback::ReservedPort reserved(SOCK_DGRAM);
    const std::uint16_t port = reserved.Port();
    {
        CGPSDevice device;
        ASSERT_TRUE(device.OpenPort(L"udp://:" + std::to_wstring(port), 4800));
        reserved.Release();
        UdpSender v4;
        UdpSender v6(AF_INET6);
        ASSERT_TRUE(v4.Send(port, kGga));
        EXPECT_EQ(PopLines(device, 1), std::vector<std::string>{kGga});
        ASSERT_TRUE(v6.Send(port, kRmc));
        EXPECT_EQ(PopLines(device, 1), std::vector<std::string>{kRmc});
    }

    // "localhost" as a resolver may answer it: ::1 first, then 127.0.0.1 (twice, as
    // getaddrinfo does for several socket types).
    SocketDevice socket;
    socket.SetResolver(FakeResolver({Loopback6(port), Loopback4(port), Loopback4(port)}));
    ASSERT_TRUE(socket.Open({SourceAddress::Kind::Udp, "localhost", port}));
    UdpSender v4;
    UdpSender v6(AF_INET6);
    std::string received;
    char buffer[256];
    for (const auto& [sender, line] : {std::pair{&v4, kGga}, std::pair{&v6, kRmc}, std::pair{&v4, kGsa}})
    {
        ASSERT_TRUE(sender->Send(port, line));
        const ByteDevice::Result read = socket.Read(buffer, sizeof buffer, 20000);
        ASSERT_EQ(read.status, ByteDevice::Status::Done);
        received.append(buffer, read.count);
    }
    EXPECT_EQ(received, kGga + kRmc + kGsa);
}

TEST(NetworkOpen, EachStepHasItsOwnTimeAndAPartialGreetingIsWaitedForWithoutSpinning)
{
    using loopback::GreetingPeer;
    const loopback::ReservedPort refusing(SOCK_STREAM);
    const std::uint16_t refused = refusing.Port();
    loopback::SilentListener silent;
    TcpServer listening;
    GreetingPeer pieces({kBanner.substr(0, 5), kBanner.substr(5, 9), kBanner.substr(14)}, GreetingPeer::After::Hold, 150ms);
    GreetingPeer half({kBanner.substr(0, 10)}, GreetingPeer::After::Hold);
    GreetingPeer halfThenGone({kBanner.substr(0, 10)}, GreetingPeer::After::HangUp);
    GreetingPeer mute({}, GreetingPeer::After::Hold);
    GreetingPeer gone({}, GreetingPeer::After::HangUp);
    GreetingPeer late({"", kBanner}, GreetingPeer::After::Hold, 200ms);
    using Kind = SourceAddress::Kind;
    const struct
    {
        const char* name;
        Kind kind;
        std::vector<ResolvedAddress> addresses;
        std::chrono::milliseconds lookupDelay;
        int lookupStatus;
        OpenLimits limits;
        PortError error;
        int systemError;
    } rows[] = {
        {"banner in pieces", Kind::Gpsd, {Loopback4(pieces.Port())}, 0ms, 0, {2000, 2000, 5000}, PortError::None, 0},
        {"half a banner, then silence", Kind::Gpsd, {Loopback4(half.Port())}, 0ms, 0, {2000, 2000, 600}, PortError::NotGpsd, 0},
        {"half a banner, then hang-up", Kind::Gpsd, {Loopback4(halfThenGone.Port())}, 0ms, 0, {2000, 2000, 5000}, PortError::NotGpsd, 0},
        {"accepts, never greets", Kind::Gpsd, {Loopback4(mute.Port())}, 0ms, 0, {2000, 2000, 300}, PortError::NotGpsd, 0},
        {"accepts and hangs up", Kind::Gpsd, {Loopback4(gone.Port())}, 0ms, 0, {2000, 2000, 5000}, PortError::NotGpsd, 0},
        // A lookup that takes most of its time leaves the greeting all of its own.
        {"slow lookup, late banner", Kind::Gpsd, {Loopback4(late.Port())}, 400ms, 0, {1000, 300, 600}, PortError::None, 0},
        {"connection never completes", Kind::Tcp, {Loopback4(silent.Port())}, 0ms, 0, {2000, 300, 2000}, PortError::NoAnswer, ETIMEDOUT},
        {"first refuses, second listens", Kind::Tcp, {Loopback4(refused), Loopback4(listening.Port())}, 0ms, 0, {2000, 300, 2000}, PortError::None, 0},
        {"lookup out of time", Kind::Tcp, {Loopback4(listening.Port())}, 1500ms, 0, {200, 2000, 2000}, PortError::HostNotFound, ETIMEDOUT},
        {"name not found", Kind::Tcp, {}, 0ms, EAI_NONAME, {2000, 2000, 2000}, PortError::HostNotFound, 0},
        {"name with no address", Kind::Udp, {}, 0ms, 0, {2000, 2000, 2000}, PortError::HostNotFound, 0},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        SocketDevice socket;
        socket.SetResolver(FakeResolver(row.addresses, row.lookupDelay, row.lookupStatus));
        const auto wall = std::chrono::steady_clock::now();
        const double cpu = ThreadCpuMs();
        const bool opened = socket.Open({row.kind, "receiver.test", 2947}, row.limits);
        const double cpuMs = ThreadCpuMs() - cpu;
        const double wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wall).count();
        EXPECT_EQ(opened, row.error == PortError::None);
        EXPECT_EQ(socket.LastError(), row.error);
        EXPECT_EQ(socket.LastSystemError(), row.systemError);
        EXPECT_EQ(socket.IsOpen(), opened);
        // Waiting sleeps: a wait that returned at once on bytes already peeked used a core.
        EXPECT_LT(cpuMs, 50 + wallMs / 10) << "of " << wallMs << " ms";
    }

    // A first address that does not answer (a broken IPv6 route) leaves the next its own time:
    // here the second drops the first SYN and answers the one the kernel resends a second later.
    {
        loopback::SilentListener second;
        SocketDevice socket;
        socket.SetResolver(FakeResolver({Loopback4(silent.Port()), Loopback4(second.Port())}));
        std::thread release(
            [&]
            {
                std::this_thread::sleep_for(2800ms);
                second.Release();
            });
        EXPECT_TRUE(socket.Open({Kind::Tcp, "receiver.test", 2947}, {2000, 2500, 2000}));
        release.join();
    }

    // After a banner in pieces, what follows it is the stream, its JSON left out.
    TcpServer gpsd;
    SocketDevice socket;
    socket.SetResolver(FakeResolver({Loopback4(gpsd.Port())}));
    std::thread greeter(
        [&]
        {
            if (!gpsd.Accept() || !gpsd.Send(kBanner.substr(0, 7)))
                return;
            std::this_thread::sleep_for(50ms);
            gpsd.Send(kBanner.substr(7) + kGga);
        });
    ASSERT_TRUE(socket.Open({Kind::Gpsd, "receiver.test", 2947}, {2000, 2000, 5000}));
    greeter.join();
    EXPECT_EQ(gpsd.Receive(std::strlen(SocketDevice::kWatchRequest)), SocketDevice::kWatchRequest);
    std::string stream;
    char buffer[256];
    while (stream.size() < kGga.size())
    {
        const ByteDevice::Result read = socket.Read(buffer, sizeof buffer, 20000);
        ASSERT_EQ(read.status, ByteDevice::Status::Done);
        stream.append(buffer, read.count);
    }
    EXPECT_EQ(stream, kGga);
}

TEST(NetworkOpen, AWakeEndsEveryStepAtOnce)
{
    loopback::SilentListener silent;
    TcpServer mute;
    Counter asked;
    using Kind = SourceAddress::Kind;
    const struct
    {
        const char* name;
        Kind kind;
        Resolver resolver;
        // Returns once the open has reached the step to be cut short.
        std::function<void()> reached;
    } rows[] = {
        {"lookup", Kind::Tcp, FakeResolver({Loopback4(mute.Port())}, 60s, 0, &asked), [&] { ASSERT_TRUE(asked.WaitFor(1)); }},
        {"connect", Kind::Tcp, FakeResolver({Loopback4(silent.Port())}), [] { std::this_thread::sleep_for(100ms); }},
        {"greeting", Kind::Gpsd, FakeResolver({Loopback4(mute.Port())}), [&] { ASSERT_TRUE(mute.Accept()); }},
        {"before the open", Kind::Tcp, FakeResolver({Loopback4(silent.Port())}), {}},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        SocketDevice socket;
        socket.SetResolver(row.resolver);
        if (!row.reached)
            socket.Wake();
        // Limits long enough that only the wake can end the open before the suite's own time-out.
        std::thread opener([&] { socket.Open({row.kind, "receiver.test", 2947}, {120000, 120000, 120000}); });
        if (row.reached)
        {
            row.reached();
            socket.Wake();
        }
        opener.join();
        EXPECT_EQ(socket.LastError(), PortError::Cancelled);
        EXPECT_FALSE(socket.IsOpen());
        mute.CloseClient();
    }
}
