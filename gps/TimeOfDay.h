#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string_view>

// A UTC time of day to the millisecond, as NMEA sentences carry it (hhmmss.sss). A leap
// second, 23:59:60, is a time of its own, after 23:59:59 and before the next day's 00:00:00.
//
// Sentences carry no date beside most times, so a step between two times is read by one rule:
// the shorter way round the clock. A step back of more than 12 hours is the next day (23:59:59
// to 00:00:00 is one second), a step forward of more than 12 hours is the day before, and a
// smaller step back is a real step back (a log starting over, a receiver's clock reset).
class TimeOfDay
{
public:
    static constexpr std::int64_t kDayMs = 24LL * 3600 * 1000;

    constexpr TimeOfDay() = default;

    // hhmmss with an optional fraction after a point (any number of digits, the first three
    // counting). Nothing else may be in the field; hours 00-23, minutes 00-59, seconds 00-59
    // and 60 at 23:59 only.
    static std::optional<TimeOfDay> Parse(std::string_view field);
    // The same ranges; nullopt outside them.
    static std::optional<TimeOfDay> FromParts(int hour, int minute, int second, int millisecond = 0);
    // Milliseconds since midnight, 0 to kDayMs + 999 (the leap second).
    static std::optional<TimeOfDay> FromMs(std::int64_t ms);

    int Hour() const;
    int Minute() const;
    int Second() const;
    int Millisecond() const;
    // Since midnight; 23:59:60.000 is kDayMs.
    std::int64_t Ms() const { return m_ms; }
    // Whole seconds since midnight: 23:59:60 is 86400.
    std::int32_t SecondOfDay() const { return static_cast<std::int32_t>(m_ms / 1000); }
    bool IsLeapSecond() const { return m_ms >= kDayMs; }

    auto operator<=>(const TimeOfDay&) const = default;

private:
    explicit constexpr TimeOfDay(std::int64_t ms) : m_ms(ms) {}

    std::int64_t m_ms = 0;
};

// The signed UTC in ms from `from` to `to`, by the rule above; a day that holds a leap second
// is a second longer.
std::int64_t StepMs(TimeOfDay from, TimeOfDay to);

// The time of day in a sentence's UTC field: field 1 of GGA, RMC, GNS, ZDA, GST, GBS and GRS,
// field 5 of GLL, of any talker. nullopt for other sentences and for a field that is empty or
// malformed. The checksum is not tested here.
std::optional<TimeOfDay> SentenceTimeOfDay(std::string_view line);
