#include "gps/EpochEnd.h"

#include <algorithm>
#include <utility>

std::string EpochEnd::KeyOf(std::string_view sentence)
{
    const std::size_t start = sentence.find_first_of("$!");
    std::string_view address;
    if (start != std::string_view::npos)
    {
        address = sentence.substr(start + 1);
        address = address.substr(0, std::min(address.find_first_of(",*\r\n"), std::size_t{8}));
    }
    auto it = std::find_if(m_seen.begin(), m_seen.end(), [&](const auto& seen) { return seen.first == address; });
    if (it == m_seen.end())
        it = m_seen.insert(m_seen.end(), {std::string(address), 0});
    return std::string(address) + '#' + std::to_string(++it->second);
}

EpochMarks EpochEnd::Feed(std::string_view sentence, const GpsData& after)
{
    EpochMarks marks;
    GpsData ended;
    if (m_epochs.Feed(after, ended) || std::exchange(m_bFirst, false))
    {
        marks.began = true;
        m_ender = m_previousKey;
        m_seen.clear();
    }
    std::string key = KeyOf(sentence);
    marks.ends = !m_ender.empty() && key == m_ender;
    m_previousKey = std::move(key);
    return marks;
}
