#pragma once

#include "framework/core/Document.h"
#include "gps/CorrectionsSummary.h"
#include "gps/GpsData.h"
#include "gps/TimeToFix.h"
#include "ui/ImageButton.h"
#include "ui/LogCtrl.h"
#include "playback/LogPlayer.h"
#include "receiver/ReceiverFamily.h"
#include "ui/NetworkStatus.h"
#include "ui/PanelPacer.h"
#include "ui/StatusPanel.h"

#include <QElapsedTimer>
#include <QTimer>

#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

struct PlaybackHint;
class CMemDCEx;
class CMapView;
class CPlayerBar;
class COrvaneDoc;
class CHistoryView;
class CSetupView;
class QTabWidget;

// Sent by the frame as the port has opened or a restart command was written; the hint holds
// a FixSearchHint. The status panel counts from then to the first fix.
inline constexpr long HINT_FIX_SEARCH = 4101;
struct FixSearchHint
{
    FixSearch kind;
    TimeToFix::Clock::time_point start;
    // The family whose restart command was written: its answer is looked for.
    ReceiverFamily family = ReceiverFamily::Unknown;
};

// Sent by the frame as the receiver has told more of who it is, with a std::wstring: the one
// short line that names it ("u-blox M8 (ROM CORE 3.01)").
inline constexpr long HINT_RECEIVER_IDENTIFIED = 4102;

// Sent by the frame as corrections start for a session, with a std::string: the mountpoint.
inline constexpr long HINT_CORRECTIONS_STARTED = 4103;
// Sent by the frame for each frame of corrections handed to the receiver's port.
inline constexpr long HINT_CORRECTION_SENT = 4104;
struct CorrectionSentHint
{
    std::string frame;
    bool bWritten = true; // false: the port had no room and the frame was dropped
};
// Sent by the frame with a NetworkNote: what the corrections or the share are doing, for the
// terminal (and the panel's corrections line while no frames come).
inline constexpr long HINT_NETWORK_NOTE = 4105;
struct NetworkNote
{
    std::wstring text;
    bool bCorrections = false;
};
// Sent by the frame as a stream was chosen from the caster's list on Connect, with a
// std::wstring: the whole corrections address.
inline constexpr long HINT_CORRECTIONS_CHOSEN = 4106;

// The main view: the status panel drawn on the left, the connect and record buttons on it, the
// setup form, the terminal, the history and the accuracy plot in tabs under it, and the map to its right.
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

    void OnUpdate(CView* pSender, long lHint, const ViewHint& hint) override;

    void OnConnect();
    void OnRecord();

    COrvaneDoc* GetOrvaneDoc() const;
    // The record the panel shows: the document's as it stood when the panel was last due.
    const GpsData& GetGps() const { return m_gps; }
    // False once shown values are old: disconnected, or no valid sentence for kStaleMs.
    bool IsLive() const;
    static constexpr int kStaleMs = 3000;
    // How often the time to first fix is redrawn while it is being counted.
    static constexpr int kFixCountMs = 100;
    // What the panel shows of the time to first fix now; empty when nothing.
    QString TimeToFixText() const;
    bool IsCountingToFix() const { return m_fixCountTimer.isActive(); }
    // The panel's corrections line now; empty while no corrections were started.
    QString CorrectionsText() const;
    // How often the corrections line is redrawn while corrections run: its age and rate move.
    static constexpr int kCorrectionsRedrawMs = 1000;
    // The receiver as the panel names it; empty before it has said anything of itself.
    const QString& ReceiverText() const { return m_strReceiver; }
    QTabWidget* GetTabs() const { return m_tabs; }
    CSetupView* GetSetupView() const { return m_pSetupView; }
    CMapView* GetMapView() const { return m_pMapView; }
    CHistoryView* GetHistoryView() const { return m_pHistoryView; }
    CHistoryView* GetAccuracyView() const { return m_pAccuracyView; }
    // Under the map while a recorded log plays, hidden otherwise.
    CPlayerBar* GetPlayerBar() const { return m_pPlayerBar; }
    CLogCtrl& GetLogCtrl() { return m_logCtrl; }
    CImageButton& GetConnectButton() { return m_btnConnect; }
    CImageButton& GetRecordButton() { return m_btnRecord; }
    // The panel's off-screen surface, made by the first paint and reused by every later one.

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // The lines the frame handed to the document, or none.
    void OnGpsData(const std::vector<ReceivedLine>* pLines);
    // Draws the panel when its pacer says so, or sets the timer for when it will.
    void SchedulePanel();
    // Takes the document's record and repaints the parts of the panel that differ.
    void ShowRecord(const GpsData& gps);
    void ShowConnectImages(bool bConnected);
    void ShowRecordImages(bool bRecording);
    void EnableRecordButton();
    // A log started (pPlayer set) or stopped playing.
    void OnPlaybackChanged(const PlaybackHint* pHint);
    void LayOutMapAndPlayer();

    QTabWidget* m_tabs = nullptr;
    CSetupView* m_pSetupView = nullptr;
    CMapView* m_pMapView = nullptr;
    CHistoryView* m_pHistoryView = nullptr;
    CHistoryView* m_pAccuracyView = nullptr;
    CPlayerBar* m_pPlayerBar = nullptr;
    CLogCtrl m_logCtrl;
    CImageButton m_btnConnect;
    CImageButton m_btnRecord;
    GpsData m_gps{};
    QElapsedTimer m_panelClock;
    PanelPacer m_panelPacer{[this] { return m_panelClock.elapsed(); }};
    QTimer m_panelTimer;
    // Whether the last paint of the panel showed live values: a change needs the whole panel.
    bool m_bDrawnLive = true;
    PanelResources m_res;
    std::unique_ptr<CMemDCEx> m_pPanelDC;
    // When the last valid sentence came; the panel dims values older than kStaleMs.
    QElapsedTimer m_lastSentence;
    QTimer m_staleTimer;
    bool m_bHadData = false;
    // A network source is being opened: the fix box says so.
    bool m_bConnecting = false;
    TimeToFix m_timeToFix;
    // The restart command written last, while its answer (if its family gives one) has not come.
    struct AwaitedAnswer
    {
        ReceiverFamily family;
        RestartKind kind;
        FixSearch search;
    };
    std::optional<AwaitedAnswer> m_awaitedAnswer;
    QString m_strReceiver;
    // Runs only while the first fix is searched for.
    QTimer m_fixCountTimer;
    // The session's corrections, while they run; what the caster connection last said.
    std::optional<CorrectionsSummary> m_corrections;
    QString m_strCorrectionsNote;
    QTimer m_correctionsTimer;
    void StopCorrections();
};
