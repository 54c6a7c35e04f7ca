#include "recording/KmlTrackWriter.h"

#include "support/Files.h"
#include "support/KmlText.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <kml/dom.h>
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

TEST(KmlTrackWriter, FileIsEmptyUntilFinish)
{
    TempFolder dir;
    const std::wstring path = dir.File("track.kml");
    {
        std::ofstream(fs::path(path)) << "an older recording";
    }
    KmlTrackWriter writer;
    ASSERT_TRUE(writer.Open(path));
    EXPECT_TRUE(fs::exists(fs::path(path)));
    EXPECT_EQ(fs::file_size(fs::path(path)), 0u);
    writer.AddPoint(Fix(1.0f, 2.0f, 3.0f));
    EXPECT_EQ(fs::file_size(fs::path(path)), 0u);
    ASSERT_TRUE(writer.Finish());
    EXPECT_EQ(ReadFile(path), ExpectedKml({"1,2,3"}));
    // Finished once: a second call writes nothing more.
    EXPECT_FALSE(writer.Finish());
    EXPECT_EQ(ReadFile(path), ExpectedKml({"1,2,3"}));
}

TEST(KmlTrackWriter, DestroyedWithoutFinishLeavesTheFileEmpty)
{
    TempFolder dir;
    const std::wstring path = dir.File("track.kml");
    {
        KmlTrackWriter writer;
        ASSERT_TRUE(writer.Open(path));
        writer.AddPoint(Fix(1.0f, 2.0f, 3.0f));
    }
    ASSERT_TRUE(fs::exists(fs::path(path)));
    EXPECT_EQ(fs::file_size(fs::path(path)), 0u);
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
    KmlTrackWriter first;
    ASSERT_TRUE(first.Open(path));
    first.AddPoint(Fix(5.0f, 6.0f, 7.0f));
    {
        KmlTrackWriter second;
        EXPECT_FALSE(second.Open(path));
        second.AddPoint(Fix(8.0f, 9.0f, 10.0f));
        EXPECT_FALSE(second.Finish());
    }
    ASSERT_TRUE(first.Finish());
    EXPECT_EQ(ReadFile(path), ExpectedKml({"5,6,7"}));

    // Stopped and started again under the same name: the new track replaces the old.
    KmlTrackWriter again;
    ASSERT_TRUE(again.Open(path));
    EXPECT_EQ(fs::file_size(fs::path(path)), 0u);
    again.AddPoint(Fix(-1.0f, -2.0f, 3.5f));
    ASSERT_TRUE(again.Finish());
    EXPECT_EQ(ReadFile(path), ExpectedKml({"-1,-2,3.5"}));
}

TEST(KmlTrackWriter, ReopeningStartsAFreshTrack)
{
    TempFolder dir;
    KmlTrackWriter writer;
    ASSERT_TRUE(writer.Open(dir.File("a.kml")));
    writer.AddPoint(Fix(1.0f, 1.0f, 1.0f));
    ASSERT_TRUE(writer.Open(dir.File("b.kml")));
    writer.AddPoint(Fix(2.0f, 2.0f, 2.0f));
    ASSERT_TRUE(writer.Finish());
    EXPECT_EQ(fs::file_size(dir.Path() / "a.kml"), 0u);
    EXPECT_EQ(ReadFile(dir.File("b.kml")), ExpectedKml({"2,2,2"}));
}

TEST(KmlTrackWriter, DiskFullIsReported)
{
    if (!fs::is_character_file("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    KmlTrackWriter writer;
    ASSERT_TRUE(writer.Open(L"/dev/full"));
    writer.AddPoint(Fix(1.0f, 2.0f, 3.0f));
    EXPECT_FALSE(writer.Finish());
}

} // namespace
