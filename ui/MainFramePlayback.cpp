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
