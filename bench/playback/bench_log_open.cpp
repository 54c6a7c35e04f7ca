// bench_log_open: opens a generated NMEA log of the given size, as Open Log does, and prints
// how long that held the opening thread, the peak memory (VmHWM) before and after, and how
// long a seek to the middle and the first lines after it took. Prints figures; asserts none.
//
// Build:  ninja -C build/<dir> bench_log_open
// Run:    build/<dir>/bench/playback/bench_log_open [MEGABYTES, default 200]
#include "playback/LogPlayer.h"
#include "support/Nmea.h"
#include "support/PeakMemory.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace
{

// One 10 Hz epoch a step: GGA, RMC and GSA, about 230 bytes.
void WriteLog(const fs::path& path, std::size_t bytes)
{
    std::ofstream out(path, std::ios::binary);
    std::size_t written = 0;
    for (long tenth = 0; written < bytes; ++tenth)
    {
        const long s = (tenth / 10) % 86400;
        char time[16];
        std::snprintf(time, sizeof time, "%02ld%02ld%02ld.%ld0", s / 3600, s / 60 % 60, s % 60, tenth % 10);
        std::string epoch = WithChecksum(std::string("$GPGGA,") + time + ",4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,") +
                            WithChecksum(std::string("$GPRMC,") + time + ",A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W") +
                            WithChecksum("$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1");
        out << epoch;
        written += epoch.size();
    }
}

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

} // namespace

int main(int argc, char** argv)
{
    const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 200;
    const fs::path folder = fs::temp_directory_path() / ("bench_log_open." + std::to_string(::getpid()));
    fs::create_directories(folder);
    const fs::path log = folder / "big.nmea";
    WriteLog(log, megabytes << 20);
    const long hwmBefore = VmHwmKb();

    LogPlayer player;
    const Clock::time_point start = Clock::now();
    const bool loaded = player.Load(log.string(), true);
    const Clock::time_point indexed = Clock::now();
    std::printf("log %zu MB (%llu bytes): %s\n", megabytes, static_cast<unsigned long long>(fs::file_size(log)),
                loaded ? "opened" : "refused");
    std::printf("open (the thread held)   %10.1f ms\n", Ms(indexed - start));
    std::printf("VmHWM before / after     %10ld / %ld kB (+%ld kB)\n", hwmBefore, VmHwmKb(), VmHwmKb() - hwmBefore);
    if (loaded)
    {
        const Clock::time_point seekStart = Clock::now();
        player.Seek(0.5);
        player.SetSpeed(LogPlayer::kMaxSpeed);
        player.Play();
        char buffer[64];
        std::size_t got = 0;
        while (got < 4096)
        {
            const ByteDevice::Result read = player.Read(buffer, sizeof buffer, 100);
            if (read.status != ByteDevice::Status::Done && read.status != ByteDevice::Status::Woken)
                break;
            got += read.count;
        }
        std::printf("seek to 50 %% and 4 kB   %10.1f ms (duration %lld ms of log time)\n", Ms(Clock::now() - seekStart),
                    static_cast<long long>(player.DurationMs()));
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return loaded ? 0 : 1;
}
