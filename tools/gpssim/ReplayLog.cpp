#include "tools/gpssim/ReplayLog.h"

#include "gps/NmeaFraming.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace
{

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// Looser than the receiving side: logs written elsewhere may use lowercase hex or bare LF, and
// their times still pace the replay.
bool ChecksumMatches(std::string_view line)
{
    const auto star = line.find('*');
    if (star == std::string_view::npos || line.size() < star + 3)
        return false;
    const int high = HexValue(line[star + 1]);
    const int low = HexValue(line[star + 2]);
    return high >= 0 && low >= 0 && ComputeChecksum(line) == high * 16 + low;
}

std::string_view Identifier(std::string_view line)
{
    if (line.empty() || line.front() != '$')
        return {};
    return line.substr(0, line.find(','));
}

std::optional<double> ParseTime(std::string_view field)
{
    if (field.size() < 6)
        return std::nullopt;
    for (std::size_t i = 0; i < 6; ++i)
        if (!std::isdigit(static_cast<unsigned char>(field[i])))
            return std::nullopt;
    const int hours = (field[0] - '0') * 10 + (field[1] - '0');
    const int minutes = (field[2] - '0') * 10 + (field[3] - '0');
    const int seconds = (field[4] - '0') * 10 + (field[5] - '0');
    if (hours > 23 || minutes > 59 || seconds > 60)
        return std::nullopt;
    double fraction = 0.0;
    if (field.size() > 6)
    {
        if (field[6] != '.')
            return std::nullopt;
        double scale = 0.1;
        for (std::size_t i = 7; i < field.size(); ++i, scale /= 10.0)
        {
            if (!std::isdigit(static_cast<unsigned char>(field[i])))
                return std::nullopt;
            fraction += (field[i] - '0') * scale;
        }
    }
    return hours * 3600.0 + minutes * 60.0 + seconds + fraction;
}

} // namespace

std::optional<double> SentenceTime(std::string_view line)
{
    const std::string_view identifier = Identifier(line);
    if (identifier.size() != 6 || !ChecksumMatches(line))
        return std::nullopt;
    const std::string_view type = identifier.substr(3);
    std::size_t index = 0;
    if (type == "GGA" || type == "RMC" || type == "GNS" || type == "GBS" || type == "GST" ||
        type == "ZDA")
        index = 1;
    else if (type == "GLL")
        index = 5;
    else
        return std::nullopt;
    const std::vector<NmeaField> fields = SplitFields(line.substr(0, line.find('*')));
    if (fields.size() <= index)
        return std::nullopt;
    return ParseTime(fields[index]);
}

bool ReplayLog::Load(const std::string& path, std::string& error)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
    {
        error = "cannot open " + path;
        return false;
    }
    std::ostringstream content;
    content << file.rdbuf();
    if (file.bad())
    {
        error = "cannot read " + path;
        return false;
    }
    Parse(content.str());
    if (m_cycles.empty())
    {
        error = path + " holds no sentences";
        return false;
    }
    return true;
}

void ReplayLog::Parse(std::string_view content)
{
    m_cycles.clear();
    std::string_view firstIdentifier;
    while (!content.empty())
    {
        const auto end = content.find('\n');
        const std::string_view line =
            end == std::string_view::npos ? content : content.substr(0, end + 1);
        content.remove_prefix(line.size());
        if (line.front() == '#')
            continue;

        const std::optional<double> time = SentenceTime(line);
        const std::string_view identifier = Identifier(line);
        bool bNewCycle = m_cycles.empty();
        if (!bNewCycle)
        {
            const ReplayCycle& current = m_cycles.back();
            if (time && current.time)
                bNewCycle = *time != *current.time;
            else if (!current.time && !identifier.empty())
                // Without times, a cycle ends where its first kind of sentence comes again.
                bNewCycle = identifier == firstIdentifier;
        }
        if (bNewCycle)
        {
            m_cycles.emplace_back();
            firstIdentifier = identifier;
        }
        ReplayCycle& cycle = m_cycles.back();
        if (firstIdentifier.empty())
            firstIdentifier = identifier;
        if (time && !cycle.time)
            cycle.time = time;
        cycle.lines.emplace_back(line);
    }
    Schedule();
}

void ReplayLog::Schedule()
{
    for (std::size_t i = 1; i < m_cycles.size(); ++i)
    {
        double step = kUntimedStep;
        if (m_cycles[i].time && m_cycles[i - 1].time)
        {
            double gap = *m_cycles[i].time - *m_cycles[i - 1].time;
            if (gap < -43200.0)
                gap += 86400.0; // past midnight
            if (gap > 0.0 && gap <= kLongestGap)
                step = gap;
        }
        m_cycles[i].offset = m_cycles[i - 1].offset + step;
    }
}

std::size_t ReplayLog::LineCount() const
{
    std::size_t count = 0;
    for (const ReplayCycle& cycle : m_cycles)
        count += cycle.lines.size();
    return count;
}

double ReplayLog::Period() const
{
    return m_cycles.empty() ? 0.0 : m_cycles.back().offset + kUntimedStep;
}

double ReplayLog::Offset(std::size_t pass, std::size_t index) const
{
    return static_cast<double>(pass) * Period() + m_cycles.at(index).offset;
}
