// Receivers on the network through the real device: a TCP server and a UDP sender on
// 127.0.0.1 play the receiver; the lines come out of the same ring and queue as a serial
// port's.
#include "gps/GPSDevice.h"
#include "gps/NmeaFraming.h"

#include "support/Counter.h"
#include "support/Files.h"
#include "support/LoopbackPeers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace std::chrono_literals;
using loopback::TcpServer;
using loopback::UdpSender;

namespace
{

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
    std::string line;
    while (lines.size() < count && std::chrono::steady_clock::now() < deadline)
    {
        if (device.PopLine(line))
            lines.push_back(line);
        else
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
    EXPECT_FALSE(device.Write(CGPSDevice::kHotStartCommand.data(), CGPSDevice::kRestartCommandLength));
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
    for (std::string_view command : {CGPSDevice::kHotStartCommand, CGPSDevice::kWarmStartCommand,
                                     CGPSDevice::kColdStartCommand})
    {
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
        {"empty datagram between", {kGga, "", kRmc}, {kGga, kRmc}},
        {"longer than a read", {kGga + kRmc + kGsa + kGga + kRmc}, {kGga, kRmc, kGsa, kGga, kRmc}},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        const std::uint16_t port = loopback::FreePort(SOCK_DGRAM);
        CGPSDevice device;
        ASSERT_TRUE(device.OpenPort(UdpSource(port), 4800));
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
    const std::uint16_t port = loopback::FreePort(SOCK_DGRAM);
    CGPSDevice device;
    ASSERT_TRUE(device.OpenPort(UdpSource(port), 4800));
    EXPECT_FALSE(device.AcceptsWrites());
    EXPECT_FALSE(device.Write(CGPSDevice::kHotStartCommand.data(), CGPSDevice::kRestartCommandLength));

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
    const std::uint16_t port = loopback::FreePort(SOCK_DGRAM);
    CGPSDevice device;
    Counter notified;
    boost::signals2::scoped_connection connection =
        device.ConnectNotification([&](int) { notified.Raise(); });
    ASSERT_TRUE(device.OpenPort(UdpSource(port), 4800));

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
    std::string line;
    while (device.PopLine(line))
    {
    }
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
    const std::uint16_t closedPort = loopback::FreePort(SOCK_STREAM);
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
    const std::uint16_t port = loopback::FreePort(SOCK_DGRAM);
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
    EXPECT_TRUE(bound());
    device.Close();
    EXPECT_FALSE(bound());
    // Reopening after a close finds the port free again.
    ASSERT_TRUE(device.OpenPort(UdpSource(port), 4800));
    device.Close();
}
