#include "app/OrvaneApp.h"

#include "app/CommandLine.h"
#include "app/ShutdownSignals.h"
#include "framework/core/CommandIds.h"
#include "recording/OrvaneDoc.h"
#include "ui/AboutDlg.h"
#include "ui/ErrorMessages.h"
#include "ui/MainFrame.h"
#include "ui/RenderBackend.h"
#include "ui/SetupView.h"

#include "util/WideText.h"

#include <QApplication>
#include <QIcon>

#include <iostream>

namespace
{
const char* const kAppName = "Orvane";

// Every size drawn, so that title bars, task bars and switchers each pick a sharp one.
QIcon AppIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/images/app_icon_128_%1.png").arg(size), QSize(size, size));
    return icon;
}
} // namespace

COrvaneApp* GetOrvaneApp()
{
    return dynamic_cast<COrvaneApp*>(AfxGetApp());
}

COrvaneApp::COrvaneApp() = default;

COrvaneApp::~COrvaneApp() = default;

std::wstring COrvaneApp::MakeConfigPath() const
{
    return ComputeConfigPath(CurrentExecutablePath());
}

std::unique_ptr<CMainFrame> COrvaneApp::CreateMainFrame()
{
    return std::make_unique<CMainFrame>();
}

std::unique_ptr<COrvaneDoc> COrvaneApp::CreateDocument()
{
    return std::make_unique<COrvaneDoc>();
}

bool COrvaneApp::InitInstance()
{
    // Before anything else: the load-state step needs it.
    m_strConfigPath = MakeConfigPath();

    // Before the window state or the map's cache is opened in its new place.
    MoveEarlierUserFiles(CurrentConfigEnvironment());
    QApplication::setApplicationName(QString::fromLatin1(kAppName));
    QApplication::setWindowIcon(AppIcon());
    // The window state goes to ~/.config/orvane/Orvane.conf.
    SetRegistryKey(QString::fromLatin1(kUserFolderName));
    ChooseQuickBackend();

    // It always starts with a new, empty document and never connects by itself; a log named
    // on the command line is played once the window shows.
    if (!OpenNewDocument([this] { return CreateDocument(); },
                         [this]() -> std::unique_ptr<CFrameWnd> { return CreateMainFrame(); }))
        return false;

    // The application name alone, with no document name.
    m_pMainWnd->setWindowTitle(QString::fromLatin1(kAppName));
    m_pMainWnd->show();
    m_pMainWnd->repaint();

    std::vector<std::string> args;
    for (const QString& arg : QCoreApplication::arguments())
        args.push_back(arg.toStdString());
    if (const std::optional<std::string> log = LogToPlay(args); log && m_bPlayLogArgument)
        if (auto* frame = dynamic_cast<CMainFrame*>(m_pMainWnd))
            frame->OpenLog(QString::fromStdString(*log).toStdWString());

    // Ctrl+C, a closed terminal, a logout: the same end as File > Exit, so that the settings
    // are saved and a recording is completed.
    m_pSignals = std::make_unique<CShutdownSignals>([this](int) {
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
        if (m_pMainWnd)
            m_pMainWnd->close();
    });
    return true;
}

bool COrvaneApp::OnCommand(unsigned id)
{
    if (id == ID_APP_ABOUT)
    {
        OnAppAbout();
        return true;
    }
    return CWinApp::OnCommand(id);
}

void COrvaneApp::OnAppAbout()
{
    CAboutDlg dialog(m_pMainWnd);
    dialog.exec();
}

void COrvaneApp::PreLoadState()
{
    if (auto* frame = dynamic_cast<CMainFrame*>(m_pMainWnd))
        frame->SetSettings(m_settings);
    if (CDocument* pDoc = GetDocument())
        for (CView* pView : pDoc->GetViews())
            if (auto* pSetup = dynamic_cast<CSetupView*>(pView))
                pSetup->SetSettings(m_settings, [this] { SaveSettingsFile(); });
}

bool COrvaneApp::LoadCustomState()
{
    return LoadSettings(m_strConfigPath, m_settings);
}

bool COrvaneApp::SaveSettingsFile()
{
    int error = 0;
    if (SaveSettings(m_settings, m_strConfigPath, error))
        return true;
    ShowMessageBox(DescribeSettingsSaveFailure(m_strConfigPath, error), kErrorCaption, MbIcon::Error);
    return false;
}

bool COrvaneApp::SaveCustomState()
{
    int error = 0;
    if (SaveSettings(m_settings, m_strConfigPath, error))
        return true;
    // The window is going and a box could no longer be answered: the terminal is told.
    std::cerr << ToUtf8(DescribeSettingsSaveFailure(m_strConfigPath, error)) << std::endl;
    return false;
}
