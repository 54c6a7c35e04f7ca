#include "ui/MapView.h"

#include "recording/OrvaneDoc.h"
#include "ui/MapPage.h"

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
}

std::string CMapView::OfflineNoticePage()
{
    std::string page = ReadResource(":/map-offline.html");
    if (page.empty())
        page = "<!DOCTYPE html><html><body style=\"font-family: sans-serif; text-align: center;"
               " padding-top: 30%\"><h1>You are offline</h1><p>The map needs an internet connection.</p>"
               "</body></html>";
    return page;
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
    if (m_pNetwork->IsOnline())
        ShowMap(m_pszPage);
    else
        ShowOfflineNotice();
}

void CMapView::OnUpdate(CView* /*pSender*/, long lHint, void* /*pHint*/)
{
    if (lHint != HINT_GPS_DATA)
        return;
    if (!m_pNetwork->IsOnline())
    {
        ShowOfflineNotice();
        return;
    }

    // Back online after the notice: the map returns at once, not only after the next move.
    const bool bRestore = m_bOfflineShown;

    const auto* pDoc = dynamic_cast<const COrvaneDoc*>(GetDocument());
    const bool bFix = pDoc && pDoc->m_bConnected && pDoc->m_gps.fixMode >= 2;
    if (bFix && DistanceMetres(m_fLastLat, m_fLastLon, pDoc->m_gps.latitude, pDoc->m_gps.longitude) > kMinMoveMetres)
    {
        m_fLastLat = pDoc->m_gps.latitude;
        m_fLastLon = pDoc->m_gps.longitude;
        std::string page;
        if (CentreMapPage(m_pszPage, m_fLastLat, m_fLastLon, page))
        {
            ShowMap(std::move(page));
            return;
        }
    }
    if (bRestore)
        ShowMap(m_strShownMap);
}

void CMapView::ShowMap(std::string page)
{
    m_strShownMap = std::move(page);
    m_bOfflineShown = false;
    LoadFromText(m_strShownMap);
}

// Shown once per stay offline: reloading it at every sentence would only make it flicker.
void CMapView::ShowOfflineNotice()
{
    if (m_bOfflineShown)
        return;
    m_bOfflineShown = true;
    LoadFromText(OfflineNoticePage());
}
