#include "session/UpdatePacer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace
{
struct Step
{
    std::int64_t at;       // clock when the update is asked for
    unsigned lines;        // that came since the last update, if it runs
    std::int64_t wait;     // what the pacer answers
    std::int64_t interval; // after it ran (when wait is 0)
};

struct Row
{
    const char* what;
    std::vector<Step> steps;
};
} // namespace

TEST(UpdatePacer, ShowsLinesAtOnceAndAFloodTenTimesASecond)
{
    constexpr std::int64_t frame = UpdatePacer::kFrameUpdateMs;
    constexpr std::int64_t flood = UpdatePacer::kFloodUpdateMs;
    const Row rows[] = {
        {"the first update runs at once", {{0, 1, 0, frame}}},
        {"a line a second: every update at once", {{0, 1, 0, frame}, {1000, 1, 0, frame}, {2000, 1, 0, frame}}},
        {"too soon after the last: waits out the frame", {{0, 1, 0, frame}, {5, 1, frame - 5, frame}}},
        {"three fast updates are no flood yet",
         {{0, 5, 0, frame}, {frame, 5, 0, frame}, {2 * frame, 5, 0, frame}, {3 * frame, 5, 0, frame}}},
        {"the fourth fast update in a row is",
         {{0, 5, 0, frame}, {16, 5, 0, frame}, {32, 5, 0, frame}, {48, 5, 0, frame}, {64, 5, 0, flood},
          {100, 5, 64, flood}, {164, 20, 0, flood}}},
        {"one slow update ends the flood",
         {{0, 5, 0, frame}, {16, 5, 0, frame}, {32, 5, 0, frame}, {48, 5, 0, frame}, {64, 5, 0, flood},
          {164, 1, 0, frame}}},
        // 100 lines a second is the edge: exactly that is not fast.
        {"exactly the flood rate is not fast",
         {{0, 2, 0, frame}, {20, 2, 0, frame}, {40, 2, 0, frame}, {60, 2, 0, frame}, {80, 2, 0, frame}}},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.what);
        std::int64_t now = 0;
        UpdatePacer pacer([&now] { return now; });
        for (const Step& step : row.steps)
        {
            SCOPED_TRACE(step.at);
            now = step.at;
            ASSERT_EQ(pacer.Wait(), step.wait);
            if (step.wait == 0)
                pacer.Ran(step.lines);
            EXPECT_EQ(pacer.Interval(), step.interval);
        }
    }
}
