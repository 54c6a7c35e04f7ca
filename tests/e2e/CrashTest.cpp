// The real program, recording from the simulated receiver, ended from outside: kill -9 in the
// middle of a track, SIGTERM, and a second signal during a shutdown that hangs.
#include "support/Files.h"
#include "support/KmlText.h"
#include "support/Peers.h"
#include "support/TempFolder.h"
#include "e2e/Child.h"

#include "gps/NmeaFraming.h"

#include <gtest/gtest.h>

#include <kml/dom.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
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
};

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
    if (run.signal == SIGTERM)
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
    std::printf("%s after %s: %lld points (NMEA: bytes) handed over a second before, %lld in the file\n", run.kind.c_str(),
                run.signal == SIGKILL ? "kill -9" : "SIGTERM", handedOver, inFile);
}

INSTANTIATE_TEST_SUITE_P(Recordings, EndedFromOutside,
                         ::testing::Values(RecordingRun{"kml", SIGKILL, 25}, RecordingRun{"gpx", SIGKILL, 4},
                                           RecordingRun{"kml", SIGTERM, 10}, RecordingRun{"gpx", SIGTERM, 2},
                                           RecordingRun{"nmea", SIGTERM, 400}, RecordingRun{"nmea", SIGKILL, 2000}),
                         [](const auto& info) {
                             return info.param.kind + (info.param.signal == SIGKILL ? "Kill9" : "Sigterm");
                         });

TEST(ShutdownSignals, SecondSignalEndsAHangingShutdownAtOnce)
{
    Child program;
    ASSERT_TRUE(program.Start({ORVANE_RECORDER, "--slow-shutdown"}));
    std::string line;
    ASSERT_TRUE(program.ReadLine(line));
    ASSERT_EQ(line, "READY 1");
    program.Signal(SIGTERM);
    ASSERT_TRUE(program.ReadLine(line));
    EXPECT_EQ(line, "CLOSING " + std::to_string(SIGTERM));
    // The shutdown now hangs for 30 s; the second signal must not wait for it.
    program.Signal(SIGINT);
    EXPECT_EQ(program.Wait(20), 128 + SIGINT);
}
} // namespace
