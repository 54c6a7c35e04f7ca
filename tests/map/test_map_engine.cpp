// The map view in the real web engine, offscreen, with tiles from a server on 127.0.0.1.
#include "recording/OrvaneDoc.h"
#include "tests/map/TileServer.h"
#include "ui/MapView.h"

#include <QEventLoop>
#include <QImage>
#include <QRegularExpression>
#include <QTimer>
#include <QVariant>
#include <QWebEnginePage>
#include <gtest/gtest.h>

#include <functional>

namespace
{
class FixedNetwork : public INetworkStatus
{
public:
    explicit FixedNetwork(bool bOnline) : m_bOnline(bOnline) {}
    bool IsOnline() override { return m_bOnline; }

private:
    bool m_bOnline;
};

// Runs the event loop until the condition holds or the deadline passes.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 30000)
{
    if (condition())
        return true;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition())
            loop.quit();
    });
    deadline.start(timeoutMs);
    poll.start(25);
    loop.exec();
    return condition();
}

// Evaluates a script in the page and waits for its result (invalid on timeout).
QVariant Eval(QWebEngineView& view, const QString& script)
{
    bool done = false;
    QVariant result;
    view.page()->runJavaScript(script, [&](const QVariant& value) {
        result = value;
        done = true;
    });
    WaitFor([&] { return done; }, 10000);
    return result;
}

bool EvalTrue(QWebEngineView& view, const char* script)
{
    return Eval(view, QString::fromLatin1(script)).toBool();
}

// Every tile requested has arrived or failed, and the fade-in has finished.
constexpr const char* kTilesSettled =
    "typeof tiles !== 'undefined' && (tilesLoaded + tileErrors) > 0 && !tiles.isLoading() &&"
    " Array.from(document.querySelectorAll('.leaflet-tile-loaded'))"
    "      .every(function (t) { return getComputedStyle(t).opacity === '1'; })";

QString GrabPath(const char* name)
{
    return QStringLiteral(ORVANE_BINARY_DIR "/tests/map/%1.png").arg(QLatin1String(name));
}

class MapEngineTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_server.Listen());
        m_doc.m_bConnected = 1;
    }

    std::unique_ptr<CMapView> MakeView(bool bOnline)
    {
        auto view = std::make_unique<CMapView>(nullptr, std::make_unique<FixedNetwork>(bOnline));
        EXPECT_TRUE(view->SetTileServer(m_server.UrlTemplate().toStdString()));
        view->resize(876, 700);
        view->show();
        m_doc.AddView(view.get());
        return view;
    }

    TileServer m_server;
    COrvaneDoc m_doc;
};
}

TEST_F(MapEngineTest, MapShowsThePositionWithLocalTiles)
{
    auto view = MakeView(true);
    m_doc.SendInitialUpdate();
    ASSERT_TRUE(WaitFor([&] { return EvalTrue(*view, "typeof map !== 'undefined' && map !== null"); }));
    EXPECT_NEAR(Eval(*view, "map.getCenter().lat").toDouble(), 46.686733, 1e-6);
    EXPECT_NEAR(Eval(*view, "map.getCenter().lng").toDouble(), 2.212465, 1e-6);
    EXPECT_EQ(Eval(*view, "map.getZoom()").toInt(), 2);

    m_doc.m_gps.fixMode = 3;
    m_doc.m_gps.latitude = 24.5f;
    m_doc.m_gps.longitude = 121.0f;
    m_doc.UpdateAllViews(nullptr, HINT_GPS_DATA);
    ASSERT_TRUE(WaitFor([&] { return EvalTrue(*view, "typeof marker !== 'undefined'"); }));
    EXPECT_NEAR(Eval(*view, "map.getCenter().lat").toDouble(), 24.4995, 1e-6);
    EXPECT_NEAR(Eval(*view, "map.getCenter().lng").toDouble(), 120.9995, 1e-6);
    EXPECT_EQ(Eval(*view, "map.getZoom()").toInt(), 17);
    EXPECT_NEAR(Eval(*view, "marker.getLatLng().lat").toDouble(), 24.5, 1e-6);
    EXPECT_NEAR(Eval(*view, "marker.getLatLng().lng").toDouble(), 121.0, 1e-6);
    EXPECT_TRUE(EvalTrue(*view, "map.hasLayer(marker)"));

    // The marker's images come from the resources and did load.
    ASSERT_TRUE(WaitFor([&] { return EvalTrue(*view, "marker._icon.complete && marker._icon.naturalWidth > 0"); }));
    EXPECT_EQ(Eval(*view, "marker._icon.src").toString(), "qrc:/leaflet/images/marker-icon.png");
    EXPECT_TRUE(EvalTrue(*view, "marker._shadow.complete && marker._shadow.naturalWidth > 0"));

    ASSERT_TRUE(WaitFor([&] { return EvalTrue(*view, kTilesSettled); }));
    EXPECT_EQ(Eval(*view, "tileErrors").toInt(), 0);
    EXPECT_EQ(Eval(*view, "document.getElementById('offline').className").toString(), "");
    EXPECT_TRUE(EvalTrue(*view, "document.querySelector('.leaflet-control-zoom') !== null"));
    EXPECT_TRUE(EvalTrue(*view, "map.dragging.enabled()"));
    EXPECT_TRUE(EvalTrue(*view, "document.querySelector('.leaflet-control-attribution a[href=\"https://www.openstreetmap.org/copyright\"]') !== null"));

    ASSERT_FALSE(m_server.m_userAgents.isEmpty());
    for (const QString& agent : m_server.m_userAgents)
        EXPECT_EQ(agent, QString::fromLatin1(CHtmlViewEx::kUserAgent));
    EXPECT_TRUE(m_server.m_paths.filter(QRegularExpression("^/17/\\d+/\\d+\\.png$")).size() > 0)
        << m_server.m_paths.join(' ').toStdString();

    // The map fills its widget and follows it when it is resized.
    EXPECT_EQ(Eval(*view, "map.getSize().x").toInt(), 876);
    EXPECT_EQ(Eval(*view, "map.getSize().y").toInt(), 700);

    const QImage picture = view->grab().toImage();
    EXPECT_TRUE(picture.save(GrabPath("map-view")));

    view->resize(600, 500);
    EXPECT_TRUE(WaitFor([&] { return EvalTrue(*view, "map.getSize().x === 600 && map.getSize().y === 500"); }));
}

TEST_F(MapEngineTest, TilesThatCannotBeHadShowTheNotice)
{
    m_server.SetFailing(TileServer::Failing::All);
    auto view = MakeView(true);
    m_doc.SendInitialUpdate();
    ASSERT_TRUE(WaitFor([&] { return EvalTrue(*view, "typeof tiles !== 'undefined' && document.getElementById('offline').className === 'shown'"); }));
    EXPECT_EQ(Eval(*view, "tilesLoaded").toInt(), 0);
    EXPECT_GT(Eval(*view, "tileErrors").toInt(), 0);
    EXPECT_TRUE(Eval(*view, "document.getElementById('offline').innerText").toString().contains("You are offline"));
    EXPECT_TRUE(EvalTrue(*view, "retryTimer !== null")) << "no retry planned";
    EXPECT_TRUE(view->grab().toImage().save(GrabPath("map-tiles-failed")));

    // The tiles come back: the planned retry brings the map back without a new page.
    m_server.SetFailing(TileServer::Failing::None);
    Eval(*view, "clearTimeout(retryTimer); retryTiles();");
    ASSERT_TRUE(WaitFor([&] { return EvalTrue(*view, kTilesSettled); }));
    EXPECT_GT(Eval(*view, "tilesLoaded").toInt(), 0);
    EXPECT_EQ(Eval(*view, "document.getElementById('offline').className").toString(), "");
}

TEST_F(MapEngineTest, OneFailedTileKeepsTheMap)
{
    m_server.SetFailing(TileServer::Failing::First);
    auto view = MakeView(true);
    m_doc.SendInitialUpdate();
    ASSERT_TRUE(WaitFor([&] { return EvalTrue(*view, kTilesSettled); }));
    EXPECT_EQ(Eval(*view, "tileErrors").toInt(), 1);
    EXPECT_GT(Eval(*view, "tilesLoaded").toInt(), 0);
    EXPECT_EQ(Eval(*view, "document.getElementById('offline').className").toString(), "");
}

TEST_F(MapEngineTest, OfflineShowsTheNoticePage)
{
    auto view = MakeView(false);
    m_doc.SendInitialUpdate();
    ASSERT_TRUE(WaitFor([&] { return EvalTrue(*view, "document.body !== null && document.body.innerText.indexOf('You are offline') >= 0"); }));
    EXPECT_TRUE(EvalTrue(*view, "typeof L === 'undefined'")) << "the notice is not the map";
    EXPECT_TRUE(m_server.m_paths.isEmpty());
    EXPECT_TRUE(view->grab().toImage().save(GrabPath("map-offline")));
}
