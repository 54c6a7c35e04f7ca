#pragma once

#include "io/ByteDevice.h"
#include "io/WakeEvent.h"

#include "util/UniqueFd.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Why a log could not be played.
enum class LogError
{
    None,
    NotFound,   // no such file
    Unreadable, // it exists but cannot be read (permissions, an I/O error)
    Empty,      // no bytes at all
    NotNmea,    // not one sentence with a valid checksum
    NotAFile,   // a folder, a device, a named pipe: nothing that a log is
    Cancelled   // the indexing was called off
};

// How far the indexing of a log has got, and its cancel, shared with another thread.
struct LogIndexing
{
    std::atomic<std::uint64_t> done{0};
    std::atomic<std::uint64_t> total{0};
    std::atomic<bool> cancel{false};
};

// A recorded log as a source: NMEA text or a raw log of NMEA, UBX and RTCM3 frames, gpsd's
// capture format included (its leading comment lines are lines with no checksum, which the
// device drops as it drops any). The file's lines and binary frames, read from it as they are handed to the
// reader loop at the pace of their sentences' UTC time of day, or as fast as they are taken.
// Only a checkpoint of the timeline every kCheckpointBytes is kept, so a log of any size costs
// little memory; a line longer than the receive ring takes (binary junk) is skipped, as the ring
// skips it on a port. The reader thread calls Read; the controls (Play, Pause, SetSpeed, Seek)
// come from any thread and wake its wait, so none of them waits for a sleep to end. Lines are handed on whole around a seek: the receive ring
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

    // A checkpoint of the timeline at the first line start after every this many bytes.
    static constexpr std::uint64_t kCheckpointBytes = 16384;

    // Open, then Index: on the calling thread.
    bool Load(const std::string& path, bool bPaused = false);
    // Only a regular file that is not empty; never waits (a named pipe, a terminal are refused
    // without being opened). On false, LastError and LastSystemError say why.
    bool Open(const std::string& path);
    // Reads the opened file through once, in a bounded buffer, for its timeline and whether it
    // holds NMEA at all; for a large log, off the window's thread, with `progress` to show and
    // cancel. Playing from the start at 1x afterwards, or paused when bPaused.
    bool Index(LogIndexing* progress = nullptr, bool bPaused = false);
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
    std::size_t Size() const { return m_nSize; }
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
    // The timeline at a line start: its byte offset, the played time of the line before it,
    // and the last time of day seen (-1 for none yet).
    struct Cursor
    {
        std::uint64_t start = 0;
        std::int64_t playedMs = 0;
        std::int64_t lastMs = -1;
    };

    bool Fail(LogError error, int systemError);
    // Under the lock: the unit at `at` into `text` and its length in the file into `length`: a
    // verified UBX or RTCM3 frame as it stands, else a line, its end made CR LF (empty for a
    // line too long to be a sentence and for the bytes before a binary frame). False on a read
    // error.
    bool ReadLine(std::uint64_t at, std::string& text, std::uint64_t& length);
    // Reads ahead from `pos`; false on a read error (m_nReadError).
    bool Fill(std::uint64_t pos);
    // The length of the verified binary frame at `at` into `length` (0: none); false on a read
    // error.
    bool FrameAt(std::uint64_t at, std::size_t& length);
    // The cursor moved over one line: its time, if it has one, on the played timeline.
    static void Advance(Cursor& cursor, const std::string& text, std::uint64_t length);
    // Under the lock: the next line read and waiting to be handed on, unless one is already
    // (or under way); false at the end, or on a read error (m_nReadError).
    bool Stage();
    // Under the lock: the log's time now, by the clock.
    std::int64_t PlayedMsNow(Clock::time_point now) const;
    void Anchor(std::int64_t ms, Clock::time_point now);
    // Under the lock: hands on the staged line from where it got to (at most `size` bytes).
    std::size_t Take(char* out, std::size_t size);

    std::string m_strPath;
    UniqueFd m_fd;
    std::uint64_t m_nSize = 0;
    std::vector<Cursor> m_checkpoints;
    std::int64_t m_durationMs = 0;
    LogError m_nError = LogError::None;
    int m_nSystemError = 0;
    WakeEvent m_wake;

    mutable std::mutex m_lock;
    // The bytes read ahead from the file, from m_nBufferAt.
    std::vector<char> m_buffer;
    std::uint64_t m_nBufferAt = 0;
    std::size_t m_nBuffered = 0;
    int m_nReadError = 0;
    bool m_bOpen = false;
    bool m_bPaused = false;
    bool m_bAtEnd = false;
    int m_nSpeed = 1;
    // Before the next line not yet begun.
    Cursor m_next;
    // The line read and being handed on (empty for none), how much of it has gone, its
    // played time and the cursor after it.
    std::string m_line;
    std::size_t m_nLineTaken = 0;
    std::int64_t m_lineMs = 0;
    Cursor m_afterLine;
    // A seek waiting for the line under way to be complete.
    std::optional<Cursor> m_seek;
    // The log's time m_anchorMs was current at m_anchorTime; while paused, it stays there.
    std::int64_t m_anchorMs = 0;
    Clock::time_point m_anchorTime{};
};
