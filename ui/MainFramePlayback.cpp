// The main frame's part in playing a recorded log: the log is one more source of the device,
// so everything after the reader loop is the receiver's road.
#include "ui/MainFrame.h"

#include "framework/core/MessageBox.h"
#include "recording/OrvaneDoc.h"
#include "ui/ErrorMessages.h"
#include "util/WideText.h"

#include <QFileDialog>
#include <QFileInfo>

bool CMainFrame::OpenLog(const std::wstring& path)
{
    // Read and checked before anything changes: a bad file leaves the window as it was.
    auto player = std::make_shared<LogPlayer>();
    if (!player->Load(ToUtf8(path)))
    {
        ShowMessageBox(DescribeLogFailure(path, player->LastError(), player->LastSystemError()),
                       kErrorCaption, MbIcon::Error);
        return false;
    }
    auto* doc = dynamic_cast<COrvaneDoc*>(GetActiveDocument());
    const bool bWasConnected = doc && doc->m_bConnected;
    m_baudDetection.Cancel();
    CancelOpen();
    CloseDevice();
    // Lines still queued from the source before belong to it, not to this log.
    DropQueuedLines();

    Subscribe();
    if (!m_device.OpenLog(player))
    {
        m_connNotify.disconnect();
        m_connStopped.disconnect();
        m_pPlayer.reset();
        // Only a reader thread that could not be started gets here.
        ShowMessageBox(DescribeLogFailure(path, LogError::Unreadable, m_device.LastOpenSystemError()),
                       kErrorCaption, MbIcon::Error);
        SetConnected(false, bWasConnected);
        return false;
    }
    m_pPlayer = std::move(player);
    m_strOpenPath = path;
    SetTitleFor(path);
    // Before the connection, so that the views know the connect button is Close Log.
    if (doc)
        TellViewsOfPlayback(*doc);
    SetConnected(true, true);
    return true;
}

void CMainFrame::CloseLog()
{
    if (!m_pPlayer)
        return;
    CloseDevice();
    // What the log queued and the views did not take yet must not reach the next source's.
    DropQueuedLines();
    m_pPlayer.reset();
    SetTitleFor({});
    if (auto* doc = dynamic_cast<COrvaneDoc*>(GetActiveDocument()))
        TellViewsOfPlayback(*doc);
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

void CMainFrame::DropQueuedLines()
{
    m_batch.clear();
    m_device.PopLines(m_batch);
    m_batch.clear();
}

void CMainFrame::SetTitleFor(const std::wstring& logPath)
{
    const QString app = QStringLiteral("Orvane");
    setWindowTitle(logPath.empty() ? app
                                   : QFileInfo(QString::fromStdWString(logPath)).fileName() + QStringLiteral(" - ") + app);
}

void CMainFrame::TellViewsOfPlayback(COrvaneDoc& doc)
{
    PlaybackHint hint{m_pPlayer, [this] { return IsUpdatePending() || m_device.QueuedLineCount() > 0; }};
    doc.UpdateAllViews(nullptr, HINT_PLAYBACK_CHANGED, &hint);
}
