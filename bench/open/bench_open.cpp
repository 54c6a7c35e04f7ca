// bench_open: the longest time the window's thread is blocked while a source opens. A 1 ms
// timer on that thread records the gaps between its ticks while the real window connects,
// through its connect button, to peers on loopback; names are looked up by a resolver built
// into this program (below), so no query ever leaves the machine. Prints figures; asserts none.
//
// Build:  ninja -C build/<dir> bench_open   (a Release or RelWithDebInfo build, needs ORVANE_GUI)
// Run:    QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1 build/<dir>/bench/open/bench_open
//         Each case runs until the open has ended (at most 20 s); the whole run takes about a
//         minute.
#include "app/OrvaneApp.h"
#include "framework/core/MessageBox.h"
#include "recording/OrvaneDoc.h"
#include "support/LoopbackPeers.h"
#include "ui/MainFrame.h"
#include "ui/OrvaneView.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <dlfcn.h>
#include <netdb.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The lookup every part of the program calls: names under .bench.invalid stand for a slow or a
// hanging nameserver; numbers go to the C library with AI_NUMERICHOST, which never asks one;
// any other name is not found.
extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints,
                           addrinfo** res)
{
    using Real = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
    static const Real real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "getaddrinfo"));
    const std::string host = node ? node : "";
    if (host == "slow.bench.invalid")
    {
        std::this_thread::sleep_for(4s);
        return EAI_AGAIN;
    }
    if (host == "hang.bench.invalid")
    {
        std::this_thread::sleep_for(15s);
        return EAI_AGAIN;
    }
    addrinfo numeric = hints ? *hints : addrinfo{};
    numeric.ai_flags |= AI_NUMERICHOST;
    return real ? real(node, service, &numeric, res) : EAI_FAIL;
}

namespace
{

class BenchApp : public COrvaneApp
{
public:
    explicit BenchApp(fs::path config) : m_config(std::move(config)) {}

protected:
    std::wstring MakeConfigPath() const override { return m_config.wstring(); }

private:
    fs::path m_config;
};

double CpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Figures
{
    double maxGapMs = 0;
    double endedS = 0;
    double cpuS = 0;
    bool connected = false;
    bool messageShown = false;
};

// Clicks connect (and Disconnect after cancelMs, if given) and runs the event loop until the
// open has ended; the gaps between the ticks of a 1 ms timer are the time the thread was not
// free.
Figures Open(CMainFrame& frame, COrvaneView& view, COrvaneDoc& doc, const std::wstring& source,
             const int& messages, int cancelMs)
{
    frame.SetPortName(source);
    const int before = messages;
    Figures figures;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    Clock::time_point last = Clock::now();
    QObject::connect(&ticker, &QTimer::timeout,
                     [&]
                     {
                         const Clock::time_point now = Clock::now();
                         figures.maxGapMs = std::max(
                             figures.maxGapMs,
                             std::chrono::duration<double, std::milli>(now - last).count());
                         last = now;
                     });
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout,
                     [&]
                     {
                         if (!frame.IsConnecting())
                             loop.quit();
                     });
    const double cpu = CpuSeconds();
    const Clock::time_point start = Clock::now();
    ticker.start(1);
    check.start(5);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    // Counted from the click: a click the thread cannot take at once shows as a gap too.
    last = Clock::now();
    view.GetConnectButton().click();
    if (cancelMs > 0)
        QTimer::singleShot(cancelMs, &view, [&] { view.GetConnectButton().click(); });
    if (frame.IsConnecting())
        loop.exec();
    {
        const Clock::time_point now = Clock::now();
        figures.maxGapMs = std::max(figures.maxGapMs,
                                    std::chrono::duration<double, std::milli>(now - last).count());
    }
    figures.endedS = std::chrono::duration<double>(Clock::now() - start).count();
    figures.cpuS = CpuSeconds() - cpu;
    figures.connected = doc.m_bConnected != 0;
    figures.messageShown = messages != before;
    if (doc.m_bConnected != 0)
        view.GetConnectButton().click();
    return figures;
}

} // namespace

int main(int argc, char** argv)
{
    const fs::path folder =
        fs::temp_directory_path() / ("bench_open." + std::to_string(::getpid()));
    fs::create_directories(folder);
    QApplication qtApp(argc, argv);
    int messages = 0;
    std::wstring lastMessage;
    int status = 1;
    {
        BenchApp app(folder / "Orvane.xml");
        if (app.InitInstance())
        {
            // After start-up, which puts in the modal box.
            SetMessageBoxHandler(
                [&](const std::wstring& text, const std::wstring&, MbIcon)
                {
                    ++messages;
                    lastMessage = text;
                });
            auto* frame = dynamic_cast<CMainFrame*>(app.m_pMainWnd);
            auto* view = frame ? dynamic_cast<COrvaneView*>(frame->centralWidget()) : nullptr;
            auto* doc = dynamic_cast<COrvaneDoc*>(app.GetDocument());
            if (frame && view && doc)
            {
                // Start-up (the map's page among it) is over before the first case.
                QEventLoop settle;
                QTimer::singleShot(3000, &settle, &QEventLoop::quit);
                settle.exec();

                loopback::SilentListener silent;
                loopback::SilentListener silentGpsd;
                const loopback::ReservedPort refusing(SOCK_STREAM);
                const std::uint16_t refused = refusing.Port();
                loopback::GreetingPeer mute({}, loopback::GreetingPeer::After::Hold);
                loopback::GreetingPeer half({"{\"class\":\"VER"},
                                            loopback::GreetingPeer::After::Hold);
                const auto port = [](std::uint16_t p) { return std::to_wstring(p); };
                const struct
                {
                    const char* name;
                    std::wstring source;
                    std::function<void()> before;
                    int cancelMs = 0;
                } cases[] = {
                    {"tcp:// silent listener", L"tcp://127.0.0.1:" + port(silent.Port()), {}},
                    {"  the same, Disconnect at 0.5 s",
                     L"tcp://127.0.0.1:" + port(silent.Port()),
                     {},
                     500},
                    {"  lookup hangs, Disconnect at 0.5 s",
                     L"tcp://hang.bench.invalid:5000",
                     {},
                     500},
                    {"tcp:// refusing port", L"tcp://127.0.0.1:" + port(refused), {}},
                    {"gpsd:// accepts, never greets", L"gpsd://127.0.0.1:" + port(mute.Port()), {}},
                    {"gpsd:// half a greeting", L"gpsd://127.0.0.1:" + port(half.Port()), {}},
                    {"tcp:// lookup fails after 4 s", L"tcp://slow.bench.invalid:5000", {}},
                    {"tcp:// lookup hangs 15 s", L"tcp://hang.bench.invalid:5000", {}},
                    {"serial, gpsd address silent", L"/dev/null",
                     [&]
                     {
                         frame->SetGpsdAddress(
                             {SourceAddress::Kind::Gpsd, "127.0.0.1", silentGpsd.Port()});
                     }},
                };
                std::printf("%-36s %12s %10s %8s  %s\n", "case", "longest gap", "ended", "cpu",
                            "outcome");
                for (const auto& c : cases)
                {
                    if (c.before)
                        c.before();
                    lastMessage.clear();
                    const Figures f = Open(*frame, *view, *doc, c.source, messages, c.cancelMs);
                    std::string outcome =
                        !f.messageShown ? (f.connected ? "connected" : "cancelled, no message")
                                        : QString::fromStdWString(lastMessage)
                                              .section(QLatin1Char('\n'), 0, 0)
                                              .toStdString();
                    std::printf("%-36s %9.1f ms %8.2f s %6.2f s  %s\n", c.name, f.maxGapMs,
                                f.endedS, f.cpuS, outcome.c_str());
                    std::fflush(stdout);
                }
                status = 0;
            }
        }
        app.DestroyMainWindow();
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return status;
}
