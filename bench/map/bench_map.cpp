// What one position on the web map costs: the map page in the real web engine, a move of about
// 33 m sent as the map view sends it, a few times a second, along a winding road, so that the
// map pans at its edge as it does while driving. It prints the CPU time per move of the
// renderer process by thread and of this process, from the kernel's per-thread run times.
// Run it under an X server (bench/map/run.sh starts Xvfb); offscreen hides the compositing.
//
//   bench_map [MOVES_PER_SECOND=2] [SECONDS=30] [TRACK_POINTS=0]
//
// TRACK_POINTS first draws a track that long, as after hours of driving.

#include "ui/HtmlViewEx.h"
#include "ui/MapPage.h"
#include "ui/RenderBackend.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTimer>
#include <QWebEnginePage>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{
// Nanoseconds on a CPU of each of the process's threads, by thread name.
std::map<std::string, long long> RunTimes(pid_t pid)
{
    std::map<std::string, long long> times;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
    {
        const std::string folder = tasks.filePath(task).toStdString();
        std::ifstream statFile(folder + "/schedstat");
        std::ifstream commFile(folder + "/comm");
        long long ns = 0;
        std::string name;
        if (statFile >> ns && std::getline(commFile, name))
            times[name] += ns;
    }
    return times;
}

long long Total(const std::map<std::string, long long>& times)
{
    long long total = 0;
    for (const auto& [name, ns] : times)
        total += ns;
    return total;
}

constexpr double kStepDegrees = 0.0003;
constexpr int kSettleSeconds = 5;
} // namespace

int main(int argc, char** argv)
{
    ChooseGlBeforeApplication();
    QApplication app(argc, argv);
    const int rate = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2;
    const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 30;
    const int trackPoints = argc > 3 ? std::max(0, std::atoi(argv[3])) : 0;

    QFile file(QStringLiteral(":/map.html"));
    if (!file.open(QIODevice::ReadOnly))
        return 1;
    const std::string stored = file.readAll().toStdString();
    double lat = 46.5;
    double lon = 6.6;
    std::string page;
    if (!CentreMapPage(stored, lat, lon, page))
        return 1;

    CHtmlViewEx view;
    view.resize(640, 740);
    view.show();
    view.LoadFromText(page);
    QObject::connect(&view, &QWebEngineView::loadFinished, [&](bool) {
        std::vector<MapPoint> track;
        for (int i = 0; i < trackPoints; ++i)
            track.push_back({lat - 0.01 + 0.01 * std::sin(i / 50.0), lon - 0.01 + 0.00001 * i});
        track.push_back({lat, lon});
        view.RunScript(TrackScript(track));
    });

    int step = 0;
    pid_t renderer = 0;
    std::map<std::string, long long> rendererAtStart;
    long long selfAtStart = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++step;
        if (step == kSettleSeconds * rate)
        {
            renderer = static_cast<pid_t>(view.page()->renderProcessPid());
            rendererAtStart = RunTimes(renderer);
            selfAtStart = Total(RunTimes(getpid()));
        }
        else if (step == (kSettleSeconds + seconds) * rate)
        {
            const double moves = static_cast<double>(seconds) * rate;
            std::map<std::string, long long> rendererTimes = RunTimes(renderer);
            for (auto& [name, ns] : rendererTimes)
                ns -= rendererAtStart[name];
            std::printf("%d moves, %d track points: renderer %.2f ms a move, Orvane's process %.2f ms a move\n",
                        static_cast<int>(moves), trackPoints, Total(rendererTimes) / 1e6 / moves,
                        (Total(RunTimes(getpid())) - selfAtStart) / 1e6 / moves);
            for (const auto& [name, ns] : rendererTimes)
                if (ns / 1e6 / moves >= 0.01)
                    std::printf("  renderer %-18s %.2f ms\n", name.c_str(), ns / 1e6 / moves);
            app.quit();
            return;
        }
        // A winding road: the map pans whenever the position nears its edge.
        lat += kStepDegrees * std::cos(step * 0.05);
        lon += kStepDegrees * std::sin(step * 0.05);
        view.RunScript(MovePositionScript({lat, lon}));
    });
    QTimer::singleShot(3000, [&] { timer.start(1000 / rate); });
    return app.exec();
}
