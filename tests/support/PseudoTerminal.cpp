#include "support/PseudoTerminal.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

namespace
{

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

} // namespace

namespace test_support
{

PseudoTerminal::PseudoTerminal()
{
    char name[256] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
    {
        m_master = m_slave = -1;
        return;
    }
    m_slavePath = name;
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
}

PseudoTerminal::~PseudoTerminal()
{
    CloseMaster();
    if (m_slave >= 0)
        ::close(m_slave);
}

std::wstring PseudoTerminal::SlavePortName() const
{
    const std::string name = m_slavePath.substr(std::string("/dev/").size());
    return std::wstring(name.begin(), name.end());
}

std::wstring PseudoTerminal::SlaveWidePath() const
{
    return std::wstring(m_slavePath.begin(), m_slavePath.end());
}

bool PseudoTerminal::Write(std::string_view bytes, std::chrono::milliseconds deadline)
{
    const Clock::time_point end = Clock::now() + deadline;
    while (!bytes.empty())
    {
        const ssize_t put = ::write(m_master, bytes.data(), bytes.size());
        if (put > 0)
        {
            bytes.remove_prefix(static_cast<std::size_t>(put));
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd fd{m_master, POLLOUT, 0};
        if (MsLeft(end) == 0 || ::poll(&fd, 1, MsLeft(end)) < 0)
            return false;
    }
    return true;
}

std::string PseudoTerminal::Read(std::size_t count, std::chrono::milliseconds deadline)
{
    const Clock::time_point end = Clock::now() + deadline;
    std::string out;
    while (out.size() < count)
    {
        char buffer[256];
        const ssize_t got = ::read(m_master, buffer, std::min(sizeof buffer, count - out.size()));
        if (got > 0)
        {
            out.append(buffer, static_cast<std::size_t>(got));
            continue;
        }
        if (got < 0 && errno != EAGAIN && errno != EINTR)
            break;
        pollfd fd{m_master, POLLIN, 0};
        if (MsLeft(end) == 0 || ::poll(&fd, 1, MsLeft(end)) <= 0)
            break;
    }
    return out;
}

std::string PseudoTerminal::ReadAvailable()
{
    std::string out;
    char buffer[256];
    ssize_t got;
    while ((got = ::read(m_master, buffer, sizeof buffer)) > 0)
        out.append(buffer, static_cast<std::size_t>(got));
    return out;
}

void PseudoTerminal::CloseMaster()
{
    if (m_master >= 0)
    {
        ::close(m_master);
        m_master = -1;
    }
}

} // namespace test_support
