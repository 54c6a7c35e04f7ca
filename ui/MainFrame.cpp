#include "ui/MainFrame.h"

#include "framework/WinApp.h"
#include "framework/core/CommandIds.h"
#include "framework/core/MessageBox.h"
#include "recording/OrvaneDoc.h"
#include "serial/BaudRates.h"
#include "net/SourceAddress.h"
#include "receiver/ReceiverCommands.h"
#include "util/WideText.h"
#include "net/NtripProtocol.h"
#include "net/ShareServer.h"
#include "ui/ErrorMessages.h"
#include "ui/OrvaneView.h"

#include <QMenu>
#include <QMenuBar>
#include <QTimer>

#include <optional>
#include <span>
#include <system_error>

namespace
{
COrvaneDoc* OrvaneDocOf(CDocument* pDoc)
{
    return dynamic_cast<COrvaneDoc*>(pDoc);
}

// What each restart item starts: the command's kind, the count's name, the history's mark.
struct RestartItem
{
    unsigned id;
    RestartKind kind;
    FixSearch search;
    HistoryEventKind mark;
};
constexpr RestartItem kRestartItems[] = {
    {ID_HOT_START, RestartKind::Hot, FixSearch::HotStart, HistoryEventKind::HotStart},
    {ID_WARM_START, RestartKind::Warm, FixSearch::WarmStart, HistoryEventKind::WarmStart},
    {ID_COLD_START, RestartKind::Cold, FixSearch::ColdStart, HistoryEventKind::ColdStart},
};

const RestartItem* RestartItemOf(unsigned id)
{
    for (const RestartItem& item : kRestartItems)
        if (item.id == id)
            return &item;
    return nullptr;
}

// The family a Receiver item stands for: Unknown for Automatic; none for other commands.
std::optional<ReceiverFamily> ReceiverItemFamily(unsigned id)
{
    if (id == ID_RECEIVER_AUTOMATIC)
        return ReceiverFamily::Unknown;
    const std::span<const ReceiverFamily> families = KnownFamilies();
    if (id >= ID_RECEIVER_FIRST_FAMILY && id - ID_RECEIVER_FIRST_FAMILY < families.size())
        return families[id - ID_RECEIVER_FIRST_FAMILY];
    return std::nullopt;
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

CMainFrame::CMainFrame() : m_chooseMountpoint(::ChooseMountpoint), m_pSession(std::make_unique<CGpsSession>())
{
    // Fixed size, no maximise button: the views are laid out in fixed pixel coordinates.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    move(0, 0);
    setFixedSize(kWidth, kHeight);
    QObject::connect(&m_syncTimer, &QTimer::timeout, this, [this] {
        if (COrvaneDoc* doc = Doc())
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
    m_pLogOpening.reset();
    // The session's threads queue to it, not to the window; it goes first all the same.
    m_pSession.reset();
}

COrvaneDoc* CMainFrame::Doc() const
{
    return OrvaneDocOf(GetActiveDocument());
}

CGpsSession& CMainFrame::NewSession(bool bStartSource)
{
    const bool bWasLog = m_pSession->IsLog();
    m_pSession.reset();
    m_pSession = std::make_unique<CGpsSession>();
    CGpsSession* session = m_pSession.get();
    session->SetGpsdAddress(m_gpsdAddress);
    QObject::connect(session, &CGpsSession::linesArrived, this, [this](const std::vector<ReceivedLine>& batch) { OnLinesArrived(batch); });
    QObject::connect(session, &CGpsSession::opened, this, [this](CGpsSession::Clock::time_point at) { OnOpened(at); });
    QObject::connect(session, &CGpsSession::failed, this, [this](const SessionError& error) { OnFailed(error); });
    QObject::connect(session, &CGpsSession::lost, this, [this](const std::wstring& path) { OnLost(path); });
    QObject::connect(session, &CGpsSession::baudDetected, this, [this](int from, int to) { OnBaudDetected(from, to); });
    QObject::connect(session, &CGpsSession::identityChanged, this,
                     [this](const ReceiverIdentity& identity) { OnIdentityChanged(identity); });
    QObject::connect(session, &CGpsSession::correctionSent, this,
                     [this](const std::string& frame, bool bWritten) { OnCorrectionSent(frame, bWritten); });
    QObject::connect(session, &CGpsSession::correctionsStatus, this,
                     [this](const NtripStatus& status) { OnCorrectionsStatus(status); });
    // Nothing of the last source's state reaches this one's.
    if (COrvaneDoc* doc = Doc())
    {
        if (bStartSource)
            doc->StartSource();
        if (bWasLog)
        {
            SetTitleFor({});
            TellViewsOfPlayback(*doc);
        }
    }
    return *session;
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
    QMenu* receiver = tools->addMenu(QStringLiteral("Receiver"));
    AddCommand(receiver, ID_RECEIVER_AUTOMATIC, QStringLiteral("Automatic"));
    const std::span<const ReceiverFamily> families = KnownFamilies();
    static_assert(ID_RECEIVER_LAST_FAMILY - ID_RECEIVER_FIRST_FAMILY >= 6);
    for (std::size_t i = 0; i < families.size(); ++i)
    {
        const std::string_view name = FamilyName(families[i]);
        AddCommand(receiver, ID_RECEIVER_FIRST_FAMILY + static_cast<unsigned>(i),
                   QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
    }
    AddCommand(tools, ID_ENABLE_UBX, QStringLiteral("Enable UBX navigation messages"));
    tools->addSeparator();
    AddCommand(tools, ID_SAVE_NMEA, QStringLiteral("Save NMEA File"));
    AddCommand(tools, ID_SAVE_KML, QStringLiteral("Save KML File"));
    AddCommand(tools, ID_SAVE_GPX, QStringLiteral("Save GPX File"));
    AddCommand(tools, ID_SAVE_RAW, QStringLiteral("Save Raw Log"));

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
    case ID_ENABLE_UBX:
        // Not sent when the port is closed or its transmit ring is full, as a restart; the
        // receiver's ACK or NAK shows in the terminal.
        m_pSession->EnableUbx();
        return true;
    case ID_CONNECT:
        if (const COrvaneDoc* doc = Doc())
            ConnectDevice(!doc->m_bConnected);
        return true;
    default:
        if (const std::optional<ReceiverFamily> family = ReceiverItemFamily(id))
        {
            ChooseReceiverFamily(*family);
            return true;
        }
        return false;
    }
}

void CMainFrame::OnFailed(const SessionError& error)
{
    ShowMessageBox(DescribeOpenFailure(error.path, error.error, error.systemError, error.baudRate),
                   kErrorCaption, MbIcon::Error);
    // A failed open changes nothing the views show unless they showed a connection.
    SetConnected(false, m_bOpenReplacesShown);
}

void CMainFrame::OnOpened(CGpsSession::Clock::time_point at)
{
    // From now on the views show this connection, and a failure (a reopen at the probed rate)
    // takes it back.
    m_bOpenReplacesShown = true;
    SetConnected(true, true);
    StartFixSearch(FixSearch::Connect, at);
    StartShare(*m_pSession);
    StartCorrections(*m_pSession);
}

void CMainFrame::TellNetworkNote(const std::wstring& text, bool bCorrections)
{
    NetworkNote note{text, bCorrections};
    if (COrvaneDoc* doc = Doc())
        doc->UpdateAllViews(nullptr, HINT_NETWORK_NOTE, &note);
}

void CMainFrame::StartShare(CGpsSession& session)
{
    if (m_strShare.empty())
        return;
    const std::optional<SourceAddress> address = ParseShareAddress(ToUtf8(m_strShare));
    if (!address)
    {
        TellNetworkNote(ShareAddressInvalidText(m_strShare), false);
        return;
    }
    int systemError = 0;
    if (!session.StartSharing(*address, systemError))
    {
        TellNetworkNote(DescribeShareFailure(m_strShare, systemError), false);
        return;
    }
    SourceAddress listening = *address;
    listening.port = session.Share()->Port();
    TellNetworkNote(L"Sharing the receiver's NMEA on " + FromUtf8(HostAndPort(listening)), false);
}

std::optional<std::string> CMainFrame::ChooseMountpoint(const NtripCaster& caster)
{
    if (!m_chooseMountpoint)
        return std::nullopt;
    std::optional<GeoPosition> position;
    if (const COrvaneDoc* doc = Doc(); doc && HasFixedPosition(doc->m_gps))
        position = GeoPosition{doc->m_gps.latitude, doc->m_gps.longitude};
    return m_chooseMountpoint(this, caster, position);
}

void CMainFrame::StartCorrections(CGpsSession& session)
{
    if (m_strCorrections.empty())
        return;
    std::optional<NtripCaster> caster = ParseNtripAddress(ToUtf8(m_strCorrections));
    if (!caster)
    {
        TellNetworkNote(CorrectionsAddressInvalidText(), true);
        return;
    }
    if (!session.AcceptsWrites())
    {
        TellNetworkNote(L"Corrections: this source takes no bytes; they go to a serial port or tcp:// only", true);
        return;
    }
    if (caster->mountpoint.empty())
    {
        // The chooser's event loop may see the user disconnect: only the session asked for
        // is given the corrections.
        const std::optional<std::string> chosen = ChooseMountpoint(*caster);
        if (!chosen || m_pSession.get() != &session || !session.IsOpen())
            return;
        caster->mountpoint = *chosen;
        m_strCorrections = FromUtf8(WithMountpoint(ToUtf8(m_strCorrections), *chosen));
        std::wstring address = m_strCorrections;
        if (COrvaneDoc* doc = Doc())
            doc->UpdateAllViews(nullptr, HINT_CORRECTIONS_CHOSEN, &address);
    }
    if (!session.StartCorrections(*caster))
        return;
    m_strCorrectionsSource = NtripDisplayName(*caster);
    std::string mountpoint = caster->mountpoint;
    if (COrvaneDoc* doc = Doc())
        doc->UpdateAllViews(nullptr, HINT_CORRECTIONS_STARTED, &mountpoint);
}

void CMainFrame::OnCorrectionSent(const std::string& frame, bool bWritten)
{
    CorrectionSentHint hint{frame, bWritten};
    if (COrvaneDoc* doc = Doc(); doc && doc->m_bConnected)
        doc->UpdateAllViews(nullptr, HINT_CORRECTION_SENT, &hint);
}

void CMainFrame::OnCorrectionsStatus(const NtripStatus& status)
{
    TellNetworkNote(DescribeCorrectionsStatus(m_strCorrectionsSource, status), true);
}

void CMainFrame::SetConnected(bool bConnected, bool bTellViews)
{
    COrvaneDoc* doc = Doc();
    if (!doc)
        return;
    doc->m_bConnected = bConnected ? 1 : 0;
    if (bTellViews)
        doc->UpdateAllViews(nullptr, HINT_CONNECTION_CHANGED);
}

void CMainFrame::ConnectDevice(bool bConnect)
{
    CancelLogOpening();
    if (!bConnect && m_pSession->IsLog())
    {
        CloseLog();
        return;
    }
    if (!bConnect)
    {
        // Lines read and not yet handed over go with the source.
        NewSession(false);
        SetConnected(false, true);
        return;
    }

    const COrvaneDoc* doc = Doc();
    const bool bWasConnected = doc && doc->m_bConnected;
    if (m_strPortName.empty())
    {
        m_pSession->Close();
        ShowMessageBox(NoPortChosenText(), kErrorCaption, MbIcon::Error);
        SetConnected(false, bWasConnected);
        return;
    }
    // A port left open by a receiver that went away (its message not handled yet), or an open
    // still under way, is replaced with its session.
    CGpsSession& session = NewSession();
    m_strSessionPort = m_strPortName;
    session.SetChosenFamily(FamilyChosenFor(m_strSessionPort));
    const bool bNetwork = IsNetworkSourceText(m_strPortName);
    m_bOpenReplacesShown = bWasConnected || bNetwork;
    if (!session.BeginOpen(m_strPortName, m_nBaudRate))
        return;
    // A network source may take seconds: it shows as connected, so that the button says
    // Disconnect, and the views say where it is connecting to.
    if (bNetwork)
    {
        SetConnected(true, true);
        std::wstring text = ConnectingText(m_strPortName);
        if (COrvaneDoc* d = Doc())
            d->UpdateAllViews(nullptr, HINT_SOURCE_CONNECTING, &text);
    }
}

void CMainFrame::OnLost(const std::wstring& path)
{
    // A running recording goes on: the user may plug the receiver in again and reconnect.
    SetConnected(false, true);
    ShowMessageBox(DescribeDeviceLost(path), kDeviceLostCaption, MbIcon::Warning);
}

void CMainFrame::OnBaudDetected(int fromRate, int toRate)
{
    if (toRate > 0)
        m_nBaudRate = toRate;
    BaudDetectedHint hint{fromRate, toRate};
    if (COrvaneDoc* doc = Doc())
        doc->UpdateAllViews(nullptr, HINT_BAUD_DETECTED, &hint);
}

bool CMainFrame::OnUpdateCommand(CCmdUI& ui)
{
    const CGpsSession& session = *m_pSession;
    if (const std::optional<ReceiverFamily> family = ReceiverItemFamily(ui.m_nID))
    {
        // Once the receiver has said its family, that one is shown and no other can be chosen.
        const ReceiverFamily recognised = session.Identity().family;
        ui.Enable(recognised == ReceiverFamily::Unknown);
        ui.SetCheck(*family == (recognised != ReceiverFamily::Unknown ? recognised : ChosenReceiverFamily()));
        return true;
    }
    if (ui.m_nID == ID_ENABLE_UBX)
    {
        // Only a port that takes writes, to a receiver known or chosen as a u-blox.
        ui.Enable(session.IsOpen() && !session.IsLog() && session.AcceptsWrites() &&
                  session.CommandFamily() == ReceiverFamily::UBlox);
        return true;
    }
    const RestartItem* item = RestartItemOf(ui.m_nID);
    if (!item)
        return false;
    // Left to the document (enabled while connected) unless the source is still being opened,
    // is given up to the baud probe, or takes nothing, or the family has no such command.
    if (!session.IsConnecting() && !session.IsProbing() && (!session.IsOpen() || session.AcceptsWrites()) &&
        RestartCommand(session.CommandFamily(), item->kind))
        return false;
    ui.Enable(false);
    return true;
}

const std::wstring& CMainFrame::ReceiverChoicePort() const
{
    const CGpsSession& session = *m_pSession;
    const bool bSessionPort = !session.IsLog() && (session.IsOpen() || session.IsConnecting() || session.IsProbing());
    return bSessionPort ? m_strSessionPort : m_strPortName;
}

ReceiverFamily CMainFrame::FamilyChosenFor(const std::wstring& port) const
{
    const auto it = m_pSettings->receiverFamilies.find(port);
    if (it == m_pSettings->receiverFamilies.end())
        return ReceiverFamily::Unknown;
    return ParseFamilyToken(ToUtf8(it->second)).value_or(ReceiverFamily::Unknown);
}

ReceiverFamily CMainFrame::ChosenReceiverFamily() const
{
    return FamilyChosenFor(ReceiverChoicePort());
}

void CMainFrame::ChooseReceiverFamily(ReceiverFamily family)
{
    const std::wstring port = ReceiverChoicePort();
    if (port.empty())
        return;
    if (family == ReceiverFamily::Unknown)
        m_pSettings->receiverFamilies.erase(port);
    else
        m_pSettings->receiverFamilies[port] = FromUtf8(std::string(FamilyToken(family)));
    if (!m_pSession->IsLog() && port == m_strSessionPort)
        m_pSession->SetChosenFamily(family);
}

void CMainFrame::OnIdentityChanged(const ReceiverIdentity& identity)
{
    if (COrvaneDoc* doc = Doc())
        doc->UpdateAllViews(nullptr, HINT_RECEIVER_IDENTIFIED, FromUtf8(identity.DisplayName()));
}

void CMainFrame::OnLinesArrived(const std::vector<ReceivedLine>& batch)
{
    COrvaneDoc* doc = Doc();
    if (!doc || !doc->m_bConnected)
        return;
    doc->OnReceived(batch);
    doc->UpdateAllViews(nullptr, HINT_GPS_DATA, &batch);
    // After the views had the batch: a message box's event loop may hand out the next one.
    doc->ShowQueuedErrors();
}

void CMainFrame::StartFixSearch(FixSearch kind, TimeToFix::Clock::time_point start, ReceiverFamily family)
{
    FixSearchHint hint{kind, start, family};
    if (COrvaneDoc* doc = Doc())
        doc->UpdateAllViews(nullptr, HINT_FIX_SEARCH, &hint);
}

void CMainFrame::SendRestartCommand(RestartKind kind)
{
    const ReceiverFamily family = m_pSession->CommandFamily();
    const std::optional<std::string> command = RestartCommand(family, kind);
    if (!command)
        return;
    const RestartItem& item = kRestartItems[static_cast<int>(kind)];
    // Lines read before this moment are the receiver's from before the command.
    const TimeToFix::Clock::time_point written = TimeToFix::Clock::now();
    // Not sent when the port is closed or its transmit ring is full; the user is not told.
    if (m_pSession->Write(*command))
    {
        if (COrvaneDoc* doc = Doc())
            doc->MarkRestart(item.mark);
        StartFixSearch(item.search, written, family);
    }
}

void CMainFrame::OnHotStart()
{
    SendRestartCommand(RestartKind::Hot);
}

void CMainFrame::OnWarmStart()
{
    SendRestartCommand(RestartKind::Warm);
}

void CMainFrame::OnColdStart()
{
    SendRestartCommand(RestartKind::Cold);
}
