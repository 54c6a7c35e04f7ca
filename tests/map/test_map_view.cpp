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

    std::string StoredPage() const { return m_pszPage; }
    float LastLat() const { return m_fLastLat; }
    float LastLon() const { return m_fLastLon; }

    std::vector<std::string> m_loads;
    std::vector<QUrl> m_navigations;
};

// Degrees of latitude for a distance along a meridian.
double NorthDegrees(double metres)
{
    return metres / 6372797.560856 / 0.017453292519943295;
}

bool IsOfflineNotice(const std::string& page)
{
    return page.find("You are offline") != std::string::npos && page.find("L.map(") == std::string::npos;
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

    void Fix(int fixMode, float lat, float lon)
    {
        m_doc.m_gps.fixMode = fixMode;
        m_doc.m_gps.latitude = lat;
        m_doc.m_gps.longitude = lon;
    }
    void Notify(long hint = HINT_GPS_DATA) { m_doc.UpdateAllViews(nullptr, hint); }

    bool m_bOnline = true;
    COrvaneDoc m_doc;
    RecordingMapView m_view{m_bOnline};
};
}

TEST_F(MapViewTest, InitialUpdateOnlineShowsStoredPageAfterBlank)
{
    m_doc.SendInitialUpdate();
    ASSERT_EQ(m_view.m_navigations.size(), 1u);
    EXPECT_EQ(m_view.m_navigations[0], QUrl("about:blank"));
    ASSERT_EQ(m_view.m_loads.size(), 1u);
    EXPECT_FALSE(m_view.StoredPage().empty());
    EXPECT_EQ(m_view.m_loads[0], m_view.StoredPage());
    EXPECT_NE(m_view.m_loads[0].find("map.setView([46.686733, 2.212465], 2);"), std::string::npos);
}

TEST_F(MapViewTest, InitialUpdateOfflineShowsNotice)
{
    m_bOnline = false;
    m_doc.SendInitialUpdate();
    ASSERT_EQ(m_view.m_navigations.size(), 1u);
    EXPECT_EQ(m_view.m_navigations[0], QUrl("about:blank"));
    ASSERT_EQ(m_view.m_loads.size(), 1u);
    EXPECT_TRUE(IsOfflineNotice(m_view.m_loads[0]));
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
}

TEST_F(MapViewTest, ReloadsOnlyAfterMoreThanThirtyMetres)
{
    m_doc.m_bConnected = 1;
    Fix(2, 24.5f, 121.0f);
    Notify();
    ASSERT_EQ(m_view.m_loads.size(), 1u);

    const float lat20 = static_cast<float>(24.5 + NorthDegrees(20.0));
    ASSERT_NEAR(DistanceMetres(24.5, 121.0, lat20, 121.0), 20.0, 0.5);
    Fix(2, lat20, 121.0f);
    Notify();
    EXPECT_EQ(m_view.m_loads.size(), 1u) << "20 m is no move";
    EXPECT_FLOAT_EQ(m_view.LastLat(), 24.5f) << "the last shown position stays";

    // 31 m from the last shown position (11 m from the previous fix).
    const float lat31 = static_cast<float>(24.5 + NorthDegrees(31.0));
    ASSERT_NEAR(DistanceMetres(24.5, 121.0, lat31, 121.0), 31.0, 0.5);
    Fix(2, lat31, 121.0f);
    Notify();
    ASSERT_EQ(m_view.m_loads.size(), 2u);
    std::string expected;
    ASSERT_TRUE(CentreMapPage(m_view.StoredPage(), lat31, 121.0f, expected));
    EXPECT_EQ(m_view.m_loads[1], expected);
    EXPECT_FLOAT_EQ(m_view.LastLat(), lat31);

    Fix(2, lat31, 121.0f);
    Notify();
    EXPECT_EQ(m_view.m_loads.size(), 2u) << "standing still";
}

TEST_F(MapViewTest, NoFixOrDisconnectedNeverReloads)
{
    struct Case
    {
        const char* name;
        int connected;
        int fixMode;
    };
    for (const Case& c : {Case{"no fix", 1, 1}, Case{"fix mode 0", 1, 0}, Case{"disconnected 3D", 0, 3},
                          Case{"disconnected 2D", 0, 2}})
    {
        m_doc.m_bConnected = c.connected;
        Fix(c.fixMode, 24.5f, 121.0f);
        Notify();
        EXPECT_TRUE(m_view.m_loads.empty()) << c.name;
        EXPECT_FLOAT_EQ(m_view.LastLat(), 0.0f) << c.name;
    }
}

TEST_F(MapViewTest, OtherHintsAreIgnored)
{
    m_doc.m_bConnected = 1;
    Fix(3, 24.5f, 121.0f);
    Notify(HINT_CONNECTION_CHANGED);
    Notify(HINT_RECORDING_CHANGED);
    Notify(0);
    EXPECT_TRUE(m_view.m_loads.empty());
    m_bOnline = false;
    Notify(HINT_CONNECTION_CHANGED);
    EXPECT_TRUE(m_view.m_loads.empty()) << "offline notice only at new data";
}

TEST_F(MapViewTest, OfflineSendsNoticeEvenOverTheMap)
{
    m_doc.m_bConnected = 1;
    Fix(3, 24.5f, 121.0f);
    Notify();
    ASSERT_EQ(m_view.m_loads.size(), 1u);

    m_bOnline = false;
    Fix(3, 25.5f, 121.0f);
    Notify();
    ASSERT_EQ(m_view.m_loads.size(), 2u);
    EXPECT_TRUE(IsOfflineNotice(m_view.m_loads[1]));
    EXPECT_FLOAT_EQ(m_view.LastLat(), 24.5f) << "nothing was put on the map";

    Notify();
    Notify();
    EXPECT_EQ(m_view.m_loads.size(), 2u) << "the notice stays without reloading at every sentence";
}

TEST_F(MapViewTest, OfflineWithoutFixStillSendsNotice)
{
    m_bOnline = false;
    Notify();
    ASSERT_EQ(m_view.m_loads.size(), 1u);
    EXPECT_TRUE(IsOfflineNotice(m_view.m_loads[0]));
}

// Standing still while the network drops and returns must not leave the notice up for good.
TEST_F(MapViewTest, BackOnlineRestoresTheLastMapWithoutAMove)
{
    m_doc.m_bConnected = 1;
    Fix(3, 24.5f, 121.0f);
    Notify();
    ASSERT_EQ(m_view.m_loads.size(), 1u);
    const std::string shown = m_view.m_loads[0];

    m_bOnline = false;
    Notify();
    ASSERT_EQ(m_view.m_loads.size(), 2u);

    m_bOnline = true;
    Notify();
    ASSERT_EQ(m_view.m_loads.size(), 3u);
    EXPECT_EQ(m_view.m_loads[2], shown);
    Notify();
    EXPECT_EQ(m_view.m_loads.size(), 3u);

    // Back online after a real move: the map comes back at the new position.
    m_bOnline = false;
    Notify();
    m_bOnline = true;
    Fix(3, 25.0f, 121.0f);
    Notify();
    ASSERT_EQ(m_view.m_loads.size(), 5u);
    EXPECT_TRUE(IsMapCentredOn(m_view.m_loads[4], "24.999500, 120.999500", "25.000000, 121.000000"));
}

TEST_F(MapViewTest, StartedOfflineComesBackWithTheWorldView)
{
    m_bOnline = false;
    m_doc.SendInitialUpdate();
    ASSERT_EQ(m_view.m_loads.size(), 1u);
    m_bOnline = true;
    Notify();
    ASSERT_EQ(m_view.m_loads.size(), 2u);
    EXPECT_EQ(m_view.m_loads[1], m_view.StoredPage());
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
