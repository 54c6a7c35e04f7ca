#pragma once

#include "gps/Accuracy.h"
#include "gps/Constellations.h"
#include "gps/GpsData.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <vector>

// A ring of fixed capacity: the newest N of what was pushed, oldest first. Nothing is
// allocated after construction.
template <typename T, std::size_t N> class FixedRing
{
public:
    static constexpr std::size_t kCapacity = N;

    std::size_t Size() const { return m_nSize; }
    bool Empty() const { return m_nSize == 0; }
    // 0 is the oldest kept.
    const T& operator[](std::size_t i) const { return m_items[(m_nFirst + i) % N]; }
    T& operator[](std::size_t i) { return m_items[(m_nFirst + i) % N]; }
    const T& Back() const { return (*this)[m_nSize - 1]; }
    T& Back() { return (*this)[m_nSize - 1]; }
    const T& Front() const { return (*this)[0]; }

    void Push(const T& item)
    {
        if (m_nSize == N)
        {
            m_items[m_nFirst] = item;
            m_nFirst = (m_nFirst + 1) % N;
        }
        else
            (*this)[m_nSize++] = item;
    }
    void PopFront()
    {
        m_nFirst = (m_nFirst + 1) % N;
        --m_nSize;
    }
    void Clear()
    {
        m_nFirst = 0;
        m_nSize = 0;
    }

private:
    std::array<T, N> m_items{};
    std::size_t m_nFirst = 0;
    std::size_t m_nSize = 0;
};

// Constellations a sample counts apart, in the panel's order (kSystemsInOrder).
inline constexpr std::size_t kHistorySystems = std::size(kSystemsInOrder);

// One second of the receiver's state, as the history plots it. `t` is the history's own
// time axis in seconds: it advances with the receiver's UTC (or the clock while the record
// has no time) and never goes back.
struct HistorySample
{
    std::int64_t t = 0;
    std::uint8_t used[kHistorySystems] = {};
    std::uint8_t inView[kHistorySystems] = {};
    float snrUsed = 0.0f; // mean C/N0 of the used satellites, dB-Hz; 0 when none is used
    float snrTop4 = 0.0f; // mean C/N0 of the four strongest heard; 0 when none is heard
    float hdop = 0.0f;    // 0 while the receiver has sent none
    float pdop = 0.0f;
    float horizontalAccuracy = 0.0f; // the receiver's estimate, m; 0 while it has sent none
    std::int8_t fixMode = 0;
};

enum class HistoryEventKind : std::uint8_t
{
    HotStart,
    WarmStart,
    ColdStart,
    FixLost,
};

struct HistoryEvent
{
    std::int64_t t = 0;
    HistoryEventKind kind = HistoryEventKind::FixLost;
};

// A fix position and when (on the history's axis) it was taken.
struct HistoryFix
{
    std::int64_t t = 0;
    GeoPoint position{};
};

// The last 15 minutes of the receiver, one sample a second, in fixed memory: what the History
// and Accuracy tabs plot. Fed every record the document receives, shown or not. Qt-free; the
// clock is handed in so that sampling is tested without waiting.
class History
{
public:
    static constexpr std::int64_t kWindowSeconds = 15 * 60;
    static constexpr std::size_t kSamples = kWindowSeconds;
    static constexpr std::size_t kEvents = 64;
    // One fix epoch each: 15 minutes at 10 Hz.
    static constexpr std::size_t kFixes = 9000;
    // Milliseconds on a steady clock.
    using Clock = std::function<std::int64_t()>;

    explicit History(Clock now);

    // The record right after a line. Within one receiver second the newest sample is
    // rewritten, so it holds the second as its last line left it; a new second starts a new
    // one. A record whose time has not moved for kStaleTimeMs is sampled by the clock instead.
    void Add(const GpsData& gps);
    // A fix epoch as it ended (EpochDetector): its position joins the accuracy ring when it
    // has one.
    void AddEpoch(const GpsData& ended);
    // A restart command was sent (FixLost is found by Add itself).
    void MarkEvent(HistoryEventKind kind);
    // Forgets the positions, for a receiver that was moved; the rest is kept. The epoch under
    // way, begun before the reset, is not taken either.
    void ResetFixes();

    const FixedRing<HistorySample, kSamples>& Samples() const { return m_samples; }
    const FixedRing<HistoryEvent, kEvents>& Events() const { return m_events; }
    const FixedRing<HistoryFix, kFixes>& Fixes() const { return m_fixes; }
    // The fix positions still inside the window, oldest first.
    std::vector<GeoPoint> FixPositions() const;
    // The newest time on the axis; 0 before the first sample.
    std::int64_t Now() const { return m_samples.Empty() ? 0 : m_samples.Back().t; }

    static constexpr std::int64_t kStaleTimeMs = 3000;

private:
    // Where a record falls on the axis, and whether that is a new second.
    std::int64_t AxisTime(const GpsData& gps, bool& bNew);
    void DropOldFixes();

    Clock m_now;
    FixedRing<HistorySample, kSamples> m_samples;
    FixedRing<HistoryEvent, kEvents> m_events;
    FixedRing<HistoryFix, kFixes> m_fixes;
    // What the newest sample was keyed by: the receiver's second of the day or the clock's
    // second, and the clock when the sample began and when the receiver's time last moved.
    bool m_bKeyedByUtc = false;
    std::int64_t m_nKey = -1;
    std::int64_t m_nKeyClockMs = 0;
    std::int64_t m_nTimeMovedMs = 0;
    std::int32_t m_nLastTimeOfDay = -1;
    bool m_bSkipEpochUnderWay = false;
};

// One sample of a record: counts per constellation, mean C/N0s, DOPs and fix mode (t is left 0).
HistorySample SampleOf(const GpsData& gps);
