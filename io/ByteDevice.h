#pragma once

#include <chrono>
#include <cstddef>
#include <thread>

// The narrow interface the reader loop drives: a serial device or a socket. Read, Write and
// Purge belong to the one thread doing the input and output, Wake to any thread, Close to the
// owner once that thread has stopped.
class ByteDevice
{
public:
    enum class Status
    {
        Done,     // count bytes moved (at least one)
        TimedOut, // nothing moved within the time-out
        Woken,    // Wake was called
        Gone,     // the device went away, hung up or the peer closed: no later call will succeed
        Failed    // any other failure; a later call may succeed
    };

    struct Result
    {
        Status status = Status::Failed;
        std::size_t count = 0;
        int systemError = 0;
    };

    virtual ~ByteDevice() = default;

    // Waits up to timeoutMs for input, then reads what has come, at most `size` bytes.
    virtual Result Read(void* buffer, std::size_t size, int timeoutMs) = 0;
    // Writes as many of the bytes as the device takes, waiting up to timeoutMs for room.
    virtual Result Write(const void* bytes, std::size_t size, int timeoutMs) = 0;
    // Discards received bytes not yet read and/or bytes written but not yet sent.
    virtual void Purge(bool input, bool output) = 0;
    // Ends the current wait of Read or Write, or the next one if none is under way. Read takes
    // the wake-up; Write leaves it for the Read that follows.
    virtual void Wake() = 0;
    // Lets input gather for up to `us` microseconds without reading it; a Wake ends it early.
    virtual void Gather(int us) { std::this_thread::sleep_for(std::chrono::microseconds(us)); }
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // False for a source that takes nothing from us, such as a datagram listener.
    virtual bool AcceptsWrites() const { return true; }
};
