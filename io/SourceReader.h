#pragma once

#include "io/ByteDevice.h"
#include "io/PortError.h"
#include "io/RingBuffer.h"
#include "io/GatherPause.h"

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// One byte source and its reader thread, which does all of the source's input and output: it
// sends what Write queued, 8 bytes a turn, and appends what it reads, up to 64 bytes a turn, to
// the receive ring before calling OnDataReceived. Serial ports, sockets and played logs all go
// through this one loop; how each is opened lives with its own layer.
class SourceReader
{
public:
    static constexpr std::size_t kSendChunk = 8;
    static constexpr std::size_t kReceiveChunk = 64;
    static constexpr int kWaitMs = 2000;
    static_assert(GatherPause::kGatherBytes == kReceiveChunk, "a full read means more is waiting");

    SourceReader() = default;
    virtual ~SourceReader();
    SourceReader(const SourceReader&) = delete;
    SourceReader& operator=(const SourceReader&) = delete;

    // Starts the reader on a device already open (a log player, which its owner keeps to steer
    // while the reader loop takes its bytes). Only while closed. On false, LastOpenError says why.
    bool OpenLog(std::shared_ptr<ByteDevice> pPlayer);
    // Any thread: ends an open under way on another thread at once (its wait for a lookup, a
    // connection or gpsd's greeting; it fails with PortError::Cancelled), and fails those begun
    // later, until Close.
    void CancelOpen();
    // Stops and joins the reader thread and releases everything Open made. Safe when closed. Not
    // from the reader thread, nor while holding a lock that OnDataReceived takes, nor while an
    // open runs on another thread (CancelOpen, then wait for it).
    void Close();
    // Queues bytes for the reader thread to send. False, and nothing queued, when the port is
    // closed, its reader has stopped, its source takes no bytes (AcceptsWrites), or the
    // transmit ring lacks room for all of them.
    bool Write(const void* bytes, std::size_t length);

    bool IsOpen() const;
    // False while closed, and for an open source that takes nothing from us (udp://, gpsd://).
    bool AcceptsWrites() const;
    // True once the reader thread has ended because the device went away (until the next Open).
    bool HasStoppedOnItsOwn() const { return m_bStoppedOnItsOwn.load(); }
    PortError LastOpenError() const { return m_nLastOpenError; }
    int LastOpenSystemError() const { return m_nLastOpenSystemError; }

protected:
    // Reader thread, no lock held, after every read: `count` bytes already in the receive ring;
    // 0 when a wait ended without input.
    virtual void OnDataReceived(const char* bytes, std::size_t count);
    // Reader thread, once, when it ends because the device went away; never on Close.
    virtual void OnReaderStopped();
    // The opening thread, before the reader starts on a fresh receive ring: what a derived
    // class kept of the stream before (a partial frame) goes with the old one.
    virtual void OnReaderStarting();

    // False once Close has begun or the reader has stopped on its own.
    bool IsRunning() const { return m_bRunning.load(); }
    // For a derived class whose open fails before the reader is started.
    void SetOpenError(PortError error, int systemError);
    // A derived class's open: false (and the error set) while open or after CancelOpen. Else
    // `opening`, if any, is what CancelOpen wakes until EndOpening.
    bool BeginOpening(ByteDevice* opening = nullptr);
    void EndOpening();
    // Starts the reader on a device the derived class opened, pausing after reads as `gather`
    // says.
    bool Start(std::shared_ptr<ByteDevice> pDevice, GatherPause gather);

    // Reader thread, from OnDataReceived: the next complete line of the receive ring (LF
    // included, at most RingBuffer::kMaxLineLength bytes); false while none is complete, and
    // the partial line stays for the next call.
    bool TakeLine(std::string& line);
    // Reader thread: everything the receive ring holds, for a user that is not line-based.
    std::string TakeReceived();

private:
    void ReaderLoop();
    void Receive(const char* bytes, std::size_t count);
    void Deliver(const char* bytes, std::size_t count);
    void StopOnItsOwn();

    // Set before the reader starts and released after it has been joined, under the port lock.
    // Shared with its owner for a log player, which steers it.
    std::shared_ptr<ByteDevice> m_pDevice;
    std::atomic<bool> m_bRunning{false};
    std::atomic<bool> m_bStoppedOnItsOwn{false};
    std::thread m_thread;
    // Both rings are guarded by the port lock, which is never held while OnDataReceived runs.
    std::unique_ptr<RingBuffer> m_pReceiveRing;
    std::unique_ptr<RingBuffer> m_pTransmitRing;
    mutable std::mutex m_portLock;
    // Under the port lock: the socket being opened, for CancelOpen to wake, and the cancel.
    ByteDevice* m_pOpening = nullptr;
    bool m_bOpenCancelled = false;
    // The pause after a read, from the line's speed; none for network sources.
    GatherPause m_gather;
    PortError m_nLastOpenError = PortError::None;
    int m_nLastOpenSystemError = 0;
};
