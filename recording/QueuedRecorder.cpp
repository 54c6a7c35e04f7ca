#include "recording/QueuedRecorder.h"

#include <cerrno>
#include <system_error>
#include <utility>

namespace
{
// What a log's Add is given in place of a record it ignores.
const GpsData kNoRecord{};
} // namespace

QueuedRecorder::QueuedRecorder(std::unique_ptr<Recorder> inner, std::size_t capacity)
    : m_inner(std::move(inner)), m_nCapacity(capacity), m_bRecords(m_inner->UsesRecords())
{
}

QueuedRecorder::~QueuedRecorder()
{
    {
        std::unique_lock lock(m_mutex);
        RequestFinish(lock);
    }
    Join();
}

bool QueuedRecorder::Start(const std::wstring& path, bool createNew, const GpsData& known)
{
    if (m_writer.joinable())
        return false;
    const bool started = m_inner->Start(path, createNew, known);
    m_strPath = m_inner->Path();
    m_nWritten = m_inner->Written();
    std::lock_guard lock(m_mutex);
    m_nError = m_inner->LastError();
    if (!started)
        return false;
    try
    {
        m_writer = std::thread(&QueuedRecorder::Run, this);
    }
    catch (const std::system_error&)
    {
        m_inner->Finish();
        m_nError = EAGAIN;
        return false;
    }
    return true;
}

bool QueuedRecorder::Add(std::string_view line, const GpsData& after, EpochMarks marks)
{
    std::lock_guard lock(m_mutex);
    if (m_bFailed || m_bFinishWanted || !m_writer.joinable())
        return false;
    if (m_lines.size() >= m_nCapacity)
    {
        m_bFailed = m_bStalled = true;
        return false;
    }
    // The writer waits only on an empty queue; while it has lines it comes back for more.
    const bool wasEmpty = m_lines.empty();
    m_lines.emplace_back(line);
    m_marks.push_back(marks);
    if (m_bRecords)
        m_records.push_back(after);
    if (wasEmpty)
        m_wake.notify_one();
    return true;
}

bool QueuedRecorder::Sync()
{
    std::lock_guard lock(m_mutex);
    if (m_bFailed || m_bFinishWanted || !m_writer.joinable())
        return false;
    m_bSyncWanted = true;
    m_wake.notify_one();
    return true;
}

bool QueuedRecorder::Finish()
{
    {
        std::unique_lock lock(m_mutex);
        if (!m_writer.joinable() && !m_bDone)
            return m_inner->Finish();
        RequestFinish(lock);
    }
    Join();
    std::lock_guard lock(m_mutex);
    return m_bFinished;
}

int QueuedRecorder::LastError() const
{
    std::lock_guard lock(m_mutex);
    return m_nError;
}

bool QueuedRecorder::Stalled() const
{
    std::lock_guard lock(m_mutex);
    return m_bStalled;
}

void QueuedRecorder::FinishLater()
{
    std::unique_lock lock(m_mutex);
    RequestFinish(lock);
}

bool QueuedRecorder::Done() const
{
    std::lock_guard lock(m_mutex);
    return m_bDone || !m_writer.joinable();
}

void QueuedRecorder::WaitUntilWritten()
{
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_bDone || !m_writer.joinable() || (m_lines.empty() && !m_bSyncWanted && !m_bBusy); });
}

void QueuedRecorder::RequestFinish(std::unique_lock<std::mutex>&)
{
    if (!m_writer.joinable() || m_bFinishWanted)
        return;
    m_bFinishWanted = true;
    m_wake.notify_one();
}

void QueuedRecorder::Join()
{
    if (m_writer.joinable())
        m_writer.join();
}

void QueuedRecorder::Run()
{
    std::deque<std::string> lines;
    std::deque<GpsData> records;
    std::deque<EpochMarks> marks;
    // After a failed write nothing more is tried on that disk; what comes is taken and let go.
    bool broken = false;
    std::unique_lock lock(m_mutex);
    for (;;)
    {
        m_wake.wait(lock, [this] { return !m_lines.empty() || m_bSyncWanted || m_bFinishWanted; });
        lines.swap(m_lines);
        records.swap(m_records);
        marks.swap(m_marks);
        const bool sync = std::exchange(m_bSyncWanted, false);
        const bool finish = m_bFinishWanted;
        m_bBusy = true;
        lock.unlock();

        bool ok = true;
        for (std::size_t i = 0; !broken && ok && i < lines.size(); ++i)
            ok = m_inner->Add(lines[i], m_bRecords ? records[i] : kNoRecord, marks[i]);
        // Finishing syncs as it closes.
        if (!broken && ok && sync && !finish)
            ok = m_inner->Sync();
        lines.clear();
        records.clear();
        marks.clear();
        const bool finished = finish && m_inner->Finish();
        m_nWritten = m_inner->Written();
        const int error = m_inner->LastError();

        lock.lock();
        m_bBusy = false;
        if (!ok)
        {
            broken = m_bFailed = true;
            m_nError = error;
        }
        if (finish)
        {
            m_bFinished = finished;
            if (!finished)
                m_nError = error;
            m_bDone = true;
            m_idle.notify_all();
            return;
        }
        m_idle.notify_all();
    }
}
