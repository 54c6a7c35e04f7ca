#pragma once

#include "framework/core/Document.h"
#include "ui/HtmlViewEx.h"
#include "ui/MapPage.h"
#include "ui/NetworkStatus.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

// The web map of the receiver's position, right of the status panel. The first position with a
// 2D or 3D fix loads its stored page centred there; every later move of more than 30 metres
// moves the marker, extends the drawn track and pans the map by script, keeping the user's zoom.
// Offline the map stays, with a small notice over it.
class CMapView : public CHtmlViewEx, public CView
{
public:
    // The drawn track is thinned, oldest points first, beyond this many points.
    static constexpr std::size_t kMaxTrackPoints = 5000;

    // Without a network status of its own the view asks the platform.
    explicit CMapView(QWidget* pParent = nullptr, std::unique_ptr<INetworkStatus> pNetwork = nullptr);

    void OnInitialUpdate() override;
    void OnUpdate(CView* pSender, long lHint, const ViewHint& hint) override;

    // Points the map's tiles at another server, e.g. "https://tiles.example.org/{z}/{x}/{y}.png".
    // Takes effect at the next load; false when the page cannot take the address.
    bool SetTileServer(const std::string& urlTemplate);

    // Where the map was last centred (its marker).
    double GetLastLatitude() const { return m_dLastLat; }
    double GetLastLongitude() const { return m_dLastLon; }
    // The positions put on the map so far, oldest first, as drawn.
    const std::vector<MapPoint>& GetTrack() const { return m_track; }

protected:
    // A document finished loading: a new page gets the marker, the track and the notice.
    void OnPageLoaded(bool bOk);

    double m_dLastLat = 0.0;
    double m_dLastLon = 0.0;
    std::string m_pszPage;

private:
    void ShowMap(std::string page);
    void ShowPosition(MapPoint position);
    void SetOffline(bool bOffline);
    void RunWhenLoaded(const std::string& script);

    std::unique_ptr<INetworkStatus> m_pNetwork;
    std::string m_strShownMap;
    std::vector<MapPoint> m_track;
    // Scripts reach only a loaded page; until then the state waits for OnPageLoaded.
    bool m_bPageLoaded = false;
    bool m_bOffline = false;
};
