// Decoding throughput over real captures, line by line as the device hands them on, and
// through the framer from the raw bytes, NMEA or UBX, in the reader's 64-byte reads.
#include "gps/Framer.h"
#include "gps/NmeaDecoders.h"
#include "gps/NmeaFraming.h"
#include "gps/UbxDecoders.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace
{

std::vector<std::string> ReadLines(const char* name)
{
    std::ifstream in(std::string(ORVANE_CORPUS_DIR) + "/" + name, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size())
    {
        std::size_t end = bytes.find('\n', start);
        end = (end == std::string::npos) ? bytes.size() : end + 1;
        if (bytes[start] != '#')
            lines.push_back(bytes.substr(start, end - start));
        start = end;
    }
    return lines;
}

void DecodeCapture(benchmark::State& state, const char* name)
{
    const auto lines = ReadLines(name);
    if (lines.empty())
    {
        state.SkipWithError("capture not found");
        return;
    }
    GpsData gps;
    std::size_t bytes = 0;
    for (const auto& line : lines)
        bytes += line.size();
    for (auto _ : state)
    {
        for (const auto& line : lines)
            DecodeSentence(line, gps);
        benchmark::DoNotOptimize(gps);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * lines.size()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

// The receiver's bytes after gpsd's comment lines, framed and decoded as they would arrive.
void FrameCapture(benchmark::State& state, const char* name)
{
    std::ifstream in(std::string(ORVANE_CORPUS_DIR) + "/" + name, std::ios::binary);
    const std::string file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::string_view bytes = std::string_view(file).substr(CaptureHeaderLength(file));
    if (bytes.empty())
    {
        state.SkipWithError("capture not found");
        return;
    }
    std::size_t frames = 0;
    for (auto _ : state)
    {
        Framer framer;
        Frame frame;
        GpsData gps;
        for (std::size_t at = 0; at < bytes.size(); at += 64)
        {
            framer.Feed(bytes.substr(at, 64));
            while (framer.Next(frame))
            {
                DecodeFrame(frame, gps);
                ++frames;
            }
        }
        benchmark::DoNotOptimize(gps);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(frames));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void ChecksumOnly(benchmark::State& state)
{
    const auto lines = ReadLines("ublox-lea-5h.nmea");
    for (auto _ : state)
    {
        int valid = 0;
        for (const auto& line : lines)
            valid += IsChecksumValid(line) ? 1 : 0;
        benchmark::DoNotOptimize(valid);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * lines.size()));
}

} // namespace

// Sentences per second appear as items_per_second.
BENCHMARK_CAPTURE(DecodeCapture, ublox_lea_5h, "ublox-lea-5h.nmea");
// A modern multi-constellation receiver: GN fixes, GP and GL skies.
BENCHMARK_CAPTURE(DecodeCapture, neo_m8n, "neo-m8n.nmea");
BENCHMARK_CAPTURE(DecodeCapture, haicom_305N, "haicom-305N.nmea");
// Many broken lines: the cost of rejected checksums and abandoned sentences.
BENCHMARK_CAPTURE(DecodeCapture, gp320_damaged, "gp-320fw-2019-04-07-coldboot.nmea");
BENCHMARK(ChecksumOnly);
// The same NMEA capture through the framer, and UBX captures: frames per second as items.
BENCHMARK_CAPTURE(FrameCapture, neo_m8n, "neo-m8n.nmea");
BENCHMARK_CAPTURE(FrameCapture, ublox_zed_f9p_rtk, "ublox-zed-f9p-rtk.ubx");
BENCHMARK_CAPTURE(FrameCapture, ublox_neo_m8n_ubx, "ublox-neo-m8n.ubx");
BENCHMARK_CAPTURE(FrameCapture, ublox8_mixed, "ublox8-uniqid-monhw.ubx");

BENCHMARK_MAIN();
