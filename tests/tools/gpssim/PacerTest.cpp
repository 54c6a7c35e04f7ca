#include "tools/gpssim/LinePacer.h"

#include "serial/BaudRates.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::chrono;
using Clock = LinePacer::Clock;

namespace
{

const Clock::time_point kT0 = Clock::time_point{} + hours(10);

} // namespace

TEST(LinePacer, ABytesTakesTenBitTimesAtEveryRate)
{
    for (const int baud : kBaudRates)
    {
        SCOPED_TRACE(std::to_string(baud) + " baud");
        LinePacer pacer(baud);
        EXPECT_EQ(pacer.LineTime(static_cast<std::size_t>(baud / 10)), seconds(1));
        pacer.Enqueue(std::string(static_cast<std::size_t>(baud), 'x'), kT0);
        EXPECT_EQ(pacer.DueCount(kT0), 0u) << "nothing has left yet";
        EXPECT_EQ(pacer.DueCount(kT0 + seconds(1)), static_cast<std::size_t>(baud / 10));
        EXPECT_EQ(pacer.DueCount(kT0 + seconds(1) - nanoseconds(1)),
                  static_cast<std::size_t>(baud / 10) - 1);
        EXPECT_EQ(pacer.DueCount(kT0 + seconds(10)), static_cast<std::size_t>(baud))
            << "all, not more";
        EXPECT_EQ(pacer.DueTime(static_cast<std::size_t>(baud)), kT0 + seconds(10));
    }
}

TEST(LinePacer, BytesQueuedWhileTheLineIsBusyFollowWithoutAGap)
{
    LinePacer pacer(4800);
    pacer.Enqueue(std::string(100, 'a'), kT0);
    pacer.Enqueue(std::string(20, 'b'), kT0 + pacer.LineTime(50));
    EXPECT_EQ(pacer.DueTime(120), kT0 + pacer.LineTime(120));
    EXPECT_EQ(pacer.DueCount(kT0 + pacer.LineTime(110)), 110u);
    EXPECT_EQ(pacer.Pending().substr(99, 2), "ab");
}

TEST(LinePacer, AfterAnIdleLineBytesStartWhenTheyAreReady)
{
    LinePacer pacer(9600);
    pacer.Enqueue("0123456789", kT0);
    ASSERT_EQ(pacer.DueCount(kT0 + milliseconds(500)), 10u);
    pacer.Consume(10);
    EXPECT_TRUE(pacer.Empty());
    pacer.Enqueue("abc", kT0 + seconds(1));
    EXPECT_EQ(pacer.DueCount(kT0 + seconds(1)), 0u);
    EXPECT_EQ(pacer.DueTime(1), kT0 + seconds(1) + pacer.LineTime(1));
    EXPECT_EQ(pacer.DueTime(3), kT0 + seconds(1) + pacer.LineTime(3));
}

TEST(LinePacer, ConsumingPartOfTheQueueKeepsTheScheduleOfTheRest)
{
    LinePacer pacer(1200);
    pacer.Enqueue(std::string(30, 'x') + "tail", kT0);
    const auto due = pacer.DueCount(kT0 + pacer.LineTime(12));
    ASSERT_EQ(due, 12u);
    pacer.Consume(due);
    EXPECT_EQ(pacer.Pending().size(), 22u);
    EXPECT_EQ(pacer.DueCount(kT0 + pacer.LineTime(12)), 0u);
    EXPECT_EQ(pacer.DueCount(kT0 + pacer.LineTime(20)), 8u);
    EXPECT_EQ(pacer.DueTime(22), kT0 + pacer.LineTime(34));
    pacer.Clear();
    EXPECT_TRUE(pacer.Empty());
    EXPECT_EQ(pacer.DueCount(kT0 + hours(1)), 0u);
}

TEST(LinePacer, ASecondOfSentencesAtFourThousandEightHundredBaudTakesItsTimeOnTheWire)
{
    // A SiRF second of about 420 bytes fills 0.875 s of a 4800 baud line.
    LinePacer pacer(4800);
    pacer.Enqueue(std::string(420, 's'), kT0);
    EXPECT_EQ(pacer.DueTime(420) - kT0, milliseconds(875));
    std::size_t written = 0;
    int wakeUps = 0;
    for (auto now = kT0; written < 420; now += milliseconds(4), ++wakeUps)
    {
        const std::size_t due = pacer.DueCount(now);
        written += due;
        pacer.Consume(due);
    }
    EXPECT_NEAR(wakeUps, 875 / 4, 2);
}
