#pragma once

#include "recording/Recorder.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A recording written and synced by a thread of its own, so that the thread that hands it lines
// never waits for the medium (an SD card, a USB stick, NFS). Add and Sync only queue; the writer
// does what they ask in order. A failed write or sync is told by the next Add or Sync, which
// return false from then on; so does a full queue: the writer is stuck behind a medium that has
// stopped answering (Stalled), and a line that cannot be queued is refused, never dropped unsaid.
class QueuedRecorder final : public Recorder
{
public:
    // Lines queued at most: at several hundred lines a second, some seconds of a stalled medium.
    static constexpr std::size_t kDefaultCapacity = 4096;

    explicit QueuedRecorder(std::unique_ptr<Recorder> inner, std::size_t capacity = kDefaultCapacity);
    QueuedRecorder(const QueuedRecorder&) = delete;
    QueuedRecorder& operator=(const QueuedRecorder&) = delete;
    // Completes the file, waiting for the writer however long the medium takes.
    ~QueuedRecorder() override;

    // Creates the file on the caller's thread (its result picks the name), then starts the writer.
    bool Start(const std::wstring& path, bool createNew, const GpsData& known) override;
    bool Add(std::string_view line, const GpsData& after, EpochMarks marks) override;
    // Asks the writer to sync once what is queued is written.
    bool Sync() override;
    // Waits for the writer to write what is queued and complete the file.
    bool Finish() override;
    bool UsesRecords() const override { return m_bRecords; }
    bool Takes(FrameKind kind) const override { return m_inner->Takes(kind); }

    // What the writer has put in the file so far.
    long long Written() const override { return m_nWritten; }
    const std::wstring& Path() const override { return m_strPath; }
    int LastError() const override;

    // The queue overflowed: the writer has been stuck on one call while the lines piled up.
    bool Stalled() const;
    // Asks the writer to write what is queued and complete the file, without waiting for it.
    void FinishLater();
    // The writer has completed the file and ended; destroying this no longer waits.
    bool Done() const;
    // Waits until the writer has done everything asked so far (for tests and benchmarks).
    void WaitUntilWritten();

private:
    void Run();
    void RequestFinish(std::unique_lock<std::mutex>& lock);
    void Join();

    std::unique_ptr<Recorder> m_inner;
    const std::size_t m_nCapacity;
    const bool m_bRecords;
    std::wstring m_strPath;
    std::atomic<long long> m_nWritten{0};

    mutable std::mutex m_mutex;
    std::condition_variable m_wake; // work for the writer
    std::condition_variable m_idle; // the writer has caught up
    std::deque<std::string> m_lines;
    std::deque<GpsData> m_records; // one per line when the inner recorder uses them
    std::deque<EpochMarks> m_marks; // one per line
    bool m_bSyncWanted = false;
    bool m_bFinishWanted = false;
    bool m_bBusy = false;
    bool m_bFailed = false;
    bool m_bStalled = false;
    bool m_bDone = false;
    bool m_bFinished = false; // the inner recorder's Finish succeeded
    int m_nError = 0;
    std::thread m_writer;
};
