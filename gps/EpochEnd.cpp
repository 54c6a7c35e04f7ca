#include "gps/EpochEnd.h"

#include "gps/UbxDecoders.h"

#include <algorithm>
#include <utility>

std::string_view EpochEnd::AddressOf(std::string_view sentence)
{
    const std::size_t start = sentence.find_first_of("$!");
    std::string_view address;
    if (start != std::string_view::npos)
    {
        address = sentence.substr(start + 1);
        address = address.substr(0, std::min(address.find_first_of(",*\r\n"), std::size_t{8}));
    }
    return address;
}

std::string EpochEnd::KeyOf(std::string_view address)
{
    auto it = std::find_if(m_seen.begin(), m_seen.end(), [&](const auto& seen) { return seen.first == address; });
    if (it == m_seen.end())
        it = m_seen.insert(m_seen.end(), {std::string(address), 0});
    return std::string(address) + '#' + std::to_string(++it->second);
}

EpochMarks EpochEnd::Feed(std::string_view sentence, const GpsData& after)
{
    return Marks(AddressOf(sentence), after);
}

EpochMarks EpochEnd::Feed(const Frame& frame, const GpsData& after)
{
    switch (frame.kind)
    {
    case FrameKind::Nmea:
        return Feed(frame.bytes, after);
    case FrameKind::Rtcm3:
        return {};
    case FrameKind::Ubx:
        break;
    }
    // Class and id as hex: a message without a name here is still told apart.
    static constexpr char kHex[] = "0123456789ABCDEF";
    const std::uint8_t cls = UbxClass(frame.bytes);
    const std::uint8_t id = UbxId(frame.bytes);
    const char address[] = {'U', kHex[cls >> 4], kHex[cls & 15], kHex[id >> 4], kHex[id & 15]};
    EpochMarks marks = Marks(std::string_view(address, sizeof address), after);
    if (IsUbxEpochEnd(frame.bytes))
        marks.ends = true;
    return marks;
}

EpochMarks EpochEnd::Marks(std::string_view address, const GpsData& after)
{
    EpochMarks marks;
    GpsData ended;
    if (m_epochs.Feed(after, ended) || std::exchange(m_bFirst, false))
    {
        marks.began = true;
        m_ender = m_previousKey;
        m_seen.clear();
    }
    std::string key = KeyOf(address);
    marks.ends = !m_ender.empty() && key == m_ender;
    m_previousKey = std::move(key);
    return marks;
}
