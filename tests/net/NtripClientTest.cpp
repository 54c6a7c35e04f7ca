// The NTRIP client against a caster played on loopback: what each refusal is called, the
// frames of a chunked stream handed over whole, the GGA sent only with a fix, the backoff.
#include "net/NtripClient.h"

#include "NtripTestSupport.h"
#include "support/LoopbackPeers.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <atomic>
#include <cstdio>
#include <thread>

namespace
{

using loopback::TcpServer;

NtripCaster Bndm(std::uint16_t port)
{
    return CasterAt(port, "hunter2", "BNDM");
}

// Quick waits, and no second try within a test.
NtripTimings Quick()
{
    NtripTimings timings;
    timings.firstRetryMs = 600000;
    timings.longestRetryMs = 600000;
    timings.answerMs = 500;
    return timings;
}

// The request's head, as the caster reads it.
std::string ReadHead(TcpServer& server)
{
    std::string head;
    while (head.find("\r\n\r\n") == std::string::npos)
    {
        const std::string more = server.Receive(1);
        if (more.empty())
            break;
        head += more;
    }
    return head;
}

// A caster that answers the first client with `answer`, then holds or hangs up.
class ScriptedCaster
{
public:
    ScriptedCaster(std::string answer, bool hangUp)
        : m_thread(
              [this, answer = std::move(answer), hangUp]
              {
                  if (!m_server.Accept())
                      return;
                  m_head = ReadHead(m_server);
                  m_server.Send(answer);
                  if (hangUp)
                      m_server.CloseClient();
                  else
                      m_server.Receive(1 << 20, std::chrono::seconds(30)); // until the client goes
              })
    {
    }
    ~ScriptedCaster() { m_thread.join(); }
    std::uint16_t Port() const { return m_server.Port(); }
    // Once the client is gone.
    const std::string& Head() const { return m_head; }

private:
    TcpServer m_server;
    std::string m_head;
    std::thread m_thread;
};

struct RefusalRow
{
    std::string name;
    std::string answer;
    bool hangUp;
    std::string reason;
};

class NtripRefusalTest : public ::testing::TestWithParam<RefusalRow>
{
};

TEST_P(NtripRefusalTest, ReasonShown)
{
    const RefusalRow& row = GetParam();
    ScriptedCaster caster(row.answer, row.hangUp);
    ClientLog log;
    {
        NtripClient client(Bndm(caster.Port()), NtripVersion::V2, log.Frames(), log.Statuses(), Quick());
        EXPECT_EQ(log.FirstRetryReason(), row.reason);
    }
    EXPECT_EQ(log.StatusesSoFar().front().state, NtripStatus::State::Connecting);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NtripRefusalTest,
    ::testing::Values(
        RefusalRow{"WrongPassword1", "HTTP/1.0 401 Unauthorized\r\n\r\n", true, "caster refused: 401 Unauthorized"},
        RefusalRow{"WrongPassword2", "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic\r\n\r\n", false,
                   "caster refused: 401 Unauthorized"},
        RefusalRow{"UnknownMountpoint1",
                   "SOURCETABLE 200 OK\r\nContent-Type: text/plain\r\n\r\nSTR;OTHER;\r\nENDSOURCETABLE\r\n", true,
                   "no mountpoint BNDM on this caster"},
        RefusalRow{"UnknownMountpoint2", "HTTP/1.1 404 Not Found\r\n\r\n", false, "no mountpoint BNDM on this caster"},
        RefusalRow{"Forbidden", "HTTP/1.1 403 Forbidden\r\n\r\n", true, "caster refused: 403 Forbidden"},
        RefusalRow{"NoAnswer", "", false, "caster not answering"},
        RefusalRow{"HangsUp", "", true, "caster not answering"},
        RefusalRow{"NotACaster", "220 smtp.example ESMTP\r\n", false, "caster not answering"},
        RefusalRow{"StreamEnds", "ICY 200 OK\r\n", true, "caster not answering"}),
    [](const auto& info) { return info.param.name; });

TEST(NtripClient, PasswordInNoStatus)
{
    ScriptedCaster caster("HTTP/1.0 401 Unauthorized\r\n\r\n", true);
    ClientLog log;
    {
        NtripClient client(Bndm(caster.Port()), NtripVersion::V1, log.Frames(), log.Statuses(), Quick());
        log.FirstRetryReason();
    }
    for (const NtripStatus& status : log.StatusesSoFar())
        EXPECT_EQ(status.reason.find("hunter2"), std::string::npos) << status.reason;
    EXPECT_NE(caster.Head().find("Authorization: Basic " + Base64("user:hunter2") + "\r\n"), std::string::npos)
        << caster.Head();
}

TEST(NtripClient, ChunkedStreamGivesEveryFrameWhole)
{
    const std::string stream = CorpusRtcm3Bytes();
    const std::vector<std::string> expected = Rtcm3FramesOf(stream);
    ASSERT_GT(expected.size(), 50u);

    TcpServer server;
    std::string head;
    std::thread caster(
        [&]
        {
            if (!server.Accept())
                return;
            head = ReadHead(server);
            server.Send("HTTP/1.1 200 OK\r\nNtrip-Version: Ntrip/2.0\r\nTransfer-Encoding: chunked\r\n\r\n");
            // Chunks of every size from 1 to 97 bytes, cutting frames anywhere.
            std::size_t at = 0;
            for (std::size_t size = 1; at < stream.size(); size = size % 97 + 1)
            {
                const std::string piece = stream.substr(at, size);
                char hex[16];
                std::snprintf(hex, sizeof hex, "%zx\r\n", piece.size());
                server.Send(hex + piece + "\r\n");
                at += piece.size();
            }
            server.Receive(1 << 20, std::chrono::seconds(30));
        });
    ClientLog log;
    {
        NtripClient client(Bndm(server.Port()), NtripVersion::V2, log.Frames(), log.Statuses(), Quick());
        EXPECT_TRUE(log.WaitForFrames(expected.size()));
        EXPECT_EQ(client.FramesDelivered(), expected.size());
        EXPECT_EQ(client.BytesReceived(), stream.size());
    }
    caster.join();
    EXPECT_EQ(log.FramesSoFar(), expected);
    EXPECT_TRUE(head.starts_with("GET /BNDM HTTP/1.1\r\n")) << head;
    EXPECT_NE(head.find("Ntrip-Version: Ntrip/2.0\r\n"), std::string::npos) << head;
    const auto streaming = log.StatusesSoFar();
    ASSERT_GE(streaming.size(), 2u);
    EXPECT_EQ(streaming[1].state, NtripStatus::State::Streaming);
}

TEST(NtripClient, GgaOnlyWithAFix)
{
    const std::string noFix = "$GPGGA,123519,,,,,0,00,99.9,,M,,M,,*7C\r\n";
    const std::string fix = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
    const std::vector<std::string> frames = Rtcm3FramesOf(CorpusRtcm3Bytes());
    ASSERT_GE(frames.size(), 2u);

    TcpServer server;
    std::atomic<int> step{0};
    std::string sent;
    std::thread caster(
        [&]
        {
            if (!server.Accept())
                return;
            ReadHead(server);
            server.Send("ICY 200 OK\r\n" + frames[0]);
            while (step.load() < 1)
                std::this_thread::yield();
            server.Send(frames[1]);
            // Whatever the client sends from here on, up to two GGAs' worth.
            sent = server.Receive(2 * fix.size());
        });
    ClientLog log;
    NtripTimings timings = Quick();
    timings.ggaEveryMs = 1;
    {
        NtripClient client(Bndm(server.Port()), NtripVersion::V1, log.Frames(), log.Statuses(), timings);
        client.SetGga(noFix);
        EXPECT_TRUE(log.WaitForFrames(1));
        step = 1;
        EXPECT_TRUE(log.WaitForFrames(2));
        EXPECT_EQ(client.GgasSent(), 0u);
        client.SetGga(fix);
        caster.join();
        EXPECT_GE(client.GgasSent(), 2u);
    }
    EXPECT_EQ(sent.substr(0, 2 * fix.size()), fix + fix) << "a GGA without a fix went to the caster";
}

TEST(NtripClient, WaitsDoubleUpToTheLongest)
{
    loopback::ReservedPort refused(SOCK_STREAM); // bound, never listening: connections refused
    ASSERT_NE(refused.Port(), 0);
    NtripTimings timings = Quick();
    timings.firstRetryMs = 10;
    timings.longestRetryMs = 40;
    ClientLog log;
    std::vector<int> waits;
    {
        NtripClient client(Bndm(refused.Port()), NtripVersion::V2, log.Frames(), log.Statuses(), timings);
        log.WaitFor(
            [&](const auto&, const std::vector<NtripStatus>& statuses)
            {
                waits.clear();
                for (const NtripStatus& s : statuses)
                    if (s.state == NtripStatus::State::Retrying)
                    {
                        waits.push_back(s.retryInMs);
                        EXPECT_EQ(s.reason, "caster not answering");
                    }
                return waits.size() >= 5;
            });
    }
    waits.resize(5);
    EXPECT_EQ(waits, (std::vector<int>{10, 20, 40, 40, 40}));
}

TEST(NtripClient, SourcetableFetched)
{
    ScriptedCaster caster("SOURCETABLE 200 OK\r\nServer: test\r\n\r\n"
                          "STR;FAR;Far;RTCM 3.2;;2;GPS;N;AUS;-33.9;151.2;0;\r\n"
                          "STR;NEAR;Near;RTCM 3.2;;2;GPS;N;DEU;52.6;13.4;1;\r\n"
                          "ENDSOURCETABLE\r\n",
                          false);
    SocketDevice socket;
    const SourcetableAnswer answer = FetchSourcetable(socket, CasterAt(caster.Port(), "hunter2", "IGNORED"), NtripVersion::V1, Quick());
    ASSERT_TRUE(answer.ok) << answer.reason;
    ASSERT_EQ(answer.streams.size(), 2u);
    EXPECT_EQ(answer.streams[1].mountpoint, "NEAR");
    EXPECT_FALSE(socket.IsOpen());
    socket.Close();
}

} // namespace
