// Starts the simulated receiver, opens Orvane's window with a throw-away settings file, types
// the receiver's port, connects, records a little, waits for live data and saves the window as
// a PNG: orvane-screenshot OUTPUT.png [SECONDS] [setup|terminal]. The map shows the position and
// the track driven so far. With `log FILE` instead, it plays that log at 16x for the seconds;
// with `family NAME [no-banner]` (ublox, mediatek, ...), the simulated receiver is one of that
// family, which without its banner says who it is only when asked; with `corrections ADDRESS
// [setup]`, the Corrections field holds the caster's address (and Share 127.0.0.1:10110).
#include "app/OrvaneApp.h"
#include "recording/OrvaneDoc.h"
#include "ui/MainFrame.h"
#include "ui/OrvaneView.h"
#include "ui/SetupView.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTabWidget>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace
{
class ShotApp : public COrvaneApp
{
public:
    explicit ShotApp(std::filesystem::path config) : m_config(std::move(config)) {}

protected:
    std::wstring MakeConfigPath() const override { return m_config.wstring(); }

private:
    std::filesystem::path m_config;
};

void Pump(int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        std::fprintf(stderr, "usage: orvane-screenshot OUTPUT.png [SECONDS] [setup|terminal]\n");
        return 2;
    }
    const std::string output = argv[1];
    const int seconds = argc > 2 ? std::max(2, std::atoi(argv[2])) : 8;
    const bool showSetup = argc > 3 && std::string(argv[3]) == "setup";
    const std::string logToPlay = argc > 4 && std::string(argv[3]) == "log" ? argv[4] : "";
    // "live": the log's last values as they play, not left to look stale.
    const bool bLive = argc > 5 && std::string(argv[5]) == "live";
    const std::string family = argc > 4 && std::string(argv[3]) == "family" ? argv[4] : "";
    const bool bBanner = !(argc > 5 && std::string(argv[5]) == "no-banner");
    const std::string corrections = argc > 4 && std::string(argv[3]) == "corrections" ? argv[4] : "";
    const bool bCorrectionsSetup = !corrections.empty() && argc > 5 && std::string(argv[5]) == "setup";

    char pattern[] = "/tmp/orvane-shot-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    if (!made)
        return 1;
    const std::filesystem::path folder = made;
    const std::filesystem::path link = folder / "gps";

    const pid_t sim = ::fork();
    if (sim == 0)
    {
        const std::string linkText = link.string();
        // A current multi-constellation receiver, as most users have.
        if (!family.empty())
            ::execl(ORVANE_GPSSIM, ORVANE_GPSSIM, "--gnss", "--family", family.c_str(), "--baud", "38400", "--seed",
                    "3", "--start", "48.8584,2.2945", "--link", linkText.c_str(), bBanner ? nullptr : "--no-banner",
                    static_cast<char*>(nullptr));
        else
            ::execl(ORVANE_GPSSIM, ORVANE_GPSSIM, "--gnss", "--baud", "38400", "--seed", "3", "--start",
                    "48.8584,2.2945", "--link", linkText.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }

    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication qtApp(argc, argv);
    int status = 1;
    {
        ShotApp app(folder / "Orvane.xml");
        if (app.InitInstance())
        {
            auto* frame = dynamic_cast<CMainFrame*>(app.m_pMainWnd);
            auto* view = frame ? dynamic_cast<COrvaneView*>(frame->centralWidget()) : nullptr;
            auto* doc = dynamic_cast<COrvaneDoc*>(app.GetDocument());
            for (int i = 0; i < 100 && !std::filesystem::exists(link); ++i)
                Pump(50);
            if (view && doc && !logToPlay.empty())
            {
                if (frame->OpenLog(QString::fromStdString(logToPlay).toStdWString()))
                {
                    // The log is indexed off the window's thread: its player comes after.
                    for (int i = 0; i < 200 && !frame->GetPlayer(); ++i)
                        Pump(50);
                    if (frame->GetPlayer())
                        frame->GetPlayer()->SetSpeed(bLive ? 1 : 16);
                }
                view->GetTabs()->setCurrentIndex(1);
                Pump(seconds * 1000);
                if (!bLive)
                {
                    // Paused, and left so for longer than a silent receiver takes to look stale.
                    if (frame->GetPlayer())
                        frame->GetPlayer()->Pause();
                    Pump(COrvaneView::kStaleMs + 500);
                }
                frame->grab().save(QString::fromStdString(output));
                status = doc->m_bConnected ? 0 : 1;
            }
            else if (view && doc)
            {
                doc->m_strSaveFolder = folder.wstring();
                QComboBox* ports = view->GetSetupView()->m_cbPort;
                ports->lineEdit()->setText(QString::fromStdString(link.string()));
                emit ports->lineEdit()->editingFinished();
                // The simulator's rate: the picture shows a receiver that answers at once.
                QComboBox* rates = view->GetSetupView()->m_cbBaud;
                rates->setCurrentIndex(rates->findText(QStringLiteral("38400")));
                view->GetSetupView()->ApplyBaudSelection();
                if (!corrections.empty())
                {
                    QLineEdit* field = view->GetSetupView()->m_editCorrections;
                    field->setText(QString::fromStdString(corrections));
                    emit field->editingFinished();
                    view->GetSetupView()->m_editShare->setText(QStringLiteral("127.0.0.1:10110"));
                    emit view->GetSetupView()->m_editShare->editingFinished();
                }
                view->GetConnectButton().click();
                Pump(1500);
                view->GetRecordButton().click();
                view->GetTabs()->setCurrentIndex(showSetup || bCorrectionsSetup ? 0 : 1);
                Pump(seconds * 1000);
                frame->grab().save(QString::fromStdString(output));
                status = doc->m_bConnected ? 0 : 1;
                view->GetRecordButton().click();
            }
            frame->close();
        }
        app.DestroyMainWindow();
    }
    ::kill(sim, SIGTERM);
    ::waitpid(sim, nullptr, 0);
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    if (status != 0)
        std::fprintf(stderr, "orvane-screenshot: the window did not connect to the simulated receiver\n");
    return status;
}
