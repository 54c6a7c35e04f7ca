// The program as a person starts a recording with it, for tests that end it from outside
// (kill -9, SIGTERM): the real application object, frame, views and document, the port given
// on the command line, connect pressed, the kind chosen in the Tools menu, REC pressed once
// there is a fix. It then reports on stdout, every 50 ms, how many points its writer holds (for
// an NMEA log: how many bytes).
//
//   orvane-test-recorder CONFIG PORT FOLDER nmea|kml|gpx
//   orvane-test-recorder --held-shutdown   (signal handling alone: the first signal starts a
//                                           shutdown that lasts until standard input says
//                                           "exit"; any other line is answered with the number
//                                           of signals received)
#include "app/OrvaneApp.h"
#include "app/ShutdownSignals.h"
#include "framework/core/CommandIds.h"
#include "framework/core/MessageBox.h"
#include "recording/OrvaneDoc.h"
#include "ui/MainFrame.h"
#include "ui/OrvaneView.h"

#include <QAction>
#include <QApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

namespace
{
long long MonotonicMilliseconds()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class RecorderApp : public COrvaneApp
{
public:
    RecorderApp(std::string config, std::string port, std::string folder, std::string kind)
        : m_config(std::move(config)), m_port(std::move(port)), m_folder(std::move(folder)), m_kind(std::move(kind))
    {
    }

    bool InitInstance() override
    {
        SetMessageBoxHandler([](const std::wstring& text, const std::wstring&, MbIcon) {
            std::fprintf(stderr, "message: %ls\n", text.c_str());
        });
        if (!COrvaneApp::InitInstance())
            return false;
        QTimer::singleShot(0, m_pMainWnd, [this] { Start(); });
        return true;
    }

protected:
    std::wstring MakeConfigPath() const override { return std::wstring(m_config.begin(), m_config.end()); }

private:
    COrvaneDoc* Doc() const { return dynamic_cast<COrvaneDoc*>(GetDocument()); }
    CMainFrame* Frame() const { return dynamic_cast<CMainFrame*>(m_pMainWnd); }
    COrvaneView* View() const { return dynamic_cast<COrvaneView*>(Frame()->centralWidget()); }

    void Start()
    {
        Frame()->SetPortName(std::wstring(m_port.begin(), m_port.end()));
        Doc()->m_strSaveFolder = std::wstring(m_folder.begin(), m_folder.end());
        const unsigned id = m_kind == "kml" ? ID_SAVE_KML : m_kind == "gpx" ? ID_SAVE_GPX : ID_SAVE_NMEA;
        Frame()->UpdateCommandUI();
        Frame()->FindCommand(id)->trigger();
        View()->GetConnectButton().click();
        auto* timer = new QTimer(m_pMainWnd);
        QObject::connect(timer, &QTimer::timeout, m_pMainWnd, [this] { Tick(); });
        timer->start(50);
    }

    void Tick()
    {
        COrvaneDoc* doc = Doc();
        if (!doc->m_bRecording)
        {
            if (doc->m_bConnected && doc->m_gps.fixMode >= 2 && !m_bPressed)
            {
                m_bPressed = true;
                View()->GetRecordButton().click();
                std::printf("RECORDING %d\n", doc->m_bRecording);
                std::fflush(stdout);
            }
            return;
        }
        const long long points = doc->m_pRecorder ? doc->m_pRecorder->Written() : 0;
        std::printf("AT %lld POINTS %lld\n", MonotonicMilliseconds(), points);
        std::fflush(stdout);
    }

    std::string m_config, m_port, m_folder, m_kind;
    bool m_bPressed = false;
};

int HeldShutdown(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    CShutdownSignals handler([](int signal) {
        std::printf("CLOSING %d\n", signal);
        std::fflush(stdout);
        // A shutdown that hangs (a stuck medium, say) for as long as the test wants.
        char command[32];
        while (std::fgets(command, sizeof command, stdin) && std::strcmp(command, "exit\n") != 0)
        {
            std::printf("RECEIVED %d\n", CShutdownSignals::ReceivedCount());
            std::fflush(stdout);
        }
        QCoreApplication::exit(0);
    });
    std::printf("READY %d\n", handler.IsInstalled() ? 1 : 0);
    std::fflush(stdout);
    return app.exec();
}
} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--held-shutdown") == 0)
        return HeldShutdown(argc, argv);
    if (argc != 5)
    {
        std::fprintf(stderr, "usage: %s CONFIG PORT FOLDER nmea|kml|gpx\n", argv[0]);
        return 2;
    }
    RecorderApp app(argv[1], argv[2], argv[3], argv[4]);
    int qtArgc = 1;
    return app.Run(qtArgc, argv);
}
