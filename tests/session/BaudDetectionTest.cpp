// The detection's course on the user-interface thread, on real pseudo-terminals: when it probes,
// what it reopens at, and that a cancelled probe's late answer changes nothing.
#include "session/BaudDetection.h"

#include "serial/BaudRates.h"
#include "support/PseudoTerminal.h"

#include <QCoreApplication>
#include <QObject>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace
{
// The frame's part, recorded.
struct FakeFrame
{
    std::atomic<std::uint64_t> validLines{0};
    int closes = 0;
    std::vector<int> reopens;
    std::vector<std::pair<int, int>> reports;
    std::optional<std::pair<int, long>> posted;
    CBaudDetection* pDetection = nullptr;
    // What was posted dies with the fake: a post still queued when a test ends must not reach a
    // later test's events.
    QObject context;

    CBaudDetection::Hooks Hooks()
    {
        return {[this] { return validLines.load(); }, [this] { ++closes; },
                [this](int rate, long probe) {
                    // As the frame's PostMessage: handled later on the user-interface thread.
                    QMetaObject::invokeMethod(
                        &context, [this, rate, probe] { posted = {rate, probe}; }, Qt::QueuedConnection);
                },
                [this](int rate) {
                    reopens.push_back(rate);
                    return true;
                },
                [this](int from, int to) { reports.emplace_back(from, to); }};
    }
};
} // namespace

TEST(BaudDetection, SentencesWithinTheQuietTimeMeanNoProbe)
{
    PseudoTerminal pty;
    FakeFrame frame;
    CBaudDetection detection(frame.Hooks(), kBaudRates);
    detection.Arm(pty.SlavePath(), 9600);
    ASSERT_TRUE(detection.IsWaiting());
    ++frame.validLines;
    QTRY_VERIFY_WITH_TIMEOUT(!detection.IsWaiting(), CBaudDetection::kQuietMs + 5000);
    EXPECT_FALSE(detection.IsProbing());
    EXPECT_EQ(frame.closes, 0);
}

// Valid sentences on the line whatever the speed set (a pseudo-terminal has no clock): the
// first rate listened to brings them.
TEST(BaudDetection, AQuietConnectionIsProbedAndReopenedAtTheRateFound)
{
    PseudoTerminal pty;
    std::atomic<bool> bStop{false};
    std::thread talker([&] {
        const std::string sentence = "$GPGSA,A,3,01,02,03,04,05,06,07,08,,,,,1.8,1.0,1.5*36\r\n";
        while (!bStop)
        {
            pty.Write(sentence);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    FakeFrame frame;
    CBaudDetection detection(frame.Hooks(), kBaudRates);
    detection.Arm(pty.SlavePath(), 9600);
    QTRY_VERIFY_WITH_TIMEOUT(frame.posted.has_value(), CBaudDetection::kQuietMs + 20000);
    bStop = true;
    talker.join();
    EXPECT_EQ(frame.closes, 1);
    EXPECT_EQ(frame.posted->first, 4800);
    detection.OnProbed(frame.posted->first, frame.posted->second);
    EXPECT_FALSE(detection.IsProbing());
    EXPECT_EQ(frame.reopens, std::vector<int>{4800});
    EXPECT_EQ(frame.reports, (std::vector<std::pair<int, int>>{{9600, 4800}}));
}

TEST(BaudDetection, ACancelledProbesAnswerChangesNothing)
{
    PseudoTerminal pty;
    FakeFrame frame;
    CBaudDetection detection(frame.Hooks(), kBaudRates);
    detection.Arm(pty.SlavePath(), 9600);
    QTRY_VERIFY_WITH_TIMEOUT(detection.IsProbing(), CBaudDetection::kQuietMs + 5000);
    EXPECT_EQ(frame.closes, 1);
    detection.Cancel();
    EXPECT_FALSE(detection.IsProbing());
    // The thread is joined: its answer, if it gave one, is queued already.
    QCoreApplication::processEvents();
    detection.OnProbed(38400, frame.posted ? frame.posted->second : 1);
    EXPECT_TRUE(frame.reopens.empty());
    EXPECT_TRUE(frame.reports.empty());

    // Armed again: the old probe's number is not the new one's.
    detection.Arm(pty.SlavePath(), 9600);
    QTRY_VERIFY_WITH_TIMEOUT(detection.IsProbing(), CBaudDetection::kQuietMs + 5000);
    detection.OnProbed(38400, 1);
    EXPECT_TRUE(frame.reopens.empty());
    EXPECT_TRUE(detection.IsProbing());
    detection.Cancel();
}
