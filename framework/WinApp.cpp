#include "framework/WinApp.h"

#include "framework/FrameWnd.h"
#include "framework/core/CommandIds.h"

#include <QApplication>
#include <QMessageBox>
#include <QSettings>

namespace
{
CWinApp* g_pApp = nullptr;

constexpr const char* kFrameGeometryKey = "MainFrame/Geometry";

QMessageBox::Icon ToQtIcon(MbIcon icon)
{
    switch (icon)
    {
    case MbIcon::Error:
        return QMessageBox::Critical;
    case MbIcon::Warning:
        return QMessageBox::Warning;
    case MbIcon::Information:
        return QMessageBox::Information;
    case MbIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

void ShowQtMessageBox(const std::wstring& text, const std::wstring& caption, MbIcon icon)
{
    if (!QApplication::instance())
        return;
    CWinApp* app = AfxGetApp();
    QWidget* owner = app ? app->m_pMainWnd : nullptr;
    QMessageBox box(ToQtIcon(icon), QString::fromStdWString(caption), QString::fromStdWString(text),
                    QMessageBox::Ok, owner);
    box.exec();
}
} // namespace

CWinApp* AfxGetApp()
{
    return g_pApp;
}

CWinApp::CWinApp()
{
    g_pApp = this;
    m_previousMessageBox = SetMessageBoxHandler(ShowQtMessageBox);
}

CWinApp::~CWinApp()
{
    // No save here: the derived hook is gone already. Run() has saved and destroyed normally.
    m_pMainWnd = nullptr;
    m_pFrame.reset();
    m_pDocument.reset();
    SetMessageBoxHandler(std::move(m_previousMessageBox));
    if (g_pApp == this)
        g_pApp = nullptr;
    // The QApplication goes last: every widget is gone by now.
}

int CWinApp::Run(int& argc, char** argv)
{
    if (!QApplication::instance())
        m_pQtApp = std::make_unique<QApplication>(argc, argv);

    int code = 1;
    if (InitInstance())
        code = m_pMainWnd ? QApplication::exec() : 0;
    DestroyMainWindow();
    return code;
}

bool CWinApp::OpenNewDocument(const std::function<std::unique_ptr<CDocument>()>& makeDocument,
                              const std::function<std::unique_ptr<CFrameWnd>()>& makeFrame)
{
    DestroyMainWindow();

    std::unique_ptr<CDocument> doc = makeDocument();
    if (!doc)
        return false;
    std::unique_ptr<CFrameWnd> frame = makeFrame();
    if (!frame || !frame->Create(doc.get()))
        return false; // the frame (and its views) go before the document

    m_pDocument = std::move(doc);
    m_pFrame = std::move(frame);
    m_pMainWnd = m_pFrame.get();
    m_bStateSaved = false;

    LoadState();
    m_pDocument->SendInitialUpdate();
    return true;
}

void CWinApp::DestroyMainWindow()
{
    if (m_pFrame && !m_bStateSaved)
        SaveState();
    m_pMainWnd = nullptr;
    m_pFrame.reset();
    m_pDocument.reset();
}

void CWinApp::SetRegistryKey(const QString& key)
{
    QCoreApplication::setOrganizationName(key);
    m_bStoreFrameState = true;
}

bool CWinApp::OnCommand(unsigned id)
{
    if (id == ID_APP_EXIT)
    {
        if (m_pMainWnd)
            m_pMainWnd->close();
        return true;
    }
    return false;
}

void CWinApp::LoadState()
{
    PreLoadState();
    if (m_bStoreFrameState && m_pMainWnd)
    {
        const QByteArray geometry = QSettings().value(kFrameGeometryKey).toByteArray();
        if (!geometry.isEmpty())
            m_pMainWnd->restoreGeometry(geometry);
    }
    LoadCustomState();
}

void CWinApp::SaveState()
{
    if (m_bStateSaved)
        return;
    m_bStateSaved = true;
    if (m_bStoreFrameState && m_pMainWnd)
        QSettings().setValue(kFrameGeometryKey, m_pMainWnd->saveGeometry());
    SaveCustomState();
}
