// The map view in the real web engine, offscreen, with tiles from a server on 127.0.0.1.
#include "recording/OrvaneDoc.h"
#include "ui/TileServer.h"
#include "ui/MapView.h"

#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QVariant>
#include <QWebEnginePage>
#include <gtest/gtest.h>

#include <functional>

namespace
{
class SwitchableNetwork : public INetworkStatus
{
public:
    explicit SwitchableNetwork(const bool& bOnline) : m_bOnline(bOnline) {}
    bool IsOnline() override { return m_bOnline; }

private:
    const bool& m_bOnline;
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
    // What held when it was seen: a page may start loading again right after.
    bool held = false;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!held && condition())
        {
            held = true;
            loop.quit();
        }
    });
    deadline.start(timeoutMs);
    poll.start(25);
    loop.exec();
    return held || condition();
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

// The pictures are kept for a person to look at; the folder is made here so a clean build has it.
QString GrabPath(const char* name)
{
    const QString folder = QStringLiteral(ORVANE_BINARY_DIR "/tests/ui/grabs");
    QDir().mkpath(folder);
    return folder + QStringLiteral("/%1.png").arg(QLatin1String(name));
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
        m_bOnline = bOnline;
        auto view = std::make_unique<CMapView>(nullptr, std::make_unique<SwitchableNetwork>(m_bOnline));
        EXPECT_TRUE(view->SetTileServer(m_server.UrlTemplate().toStdString()));
        view->resize(876, 700);
        view->show();
        m_doc.AddView(view.get());
        return view;
    }

    void Move(float lat, float lon)
    {
        m_doc.m_gps.fixMode = 3;
        m_doc.m_gps.decode.known |= kKnownPosition;
        m_doc.m_gps.latitude = lat;
        m_doc.m_gps.longitude = lon;
        m_doc.UpdateAllViews(nullptr, HINT_GPS_DATA);
    }

    bool m_bOnline = true;
    TileServer m_server;
    COrvaneDoc m_doc;
};

// The marker ("lat,lon", six decimals) and whether the map, done panning, is on the centre to
// the pixel (a pan moves by whole pixels).
QString Shown(QWebEngineView& view, double centreLat, double centreLon)
{
    return Eval(view, QStringLiteral("var m = marker.getLatLng(); m.lat.toFixed(6) + ',' + m.lng.toFixed(6) +"
                                     " (map.project(map.getCenter()).distanceTo(map.project([%1, %2])) < 1 ? '' : ' off')")
                          .arg(centreLat, 0, 'f', 6)
                          .arg(centreLon, 0, 'f', 6))
        .toString();
}

// The drawn track as "lat,lon;lat,lon;...".
QString TrackPoints(QWebEngineView& view)
{
    return Eval(view, "track.getLatLngs().map(function (p) { return p.lat.toFixed(6) + ',' + p.lng.toFixed(6); }).join(';')")
        .toString();
}

// The page the first fix loads, centred at street zoom: the stored page answers until it has.
constexpr const char* kCentredReady =
    "typeof map !== 'undefined' && map !== null && typeof marker !== 'undefined' && map.getZoom() === 17";
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
    m_doc.m_gps.decode.known |= kKnownPosition;
    m_doc.m_gps.latitude = 24.5f;
    m_doc.m_gps.longitude = 121.0f;
    m_doc.UpdateAllViews(nullptr, HINT_GPS_DATA);
    ASSERT_TRUE(WaitFor([&] { return EvalTrue(*view, kCentredReady); }));
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
    EXPECT_TRUE(EvalTrue(*view, "retryTimer !== null && retrySeconds === 30")) << "no retry planned";
    EXPECT_TRUE(view->grab().toImage().save(GrabPath("map-tiles-failed")));

    // A retry asks for the centre's tile alone; when it brings nothing, the next waits twice as
    // long, and the map's tiles stay as they were.
    const int errors = Eval(*view, "tileErrors").toInt();
    const qsizetype requests = m_server.m_paths.size();
    Eval(*view, "clearTimeout(retryTimer); retryTimer = null; retryTiles();");
    ASSERT_TRUE(WaitFor([&] { return EvalTrue(*view, "retryTimer !== null"); }));
    EXPECT_EQ(m_server.m_paths.size(), requests + 1);
    EXPECT_EQ(m_server.m_paths.last(), QStringLiteral("/2/2/1.png")) << "the centre's tile";
    EXPECT_EQ(Eval(*view, "tileErrors").toInt(), errors);
    EXPECT_EQ(Eval(*view, "retrySeconds").toInt(), 60);

    // The tiles come back: the planned retry brings the map back without a new page.
    m_server.SetFailing(TileServer::Failing::None);
    Eval(*view, "clearTimeout(retryTimer); retryTiles();");
    ASSERT_TRUE(WaitFor([&] { return EvalTrue(*view, kTilesSettled); }));
    EXPECT_GT(Eval(*view, "tilesLoaded").toInt(), 0);
    EXPECT_EQ(Eval(*view, "retrySeconds").toInt(), 30) << "the first tile starts the count again";
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

// Later moves go by script: no page loads, the user's zoom stays, the track grows, and the
// map pans only when the marker nears its edge.
TEST_F(MapEngineTest, MovesPanWithoutLoadingAndKeepTheZoom)
{
    auto view = MakeView(true);
    int loads = 0;
    QObject::connect(view.get(), &QWebEngineView::loadStarted, [&] { ++loads; });
    QObject::connect(view.get(), &QWebEngineView::loadFinished, [&] { ++loads; });
    m_doc.SendInitialUpdate();
    Move(24.5f, 121.0f);
    ASSERT_TRUE(WaitFor([&] { return EvalTrue(*view, kCentredReady) && TrackPoints(*view) == "24.500000,121.000000"; }));
    const int loadsBefore = loads;
    Eval(*view, "map.setZoom(14, { animate: false })");

    struct Step
    {
        float lat, lon;
        double centreLat, centreLon;
        QString track;
    };
    // The map's centre: it pans only once the marker leaves the middle three fifths of the map
    // (about 280 by 420 pixels around the centre at zoom 14), and then to the position's centre.
    for (const Step& step : {Step{24.51f, 121.0f, 24.4995, 120.9995, "24.500000,121.000000;24.510000,121.000000"},
                             Step{24.51f, 121.02f, 24.4995, 120.9995,
                                  "24.500000,121.000000;24.510000,121.000000;24.510000,121.019997"},
                             Step{24.51f, 121.05f, 24.5095, 121.049503,
                                  "24.500000,121.000000;24.510000,121.000000;24.510000,121.019997;24.510000,121.050003"}})
    {
        Move(step.lat, step.lon);
        const QString marker = step.track.section(';', -1);
        EXPECT_TRUE(WaitFor([&] { return Shown(*view, step.centreLat, step.centreLon) == marker; }))
            << Shown(*view, step.centreLat, step.centreLon).toStdString();
        EXPECT_EQ(TrackPoints(*view), step.track);
        EXPECT_EQ(Eval(*view, "map.getZoom()").toInt(), 14) << "the user's zoom";
    }
    EXPECT_EQ(loads, loadsBefore) << "a move loaded a page";
    EXPECT_EQ(Eval(*view, "document.querySelectorAll('.leaflet-marker-icon').length").toInt(), 1);
}

// A mouse drag stops the following; the marker and track go on; the follow button re-centres.
TEST_F(MapEngineTest, DraggingPausesFollowingUntilTheButton)
{
    auto view = MakeView(true);
    m_doc.SendInitialUpdate();
    Move(24.5f, 121.0f);
    ASSERT_TRUE(WaitFor([&] { return EvalTrue(*view, kCentredReady) && EvalTrue(*view, kTilesSettled); }));
    constexpr const char* kButtonShown = "document.querySelector('.follow-button').offsetParent !== null";
    EXPECT_FALSE(EvalTrue(*view, kButtonShown)) << "the button shows only while paused";

    // Real time between the moves: the page draws a drag at its animation frames.
    QWidget* surface = view->focusProxy();
    ASSERT_NE(surface, nullptr);
    QTest::mousePress(surface, Qt::LeftButton, Qt::NoModifier, QPoint(400, 400));
    for (int x = 390; x >= 200; x -= 10)
    {
        QTest::mouseMove(surface, QPoint(x, 400));
        QTest::qWait(20);
    }
    QTest::mouseRelease(surface, Qt::LeftButton, Qt::NoModifier, QPoint(200, 400));
    ASSERT_TRUE(WaitFor([&] { return EvalTrue(*view, kButtonShown); })) << "the drag did not pause";
    EXPECT_NE(Shown(*view, 24.4995, 120.9995), "24.500000,121.000000") << "the map did not move";

    Move(24.51f, 121.0f);
    ASSERT_TRUE(WaitFor([&] { return TrackPoints(*view) == "24.500000,121.000000;24.510000,121.000000"; }));
    EXPECT_EQ(Shown(*view, 24.5095, 120.9995), "24.510000,121.000000 off");
    EXPECT_FALSE(WaitFor([&] { return Shown(*view, 24.5095, 120.9995) == "24.510000,121.000000"; }, 1500))
        << "the map followed while paused";
    EXPECT_TRUE(view->grab().toImage().save(GrabPath("map-paused")));

    Eval(*view, "document.querySelector('.follow-button').click()");
    EXPECT_TRUE(WaitFor([&] { return Shown(*view, 24.5095, 120.9995) == "24.510000,121.000000"; }));
    EXPECT_FALSE(EvalTrue(*view, kButtonShown));
    Move(24.52f, 121.0f);
    EXPECT_TRUE(WaitFor([&] { return Shown(*view, 24.5195, 120.9995) == "24.520000,121.000000"; })) << "not following";
}

// Moves while the centred page still loads, and a reload, lose nothing.
TEST_F(MapEngineTest, APageThatLoadsLateOrAgainGetsTheMarkerAndTrack)
{
    auto view = MakeView(true);
    m_doc.SendInitialUpdate();
    Move(24.5f, 121.0f);
    Move(24.51f, 121.0f);
    Move(24.52f, 121.01f);
    bool reloaded = false;
    QObject::connect(view.get(), &QWebEngineView::loadFinished, [&](bool ok) { reloaded = ok; });
    for (int pass = 0; pass < 2; ++pass)
    {
        if (pass == 1)
        {
            reloaded = false;
            view->reload();
            ASSERT_TRUE(WaitFor([&] { return reloaded; }));
        }
        ASSERT_TRUE(WaitFor([&] {
            return EvalTrue(*view, kCentredReady) &&
                   TrackPoints(*view) == "24.500000,121.000000;24.510000,121.000000;24.520000,121.010002";
        })) << "pass " << pass << ": " << TrackPoints(*view).toStdString();
        EXPECT_TRUE(WaitFor([&] { return Shown(*view, 24.5195, 121.009502) == "24.520000,121.010002"; }));
    }
}

// Offline the page stays the map: a small banner over it, the marker, track and scale on a plain
// background where no tile can be had. Back online, the failed tiles are asked for again.
TEST_F(MapEngineTest, OfflineKeepsTheMapUnderABanner)
{
    m_server.SetFailing(TileServer::Failing::All);
    auto view = MakeView(false);
    m_doc.SendInitialUpdate();
    Move(24.5f, 121.0f);
    Move(24.51f, 121.0f);
    ASSERT_TRUE(WaitFor([&] { return EvalTrue(*view, kCentredReady) && TrackPoints(*view).count(';') == 1; }));
    EXPECT_TRUE(WaitFor([&] { return EvalTrue(*view, "document.getElementById('offline').className === 'shown'"); }));
    EXPECT_TRUE(Eval(*view, "document.getElementById('offline').innerText").toString().contains("You are offline"));
    EXPECT_TRUE(WaitFor([&] { return Shown(*view, 24.5095, 120.9995) == "24.510000,121.000000"; }));
    EXPECT_TRUE(EvalTrue(*view, "document.querySelector('.leaflet-control-scale').offsetParent !== null"));
    // Small, centred at the top, clear of the marker.
    EXPECT_TRUE(EvalTrue(*view, "var r = document.getElementById('offline').getBoundingClientRect();"
                                " var p = map.latLngToContainerPoint(marker.getLatLng());"
                                " r.top < 40 && r.height < 80 && r.width < 776 && Math.abs(r.left + r.width / 2 - 438) < 2"
                                " && p.y - 41 > r.bottom"));
    EXPECT_TRUE(view->grab().toImage().save(GrabPath("map-offline")));

    int loads = 0;
    QObject::connect(view.get(), &QWebEngineView::loadStarted, [&] { ++loads; });
    m_server.SetFailing(TileServer::Failing::None);
    m_bOnline = true;
    m_doc.UpdateAllViews(nullptr, HINT_GPS_DATA);
    EXPECT_TRUE(WaitFor([&] { return Eval(*view, "tilesLoaded").toInt() > 0 && EvalTrue(*view, kTilesSettled); }));
    EXPECT_EQ(Eval(*view, "document.getElementById('offline').className").toString(), "");
    EXPECT_EQ(TrackPoints(*view).count(';'), 1);
    EXPECT_EQ(loads, 0);
}

// Tiles are kept on disk under the user's cache folder and show again without their server.
TEST_F(MapEngineTest, TilesSeenBeforeShowFromTheDiskCache)
{
    QTemporaryDir cacheHome;
    ASSERT_TRUE(cacheHome.isValid());
    const QByteArray savedHome = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", cacheHome.path().toLocal8Bit());
    const QString folder = CHtmlViewEx::StorageFolder();
    EXPECT_EQ(folder, cacheHome.path() + "/orvane/web");
    m_server.SetCacheable(true);
    for (const bool bServed : {true, false})
    {
        m_server.SetFailing(bServed ? TileServer::Failing::None : TileServer::Failing::All);
        const qsizetype asked = m_server.m_paths.size();
        auto view = MakeView(bServed);
        m_doc.SendInitialUpdate();
        Move(24.5f, 121.0f);
        ASSERT_TRUE(WaitFor([&] { return EvalTrue(*view, kCentredReady) && EvalTrue(*view, kTilesSettled); }));
        EXPECT_GT(Eval(*view, "tilesLoaded").toInt(), 0) << "served " << bServed;
        EXPECT_EQ(Eval(*view, "tileErrors").toInt(), 0) << "served " << bServed;
        if (!bServed)
        {
            EXPECT_TRUE(m_server.m_paths.mid(asked).filter(QRegularExpression("^/17/")).isEmpty())
                << "cached tiles asked for again: " << m_server.m_paths.mid(asked).join(' ').toStdString();
        }
        m_doc.RemoveView(view.get());
    }
    EXPECT_TRUE(QDirIterator(folder + "/cache", QDir::Files, QDirIterator::Subdirectories).hasNext())
        << "no cache in " << folder.toStdString();
    savedHome.isNull() ? qunsetenv("XDG_CACHE_HOME") : qputenv("XDG_CACHE_HOME", savedHome);
}
