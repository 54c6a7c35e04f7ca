#include "ui/OrvaneView.h"

#include "framework/FrameWnd.h"
#include "gps/FrameText.h"
#include "recording/OrvaneDoc.h"
#include "session/BaudDetection.h"
#include "ui/HistoryView.h"
#include "ui/MapView.h"
#include "ui/MemDCEx.h"
#include "ui/NetworkStatus.h"
#include "ui/PlayerBar.h"
#include "ui/SetupView.h"
#include "util/WideText.h"
#include "ui/ErrorMessages.h"
#include "receiver/ReceiverCommands.h"

#include <QPaintEvent>
#include <QPainter>
#include <QTabBar>
#include <QTabWidget>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>

namespace
{
// The kind of command a restart's count follows; none for Connect.
std::optional<RestartKind> RestartKindOf(FixSearch search)
{
    switch (search)
    {
    case FixSearch::HotStart:
        return RestartKind::Hot;
    case FixSearch::WarmStart:
        return RestartKind::Warm;
    case FixSearch::ColdStart:
        return RestartKind::Cold;
    case FixSearch::Connect:
        break;
    }
    return std::nullopt;
}

constexpr int kPanelWidth = panel::kWidth;
constexpr int kTabsTop = panel::kTabsTop;
constexpr int kMapLeft = panel::kMapLeft;
constexpr int kClientBottom = panel::kClientBottom;
const QRect kConnectRect = PanelRect(panel::kConnectButton);
const QRect kRecordRect = PanelRect(panel::kRecordButton);
// At 4800 baud a sentence comes every 150 ms or so; the terminal shows them in pairs.
constexpr int kTerminalShowMs = 250;
} // namespace

COrvaneView::COrvaneView(QWidget* pParent)
    : QWidget(pParent), m_res(PanelResources::Load())
{
    // Everything is painted from the off-screen surface: no background erase, no flicker.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    // Repaints the panel dimmed once the receiver has been silent for kStaleMs.
    m_staleTimer.setSingleShot(true);
    connect(&m_staleTimer, &QTimer::timeout, this, [this] { update(QRect(0, 0, kPanelWidth, panel::kRepaintHeight)); });
    m_fixCountTimer.setInterval(kFixCountMs);
    connect(&m_fixCountTimer, &QTimer::timeout, this, [this] { update(PanelRect(panel::kTimeToFixBox)); });
    m_correctionsTimer.setInterval(kCorrectionsRedrawMs);
    connect(&m_correctionsTimer, &QTimer::timeout, this, [this] { update(PanelRect(panel::kCorrectionsBox)); });
    m_panelClock.start();
    m_panelTimer.setSingleShot(true);
    connect(&m_panelTimer, &QTimer::timeout, this, [this] { SchedulePanel(); });
}

COrvaneView::~COrvaneView() = default;

bool COrvaneView::Create(CDocument* pDoc, std::unique_ptr<INetworkStatus> pNetwork)
{
    if (pDoc)
        pDoc->AddView(this);

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("Tabs"));
    m_tabs->setProperty("id", kTabsId);
    m_tabs->setTabPosition(QTabWidget::South);
    m_tabs->setTabsClosable(false);
    m_tabs->setDocumentMode(false);
    m_tabs->setGeometry(QRect(QPoint(1, kTabsTop), QPoint(kPanelWidth - 1, kClientBottom - 1)));

    m_pSetupView = new CSetupView(m_tabs);
    m_pSetupView->setProperty("id", 1);
    if (pDoc)
        pDoc->AddView(m_pSetupView);
    m_tabs->addTab(m_pSetupView, QStringLiteral("Setup"));

    m_pMapView = new CMapView(this, std::move(pNetwork));
    m_pMapView->setProperty("id", 1002);
    m_pMapView->setGeometry(QRect(QPoint(kMapLeft, 0), QPoint(1277, kClientBottom - 1)));
    if (pDoc)
        pDoc->AddView(m_pMapView);

    m_pPlayerBar = new CPlayerBar(this);
    m_pPlayerBar->setGeometry(kMapLeft, kClientBottom - CPlayerBar::kHeight, 1277 - kMapLeft, CPlayerBar::kHeight);
    m_pPlayerBar->setPalette(QPalette(PanelBackground()));
    m_pPlayerBar->hide();

    m_logCtrl.Create(L"LogCtrl", true, QRect(0, 0, width(), std::max(0, height() - 60)), m_tabs, 100);
    m_tabs->addTab(&m_logCtrl, QStringLiteral("Terminal"));
    m_logCtrl.SetShowInterval(kTerminalShowMs);

    m_pHistoryView = new CHistoryView(CHistoryView::Plot::Timeline, m_tabs);
    m_pHistoryView->setObjectName(QStringLiteral("History"));
    if (pDoc)
        pDoc->AddView(m_pHistoryView);
    m_tabs->addTab(m_pHistoryView, QStringLiteral("History"));
    m_pAccuracyView = new CHistoryView(CHistoryView::Plot::Accuracy, m_tabs);
    m_pAccuracyView->setObjectName(QStringLiteral("Accuracy"));
    if (pDoc)
        pDoc->AddView(m_pAccuracyView);
    m_tabs->addTab(m_pAccuracyView, QStringLiteral("Accuracy"));

    m_btnConnect.setParent(this);
    m_btnConnect.setObjectName(QStringLiteral("Connect"));
    m_btnConnect.setProperty("id", kConnectId);
    m_btnConnect.setGeometry(kConnectRect);
    m_btnConnect.setToolTip(QStringLiteral("Connect to the receiver on the chosen port"));
    m_btnRecord.setParent(this);
    m_btnRecord.setObjectName(QStringLiteral("Record"));
    m_btnRecord.setProperty("id", kRecordId);
    m_btnRecord.setGeometry(kRecordRect);
    m_btnRecord.setToolTip(QStringLiteral("Start or stop a recording of the kind chosen in Tools"));
    QObject::connect(&m_btnConnect, &QAbstractButton::clicked, this, [this] { OnConnect(); });
    QObject::connect(&m_btnRecord, &QAbstractButton::clicked, this, [this] { OnRecord(); });
    ShowConnectImages(false);
    ShowRecordImages(false);
    m_btnConnect.show();
    m_btnRecord.show();

    EnableRecordButton();
    return true;
}

COrvaneDoc* COrvaneView::GetOrvaneDoc() const
{
    return dynamic_cast<COrvaneDoc*>(GetDocument());
}

void COrvaneView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // The tabs and the map end at kClientBottom; a client cut shorter by a tall window frame
    // keeps the tab bar in sight.
    const int bottom = std::min(kClientBottom, height());
    LayOutMapAndPlayer();
    if (m_tabs)
        m_tabs->resize(kPanelWidth - 1, std::max(0, bottom - kTabsTop));
}

void COrvaneView::paintEvent(QPaintEvent* event)
{
    if (!GetDocument())
        return;
    // The surface holds the panel only, always the same box, so one pixmap serves every paint.
    // Elsewhere (around the map, below the tabs) the view shows the panel's grey, filled directly:
    // a repaint there, which the map causes often, does not draw the panel.
    const QRect panelRect(0, 0, kPanelWidth, panel::kRepaintHeight);
    QPainter painter(this);
    if (event->region().intersects(panelRect))
    {
        const qreal dpr = devicePixelRatioF();
        if (m_pPanelDC)
        {
            // The surface keeps the last picture: only the part asked for is drawn again.
            const int allocations = m_pPanelDC->GetAllocations();
            m_pPanelDC->Begin(panelRect, dpr);
            if (m_pPanelDC->GetAllocations() == allocations)
                m_pPanelDC->ClipTo(event->region() & panelRect);
        }
        else
            m_pPanelDC = std::make_unique<CMemDCEx>(panelRect, dpr);
        m_bDrawnLive = IsLive();
        DrawStatusPanel(*m_pPanelDC, m_gps, m_res, m_bDrawnLive);
        DrawTimeToFix(*m_pPanelDC, TimeToFixText(), m_timeToFix.IsSearching(), m_res, m_bDrawnLive);
        DrawReceiverName(*m_pPanelDC, m_strReceiver, m_res, m_bDrawnLive);
        DrawCorrections(*m_pPanelDC, CorrectionsText(), m_res, m_bDrawnLive);
        if (m_bConnecting)
        {
            // The fix box's well as the background has it, with the word in place of "No data",
            // in the values' colour.
            const QRect well = PanelRect(panel::kFixWell);
            m_pPanelDC->BitBlt(well.x(), well.y(), m_res.bmpStatusPanel.copy(well));
            const QFont oldFont = m_pPanelDC->SelectFont(m_res.fontTiny);
            const QColor oldColour = m_pPanelDC->SetTextColor(QColor(0, 200, 200));
            const QString text = QFontMetrics(m_res.fontTiny)
                                     .elidedText(QStringLiteral("Connecting\u2026"), Qt::ElideRight,
                                                 well.width() - 6);
            m_pPanelDC->TextOut(panel::kFixText.x, panel::kFixText.y + 4, text);
            m_pPanelDC->SetTextColor(oldColour);
            m_pPanelDC->SelectFont(oldFont);
        }
        painter.drawPixmap(0, 0, m_pPanelDC->Finish());
    }
    for (const QRect& rect : event->region().subtracted(panelRect))
        painter.fillRect(rect, PanelBackground());
}

void COrvaneView::OnUpdate(CView* /*pSender*/, long lHint, const ViewHint& hint)
{
    COrvaneDoc* doc = GetOrvaneDoc();
    if (!doc)
        return;
    switch (lHint)
    {
    case HINT_GPS_DATA:
        OnGpsData(HintAs<std::vector<ReceivedLine>>(hint));
        break;
    case HINT_SOURCE_CONNECTING:
        m_bConnecting = true;
        if (const auto* text = HintAs<std::wstring>(hint))
            m_logCtrl.AddLine(*text);
        update(QRect(0, 0, kPanelWidth, panel::kRepaintHeight));
        break;
    case HINT_FIX_SEARCH:
        if (const auto* search = HintAs<FixSearchHint>(hint))
        {
            m_timeToFix.Start(search->kind, search->start);
            m_awaitedAnswer.reset();
            if (const std::optional<RestartKind> restart = RestartKindOf(search->kind))
                m_awaitedAnswer = AwaitedAnswer{search->family, *restart, search->kind};
            m_fixCountTimer.start();
            update(PanelRect(panel::kTimeToFixBox));
        }
        break;
    case HINT_CORRECTIONS_STARTED:
        if (const auto* mountpoint = HintAs<std::string>(hint))
        {
            m_corrections.emplace(*mountpoint);
            m_correctionsTimer.start();
            update(PanelRect(panel::kCorrectionsBox));
        }
        break;
    case HINT_CORRECTION_SENT:
        if (const auto* sent = HintAs<CorrectionSentHint>(hint); sent && m_corrections)
        {
            // One line a frame, marked as ours: RTCM3 comes a few frames a second.
            std::string line = "\u2192 " + FrameText(FrameKind::Rtcm3, sent->frame);
            if (sent->bWritten)
                m_corrections->Add(sent->frame, CorrectionsSummary::Clock::now());
            else
                line += "  (port busy, dropped)";
            m_logCtrl.AddLine(FromUtf8(line) + L"\r\n");
        }
        break;
    case HINT_NETWORK_NOTE:
        if (const auto* note = HintAs<NetworkNote>(hint))
        {
            m_logCtrl.AddLine(note->text + L"\r\n");
            if (note->bCorrections)
            {
                m_strCorrectionsNote = QString::fromStdWString(note->text);
                update(PanelRect(panel::kCorrectionsBox));
            }
        }
        break;
    case HINT_SOURCE_STARTED:
        // Another source: nothing of the last one's fix or its search is shown as its own.
        StopCorrections();
        m_timeToFix.Cancel();
        m_awaitedAnswer.reset();
        m_strReceiver.clear();
        m_fixCountTimer.stop();
        m_panelTimer.stop();
        m_panelPacer.Reset();
        m_gps = doc->m_gps;
        update(QRect(0, 0, kPanelWidth, panel::kRepaintHeight));
        break;
    case HINT_RECEIVER_IDENTIFIED:
        if (const auto* name = HintAs<std::wstring>(hint))
        {
            m_strReceiver = QString::fromStdWString(*name);
            update(PanelRect(panel::kReceiverBox));
        }
        break;
    case HINT_CONNECTION_CHANGED:
        // Sent as an open begins and again when it has ended.
        m_bConnecting = false;
        if (!doc->m_bConnected)
        {
            StopCorrections();
            m_timeToFix.Cancel();
            m_fixCountTimer.stop();
            m_panelTimer.stop();
            m_panelPacer.Reset();
            // Lines that waited for their epoch's end are shown, dimmed, with the rest.
            m_gps = doc->m_gps;
        }
        ShowConnectImages(doc->m_bConnected != 0);
        update(QRect(0, 0, kPanelWidth, panel::kRepaintHeight));
        // The connection can also close without a click (receiver unplugged).
        EnableRecordButton();
        break;
    case HINT_RECORDING_CHANGED:
        // A recording can also stop without a click (a write failed).
        ShowRecordImages(doc->m_bRecording != 0);
        EnableRecordButton();
        break;
    case HINT_PLAYBACK_CHANGED:
        OnPlaybackChanged(HintAs<PlaybackHint>(hint));
        break;
    case HINT_BAUD_DETECTED:
        if (const auto* detected = HintAs<BaudDetectedHint>(hint))
            m_logCtrl.AddLine(DescribeDetectedRate(*detected));
        break;
    default:
        break;
    }
}

void COrvaneView::OnGpsData(const std::vector<ReceivedLine>* pLines)
{
    const COrvaneDoc* doc = GetOrvaneDoc();
    if (!doc || !doc->m_bConnected)
        return;
    if (!pLines || pLines->empty())
    {
        // Nothing new: whatever waits is drawn when it is due.
        SchedulePanel();
        return;
    }
    {
        // Everything drained now reaches the terminal as one batch: one scroll, one repaint.
        CLogCtrl::Batch batch(m_logCtrl);
        for (const ReceivedLine& line : *pLines)
        {
            if (line.kind == FrameKind::Nmea)
                m_logCtrl.AddLine(QString::fromLocal8Bit(line.text.data(), static_cast<qsizetype>(line.text.size())).toStdWString());
            else
                m_logCtrl.AddLine(FromUtf8(FrameText(line.kind, line.text)) + L"\r\n");
            m_panelPacer.Line(line.epoch);
            if (m_awaitedAnswer && AnswersRestart(m_awaitedAnswer->family, m_awaitedAnswer->kind, line.text))
            {
                m_logCtrl.AddLine(std::wstring(FromUtf8(FixSearchName(m_awaitedAnswer->search))) +
                                  L": acknowledged by the receiver\r\n");
                m_awaitedAnswer.reset();
            }
            // The result follows the sentence that brought the fix; the terminal only, never
            // the recording, which takes the receiver's own lines.
            if (m_timeToFix.Feed(line.gps, line.arrived, line.epoch.began))
            {
                m_fixCountTimer.stop();
                m_logCtrl.AddLine(TimeToFixText().toStdWString() + L"\r\n");
                update(PanelRect(panel::kTimeToFixBox));
            }
        }
    }
    m_bHadData = true;
    m_lastSentence.restart();
    m_staleTimer.start(kStaleMs);
    SchedulePanel();
}

void COrvaneView::SchedulePanel()
{
    const std::int64_t due = m_panelPacer.Due();
    if (due < 0)
        return;
    if (due > 0)
    {
        m_panelTimer.start(static_cast<int>(due));
        return;
    }
    m_panelTimer.stop();
    m_panelPacer.Drawn();
    // The epoch's last sentence reaches the terminal with the panel it completes: one repaint.
    m_logCtrl.ShowPending();
    if (const COrvaneDoc* doc = GetOrvaneDoc())
        ShowRecord(doc->m_gps);
}

void COrvaneView::ShowRecord(const GpsData& gps)
{
    const QRect status(0, 0, kPanelWidth, panel::kSatellitePanelTop);
    const QRect sky(0, panel::kSatellitePanelTop, kPanelWidth, panel::kRepaintHeight - panel::kSatellitePanelTop);
    if (IsLive() != m_bDrawnLive)
    {
        // Dimmed or lit again: every value changes colour.
        m_gps = gps;
        update(status | sky);
        return;
    }
    // Only the parts whose values changed: the satellites' half often stays as it was.
    GpsData sameSky = gps;
    std::copy(std::begin(m_gps.satellites), std::end(m_gps.satellites), std::begin(sameSky.satellites));
    const bool bStatus = !(sameSky == m_gps);
    const bool bSky = !std::equal(std::begin(gps.satellites), std::end(gps.satellites), std::begin(m_gps.satellites));
    m_gps = gps;
    if (bStatus)
        update(status);
    if (bSky)
        update(sky);
}

void COrvaneView::StopCorrections()
{
    m_corrections.reset();
    m_strCorrectionsNote.clear();
    m_correctionsTimer.stop();
}

QString COrvaneView::CorrectionsText() const
{
    // The caster's trouble while no frame came lately; the summary otherwise.
    const auto now = CorrectionsSummary::Clock::now();
    if (!m_corrections)
        return m_strCorrectionsNote;
    const auto age = m_corrections->Age(now);
    if (!m_strCorrectionsNote.isEmpty() && (!age || *age > CorrectionsSummary::kRateWindow))
        return m_strCorrectionsNote;
    return QString::fromStdString(m_corrections->Text(now, m_gps));
}

QString COrvaneView::TimeToFixText() const
{
    return QString::fromStdString(m_timeToFix.Text(TimeToFix::Clock::now()));
}

bool COrvaneView::IsLive() const
{
    // Before the first sentence there is nothing old to pass off.
    if (!m_bHadData)
        return true;
    // A log that is paused or at its end is silent on purpose: its last state is no old news.
    if (m_pPlayerBar && m_pPlayerBar->HasPlayer())
        return true;
    const COrvaneDoc* doc = GetOrvaneDoc();
    return doc && doc->m_bConnected && m_lastSentence.isValid() && m_lastSentence.elapsed() < kStaleMs;
}

void COrvaneView::OnConnect()
{
    // The frame that holds the device decides; the view only asks, through the command route.
    if (auto* frame = dynamic_cast<CFrameWnd*>(window()))
        frame->RouteCommand(ID_CONNECT);
    EnableRecordButton();
}

void COrvaneView::EnableRecordButton()
{
    // A running recording can always be stopped, even after the receiver went away; a new one
    // starts only while connected.
    if (const COrvaneDoc* doc = GetOrvaneDoc())
        m_btnRecord.setEnabled(doc->m_bConnected != 0 || doc->m_bRecording != 0);
}

void COrvaneView::OnRecord()
{
    COrvaneDoc* doc = GetOrvaneDoc();
    if (!doc || (!doc->m_bRecording && !doc->m_bConnected))
        return;
    doc->SetRecording(!doc->m_bRecording);
    ShowRecordImages(doc->m_bRecording != 0);
    EnableRecordButton();
}

void COrvaneView::LayOutMapAndPlayer()
{
    // The player's bar takes the foot of the map's column; the map gives up that much.
    const int bottom = std::min(kClientBottom, height());
    const int width = std::max(0, this->width() - kMapLeft - 2);
    const bool bBar = m_pPlayerBar && m_pPlayerBar->HasPlayer();
    const int barHeight = bBar ? CPlayerBar::kHeight : 0;
    if (m_pMapView)
        m_pMapView->resize(width, std::max(0, bottom - barHeight));
    if (bBar)
        m_pPlayerBar->setGeometry(kMapLeft, bottom - barHeight, width, barHeight);
}

void COrvaneView::OnPlaybackChanged(const PlaybackHint* pHint)
{
    const std::shared_ptr<LogPlayer> player = pHint ? pHint->player : nullptr;
    m_pPlayerBar->SetPlayer(player);
    m_pPlayerBar->setVisible(player != nullptr);
    if (player)
    {
        // The terminal is narrow: the file's name there, its whole path on standard error.
        const std::string path = player->Path();
        const std::wstring name = FromUtf8(std::filesystem::path(path).filename().string());
        m_logCtrl.AddLine(L"Playing the log " + name);
        m_pPlayerBar->SetOnEnded([this, path, name, linesPending = pHint->linesPending] {
            // After the log's last lines, which may still wait in the device or be posted.
            if (linesPending && linesPending())
                return false;
            m_logCtrl.AddLine(LogEndedText(name));
            std::fprintf(stderr, "orvane: %s\n", ToUtf8(LogEndedText(FromUtf8(path))).c_str());
            return true;
        });
    }
    LayOutMapAndPlayer();
}

void COrvaneView::ShowConnectImages(bool bConnected)
{
    if (bConnected && m_pPlayerBar && m_pPlayerBar->HasPlayer())
    {
        m_btnConnect.LoadImages(QStringLiteral(":/images/btn_close_log_336.png"),
                                QStringLiteral(":/images/btn_close_log_hot_337.png"));
        m_btnConnect.setAccessibleName(QStringLiteral("Close Log"));
        m_btnConnect.setToolTip(QStringLiteral("Stop playing the log"));
        return;
    }
    m_btnConnect.setToolTip(QStringLiteral("Connect to the receiver on the chosen port"));
    if (bConnected)
        m_btnConnect.LoadImages(QStringLiteral(":/images/btn_disconnect_319.png"),
                                QStringLiteral(":/images/btn_disconnect_hot_320.png"));
    else
        m_btnConnect.LoadImages(QStringLiteral(":/images/btn_connect_313.png"),
                                QStringLiteral(":/images/btn_connect_hot_318.png"));
    m_btnConnect.setAccessibleName(bConnected ? QStringLiteral("Disconnect") : QStringLiteral("Connect"));
}

void COrvaneView::ShowRecordImages(bool bRecording)
{
    if (bRecording)
        m_btnRecord.LoadImages(QStringLiteral(":/images/btn_rec_active_315.png"),
                               QStringLiteral(":/images/btn_rec_active_hot_321.png"));
    else
        m_btnRecord.LoadImages(QStringLiteral(":/images/btn_rec_idle_314.png"),
                               QStringLiteral(":/images/btn_rec_idle_hot_322.png"));
    m_btnRecord.setAccessibleName(bRecording ? QStringLiteral("Stop recording") : QStringLiteral("Record"));
}
