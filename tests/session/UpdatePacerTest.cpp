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
        // More than 100 lines within a second is a flood, however they are split.
        {"100 lines in a second are no flood", {{0, 50, 0, frame}, {500, 50, 0, frame}}},
        {"the 101st is, and a second later with fewer lines it ends",
         {{0, 50, 0, frame}, {500, 50, 0, frame}, {999, 1, 0, flood}, {1050, 5, 49, flood}, {1099, 5, 0, frame}}},
        {"fast small updates become a flood at the 101st line",
         {{0, 30, 0, frame}, {16, 30, 0, frame}, {32, 30, 0, frame}, {48, 10, 0, frame}, {64, 1, 0, flood},
          {100, 5, 64, flood}, {164, 20, 0, flood}}},
        {"a burst in one update is one too", {{0, 500, 0, flood}, {100, 1, 0, flood}, {1000, 1, 0, frame}}},
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
