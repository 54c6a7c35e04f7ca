// The whole corrections loop but the window: RTKLIB's str2str serves the corpus's RTCM3 as a
// caster, the NTRIP client receives it, the GPS device writes each frame to the simulated
// receiver's pseudo-terminal, and the receiver takes every frame's bytes.
#include "device/GPSDevice.h"
#include "net/NtripTestSupport.h"
#include "tools/gpssim/CycleSource.h"
#include "tools/gpssim/PseudoTerminal.h"
#include "tools/gpssim/SessionThread.h"
#include "tools/gpssim/SimOptions.h"
#include "util/WideText.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <mutex>

namespace
{

std::chrono::system_clock::time_point RealUtc()
{
    return std::chrono::system_clock::now();
}

} // namespace

TEST(CorrectionsOverPty, FramesFromACasterReachTheReceiverByteForByte)
{
    if (!OnPath(kStr2str))
        GTEST_SKIP() << "str2str (Debian rtklib) is not installed";
    const std::vector<std::string> corpus = Rtcm3FramesOf(CorpusRtcm3Bytes());
    std::string loop;
    for (const std::string& frame : corpus)
        loop += frame;
    Str2strCaster caster(loop);
    ASSERT_TRUE(caster.WaitUntilListening());

    // What the client hands over, gathered while it runs.
    std::vector<std::string> frames;
    {
        ClientLog log;
        NtripClient client(CasterAt(caster.Port(), "pass", "MNT"), NtripVersion::V2, log.Frames(), log.Statuses());
        ASSERT_TRUE(log.WaitForFrames(40));
        frames = log.FramesSoFar();
    }

    const int baud = 115200;
    PseudoTerminal terminal;
    std::string error;
    ASSERT_TRUE(terminal.Open(baud, error)) << error;
    SimConfig config;
    config.baud = baud;
    GeneratedSource source(config, RealUtc);
    SimSession session(terminal.MasterFd(), source, baud);
    // A line after the frames: once the receiver has it, it has had every byte before it.
    const std::string marker = "$PORVT,END*";
    std::mutex lock;
    std::condition_variable changed;
    bool bMarkerSeen = false;
    session.SetMessageObserver(
        [&](const ReceivedMessage& message, std::string_view)
        {
            std::lock_guard guard(lock);
            bMarkerSeen = bMarkerSeen || message.bytes.starts_with(marker);
            changed.notify_all();
        });
    std::uint64_t frameBytes = 0;
    {
        SessionThread thread(session);
        CGPSDevice device;
        ASSERT_TRUE(device.OpenPort(FromUtf8(PortNameFor(terminal.SlavePath())), baud));
        // Each frame queued whole, once the transmit ring has room for all of it.
        const auto writeWhole = [&](const std::string& bytes)
        {
            const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (!device.Write(bytes.data(), bytes.size()))
            {
                if (std::chrono::steady_clock::now() > limit)
                    return false;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            return true;
        };
        const auto started = std::chrono::steady_clock::now();
        for (const std::string& frame : frames)
        {
            ASSERT_TRUE(writeWhole(frame));
            frameBytes += frame.size();
        }
        ASSERT_TRUE(writeWhole(marker + "00\r\n"));
        {
            std::unique_lock guard(lock);
            EXPECT_TRUE(changed.wait_for(guard, std::chrono::seconds(60), [&] { return bMarkerSeen; }));
        }
        if (std::getenv("ORVANE_PRINT_RATES"))
            std::printf("%llu bytes to the receiver in %.3f s\n", static_cast<unsigned long long>(frameBytes),
                        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
        device.Close();
    }
    // The session has stopped: its receiver is the test's to look at.
    EXPECT_EQ(source.Simulator().Corrections().Frames(), frames.size());
    EXPECT_EQ(source.Simulator().Corrections().FrameBytes(), frameBytes);
}
