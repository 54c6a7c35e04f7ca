#pragma once

#include "framework/core/Document.h"
#include "ui/HtmlViewEx.h"
#include "ui/NetworkStatus.h"

#include <memory>
#include <string>

// The web map of the receiver's position, right of the status panel. It reloads its stored
// page, centred on the position, after each move of more than 30 metres with a 2D or 3D fix.
class CMapView : public CHtmlViewEx, public CView
{
public:
    // Without a network status of its own the view asks the platform.
    explicit CMapView(QWidget* pParent = nullptr, std::unique_ptr<INetworkStatus> pNetwork = nullptr);

    void OnInitialUpdate() override;
    void OnUpdate(CView* pSender, long lHint, void* pHint) override;

    // Points the map's tiles at another server, e.g. "https://tiles.example.org/{z}/{x}/{y}.png".
    // Takes effect at the next load; false when the page cannot take the address.
    bool SetTileServer(const std::string& urlTemplate);

    // The notice shown instead of the map while the computer is offline.
    static std::string OfflineNoticePage();

    // Where the map was last centred (its marker).
    float GetLastLatitude() const { return m_fLastLat; }
    float GetLastLongitude() const { return m_fLastLon; }

protected:
    float m_fLastLat = 0.0f;
    float m_fLastLon = 0.0f;
    std::string m_pszPage;

private:
    void ShowMap(std::string page);
    void ShowOfflineNotice();

    std::unique_ptr<INetworkStatus> m_pNetwork;
    std::string m_strShownMap;
    bool m_bOfflineShown = false;
};
