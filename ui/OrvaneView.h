#pragma once

#include "framework/core/Document.h"
#include "gps/GpsData.h"
#include "ui/ImageButton.h"
#include "ui/LogCtrl.h"
#include "playback/LogPlayer.h"
#include "ui/NetworkStatus.h"
#include "ui/StatusPanel.h"

#include <QElapsedTimer>
#include <QTimer>

#include <QWidget>

#include <memory>
#include <vector>

class CMemDCEx;
class CMapView;
class CPlayerBar;
class COrvaneDoc;
class CSetupView;
class QTabWidget;

// The main view: the status panel drawn on the left, the connect and record buttons on it, the
// setup form and the terminal in tabs under it, and the map to its right.
class COrvaneView : public QWidget, public CView
{
public:
    static constexpr int kTabsId = 2001;
    static constexpr int kConnectId = 2002;
    static constexpr int kRecordId = 2003;

    explicit COrvaneView(QWidget* pParent = nullptr);
    ~COrvaneView() override;

    // Joins the document first, then builds the child windows, whose views join after it.
    // A network status for the map may be given (tests); by default the platform's is used.
    bool Create(CDocument* pDoc, std::unique_ptr<INetworkStatus> pNetwork = nullptr);

    void OnUpdate(CView* pSender, long lHint, void* pHint) override;

    void OnConnect();
    void OnRecord();

    COrvaneDoc* GetOrvaneDoc() const;
    const GpsData& GetGps() const { return m_gps; }
    // False once shown values are old: disconnected, or no valid sentence for kStaleMs.
    bool IsLive() const;
    static constexpr int kStaleMs = 3000;
    QTabWidget* GetTabs() const { return m_tabs; }
    CSetupView* GetSetupView() const { return m_pSetupView; }
    CMapView* GetMapView() const { return m_pMapView; }
    // Under the map while a recorded log plays, hidden otherwise.
    CPlayerBar* GetPlayerBar() const { return m_pPlayerBar; }
    CLogCtrl& GetLogCtrl() { return m_logCtrl; }
    CImageButton& GetConnectButton() { return m_btnConnect; }
    CImageButton& GetRecordButton() { return m_btnRecord; }
    // The panel's off-screen surface, made by the first paint and reused by every later one.
    const CMemDCEx* GetPanelSurface() const { return m_pPanelDC.get(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // The lines the frame handed to the document, or none.
    void OnGpsData(const std::vector<ReceivedLine>* pLines);
    void ShowConnectImages(bool bConnected);
    void ShowRecordImages(bool bRecording);
    void EnableRecordButton();
    // A log started (pPlayer set) or stopped playing.
    void OnPlaybackChanged(const std::shared_ptr<LogPlayer>* pPlayer);
    void LayOutMapAndPlayer();

    QTabWidget* m_tabs = nullptr;
    CSetupView* m_pSetupView = nullptr;
    CMapView* m_pMapView = nullptr;
    CPlayerBar* m_pPlayerBar = nullptr;
    CLogCtrl m_logCtrl;
    CImageButton m_btnConnect;
    CImageButton m_btnRecord;
    GpsData m_gps{};
    PanelResources m_res;
    std::unique_ptr<CMemDCEx> m_pPanelDC;
    // When the last valid sentence came; the panel dims values older than kStaleMs.
    QElapsedTimer m_lastSentence;
    QTimer m_staleTimer;
    bool m_bHadData = false;
    // A network source is being opened: the fix box says so.
    bool m_bConnecting = false;
};
