#pragma once

// What the NTRIP client's tests share: the client's reports gathered for the test thread, and
// the corpus's RTCM3 frames.

#include "net/NtripClient.h"
#include "support/Child.h"
#include "support/Files.h"
#include "support/Rtcm3Corpus.h"
#include "support/LoopbackPeers.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
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

// A caster on 127.0.0.1 with the test's user.
inline NtripCaster CasterAt(std::uint16_t port, const std::string& password, const std::string& mountpoint)
{
    NtripCaster caster;
    caster.user = "user";
    caster.password = password;
    caster.host = "127.0.0.1";
    caster.port = port;
    caster.mountpoint = mountpoint;
    return caster;
}

inline constexpr const char* kStr2str = "str2str";

// str2str as a caster with one mountpoint, MNT, for user:pass. Its input is a TCP server of
// ours that plays `stream` over and over, 977 bytes every `pause`, and keeps what comes back
// (the clients' GGA, with -b 1).
class Str2strCaster
{
public:
    explicit Str2strCaster(std::string stream, std::chrono::milliseconds pause = std::chrono::milliseconds(10))
        : m_stream(std::move(stream)), m_pause(pause), m_feeder([this] { Feed(); })
    {
        if (m_port.Port() == 0 || m_input.Port() == 0)
            return;
        m_caster.Start({kStr2str, "-in", "tcpcli://127.0.0.1:" + std::to_string(m_input.Port()), "-out",
                        "ntripc://user:pass@:" + std::to_string(m_port.Port()) + "/MNT", "-b", "1"},
                       Child::Options{{}, Child::Output::Discard, false});
    }
    ~Str2strCaster()
    {
        // str2str may take seconds to end on SIGTERM while a client has just left; it keeps no
        // state worth a clean end here.
        m_caster.Signal(SIGKILL);
        m_caster.Wait(10);
        m_bStop = true;
        m_feeder.join();
    }

    std::uint16_t Port() const { return m_port.Port(); }

    // Polls until str2str takes connections; false if it never does.
    bool WaitUntilListening() const
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (m_caster.Pid() > 0 && std::chrono::steady_clock::now() < deadline)
        {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const sockaddr_in address = loopback::Address(Port());
            const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
            ::close(fd);
            if (connected)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    // Waits until the bytes str2str relayed back hold `text`.
    bool WaitForReturn(const std::string& text)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline)
        {
            {
                std::lock_guard guard(m_lock);
                if (m_returned.find(text) != std::string::npos)
                    return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

private:
    void Feed()
    {
        if (!m_input.Accept(std::chrono::seconds(30)))
            return;
        // About 100 kB/s by default, in pieces that cut frames anywhere.
        std::size_t at = 0;
        while (!m_bStop)
        {
            const std::size_t size = std::min<std::size_t>(977, m_stream.size() - at);
            if (!m_input.Send(std::string_view(m_stream).substr(at, size)))
                return;
            at = (at + size) % m_stream.size();
            const std::string back = m_input.Receive(1, m_pause);
            std::lock_guard guard(m_lock);
            m_returned += back;
        }
    }

    const std::string m_stream;
    const std::chrono::milliseconds m_pause;
    loopback::ReservedPort m_port{SOCK_STREAM};
    loopback::TcpServer m_input;
    std::atomic<bool> m_bStop{false};
    std::mutex m_lock;
    std::string m_returned;
    Child m_caster;
    std::thread m_feeder;
};
