#pragma once

#include "tools/gpssim/CommandRecogniser.h"
#include "tools/gpssim/CycleSource.h"
#include "tools/gpssim/ReceiverSimulator.h"

#include <cstddef>
#include <functional>
#include <string_view>

enum class SessionEnd
{
    Stopped,    // the stop descriptor became readable
    PeerClosed, // the other side closed the port after having opened it
    Finished,   // a replay without loop has sent everything
    Failed,     // the pseudo-terminal failed
};

// Drives one pseudo-terminal master: sends the source's cycles at the line's pace while the
// other side has the port open, passes its restart commands to the source, and sends the
// source's banner when the port is opened and its answers to what it receives.
class SimSession
{
public:
    // How often the session looks whether the other side has opened the port yet: a master
    // whose slave is closed reports a hang-up at once, so it cannot simply be waited on.
    static constexpr int kPeerCheckMs = 50;

    SimSession(int masterFd, CycleSource& source, int baud);

    // Go on waiting for the next opener instead of ending when the other side closes.
    void SetStayAfterHangup(bool bStay) { m_bStayAfterHangup = bStay; }
    // Each cycle's bytes, as they are queued for the other side.
    void SetCycleObserver(std::function<void(std::string_view)> observer)
    {
        m_onCycle = std::move(observer);
    }
    void SetRestartObserver(std::function<void(RestartKind)> observer)
    {
        m_onRestart = std::move(observer);
    }
    // Every message the other side sent, with what the receiver answered at once (often nothing).
    void SetMessageObserver(std::function<void(const ReceivedMessage&, std::string_view answer)> observer)
    {
        m_onMessage = std::move(observer);
    }
    void SetConnectionObserver(std::function<void(bool)> observer)
    {
        m_onConnection = std::move(observer);
    }

    // Runs until stopFd (a pipe or eventfd; -1 for none) is readable, the other side goes
    // away, a replay ends or the terminal fails.
    SessionEnd Run(int stopFd);

    // Bytes given up because the other side did not read them in time (a UART overrun).
    std::size_t DroppedBytes() const { return m_nDropped; }

private:
    bool PeerPresent() const;

    int m_fd;
    CycleSource& m_source;
    int m_nBaud;
    bool m_bStayAfterHangup = false;
    std::size_t m_nDropped = 0;
    std::function<void(std::string_view)> m_onCycle;
    std::function<void(RestartKind)> m_onRestart;
    std::function<void(const ReceivedMessage&, std::string_view)> m_onMessage;
    std::function<void(bool)> m_onConnection;
};
