// A receiver of each family on a real pseudo-terminal, in real time with fast restarts: as
// Orvane will meet it.
#include "receiver/ReceiverCommands.h"
#include "receiver/ReceiverIdentity.h"
#include "tools/gpssim/FamilyRows.h"
#include "tools/gpssim/SessionThread.h"
#include "tools/gpssim/CycleSource.h"
#include "tools/gpssim/FamilyTalk.h"
#include "tools/gpssim/PseudoTerminal.h"
#include "tools/gpssim/SimOptions.h"
#include "tools/gpssim/SimSession.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <iostream>
#include <mutex>
#include <poll.h>
#include <unistd.h>

using namespace std::chrono;
using Clock = steady_clock;

namespace
{

// The other side, reading bytes (a u-blox answers in binary) and writing commands.
class Port
{
public:
    explicit Port(const std::string& path) : m_fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~Port()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool IsOpen() const { return m_fd >= 0; }
    bool Write(std::string_view bytes) { return ::write(m_fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()); }
    // Reads until `done` holds for what has arrived, or `limit` passes.
    bool ReadUntil(const std::function<bool()>& done, milliseconds limit)
    {
        const auto deadline = Clock::now() + limit;
        while (!done())
        {
            const auto left = duration_cast<milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return false;
            pollfd fd{m_fd, POLLIN, 0};
            if (::poll(&fd, 1, static_cast<int>(std::min<long long>(left, 100))) <= 0)
                continue;
            char buffer[512];
            const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
            if (got > 0)
                bytes.append(buffer, static_cast<std::size_t>(got));
        }
        return true;
    }

    std::string bytes;

private:
    int m_fd;
};

// The fix quality of each whole GGA from `from` on (0: no fix).
std::vector<int> FixQualities(const std::string& bytes, std::size_t from)
{
    std::vector<int> qualities;
    for (auto at = bytes.find("GGA,", from); at != std::string::npos; at = bytes.find("GGA,", at + 4))
    {
        const auto end = bytes.find("\r\n", at);
        if (end == std::string::npos)
            break;
        std::size_t field = at;
        for (int i = 0; i < 6 && field != std::string::npos; ++i)
            field = bytes.find(',', field + 1);
        if (field != std::string::npos && field + 1 < end)
            qualities.push_back(bytes[field + 1] - '0');
    }
    return qualities;
}

// The lines sent, binary messages left aside.
ReceiverFamily Recognised(const std::string& bytes)
{
    ReceiverRecogniser recogniser;
    for (auto at = bytes.find('$'); at != std::string::npos; at = bytes.find('$', at + 1))
    {
        const auto end = bytes.find("\r\n", at);
        if (end == std::string::npos)
            break;
        recogniser.FeedLine(std::string_view(bytes).substr(at, end + 2 - at));
    }
    return recogniser.Identity().family;
}

class FamilyOverPty : public testing::TestWithParam<ReceiverFamily>
{
};

} // namespace

TEST_P(FamilyOverPty, BannerAnswerOwnColdStartObeyedAnotherFamilysIgnored)
{
    const ReceiverFamily family = GetParam();
    const auto families = KnownFamilies();
    // The next family of NMEA commands: a u-blox's binary one is not even a line to the others.
    auto next = std::find(families.begin(), families.end(), family);
    do
        next = next + 1 == families.end() ? families.begin() : next + 1;
    while (*next == ReceiverFamily::UBlox);
    const ReceiverFamily other = *next;
    const int baud = 115200;
    PseudoTerminal terminal;
    std::string error;
    ASSERT_TRUE(terminal.Open(baud, error)) << error;
    SimConfig config;
    config.seed = 41;
    config.baud = baud;
    config.family = family;
    config.restartSpeedup = kFastRestartSpeedup;
    GeneratedSource source(config, [] { return system_clock::now(); });
    SimSession session(terminal.MasterFd(), source, baud);
    std::mutex lock;
    std::vector<ReceivedMessage> received;
    session.SetMessageObserver([&](const ReceivedMessage& message, std::string_view) {
        std::lock_guard guard(lock);
        received.push_back(message);
    });
    SessionThread thread(session);

    const auto opened = Clock::now();
    Port port(terminal.SlavePath());
    ASSERT_TRUE(port.IsOpen());
    // Its banner first.
    ASSERT_TRUE(port.ReadUntil([&] { return Recognised(port.bytes) == family; }, seconds(30))) << port.bytes;
    std::cout << "[ figure ] " << FamilyName(family) << ": recognised "
              << duration_cast<milliseconds>(Clock::now() - opened).count() << " ms after the port opened\n";
    EXPECT_TRUE(port.bytes.starts_with(family_talk::Banner(family).front()));

    // Its version query answered.
    const simtest::QueryRow query = simtest::QueryRows()[static_cast<std::size_t>(family) - 1];
    ASSERT_EQ(query.family, family);
    std::size_t mark = port.bytes.size();
    ASSERT_TRUE(port.Write(query.query));
    EXPECT_TRUE(port.ReadUntil([&] { return port.bytes.find(query.answerStart, mark) != std::string::npos; }, seconds(30)));

    // A fix, then another family's cold start: nothing happens.
    ASSERT_TRUE(port.ReadUntil([&] { return !FixQualities(port.bytes, mark).empty() && FixQualities(port.bytes, mark).back() > 0; },
                               seconds(30)));
    const std::string foreign = *RestartCommand(other, RestartKind::Cold);
    ASSERT_TRUE(port.Write(foreign));
    const auto seen = [&](const std::string& bytes) {
        std::lock_guard guard(lock);
        return std::any_of(received.begin(), received.end(), [&](const ReceivedMessage& m) { return m.bytes == bytes; });
    };
    ASSERT_TRUE(port.ReadUntil([&] { return seen(foreign); }, seconds(30)));
    mark = port.bytes.size();
    ASSERT_TRUE(port.ReadUntil([&] { return FixQualities(port.bytes, mark).size() >= 2; }, seconds(30)));
    for (const int quality : FixQualities(port.bytes, mark))
        EXPECT_GT(quality, 0) << "the fix is kept";

    // Its own cold start: the fix goes and comes back.
    const std::string cold = *RestartCommand(family, RestartKind::Cold);
    mark = port.bytes.size();
    ASSERT_TRUE(port.Write(cold));
    const auto sent = Clock::now();
    ASSERT_TRUE(port.ReadUntil([&] {
        const std::vector<int> qualities = FixQualities(port.bytes, mark);
        const auto none = std::find(qualities.begin(), qualities.end(), 0);
        return none != qualities.end() && std::find_if(none, qualities.end(), [](int q) { return q > 0; }) != qualities.end();
    }, seconds(60))) << "fix lost and found again";
    std::cout << "[ figure ] " << FamilyName(family) << ": fix again "
              << duration_cast<milliseconds>(Clock::now() - sent).count() << " ms after the cold start\n";
    {
        std::lock_guard guard(lock);
        std::vector<std::pair<std::string, RestartKind>> obeyed;
        for (const ReceivedMessage& message : received)
            if (message.restart)
                obeyed.emplace_back(message.bytes, *message.restart);
        EXPECT_EQ(obeyed, (std::vector<std::pair<std::string, RestartKind>>{{cold, RestartKind::Cold}}));
    }
    // MediaTek says it started again, Airoha acknowledges.
    bool bAnswered = false;
    for (auto at = port.bytes.find('$', mark); at != std::string::npos; at = port.bytes.find('$', at + 1))
        bAnswered = bAnswered || AnswersRestart(family, RestartKind::Cold,
                                                std::string_view(port.bytes).substr(at, port.bytes.find('\n', at) + 1 - at));
    EXPECT_EQ(bAnswered, family == ReceiverFamily::MediaTek || family == ReceiverFamily::Airoha);
}

INSTANTIATE_TEST_SUITE_P(Families, FamilyOverPty, testing::ValuesIn(KnownFamilies().begin(), KnownFamilies().end()),
                         [](const auto& info) { return std::string(FamilyToken(info.param)); });
