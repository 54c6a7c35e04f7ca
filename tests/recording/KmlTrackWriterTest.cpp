#include "recording/KmlTrackWriter.h"

#include "gps/NmeaDecoders.h"
#include "support/Nmea.h"

#include "recording/RecordingFixtures.h"
#include "support/Files.h"
#include "support/KmlText.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <kml/dom.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace
{

GpsData Fix(float longitude, float latitude, float altitude)
{
    GpsData gps;
    gps.fixMode = 3;
    gps.longitude = longitude;
    gps.latitude = latitude;
    gps.altitude = altitude;
    return gps;
}

// The g conversion with 15 significant digits, of the single-precision value widened.
std::string PointText(float longitude, float latitude, float altitude)
{
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "%.15g,%.15g,%.15g", static_cast<double>(longitude),
                  static_cast<double>(latitude), static_cast<double>(altitude));
    return buffer;
}

TEST(KmlTrackWriter, NoPointsGiveAnEmptyCoordinatesElement)
{
    TempFolder dir;
    const std::wstring path = dir.File("track.kml");
    KmlTrackWriter writer;
    ASSERT_TRUE(writer.Open(path));
    ASSERT_TRUE(writer.Finish());
    EXPECT_EQ(ReadFile(path), ExpectedKml({}));
}

TEST(KmlTrackWriter, ThreeIdenticalPointsOfTheExample)
{
    TempFolder dir;
    const std::wstring path = dir.File("track.kml");
    KmlTrackWriter writer;
    ASSERT_TRUE(writer.Open(path));
    for (int i = 0; i < 3; ++i)
        writer.AddPoint(Fix(121.5654f, 25.033f, 100.5f));
    ASSERT_TRUE(writer.Finish());
    const std::string line = "121.565399169922,25.0330009460449,100.5";
    EXPECT_EQ(ReadFile(path), ExpectedKml({line, line, line}));
}

// What the receiver sent is what the track says: the altitude's digits as they came, as the
// position's are (a float held 73.9 as 73.9000015258789).
TEST(KmlTrackWriter, TheReceiversDigits)
{
    struct Row
    {
        const char* gga;
        const char* text;
    };
    const Row rows[] = {
        {"$GPGGA,120000,4807.038,N,01131.000,E,1,08,0.9,73.9,M,46.9,M,,", "11.5166666666667,48.1173,73.9"},
        {"$GPGGA,120000,3348.0480,S,15112.6574,E,1,08,0.9,1123.95,M,46.9,M,,", "151.210956666667,-33.8008,1123.95"},
        {"$GPGGA,120000,0000.0001,N,00000.0001,W,1,08,0.9,-0.1,M,46.9,M,,", "-1.66666666666667e-06,1.66666666666667e-06,-0.1"},
    };
    for (const Row& row : rows)
    {
        GpsData gps;
        DecodeSentence(WithChecksum(row.gga), gps);
        EXPECT_EQ(KmlTrackWriter::PointLine(gps), std::string(12, ' ') + row.text + "\n") << row.gga;
    }
}

TEST(KmlTrackWriter, NumberForms)
{
    struct Row
    {
        float longitude, latitude, altitude;
        const char* text;
    };
    const Row rows[] = {
        {121.5654f, 25.033f, 12.0f, "121.565399169922,25.0330009460449,12"},
        {-70.25f, -33.5f, 0.0f, "-70.25,-33.5,0"},           // southern and western
        {-0.5f, 51.25f, -3.0f, "-0.5,51.25,-3"},              // below sea level
        {180.0f, -90.0f, 8848.0f, "180,-90,8848"},
        {0.0f, 0.0f, 0.0f, "0,0,0"},
    };
    TempFolder dir;
    const std::wstring path = dir.File("track.kml");
    KmlTrackWriter writer;
    ASSERT_TRUE(writer.Open(path));
    std::vector<std::string> lines;
    for (const Row& row : rows)
    {
        writer.AddPoint(Fix(row.longitude, row.latitude, row.altitude));
        lines.push_back(row.text);
        EXPECT_EQ(PointText(row.longitude, row.latitude, row.altitude), row.text);
    }
    // Fractions that are not exact in binary, on every side of the globe.
    const float odd[][3] = {{-122.4194f, 37.7749f, 16.3f}, {151.2093f, -33.8688f, 58.7f},
                            {-43.1729f, -22.9068f, 11.1f}, {-0.000123f, 0.000456f, 0.1f}};
    for (const auto& p : odd)
    {
        writer.AddPoint(Fix(p[0], p[1], p[2]));
        lines.push_back(PointText(p[0], p[1], p[2]));
    }
    ASSERT_TRUE(writer.Finish());
    EXPECT_EQ(ReadFile(path), ExpectedKml(lines));
    EXPECT_NE(ReadFile(path).find("            -122.419403076172,37.7748985290527,"), std::string::npos);
}

TEST(KmlTrackWriter, LibkmlReadsBackTheSamePoints)
{
    std::vector<GpsData> points;
    for (int i = 0; i < 500; ++i)
        points.push_back(Fix(-180.0f + 0.7213f * i, 89.0f - 0.3517f * i, -50.0f + 3.25f * i));
    TempFolder dir;
    const std::wstring path = dir.File("track.kml");
    KmlTrackWriter writer;
    ASSERT_TRUE(writer.Open(path));
    for (const GpsData& gps : points)
        writer.AddPoint(gps);
    ASSERT_TRUE(writer.Finish());

    const std::string text = ReadFile(path);
    std::string errors;
    EXPECT_TRUE(kmldom::Parse(text, &errors)) << errors;
    EXPECT_EQ(errors, "");
    const kmldom::ElementPtr root = kmldom::ParseKml(text);
    ASSERT_TRUE(root);
    const kmldom::KmlPtr kml = kmldom::AsKml(root);
    ASSERT_TRUE(kml);
    const kmldom::DocumentPtr document = kmldom::AsDocument(kml->get_feature());
    ASSERT_TRUE(document);
    ASSERT_EQ(document->get_feature_array_size(), 1u);
    const kmldom::FolderPtr folder = kmldom::AsFolder(document->get_feature_array_at(0));
    ASSERT_TRUE(folder);
    ASSERT_EQ(folder->get_feature_array_size(), 1u);
    const kmldom::PlacemarkPtr placemark = kmldom::AsPlacemark(folder->get_feature_array_at(0));
    ASSERT_TRUE(placemark);
    EXPECT_EQ(placemark->get_name(), "test");
    const kmldom::StylePtr style = kmldom::AsStyle(placemark->get_styleselector());
    ASSERT_TRUE(style && style->has_linestyle());
    EXPECT_EQ(style->get_linestyle()->get_width(), 4.0);
    EXPECT_EQ(style->get_linestyle()->get_color().get_color_abgr(), 0xffff0000u);
    const kmldom::LineStringPtr line = kmldom::AsLineString(placemark->get_geometry());
    ASSERT_TRUE(line && line->has_coordinates());
    const kmldom::CoordinatesPtr coordinates = line->get_coordinates();
    ASSERT_EQ(coordinates->get_coordinates_array_size(), points.size());
    for (std::size_t i = 0; i < points.size(); ++i)
    {
        const kmlbase::Vec3 v = coordinates->get_coordinates_array_at(i);
        // Fifteen digits bring back the single-precision value exactly.
        EXPECT_EQ(static_cast<float>(v.get_longitude()), points[i].longitude) << i;
        EXPECT_EQ(static_cast<float>(v.get_latitude()), points[i].latitude) << i;
        ASSERT_TRUE(v.has_altitude());
        EXPECT_EQ(static_cast<float>(v.get_altitude()), points[i].altitude) << i;
    }
}

TEST(KmlTrackWriter, FileIsTheWholeTrackSoFarAfterEveryPoint)
{
    TempFolder dir;
    const std::wstring path = dir.File("track.kml");
    KmlTrackWriter writer;
    ASSERT_TRUE(writer.Open(path));
    EXPECT_EQ(ReadFile(path), ExpectedKml({}));
    const GpsData points[] = {Fix(1.0f, 2.0f, 3.0f), Fix(121.5654f, 25.033f, 100.5f), Fix(-58.5f, -34.25f, 12.0f),
                              Fix(121.5654f, 25.033f, 100.5f)};
    std::vector<std::string> expected;
    for (const GpsData& point : points)
    {
        ASSERT_TRUE(writer.AddPoint(point));
        expected.push_back(PointText(point.longitude, point.latitude, point.altitude));
        // Read by another file description, as a reader after a crash would.
        EXPECT_EQ(ReadFile(path), ExpectedKml(expected));
    }
    ASSERT_TRUE(writer.Finish());
    EXPECT_EQ(ReadFile(path), ExpectedKml(expected));
    // Finished once: a second call writes nothing more.
    EXPECT_FALSE(writer.Finish());
    EXPECT_FALSE(writer.AddPoint(Fix(9.0f, 9.0f, 9.0f)));
    EXPECT_EQ(ReadFile(path), ExpectedKml(expected));
}

TEST(KmlTrackWriter, DestroyedWithoutFinishLeavesTheWholeTrack)
{
    TempFolder dir;
    const std::wstring path = dir.File("track.kml");
    {
        KmlTrackWriter writer;
        ASSERT_TRUE(writer.Open(path));
        writer.AddPoint(Fix(1.0f, 2.0f, 3.0f));
    }
    EXPECT_EQ(ReadFile(path), ExpectedKml({"1,2,3"}));
}

TEST(KmlTrackWriter, ExistingFileIsNeverOverwritten)
{
    TempFolder dir;
    const std::wstring path = dir.File("track.kml");
    {
        std::ofstream(fs::path(path)) << "an older recording";
    }
    KmlTrackWriter writer;
    EXPECT_FALSE(writer.Open(path));
    EXPECT_EQ(writer.GetLastError(), EEXIST);
    EXPECT_FALSE(writer.AddPoint(Fix(1.0f, 2.0f, 3.0f)));
    EXPECT_FALSE(writer.Finish());
    EXPECT_EQ(ReadFile(path), "an older recording");
}

TEST(KmlTrackWriter, FileThatCannotBeCreatedWritesNothingEver)
{
    TempFolder dir;
    const std::wstring path = dir.File("missing/track.kml");
    {
        KmlTrackWriter writer;
        EXPECT_FALSE(writer.Open(path));
        writer.AddPoint(Fix(1.0f, 2.0f, 3.0f));
        EXPECT_FALSE(writer.Finish());
        EXPECT_FALSE(writer.Finish());
    }
    EXPECT_FALSE(fs::exists(dir.Path() / "missing"));

    KmlTrackWriter never;
    EXPECT_FALSE(never.Finish());
    never.AddPoint(Fix(1.0f, 2.0f, 3.0f));

    KmlTrackWriter onFolder;
    EXPECT_FALSE(onFolder.Open(dir.Path().wstring()));
    EXPECT_FALSE(onFolder.Finish());
}

TEST(KmlTrackWriter, SecondWriterOnTheSameFileIsRefused)
{
    TempFolder dir;
    const std::wstring path = dir.File("track.kml");
    // Held while still empty: the lock refuses the second writer, not the file's content.
    const int holder = ::open(fs::path(path).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    {
        KmlTrackWriter second;
        EXPECT_FALSE(second.Open(path));
        EXPECT_EQ(second.GetLastError(), EWOULDBLOCK);
        EXPECT_FALSE(second.Finish());
    }
    ::close(holder);
    EXPECT_EQ(fs::file_size(fs::path(path)), 0u);

    // An empty file nobody holds is taken over.
    KmlTrackWriter first;
    ASSERT_TRUE(first.Open(path));
    first.AddPoint(Fix(5.0f, 6.0f, 7.0f));
    ASSERT_TRUE(first.Finish());
    EXPECT_EQ(ReadFile(path), ExpectedKml({"5,6,7"}));
}

TEST(KmlTrackWriter, ReopeningStartsAFreshTrackAndCompletesTheFirst)
{
    TempFolder dir;
    KmlTrackWriter writer;
    ASSERT_TRUE(writer.Open(dir.File("a.kml")));
    writer.AddPoint(Fix(1.0f, 1.0f, 1.0f));
    ASSERT_TRUE(writer.Open(dir.File("b.kml")));
    writer.AddPoint(Fix(2.0f, 2.0f, 2.0f));
    ASSERT_TRUE(writer.Finish());
    EXPECT_EQ(ReadFile(dir.File("a.kml")), ExpectedKml({"1,1,1"}));
    EXPECT_EQ(ReadFile(dir.File("b.kml")), ExpectedKml({"2,2,2"}));
}

TEST(KmlTrackWriter, DiskFullingUpKeepsACompleteTrackOfThePointsBefore)
{
    TempFolder dir;
    const std::wstring path = dir.File("track.kml");
    // Room for the empty track and two points, not for the third.
    const std::size_t room = ExpectedKml({"1,2,3", "4,5,6"}).size() + 10;
    KmlTrackWriter writer(FileCalls{.write = FillingDisk{room}});
    ASSERT_TRUE(writer.Open(path));
    ASSERT_TRUE(writer.AddPoint(Fix(1.0f, 2.0f, 3.0f)));
    ASSERT_TRUE(writer.AddPoint(Fix(4.0f, 5.0f, 6.0f)));
    EXPECT_FALSE(writer.AddPoint(Fix(7.0f, 8.0f, 9.0f)));
    EXPECT_EQ(writer.GetLastError(), ENOSPC);
    EXPECT_EQ(ReadFile(path), ExpectedKml({"1,2,3", "4,5,6"}));

    // Full before the first point: the empty form comes back.
    const std::wstring empty = dir.File("empty.kml");
    KmlTrackWriter early(FileCalls{.write = FillingDisk{ExpectedKml({}).size() + 5}});
    ASSERT_TRUE(early.Open(empty));
    EXPECT_FALSE(early.AddPoint(Fix(1.0f, 2.0f, 3.0f)));
    EXPECT_TRUE(early.Finish());
    EXPECT_EQ(ReadFile(empty), ExpectedKml({}));
}

TEST(KmlTrackWriter, PointLinesMatchLibkmlsSerialiser)
{
    // The growing file is written without libkml: each line must be what libkml writes.
    const GpsData rows[] = {Fix(121.5654f, 25.033f, 100.5f), Fix(-0.0001f, 89.99999f, -430.25f),
                            Fix(179.99998f, -89.5f, 8848.86f), Fix(0.0f, 0.0f, 0.0f), Fix(1e-7f, -1e-7f, 1e9f),
                            Fix(-123.456789f, 45.0f, 12.0f)};
    kmldom::KmlFactory* factory = kmldom::KmlFactory::GetFactory();
    for (const GpsData& row : rows)
    {
        kmldom::CoordinatesPtr coordinates = factory->CreateCoordinates();
        coordinates->add_latlngalt(row.latitude, row.longitude, row.altitude);
        kmldom::LineStringPtr line = factory->CreateLineString();
        line->set_coordinates(coordinates);
        const std::string text = kmldom::SerializePretty(line);
        const std::string point = KmlTrackWriter::PointLine(row);
        EXPECT_NE(text.find(" " + point.substr(12)), std::string::npos) << text << " lacks " << point;
    }
}

} // namespace
