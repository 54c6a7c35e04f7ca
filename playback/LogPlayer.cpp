#include "playback/LogPlayer.h"

#include "gps/Framer.h"
#include "gps/NmeaFraming.h"
#include "gps/TimeOfDay.h"
#include "gps/UbxDecoders.h"
#include "io/RingBuffer.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <string_view>
#include <unistd.h>

namespace
{
constexpr std::size_t kReadAhead = 65536;
// The longest binary frame: a UBX frame's header, largest payload and checksum.
constexpr std::size_t kMaxFrame = Framer::kMaxUbxPayload + 8;
static_assert(kMaxFrame <= kReadAhead);

// The step on the played timeline from one sentence's time of day to the next: midnight rolled
// over, a step backwards played at once and a long gap shortened.
std::int64_t PlayedStepMs(std::int64_t last, std::int64_t time)
{
    std::int64_t step = ::StepMs(*TimeOfDay::FromMs(last), *TimeOfDay::FromMs(time));
    if (step < 0)
        step = 0;
    else if (step > LogPlayer::kMaxStepMs)
        step = LogPlayer::kGapPlayedMs;
    return step;
}

} // namespace

std::int64_t LogPlayer::TimeOfDayMs(const std::string& line)
{
    std::optional<TimeOfDay> time;
    if (!line.empty() && IsBinarySyncByte(line.front()))
        time = UbxTimeOfDay(line);
    else if (IsChecksumValid(line))
        time = SentenceTimeOfDay(line);
    return time ? time->Ms() : -1;
}

bool LogPlayer::Fail(LogError error, int systemError)
{
    m_nError = error;
    m_nSystemError = systemError;
    m_fd.Reset();
    m_checkpoints.clear();
    m_checkpoints.shrink_to_fit();
    m_buffer.clear();
    m_buffer.shrink_to_fit();
    return false;
}

bool LogPlayer::Load(const std::string& path, bool bPaused)
{
    return Open(path) && Index(nullptr, bPaused);
}

bool LogPlayer::Open(const std::string& path)
{
    Close();
    m_strPath = path;
    m_nSize = 0;
    m_durationMs = 0;
    // Looked at before it is opened: opening a named pipe waits for a writer, and opening a
    // terminal may hang up or reset what is on it.
    struct stat info{};
    if (::stat(path.c_str(), &info) != 0)
        return Fail(errno == ENOENT || errno == ENOTDIR ? LogError::NotFound : LogError::Unreadable, errno);
    if (!S_ISREG(info.st_mode))
        return Fail(LogError::NotAFile, 0);
    // Non-blocking all the same, and checked again: the name may have been replaced meanwhile.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd.Valid())
        return Fail(errno == ENOENT || errno == ENOTDIR ? LogError::NotFound : LogError::Unreadable, errno);
    if (::fstat(fd.Get(), &info) != 0)
        return Fail(LogError::Unreadable, errno);
    if (!S_ISREG(info.st_mode))
        return Fail(LogError::NotAFile, 0);
    if (info.st_size == 0)
        return Fail(LogError::Empty, 0);
    m_fd = std::move(fd);
    m_nSize = static_cast<std::uint64_t>(info.st_size);
    m_nError = LogError::None;
    m_nSystemError = 0;
    return true;
}

bool LogPlayer::Index(LogIndexing* progress, bool bPaused)
{
    if (!m_fd.Valid())
        return false;
    if (progress)
        progress->total = m_nSize;
    // Not open yet: no other thread reads the file or the timeline until the end.
    m_nReadError = 0;
    m_buffer.assign(kReadAhead, '\0');
    m_nBuffered = 0;
    m_checkpoints.assign(1, Cursor{});
    Cursor cursor;
    bool bAnyValid = false;
    std::string text;
    std::uint64_t length = 0;
    while (cursor.start < m_nSize)
    {
        if (progress)
        {
            if (progress->cancel.load(std::memory_order_relaxed))
                return Fail(LogError::Cancelled, 0);
            progress->done.store(cursor.start, std::memory_order_relaxed);
        }
        if (!ReadLine(cursor.start, text, length))
            return Fail(LogError::Unreadable, m_nReadError);
        bAnyValid = bAnyValid || (!text.empty() && IsBinarySyncByte(text.front())) || IsChecksumValid(text);
        Advance(cursor, text, length);
        if (cursor.start - m_checkpoints.back().start >= kCheckpointBytes && cursor.start < m_nSize)
            m_checkpoints.push_back(cursor);
    }
    if (progress)
        progress->done = m_nSize;
    if (!bAnyValid)
        return Fail(LogError::NotNmea, 0);
    m_checkpoints.shrink_to_fit();
    m_durationMs = cursor.playedMs;
    if (!m_wake.Open())
        return Fail(LogError::Unreadable, errno);

    std::lock_guard lock(m_lock);
    m_bOpen = true;
    m_bPaused = bPaused;
    m_bAtEnd = false;
    m_nSpeed = 1;
    m_seek.reset();
    m_next = Cursor{};
    m_line.clear();
    m_nLineTaken = 0;
    Anchor(0, Clock::now());
    return true;
}

bool LogPlayer::Fill(std::uint64_t pos)
{
    ssize_t got = -1;
    do
        got = ::pread(m_fd.Get(), m_buffer.data(), m_buffer.size(), static_cast<off_t>(pos));
    while (got < 0 && errno == EINTR);
    if (got < 0)
    {
        m_nReadError = errno;
        return false;
    }
    m_nBufferAt = pos;
    m_nBuffered = static_cast<std::size_t>(got);
    return true;
}

bool LogPlayer::FrameAt(std::uint64_t at, std::size_t& length)
{
    length = 0;
    if (at >= m_nSize)
        return true;
    const std::uint64_t wanted = std::min<std::uint64_t>(at + kMaxFrame, m_nSize);
    if (at < m_nBufferAt || wanted > m_nBufferAt + m_nBuffered)
    {
        if (!Fill(at))
            return false;
    }
    const char* from = m_buffer.data() + (at - m_nBufferAt);
    const std::size_t held = m_nBuffered - static_cast<std::size_t>(at - m_nBufferAt);
    if (held > 0 && IsBinarySyncByte(*from))
        length = BinaryFrameLength(std::string_view(from, held));
    return true;
}

bool LogPlayer::ReadLine(std::uint64_t at, std::string& text, std::uint64_t& length)
{
    text.clear();
    // A verified binary frame is handed on whole, its bytes as they stand.
    std::size_t frame = 0;
    if (!FrameAt(at, frame))
        return false;
    if (frame > 0)
    {
        const char* from = m_buffer.data() + (at - m_nBufferAt);
        text.assign(from, frame);
        length = frame;
        return true;
    }
    bool bTooLong = false;
    bool bJunk = false;
    std::uint64_t pos = at;
    for (;;)
    {
        if (pos < m_nBufferAt || pos >= m_nBufferAt + m_nBuffered)
        {
            if (pos >= m_nSize)
                break;
            if (!Fill(pos))
                return false;
            // The file was cut short since it was measured: it ends here.
            if (m_nBuffered == 0)
                break;
        }
        const char* from = m_buffer.data() + (pos - m_nBufferAt);
        const char* end = m_buffer.data() + m_nBuffered;
        const char* lf = static_cast<const char*>(std::memchr(from, '\n', static_cast<std::size_t>(end - from)));
        const char* upTo = lf ? lf + 1 : end;
        // A binary frame inside: what comes before it is no line (the framer skips it too).
        const char* sync = std::find_if(pos == at ? from + 1 : from, upTo, IsBinarySyncByte);
        if (sync != upTo)
        {
            const std::uint64_t syncAt = m_nBufferAt + static_cast<std::uint64_t>(sync - m_buffer.data());
            if (!FrameAt(syncAt, frame))
                return false;
            if (frame > 0)
            {
                pos = syncAt;
                bJunk = true;
                break;
            }
            // Not a frame: the bytes up to and with the sync byte belong to the line.
            if (pos < m_nBufferAt || syncAt >= m_nBufferAt + m_nBuffered)
            {
                if (!Fill(pos))
                    return false;
            }
            from = m_buffer.data() + (pos - m_nBufferAt);
            upTo = m_buffer.data() + (syncAt + 1 - m_nBufferAt);
            lf = nullptr;
        }
        if (!bTooLong)
        {
            text.append(from, upTo);
            bTooLong = text.size() > RingBuffer::kMaxLineLength;
            if (bTooLong)
                text.clear();
        }
        pos += static_cast<std::uint64_t>(upTo - from);
        if (lf || pos >= m_nSize)
            break;
    }
    length = pos - at;
    if (bTooLong || bJunk || text.empty())
    {
        text.clear();
        return true;
    }
    // Many tools save logs with bare LF ends, and a last line may have none; the receiver sent
    // CR LF, which the checksum test wants, and orvane-nmea puts the CR back as well.
    if (text.back() != '\n')
        text += "\r\n";
    else if (text.size() < 2 || text[text.size() - 2] != '\r')
        text.insert(text.size() - 1, 1, '\r');
    return true;
}

void LogPlayer::Advance(Cursor& cursor, const std::string& text, std::uint64_t length)
{
    // A sentence without a time goes with the epoch under way.
    if (const std::int64_t time = text.empty() ? -1 : TimeOfDayMs(text); time >= 0)
    {
        if (cursor.lastMs >= 0)
            cursor.playedMs += PlayedStepMs(cursor.lastMs, time);
        cursor.lastMs = time;
    }
    cursor.start += length;
}

bool LogPlayer::Stage()
{
    std::uint64_t length = 0;
    while (m_line.empty() && m_next.start < m_nSize)
    {
        if (!ReadLine(m_next.start, m_line, length))
            return false;
        Cursor after = m_next;
        Advance(after, m_line, length);
        if (m_line.empty())
        {
            // Junk that is not handed on.
            m_next = after;
            continue;
        }
        m_afterLine = after;
        m_lineMs = after.playedMs;
        m_nLineTaken = 0;
    }
    return !m_line.empty();
}

std::int64_t LogPlayer::PlayedMsNow(Clock::time_point now) const
{
    if (m_bPaused || m_nSpeed == kMaxSpeed)
        return m_anchorMs;
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - m_anchorTime);
    return m_anchorMs + elapsed.count() * m_nSpeed;
}

void LogPlayer::Anchor(std::int64_t ms, Clock::time_point now)
{
    m_anchorMs = ms;
    m_anchorTime = now;
}

std::size_t LogPlayer::Take(char* out, std::size_t size)
{
    const std::size_t count = std::min(size, m_line.size() - m_nLineTaken);
    std::memcpy(out, m_line.data() + m_nLineTaken, count);
    m_nLineTaken += count;
    if (m_nLineTaken == m_line.size())
    {
        m_next = m_afterLine;
        m_line.clear();
        m_nLineTaken = 0;
    }
    return count;
}

ByteDevice::Result LogPlayer::Read(void* buffer, std::size_t size, int timeoutMs)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char* out = static_cast<char*>(buffer);
    for (;;)
    {
        Clock::time_point wakeAt = deadline;
        {
            std::lock_guard lock(m_lock);
            if (!m_bOpen)
                return {Status::Gone, 0, EBADF};
            const Clock::time_point now = Clock::now();
            // The rest of a line under way goes first, whatever else was asked meanwhile.
            if (m_nLineTaken > 0 && size > 0)
                return {Status::Done, Take(out, size), 0};
            if (m_seek)
            {
                m_next = *m_seek;
                m_seek.reset();
                m_line.clear();
                m_bAtEnd = false;
                Anchor(m_next.playedMs, now);
                if (Stage())
                    Anchor(m_lineMs, now);
            }
            if (!Stage())
            {
                // A file that can no longer be read went away as a port does.
                if (m_nReadError != 0)
                    return {Status::Gone, 0, m_nReadError};
                // Stays here, paused at 100 %, until a seek or Play.
                m_bAtEnd = true;
                if (!m_bPaused)
                {
                    m_anchorMs = m_durationMs;
                    m_bPaused = true;
                }
            }
            else if (!m_bPaused && size > 0)
            {
                const std::int64_t playedMs = PlayedMsNow(now);
                const std::int64_t dueMs = m_lineMs;
                if (m_nSpeed == kMaxSpeed || dueMs <= playedMs)
                {
                    if (m_nSpeed != kMaxSpeed && playedMs - dueMs > kMaxLateMs * m_nSpeed)
                        Anchor(dueMs, now);
                    // This line and those after it of the same time, as far as they fit.
                    std::size_t count = Take(out, size);
                    while (count < size && m_nLineTaken == 0 && Stage() && (m_nSpeed == kMaxSpeed || m_lineMs <= dueMs))
                        count += Take(out + count, size - count);
                    return {Status::Done, count, 0};
                }
                wakeAt = std::min(deadline, m_anchorTime + std::chrono::milliseconds((dueMs - m_anchorMs + m_nSpeed - 1) / m_nSpeed));
            }
        }
        // Only the wake-up is waited on: Close, the controls and a seek end the wait at once.
        const Result waited = WaitReadableOrWoken(-1, m_wake, wakeAt);
        if (waited.status == Status::Woken || waited.status == Status::Failed)
            return waited;
        if (wakeAt >= deadline && Clock::now() >= deadline)
            return {Status::TimedOut, 0, 0};
    }
}

void LogPlayer::Play()
{
    {
        std::lock_guard lock(m_lock);
        if (!m_bOpen)
            return;
        if (m_bAtEnd && !m_seek)
            m_seek = Cursor{};
        m_bAtEnd = false;
        if (m_bPaused)
            Anchor(m_anchorMs, Clock::now());
        m_bPaused = false;
    }
    m_wake.Signal();
}

void LogPlayer::Pause()
{
    {
        std::lock_guard lock(m_lock);
        if (!m_bOpen || m_bPaused)
            return;
        Anchor(PlayedMsNow(Clock::now()), Clock::now());
        m_bPaused = true;
    }
    m_wake.Signal();
}

bool LogPlayer::IsPaused() const
{
    std::lock_guard lock(m_lock);
    return m_bPaused;
}

void LogPlayer::SetSpeed(int speed)
{
    {
        std::lock_guard lock(m_lock);
        const Clock::time_point now = Clock::now();
        // The log's time goes on from where it is; at full speed it is the next line's.
        std::int64_t played = PlayedMsNow(now);
        if (m_nSpeed == kMaxSpeed && m_bOpen && !m_seek && Stage())
            played = m_lineMs;
        m_nSpeed = std::max(speed, kMaxSpeed);
        Anchor(played, now);
    }
    m_wake.Signal();
}

int LogPlayer::Speed() const
{
    std::lock_guard lock(m_lock);
    return m_nSpeed;
}

std::size_t LogPlayer::Seek(double fraction)
{
    std::uint64_t offset = 0;
    {
        std::lock_guard lock(m_lock);
        if (!m_bOpen)
            return 0;
        const double clamped = std::clamp(fraction, 0.0, 1.0);
        const auto target = static_cast<std::uint64_t>(clamped * static_cast<double>(m_nSize));
        // From the last checkpoint at or before the target, over the lines before it.
        const auto after = std::upper_bound(m_checkpoints.begin(), m_checkpoints.end(), target,
                                            [](std::uint64_t byte, const Cursor& cursor) { return byte < cursor.start; });
        Cursor cursor = after == m_checkpoints.begin() ? Cursor{} : *(after - 1);
        std::string text;
        std::uint64_t length = 0;
        while (cursor.start < target && ReadLine(cursor.start, text, length))
            Advance(cursor, text, length);
        // A read error: the reader meets it too, and stops.
        if (cursor.start < target)
            cursor.start = m_nSize;
        m_seek = cursor;
        offset = cursor.start;
        m_bAtEnd = false;
    }
    m_wake.Signal();
    return offset;
}

std::size_t LogPlayer::Position() const
{
    std::lock_guard lock(m_lock);
    if (m_seek)
        return m_seek->start;
    if (m_nLineTaken > 0)
        return std::min(m_next.start + m_nLineTaken, m_afterLine.start);
    return m_next.start;
}

double LogPlayer::Fraction() const
{
    const std::size_t size = Size();
    return size == 0 ? 0.0 : static_cast<double>(Position()) / static_cast<double>(size);
}

bool LogPlayer::IsAtEnd() const
{
    std::lock_guard lock(m_lock);
    return m_bAtEnd;
}

std::int64_t LogPlayer::PositionMs() const
{
    std::lock_guard lock(m_lock);
    // The last line handed on, not the next one waiting for its time.
    if (m_seek)
        return m_seek->playedMs;
    return m_nLineTaken > 0 ? m_lineMs : m_next.playedMs;
}

std::int64_t LogPlayer::DurationMs() const
{
    std::lock_guard lock(m_lock);
    return m_durationMs;
}

void LogPlayer::Close()
{
    {
        std::lock_guard lock(m_lock);
        m_bOpen = false;
    }
    m_wake.Signal();
}

bool LogPlayer::IsOpen() const
{
    std::lock_guard lock(m_lock);
    return m_bOpen;
}
