#pragma once

#include "io/ByteDevice.h"

#include <cerrno>
#include <chrono>
#include <sys/types.h>

// The wake-up of a device's waits: an eventfd that Signal makes readable until Take empties
// it, so a wake given before a wait still ends that wait.
class WakeEvent
{
public:
    WakeEvent() = default;
    ~WakeEvent() { Close(); }
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;

    // False, with errno set, when no descriptor could be made.
    bool Open();
    void Close();
    // To poll for POLLIN beside the device's own descriptor; -1 while closed.
    int Fd() const { return m_fd; }
    void Signal();
    void Take();

private:
    int m_fd = -1;
};

// Milliseconds left until `deadline`, 0 once it has passed: the time-out of the next poll.
inline int RemainingMs(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Polls `fd` for input beside `wake` until `deadline`: Done once `fd` is ready (its revents in
// `revents`), Woken after a wake-up (taken), TimedOut, Gone for a closed descriptor, or Failed.
ByteDevice::Result WaitReadableOrWoken(int fd, WakeEvent& wake,
                                       std::chrono::steady_clock::time_point deadline,
                                       short* revents = nullptr);

// Polls `fd` for room to write beside `wake` until `deadline`: Done once a write may go on (an
// error or hang-up too, which the write itself then reports with its errno), Woken after a
// wake-up (left for the Read that follows), TimedOut, Gone for a closed descriptor, or Failed.
ByteDevice::Result WaitWritableOrWoken(int fd, WakeEvent& wake,
                                       std::chrono::steady_clock::time_point deadline);

// The write loop of every device: `put` writes without blocking and returns what write(2) or
// send(2) returns. It is tried again after EINTR, and after EAGAIN once there is room, until
// `deadline`; `isGone` tells a device that went away from a failure a later call may mend.
template <class Put, class IsGone>
ByteDevice::Result WriteWithin(int fd, WakeEvent& wake, std::chrono::steady_clock::time_point deadline,
                               Put put, IsGone isGone)
{
    using Status = ByteDevice::Status;
    for (;;)
    {
        const ssize_t written = put();
        if (written > 0)
            return {Status::Done, static_cast<std::size_t>(written), 0};
        const int error = written == 0 ? EAGAIN : errno;
        if (error == EINTR)
            continue;
        if (error != EAGAIN)
            return {isGone(error) ? Status::Gone : Status::Failed, 0, error};
        if (RemainingMs(deadline) == 0)
            return {Status::TimedOut, 0, 0};
        if (const ByteDevice::Result waited = WaitWritableOrWoken(fd, wake, deadline);
            waited.status != Status::Done)
            return waited;
    }
}
