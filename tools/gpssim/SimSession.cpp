#include "tools/gpssim/SimSession.h"

#include "tools/gpssim/LinePacer.h"
#include "tools/gpssim/LineSpeed.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

using namespace std::chrono;

SimSession::SimSession(int masterFd, CycleSource& source, int baud)
    : m_fd(masterFd), m_source(source), m_nBaud(baud)
{
}

bool SimSession::PeerPresent() const
{
    pollfd fd{m_fd, 0, 0};
    return ::poll(&fd, 1, 0) >= 0 && (fd.revents & POLLHUP) == 0;
}

SessionEnd SimSession::Run(int stopFd)
{
    LinePacer pacer(m_nBaud);
    CommandRecogniser recogniser(m_source.Family());
    // Writes of about 4 ms of line time: smooth enough for any reader, few wake-ups.
    const std::size_t chunk =
        std::max<std::size_t>(1, static_cast<std::size_t>(m_nBaud) / 10 / 250);
    bool bConnected = false;
    bool bEverConnected = false;

    const auto hangUp = [&]()
    {
        bConnected = false;
        pacer.Clear();
        recogniser.Reset();
        if (m_onConnection)
            m_onConnection(false);
    };

    for (;;)
    {
        auto now = CycleSource::Clock::now();
        if (!bConnected && PeerPresent())
        {
            bConnected = bEverConnected = true;
            if (m_onConnection)
                m_onConnection(true);
            // As a receiver powered up by being plugged in, it speaks first.
            if (const std::string banner = m_source.OnOpened(); !banner.empty())
                pacer.Enqueue(banner, now);
        }

        std::optional<CycleSource::Clock::time_point> due;
        const bool bScheduling = !m_source.WaitsForPeer() || bEverConnected;
        if (bScheduling)
        {
            while ((due = m_source.NextDue(now)) && *due <= now)
            {
                const std::string bytes = m_source.Produce();
                // Like a receiver with nobody listening, cycles pass unsent while the port is
                // closed; queued from their due moment, so a late wake-up keeps the pace.
                if (bConnected)
                {
                    pacer.Enqueue(bytes, *due);
                    if (m_onCycle)
                        m_onCycle(bytes);
                }
            }
        }

        const std::size_t dueBytes = pacer.DueCount(now);
        if (dueBytes > 0)
        {
            // Read at another speed than it is sent, the line carries only garbage.
            const std::string_view bytes(pacer.Pending().data(), dueBytes);
            const int peerSpeed = PeerSpeed(m_fd);
            const std::string garbled =
                peerSpeed > 0 && peerSpeed != m_nBaud ? GarbleForWrongSpeed(bytes) : std::string();
            const ssize_t written = ::write(m_fd, garbled.empty() ? bytes.data() : garbled.data(), dueBytes);
            if (written < 0 && errno == EIO)
            {
                hangUp();
                if (!m_bStayAfterHangup)
                    return SessionEnd::PeerClosed;
                continue;
            }
            if (written < 0 && errno != EAGAIN && errno != EINTR)
                return SessionEnd::Failed;
            const std::size_t sent = written > 0 ? static_cast<std::size_t>(written) : 0;
            // A reader that does not keep up loses bytes, as behind a real UART.
            if (written >= 0 || errno == EAGAIN)
            {
                m_nDropped += dueBytes - sent;
                pacer.Consume(dueBytes);
            }
            else
            {
                pacer.Consume(sent);
            }
        }

        if (bScheduling && !due && pacer.Empty())
            return SessionEnd::Finished;

        now = CycleSource::Clock::now();
        auto wake = now + (bConnected ? seconds(1) : milliseconds(kPeerCheckMs));
        if (due)
            wake = std::min(wake, *due);
        if (!pacer.Empty())
            wake = std::min(wake, pacer.DueTime(std::min(chunk, pacer.Pending().size())));
        const auto wait = std::max(CycleSource::Clock::duration::zero(), wake - now);
        const auto waitNs = duration_cast<nanoseconds>(wait).count();
        const timespec timeout{static_cast<time_t>(waitNs / 1'000'000'000),
                               static_cast<long>(waitNs % 1'000'000'000)};

        pollfd fds[2] = {{stopFd, POLLIN, 0}, {m_fd, POLLIN, 0}};
        // An unopened slave makes the master report a hang-up without end; only watch it
        // while someone has it open.
        const int count = ::ppoll(fds, bConnected ? 2 : 1, &timeout, nullptr);
        if (count < 0)
        {
            if (errno == EINTR)
                continue;
            return SessionEnd::Failed;
        }
        if (fds[0].revents != 0)
            return SessionEnd::Stopped;
        if (!bConnected)
            continue;

        bool bHungUp = (fds[1].revents & (POLLHUP | POLLERR)) != 0;
        if (fds[1].revents & POLLIN)
        {
            char buffer[256];
            const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
            if (got > 0)
            {
                m_source.Received(std::string_view(buffer, static_cast<std::size_t>(got)));
                for (const ReceivedMessage& message :
                     recogniser.Feed(std::string_view(buffer, static_cast<std::size_t>(got))))
                {
                    const std::string answer = m_source.Answer(message.bytes);
                    if (m_onMessage)
                        m_onMessage(message, answer);
                    if (message.restart)
                    {
                        m_source.OnRestart(*message.restart);
                        if (m_onRestart)
                            m_onRestart(*message.restart);
                    }
                    if (!answer.empty())
                        pacer.Enqueue(answer, CycleSource::Clock::now());
                }
            }
            else if (got < 0 && errno == EIO)
            {
                bHungUp = true;
            }
        }
        if (bHungUp)
        {
            hangUp();
            if (!m_bStayAfterHangup)
                return SessionEnd::PeerClosed;
        }
    }
}
