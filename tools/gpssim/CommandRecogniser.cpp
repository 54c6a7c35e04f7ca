#include "tools/gpssim/CommandRecogniser.h"

#include "gps/NmeaFraming.h"

#include <algorithm>
#include <cctype>

namespace
{

bool IsInteger(std::string_view field)
{
    if (!field.empty() && field.front() == '-')
        field.remove_prefix(1);
    return !field.empty() &&
           std::all_of(field.begin(), field.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

} // namespace

std::optional<RestartKind> CommandRecogniser::Recognise(std::string_view line)
{
    if (!IsChecksumValid(line))
        return std::nullopt;
    const std::vector<NmeaField> fields = SplitFields(line.substr(0, line.find('*')));
    if (fields.size() != 9 || fields[0] != "$PSRF101")
        return std::nullopt;
    // Position, clock offset, time of week, week and channel count only seed a real
    // receiver's search; they must be numbers, their values do not matter here.
    for (std::size_t i = 1; i <= 7; ++i)
        if (!IsInteger(fields[i]))
            return std::nullopt;
    if (fields[8] == "1")
        return RestartKind::Hot;
    if (fields[8] == "2")
        return RestartKind::Warm;
    if (fields[8] == "4")
        return RestartKind::Cold;
    return std::nullopt;
}

std::vector<RestartKind> CommandRecogniser::Feed(std::string_view bytes)
{
    std::vector<RestartKind> commands;
    for (const char c : bytes)
    {
        // A receiver resynchronises on every '$': bytes before it belong to no sentence.
        if (c == '$')
            Reset();
        if (!m_bOverlong)
            m_strLine.push_back(c);
        if (c == '\n')
        {
            if (!m_bOverlong)
                if (const auto kind = Recognise(m_strLine))
                    commands.push_back(*kind);
            Reset();
        }
        else if (m_strLine.size() >= kMaxLine)
        {
            m_bOverlong = true;
            m_strLine.clear();
        }
    }
    return commands;
}

void CommandRecogniser::Reset()
{
    m_strLine.clear();
    m_bOverlong = false;
}
