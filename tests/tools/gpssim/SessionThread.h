#pragma once

#include "tools/gpssim/SimSession.h"

#include <chrono>
#include <cstdint>
#include <future>
#include <optional>
#include <sys/eventfd.h>
#include <unistd.h>

// A session on its own thread, stopped and joined on destruction.
class SessionThread
{
public:
    SessionThread(SimSession& session) : m_stop(::eventfd(0, EFD_CLOEXEC))
    {
        m_end = std::async(std::launch::async, [&session, fd = m_stop] { return session.Run(fd); });
    }
    ~SessionThread()
    {
        Stop();
        ::close(m_stop);
    }
    void Stop()
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(m_stop, &one, sizeof one);
        if (m_end.valid())
            m_end.wait();
    }
    // The way the session ended, if it did within `limit`.
    std::optional<SessionEnd> EndWithin(std::chrono::milliseconds limit)
    {
        if (m_end.wait_for(limit) != std::future_status::ready)
            return std::nullopt;
        return m_end.get();
    }

private:
    int m_stop;
    std::future<SessionEnd> m_end;
};
