// The simulated receiver on a pseudo-terminal, read by a real gpsd on a free loopback port,
// watched through gpsd://: what gpsd relays is the simulator's own sentences, and the serial
// port gpsd holds is refused with gpsd named.
#include "support/DeviceLines.h"
#include "device/GPSDevice.h"
#include "gps/NmeaFraming.h"
#include "tools/gpssim/SessionThread.h"
#include "support/LoopbackPeers.h"
#include "tools/gpssim/CycleSource.h"
#include "tools/gpssim/PseudoTerminal.h"
#include "util/WideText.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

using namespace std::chrono;

namespace
{

SimConfig Config(std::uint32_t seed)
{
    SimConfig config;
    config.seed = seed;
    config.baud = 38400;
    return config;
}

std::chrono::system_clock::time_point RealUtc()
{
    return std::chrono::system_clock::now();
}

// The simulator behind its terminal, its sentences kept as it sends them.
class Receiver
{
public:
    explicit Receiver(std::uint32_t seed) : m_source(Config(seed), RealUtc)
    {
        std::string error;
        m_bOpen = m_terminal.Open(38400, error);
        m_pSession = std::make_unique<SimSession>(m_terminal.MasterFd(), m_source, 38400);
        m_pSession->SetStayAfterHangup(true);
        m_pSession->SetCycleObserver(
            [this](std::string_view bytes)
            {
                std::lock_guard guard(m_lock);
                for (std::size_t at = 0; at < bytes.size();)
                {
                    const std::size_t end = std::min(bytes.find('\n', at), bytes.size() - 1);
                    m_lines.emplace_back(bytes.substr(at, end + 1 - at));
                    at = end + 1;
                }
            });
        m_pThread = std::make_unique<SessionThread>(*m_pSession);
    }
    ~Receiver() { m_pThread.reset(); }

    bool IsOpen() const { return m_bOpen; }
    const std::string& Path() const { return m_terminal.SlavePath(); }
    std::vector<std::string> Sent()
    {
        std::lock_guard guard(m_lock);
        return m_lines;
    }

private:
    PseudoTerminal m_terminal;
    GeneratedSource m_source;
    bool m_bOpen = false;
    std::unique_ptr<SimSession> m_pSession;
    std::unique_ptr<SessionThread> m_pThread;
    std::mutex m_lock;
    std::vector<std::string> m_lines;
};

// True when every line of `part` is in `whole`, in the same order.
bool IsInOrderWithin(const std::vector<std::string>& part, const std::vector<std::string>& whole)
{
    std::size_t at = 0;
    for (const std::string& line : part)
    {
        while (at < whole.size() && whole[at] != line)
            ++at;
        if (at == whole.size())
            return false;
        ++at;
    }
    return true;
}

SourceAddress GpsdAt(std::uint16_t port)
{
    return {SourceAddress::Kind::Gpsd, "127.0.0.1", port};
}

} // namespace

TEST(Gpsd, WatchedThroughGpsdTheLinesAreTheSimulatorsSentences)
{
    if (!loopback::Gpsd::IsInstalled())
        GTEST_SKIP() << "gpsd is not installed (scripts/deps.sh installs it)";
    Receiver receiver(21);
    ASSERT_TRUE(receiver.IsOpen());
    loopback::Gpsd gpsd(receiver.Path(), 38400);
    ASSERT_TRUE(gpsd.WaitUntilListening());

    CGPSDevice device;
    ASSERT_TRUE(device.OpenPort(gpsd.Source(), 4800));
    // gpsd's watch socket does not pass bytes on to the receiver: restarts cannot go there.
    EXPECT_FALSE(device.AcceptsWrites());

    // Three cycles of the simulator's sentences: none of gpsd's JSON among them.
    std::vector<std::string> received;
    GpsData gps{};
    const auto deadline = steady_clock::now() + seconds(30);
    while (received.size() < 30 && steady_clock::now() < deadline)
    {
        const std::vector<std::string> taken = PopTexts(device, &gps);
        received.insert(received.end(), taken.begin(), taken.end());
        if (taken.empty())
            std::this_thread::sleep_for(milliseconds(5));
    }
    device.Close();
    ASSERT_GE(received.size(), 30u);
    for (const std::string& got : received)
    {
        EXPECT_EQ(got.front(), '$') << got;
        EXPECT_TRUE(got.ends_with("\r\n")) << got;
    }
    EXPECT_TRUE(IsInOrderWithin(received, receiver.Sent()));

    // The record holds the simulator's position, near where it starts.
    EXPECT_NEAR(gps.latitude, 48.1173, 0.05);
    EXPECT_NEAR(gps.longitude, 11.5167, 0.05);
}

TEST(Gpsd, SerialPortThatGpsdHoldsIsRefusedWithGpsdNamed)
{
    if (!loopback::Gpsd::IsInstalled())
        GTEST_SKIP() << "gpsd is not installed (scripts/deps.sh installs it)";
    Receiver held(22);
    Receiver other(23);
    ASSERT_TRUE(held.IsOpen() && other.IsOpen());
    loopback::Gpsd gpsd(held.Path(), 38400);
    ASSERT_TRUE(gpsd.WaitUntilListening());

    // By path and by port name alike; a port gpsd does not hold opens as usual.
    const struct
    {
        std::wstring name;
        PortError error;
    } rows[] = {
        {FromUtf8(held.Path()), PortError::HeldByGpsd},
        {FromUtf8(PortNameFor(held.Path())), PortError::HeldByGpsd},
        {FromUtf8(other.Path()), PortError::None},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(ToUtf8(row.name));
        CGPSDevice device;
        device.SetGpsdAddress(GpsdAt(gpsd.Port()));
        // gpsd lists the port once it has opened it.
        bool opened = device.OpenPort(row.name, 38400);
        for (int i = 0; i < 100 && opened && row.error != PortError::None; ++i)
        {
            device.Close();
            std::this_thread::sleep_for(milliseconds(50));
            opened = device.OpenPort(row.name, 38400);
        }
        EXPECT_EQ(opened, row.error == PortError::None);
        EXPECT_EQ(device.LastOpenError(), row.error);
    }
}
