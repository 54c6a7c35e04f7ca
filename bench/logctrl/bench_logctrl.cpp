// Cost of the terminal's hot paths: adding sentences to a full store, one by one or in a batch,
// and painting.

#include "ui/LogCtrl.h"

#include <QApplication>
#include <QImage>
#include <QRegion>

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace
{

const std::wstring kSentence = L"$GPGSV,3,1,12,01,62,278,42,03,12,041,33,06,28,148,39,11,44,290,41*7A\r\n";

// A terminal the size it has in the main window, holding the most lines it keeps.
struct FullTerminal
{
    CLogCtrl ctrl;

    FullTerminal()
    {
        ctrl.resize(400, 222);
        for (std::size_t i = 0; i < CLogCtrl::kMaxLines; ++i)
            ctrl.AddLine(kSentence);
    }
};

void BM_AddLineToFullStore(benchmark::State& state)
{
    FullTerminal terminal;
    for (auto _ : state)
        terminal.ctrl.AddLine(kSentence);
    benchmark::DoNotOptimize(&terminal.ctrl.GetLines().back());
}
BENCHMARK(BM_AddLineToFullStore);

// What the view does when it drains several sentences at once: one scroll and update per batch.
void BM_AddBatchToFullStore(benchmark::State& state)
{
    FullTerminal terminal;
    const std::vector<std::wstring> batch(static_cast<std::size_t>(state.range(0)), kSentence);
    for (auto _ : state)
        terminal.ctrl.AddLines(batch);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_AddBatchToFullStore)->Arg(1)->Arg(16);

void BM_PaintWholePane(benchmark::State& state)
{
    FullTerminal terminal;
    QImage target(terminal.ctrl.viewport()->size(), QImage::Format_RGB32);
    for (auto _ : state)
        terminal.ctrl.viewport()->render(&target);
    state.counters["lines"] = terminal.ctrl.GetPageLines();
}
BENCHMARK(BM_PaintWholePane);

// What a one-line scroll costs to repaint: the uncovered strip.
void BM_PaintOneLineStrip(benchmark::State& state)
{
    FullTerminal terminal;
    QImage target(terminal.ctrl.viewport()->size(), QImage::Format_RGB32);
    const QRegion strip(0, 0, terminal.ctrl.viewport()->width(), terminal.ctrl.GetLineHeight());
    for (auto _ : state)
        terminal.ctrl.viewport()->render(&target, QPoint(), strip);
}
BENCHMARK(BM_PaintOneLineStrip);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
