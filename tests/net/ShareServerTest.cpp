// The receiver shared over TCP: addresses, a client that never reads dropped while the others
// get every line, a ninth client refused, and a real gpsd reading the shared stream.
#include "net/ShareServer.h"

#include "support/Files.h"
#include "support/LoopbackPeers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>

namespace
{

struct ShareRow
{
    const char* text;
    bool ok;
    const char* host;
    std::uint16_t port;
};

class ShareAddressTest : public ::testing::TestWithParam<ShareRow>
{
};

TEST_P(ShareAddressTest, Parsed)
{
    const ShareRow& row = GetParam();
    const auto address = ParseShareAddress(row.text);
    ASSERT_EQ(address.has_value(), row.ok) << row.text;
    if (!row.ok)
        return;
    EXPECT_EQ(address->host, row.host);
    EXPECT_EQ(address->port, row.port);
}

INSTANTIATE_TEST_SUITE_P(Rows, ShareAddressTest,
                         ::testing::Values(ShareRow{"127.0.0.1:10110", true, "127.0.0.1", 10110},
                                           ShareRow{"10110", true, "127.0.0.1", 10110},
                                           ShareRow{":2000", true, "127.0.0.1", 2000},
                                           ShareRow{" 0.0.0.0:10110 ", true, "0.0.0.0", 10110},
                                           ShareRow{"[::1]:10110", true, "::1", 10110},
                                           ShareRow{"localhost:5000", true, "localhost", 5000},
                                           ShareRow{"", false, "", 0}, ShareRow{"host", false, "", 0},
                                           ShareRow{"127.0.0.1:0", false, "", 0},
                                           ShareRow{"127.0.0.1:99999", false, "", 0},
                                           ShareRow{"a b:10", false, "", 0}));

// A client of the server on 127.0.0.1; `receiveBuffer` small for one that is to fill up soon.
class ShareClient
{
public:
    explicit ShareClient(std::uint16_t port, int receiveBuffer = 0) : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        if (receiveBuffer > 0)
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        const sockaddr_in address = loopback::Address(port);
        m_bConnected = ::connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    ~ShareClient() { ::close(m_fd); }
    bool Connected() const { return m_bConnected; }

    // Reads what has come, waiting up to `limit` for the first byte; empty at the end.
    std::string Read(std::chrono::milliseconds limit = std::chrono::seconds(60))
    {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(limit.count())) != 1)
            return "(nothing)";
        char buffer[65536];
        const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, 0);
        return got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : std::string();
    }

private:
    int m_fd;
    bool m_bConnected = false;
};

// On loopback, on a port the system picks.
void Started(ShareServer& server)
{
    SourceAddress any;
    any.host = "127.0.0.1";
    any.port = 0;
    EXPECT_TRUE(server.Start(any)) << server.LastSystemError();
}

// Waits, as a hang guard only, until the server has taken `count` clients.
bool WaitForClients(const ShareServer& server, int count)
{
    for (int i = 0; i < 6000 && server.Clients() != count; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return server.Clients() == count;
}

TEST(ShareServer, NeverReadingClientDroppedOthersGetEveryLine)
{
    ShareServer server;
    Started(server);
    constexpr int kReaders = ShareServer::kMaxClients - 1;
    std::vector<std::unique_ptr<ShareClient>> readers;
    for (int i = 0; i < kReaders; ++i)
        readers.push_back(std::make_unique<ShareClient>(server.Port()));
    ShareClient stuck(server.Port(), 4096);
    ASSERT_TRUE(stuck.Connected());
    ASSERT_TRUE(WaitForClients(server, kReaders + 1));

    std::vector<std::string> received(kReaders);
    std::vector<std::atomic<std::size_t>> counts(kReaders);
    std::vector<std::thread> threads;
    for (int i = 0; i < kReaders; ++i)
        threads.emplace_back(
            [&, i]
            {
                for (;;)
                {
                    const std::string bytes = readers[i]->Read();
                    if (bytes.empty() || bytes == "(nothing)")
                        return;
                    received[i] += bytes;
                    counts[i] = received[i].size();
                }
            });

    // In steps the readers keep up with, until the one that never reads has been dropped:
    // what it missed is far more than its queue and its socket's buffers.
    std::string all;
    char line[96];
    for (int n = 0; server.Dropped() == 0 && n < 2000000; ++n)
    {
        std::snprintf(line, sizeof line, "$GPTXT,01,01,02,line %d of the shared stream*00\r\n", n);
        server.Publish(line);
        all += line;
        if (n % 200 == 199)
            for (const auto& count : counts)
                while (count.load() < all.size() && server.Dropped() <= 1)
                    std::this_thread::yield();
    }
    EXPECT_EQ(server.Dropped(), 1u);
    for (int n = 0; n < 100; ++n)
    {
        std::snprintf(line, sizeof line, "$GPTXT,01,01,02,after the drop %d*00\r\n", n);
        server.Publish(line);
        all += line;
    }
    EXPECT_TRUE(WaitForClients(server, kReaders));
    server.Stop(); // the readers see the end
    for (std::thread& t : threads)
        t.join();
    for (int i = 0; i < kReaders; ++i)
        EXPECT_TRUE(received[i] == all) << "reader " << i << " got " << received[i].size() << " of " << all.size();
    // The one that never read finds its stream cut short.
    std::string rest;
    for (std::string more = stuck.Read(); !more.empty() && more != "(nothing)"; more = stuck.Read())
        rest += more;
    EXPECT_LT(rest.size(), all.size());
}

TEST(ShareServer, NinthClientRefused)
{
    ShareServer server;
    Started(server);
    std::vector<std::unique_ptr<ShareClient>> clients;
    for (std::size_t i = 0; i < ShareServer::kMaxClients; ++i)
    {
        clients.push_back(std::make_unique<ShareClient>(server.Port()));
        ASSERT_TRUE(clients.back()->Connected());
    }
    ASSERT_TRUE(WaitForClients(server, static_cast<int>(ShareServer::kMaxClients)));
    ShareClient ninth(server.Port());
    ASSERT_TRUE(ninth.Connected()); // the kernel takes it; the server closes it at once
    EXPECT_EQ(ninth.Read(), "");
    EXPECT_EQ(server.Refused(), 1u);

    server.Publish("$GPTXT,01,01,02,to the eight*00\r\n");
    for (auto& client : clients)
        EXPECT_EQ(client->Read(), "$GPTXT,01,01,02,to the eight*00\r\n");

    // A place freed is taken again.
    clients.pop_back();
    ASSERT_TRUE(WaitForClients(server, static_cast<int>(ShareServer::kMaxClients) - 1));
    ShareClient again(server.Port());
    ASSERT_TRUE(WaitForClients(server, static_cast<int>(ShareServer::kMaxClients)));
    server.Publish("$GPTXT,01,01,02,again*00\r\n");
    EXPECT_EQ(again.Read(), "$GPTXT,01,01,02,again*00\r\n");
}

TEST(ShareServer, AddressInUseRefused)
{
    ShareServer first;
    Started(first);
    ShareServer second;
    SourceAddress same;
    same.host = "127.0.0.1";
    same.port = first.Port();
    EXPECT_FALSE(second.Start(same));
    EXPECT_EQ(second.LastSystemError(), EADDRINUSE);
}

// gpsd reads the shared stream as it reads any NMEA source over TCP, and reports its fix.
TEST(ShareServer, GpsdReportsTheSharedFix)
{
    if (!loopback::Gpsd::IsInstalled())
        GTEST_SKIP() << "gpsd is not installed";
    const std::vector<std::string> lines = CaptureLines("neo-m8n.nmea");
    ShareServer server;
    Started(server);
    std::atomic<bool> stop{false};
    std::thread receiver(
        [&]
        {
            // The capture, over and over, about as fast as a receiver at 10 Hz.
            for (std::size_t i = 0; !stop; i = (i + 1) % lines.size())
            {
                server.Publish(lines[i]);
                if (lines[i].find("GGA") != std::string::npos)
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
    loopback::Gpsd gpsd("tcp://127.0.0.1:" + std::to_string(server.Port()), 9600);
    std::string report;
    if (gpsd.WaitUntilListening())
    {
        const std::string request = "?WATCH={\"enable\":true,\"json\":true}\n";
        std::string all;
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in address = loopback::Address(gpsd.Port());
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
            ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size()))
        {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (report.empty() && std::chrono::steady_clock::now() < deadline)
            {
                pollfd p{fd, POLLIN, 0};
                if (::poll(&p, 1, 1000) != 1)
                    continue;
                char buffer[4096];
                const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
                if (got <= 0)
                    break;
                all.append(buffer, static_cast<std::size_t>(got));
                for (std::size_t at = all.find("{\"class\":\"TPV\""); at != std::string::npos;
                     at = all.find("{\"class\":\"TPV\"", at + 1))
                {
                    const std::size_t end = all.find('\n', at);
                    const std::string tpv = all.substr(at, end - at);
                    if (end != std::string::npos && tpv.find("\"mode\":3") != std::string::npos &&
                        tpv.find("\"lat\":") != std::string::npos)
                        report = tpv;
                }
            }
        }
        ::close(fd);
    }
    stop = true;
    receiver.join();
    ASSERT_FALSE(report.empty()) << "gpsd reported no 3D fix";
    // 44°04.14' N, 121°18.85' W, as the capture's GGA says.
    const std::size_t lat = report.find("\"lat\":");
    const std::size_t lon = report.find("\"lon\":");
    ASSERT_NE(lat, std::string::npos) << report;
    ASSERT_NE(lon, std::string::npos) << report;
    EXPECT_NEAR(std::stod(report.substr(lat + 6)), 44.069, 0.001) << report;
    EXPECT_NEAR(std::stod(report.substr(lon + 6)), -121.314, 0.001) << report;
}

} // namespace
