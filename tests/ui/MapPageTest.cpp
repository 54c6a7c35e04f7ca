#include "ui/MapPage.h"
#include "ui/NetworkStatus.h"

#include "support/Child.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace
{
std::string ResourceText(const char* path)
{
    QFile file(QString::fromLatin1(path));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().toStdString();
}

constexpr const char* kInitialCall = "map.setView([46.686733, 2.212465], 2);";
}

// ---- DistanceMetres ----

struct DistanceCase
{
    const char* name;
    double lat1, lon1, lat2, lon2;
    double expected;
    double tolerance;
};

class DistanceTest : public ::testing::TestWithParam<DistanceCase>
{
};

TEST_P(DistanceTest, MatchesKnownValue)
{
    const DistanceCase& c = GetParam();
    EXPECT_NEAR(DistanceMetres(c.lat1, c.lon1, c.lat2, c.lon2), c.expected, c.tolerance);
    EXPECT_NEAR(DistanceMetres(c.lat2, c.lon2, c.lat1, c.lon1), c.expected, c.tolerance) << "not symmetric";
}

// The radius makes one degree of arc exactly 111226.3 m. Nashville to Los Angeles is the
// classic haversine example: 2887.2599506 km with a radius of 6372.8 km, scaled to ours.
INSTANTIATE_TEST_SUITE_P(
    Known, DistanceTest,
    ::testing::Values(DistanceCase{"SamePoint", 24.5, 121.0, 24.5, 121.0, 0.0, 1e-9},
                      DistanceCase{"OneDegreeOfLatitude", 0.0, 0.0, 1.0, 0.0, 111226.3, 1e-6},
                      DistanceCase{"OneDegreeOfLongitudeOnEquator", 0.0, 10.0, 0.0, 11.0, 111226.3, 1e-6},
                      DistanceCase{"HalfWayRound", 0.0, 0.0, 0.0, 180.0, 20020734.0, 1e-4},
                      DistanceCase{"PoleToPole", 90.0, 0.0, -90.0, 0.0, 20020734.0, 1e-4},
                      DistanceCase{"AcrossTheDateLine", 0.0, 179.5, 0.0, -179.5, 111226.3, 1e-6},
                      DistanceCase{"NashvilleToLosAngeles", 36.12, -86.67, 33.94, -118.40,
                                   2887259.9506071106 * 6372797.560856 / 6372800.0, 0.01},
                      DistanceCase{"SixtyDegreesNorthHalvesLongitude", 60.0, 0.0, 60.0, 0.001,
                                   111.2263 * 0.5, 1e-3}),
    [](const ::testing::TestParamInfo<DistanceCase>& info) { return std::string(info.param.name); });

// ---- CentreMapPage ----

TEST(CentreMapPage, FirstFixIsCentredSouthWestWithMarker)
{
    const std::string page = ResourceText(":/map.html");
    const std::size_t call = page.find(kInitialCall);
    ASSERT_NE(call, std::string::npos) << "the stored page lost its initial centring call";

    std::string out;
    ASSERT_TRUE(CentreMapPage(page, 24.5f, 121.0f, out));

    const std::string indent = "\t\t\t";
    const std::string inserted = "map.setView([24.499500, 120.999500], 17);\n" + indent +
                                 "var marker = L.marker([24.500000, 121.000000]).addTo(map);";
    EXPECT_EQ(out.substr(0, call), page.substr(0, call));
    EXPECT_EQ(out.substr(call, inserted.size()), inserted);
    const std::string after = page.substr(call + std::string(kInitialCall).size());
    EXPECT_EQ(out.substr(call + inserted.size()), after);
    EXPECT_EQ(out.size(), page.size() - std::string(kInitialCall).size() + inserted.size());
}

struct CentreCase
{
    const char* name;
    float lat, lon;
    const char* centre;
    const char* marker;
};

class CentreNumbersTest : public ::testing::TestWithParam<CentreCase>
{
};

TEST_P(CentreNumbersTest, SixDecimalsWithPoint)
{
    const CentreCase& c = GetParam();
    std::string out;
    ASSERT_TRUE(CentreMapPage("x\nmap.setView([1, 2], 3);\ny", c.lat, c.lon, out));
    EXPECT_EQ(out, std::string("x\nmap.setView([") + c.centre + "], 17);\nvar marker = L.marker([" + c.marker +
                       "]).addTo(map);\ny");
}

INSTANTIATE_TEST_SUITE_P(
    Positions, CentreNumbersTest,
    ::testing::Values(CentreCase{"Taipei", 24.5f, 121.0f, "24.499500, 120.999500", "24.500000, 121.000000"},
                      CentreCase{"SouthWest", -33.5f, -70.25f, "-33.500500, -70.250500", "-33.500000, -70.250000"},
                      CentreCase{"NullIsland", 0.0f, 0.0f, "-0.000500, -0.000500", "0.000000, 0.000000"},
                      // The float's own value is printed, as the receiver's record holds it.
                      CentreCase{"FloatPrecision", 48.8566f, 2.3522f, "48.856102, 2.351700", "48.856602, 2.352200"},
                      CentreCase{"DateLine", 10.0f, -180.0f, "9.999500, -180.000500", "10.000000, -180.000000"}),
    [](const ::testing::TestParamInfo<CentreCase>& info) { return std::string(info.param.name); });

TEST(CentreMapPage, ReplacesOnlyTheFirstCallAndKeepsIndent)
{
    const std::string page = "\t  map.setView([1, 2], 3); // first\n\tmap.setView([4, 5], 6);\n";
    std::string out;
    ASSERT_TRUE(CentreMapPage(page, 1.0f, 2.0f, out));
    EXPECT_EQ(out, "\t  map.setView([0.999500, 1.999500], 17);\n\t  var marker = L.marker([1.000000, 2.000000]).addTo(map);"
                   " // first\n\tmap.setView([4, 5], 6);\n");
}

TEST(CentreMapPage, PageWithoutCentringCallIsLeftAlone)
{
    std::string out = "untouched";
    EXPECT_FALSE(CentreMapPage("", 24.5f, 121.0f, out));
    EXPECT_FALSE(CentreMapPage("<html>map.setCenter(new GLatLng(1, 2), 2);</html>", 24.5f, 121.0f, out));
    EXPECT_FALSE(CentreMapPage("map.setView([1, 2], 2)", 24.5f, 121.0f, out)) << "a call that never ends";
    EXPECT_EQ(out, "untouched");
}

// QApplication sets LC_NUMERIC from the environment; a decimal comma must not reach the page.
// Without an installed comma locale the test compiles a numeric-only one into a temporary folder.
TEST(CentreMapPage, IgnoresTheProcessLocale)
{
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    bool haveComma = false;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"})
        haveComma = haveComma || std::setlocale(LC_NUMERIC, name) != nullptr;

    QTemporaryDir folder;
    if (!haveComma && folder.isValid())
    {
        const QString source = folder.filePath("comma.src");
        QFile file(source);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("LC_NUMERIC\ndecimal_point \",\"\nthousands_sep \".\"\ngrouping 3;3\nEND LC_NUMERIC\n");
        file.close();
        const std::string command = "localedef -c -i '" + source.toStdString() + "' -f UTF-8 '" +
                                    folder.filePath("xx_XX.UTF-8").toStdString() + "' >/dev/null 2>&1";
        RunShell(command); // warns (1) about the missing categories
        setenv("LOCPATH", folder.path().toLocal8Bit().constData(), 1);
        haveComma = std::setlocale(LC_NUMERIC, "xx_XX.UTF-8") != nullptr;
        unsetenv("LOCPATH");
    }
    if (!haveComma)
        GTEST_SKIP() << "no locale with a decimal comma could be had";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    std::string out;
    const bool ok = CentreMapPage("map.setView([1, 2], 3);", 24.5f, 121.0f, out);
    std::setlocale(LC_NUMERIC, saved.c_str());
    ASSERT_STREQ(probe, "1,5") << "the locale under test does not use a decimal comma";
    ASSERT_TRUE(ok);
    EXPECT_EQ(out, "map.setView([24.499500, 120.999500], 17);\nvar marker = L.marker([24.500000, 121.000000]).addTo(map);");
}

// ---- SetPageTileUrl ----

TEST(SetPageTileUrl, PointsTheStoredPageAtAnotherServer)
{
    std::string page = ResourceText(":/map.html");
    ASSERT_NE(page.find("var tileUrl = 'https://tile.openstreetmap.org/{z}/{x}/{y}.png';"), std::string::npos);
    ASSERT_TRUE(SetPageTileUrl(page, "http://127.0.0.1:8080/{z}/{x}/{y}.png"));
    EXPECT_NE(page.find("var tileUrl = 'http://127.0.0.1:8080/{z}/{x}/{y}.png';"), std::string::npos);
    EXPECT_EQ(page.find("tile.openstreetmap.org"), std::string::npos);
    EXPECT_NE(page.find(kInitialCall), std::string::npos);
}

TEST(SetPageTileUrl, RefusesWhatWouldBreakThePage)
{
    const std::string original = ResourceText(":/map.html");
    for (const char* bad : {"http://x/'; alert(1); '", "http://x/\\", "http://x/\n", "http://x/</script>"})
    {
        std::string page = original;
        EXPECT_FALSE(SetPageTileUrl(page, bad)) << bad;
        EXPECT_EQ(page, original);
    }
    std::string noConstant = "<html></html>";
    EXPECT_FALSE(SetPageTileUrl(noConstant, "http://127.0.0.1/{z}/{x}/{y}.png"));
}

// ---- The stored pages ----

TEST(StoredPage, UsesLeafletFromResourcesAndOsmTiles)
{
    const std::string page = ResourceText(":/map.html");
    ASSERT_FALSE(page.empty());
    EXPECT_NE(page.find("<script src=\"qrc:/leaflet/leaflet.js\"></script>"), std::string::npos);
    EXPECT_NE(page.find("href=\"qrc:/leaflet/leaflet.css\""), std::string::npos);
    EXPECT_NE(page.find("imagePath = 'qrc:/leaflet/images/'"), std::string::npos);
    EXPECT_NE(page.find("&copy; <a href=\"https://www.openstreetmap.org/copyright\">OpenStreetMap</a> contributors"),
              std::string::npos);
    // Nothing but tiles may come from the network.
    EXPECT_EQ(page.find("src=\"http"), std::string::npos);
    EXPECT_EQ(page.find("stylesheet\" href=\"http"), std::string::npos);
    EXPECT_EQ(page.find("imagePath = 'http"), std::string::npos);
    EXPECT_EQ(page.find("map.setView("), page.find(kInitialCall)) << "the initial call must be the first";
}

TEST(StoredPage, LeafletAndItsImagesAreCompiledIn)
{
    for (const char* path : {":/leaflet/leaflet.js", ":/leaflet/leaflet.css", ":/leaflet/images/marker-icon.png",
                             ":/leaflet/images/marker-icon-2x.png", ":/leaflet/images/marker-shadow.png"})
        EXPECT_FALSE(ResourceText(path).empty()) << path;
}

TEST(StoredPage, OfflineIsABannerOverTheMap)
{
    const std::string page = ResourceText(":/map.html");
    EXPECT_NE(page.find("You are offline"), std::string::npos);
    // The full-page veil is gone, and so is the separate notice page.
    EXPECT_EQ(page.find("inset: 0"), std::string::npos);
    EXPECT_TRUE(ResourceText(":/map-offline.html").empty());
}

// ---- Scripts sent to the page ----

// Numbers only, the centre CentreMapPage's to the digit, and nothing done where the page lacks
// the function.
TEST(PageScripts, CallTheMapWithNumbersOnly)
{
    const std::pair<std::string, const char*> cases[] = {
        {MovePositionScript({24.5f, 121.0f}),
         "if (typeof showPosition === 'function') showPosition(24.500000, 121.000000, 24.499500, 120.999500);"},
        {MovePositionScript({-33.5f, -70.25f}),
         "if (typeof showPosition === 'function') showPosition(-33.500000, -70.250000, -33.500500, -70.250500);"},
        {TrackScript({}), "if (typeof setTrack === 'function') setTrack([]);"},
        {TrackScript({{1.0f, 2.0f}, {-3.25f, 4.5f}}),
         "if (typeof setTrack === 'function') setTrack([[1.000000, 2.000000], [-3.250000, 4.500000]],"
         " -3.250000, 4.500000, -3.250500, 4.499500);"},
        {OfflineScript(true), "if (typeof setOffline === 'function') setOffline(true);"}};
    for (const auto& [script, expected] : cases)
        EXPECT_EQ(script, expected);
}

// Point i is at longitude i, so what stays can be named: the first point, the order, and the
// newest half of the limit.
TEST(ThinTrack, KeepsTheStartAndTheNewestHalf)
{
    struct Case
    {
        std::size_t points, limit, expectedSize;
    };
    // 21 over 20: the older 11 keep indices 0, 2, ..., 10 (6), the newer 10 stay. 10 over 5 takes
    // three rounds (8, 6, 5); a limit below two is two.
    for (const Case& c : {Case{10, 20, 10}, Case{20, 20, 20}, Case{21, 20, 16}, Case{3, 2, 2}, Case{10, 5, 5},
                          Case{9, 0, 2}, Case{5001, 5000, 3751}})
    {
        std::vector<MapPoint> track;
        for (std::size_t i = 0; i < c.points; ++i)
            track.push_back({1.0f, static_cast<float>(i)});
        EXPECT_EQ(ThinTrack(track, c.limit), c.points > c.limit) << c.points << " over " << c.limit;
        ASSERT_EQ(track.size(), c.expectedSize) << c.points << " over " << c.limit;
        EXPECT_FLOAT_EQ(track.front().longitude, 0.0f);
        EXPECT_FLOAT_EQ(track.back().longitude, static_cast<float>(c.points - 1));
        for (std::size_t i = 1; i < track.size(); ++i)
            ASSERT_LT(track[i - 1].longitude, track[i].longitude) << "order kept, nothing doubled, at " << i;
        for (std::size_t i = 0; i < c.limit / 2 && i < track.size(); ++i)
            EXPECT_FLOAT_EQ(track[track.size() - 1 - i].longitude, static_cast<float>(c.points - 1 - i));
    }
}

// ---- Network status ----

TEST(NetworkStatus, OnlyAKnownDisconnectionIsOffline)
{
    EXPECT_TRUE(IsReachabilityOnline(NetworkReachability::NoBackend));
    EXPECT_TRUE(IsReachabilityOnline(NetworkReachability::Unknown));
    EXPECT_FALSE(IsReachabilityOnline(NetworkReachability::Disconnected));
    EXPECT_TRUE(IsReachabilityOnline(NetworkReachability::Local));
    EXPECT_TRUE(IsReachabilityOnline(NetworkReachability::Site));
    EXPECT_TRUE(IsReachabilityOnline(NetworkReachability::Online));
}
