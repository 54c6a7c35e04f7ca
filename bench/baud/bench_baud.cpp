// Time to find each rate of the setup form: the simulated receiver sends at the rate, Orvane was
// connected at another (9600, or 4800 for 9600 itself), heard nothing valid, and now listens.
// Reports the probe's time and the time from the reopen to the first checksum-valid sentence;
// the program adds its quiet wait (CBaudDetection::kQuietMs, 3 s) before the probe.
#include "device/BaudProbe.h"
#include "device/GPSDevice.h"
#include "serial/BaudRates.h"
#include "tools/gpssim/CycleSource.h"
#include "tools/gpssim/PseudoTerminal.h"
#include "tools/gpssim/SimSession.h"
#include "util/WideText.h"

#include <benchmark/benchmark.h>

#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;
const std::vector<int> kFormRates(kBaudRates.begin(), kBaudRates.end());

double MsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void BM_DetectRate(benchmark::State& state)
{
    const int rate = static_cast<int>(state.range(0));
    const int connectedAt = rate == 9600 ? 4800 : 9600;
    for (auto _ : state)
    {
        PseudoTerminal terminal;
        std::string error;
        if (!terminal.Open(rate, error))
        {
            state.SkipWithError(error.c_str());
            return;
        }
        SimConfig config;
        config.seed = 7;
        config.baud = rate;
        GeneratedSource source(config, [] { return std::chrono::system_clock::now(); });
        SimSession session(terminal.MasterFd(), source, rate);
        session.SetStayAfterHangup(true);
        const int stop = ::eventfd(0, EFD_CLOEXEC);
        auto end = std::async(std::launch::async, [&] { return session.Run(stop); });

        const auto start = Clock::now();
        CBaudProbe probe;
        const int found = probe.Run(terminal.SlavePath(), CBaudProbe::OrderToTry(kFormRates, connectedAt));
        const double probeMs = MsSince(start);

        const auto reopened = Clock::now();
        CGPSDevice device;
        double firstMs = -1;
        if (found > 0 && device.Open(FromUtf8(terminal.SlavePath()), found))
        {
            while (device.ValidLineCount() == 0 && MsSince(reopened) < 10000)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            firstMs = device.ValidLineCount() > 0 ? MsSince(reopened) : -1;
            device.Close();
        }
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t put = ::write(stop, &one, sizeof one);
        end.wait();
        ::close(stop);

        state.SetIterationTime((probeMs + firstMs) / 1000.0);
        state.counters["found_ok"] = found == rate ? 1 : 0;
        state.counters["probe_ms"] = probeMs;
        state.counters["first_sentence_ms"] = firstMs;
        state.counters["with_quiet_wait_ms"] = 3000 + probeMs + firstMs;
    }
}
} // namespace

BENCHMARK(BM_DetectRate)
    ->ArgName("baud")
    ->Apply([](benchmark::internal::Benchmark* b) {
        for (const int rate : kBaudRates)
            b->Arg(rate);
    })
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
