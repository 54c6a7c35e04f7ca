#pragma once

#include <chrono>
#include <condition_variable>
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
