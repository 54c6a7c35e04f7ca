// The cost of one recorded point at 10 fixes a second, in real time, so that the writers sync
// on their own schedule as they do in use: CPU time of the process while it records (the
// window's thread and the writer's, system calls and syncs included; between cycles it sleeps)
// and bytes handed to the system, per point and per fix cycle. The document
// feeds the writers as the status view does: every sentence, with the record after it.
// SlowMedium: the window's longest call into the document while it records to a medium whose
// every sync takes 200 ms (an SD card, a USB stick, NFS): a line every 10 ms for 10 s and the
// frame's sync each second, as the frame drives them.
//
//   bench_recording [--benchmark_filter=...]    (files go to $TMPDIR or the current folder)
#include "gps/EpochEnd.h"
#include "gps/NmeaDecoders.h"
#include "gps/NmeaFraming.h"
#include "recording/OrvaneDoc.h"

#include <benchmark/benchmark.h>

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace
{
constexpr int kCyclesPerSecond = 10;
constexpr int kSeconds = 4;

std::string Sentence(const std::string& body)
{
    char sum[8];
    std::snprintf(sum, sizeof sum, "*%02X\r\n", ComputeChecksum(body));
    return "$" + body + sum;
}

// One receiver cycle: GGA, GSA, RMC, a tenth of a second after the last, moving north-east.
std::vector<std::string> Cycle(int n)
{
    const int tenths = n % 10;
    const int second = 10 + n / 10;
    char time[16];
    std::snprintf(time, sizeof time, "1200%02d.%d", second % 60, tenths);
    char lat[16], lon[16];
    std::snprintf(lat, sizeof lat, "%09.4f", 3540.8720 + n * 0.0010);
    std::snprintf(lon, sizeof lon, "%010.4f", 13946.0260 + n * 0.0010);
    return {Sentence(std::string("GPGGA,") + time + "," + lat + ",N," + lon + ",E,1,08,0.9,40.5,M,39.0,M,,"),
            Sentence("GPGSA,A,3,01,03,06,09,12,17,19,22,,,,,1.6,0.9,1.3"),
            Sentence(std::string("GPRMC,") + time + ",A," + lat + ",N," + lon + ",E,3.1,45.0,081226,,,A")};
}

double ProcessCpuSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

class CountingDoc : public COrvaneDoc
{
public:
    mutable long long m_nBytes = 0;
    mutable long long m_nWrites = 0;

protected:
    FileCalls Calls() const override
    {
        return {.write = [this](int fd, const void* data, size_t size) {
            const ssize_t put = ::write(fd, data, size);
            if (put > 0)
            {
                m_nBytes += put;
                ++m_nWrites;
            }
            return put;
        }};
    }
};

std::filesystem::path BenchFolder()
{
    const char* tmp = std::getenv("TMPDIR");
    return std::filesystem::path(tmp ? tmp : ".") / ("orvane-bench-" + std::to_string(::getpid()));
}

// A recording of `kind` in `folder`, as the record button starts it with a fix known.
bool StartRecording(COrvaneDoc& doc, const std::filesystem::path& folder, int kind, benchmark::State& state)
{
    doc.m_strSaveFolder = folder.wstring();
    doc.m_nRecordKind = kind;
    doc.m_gps.fixMode = 3;
    doc.SetRecording(true);
    if (!doc.m_bRecording)
        state.SkipWithError("the recording did not start");
    return doc.m_bRecording != 0;
}

void RecordAtTenHertz(benchmark::State& state, int kind)
{
    const std::filesystem::path folder = BenchFolder();
    std::filesystem::create_directories(folder);
    for (auto _ : state)
    {
        CountingDoc doc;
        if (!StartRecording(doc, folder, kind, state))
            break;
        const int cycles = kCyclesPerSecond * kSeconds;
        long long points = 0;
        const double cpuAtStart = ProcessCpuSeconds();
        auto due = std::chrono::steady_clock::now();
        for (int n = 0; n < cycles; ++n)
        {
            std::this_thread::sleep_until(due);
            due += std::chrono::milliseconds(1000 / kCyclesPerSecond);
            // As the device and the frame do: each sentence decoded, then the batch to the document.
            std::vector<ReceivedLine> batch;
            GpsData gps = doc.m_gps;
            static EpochEnd epochs;
            for (const std::string& line : Cycle(n))
            {
                DecodeSentence(line, gps);
                batch.push_back({line, gps, {}, epochs.Feed(line, gps)});
            }
            doc.OnReceived(batch);
        }
        doc.SetRecording(false);
        const double cpu = ProcessCpuSeconds() - cpuAtStart;
        // A track takes a point per cycle, a log a line.
        points = kind == RecordNmea ? 3LL * cycles : cycles;
        state.SetIterationTime(cpu);
        state.counters["cpu_us_per_point"] = cpu * 1e6 / static_cast<double>(points);
        state.counters["bytes_per_point"] = static_cast<double>(doc.m_nBytes) / static_cast<double>(points);
        state.counters["cpu_us_per_cycle"] = cpu * 1e6 / cycles;
        state.counters["bytes_per_cycle"] = static_cast<double>(doc.m_nBytes) / cycles;
        state.counters["writes"] = static_cast<double>(doc.m_nWrites);
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}
class SlowSyncDoc : public COrvaneDoc
{
protected:
    FileCalls Calls() const override
    {
        return {.sync = [](int fd) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            return ::fdatasync(fd);
        }};
    }
};

void SlowMedium(benchmark::State& state, int kind)
{
    using Clock = std::chrono::steady_clock;
    const std::filesystem::path folder = BenchFolder();
    std::filesystem::create_directories(folder);
    for (auto _ : state)
    {
        SlowSyncDoc doc;
        if (!StartRecording(doc, folder, kind, state))
            break;
        Clock::duration longestLine{}, longestSync{};
        auto due = Clock::now();
        GpsData gps = doc.m_gps;
        int line = 0;
        for (int n = 0; line < 1000; ++n)
            for (const std::string& text : Cycle(n))
            {
                std::this_thread::sleep_until(due);
                due += std::chrono::milliseconds(10);
                DecodeSentence(text, gps);
                const ReceivedLine received{text, gps};
                auto start = Clock::now();
                doc.OnReceived({&received, 1});
                longestLine = std::max(longestLine, Clock::now() - start);
                if (++line % 100 == 0)
                {
                    start = Clock::now();
                    doc.SyncRecording();
                    longestSync = std::max(longestSync, Clock::now() - start);
                }
            }
        const bool recorded = doc.m_bRecording != 0;
        const auto start = Clock::now();
        doc.SetRecording(false);
        const auto stop = Clock::now() - start;
        if (!recorded)
            state.SkipWithError("the recording stopped on its own");
        const auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
        state.SetIterationTime(ms(std::max(longestLine, longestSync)) / 1000.0);
        state.counters["longest_line_ms"] = ms(longestLine);
        state.counters["longest_sync_ms"] = ms(longestSync);
        state.counters["stop_ms"] = ms(stop);
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}
} // namespace

BENCHMARK_CAPTURE(RecordAtTenHertz, Kml, RecordKml)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RecordAtTenHertz, Gpx, RecordGpx)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RecordAtTenHertz, Nmea, RecordNmea)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SlowMedium, Nmea, RecordNmea)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SlowMedium, Kml, RecordKml)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
