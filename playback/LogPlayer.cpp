#include "playback/LogPlayer.h"

#include "gps/NmeaFraming.h"
#include "gps/TimeOfDay.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

namespace
{
constexpr std::size_t kNoSeek = static_cast<std::size_t>(-1);

// Many tools save logs with bare LF ends; the receiver sent CR LF, which the checksum test
// wants, and orvane-nmea puts the CR back as well.
std::string WithCarriageReturns(std::string bytes)
{
    std::size_t bare = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bare += bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r');
    if (bare == 0)
        return bytes;
    std::string restored;
    restored.reserve(bytes.size() + bare);
    for (std::size_t i = 0; i < bytes.size(); ++i)
    {
        if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r'))
            restored += '\r';
        restored += bytes[i];
    }
    return restored;
}
} // namespace

std::int64_t LogPlayer::TimeOfDayMs(const std::string& line)
{
    const std::optional<TimeOfDay> time = IsChecksumValid(line) ? SentenceTimeOfDay(line) : std::nullopt;
    return time ? time->Ms() : -1;
}

bool LogPlayer::Fail(LogError error, int systemError)
{
    m_nError = error;
    m_nSystemError = systemError;
    m_bytes.clear();
    m_lines.clear();
    return false;
}

bool LogPlayer::Load(const std::string& path, bool bPaused)
{
    Close();
    m_strPath = path;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Fail(errno == ENOENT || errno == ENOTDIR ? LogError::NotFound : LogError::Unreadable, errno);
    std::string bytes;
    char chunk[65536];
    for (;;)
    {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
        {
            const int error = errno;
            ::close(fd);
            return Fail(LogError::Unreadable, error);
        }
        if (got == 0)
            break;
        bytes.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(fd);
    if (bytes.empty())
        return Fail(LogError::Empty, 0);
    // A last line without its end would wait in the receive ring for ever.
    if (bytes.back() != '\n')
        bytes += "\r\n";
    m_bytes = WithCarriageReturns(std::move(bytes));
    Index();
    if (m_lines.empty())
        return Fail(LogError::NotNmea, 0);
    if (!m_wake.Open())
        return Fail(LogError::Unreadable, errno);

    std::lock_guard lock(m_lock);
    m_bOpen = true;
    m_bPaused = bPaused;
    m_bAtEnd = false;
    m_nSpeed = 1;
    m_nSeekLine = kNoSeek;
    StartLine(0);
    Anchor(0, Clock::now());
    m_nError = LogError::None;
    m_nSystemError = 0;
    return true;
}

void LogPlayer::Index()
{
    // The played timeline: a sentence's step from the last time seen, with midnight rolled
    // over, a step backwards played at once and a long gap shortened; a sentence without a
    // time goes with the epoch under way. No valid sentence at all: no lines.
    std::int64_t played = 0;
    std::int64_t last = -1;
    bool bAnyValid = false;
    for (std::size_t start = 0; start < m_bytes.size();)
    {
        std::size_t end = m_bytes.find('\n', start);
        end = end == std::string::npos ? m_bytes.size() : end + 1;
        const std::string line = m_bytes.substr(start, end - start);
        bAnyValid = bAnyValid || IsChecksumValid(line);
        if (const std::int64_t time = TimeOfDayMs(line); time >= 0)
        {
            if (last >= 0)
            {
                std::int64_t step = StepMs(*TimeOfDay::FromMs(last), *TimeOfDay::FromMs(time));
                if (step < 0)
                    step = 0;
                else if (step > kMaxStepMs)
                    step = kGapPlayedMs;
                played += step;
            }
            last = time;
        }
        m_lines.push_back(Line{start, played});
        start = end;
    }
    if (!bAnyValid)
        m_lines.clear();
}

std::size_t LogPlayer::LineEnd(std::size_t line) const
{
    return line + 1 < m_lines.size() ? m_lines[line + 1].start : m_bytes.size();
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

void LogPlayer::StartLine(std::size_t line)
{
    m_nLine = std::min(line, m_lines.size());
    m_nPos = m_nLine < m_lines.size() ? m_lines[m_nLine].start : m_bytes.size();
}

std::size_t LogPlayer::Take(char* out, std::size_t size, std::size_t end)
{
    const std::size_t count = std::min(size, end - m_nPos);
    std::memcpy(out, m_bytes.data() + m_nPos, count);
    m_nPos += count;
    while (m_nLine < m_lines.size() && m_nPos >= LineEnd(m_nLine))
        ++m_nLine;
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
            const bool bAtLineStart = m_nLine >= m_lines.size() || m_nPos == m_lines[m_nLine].start;
            // The rest of a line under way goes first, whatever else was asked meanwhile.
            if (!bAtLineStart && size > 0)
                return {Status::Done, Take(out, size, LineEnd(m_nLine)), 0};
            if (m_nSeekLine != kNoSeek)
            {
                StartLine(m_nSeekLine);
                m_nSeekLine = kNoSeek;
                m_bAtEnd = false;
                Anchor(m_nLine < m_lines.size() ? m_lines[m_nLine].ms : m_lines.back().ms, now);
            }
            if (m_nLine >= m_lines.size())
            {
                // Stays here, paused at 100 %, until a seek or Play.
                m_bAtEnd = true;
                if (!m_bPaused)
                {
                    m_anchorMs = m_lines.back().ms;
                    m_bPaused = true;
                }
            }
            else if (!m_bPaused && size > 0)
            {
                const std::int64_t playedMs = PlayedMsNow(now);
                const std::int64_t dueMs = m_lines[m_nLine].ms;
                if (m_nSpeed == kMaxSpeed || dueMs <= playedMs)
                {
                    if (m_nSpeed != kMaxSpeed && playedMs - dueMs > kMaxLateMs * m_nSpeed)
                        Anchor(dueMs, now);
                    // This line and those after it of the same time, as far as they fit.
                    std::size_t last = m_nLine;
                    while (last + 1 < m_lines.size() && m_lines[last + 1].ms <= dueMs)
                        ++last;
                    return {Status::Done, Take(out, size, m_nSpeed == kMaxSpeed ? m_bytes.size() : LineEnd(last)), 0};
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
        if (m_bAtEnd && m_nSeekLine == kNoSeek)
            m_nSeekLine = 0;
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
        if (m_nSpeed == kMaxSpeed && m_nLine < m_lines.size())
            played = m_lines[m_nLine].ms;
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
    std::size_t offset = 0;
    {
        std::lock_guard lock(m_lock);
        if (!m_bOpen)
            return 0;
        const double clamped = std::clamp(fraction, 0.0, 1.0);
        const auto target = static_cast<std::size_t>(clamped * static_cast<double>(m_bytes.size()));
        const auto at = std::lower_bound(m_lines.begin(), m_lines.end(), target,
                                         [](const Line& line, std::size_t byte) { return line.start < byte; });
        m_nSeekLine = static_cast<std::size_t>(at - m_lines.begin());
        offset = at == m_lines.end() ? m_bytes.size() : at->start;
        m_bAtEnd = false;
    }
    m_wake.Signal();
    return offset;
}

std::size_t LogPlayer::Position() const
{
    std::lock_guard lock(m_lock);
    if (m_nSeekLine != kNoSeek)
        return m_nSeekLine < m_lines.size() ? m_lines[m_nSeekLine].start : m_bytes.size();
    return m_nPos;
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
    std::size_t line = m_nSeekLine != kNoSeek ? m_nSeekLine : m_nLine;
    if (m_lines.empty())
        return 0;
    // The last line handed on, not the next one waiting for its time.
    if (line > 0 && (line >= m_lines.size() || m_nPos == m_lines[line].start))
        --line;
    return m_lines[std::min(line, m_lines.size() - 1)].ms;
}

std::int64_t LogPlayer::DurationMs() const
{
    std::lock_guard lock(m_lock);
    return m_lines.empty() ? 0 : m_lines.back().ms;
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
