// The only file that includes <termios.h> and the other terminal headers: every setting of the
// line and every system call on the device stays here, so the port, its reader loop and the
// rings above it are plain C++ and the same on every system. (The Linux custom-speed call
// lives apart, in CustomBaudRateLinux.cpp, because its header clashes with <termios.h>.)
#include "serial/PosixSerialDevice.h"

#include "serial/CustomBaudRate.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace
{

using Clock = std::chrono::steady_clock;

speed_t StandardSpeed(int baudRate)
{
    switch (baudRate)
    {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return B0;
    }
}

bool IsGoneError(int systemError)
{
    return PortErrorFromErrno(systemError) == PortError::Gone;
}

} // namespace

PosixSerialDevice::~PosixSerialDevice()
{
    Close();
}

bool PosixSerialDevice::Fail(int systemError)
{
    m_lastSystemError = systemError;
    m_lastError = PortErrorFromErrno(systemError);
    if (m_lastError == PortError::None)
        m_lastError = PortError::Other;
    Close();
    return false;
}

bool PosixSerialDevice::Open(const std::string& path, int baudRate)
{
    if (IsOpen())
    {
        m_lastError = PortError::Busy;
        m_lastSystemError = EBUSY;
        return false;
    }
    m_lastError = PortError::None;
    m_lastSystemError = 0;

    // O_NONBLOCK: no wait for a carrier at open, and reads never block (poll does the waiting).
    m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0)
        return Fail(errno);

    // The advisory lock catches a second open even by root, whom TIOCEXCL does not stop.
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0)
        return Fail(errno);

    termios settings{};
    if (::tcgetattr(m_fd, &settings) != 0)
        return Fail(errno);
    if (::ioctl(m_fd, TIOCEXCL) != 0)
        return Fail(errno);

    ::cfmakeraw(&settings);
    // Raw 8N1; CLOCAL so that a receiver without carrier detect neither blocks nor hangs us up;
    // no CRTSCTS: our output must not wait for the receiver's CTS.
    settings.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= ~(IXON | IXOFF | IXANY);
    // With O_NONBLOCK and VMIN 1 a read with nothing to give fails with EAGAIN, so a read of 0
    // bytes can only mean a hang-up.
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;

    const speed_t speed = StandardSpeed(baudRate);
    if (speed != B0)
    {
        ::cfsetispeed(&settings, speed);
        ::cfsetospeed(&settings, speed);
    }
    if (::tcsetattr(m_fd, TCSANOW, &settings) != 0)
        return Fail(errno);
    if (speed == B0)
    {
        if (!SetCustomBaudRate(m_fd, baudRate))
            return Fail(errno);
    }
    else
    {
        // tcsetattr succeeds when any part of the change was taken: check the speed stuck.
        termios applied{};
        if (::tcgetattr(m_fd, &applied) != 0)
            return Fail(errno);
        if (::cfgetospeed(&applied) != speed)
            return Fail(EINVAL);
    }

    // Pseudo-terminals have no modem lines and refuse this; a real port raises DTR and RTS.
    const int lines = TIOCM_DTR | TIOCM_RTS;
    (void)::ioctl(m_fd, TIOCMBIS, &lines);

    ::tcflush(m_fd, TCIOFLUSH);

    if (!m_wake.Open())
        return Fail(errno);
    return true;
}

void PosixSerialDevice::Close()
{
    if (m_fd >= 0)
    {
        // Unsent output would make close() wait for it to drain, up to half a minute when the
        // receiver holds CTS low.
        ::tcflush(m_fd, TCIOFLUSH);
        ::close(m_fd);
        m_fd = -1;
    }
    m_wake.Close();
}

// No read is ever outstanding once this returns: read() is only issued after poll() has said
// input is there, and O_NONBLOCK makes it return at once. A wait that ends at its time-out
// leaves nothing pending, so the next call cannot overlap an earlier one.
PosixSerialDevice::Result PosixSerialDevice::Read(void* buffer, std::size_t size, int timeoutMs)
{
    if (m_fd < 0)
        return {Status::Failed, 0, EBADF};
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;)
    {
        short revents = 0;
        const Result ready = WaitReadableOrWoken(m_fd, m_wake, deadline, &revents);
        if (ready.status != Status::Done)
            return ready;

        const ssize_t got = ::read(m_fd, buffer, size);
        if (got > 0)
            return {Status::Done, static_cast<std::size_t>(got), 0};
        if (got == 0)
            return {Status::Gone, 0, EIO}; // end of file: the terminal was hung up
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error == EAGAIN)
        {
            if (revents & POLLHUP)
                return {Status::Gone, 0, EIO};
            if (RemainingMs(deadline) == 0)
                return {Status::TimedOut, 0, 0};
            continue; // woken without data; wait out the rest
        }
        return {IsGoneError(error) ? Status::Gone : Status::Failed, 0, error};
    }
}

// The kernel takes written bytes into its own queue, so a write is never left pending: either
// some bytes are taken now, or poll waits for room within the time-out. Hence no purge of the
// output before each write, which would throw away bytes already taken but not yet sent.
PosixSerialDevice::Result PosixSerialDevice::Write(const void* bytes, std::size_t size,
                                                   int timeoutMs)
{
    if (m_fd < 0)
        return {Status::Failed, 0, EBADF};
    return WriteWithin(
        m_fd, m_wake, Clock::now() + std::chrono::milliseconds(timeoutMs),
        [&] { return ::write(m_fd, bytes, size); }, IsGoneError);
}

void PosixSerialDevice::Purge(bool input, bool output)
{
    if (m_fd < 0 || (!input && !output))
        return;
    ::tcflush(m_fd, input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH);
}

void PosixSerialDevice::Wake()
{
    m_wake.Signal();
}

void PosixSerialDevice::Gather(int us)
{
    pollfd wake{m_wake.Fd(), POLLIN, 0};
    const timespec timeout{us / 1'000'000, (us % 1'000'000) * 1000L};
    // A wake-up ends the pause and is taken: the loop goes round either way.
    if (::ppoll(&wake, 1, &timeout, nullptr) > 0)
        m_wake.Take();
}

int PosixSerialDevice::ActualBaudRate() const
{
    return m_fd >= 0 ? GetActualBaudRate(m_fd) : -1;
}
