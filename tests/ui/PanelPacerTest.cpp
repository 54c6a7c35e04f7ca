#include "ui/PanelPacer.h"

#include "gps/EpochEnd.h"
#include "gps/NmeaDecoders.h"
#include "support/Nmea.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace
{
struct PacedLine
{
    std::int64_t at;
    // Empty: the stream ends there (a disconnect).
    std::string text;
};

// "$GPRMC" with the UTC time of day `ms` after 12:00:00, so each second (or tenth) is an epoch.
std::string Rmc(std::int64_t ms)
{
    char body[96];
    std::snprintf(body, sizeof body, "$GPRMC,12%02d%02d.%02d,A,4807.038,N,01131.000,E,0.0,0.0,091226,,,A",
                  static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60), static_cast<int>(ms / 10 % 100));
    return WithChecksum(body);
}

std::string Gga(std::int64_t ms)
{
    char body[96];
    std::snprintf(body, sizeof body, "$GPGGA,12%02d%02d.%02d,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,",
                  static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60), static_cast<int>(ms / 10 % 100));
    return WithChecksum(body);
}

const std::string kGsa = WithChecksum("$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1");
const std::string kGll = WithChecksum("$GPGLL,4916.45,N,12311.12,W,225444,A");
const std::string kTxt = WithChecksum("$GPTXT,01,01,02,ANTENNA OK");

// Plays the lines against a fake clock as the view does: after each line the panel is drawn if
// it is due, or a timer is set; a timer due by a line's time fires before that line is taken.
std::vector<std::int64_t> Draws(const std::vector<PacedLine>& lines)
{
    std::int64_t now = 0;
    PanelPacer pacer([&now] { return now; });
    EpochEnd epochs;
    GpsData gps{};
    std::vector<std::int64_t> draws;
    std::int64_t deadline = -1;
    auto settle = [&] {
        const std::int64_t due = pacer.Due();
        deadline = due < 0 ? -1 : now + due;
        if (due == 0)
        {
            draws.push_back(now);
            pacer.Drawn();
            deadline = -1;
        }
    };
    for (const PacedLine& line : lines)
    {
        while (deadline >= 0 && deadline <= line.at)
        {
            now = deadline;
            settle();
        }
        now = line.at;
        if (line.text.empty())
        {
            // The stream ended: what waited is dropped, and the next line is as after a silence.
            pacer.Reset();
            deadline = -1;
            continue;
        }
        DecodeSentence(line.text, gps);
        pacer.Line(epochs.Feed(line.text, gps));
        settle();
    }
    while (deadline >= 0)
    {
        now = deadline;
        settle();
    }
    return draws;
}

struct PanelRow
{
    const char* what;
    std::vector<PacedLine> lines;
    std::vector<std::int64_t> draws;
};

std::vector<PacedLine> Epochs(int count, std::int64_t period, const std::vector<std::int64_t>& offsets,
                              std::int64_t first = 0)
{
    std::vector<PacedLine> lines;
    for (int k = 0; k < count; ++k)
    {
        const std::int64_t start = first + k * period;
        for (std::size_t i = 0; i < offsets.size(); ++i)
            lines.push_back({start + offsets[i], i == 0 ? Gga(start) : i + 1 == offsets.size() ? Rmc(start) : kGsa});
    }
    return lines;
}

std::vector<PanelRow> PanelRows()
{
    std::vector<PanelRow> rows;
    // 4800 baud: five sentences spread over most of each second, a pause after.
    rows.push_back({"the first line at once, then one draw an epoch once its last sentence is known",
                    Epochs(4, 1000, {0, 150, 300, 450, 600}), {0, 850, 1600, 2600, 3600}});
    // No pause between epochs to tell where one ends: the next one's start tells, once.
    rows.push_back({"back to back epochs", Epochs(3, 1000, {0, 100, 200, 300, 400, 500, 600, 700, 800, 900}),
                    {0, 1000, 1900, 2900}});

    std::vector<PacedLine> flood;
    for (int k = 0; k < 12; ++k)
    {
        flood.push_back({k * 100, Gga(k * 100)});
        for (int i = 1; i < 20; ++i)
            flood.push_back({k * 100 + i * 4, kTxt});
    }
    // 200 lines a second: a flood from the 101st line (at 500 ms) on, then a draw every 250 ms.
    rows.push_back({"a flood is drawn every 250 ms", flood, {0, 100, 176, 276, 376, 476, 726, 976, 1226}});

    std::vector<PacedLine> grows = Epochs(4, 1000, {0, 100});
    grows.insert(grows.begin() + 6, {2200, kGll});
    grows.push_back({3200, kGll});
    rows.push_back({"a sentence added at the end is drawn after a pause, then known as the end",
                    grows, {0, 350, 1100, 2100, 2450, 3200}});

    std::vector<PacedLine> untimed;
    for (std::int64_t t = 0; t <= 2500; t += 100)
        untimed.push_back({t, kGsa});
    rows.push_back({"a stream without times is drawn every second, and after it stops", untimed,
                    {0, 1100, 2100, 2750}});

    std::vector<PacedLine> silent = Epochs(1, 1000, {0, 100});
    for (const PacedLine& line : Epochs(1, 1000, {0, 100}, 3000))
        silent.push_back(line);
    rows.push_back({"the first line after a silence at once", silent, {0, 350, 3000, 3100}});

    std::vector<PacedLine> reconnected = Epochs(1, 1000, {0, 100});
    reconnected.push_back({200, ""});
    reconnected.push_back({300, kGsa});
    rows.push_back({"after a disconnect nothing waits, and the first line shows at once", reconnected, {0, 300}});
    return rows;
}
} // namespace

TEST(PanelPacer, DrawsOnceAnEpochAtOnceAfterASilenceAndCapsAFlood)
{
    for (const PanelRow& row : PanelRows())
    {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(Draws(row.lines), row.draws);
    }
}
