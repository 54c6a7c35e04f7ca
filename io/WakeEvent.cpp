#include "io/WakeEvent.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

bool WakeEvent::Open()
{
    Close();
    m_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return m_fd >= 0;
}

void WakeEvent::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void WakeEvent::Signal()
{
    if (m_fd < 0)
        return;
    const std::uint64_t one = 1;
    (void)!::write(m_fd, &one, sizeof one);
}

void WakeEvent::Take()
{
    std::uint64_t count = 0;
    if (m_fd >= 0)
        (void)!::read(m_fd, &count, sizeof count);
}

namespace
{
// Polls `fd` for `events` beside `wake` until `deadline`. A wake-up is taken only when
// `takeWake`: a write's wait leaves it for the read that follows.
ByteDevice::Result WaitOrWoken(int fd, short events, WakeEvent& wake, bool takeWake,
                               std::chrono::steady_clock::time_point deadline, short* revents)
{
    using Status = ByteDevice::Status;
    for (;;)
    {
        pollfd fds[2] = {{fd, events, 0}, {wake.Fd(), POLLIN, 0}};
        const int ready = ::poll(fds, 2, RemainingMs(deadline));
        if (ready < 0)
        {
            if (errno == EINTR)
                continue;
            return {Status::Failed, 0, errno};
        }
        if (ready == 0)
            return {Status::TimedOut, 0, 0};
        if (fds[1].revents != 0)
        {
            if (takeWake)
                wake.Take();
            return {Status::Woken, 0, 0};
        }
        if (fds[0].revents & POLLNVAL)
            return {Status::Gone, 0, EBADF};
        if (revents)
            *revents = fds[0].revents;
        return {Status::Done, 0, 0};
    }
}
} // namespace

ByteDevice::Result WaitReadableOrWoken(int fd, WakeEvent& wake,
                                       std::chrono::steady_clock::time_point deadline,
                                       short* revents)
{
    return WaitOrWoken(fd, POLLIN, wake, true, deadline, revents);
}

ByteDevice::Result WaitWritableOrWoken(int fd, WakeEvent& wake,
                                       std::chrono::steady_clock::time_point deadline)
{
    return WaitOrWoken(fd, POLLOUT, wake, false, deadline, nullptr);
}
