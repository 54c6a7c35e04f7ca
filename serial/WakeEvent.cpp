#include "serial/WakeEvent.h"

#include <cstdint>
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
