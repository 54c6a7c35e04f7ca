#pragma once

// What the NTRIP client's tests share: the client's reports gathered for the test thread, and
// the corpus's RTCM3 frames.

#include "gps/Framer.h"
#include "net/NtripClient.h"
#include "support/Files.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// Gathers the frames and statuses the client hands over on its thread.
class ClientLog
{
public:
    NtripClient::FrameHandler Frames()
    {
        return [this](std::string_view frame)
        {
            std::lock_guard guard(m_lock);
            m_frames.emplace_back(frame);
            m_changed.notify_all();
        };
    }
    NtripClient::StatusHandler Statuses()
    {
        return [this](const NtripStatus& status)
        {
            std::lock_guard guard(m_lock);
            m_statuses.push_back(status);
            m_changed.notify_all();
        };
    }

    // Waits until `done` holds over what came so far; the limit only guards against a hang.
    bool WaitFor(const std::function<bool(const std::vector<std::string>&, const std::vector<NtripStatus>&)>& done,
                 std::chrono::seconds limit = std::chrono::seconds(60))
    {
        std::unique_lock guard(m_lock);
        return m_changed.wait_for(guard, limit, [&] { return done(m_frames, m_statuses); });
    }
    bool WaitForFrames(std::size_t count)
    {
        return WaitFor([count](const auto& frames, const auto&) { return frames.size() >= count; });
    }
    // The reason of the first failure.
    std::string FirstRetryReason()
    {
        std::string reason = "(none)";
        WaitFor(
            [&](const auto&, const std::vector<NtripStatus>& statuses)
            {
                for (const NtripStatus& s : statuses)
                    if (s.state == NtripStatus::State::Retrying)
                    {
                        reason = s.reason;
                        return true;
                    }
                return false;
            });
        return reason;
    }
    std::vector<std::string> FramesSoFar()
    {
        std::lock_guard guard(m_lock);
        return m_frames;
    }
    std::vector<NtripStatus> StatusesSoFar()
    {
        std::lock_guard guard(m_lock);
        return m_statuses;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::string> m_frames;
    std::vector<NtripStatus> m_statuses;
};

// The corpus's RTCM3 stream without its comment lines, and the frames it holds.
inline std::string CorpusRtcm3Bytes()
{
    const std::string bytes = ReadFile(std::string(ORVANE_CORPUS_DIR) + "/rtcm3.2.rtcm3");
    return bytes.substr(CaptureHeaderLength(bytes));
}

inline std::vector<std::string> Rtcm3FramesOf(const std::string& bytes)
{
    Framer framer;
    framer.Feed(bytes);
    framer.Finish();
    std::vector<std::string> frames;
    for (Frame frame; framer.Next(frame);)
        if (frame.kind == FrameKind::Rtcm3)
            frames.push_back(frame.bytes);
    return frames;
}
