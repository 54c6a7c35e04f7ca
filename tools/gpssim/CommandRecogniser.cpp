#include "tools/gpssim/CommandRecogniser.h"

#include "gps/NmeaFraming.h"
#include "receiver/ReceiverCommands.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

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

constexpr char kUbxSync1 = '\xB5';
constexpr char kUbxSync2 = '\x62';
constexpr std::size_t kUbxHeader = 6; // sync, class, id, length
constexpr std::size_t kUbxFrame = kUbxHeader + 2;

std::size_t UbxPayloadLength(std::string_view message)
{
    return static_cast<std::uint8_t>(message[4]) | static_cast<std::size_t>(static_cast<std::uint8_t>(message[5])) << 8;
}

constexpr RestartKind kKinds[] = {RestartKind::Hot, RestartKind::Warm, RestartKind::Cold};

} // namespace

std::string ReceivedMessage::Text() const
{
    if (!bytes.starts_with(kUbxSync1))
    {
        std::string_view line = bytes;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.remove_suffix(1);
        return std::string(line);
    }
    std::string text = "UBX";
    for (std::size_t i = 2; i + 2 < bytes.size(); ++i)
    {
        if (i == 4 || i == 5)
            continue; // the length says nothing the payload does not
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", static_cast<unsigned>(static_cast<std::uint8_t>(bytes[i])));
        text += hex;
    }
    return text;
}

CommandRecogniser::CommandRecogniser(std::optional<ReceiverFamily> family) : m_family(family) {}

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

std::optional<RestartKind> CommandRecogniser::RestartIn(std::string_view message) const
{
    if (!m_family || *m_family == ReceiverFamily::SiRF)
        return Recognise(message);
    if (*m_family == ReceiverFamily::UBlox)
    {
        // CFG-RST: what is cleared decides the kind, whatever the reset mode.
        if (!message.starts_with(kUbxSync1) || message.size() != kUbxFrame + 4 || message[2] != 0x06 ||
            message[3] != 0x04)
            return std::nullopt;
        for (const RestartKind kind : kKinds)
            if (message.substr(kUbxHeader, 2) == RestartCommand(*m_family, kind)->substr(kUbxHeader, 2))
                return kind;
        return std::nullopt;
    }
    if (!IsChecksumValid(message))
        return std::nullopt;
    const std::string_view body = message.substr(0, message.find('*'));
    for (const RestartKind kind : kKinds)
    {
        const std::string command = *RestartCommand(*m_family, kind);
        if (body == std::string_view(command).substr(0, command.find('*')))
            return kind;
    }
    return std::nullopt;
}

void CommandRecogniser::FeedUbx(char c, std::vector<ReceivedMessage>& messages)
{
    m_strUbx.push_back(c);
    if (m_strUbx.size() == 2 && c != kUbxSync2)
    {
        m_strUbx.clear();
        return;
    }
    if (m_strUbx.size() < kUbxHeader)
        return;
    const std::size_t length = UbxPayloadLength(m_strUbx);
    if (length > kMaxUbxPayload)
    {
        m_strUbx.clear();
        return;
    }
    if (m_strUbx.size() < kUbxFrame + length)
        return;
    // A damaged message is no message: its checksum must be the one UbxMessage computes.
    const std::string_view payload = std::string_view(m_strUbx).substr(kUbxHeader, length);
    if (UbxMessage(static_cast<std::uint8_t>(m_strUbx[2]), static_cast<std::uint8_t>(m_strUbx[3]), payload) ==
        m_strUbx)
        messages.push_back({m_strUbx, RestartIn(m_strUbx)});
    m_strUbx.clear();
}

std::vector<ReceivedMessage> CommandRecogniser::Feed(std::string_view bytes)
{
    std::vector<ReceivedMessage> messages;
    const bool bReadsUbx = m_family == ReceiverFamily::UBlox;
    for (const char c : bytes)
    {
        if (!m_strUbx.empty())
        {
            FeedUbx(c, messages);
            continue;
        }
        if (bReadsUbx && c == kUbxSync1)
        {
            Reset();
            m_strUbx.push_back(c);
            continue;
        }
        // A receiver resynchronises on every '$': bytes before it belong to no sentence.
        if (c == '$')
            Reset();
        if (!m_bOverlong)
            m_strLine.push_back(c);
        if (c == '\n')
        {
            if (!m_bOverlong && m_strLine.starts_with('$'))
                messages.push_back({m_strLine, RestartIn(m_strLine)});
            Reset();
        }
        else if (m_strLine.size() >= kMaxLine)
        {
            m_bOverlong = true;
            m_strLine.clear();
        }
    }
    return messages;
}

void CommandRecogniser::Reset()
{
    m_strLine.clear();
    m_bOverlong = false;
    m_strUbx.clear();
}
