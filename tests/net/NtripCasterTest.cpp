// The NTRIP client against a real caster: RTKLIB's str2str serving the corpus's RTCM3 stream,
// fed by a small TCP server that also reads what str2str relays back from its clients.
#include "net/NtripClient.h"

#include "NtripTestSupport.h"
#include "support/Child.h"
#include "support/LoopbackPeers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <mutex>
#include <thread>

namespace
{

constexpr const char* kStr2str = "str2str";
const std::string kFix = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";

// str2str as a caster with one mountpoint, MNT, for user:pass. Its input is a TCP server of
// ours that plays `stream` over and over and keeps what comes back (the clients' GGA, with -b 1).
class Str2strCaster
{
public:
    explicit Str2strCaster(std::string stream)
        : m_stream(std::move(stream)), m_feeder([this] { Feed(); })
    {
        if (m_port.Port() == 0 || m_input.Port() == 0)
            return;
        m_caster.Start({kStr2str, "-in", "tcpcli://127.0.0.1:" + std::to_string(m_input.Port()), "-out",
                        "ntripc://user:pass@:" + std::to_string(m_port.Port()) + "/MNT", "-b", "1"},
                       Child::Options{{}, Child::Output::Discard, false});
    }
    ~Str2strCaster()
    {
        // str2str may take seconds to end on SIGTERM while a client has just left; it keeps no
        // state worth a clean end here.
        m_caster.Signal(SIGKILL);
        m_caster.Wait(10);
        m_bStop = true;
        m_feeder.join();
    }

    std::uint16_t Port() const { return m_port.Port(); }

    // Polls until str2str takes connections; false if it never does.
    bool WaitUntilListening() const
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (m_caster.Pid() > 0 && std::chrono::steady_clock::now() < deadline)
        {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const sockaddr_in address = loopback::Address(Port());
            const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
            ::close(fd);
            if (connected)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    // Waits until the bytes str2str relayed back hold `text`.
    bool WaitForReturn(const std::string& text)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline)
        {
            {
                std::lock_guard guard(m_lock);
                if (m_returned.find(text) != std::string::npos)
                    return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

private:
    void Feed()
    {
        if (!m_input.Accept(std::chrono::seconds(30)))
            return;
        // About 100 kB/s, in pieces that cut frames anywhere.
        std::size_t at = 0;
        while (!m_bStop)
        {
            const std::size_t size = std::min<std::size_t>(977, m_stream.size() - at);
            if (!m_input.Send(std::string_view(m_stream).substr(at, size)))
                return;
            at = (at + size) % m_stream.size();
            const std::string back = m_input.Receive(1, std::chrono::milliseconds(10));
            std::lock_guard guard(m_lock);
            m_returned += back;
        }
    }

    const std::string m_stream;
    loopback::ReservedPort m_port{SOCK_STREAM};
    loopback::TcpServer m_input;
    std::atomic<bool> m_bStop{false};
    std::mutex m_lock;
    std::string m_returned;
    Child m_caster;
    std::thread m_feeder;
};

NtripCaster Caster(std::uint16_t port, const std::string& password, const std::string& mountpoint)
{
    NtripCaster caster;
    caster.user = "user";
    caster.password = password;
    caster.host = "127.0.0.1";
    caster.port = port;
    caster.mountpoint = mountpoint;
    return caster;
}

NtripTimings NoRetry()
{
    NtripTimings timings;
    timings.firstRetryMs = 600000;
    timings.ggaEveryMs = 200;
    return timings;
}

class Str2strTest : public ::testing::TestWithParam<NtripVersion>
{
protected:
    void SetUp() override
    {
        if (!OnPath(kStr2str))
            GTEST_SKIP() << "str2str (Debian rtklib) is not installed";
    }
    static std::string Concatenated(const std::vector<std::string>& frames)
    {
        std::string all;
        for (const std::string& frame : frames)
            all += frame;
        return all;
    }
};

TEST_P(Str2strTest, FramesArriveWholeAndTheCasterSeesTheGga)
{
    // The corpus's frames alone, so that the loop joins frame to frame.
    const std::vector<std::string> frames = Rtcm3FramesOf(CorpusRtcm3Bytes());
    Str2strCaster caster(Concatenated(frames));
    ASSERT_TRUE(caster.WaitUntilListening());
    ClientLog log;
    NtripClient client(Caster(caster.Port(), "pass", "MNT"), GetParam(), log.Frames(), log.Statuses(), NoRetry());
    client.SetGga(kFix);
    ASSERT_TRUE(log.WaitForFrames(frames.size() + 5));

    // Byte for byte the corpus's frames, in order, from wherever the client came in.
    const std::vector<std::string> got = log.FramesSoFar();
    const auto first = std::find(frames.begin(), frames.end(), got.front());
    ASSERT_NE(first, frames.end());
    std::size_t index = static_cast<std::size_t>(first - frames.begin());
    for (std::size_t i = 0; i < got.size(); ++i, index = (index + 1) % frames.size())
        ASSERT_EQ(got[i], frames[index]) << "frame " << i;

    EXPECT_TRUE(caster.WaitForReturn(kFix));
}

TEST_P(Str2strTest, WrongPassword)
{
    Str2strCaster caster(CorpusRtcm3Bytes());
    ASSERT_TRUE(caster.WaitUntilListening());
    ClientLog log;
    NtripClient client(Caster(caster.Port(), "wrong", "MNT"), GetParam(), log.Frames(), log.Statuses(), NoRetry());
    EXPECT_EQ(log.FirstRetryReason(), "caster refused: 401 Unauthorized");
}

TEST_P(Str2strTest, UnknownMountpoint)
{
    Str2strCaster caster(CorpusRtcm3Bytes());
    ASSERT_TRUE(caster.WaitUntilListening());
    ClientLog log;
    NtripClient client(Caster(caster.Port(), "pass", "BNDM"), GetParam(), log.Frames(), log.Statuses(), NoRetry());
    EXPECT_EQ(log.FirstRetryReason(), "no mountpoint BNDM on this caster");
}

TEST_P(Str2strTest, Sourcetable)
{
    Str2strCaster caster(CorpusRtcm3Bytes());
    ASSERT_TRUE(caster.WaitUntilListening());
    SocketDevice socket;
    const SourcetableAnswer answer = FetchSourcetable(socket, Caster(caster.Port(), "pass", ""), GetParam());
    ASSERT_TRUE(answer.ok) << answer.reason;
    ASSERT_EQ(answer.streams.size(), 1u);
    EXPECT_EQ(answer.streams[0].mountpoint, "MNT");
}

INSTANTIATE_TEST_SUITE_P(Versions, Str2strTest, ::testing::Values(NtripVersion::V1, NtripVersion::V2),
                         [](const auto& info) { return info.param == NtripVersion::V1 ? "Ntrip1" : "Ntrip2"; });

} // namespace
