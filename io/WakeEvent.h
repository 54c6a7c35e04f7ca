#pragma once

#include "io/ByteDevice.h"

#include <chrono>

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
