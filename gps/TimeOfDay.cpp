#include "gps/TimeOfDay.h"

#include "gps/NmeaFraming.h"

#include <array>
#include <utility>
#include <vector>

namespace
{

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

int Pair(std::string_view text, std::size_t at)
{
    return (text[at] - '0') * 10 + (text[at + 1] - '0');
}

// The length of the day that ends before midnight at `late`: a second more when it is the
// leap second.
std::int64_t DayEndingAt(TimeOfDay late)
{
    return late.IsLeapSecond() ? TimeOfDay::kDayMs + 1000 : TimeOfDay::kDayMs;
}

} // namespace

std::optional<TimeOfDay> TimeOfDay::FromParts(int hour, int minute, int second, int millisecond)
{
    const bool leap = hour == 23 && minute == 59 && second == 60;
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || (second > 59 && !leap) ||
        millisecond < 0 || millisecond > 999)
        return std::nullopt;
    return TimeOfDay((((hour * 60LL) + minute) * 60 + second) * 1000 + millisecond);
}

std::optional<TimeOfDay> TimeOfDay::FromMs(std::int64_t ms)
{
    if (ms < 0 || ms >= kDayMs + 1000)
        return std::nullopt;
    return TimeOfDay(ms);
}

std::optional<TimeOfDay> TimeOfDay::Parse(std::string_view field)
{
    if (field.size() < 6 || (field.size() > 6 && field[6] != '.'))
        return std::nullopt;
    for (std::size_t i = 0; i < field.size(); ++i)
    {
        if (i != 6 && !IsDigit(field[i]))
            return std::nullopt;
    }
    // 10 Hz and faster receivers tell their epochs apart by the fraction: .1, .05, .125 ...
    int millisecond = 0;
    int scale = 100;
    for (std::size_t i = 7; i < field.size() && scale > 0; ++i, scale /= 10)
        millisecond += (field[i] - '0') * scale;
    return FromParts(Pair(field, 0), Pair(field, 2), Pair(field, 4), millisecond);
}

int TimeOfDay::Hour() const
{
    return IsLeapSecond() ? 23 : static_cast<int>(m_ms / 3'600'000);
}

int TimeOfDay::Minute() const
{
    return IsLeapSecond() ? 59 : static_cast<int>(m_ms / 60'000 % 60);
}

int TimeOfDay::Second() const
{
    return IsLeapSecond() ? 60 : static_cast<int>(m_ms / 1000 % 60);
}

int TimeOfDay::Millisecond() const
{
    return static_cast<int>(m_ms % 1000);
}

std::int64_t StepMs(TimeOfDay from, TimeOfDay to)
{
    const std::int64_t step = to.Ms() - from.Ms();
    if (step < -TimeOfDay::kDayMs / 2)
        return step + DayEndingAt(from);
    if (step > TimeOfDay::kDayMs / 2)
        return step - DayEndingAt(to);
    return step;
}

std::optional<TimeOfDay> SentenceTimeOfDay(std::string_view line)
{
    static constexpr std::array<std::pair<std::string_view, std::size_t>, 8> kTimeFields{{
        {"GGA", 1}, {"RMC", 1}, {"GNS", 1}, {"ZDA", 1}, {"GST", 1}, {"GBS", 1}, {"GRS", 1}, {"GLL", 5}}};
    const std::string_view identifier = line.substr(0, line.find(','));
    if (identifier.size() != 6 || identifier[0] != '$')
        return std::nullopt;
    for (const auto& [type, index] : kTimeFields)
    {
        if (identifier.substr(3) != type)
            continue;
        const std::vector<NmeaField> fields = SplitFields(line.substr(0, line.find('*')));
        return index < fields.size() ? TimeOfDay::Parse(fields[index]) : std::nullopt;
    }
    return std::nullopt;
}
