#include "ui/MapView.h"

#include "recording/OrvaneDoc.h"

#include <QFile>

namespace
{
constexpr double kMinMoveMetres = 30.0;

std::string ReadResource(const char* path)
{
    QFile file(QString::fromLatin1(path));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().toStdString();
}
}

CMapView::CMapView(QWidget* pParent, std::unique_ptr<INetworkStatus> pNetwork)
    : CHtmlViewEx(pParent), m_pszPage(ReadResource(":/map.html")), m_pNetwork(std::move(pNetwork))
{
    if (!m_pNetwork)
        m_pNetwork = CreateSystemNetworkStatus();
    m_strShownMap = m_pszPage;
    connect(this, &QWebEngineView::loadFinished, this, [this](bool bOk) { OnPageLoaded(bOk); });
    // A crashed page comes back with everything it showed.
    connect(page(), &QWebEnginePage::renderProcessTerminated, this,
            [this](QWebEnginePage::RenderProcessTerminationStatus status, int) {
                if (status != QWebEnginePage::NormalTerminationStatus)
                    ShowMap(m_strShownMap);
            });
}

bool CMapView::SetTileServer(const std::string& urlTemplate)
{
    if (!SetPageTileUrl(m_pszPage, urlTemplate))
        return false;
    SetPageTileUrl(m_strShownMap, urlTemplate);
    return true;
}

void CMapView::OnInitialUpdate()
{
    CView::OnInitialUpdate();
    Navigate(QUrl(QStringLiteral("about:blank")));
    m_bOffline = !m_pNetwork->IsOnline();
    ShowMap(m_pszPage);
}

void CMapView::OnUpdate(CView* /*pSender*/, long lHint, const ViewHint& /*hint*/)
{
    if (lHint == HINT_SOURCE_STARTED)
    {
        // Another source: its first fix starts a track of its own on a fresh page.
        if (!m_track.empty())
        {
            m_track.clear();
            m_dLastLat = 0.0;
            m_dLastLon = 0.0;
            ShowMap(m_pszPage);
        }
        return;
    }
    if (lHint != HINT_GPS_DATA)
        return;
    SetOffline(!m_pNetwork->IsOnline());

    const auto* pDoc = dynamic_cast<const COrvaneDoc*>(GetDocument());
    // A lost fix clears the position while the last GSA's mode may still say 3D: only a
    // position some sentence sent moves the marker.
    const bool bFix = pDoc && pDoc->m_bConnected && HasFixedPosition(pDoc->m_gps);
    if (bFix && DistanceMetres(m_dLastLat, m_dLastLon, pDoc->m_gps.latitude, pDoc->m_gps.longitude) > kMinMoveMetres)
        ShowPosition({pDoc->m_gps.latitude, pDoc->m_gps.longitude});
}

void CMapView::OnPageLoaded(bool bOk)
{
    if (!bOk)
        return;
    m_bPageLoaded = true;
    // The whole state at once: the page may be new (first load, reload), or about:blank
    // finishing late, where the calls do nothing and the map page's own load follows.
    std::string script = OfflineScript(m_bOffline);
    if (!m_track.empty())
        script += "\n" + TrackScript(m_track);
    RunScript(script);
}

// The first position replaces the world view by the page centred there; later ones are
// scripted, so the user's zoom and the page's tiles stay.
void CMapView::ShowPosition(MapPoint position)
{
    const bool bFirst = m_track.empty();
    m_dLastLat = position.latitude;
    m_dLastLon = position.longitude;
    m_track.push_back(position);
    if (ThinTrack(m_track, kMaxTrackPoints))
    {
        RunWhenLoaded(TrackScript(m_track));
        return;
    }
    std::string page;
    if (bFirst && CentreMapPage(m_pszPage, position.latitude, position.longitude, page))
        ShowMap(std::move(page));
    else
        RunWhenLoaded(MovePositionScript(position));
}

void CMapView::SetOffline(bool bOffline)
{
    if (bOffline == m_bOffline)
        return;
    m_bOffline = bOffline;
    RunWhenLoaded(OfflineScript(bOffline));
}

void CMapView::RunWhenLoaded(const std::string& script)
{
    if (m_bPageLoaded)
        RunScript(script);
}

void CMapView::ShowMap(std::string page)
{
    m_strShownMap = std::move(page);
    m_bPageLoaded = false;
    LoadFromText(m_strShownMap);
}
