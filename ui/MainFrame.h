#pragma once

#include "framework/FrameWnd.h"
#include "framework/core/CommandIds.h"
#include "gps/GPSDevice.h"
#include "gps/History.h"
#include "gps/TimeToFix.h"
#include "io/PortError.h"
#include "playback/LogPlayer.h"
#include "ui/BaudDetection.h"
#include "ui/UpdatePacer.h"

#include <boost/signals2/connection.hpp>

#include <QElapsedTimer>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class COrvaneDoc;
class QWidget;

// Posted from the reader thread when the port stopped because the receiver went away.
inline constexpr unsigned WM_GPS_DEVICE_LOST = WM_USER + 0x21;
// Posted from the open worker when its open has ended; wParam is the attempt's number.
inline constexpr unsigned WM_GPS_DEVICE_OPENED = WM_USER + 0x22;

// The program's one top-level window and the hub between the receiver and the views: it keeps
// the port and baud rate the setup view chose, opens and closes the device, turns the device's
// notifications (reader thread) into view updates (user-interface thread) and sends the
// receiver's restart commands.
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

    CGPSDevice& GetDevice() { return m_device; }

    // Connects (true) or disconnects (false), sets the document's m_bConnected and tells the
    // views with HINT_CONNECTION_CHANGED. The port opens on a worker thread, the window staying
    // live meanwhile: a network source shows as connected (so that Disconnect cancels it) and
    // the views get HINT_SOURCE_CONNECTING; a serial port shows once it is open. A port that
    // cannot be opened leaves the document disconnected and the user is told why.
    void ConnectDevice(bool bConnect);
    // True from ConnectDevice(true) until its open has ended or was cancelled.
    bool IsConnecting() const { return m_bConnecting; }
    // What the views show while connecting, e.g. "Connecting to 127.0.0.1:2947…".
    static std::wstring ConnectingText(const std::wstring& sourceText);

    // Reader thread: posts WM_GPS_UPDATE and touches nothing else.
    void OnDeviceNotify(int code);
    // User-interface thread, for a posted WM_GPS_UPDATE: hands the device's lines to the
    // document, then HINT_GPS_DATA (pHint: the lines) to all views, now or, too soon after
    // the last one, as the pacer says.
    bool IsUpdatePending() const { return m_bUpdatePosted.load(); }
    void OnGpsUpdate();

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
    const std::shared_ptr<LogPlayer>& GetPlayer() const { return m_pPlayer; }

    void OnHotStart();
    void OnWarmStart();
    void OnColdStart();

    bool OnCommand(unsigned id) override;

    // The restart items are disabled for a source that takes no bytes (udp://, gpsd://).
    bool OnUpdateCommand(CCmdUI& ui) override;

protected:
    bool OnCreate() override;
    bool OnCreateClient(CDocument* pDoc) override;
    void OnMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) override;
    void showEvent(QShowEvent* e) override;
    void moveEvent(QMoveEvent* e) override;

private:
    // Hands the views the player to steer, or none once the log closed.
    void TellViewsOfPlayback(COrvaneDoc& doc);
    void BuildMenuBar();
    // Sizes the client so that frame and client together are kWidth x kHeight.
    void FitFrameToSize();
    // Reader thread, once, when the port stopped on its own.
    void OnDeviceStopped();
    // User-interface thread: the receiver went away while connected.
    void OnDeviceLost();
    // The device's queued lines to the document, then HINT_GPS_DATA to the views; with
    // bOnlyIfAny, nothing when none are queued.
    void DeliverLines(bool bOnlyIfAny);
    // Starts the open on the worker; the outcome comes as WM_GPS_DEVICE_OPENED.
    void BeginOpen(bool bWasConnected);
    void OnDeviceOpened(std::uint64_t attempt);
    // Ends an open under way at once and waits for its worker; its message is then stale.
    void CancelOpen();
    void Subscribe();
    void ReportOpenFailure(const std::wstring& path);
    void CloseDevice();
    void SetConnected(bool bConnected, bool bTellViews);
    // Writes the command and, when it went out, marks it in the history and has the views
    // count to the first fix.
    void SendRestartCommand(std::string_view command, FixSearch kind, HistoryEventKind mark);
    void StartFixSearch(FixSearch kind, TimeToFix::Clock::time_point start);
    void MarkRestartInHistory(HistoryEventKind kind);
    // The probe found the receiver's rate (or none): reopen at it and tell the views.
    bool ReopenAtDetectedRate(int baudRate);
    void ReportDetectedRate(int fromRate, int toRate);

    void SetTitleFor(const std::wstring& logPath);
    // Once the log is indexed: plays it, or says why it cannot be.
    bool StartLog(std::shared_ptr<LogPlayer> player, const std::wstring& path);
    void OnLogOpeningTick();
    // Calls off an indexing under way; the title is as it was before.
    void CancelLogOpening();
    // Closed device only: its queued lines, untaken, are dropped.
    void DropQueuedLines();

    // The log being played, shared with the device that reads it; empty for a receiver.
    std::shared_ptr<LogPlayer> m_pPlayer;
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
    int m_nBaudRate = 9600;
    CGPSDevice m_device;
    // A WM_GPS_UPDATE is posted, or waits for m_updateTimer, and the views have not had it.
    std::atomic<bool> m_bUpdatePosted{false};
    // The reader queued a line that completes a fix epoch: the update runs without waiting
    // for the pacer, unless lines flood.
    std::atomic<bool> m_bEpochCompleted{false};
    // The posted update waits for m_updateTimer; the reader then posts again for such a line.
    std::atomic<bool> m_bWaitingOnTimer{false};
    // Lines the reader thread announced since the views were last updated.
    std::atomic<unsigned> m_nLinesSinceUpdate{0};
    QElapsedTimer m_clock;
    UpdatePacer m_pacer{[this] { return m_clock.elapsed(); }};
    QTimer m_updateTimer;
    // The batch handed to the document and the views; kept to reuse its room.
    std::vector<ReceivedLine> m_batch;
    QTimer m_syncTimer;
    // The path the open port was opened with, for the message when it goes away.
    std::wstring m_strOpenPath;
    // The open under way: its worker (which only opens the device and posts), its number, and
    // whether the views showed a connection when it began.
    std::thread m_openWorker;
    std::uint64_t m_nOpenAttempt = 0;
    bool m_bConnecting = false;
    bool m_bOpenReplacesShown = false;
    std::wstring m_strOpeningPath;
    // When the worker's open ended; read after it has been joined.
    TimeToFix::Clock::time_point m_openedAt{};
    // Dropped before the device closes; scoped so that a frame going away drops them too.
    boost::signals2::scoped_connection m_connNotify;
    boost::signals2::scoped_connection m_connStopped;
    // Last, so that its probe thread, which posts to this window, is joined first.
    CBaudDetection m_baudDetection;
};

// The view that fills the client area; the one place that decides which view that is.
QWidget* CreateMainView(CMainFrame* pFrame, CDocument* pDoc);
