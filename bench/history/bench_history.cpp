// The history as the window keeps it: fed an hour of the simulated multi-constellation
// receiver (40 satellites at most, a lost fix every few minutes), then painted offscreen.
#include "gps/EpochDetector.h"
#include "gps/History.h"
#include "gps/NmeaDecoders.h"
#include "tools/gpssim/ReceiverSimulator.h"
#include "ui/HistoryView.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <chrono>
#include <cstdlib>
#include <vector>

namespace
{
// The tab's page in the window: 398 px wide under the panel.
constexpr int kTabWidth = 398;
constexpr int kTabHeight = 196;

// One record per line of `seconds` seconds of the receiver, with a cold start every 20 minutes.
std::vector<GpsData> Records(int seconds)
{
    SimConfig config;
    config.gnss = true;
    config.baud = 115200;
    ReceiverSimulator receiver(config);
    const auto start = std::chrono::sys_days{std::chrono::year{2026} / 12 / 9};
    std::vector<GpsData> records;
    GpsData gps;
    for (int s = 0; s < seconds; ++s)
    {
        if (s % 1200 == 1199)
            receiver.Restart(RestartKind::Cold, start + std::chrono::seconds(s));
        for (const std::string& line : receiver.Step(start + std::chrono::seconds(s)).sentences)
        {
            DecodeSentence(line, gps);
            records.push_back(gps);
        }
    }
    return records;
}

const std::vector<GpsData>& AnHour()
{
    static const std::vector<GpsData> records = Records(3600);
    return records;
}

// The document's feeding: every line, and every ended epoch.
void Feed(History& history, const std::vector<GpsData>& records)
{
    EpochDetector epochs;
    GpsData ended;
    for (std::size_t i = 0; i < records.size(); ++i)
    {
        if (epochs.Feed(records[i], ended))
            history.AddEpoch(ended);
        if (i % 5000 == 0)
            history.MarkEvent(HistoryEventKind::HotStart);
        history.Add(records[i]);
    }
}

void MemoryAfterAnHour(benchmark::State& state)
{
    std::int64_t clock = 0;
    auto history = std::make_unique<History>([&clock] { return clock; });
    for (auto _ : state)
    {
        Feed(*history, AnHour());
        benchmark::DoNotOptimize(history->Now());
    }
    state.counters["sizeof_History"] = static_cast<double>(sizeof(History));
    state.counters["sizeof_sample"] = static_cast<double>(sizeof(HistorySample));
    state.counters["samples"] = static_cast<double>(history->Samples().Size());
    state.counters["fixes"] = static_cast<double>(history->Fixes().Size());
    state.counters["events"] = static_cast<double>(history->Events().Size());
    state.counters["lines"] = static_cast<double>(AnHour().size());
}
BENCHMARK(MemoryAfterAnHour)->Iterations(1)->Unit(benchmark::kMillisecond);

void AddOneLine(benchmark::State& state)
{
    const std::vector<GpsData>& records = AnHour();
    std::int64_t clock = 0;
    auto history = std::make_unique<History>([&clock] { return clock; });
    std::size_t i = 0;
    for (auto _ : state)
    {
        history->Add(records[i]);
        i = (i + 1) % records.size();
    }
}
BENCHMARK(AddOneLine);

template <bool Timeline> void PaintTab(benchmark::State& state)
{
    std::int64_t clock = 0;
    auto history = std::make_unique<History>([&clock] { return clock; });
    Feed(*history, AnHour());
    const PanelResources res = PanelResources::WithFonts();
    QImage image(kTabWidth, kTabHeight, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state)
    {
        QPainter painter(&image);
        if (Timeline)
            DrawHistory(painter, image.rect(), *history, res);
        else
            DrawAccuracy(painter, image.rect(), *history, res, kTabHeight - 30);
    }
    state.counters["fixes"] = static_cast<double>(history->FixPositions().size());
    if (const char* path =
            std::getenv(Timeline ? "ORVANE_BENCH_HISTORY_PNG" : "ORVANE_BENCH_ACCURACY_PNG"))
        image.save(QString::fromLocal8Bit(path));
}
BENCHMARK(PaintTab<true>)->Name("PaintHistoryTab")->Unit(benchmark::kMicrosecond);
BENCHMARK(PaintTab<false>)->Name("PaintAccuracyTab")->Unit(benchmark::kMicrosecond);
} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
