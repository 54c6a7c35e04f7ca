#pragma once

#include "io/ByteDevice.h"
#include "io/WakeEvent.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// Why a log could not be played.
enum class LogError
{
    None,
    NotFound,   // no such file
    Unreadable, // it exists but cannot be read (permissions, a folder, an I/O error)
    Empty,      // no bytes at all
    NotNmea     // not one sentence with a valid checksum
};

// A recorded NMEA log as a source: the file's bytes, handed to the reader loop at the pace of
// its sentences' UTC time of day, or as fast as they are taken. The reader thread calls Read;
// the controls (Play, Pause, SetSpeed, Seek) come from any thread and wake its wait, so none of
// them waits for a sleep to end. Lines are handed on whole around a seek: the receive ring
// never holds the front of one line joined to the back of another.
class LogPlayer : public ByteDevice
{
public:
    // As fast as the reader is let on: the device's full line queue is then the only brake.
    static constexpr int kMaxSpeed = 0;
    // A step in the log's time larger than this (a receiver off for a while, two logs joined)
    // plays as kGapPlayedMs; a step backwards plays at once.
    static constexpr std::int64_t kMaxStepMs = 5000;
    static constexpr std::int64_t kGapPlayedMs = 1000;
    // At 1x, a line the reader could not take on time (the views lag) restarts the clock from
    // itself rather than letting a backlog play at full speed afterwards.
    static constexpr std::int64_t kMaxLateMs = 1000;

    LogPlayer() = default;
    ~LogPlayer() override { Close(); }
    LogPlayer(const LogPlayer&) = delete;
    LogPlayer& operator=(const LogPlayer&) = delete;

    // Reads the whole file and finds its lines and their times. Playing from the start at 1x
    // afterwards, or paused when bPaused. On false, LastError and LastSystemError say why.
    bool Load(const std::string& path, bool bPaused = false);
    LogError LastError() const { return m_nError; }
    int LastSystemError() const { return m_nSystemError; }
    const std::string& Path() const { return m_strPath; }

    // Any thread. Play at the end of the log starts it again from the beginning.
    void Play();
    void Pause();
    bool IsPaused() const;
    // 1, 4, 16 ... times the log's pace, or kMaxSpeed.
    void SetSpeed(int speed);
    int Speed() const;
    // Moves to the first line that starts at or after `fraction` of the file (0 to 1), once the
    // line being handed on is complete. Returns that line's byte offset (the size: the end).
    std::size_t Seek(double fraction);
    // How far playing has got, 0 to 1 of the file's bytes (a pending seek counts as done).
    double Fraction() const;
    std::size_t Position() const;
    std::size_t Size() const { return m_bytes.size(); }
    // Everything has been handed on: the player paused itself at the end.
    bool IsAtEnd() const;
    // The log's own time at the position and at its end, in ms from its first sentence, with
    // gaps shortened as they are played.
    std::int64_t PositionMs() const;
    std::int64_t DurationMs() const;

    // The UTC time of day in ms a sentence carries in its time field (GGA, RMC, GNS, GLL, ZDA,
    // GST, GBS, GRS), or -1 for a sentence without one or with a bad checksum.
    static std::int64_t TimeOfDayMs(const std::string& line);

    Result Read(void* buffer, std::size_t size, int timeoutMs) override;
    // A log takes no bytes.
    Result Write(const void*, std::size_t, int) override { return {Status::Failed, 0, 0}; }
    void Purge(bool, bool) override {}
    void Wake() override { m_wake.Signal(); }
    void Close() override;
    bool IsOpen() const override;
    bool AcceptsWrites() const override { return false; }

private:
    using Clock = std::chrono::steady_clock;
    struct Line
    {
        std::size_t start = 0;
        std::int64_t ms = 0; // on the played timeline
    };

    bool Fail(LogError error, int systemError);
    void Index();
    std::size_t LineEnd(std::size_t line) const;
    // Under the lock: the log's time now, by the clock.
    std::int64_t PlayedMsNow(Clock::time_point now) const;
    void Anchor(std::int64_t ms, Clock::time_point now);
    void StartLine(std::size_t line);
    // Under the lock: copies from the position up to `end` (at most `size` bytes).
    std::size_t Take(char* out, std::size_t size, std::size_t end);

    std::string m_strPath;
    std::string m_bytes;
    std::vector<Line> m_lines;
    LogError m_nError = LogError::None;
    int m_nSystemError = 0;
    WakeEvent m_wake;

    mutable std::mutex m_lock;
    bool m_bOpen = false;
    bool m_bPaused = false;
    bool m_bAtEnd = false;
    int m_nSpeed = 1;
    std::size_t m_nPos = 0;
    // The line the position is in (m_lines.size() at the end).
    std::size_t m_nLine = 0;
    // A seek waiting for the line under way to be complete; npos for none.
    std::size_t m_nSeekLine = static_cast<std::size_t>(-1);
    // The log's time m_anchorMs was current at m_anchorTime; while paused, it stays there.
    std::int64_t m_anchorMs = 0;
    Clock::time_point m_anchorTime{};
};
