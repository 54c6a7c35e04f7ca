#include "recording/OrvaneDoc.h"
#include "ui/MapPage.h"
#include "ui/MapView.h"

#include <QUrl>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace
{
class FakeNetwork : public INetworkStatus
{
public:
    explicit FakeNetwork(bool& bOnline) : m_bOnline(bOnline) {}
    bool IsOnline() override { return m_bOnline; }

private:
    bool& m_bOnline;
};

// The real view, with the browser's loads recorded instead of rendered.
class RecordingMapView : public CMapView
{
public:
    explicit RecordingMapView(bool& bOnline) : CMapView(nullptr, std::make_unique<FakeNetwork>(bOnline)) {}

    void LoadFromText(const std::string& text) override { m_loads.push_back(text); }
    void Navigate(const QUrl& url) override { m_navigations.push_back(url); }
    void RunScript(const std::string& script) override { m_scripts.push_back(script); }
    // The browser reports the last load as finished.
    void Loaded(bool bOk = true) { OnPageLoaded(bOk); }

    std::string StoredPage() const { return m_pszPage; }
    double LastLat() const { return m_dLastLat; }
    double LastLon() const { return m_dLastLon; }

    std::vector<std::string> m_loads;
    std::vector<QUrl> m_navigations;
    std::vector<std::string> m_scripts;
};

// Degrees of latitude for a distance along a meridian.
double NorthDegrees(double metres)
{
    return metres / 6372797.560856 / 0.017453292519943295;
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

bool IsMapCentredOn(const std::string& page, const std::string& centre, const std::string& marker)
{
    return page.find("map.setView([" + centre + "], 17);") != std::string::npos &&
           page.find("L.marker([" + marker + "])") != std::string::npos;
}

class MapViewTest : public ::testing::Test
{
protected:
    void SetUp() override { m_doc.AddView(&m_view); }

    void Fix(int fixMode, float lat, float lon, bool bKnown = true)
    {
        m_doc.m_gps.fixMode = fixMode;
        m_doc.m_gps.decode.known = bKnown ? kKnownPosition : 0;
        m_doc.m_gps.latitude = lat;
        m_doc.m_gps.longitude = lon;
    }
    void Notify(long hint = HINT_GPS_DATA) { m_doc.UpdateAllViews(nullptr, hint); }

    bool m_bOnline = true;
    COrvaneDoc m_doc;
    RecordingMapView m_view{m_bOnline};
};
}

TEST_F(MapViewTest, InitialUpdateShowsStoredPageAfterBlankOnlineOrNot)
{
    for (const bool bOnline : {true, false})
    {
        bool bNetwork = bOnline;
        COrvaneDoc doc;
        RecordingMapView view{bNetwork};
        doc.AddView(&view);
        doc.SendInitialUpdate();
        ASSERT_EQ(view.m_navigations.size(), 1u);
        EXPECT_EQ(view.m_navigations[0], QUrl("about:blank"));
        ASSERT_EQ(view.m_loads.size(), 1u) << "online " << bOnline;
        EXPECT_FALSE(view.StoredPage().empty());
        EXPECT_EQ(view.m_loads[0], view.StoredPage()) << "the map, not a notice, online " << bOnline;
        EXPECT_TRUE(Contains(view.m_loads[0], "map.setView([46.686733, 2.212465], 2);"));
        EXPECT_TRUE(view.m_scripts.empty()) << "no script before the page has loaded";

        // The loaded page learns whether to show its notice, and nothing else yet.
        view.Loaded();
        ASSERT_EQ(view.m_scripts.size(), 1u);
        EXPECT_EQ(view.m_scripts[0], OfflineScript(!bOnline));
    }
}

TEST_F(MapViewTest, FirstFixReloadsCentredPage)
{
    m_doc.m_bConnected = 1;
    Fix(3, 24.5f, 121.0f);
    Notify();
    ASSERT_EQ(m_view.m_loads.size(), 1u);
    std::string expected;
    ASSERT_TRUE(CentreMapPage(m_view.StoredPage(), 24.5f, 121.0f, expected));
    EXPECT_EQ(m_view.m_loads[0], expected);
    EXPECT_TRUE(IsMapCentredOn(m_view.m_loads[0], "24.499500, 120.999500", "24.500000, 121.000000"));
    EXPECT_FLOAT_EQ(m_view.LastLat(), 24.5f);
    EXPECT_FLOAT_EQ(m_view.LastLon(), 121.0f);
    EXPECT_TRUE(m_view.m_scripts.empty());

    m_view.Loaded();
    ASSERT_EQ(m_view.m_scripts.size(), 1u);
    EXPECT_EQ(m_view.m_scripts[0], OfflineScript(false) + "\n" + TrackScript({{24.5f, 121.0f}}));
}

TEST_F(MapViewTest, LaterMovesOfMoreThanThirtyMetresAreScripted)
{
    m_doc.m_bConnected = 1;
    Fix(2, 24.5f, 121.0f);
    Notify();
    ASSERT_EQ(m_view.m_loads.size(), 1u);
    m_view.Loaded();
    m_view.m_scripts.clear();

    const float lat20 = static_cast<float>(24.5 + NorthDegrees(20.0));
    const float lat31 = static_cast<float>(24.5 + NorthDegrees(31.0));
    const float lat62 = static_cast<float>(24.5 + NorthDegrees(62.0));
    ASSERT_NEAR(DistanceMetres(24.5, 121.0, lat20, 121.0), 20.0, 0.5);
    ASSERT_NEAR(DistanceMetres(24.5, 121.0, lat31, 121.0), 31.0, 0.5);
    struct Step
    {
        const char* name;
        float lat;
        bool bMoves;
        float shownLat;
    };
    // Distances count from the last position shown, not from the previous fix.
    for (const Step& step : {Step{"20 m is no move", lat20, false, 24.5f}, Step{"31 m from the shown one", lat31, true, lat31},
                             Step{"standing still", lat31, false, lat31}, Step{"31 m more", lat62, true, lat62}})
    {
        const std::size_t scripts = m_view.m_scripts.size();
        Fix(2, step.lat, 121.0f);
        Notify();
        EXPECT_EQ(m_view.m_loads.size(), 1u) << step.name << ": no page is loaded";
        ASSERT_EQ(m_view.m_scripts.size(), scripts + (step.bMoves ? 1 : 0)) << step.name;
        if (step.bMoves)
        {
            EXPECT_EQ(m_view.m_scripts.back(), MovePositionScript({step.lat, 121.0f})) << step.name;
        }
        EXPECT_FLOAT_EQ(m_view.LastLat(), step.shownLat) << step.name;
    }
    ASSERT_EQ(m_view.GetTrack().size(), 3u);
    EXPECT_FLOAT_EQ(m_view.GetTrack()[1].latitude, lat31);
    EXPECT_FLOAT_EQ(m_view.GetTrack()[2].latitude, lat62);
}

TEST_F(MapViewTest, NoFixOrDisconnectedNeverMoves)
{
    struct Case
    {
        const char* name;
        int connected;
        int fixMode;
        bool known;
    };
    // A lost fix's GGA clears the position while the last GSA's 3D stands until the next GSA.
    for (const Case& c : {Case{"no fix", 1, 1, true}, Case{"fix mode 0", 1, 0, true},
                          Case{"disconnected 3D", 0, 3, true}, Case{"disconnected 2D", 0, 2, true},
                          Case{"3D without a position", 1, 3, false}})
    {
        m_doc.m_bConnected = c.connected;
        Fix(c.fixMode, c.known ? 24.5f : 0.0f, c.known ? 121.0f : 0.0f, c.known);
        Notify();
        EXPECT_TRUE(m_view.m_loads.empty()) << c.name;
        EXPECT_TRUE(m_view.GetTrack().empty()) << c.name;
        EXPECT_FLOAT_EQ(m_view.LastLat(), 0.0f) << c.name;
    }
}

TEST_F(MapViewTest, ALostFixKeepsTheMarkerWhereItWas)
{
    m_doc.SendInitialUpdate();
    m_view.Loaded();
    m_doc.m_bConnected = 1;
    Fix(3, 24.5f, 121.0f);
    Notify();
    m_view.Loaded();
    Fix(3, 0.0f, 0.0f, false);
    Notify();
    ASSERT_EQ(m_view.GetTrack().size(), 1u);
    EXPECT_FLOAT_EQ(m_view.LastLat(), 24.5f);
    for (const std::string& script : m_view.m_scripts)
        EXPECT_FALSE(Contains(script, "0.000000, 0.000000")) << script;
}

TEST_F(MapViewTest, OtherHintsAreIgnored)
{
    m_doc.SendInitialUpdate();
    m_view.Loaded();
    const std::size_t scripts = m_view.m_scripts.size();
    m_doc.m_bConnected = 1;
    Fix(3, 24.5f, 121.0f);
    Notify(HINT_CONNECTION_CHANGED);
    Notify(HINT_RECORDING_CHANGED);
    Notify(0);
    EXPECT_EQ(m_view.m_loads.size(), 1u);
    m_bOnline = false;
    Notify(HINT_CONNECTION_CHANGED);
    EXPECT_EQ(m_view.m_scripts.size(), scripts) << "the network is looked at only at new data";
}

// Offline the map stays: the notice comes and goes by script, and positions still arrive.
TEST_F(MapViewTest, OfflineKeepsTheMapAndTogglesTheNotice)
{
    m_doc.m_bConnected = 1;
    Fix(3, 24.5f, 121.0f);
    Notify();
    m_view.Loaded();
    m_view.m_scripts.clear();

    struct Step
    {
        const char* name;
        bool bOnline;
        double lat;
        std::vector<std::string> scripts;
    };
    const MapPoint moved{25.5f, 121.0f};
    for (const Step& step :
         {Step{"goes offline", false, 24.5f, {OfflineScript(true)}},
          Step{"stays offline: no flicker", false, 24.5f, {}},
          Step{"moves offline", false, moved.latitude, {MovePositionScript(moved)}},
          Step{"back online without a move", true, moved.latitude, {OfflineScript(false)}},
          Step{"stays online", true, moved.latitude, {}}})
    {
        m_bOnline = step.bOnline;
        Fix(3, step.lat, 121.0f);
        m_view.m_scripts.clear();
        Notify();
        EXPECT_EQ(m_view.m_scripts, step.scripts) << step.name;
        EXPECT_EQ(m_view.m_loads.size(), 1u) << step.name << ": the page stays";
    }
    EXPECT_FLOAT_EQ(m_view.LastLat(), 25.5f);
}

// Moves that come while a page loads are kept, and any page that loads (the first, a reload,
// about:blank finishing late) gets the whole track; a failed load gets nothing.
TEST_F(MapViewTest, EveryLoadedPageGetsTheWholeTrack)
{
    m_doc.m_bConnected = 1;
    const std::vector<MapPoint> track{{24.5f, 121.0f}, {24.6f, 121.0f}, {24.6f, 121.1f}};
    for (const MapPoint& point : track)
    {
        Fix(3, point.latitude, point.longitude);
        Notify();
    }
    EXPECT_EQ(m_view.m_loads.size(), 1u);
    EXPECT_TRUE(m_view.m_scripts.empty()) << "nothing reaches a page still loading";

    const std::string restore = OfflineScript(false) + "\n" + TrackScript(track);
    m_view.Loaded(false);
    EXPECT_TRUE(m_view.m_scripts.empty());
    m_view.Loaded();
    ASSERT_EQ(m_view.m_scripts.size(), 1u);
    EXPECT_EQ(m_view.m_scripts[0], restore);
    EXPECT_TRUE(Contains(restore, "[24.600000, 121.099998]], 24.600000, 121.099998, 24.599500, 121.099498")) << restore;

    m_view.Loaded();
    ASSERT_EQ(m_view.m_scripts.size(), 2u);
    EXPECT_EQ(m_view.m_scripts[1], restore);
}

TEST_F(MapViewTest, TileServerIsADeploymentValue)
{
    ASSERT_TRUE(m_view.SetTileServer("https://tiles.example.org/{z}/{x}/{y}.png"));
    EXPECT_FALSE(m_view.SetTileServer("https://x/'+alert(1)+'"));
    m_doc.SendInitialUpdate();
    ASSERT_EQ(m_view.m_loads.size(), 1u);
    EXPECT_NE(m_view.m_loads[0].find("'https://tiles.example.org/{z}/{x}/{y}.png'"), std::string::npos);
    EXPECT_EQ(m_view.m_loads[0].find("tile.openstreetmap.org"), std::string::npos);
}
