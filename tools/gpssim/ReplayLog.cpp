#include "tools/gpssim/ReplayLog.h"

#include "gps/NmeaFraming.h"
#include "gps/TimeOfDay.h"

#include <cctype>
#include <cmath>
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

} // namespace

std::optional<double> SentenceTime(std::string_view line)
{
    const std::optional<TimeOfDay> time = ChecksumMatches(line) ? SentenceTimeOfDay(line) : std::nullopt;
    return time ? std::optional<double>(static_cast<double>(time->Ms()) / 1000.0) : std::nullopt;
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
            const auto at = [](double seconds) { return *TimeOfDay::FromMs(std::llround(seconds * 1000.0)); };
            const double gap = static_cast<double>(StepMs(at(*m_cycles[i - 1].time), at(*m_cycles[i].time))) / 1000.0;
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
