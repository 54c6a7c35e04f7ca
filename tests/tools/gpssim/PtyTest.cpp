// The simulator's session on real pseudo-terminals, in real time: into the GPS device, to a
// plain reader, and its ends.
#include "support/DeviceLines.h"
#include "device/BaudProbe.h"
#include "device/GPSDevice.h"
#include "receiver/ReceiverCommands.h"
#include "tools/gpssim/SessionThread.h"
#include "tools/gpssim/SimTestSupport.h"
#include "tools/gpssim/CycleSource.h"
#include "tools/gpssim/PseudoTerminal.h"
#include "tools/gpssim/SimSession.h"
#include "util/WideText.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <mutex>
#include <poll.h>
#include <sstream>
#include <thread>
#include <sys/eventfd.h>
#include <unistd.h>

using namespace std::chrono;
using Clock = steady_clock;

namespace
{

// SiRF's cold start, which the simulator obeys without --family.
const std::string kSirfColdStart = RestartCommand(ReceiverFamily::SiRF, RestartKind::Cold).value_or("");

std::vector<std::string> SplitLines(const std::string& bytes)
{
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < bytes.size())
    {
        const auto end = bytes.find('\n', at);
        const std::size_t next = end == std::string::npos ? bytes.size() : end + 1;
        lines.push_back(bytes.substr(at, next - at));
        at = next;
    }
    return lines;
}

// The other side as a plain program would be: the slave opened, its lines read.
class SlaveReader
{
public:
    explicit SlaveReader(const std::string& path)
        : m_fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    {
    }
    ~SlaveReader() { Close(); }
    bool IsOpen() const { return m_fd >= 0; }
    void Close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    // Reads until `count` lines have arrived in all, or the deadline passes.
    bool ReadLines(std::size_t count, milliseconds limit)
    {
        const auto deadline = Clock::now() + limit;
        while (lines.size() < count)
        {
            const auto left = duration_cast<milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return false;
            pollfd fd{m_fd, POLLIN, 0};
            if (::poll(&fd, 1, static_cast<int>(left)) <= 0)
                continue;
            char buffer[512];
            const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
            if (got <= 0)
                continue;
            for (ssize_t i = 0; i < got; ++i)
            {
                m_partial.push_back(buffer[i]);
                if (buffer[i] == '\n')
                {
                    lines.push_back(m_partial);
                    m_partial.clear();
                }
            }
        }
        return true;
    }

    std::vector<std::string> lines;

private:
    int m_fd;
    std::string m_partial;
};

SimConfig Config(std::uint32_t seed, int baud)
{
    SimConfig config;
    config.seed = seed;
    config.baud = baud;
    return config;
}

std::chrono::system_clock::time_point RealUtc()
{
    return std::chrono::system_clock::now();
}

} // namespace

TEST(SimOverPty, GeneratedLinesReachTheGpsDeviceWholeAndInOrder)
{
    const int baud = 9600;
    PseudoTerminal terminal;
    std::string error;
    ASSERT_TRUE(terminal.Open(baud, error)) << error;
    GeneratedSource source(Config(12, baud), RealUtc);
    SimSession session(terminal.MasterFd(), source, baud);

    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::string> queued;
    std::vector<Clock::time_point> arrivals;
    session.SetCycleObserver(
        [&](std::string_view bytes)
        {
            std::lock_guard guard(lock);
            queued.emplace_back(bytes);
        });
    SessionThread thread(session);

    CGPSDevice device;
    boost::signals2::scoped_connection connection = device.ConnectNotification(
        [&](int)
        {
            std::lock_guard guard(lock);
            arrivals.push_back(Clock::now());
            changed.notify_all();
        });
    ASSERT_TRUE(device.OpenPort(FromUtf8(PortNameFor(terminal.SlavePath())), baud));

    const std::size_t kCycles = 3;
    const auto linesOfFirstCycles = [&]
    {
        std::size_t count = 0;
        for (std::size_t i = 0; i < std::min(kCycles, queued.size()); ++i)
            count += SplitLines(queued[i]).size();
        return count;
    };
    {
        std::unique_lock guard(lock);
        ASSERT_TRUE(changed.wait_for(
            guard, seconds(10),
            [&] { return queued.size() > kCycles && arrivals.size() >= linesOfFirstCycles(); }))
            << "lines arrived: " << arrivals.size();
    }
    connection.disconnect();
    device.Close();
    thread.Stop();

    const std::vector<std::string> received = PopTexts(device);
    std::vector<std::string> sent;
    for (const std::string& cycle : queued)
        for (const std::string& line : SplitLines(cycle))
            sent.push_back(line);
    ASSERT_GE(received.size(), linesOfFirstCycles());
    ASSERT_LE(received.size(), sent.size());
    EXPECT_TRUE(std::equal(received.begin(), received.end(), sent.begin()))
        << "exactly the lines sent, in order";
    // One notice a line at least. The pace of the lines is the line pacer's, tested on a fake
    // clock: here only their order and count.
    ASSERT_GE(arrivals.size(), received.size());

}

TEST(SimOverPty, AColdStartSentThroughTheDeviceSilencesTheReceiverAndEmptiesItsSky)
{
    const int baud = 115200;
    PseudoTerminal terminal;
    std::string error;
    ASSERT_TRUE(terminal.Open(baud, error)) << error;
    GeneratedSource source(Config(13, baud), RealUtc);
    SimSession session(terminal.MasterFd(), source, baud);
    std::mutex lock;
    std::condition_variable changed;
    std::vector<RestartKind> restarts;
    session.SetRestartObserver(
        [&](RestartKind kind)
        {
            std::lock_guard guard(lock);
            restarts.push_back(kind);
        });
    SessionThread thread(session);

    CGPSDevice device;
    std::vector<std::pair<Clock::time_point, std::string>> lines;
    boost::signals2::scoped_connection connection = device.ConnectNotification(
        [&](int)
        {
            std::lock_guard guard(lock);
            for (std::string& line : PopTexts(device))
                lines.emplace_back(Clock::now(), std::move(line));
            changed.notify_all();
        });
    ASSERT_TRUE(device.OpenPort(FromUtf8(PortNameFor(terminal.SlavePath())), baud));
    const auto has = [&](std::string_view wanted, std::size_t from)
    {
        return std::any_of(lines.begin() +
                               static_cast<std::ptrdiff_t>(std::min(from, lines.size())),
                           lines.end(), [&](const auto& entry) { return entry.second == wanted; });
    };
    std::size_t before = 0;
    {
        std::unique_lock guard(lock);
        ASSERT_TRUE(changed.wait_for(guard, seconds(5), [&] { return lines.size() >= 6; }));
        ASSERT_FALSE(has("$GPGSV,1,1,00*79\r\n", 0));
        before = lines.size();
    }
    ASSERT_TRUE(
        device.Write(kSirfColdStart.data(), kSirfColdStart.size()));
    {
        std::unique_lock guard(lock);
        ASSERT_TRUE(changed.wait_for(guard, seconds(8),
                                     [&] { return has("$GPGSV,1,1,00*79\r\n", before); }));
        EXPECT_EQ(restarts, std::vector<RestartKind>{RestartKind::Cold});
        // Two silent seconds of reboot: a gap far longer than the one between cycles.
        duration<double> longestGap{0};
        for (std::size_t i = before; i < lines.size(); ++i)
            longestGap =
                std::max<duration<double>>(longestGap, lines[i].first - lines[i - 1].first);
        EXPECT_GT(longestGap.count(), 1.5);
    }
    connection.disconnect();
    device.Close();
}

TEST(SimOverPty, TheSessionEndsWhenTheOtherSideClosesThePort)
{
    PseudoTerminal terminal;
    std::string error;
    ASSERT_TRUE(terminal.Open(115200, error)) << error;
    GeneratedSource source(Config(14, 115200), RealUtc);
    SimSession session(terminal.MasterFd(), source, 115200);
    SessionThread thread(session);
    {
        SlaveReader reader(terminal.SlavePath());
        ASSERT_TRUE(reader.IsOpen());
        ASSERT_TRUE(reader.ReadLines(1, seconds(3)));
        EXPECT_EQ(reader.lines.front().substr(0, 7), "$GPGGA,")
            << "sending starts with a whole cycle";
    }
    EXPECT_EQ(thread.EndWithin(seconds(3)), SessionEnd::PeerClosed);
}

TEST(SimOverPty, WithStayTheSessionServesTheNextOpenerUntilStopped)
{
    PseudoTerminal terminal;
    std::string error;
    ASSERT_TRUE(terminal.Open(115200, error)) << error;
    GeneratedSource source(Config(15, 115200), RealUtc);
    SimSession session(terminal.MasterFd(), source, 115200);
    session.SetStayAfterHangup(true);
    std::mutex lock;
    std::condition_variable changed;
    std::vector<bool> connections;
    session.SetConnectionObserver(
        [&](bool bOpen)
        {
            std::lock_guard guard(lock);
            connections.push_back(bOpen);
            changed.notify_all();
        });
    SessionThread thread(session);
    for (int round = 0; round < 2; ++round)
    {
        {
            SlaveReader reader(terminal.SlavePath());
            ASSERT_TRUE(reader.ReadLines(2, seconds(3))) << "round " << round;
        }
        // The next opener comes once the session has seen this one go.
        std::unique_lock guard(lock);
        ASSERT_TRUE(changed.wait_for(guard, seconds(2),
                                     [&] { return connections.size() == 2u * (round + 1); }));
    }
    EXPECT_FALSE(thread.EndWithin(milliseconds(200)));
    thread.Stop();
    EXPECT_EQ(thread.EndWithin(seconds(1)), SessionEnd::Stopped);
    EXPECT_EQ(connections, (std::vector<bool>{true, false, true, false}));
}

TEST(SimOverPty, StoppingASessionNobodyOpenedEndsItAtOnce)
{
    PseudoTerminal terminal;
    std::string error;
    ASSERT_TRUE(terminal.Open(4800, error)) << error;
    GeneratedSource source(Config(16, 4800), RealUtc);
    SimSession session(terminal.MasterFd(), source, 4800);
    SessionThread thread(session);
    thread.Stop();
    EXPECT_EQ(thread.EndWithin(seconds(1)), SessionEnd::Stopped);
    EXPECT_EQ(session.DroppedBytes(), 0u);
}

TEST(SimOverPty, AReplayStartsWhenOpenedAndSendsTheWholeLogInOrder)
{
    // Three seconds of a real SiRF capture behind its comment header.
    std::ifstream capture(std::string(ORVANE_CORPUS_DIR) + "/gpslim236.nmea", std::ios::binary);
    std::ostringstream content;
    content << capture.rdbuf();
    ReplayLog full;
    full.Parse(content.str());
    ASSERT_GE(full.Cycles().size(), 3u);
    std::string excerpt = "# three seconds of gpslim236\r\n";
    std::vector<std::string> expected;
    for (std::size_t c = 0; c < 3; ++c)
    {
        for (const std::string& line : full.Cycles()[c].lines)
        {
            excerpt += line;
            expected.push_back(line);
        }
    }
    const auto path = std::filesystem::temp_directory_path() /
                      ("orvane-replay-" + std::to_string(::getpid()) + ".nmea");
    std::ofstream(path, std::ios::binary) << excerpt;
    ReplayLog log;
    std::string error;
    ASSERT_TRUE(log.Load(path.string(), error)) << error;
    std::filesystem::remove(path);

    PseudoTerminal terminal;
    ASSERT_TRUE(terminal.Open(115200, error)) << error;
    ReplaySource source(std::move(log), false);
    SimSession session(terminal.MasterFd(), source, 115200);
    SessionThread thread(session);
    SlaveReader reader(terminal.SlavePath());
    ASSERT_TRUE(reader.ReadLines(expected.size(), seconds(5)));
    EXPECT_EQ(reader.lines, expected);
    EXPECT_EQ(thread.EndWithin(seconds(2)), SessionEnd::Finished);
}

// ---- Finding the rate by listening ----------------------------------------------------------

namespace
{
const std::vector<int> kFormRates = {1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600, 115200};

struct ProbeRow
{
    int simBaud;
    int connectedAt;
};
} // namespace

// The simulator at one rate, Orvane connected at another: the probe listens at the others and
// names the simulator's, through the real device layer on the real pseudo-terminal.
TEST(BaudProbeOverPty, FindsTheRateTheReceiverSendsAt)
{
    const ProbeRow rows[] = {{38400, 9600}, {4800, 38400}};
    for (const ProbeRow& row : rows)
    {
        SCOPED_TRACE(row.simBaud);
        PseudoTerminal terminal;
        std::string error;
        ASSERT_TRUE(terminal.Open(row.simBaud, error)) << error;
        GeneratedSource source(Config(5, row.simBaud), RealUtc);
        SimSession session(terminal.MasterFd(), source, row.simBaud);
        session.SetStayAfterHangup(true);
        SessionThread thread(session);

        // At the wrong rate first, as Orvane was: bytes come, no line valid. Junk that begins
        // with a byte like a binary frame's sync is skipped rather than shown, so both count.
        {
            CGPSDevice device;
            std::atomic<int> lines{0};
            boost::signals2::scoped_connection counting = device.ConnectNotification([&](int) { ++lines; });
            ASSERT_TRUE(device.Open(FromUtf8(terminal.SlavePath()), row.connectedAt));
            const auto arrived = [&] { return lines >= 8 || device.SkippedByteCount() >= 600; };
            const auto deadline = Clock::now() + seconds(10);
            while (!arrived() && Clock::now() < deadline)
                std::this_thread::sleep_for(milliseconds(20));
            counting.disconnect();
            device.Close();
            EXPECT_TRUE(arrived()) << lines << " lines, " << device.SkippedByteCount() << " bytes skipped";
            EXPECT_EQ(device.ValidLineCount(), 0u);
        }

        CBaudProbe probe;
        const auto start = Clock::now();
        const int found = probe.Run(terminal.SlavePath(), CBaudProbe::OrderToTry(kFormRates, row.connectedAt));
        const auto took = duration_cast<milliseconds>(Clock::now() - start).count();
        EXPECT_EQ(found, row.simBaud);
        std::cout << "[ figure ] probe " << row.connectedAt << " -> " << row.simBaud << ": " << took << " ms"
                  << std::endl;
    }
}

// Listening writes nothing: a receiver at an unknown rate could take bytes for commands.
TEST(BaudProbeOverPty, WritesNothingAndFindsNothingOnASilentLine)
{
    PseudoTerminal terminal;
    std::string error;
    ASSERT_TRUE(terminal.Open(9600, error)) << error;
    CBaudProbe probe;
    EXPECT_EQ(probe.Run(terminal.SlavePath(), kFormRates, 100), 0);
    char buffer[64];
    EXPECT_LE(::read(terminal.MasterFd(), buffer, sizeof buffer), 0) << "the probe wrote to the receiver";
}

TEST(BaudProbeOverPty, CancelEndsAListeningProbe)
{
    PseudoTerminal terminal;
    std::string error;
    ASSERT_TRUE(terminal.Open(9600, error)) << error;
    CBaudProbe probe;
    std::promise<void> started;
    auto result = std::async(std::launch::async, [&] {
        started.set_value();
        return probe.Run(terminal.SlavePath(), kFormRates, 60000);
    });
    started.get_future().wait();
    probe.Cancel();
    // Far below the minutes a probe of 9 rates at a minute each would take.
    ASSERT_EQ(result.wait_for(seconds(20)), std::future_status::ready);
    EXPECT_EQ(result.get(), 0);
}
