#pragma once

#include "framework/FrameWnd.h"
#include "framework/core/CommandIds.h"
#include "gps/History.h"
#include "gps/TimeToFix.h"
#include "net/SourceAddress.h"
#include "playback/LogPlayer.h"
#include "receiver/ReceiverFamily.h"
#include "session/GpsSession.h"
#include "settings/Settings.h"
#include "ui/SourcetableDialog.h"

#include <QTimer>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <thread>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class COrvaneDoc;
class QWidget;

// The program's one top-level window: its menu, its size and title, and what the user is told.
// It keeps the port and baud rate the setup view chose, makes a session for each source the
// user connects to or plays, hands the session's lines to the document and the views, and
// sends the receiver's restart commands through it.
class CMainFrame : public CFrameWnd
{
public:
    // The whole window, frame included.
    static constexpr int kWidth = 1280;
    static constexpr int kHeight = 768;
    // A recording's unsynced lines reach the medium within this, however quiet the stream.
    static constexpr int kSyncMs = 1000;

    CMainFrame();
    ~CMainFrame() override;

    // Used at the next connect; an open port keeps what it was opened with.
    void SetPortName(const std::wstring& portName);
    void SetBaudRate(int baudRate);
    const std::wstring& GetPortName() const { return m_strPortName; }
    int GetBaudRate() const { return m_nBaudRate; }
    // Where a serial open asks which ports gpsd holds; 127.0.0.1:2947 unless set.
    void SetGpsdAddress(const SourceAddress& gpsd) { m_gpsdAddress = gpsd; }
    // The caster whose corrections go to the receiver (ntrip://...), and where the receiver is
    // shared (HOST:PORT); empty for none. Used at the next connect.
    void SetCorrections(const std::wstring& address) { m_strCorrections = address; }
    void SetShare(const std::wstring& address) { m_strShare = address; }
    const std::wstring& GetCorrections() const { return m_strCorrections; }
    const std::wstring& GetShare() const { return m_strShare; }
    // Lets the user pick one of the caster's streams: the mountpoint, or nullopt.
    using MountpointChooser =
        std::function<std::optional<std::string>(QWidget* pOwner, const NtripCaster& caster, std::optional<GeoPosition>)>;
    void SetMountpointChooser(MountpointChooser chooser) { m_chooseMountpoint = std::move(chooser); }
    // The chooser, with the receiver's position when it has a fix; nullopt when nothing was chosen.
    std::optional<std::string> ChooseMountpoint(const NtripCaster& caster);

    CGPSDevice& GetDevice() { return m_pSession->Device(); }

    // Connects (true) or disconnects (false), sets the document's m_bConnected and tells the
    // views with HINT_CONNECTION_CHANGED. Each connect is a new session, whose port opens on a
    // worker thread, the window staying live meanwhile: a network source shows as connected
    // (so that Disconnect cancels it) and the views get HINT_SOURCE_CONNECTING; a serial port
    // shows once it is open. A port that cannot be opened leaves the document disconnected and
    // the user is told why.
    void ConnectDevice(bool bConnect);
    // True from ConnectDevice(true) until its open has ended or was cancelled.
    bool IsConnecting() const { return m_pSession->IsConnecting(); }
    // What the views show while connecting, e.g. "Connecting to 127.0.0.1:2947…".
    static std::wstring ConnectingText(const std::wstring& sourceText);

    // The session's lines have not all reached the views yet.
    bool IsUpdatePending() const { return m_pSession->IsUpdatePending(); }

    // Plays a recorded NMEA log in place of the receiver, from its start at its own pace: the
    // views show it as connected, the title names it. The file is indexed on a worker first,
    // the title showing how far, and the source before plays on meanwhile. A file that cannot
    // be played leaves the window as it was and the user is told why: at once (false) for
    // what is not a readable regular file, after the indexing for one without NMEA.
    bool OpenLog(const std::wstring& path);
    bool IsOpeningLog() const { return m_pLogOpening != nullptr; }
    // Stops the log, or its indexing, and shows the window disconnected. Safe when none plays.
    void CloseLog();
    // File > Open Log…: asks for the file.
    void OnFileOpenLog();
    const std::shared_ptr<LogPlayer>& GetPlayer() const { return m_pSession->Player(); }

    void OnHotStart();
    void OnWarmStart();
    void OnColdStart();

    // Where the receiver families chosen by hand are kept, per port.
    void SetSettings(AppSettings& settings) { m_pSettings = &settings; }
    // Tools > Receiver: the family whose commands go to the receiver on this port while it has
    // not said its own; Unknown for Automatic.
    void ChooseReceiverFamily(ReceiverFamily family);
    ReceiverFamily ChosenReceiverFamily() const;
    // Who the connected receiver is, as its session has recognised it.
    const ReceiverIdentity& GetReceiverIdentity() const { return m_pSession->Identity(); }
    const CGpsSession& GetSession() const { return *m_pSession; }

    bool OnCommand(unsigned id) override;

    // The restart items are disabled for a source that takes no bytes (udp://, gpsd://), while
    // the port is being opened or is given up to the baud probe, and for a kind of start the
    // receiver's family has no command for. The Receiver items offer a choice while the
    // connected receiver has not said its family.
    bool OnUpdateCommand(CCmdUI& ui) override;

protected:
    bool OnCreate() override;
    bool OnCreateClient(CDocument* pDoc) override;
    void showEvent(QShowEvent* e) override;
    void moveEvent(QMoveEvent* e) override;

    // A new session, the current one closed and gone with whatever it had queued; wired to this
    // window. With bStartSource, for a source about to open: the document and the views forget
    // the last one.
    virtual CGpsSession& NewSession(bool bStartSource = true);

private:
    COrvaneDoc* Doc() const;
    // Hands the views the player to steer, or none once the log closed.
    void TellViewsOfPlayback(COrvaneDoc& doc);
    void BuildMenuBar();
    // Sizes the client so that frame and client together are kWidth x kHeight.
    void FitFrameToSize();

    // The session's signals.
    void OnLinesArrived(const std::vector<ReceivedLine>& batch);
    void OnOpened(CGpsSession::Clock::time_point at);
    void OnFailed(const SessionError& error);
    void OnLost(const std::wstring& path);
    void OnBaudDetected(int fromRate, int toRate);
    void OnCorrectionSent(const std::string& frame, bool bWritten);
    void OnCorrectionsStatus(const NtripStatus& status);
    // The source is open: starts the share and the corrections the settings ask for.
    void StartShare(CGpsSession& session);
    void StartCorrections(CGpsSession& session);
    void TellNetworkNote(const std::wstring& text, bool bCorrections);

    void SetConnected(bool bConnected, bool bTellViews);
    // Writes the family's command and, when it went out, marks it in the history and has the
    // views count to the first fix.
    void SendRestartCommand(RestartKind kind);
    void OnIdentityChanged(const ReceiverIdentity& identity);
    // The port the Receiver choice is kept for: the session's while one is open, else the
    // one chosen for the next connect.
    const std::wstring& ReceiverChoicePort() const;
    ReceiverFamily FamilyChosenFor(const std::wstring& port) const;
    void StartFixSearch(FixSearch kind, TimeToFix::Clock::time_point start,
                        ReceiverFamily family = ReceiverFamily::Unknown);
    void SetTitleFor(const std::wstring& logPath);
    // Once the log is indexed: plays it, or says why it cannot be.
    bool StartLog(std::shared_ptr<LogPlayer> player, const std::wstring& path);
    void OnLogOpeningTick();
    // Calls off an indexing under way; the title is as it was before.
    void CancelLogOpening();

    // A log being indexed on its worker; going, it cancels the indexing and joins the worker.
    struct LogOpening
    {
        std::shared_ptr<LogPlayer> player;
        std::wstring path;
        // The title before, given back when the opening ends.
        QString title;
        LogIndexing progress;
        std::atomic<bool> bIndexed{false};
        std::thread worker;
        // Reads the progress into the title and sees the end.
        QTimer* pTimer = nullptr;
        ~LogOpening();
    };
    std::unique_ptr<LogOpening> m_pLogOpening;
    std::wstring m_strPortName;
    // The port the current session opened, as it was named.
    std::wstring m_strSessionPort;
    // The application's settings once it has handed them over; until then, the frame's own.
    AppSettings m_ownSettings;
    AppSettings* m_pSettings = &m_ownSettings;
    int m_nBaudRate = 9600;
    std::wstring m_strCorrections;
    std::wstring m_strShare;
    // Where the current session's corrections come from, for the terminal: no credentials.
    std::string m_strCorrectionsSource;
    MountpointChooser m_chooseMountpoint;
    // 127.0.0.1 rather than localhost: no name to look up on every serial open.
    SourceAddress m_gpsdAddress{SourceAddress::Kind::Gpsd, "127.0.0.1", SourceAddress::kGpsdPort};
    // Whether the views showed a connection when the open under way began.
    bool m_bOpenReplacesShown = false;
    QTimer m_syncTimer;
    std::unique_ptr<CGpsSession> m_pSession;
};

// The view that fills the client area; the one place that decides which view that is.
QWidget* CreateMainView(CMainFrame* pFrame, CDocument* pDoc);
