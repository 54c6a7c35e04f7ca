// The main frame's part in playing a recorded log: the log is one more source of the device,
// so everything after the reader loop is the receiver's road.
#include "ui/MainFrame.h"

#include "framework/core/MessageBox.h"
#include "recording/OrvaneDoc.h"
#include "ui/ErrorMessages.h"
#include "util/WideText.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>

#include <system_error>

namespace
{
// How often the title shows the indexing's progress and the end is looked for.
constexpr int kLogOpeningTickMs = 100;
} // namespace

CMainFrame::LogOpening::~LogOpening()
{
    progress.cancel = true;
    if (worker.joinable())
        worker.join();
    if (pTimer)
    {
        pTimer->stop();
        pTimer->deleteLater();
    }
}

bool CMainFrame::OpenLog(const std::wstring& path)
{
    // A log still being indexed gives way to this one.
    CancelLogOpening();
    // Looked at before anything changes: what is not a readable regular file never gets as
    // far as a worker, and the window stays as it was.
    auto player = std::make_shared<LogPlayer>();
    if (!player->Open(ToUtf8(path)))
    {
        ShowMessageBox(DescribeLogFailure(path, player->LastError(), player->LastSystemError()),
                       kErrorCaption, MbIcon::Error);
        return false;
    }
    auto opening = std::make_unique<LogOpening>();
    opening->player = std::move(player);
    opening->path = path;
    opening->title = windowTitle();
    try
    {
        opening->worker = std::thread(
            [o = opening.get()]
            {
                o->player->Index(&o->progress);
                o->bIndexed = true;
            });
    }
    catch (const std::system_error& error)
    {
        ShowMessageBox(DescribeLogFailure(path, LogError::Unreadable, error.code().value()), kErrorCaption,
                       MbIcon::Error);
        return false;
    }
    opening->pTimer = new QTimer(this);
    connect(opening->pTimer, &QTimer::timeout, this, [this] { OnLogOpeningTick(); });
    opening->pTimer->start(kLogOpeningTickMs);
    m_pLogOpening = std::move(opening);
    return true;
}

void CMainFrame::OnLogOpeningTick()
{
    if (!m_pLogOpening)
        return;
    LogOpening& opening = *m_pLogOpening;
    if (!opening.bIndexed)
    {
        const std::uint64_t total = opening.progress.total;
        const int percent = total == 0 ? 0 : static_cast<int>(opening.progress.done * 100 / total);
        setWindowTitle(QStringLiteral("Opening %1\u2026 %2 % - Orvane")
                           .arg(QFileInfo(QString::fromStdWString(opening.path)).fileName())
                           .arg(percent));
        return;
    }
    std::shared_ptr<LogPlayer> player = opening.player;
    const std::wstring path = opening.path;
    CancelLogOpening();
    if (player->LastError() != LogError::None)
    {
        if (player->LastError() != LogError::Cancelled)
            ShowMessageBox(DescribeLogFailure(path, player->LastError(), player->LastSystemError()),
                           kErrorCaption, MbIcon::Error);
        return;
    }
    StartLog(std::move(player), path);
}

void CMainFrame::CancelLogOpening()
{
    if (!m_pLogOpening)
        return;
    setWindowTitle(m_pLogOpening->title);
    m_pLogOpening.reset();
}

bool CMainFrame::StartLog(std::shared_ptr<LogPlayer> player, const std::wstring& path)
{
    COrvaneDoc* doc = Doc();
    m_bOpenReplacesShown = doc && doc->m_bConnected;
    // The source before, and whatever it still had queued, go with its session.
    CGpsSession& session = NewSession();
    if (!session.OpenLog(player, path))
        return false;
    SetTitleFor(path);
    // Before the connection, so that the views know the connect button is Close Log.
    if (doc)
        TellViewsOfPlayback(*doc);
    m_bOpenReplacesShown = true;
    SetConnected(true, true);
    return true;
}

void CMainFrame::CloseLog()
{
    CancelLogOpening();
    if (!m_pSession->IsLog())
        return;
    // What the log queued and the views did not take yet goes with its session.
    NewSession(false);
    SetConnected(false, true);
}

void CMainFrame::OnFileOpenLog()
{
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Open Log"), QString(),
        QStringLiteral("NMEA logs (*.nmea *.txt *.log);;All files (*)"));
    if (!path.isEmpty())
        OpenLog(path.toStdWString());
}

void CMainFrame::SetTitleFor(const std::wstring& logPath)
{
    const QString app = QStringLiteral("Orvane");
    setWindowTitle(logPath.empty() ? app
                                   : QFileInfo(QString::fromStdWString(logPath)).fileName() + QStringLiteral(" - ") + app);
}

void CMainFrame::TellViewsOfPlayback(COrvaneDoc& doc)
{
    QPointer<CGpsSession> session = m_pSession.get();
    PlaybackHint hint{session->Player(), [session] { return session && session->LinesPending(); }};
    doc.UpdateAllViews(nullptr, HINT_PLAYBACK_CHANGED, &hint);
}
