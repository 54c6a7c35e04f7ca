#include "recording/GpxTrackWriter.h"

#include "gps/EpochDetector.h"
#include "gps/EpochEnd.h"
#include "gps/NmeaDecoders.h"
#include "gps/NmeaFraming.h"
#include "recording/Recorder.h"
#include "recording/RecordingFixtures.h"
#include "support/Nmea.h"
#include "support/Peers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace
{
struct Point
{
    double lat;
    double lon;
    std::string time;
};

std::vector<Point> PointsOf(const std::string& gpx)
{
    std::vector<Point> points;
    static const std::regex trkpt(R"re(<trkpt lat="([-0-9.]+)" lon="([-0-9.]+)">([\s\S]*?)</trkpt>)re");
    static const std::regex stampTag(R"re(<time>([^<]*)</time>)re");
    for (auto it = std::sregex_iterator(gpx.begin(), gpx.end(), trkpt); it != std::sregex_iterator(); ++it)
    {
        std::smatch stamp;
        const std::string body = (*it)[3];
        points.push_back({std::stod((*it)[1]), std::stod((*it)[2]),
                          std::regex_search(body, stamp, stampTag) ? stamp[1].str() : ""});
    }
    return points;
}

GpsData Record(int fixMode, double lat, double lon, float ele)
{
    GpsData gps;
    gps.fixMode = fixMode;
    gps.latitude = lat;
    gps.longitude = lon;
    gps.altitude = ele;
    gps.year = 2010;
    gps.month = 3;
    gps.day = 7;
    gps.hour = 9;
    gps.minute = 5;
    gps.second = 3;
    gps.hdop = 0.9f;
    gps.pdop = 1.75f;
    for (int i = 0; i < 5; ++i)
    {
        gps.satellites[i].prn = static_cast<std::uint16_t>(i + 1);
        gps.satellites[i].used = i % 2 == 0;
    }
    return gps;
}

// The record a receiver's sentence leaves.
GpsData Decoded(const std::string& body)
{
    GpsData gps;
    DecodeSentence(WithChecksum(body), gps);
    return gps;
}
} // namespace

TEST(EpochDetector, AnEpochEndsWhenTheTimeOfDayChanges)
{
    const std::string gga1 = WithChecksum("$GPGGA,095257.809,2712.6404,S,15303.1201,E,1,05,1.0,4.0,M,42.2,M,,");
    const std::string rmc1 = WithChecksum("$GPRMC,095257.809,A,2712.6404,S,15303.1201,E,0.00,0.00,080407,,,A");
    const std::string gsa = WithChecksum("$GPGSA,A,3,01,03,05,,,,,,,,,,1.8,0.9,1.5");
    const std::string gsv = WithChecksum("$GPGSV,1,1,01,05,45,347,45");
    const std::string gga2 = WithChecksum("$GPGGA,095257.909,2712.6404,S,15303.1201,E,1,05,1.0,4.0,M,42.2,M,,");
    const std::string gnrmc2 = WithChecksum("$GNRMC,095257.909,A,2712.6404,S,15303.1201,E,0.00,0.00,080407,,,A");
    const std::string gga3 = WithChecksum("$GPGGA,095258,2712.6404,S,15303.1201,E,1,05,1.0,4.0,M,42.2,M,,");
    const std::string noTime = WithChecksum("$GPGGA,,,,,,0,00,,,M,,M,,");
    struct Row
    {
        const char* what;
        std::vector<std::string> lines;
        std::vector<bool> ends;
        int milliseconds; // of the epoch under way after the last line
        int satellites;   // in view when the last epoch ended
    };
    const Row rows[] = {
        {"the first line opens, ends nothing", {gga1}, {false}, 809, 0},
        {"one epoch of four sentences", {gga1, gsa, gsv, rmc1}, {false, false, false, false}, 809, 1},
        {"tenths of a second apart are two epochs", {gga1, gsv, rmc1, gga2}, {false, false, false, true}, 909, 1},
        {"another talker in the same epoch", {gga2, gnrmc2}, {false, false}, 909, 0},
        {"whole seconds", {gga2, gga3}, {false, true}, 0, 0},
        {"sentences without a time belong to the epoch", {gga1, gsa, gsv}, {false, false, false}, 809, 1},
        {"an empty time field is no time", {gga1, noTime, rmc1}, {false, false, false}, 809, 0},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.what);
        EpochDetector epochs;
        GpsData gps;
        GpsData ended;
        std::vector<bool> ends;
        int satellites = 0;
        for (const std::string& line : row.lines)
        {
            DecodeSentence(line, gps);
            ends.push_back(epochs.Feed(gps, ended));
            if (ends.back())
                satellites = SatellitesInView(ended);
        }
        EXPECT_EQ(ends, row.ends);
        ASSERT_TRUE(epochs.Finish(ended));
        EXPECT_EQ(ended.millisecond, row.milliseconds);
        EXPECT_EQ(std::max(satellites, SatellitesInView(ended)), row.satellites);
        EXPECT_FALSE(epochs.Finish(ended));
    }
}

TEST(GpxTrackWriter, PointsCarryTheFieldsOfTheRecord)
{
    GpsData noDate = Record(3, 1.0f, 2.0f, 3.0f);
    noDate.year = 0;
    struct Row
    {
        const char* what;
        GpsData gps;
        std::vector<std::string> parts;
    };
    GpsData thousandths = Record(2, -34.25, -58.5, -12.0f);
    thousandths.millisecond = 250;
    const Row rows[] = {
        {"3D fix, three satellites used", Record(3, 25.033, 121.5654, 100.5f),
         {"<trkpt lat=\"25.033\" lon=\"121.5654\">", "<ele>100.5</ele>", "<time>2010-03-07T09:05:03Z</time>",
          "<fix>3d</fix>", "<sat>3</sat>", "<hdop>0.90</hdop>", "<pdop>1.75</pdop>"}},
        {"2D fix in the south-west, with thousandths", thousandths,
         {"lat=\"-34.25\" lon=\"-58.5\"", "<ele>-12</ele>", "<time>2010-03-07T09:05:03.250Z</time>",
          "<fix>2d</fix>"}},
        {"no date yet: no time rather than a wrong one", noDate, {"<ele>3</ele>\n        <fix>3d</fix>"}},
        // The altitude as the receiver sent it, as the position is: no single-precision noise.
        {"the receiver's digits", Decoded("$GPGGA,120000,4807.038,N,01131.000,E,1,08,0.9,73.9,M,46.9,M,,"),
         {"<ele>73.9</ele>"}},
        {"every decimal sent", Decoded("$GPGGA,120000,4807.038,N,01131.000,E,1,08,0.9,-0.125,M,46.9,M,,"),
         {"<ele>-0.125</ele>"}},
    };
    TempFolder dir;
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.what);
        const std::string text = GpxTrackWriter::PointText(row.gps);
        for (const std::string& part : row.parts)
            EXPECT_NE(text.find(part), std::string::npos) << text << " lacks " << part;
        // And each alone makes a track the schema accepts.
        if (HaveTool("xmllint"))
        {
            const auto path = dir.Path() / (std::to_string(&row - rows) + ".gpx");
            GpxTrackWriter writer;
            ASSERT_TRUE(writer.Open(Wide(path)));
            ASSERT_TRUE(writer.AddPoint(row.gps));
            ASSERT_TRUE(writer.Finish());
            const ToolResult valid = ValidateGpx(path);
            EXPECT_EQ(valid.status, 0) << valid.output;
        }
    }
    // No fix, no point.
    const auto noFix = dir.Path() / "nofix.gpx";
    GpxTrackWriter writer;
    ASSERT_TRUE(writer.Open(Wide(noFix)));
    EXPECT_TRUE(writer.AddPoint(Record(1, 1.0f, 2.0f, 3.0f)));
    EXPECT_EQ(writer.PointCount(), 0);
    EXPECT_TRUE(PointsOf(ReadFile(noFix)).empty());
}

TEST(GpxTrackWriter, FileIsAValidTrackAfterEveryPoint)
{
    if (!HaveTool("xmllint") || !HaveTool("gpsbabel"))
        GTEST_SKIP() << "xmllint (libxml2-utils) or gpsbabel is not installed";
    TempFolder dir;
    const auto path = dir.Path() / "track.gpx";
    GpxTrackWriter writer;
    ASSERT_TRUE(writer.Open(Wide(path)));
    for (int n = 0; n <= 3; ++n)
    {
        SCOPED_TRACE(n);
        if (n > 0)
        {
            ASSERT_TRUE(writer.AddPoint(Record(3, 10.0f + n, 20.0f, 30.0f)));
        }
        const ToolResult valid = ValidateGpx(path);
        EXPECT_EQ(valid.status, 0) << valid.output;
        EXPECT_EQ(GpsbabelPointCount(path, "gpx"), n);
    }
    const std::string before = ReadFile(path);
    ASSERT_TRUE(writer.Finish());
    // Nothing is pending in the writer: epochs are the recorder's.
    EXPECT_EQ(ReadFile(path), before);
}

TEST(GpxTrackWriter, OnePointPerFixedCycleOfARealReceiverAsGpsdSawThem)
{
    // gpsd's reports for the same capture: the time and place of every fixed cycle.
    const std::string reports = ReadFile(std::filesystem::path(ORVANE_CORPUS_DIR) / "haicom-305N.chk");
    std::map<std::string, std::pair<double, double>> fixes;
    static const std::regex tpv(
        R"re("class":"TPV","mode":[23],"time":"([^"]+)"[^\n]*?"lat":([-0-9.]+),"lon":([-0-9.]+))re");
    for (auto it = std::sregex_iterator(reports.begin(), reports.end(), tpv); it != std::sregex_iterator(); ++it)
        fixes[(*it)[1]] = {std::stod((*it)[2]), std::stod((*it)[3])};
    // gpsd leaves the time out of some 2D reports; those are matched by place alone.
    std::vector<std::pair<double, double>> untimed;
    static const std::regex tpv2(R"re("class":"TPV","mode":2,"lat":([-0-9.]+),"lon":([-0-9.]+))re");
    for (auto it = std::sregex_iterator(reports.begin(), reports.end(), tpv2); it != std::sregex_iterator(); ++it)
        untimed.emplace_back(std::stod((*it)[1]), std::stod((*it)[2]));
    ASSERT_GT(fixes.size(), 50u);

    TempFolder dir;
    const auto path = dir.Path() / "haicom.gpx";
    const std::unique_ptr<Recorder> recorder = MakeRecorder(RecordGpx);
    ASSERT_TRUE(recorder->Start(Wide(path), true, GpsData{}));
    GpsData gps;
    EpochEnd epochs;
    for (const std::string& line : CaptureLines("haicom-305N.nmea"))
    {
        if (IsChecksumValid(line))
        {
            DecodeSentence(line, gps);
            ASSERT_TRUE(recorder->Add(line, gps, epochs.Feed(line, gps)));
        }
    }
    ASSERT_TRUE(recorder->Finish());

    const std::vector<Point> points = PointsOf(ReadFile(path));
    const auto pointCount = static_cast<long long>(points.size());
    std::set<std::string> seen;
    for (const Point& point : points)
    {
        SCOPED_TRACE(point.time);
        EXPECT_TRUE(seen.insert(point.time).second) << "two points for one epoch";
        const auto near = [&point](const std::pair<double, double>& place) {
            return std::fabs(point.lat - place.first) < 1e-4 && std::fabs(point.lon - place.second) < 1e-4;
        };
        const auto fix = fixes.find(point.time);
        if (fix != fixes.end())
        {
            EXPECT_TRUE(near(fix->second)) << point.lat << "," << point.lon;
        }
        else
        {
            EXPECT_TRUE(std::any_of(untimed.begin(), untimed.end(), near)) << "a point where gpsd saw no fix";
        }
    }
    // gpsd reports a cycle also when only its GSA said "fix"; we need the whole cycle.
    EXPECT_GE(points.size() * 10, fixes.size() * 9);

    if (HaveTool("xmllint"))
    {
        const ToolResult valid = ValidateGpx(path);
        EXPECT_EQ(valid.status, 0) << valid.output;
    }
    if (HaveTool("gpsbabel"))
    {
        EXPECT_EQ(GpsbabelPointCount(path, "gpx"), pointCount);
    }
    if (HaveTool("ogrinfo"))
    {
        EXPECT_EQ(OgrPointCount(path, "gpx"), pointCount);
    }
}

TEST(GpxTrackWriter, DiskFullKeepsAValidTrackOfThePointsBefore)
{
    TempFolder dir;
    const auto sizing = dir.Path() / "sizing.gpx";
    std::size_t empty = 0;
    {
        GpxTrackWriter writer;
        ASSERT_TRUE(writer.Open(Wide(sizing)));
        empty = std::filesystem::file_size(sizing);
    }
    const std::size_t point = GpxTrackWriter::PointText(Record(3, 1.0f, 2.0f, 3.0f)).size();
    const auto path = dir.Path() / "full.gpx";
    GpxTrackWriter writer(FileCalls{.write = FillingDisk{empty + 2 * point + point / 2}});
    ASSERT_TRUE(writer.Open(Wide(path)));
    ASSERT_TRUE(writer.AddPoint(Record(3, 1.0f, 2.0f, 3.0f)));
    ASSERT_TRUE(writer.AddPoint(Record(3, 1.0f, 2.0f, 3.0f)));
    EXPECT_FALSE(writer.AddPoint(Record(3, 1.0f, 2.0f, 3.0f)));
    EXPECT_EQ(writer.GetLastError(), ENOSPC);
    EXPECT_EQ(PointsOf(ReadFile(path)).size(), 2u);
    EXPECT_TRUE(ReadFile(path).ends_with("</gpx>\n"));
    if (HaveTool("xmllint"))
    {
        const ToolResult valid = ValidateGpx(path);
        EXPECT_EQ(valid.status, 0) << valid.output;
    }
}
