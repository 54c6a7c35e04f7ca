#pragma once

#include "gps/GPSDevice.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>

// A count raised from the reader thread that the test thread can wait on.
class Counter
{
public:
    void Raise()
    {
        std::lock_guard lock(m_mutex);
        ++m_count;
        m_changed.notify_all();
    }
    int Value()
    {
        std::lock_guard lock(m_mutex);
        return m_count;
    }
    bool WaitFor(int atLeast, std::chrono::milliseconds deadline = std::chrono::seconds(20))
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, deadline, [&] { return m_count >= atLeast; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_count = 0;
};

// The device with a count of the bytes each OnDataReceived call saw, so a test knows when a
// piece it wrote has been read.
class ObservedDevice : public CGPSDevice
{
public:
    ~ObservedDevice() { Close(); }
    Counter bytesSeen;

protected:
    void OnDataReceived(const char* bytes, std::size_t count) override
    {
        CGPSDevice::OnDataReceived(bytes, count);
        for (std::size_t i = 0; i < count; ++i)
            bytesSeen.Raise();
    }
};
