#include "ui/MainFrame.h"

#include "framework/WinApp.h"
#include "framework/core/CommandIds.h"
#include "framework/core/MessageBox.h"
#include "recording/OrvaneDoc.h"
#include "serial/BaudRates.h"
#include "net/SourceAddress.h"
#include "util/WideText.h"
#include "ui/ErrorMessages.h"
#include "ui/OrvaneView.h"

#include <QMenu>
#include <QMenuBar>
#include <QTimer>

#include <optional>
#include <system_error>

namespace
{
COrvaneDoc* OrvaneDocOf(CDocument* pDoc)
{
    return dynamic_cast<COrvaneDoc*>(pDoc);
}

} // namespace

QWidget* CreateMainView(CMainFrame* pFrame, CDocument* pDoc)
{
    auto* view = new COrvaneView(pFrame);
    if (!view->Create(pDoc))
    {
        delete view;
        return nullptr;
    }
    return view;
}

CMainFrame::CMainFrame()
    : m_baudDetection(
          {[this] { return m_device.ValidLineCount(); }, [this] { CloseDevice(); },
           [this](int rate, long probe) { PostMessage(WM_BAUD_PROBED, static_cast<std::uintptr_t>(rate), probe); },
           [this](int rate) { return ReopenAtDetectedRate(rate); },
           [this](int fromRate, int toRate) { ReportDetectedRate(fromRate, toRate); }},
          kBaudRates)
{
    // Fixed size, no maximise button: the views are laid out in fixed pixel coordinates.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    move(0, 0);
    setFixedSize(kWidth, kHeight);
    m_clock.start();
    m_updateTimer.setSingleShot(true);
    QObject::connect(&m_updateTimer, &QTimer::timeout, this, [this] { OnGpsUpdate(); });
    QObject::connect(&m_syncTimer, &QTimer::timeout, this, [this] {
        if (COrvaneDoc* doc = OrvaneDocOf(GetActiveDocument()))
            doc->SyncRecording();
    });
    m_syncTimer.start(kSyncMs);
}

void CMainFrame::FitFrameToSize()
{
    // The window manager's frame is known only once the window is managed; it counts in the
    // window's size, so the whole window fits a 1366 x 768 screen.
    const QRect frame = frameGeometry();
    const QSize client(kWidth - (frame.width() - width()), kHeight - (frame.height() - height()));
    if (client.isValid() && client != size())
        setFixedSize(client);
}

void CMainFrame::showEvent(QShowEvent* e)
{
    CFrameWnd::showEvent(e);
    FitFrameToSize();
    // Some window managers announce their frame only after the window is mapped.
    QTimer::singleShot(250, this, [this] { FitFrameToSize(); });
}

void CMainFrame::moveEvent(QMoveEvent* e)
{
    CFrameWnd::moveEvent(e);
    FitFrameToSize();
}

CMainFrame::~CMainFrame()
{
    // The open worker and the reader thread post to this object: they must be gone before the
    // window is.
    m_baudDetection.Cancel();
    CancelOpen();
    CloseDevice();
}

void CMainFrame::SetPortName(const std::wstring& portName)
{
    m_strPortName = portName;
}

void CMainFrame::SetBaudRate(int baudRate)
{
    m_nBaudRate = baudRate;
}

std::wstring CMainFrame::ConnectingText(const std::wstring& sourceText)
{
    const std::optional<SourceAddress> source = ParseSourceAddress(sourceText);
    if (!source)
        return L"Connecting to " + sourceText + L"\u2026";
    const std::wstring where = FromUtf8(HostAndPort(*source));
    return (source->kind == SourceAddress::Kind::Udp ? L"Listening on " : L"Connecting to ") +
           where + L"\u2026";
}

bool CMainFrame::OnCreate()
{
    BuildMenuBar();
    return true;
}

void CMainFrame::BuildMenuBar()
{
    QMenuBar* bar = menuBar();

    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    AddCommand(file, ID_FILE_OPEN, QStringLiteral("&Open Log\u2026"));
    file->addSeparator();
    AddCommand(file, ID_APP_EXIT, QStringLiteral("E&xit"));

    QMenu* tools = bar->addMenu(QStringLiteral("Tools"));
    AddCommand(tools, ID_HOT_START, QStringLiteral("Hot Start GPS"));
    AddCommand(tools, ID_WARM_START, QStringLiteral("Warm Start GPS"));
    AddCommand(tools, ID_COLD_START, QStringLiteral("Cold Start GPS"));
    tools->addSeparator();
    AddCommand(tools, ID_SAVE_NMEA, QStringLiteral("Save NMEA File"));
    AddCommand(tools, ID_SAVE_KML, QStringLiteral("Save KML File"));
    AddCommand(tools, ID_SAVE_GPX, QStringLiteral("Save GPX File"));

    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    AddCommand(help, ID_APP_ABOUT, QStringLiteral("&About Orvane..."));
}

bool CMainFrame::OnCreateClient(CDocument* pDoc)
{
    QWidget* view = CreateMainView(this, pDoc);
    if (!view)
        return false;
    setCentralWidget(view);
    return true;
}

bool CMainFrame::OnCommand(unsigned id)
{
    switch (id)
    {
    case ID_HOT_START:
        OnHotStart();
        return true;
    case ID_WARM_START:
        OnWarmStart();
        return true;
    case ID_COLD_START:
        OnColdStart();
        return true;
    case ID_FILE_OPEN:
        OnFileOpenLog();
        return true;
    case ID_CONNECT:
        if (const COrvaneDoc* doc = OrvaneDocOf(GetActiveDocument()))
            ConnectDevice(!doc->m_bConnected);
        return true;
    default:
        return false;
    }
}

void CMainFrame::OnMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam)
{
    if (msg == WM_GPS_UPDATE)
        OnGpsUpdate();
    else if (msg == WM_GPS_DEVICE_LOST)
        OnDeviceLost();
    else if (msg == WM_GPS_DEVICE_OPENED)
        OnDeviceOpened(static_cast<std::uint64_t>(wParam));
    else if (msg == WM_BAUD_PROBED)
        m_baudDetection.OnProbed(static_cast<int>(wParam), static_cast<long>(lParam));
}

void CMainFrame::Subscribe()
{
    m_connNotify = m_device.ConnectNotification([this](int code) { OnDeviceNotify(code); });
    m_connStopped = m_device.ConnectStoppedNotification([this] { OnDeviceStopped(); });
}

void CMainFrame::ReportOpenFailure(const std::wstring& path)
{
    m_connNotify.disconnect();
    m_connStopped.disconnect();
    if (m_device.LastOpenError() == PortError::Cancelled)
        return;
    ShowMessageBox(DescribeOpenFailure(path, m_device.LastOpenError(),
                                       m_device.LastOpenSystemError(), m_nBaudRate),
                   kErrorCaption, MbIcon::Error);
}

void CMainFrame::BeginOpen(bool bWasConnected)
{
    // A port left open by a receiver that went away (its message not handled yet), or an open
    // still under way, is replaced, with its subscriptions.
    CancelOpen();
    CloseDevice();
    if (m_strPortName.empty())
    {
        ShowMessageBox(NoPortChosenText(), kErrorCaption, MbIcon::Error);
        SetConnected(false, bWasConnected);
        return;
    }

    Subscribe();
    // The path a port name stands for, or the network source as it was typed.
    const bool bNetwork = IsNetworkSourceText(m_strPortName);
    m_strOpeningPath = bNetwork ? m_strPortName : CGPSDevice::DevicePathOf(m_strPortName);
    m_bOpenReplacesShown = bWasConnected || bNetwork;
    m_bConnecting = true;
    const std::uint64_t attempt = ++m_nOpenAttempt;
    try
    {
        // Even a serial open: it first asks the local gpsd which ports it holds.
        m_openWorker = std::thread(
            [this, name = m_strPortName, rate = m_nBaudRate, attempt]
            {
                m_device.OpenPort(name, rate);
                m_openedAt = TimeToFix::Clock::now();
                PostMessage(WM_GPS_DEVICE_OPENED, static_cast<std::uintptr_t>(attempt));
            });
    }
    catch (const std::system_error&)
    {
        m_bConnecting = false;
        m_connNotify.disconnect();
        m_connStopped.disconnect();
        ShowMessageBox(DescribeOpenFailure(m_strOpeningPath, PortError::Other, EAGAIN, m_nBaudRate),
                       kErrorCaption, MbIcon::Error);
        SetConnected(false, bWasConnected);
        return;
    }
    // A network source may take seconds: it shows as connected, so that the button says
    // Disconnect, and the views say where it is connecting to.
    if (bNetwork)
    {
        SetConnected(true, true);
        std::wstring text = ConnectingText(m_strPortName);
        if (COrvaneDoc* doc = OrvaneDocOf(GetActiveDocument()))
            doc->UpdateAllViews(nullptr, HINT_SOURCE_CONNECTING, &text);
    }
}

void CMainFrame::OnDeviceOpened(std::uint64_t attempt)
{
    // An open cancelled or replaced since posted this.
    if (!m_bConnecting || attempt != m_nOpenAttempt)
        return;
    if (m_openWorker.joinable())
        m_openWorker.join();
    m_bConnecting = false;
    if (m_device.IsOpen())
    {
        m_strOpenPath = m_strOpeningPath;
        // A network source has no line speed to find.
        if (!IsNetworkSourceText(m_strOpenPath))
            m_baudDetection.Arm(ToUtf8(m_strOpenPath), m_nBaudRate);
        SetConnected(true, true);
        StartFixSearch(FixSearch::Connect, m_openedAt);
        return;
    }
    ReportOpenFailure(m_strOpeningPath);
    // A failed open changes nothing the views show unless they showed a connection.
    SetConnected(false, m_bOpenReplacesShown);
}

void CMainFrame::CancelOpen()
{
    if (!m_openWorker.joinable())
        return;
    m_device.CancelOpen();
    m_openWorker.join();
    m_bConnecting = false;
    ++m_nOpenAttempt;
}

void CMainFrame::CloseDevice()
{
    m_connNotify.disconnect();
    m_connStopped.disconnect();
    // Also lifts a cancel left by CancelOpen, for the next open.
    m_device.Close();
}

void CMainFrame::SetConnected(bool bConnected, bool bTellViews)
{
    COrvaneDoc* doc = OrvaneDocOf(GetActiveDocument());
    if (!doc)
        return;
    doc->m_bConnected = bConnected ? 1 : 0;
    if (bTellViews)
        doc->UpdateAllViews(nullptr, HINT_CONNECTION_CHANGED);
}

void CMainFrame::ConnectDevice(bool bConnect)
{
    m_baudDetection.Cancel();
    if (!bConnect && m_pPlayer)
    {
        CloseLog();
        return;
    }
    if (!bConnect)
    {
        CancelOpen();
        CloseDevice();
        SetConnected(false, true);
        return;
    }

    const COrvaneDoc* doc = OrvaneDocOf(GetActiveDocument());
    BeginOpen(doc && doc->m_bConnected);
}

void CMainFrame::OnDeviceNotify(int code)
{
    // One update waiting is enough: it drains every line queued until it runs. A fast receiver
    // thus costs one pass of the views per update, not one per sentence.
    m_nLinesSinceUpdate.fetch_add(1, std::memory_order_relaxed);
    if (!m_bUpdatePosted.exchange(true) && !PostMessage(WM_GPS_UPDATE))
        m_bUpdatePosted.store(false);
    // The fix is complete: the panel shows it now, not when the pacer's frame has passed.
    if (code == CGPSDevice::kEpochCompleted)
    {
        m_bEpochCompleted.store(true);
        if (m_bWaitingOnTimer.exchange(false))
            PostMessage(WM_GPS_UPDATE);
    }
}

void CMainFrame::OnDeviceStopped()
{
    // Close joins the reader thread, which is the one running here.
    PostMessage(WM_GPS_DEVICE_LOST);
}

void CMainFrame::OnDeviceLost()
{
    // A message from a port the user has closed or reopened since is stale.
    if (!m_device.IsOpen() || !m_device.HasStoppedOnItsOwn())
        return;

    m_baudDetection.Cancel();
    CloseDevice();
    // The last lines before it went, still queued, are shown and recorded.
    DeliverLines(true);
    // A running recording goes on: the user may plug the receiver in again and reconnect.
    SetConnected(false, true);
    ShowMessageBox(DescribeDeviceLost(m_strOpenPath), kDeviceLostCaption, MbIcon::Warning);
}

bool CMainFrame::ReopenAtDetectedRate(int baudRate)
{
    // The same port, a moment after it was open: it opens at once, here, without asking gpsd
    // again.
    m_nBaudRate = baudRate;
    CloseDevice();
    Subscribe();
    if (m_device.Open(m_strOpenPath, baudRate))
        return true;
    ReportOpenFailure(m_strOpenPath);
    // The receiver went away while it was listened to; the user has been told why.
    SetConnected(false, true);
    return false;
}

void CMainFrame::ReportDetectedRate(int fromRate, int toRate)
{
    BaudDetectedHint hint{fromRate, toRate};
    if (COrvaneDoc* doc = OrvaneDocOf(GetActiveDocument()))
        doc->UpdateAllViews(nullptr, HINT_BAUD_DETECTED, &hint);
}

bool CMainFrame::OnUpdateCommand(CCmdUI& ui)
{
    if (ui.m_nID != ID_HOT_START && ui.m_nID != ID_WARM_START && ui.m_nID != ID_COLD_START)
        return false;
    // Left to the document (enabled while connected) unless the source is still being opened,
    // takes nothing, or is closed while the baud probe listens.
    if (!m_bConnecting && !m_baudDetection.IsProbing() && (!m_device.IsOpen() || m_device.AcceptsWrites()))
        return false;
    ui.Enable(false);
    return true;
}

void CMainFrame::OnGpsUpdate()
{
    m_bWaitingOnTimer.store(false);
    // While lines flood, a completed epoch waits its turn like any line.
    const bool bFlooding = m_pacer.Flooding();
    const bool bEpochCompleted = m_bEpochCompleted.exchange(false) && !bFlooding;
    // Too soon after the last update: the timer brings this one, and no other is posted
    // meanwhile (the flag stays set), but for a line that completes an epoch.
    if (const qint64 wait = m_pacer.Wait(); wait > 0 && !bEpochCompleted)
    {
        if (!m_updateTimer.isActive())
            m_updateTimer.start(static_cast<int>(wait));
        m_bWaitingOnTimer.store(true);
        // Such a line queued just now found nobody waiting, and posted nothing: whoever takes
        // the waiting flag back runs the update.
        if (bFlooding || !m_bEpochCompleted.load() || !m_bWaitingOnTimer.exchange(false))
            return;
        m_bEpochCompleted.store(false);
    }
    m_updateTimer.stop();
    // Cleared before the device is drained, so a line queued meanwhile posts again.
    m_bUpdatePosted.store(false);
    m_pacer.Ran(m_nLinesSinceUpdate.exchange(0, std::memory_order_relaxed));
    DeliverLines(false);
}

void CMainFrame::DeliverLines(bool bOnlyIfAny)
{
    COrvaneDoc* doc = OrvaneDocOf(GetActiveDocument());
    if (!doc)
        return;
    m_batch.clear();
    if (doc->m_bConnected)
        m_device.PopLines(m_batch);
    if (bOnlyIfAny && m_batch.empty())
        return;
    doc->OnReceived(m_batch);
    doc->UpdateAllViews(nullptr, HINT_GPS_DATA, &m_batch);
}

void CMainFrame::StartFixSearch(FixSearch kind, TimeToFix::Clock::time_point start)
{
    FixSearchHint hint{kind, start};
    if (COrvaneDoc* doc = OrvaneDocOf(GetActiveDocument()))
        doc->UpdateAllViews(nullptr, HINT_FIX_SEARCH, &hint);
}

void CMainFrame::SendRestartCommand(std::string_view command, FixSearch kind, HistoryEventKind mark)
{
    // Lines read before this moment are the receiver's from before the command.
    const TimeToFix::Clock::time_point written = TimeToFix::Clock::now();
    // Not sent when the port is closed or its transmit ring is full; the user is not told.
    if (m_device.Write(command.data(), command.size()))
    {
        MarkRestartInHistory(mark);
        StartFixSearch(kind, written);
    }
}

void CMainFrame::MarkRestartInHistory(HistoryEventKind kind)
{
    if (COrvaneDoc* doc = OrvaneDocOf(GetActiveDocument()))
        doc->MarkRestart(kind);
}

void CMainFrame::OnHotStart()
{
    SendRestartCommand(CGPSDevice::kHotStartCommand, FixSearch::HotStart, HistoryEventKind::HotStart);
}

void CMainFrame::OnWarmStart()
{
    SendRestartCommand(CGPSDevice::kWarmStartCommand, FixSearch::WarmStart, HistoryEventKind::WarmStart);
}

void CMainFrame::OnColdStart()
{
    SendRestartCommand(CGPSDevice::kColdStartCommand, FixSearch::ColdStart, HistoryEventKind::ColdStart);
}
