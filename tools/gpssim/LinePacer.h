#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

// Lets bytes leave at the pace of a serial line: 10 bits a byte (start, 8 data, stop), one
// byte after the other. A byte is due once its last bit has left, so a reader sees each byte
// when a real UART would have delivered it. Pure bookkeeping on the caller's moments.
class LinePacer
{
public:
    using Clock = std::chrono::steady_clock;

    explicit LinePacer(int baud);

    int Baud() const { return m_nBaud; }
    // Time on the line of `count` bytes.
    Clock::duration LineTime(std::size_t count) const;

    // Queues bytes that are ready from `ready` on; they follow whatever is still queued.
    void Enqueue(std::string_view bytes, Clock::time_point ready);
    // Bytes at the front whose time has come by `now`.
    std::size_t DueCount(Clock::time_point now) const;
    // The moment the first `count` queued bytes are all due (count >= 1, <= Pending().size()).
    Clock::time_point DueTime(std::size_t count) const;
    std::string_view Pending() const { return m_strQueue; }
    // Removes bytes from the front once they are written (or given up).
    void Consume(std::size_t count);
    void Clear();
    bool Empty() const { return m_strQueue.empty(); }

private:
    // A run of bytes sent back to back from `start`.
    struct Run
    {
        Clock::time_point start;
        std::size_t sent = 0;  // bytes of the run already consumed
        std::size_t count = 0; // bytes in the run, consumed ones included
    };
    Clock::time_point Departure(const Run& run, std::size_t index) const;

    int m_nBaud;
    std::string m_strQueue;
    std::deque<Run> m_runs;
    Clock::time_point m_lineFree{}; // when the last queued byte has left
};
