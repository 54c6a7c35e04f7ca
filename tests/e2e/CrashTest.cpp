// The real program, recording from the simulated receiver, ended from outside: kill -9 in the
// middle of a track, SIGTERM, the two signals of a closed terminal or a logout; and which
// further signals end a shutdown that hangs.
#include "support/Files.h"
#include "support/KmlText.h"
#include "support/Peers.h"
#include "support/TempFolder.h"
#include "support/Child.h"

#include "gps/NmeaFraming.h"

#include <gtest/gtest.h>

#include <kml/dom.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace
{
long long NowMilliseconds()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

// The coordinates of a KML track as libkml reads them, and the text libkml writes for them.
bool ReserializeKml(const std::string& text, std::string& again, std::size_t& points, std::string& errors)
{
    kmldom::ElementPtr root = kmldom::Parse(text, &errors);
    const kmldom::KmlPtr kml = kmldom::AsKml(root);
    if (!kml)
        return false;
    const kmldom::DocumentPtr document = kmldom::AsDocument(kml->get_feature());
    const kmldom::FolderPtr folder = kmldom::AsFolder(document->get_feature_array_at(0));
    const kmldom::PlacemarkPtr placemark = kmldom::AsPlacemark(folder->get_feature_array_at(0));
    const kmldom::LineStringPtr line = kmldom::AsLineString(placemark->get_geometry());
    points = line->has_coordinates() ? line->get_coordinates()->get_coordinates_array_size() : 0;
    again = kmldom::SerializePretty(kml);
    return true;
}

struct RecordingRun
{
    std::string kind;
    int signal;
    std::size_t points; // wait for this many before the signal (NMEA: bytes)
    int secondSignal = 0; // sent 1 ms after the first, as a closing terminal does
};

void PrintTo(const RecordingRun& run, std::ostream* out)
{
    *out << run.kind << " SIG" << ::sigabbrev_np(run.signal);
    if (run.secondSignal != 0)
        *out << " then SIG" << ::sigabbrev_np(run.secondSignal);
}

class EndedFromOutside : public ::testing::TestWithParam<RecordingRun>
{
};

TEST_P(EndedFromOutside, KeepsEveryPointHandedOver)
{
    const RecordingRun run = GetParam();
    TempFolder folder;
    const fs::path link = folder.Path() / "gps";
    const fs::path config = folder.Path() / "Orvane.xml";
    const fs::path records = folder.Path() / "records";
    fs::create_directory(records);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("XDG_CONFIG_HOME", folder.Path().c_str(), 1);

    Child sim;
    ASSERT_TRUE(sim.Start({ORVANE_GPSSIM, "--seed", "11", "--start", "35.6812,139.7671", "--link", link.string()}));
    const auto linkDeadline = Clock::now() + std::chrono::seconds(20);
    while (!fs::exists(link) && Clock::now() < linkDeadline)
        ::poll(nullptr, 0, 20);
    ASSERT_TRUE(fs::exists(link));

    Child program;
    ASSERT_TRUE(program.Start({ORVANE_RECORDER, config.string(), link.string(), records.string(), run.kind}));
    std::string line;
    ASSERT_TRUE(program.ReadLine(line, 120)) << "the program did not start recording";
    ASSERT_EQ(line, "RECORDING 1");

    // (time, points in the writer) as the program reported them.
    std::vector<std::pair<long long, long long>> reports;
    while (true)
    {
        ASSERT_TRUE(program.ReadLine(line, 60));
        long long at = 0, points = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "AT %lld POINTS %lld", &at, &points), 2) << line;
        reports.emplace_back(at, points);
        if (static_cast<std::size_t>(points) >= run.points)
            break;
    }
    const long long signalledAt = NowMilliseconds();
    program.Signal(run.signal);
    if (run.secondSignal != 0)
    {
        ::poll(nullptr, 0, 1);
        program.Signal(run.secondSignal);
    }
    const int status = program.Wait(60);
    const std::vector<fs::path> files = [&] {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(records))
            found.push_back(entry.path());
        return found;
    }();
    ASSERT_EQ(files.size(), 1u);
    const fs::path file = files[0];
    const std::string text = ReadFile(file);

    // What had been handed to the writer a second before the end must all be there.
    long long handedOver = 0;
    for (const auto& [at, points] : reports)
        if (at <= signalledAt - 1000)
            handedOver = points;
    if (run.signal != SIGKILL)
    {
        // An orderly end: exit status 0, settings saved, and everything reported is in the file.
        EXPECT_EQ(status, 0);
        EXPECT_TRUE(fs::exists(config));
        handedOver = reports.back().second;
    }
    else
    {
        EXPECT_EQ(status, 128 + SIGKILL);
    }

    long long inFile = -1;
    if (run.kind == "kml")
    {
        std::string again, errors;
        std::size_t points = 0;
        ASSERT_TRUE(ReserializeKml(text, again, points, errors)) << errors << text;
        // Byte for byte what libkml writes for that track: the finished form at every moment.
        EXPECT_EQ(text, again);
        inFile = static_cast<long long>(points);
    }
    else if (run.kind == "gpx")
    {
        if (HaveTool("xmllint"))
        {
            const ToolResult valid = ValidateGpx(file);
            EXPECT_EQ(valid.status, 0) << valid.output;
        }
        inFile = 0;
        for (std::size_t at = text.find("<trkpt "); at != std::string::npos; at = text.find("<trkpt ", at + 1))
            ++inFile;
    }
    else
    {
        // Whole sentences only, each one as received.
        for (const std::string& sentence : DataLines(text))
            EXPECT_TRUE(IsChecksumValid(sentence)) << sentence;
        inFile = static_cast<long long>(text.size());
    }
    EXPECT_GE(inFile, handedOver);
    EXPECT_GE(handedOver, 1);
    if (run.kind != "nmea")
    {
        if (HaveTool("gpsbabel"))
        {
            EXPECT_EQ(GpsbabelPointCount(file, run.kind), inFile);
        }
        if (HaveTool("ogrinfo"))
        {
            EXPECT_EQ(OgrPointCount(file, run.kind), inFile);
        }
    }
    const std::string signals = std::string("SIG") + ::sigabbrev_np(run.signal) +
                                (run.secondSignal ? std::string(" then SIG") + ::sigabbrev_np(run.secondSignal) : "");
    std::printf("%s after %s: %lld points (NMEA: bytes) handed over a second before, %lld in the file\n",
                run.kind.c_str(), signals.c_str(), handedOver, inFile);
}

INSTANTIATE_TEST_SUITE_P(Recordings, EndedFromOutside,
                         ::testing::Values(RecordingRun{"kml", SIGKILL, 25}, RecordingRun{"gpx", SIGKILL, 4},
                                           RecordingRun{"kml", SIGTERM, 10}, RecordingRun{"gpx", SIGTERM, 2},
                                           RecordingRun{"nmea", SIGTERM, 400}, RecordingRun{"nmea", SIGKILL, 2000},
                                           RecordingRun{"gpx", SIGHUP, 3, SIGHUP}, RecordingRun{"kml", SIGTERM, 3, SIGHUP}),
                         [](const auto& info) {
                             const RecordingRun& run = info.param;
                             std::string name = run.kind + ::sigabbrev_np(run.signal);
                             if (run.secondSignal != 0)
                                 name += std::string("Then") + ::sigabbrev_np(run.secondSignal);
                             return name;
                         });

struct SignalRun
{
    const char* name;
    std::vector<std::pair<int, int>> steps; // milliseconds to wait, then the signal to send
    int endsWith;                            // the signal that must end the process; 0: none does
};

void PrintTo(const SignalRun& run, std::ostream* out)
{
    *out << run.name;
}

class HangingShutdown : public ::testing::TestWithParam<SignalRun>
{
};

// The first signal starts a shutdown that hangs until the test lets it go; the rows say which
// further signals are absorbed and which end the process at once.
TEST_P(HangingShutdown, EndsAtOnceOnlyWhenAskedAgain)
{
    const SignalRun& run = GetParam();
    ::signal(SIGPIPE, SIG_IGN); // a child that died says so through its status, not ours
    Child program;
    ASSERT_TRUE(program.Start({ORVANE_RECORDER, "--held-shutdown"}, {}, true));
    std::string line;
    ASSERT_TRUE(program.ReadLine(line));
    ASSERT_EQ(line, "READY 1");
    const std::string closing = "CLOSING " + std::to_string(run.steps.front().second);
    for (std::size_t i = 0; i < run.steps.size(); ++i)
    {
        ::poll(nullptr, 0, run.steps[i].first);
        program.Signal(run.steps[i].second);
        // A row that must end sees the shutdown under way first; the others send in one burst.
        if (i == 0 && run.endsWith != 0)
        {
            ASSERT_TRUE(program.ReadLine(line, 20));
            ASSERT_EQ(line, closing);
        }
    }
    if (run.endsWith != 0)
    {
        EXPECT_EQ(program.Wait(20), 128 + run.endsWith);
        return;
    }
    // Signals pending together are delivered lowest number first, so a burst starts with any.
    ASSERT_TRUE(program.ReadLine(line, 20));
    int first = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "CLOSING %d", &first), 1) << line;
    EXPECT_TRUE(std::any_of(run.steps.begin(), run.steps.end(), [&](const auto& step) { return step.second == first; }))
        << line;
    // Every signal has been handled once the count says so; the shutdown then ends as it would.
    int received = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (received < static_cast<int>(run.steps.size()) && Clock::now() < deadline)
    {
        ASSERT_TRUE(program.WriteLine("count"));
        ASSERT_TRUE(program.ReadLine(line, 20));
        ASSERT_EQ(std::sscanf(line.c_str(), "RECEIVED %d", &received), 1) << line;
    }
    EXPECT_EQ(received, static_cast<int>(run.steps.size()));
    ASSERT_TRUE(program.WriteLine("exit"));
    EXPECT_EQ(program.Wait(20), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Signals, HangingShutdown,
    ::testing::Values(SignalRun{"ClosedTerminalsTwoHangups", {{0, SIGHUP}, {1, SIGHUP}}, 0},
                      SignalRun{"LogoutsTermThenHangup", {{0, SIGTERM}, {0, SIGHUP}}, 0},
                      SignalRun{"InterruptThenTerm", {{0, SIGINT}, {200, SIGTERM}}, 0},
                      SignalRun{"ThirdSignal", {{0, SIGTERM}, {0, SIGHUP}, {1, SIGINT}}, SIGINT},
                      SignalRun{"SameSignalAfterFiveSeconds", {{0, SIGINT}, {5500, SIGINT}}, SIGINT},
                      SignalRun{"OtherSignalAfterFiveSeconds", {{0, SIGTERM}, {5500, SIGHUP}}, 0}),
    [](const auto& info) { return std::string(info.param.name); });
} // namespace
