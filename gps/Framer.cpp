#include "gps/Framer.h"

#include <array>
#include <cstring>

namespace
{

constexpr std::uint8_t kUbxSync1 = 0xB5;
constexpr std::uint8_t kUbxSync2 = 0x62;
constexpr std::uint8_t kRtcm3Sync = 0xD3;
constexpr std::size_t kUbxHeader = 6;   // sync, class, id, length
constexpr std::size_t kUbxTrailer = 2;  // CK_A, CK_B
constexpr std::size_t kRtcm3Header = 3; // sync, length
constexpr std::size_t kRtcm3Trailer = 3;

constexpr std::array<std::uint32_t, 256> MakeCrc24qTable()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i)
    {
        std::uint32_t crc = i << 16;
        for (int bit = 0; bit < 8; ++bit)
        {
            crc <<= 1;
            if (crc & 0x1000000)
                crc ^= 0x1864CFB;
        }
        table[i] = crc & 0xFFFFFF;
    }
    return table;
}
constexpr auto kCrc24qTable = MakeCrc24qTable();

std::uint8_t Byte(std::string_view bytes, std::size_t at)
{
    return static_cast<std::uint8_t>(bytes[at]);
}

} // namespace

std::uint16_t UbxChecksum(std::string_view classToPayload)
{
    std::uint8_t a = 0;
    std::uint8_t b = 0;
    for (const char c : classToPayload)
    {
        a = static_cast<std::uint8_t>(a + static_cast<std::uint8_t>(c));
        b = static_cast<std::uint8_t>(b + a);
    }
    return static_cast<std::uint16_t>(a | (b << 8));
}

std::uint32_t Crc24q(std::string_view bytes)
{
    std::uint32_t crc = 0;
    for (const char c : bytes)
        crc = ((crc << 8) & 0xFFFFFF) ^ kCrc24qTable[((crc >> 16) ^ static_cast<std::uint8_t>(c)) & 0xFF];
    return crc;
}

std::uint8_t UbxClass(std::string_view frame)
{
    return Byte(frame, 2);
}

std::uint8_t UbxId(std::string_view frame)
{
    return Byte(frame, 3);
}

std::string_view UbxPayload(std::string_view frame)
{
    return frame.substr(kUbxHeader, frame.size() - kUbxHeader - kUbxTrailer);
}

std::string_view Rtcm3Payload(std::string_view frame)
{
    return frame.substr(kRtcm3Header, frame.size() - kRtcm3Header - kRtcm3Trailer);
}

std::size_t CaptureHeaderLength(std::string_view bytes)
{
    std::size_t at = 0;
    while (at < bytes.size() && bytes[at] == '#')
    {
        const std::size_t lf = bytes.find('\n', at);
        if (lf == std::string_view::npos)
            break;
        at = lf + 1;
    }
    return at;
}

void Framer::Feed(std::string_view bytes)
{
    // What was delivered or skipped is dropped once it is most of the buffer, so that the
    // buffer holds little more than the frame under way and what has not been looked at,
    // without moving a long frame's bytes down at every small read.
    if (m_nStart > 0 && m_nStart * 2 >= m_buffer.size())
    {
        m_buffer.erase(0, m_nStart);
        m_nAt -= m_nStart;
        m_nStart = 0;
    }
    m_buffer.append(bytes);
}

void Framer::Finish()
{
    m_bFinished = true;
}

Framer::Mode Framer::AfterLine() const
{
    // In a stream that carries binary, a line starts at its '$' or '!', and what comes between
    // lines is not glued to the front of the next.
    return m_bBinarySeen ? Mode::Junk : Mode::Text;
}

void Framer::Skip(std::size_t count)
{
    m_nSkipped += count;
    m_nStart += count;
}

namespace
{
enum class Check : std::uint8_t
{
    None,
    Frame,
    NeedMore
};

// Is there a verified binary frame at the start of `held`? Its length in `length` when there is.
Check CheckBinary(std::string_view held, std::size_t& length)
{
    if (held.size() < 2)
        return Check::NeedMore;
    std::size_t payload = 0;
    std::size_t header = 0;
    std::size_t trailer = 0;
    if (Byte(held, 0) == kUbxSync1)
    {
        if (Byte(held, 1) != kUbxSync2)
            return Check::None;
        if (held.size() < kUbxHeader)
            return Check::NeedMore;
        payload = Byte(held, 4) | (Byte(held, 5) << 8);
        if (payload > Framer::kMaxUbxPayload)
            return Check::None;
        header = kUbxHeader;
        trailer = kUbxTrailer;
    }
    else if (Byte(held, 0) == kRtcm3Sync)
    {
        // Six reserved bits, zero in every RTCM 3 frame, then the length's top two bits.
        if ((Byte(held, 1) & 0xFC) != 0)
            return Check::None;
        if (held.size() < kRtcm3Header)
            return Check::NeedMore;
        payload = ((Byte(held, 1) & 0x03) << 8) | Byte(held, 2);
        header = kRtcm3Header;
        trailer = kRtcm3Trailer;
    }
    else
        return Check::None;
    length = header + payload + trailer;
    if (held.size() < length)
        return Check::NeedMore;
    if (header == kUbxHeader)
    {
        const std::uint16_t sum = UbxChecksum(held.substr(2, length - 4));
        const bool valid = Byte(held, length - 2) == (sum & 0xFF) && Byte(held, length - 1) == (sum >> 8);
        return valid ? Check::Frame : Check::None;
    }
    const std::uint32_t crc = Crc24q(held.substr(0, length - 3));
    const std::uint32_t sent =
        (Byte(held, length - 3) << 16) | (Byte(held, length - 2) << 8) | Byte(held, length - 1);
    return crc == sent ? Check::Frame : Check::None;
}
} // namespace

std::size_t BinaryFrameLength(std::string_view bytes)
{
    std::size_t length = 0;
    return CheckBinary(bytes, length) == Check::Frame ? length : 0;
}

bool Framer::Next(Frame& frame)
{
    const char* data = m_buffer.data();
    const std::size_t end = m_buffer.size();
    while (m_nAt < end)
    {
        const auto c = static_cast<std::uint8_t>(data[m_nAt]);
        if (c == kUbxSync1 || c == kRtcm3Sync)
        {
            std::size_t length = 0;
            Check found = CheckBinary(std::string_view(m_buffer).substr(m_nAt), length);
            if (found == Check::NeedMore)
            {
                if (!m_bFinished)
                    return false;
                found = Check::None;
            }
            if (found == Check::Frame)
            {
                // A frame whose checksum holds wins over the line it interrupts.
                Skip(m_nAt - m_nStart);
                frame.kind = c == kUbxSync1 ? FrameKind::Ubx : FrameKind::Rtcm3;
                frame.bytes.assign(data + m_nAt, length);
                m_nAt += length;
                m_nStart = m_nAt;
                m_mode = Mode::Junk;
                m_bBinarySeen = true;
                return true;
            }
            // No frame: at the start of a line it is junk, inside one it is the line's text.
            if (m_mode == Mode::Text && m_nAt == m_nStart)
                m_mode = Mode::Junk;
        }

        switch (m_mode)
        {
        case Mode::Junk:
            if (c == '$' || c == '!')
            {
                m_mode = Mode::Text;
                ++m_nAt;
            }
            else
            {
                ++m_nAt;
                Skip(1);
            }
            break;
        case Mode::Discarding:
            ++m_nAt;
            Skip(1);
            if (c == '\n')
                m_mode = AfterLine();
            break;
        case Mode::Text:
        {
            // Plain text up to the next sync byte or LF is taken in one step.
            std::size_t stop = m_nAt + 1;
            while (stop < end && data[stop - 1] != '\n')
            {
                const auto next = static_cast<std::uint8_t>(data[stop]);
                if (next == kUbxSync1 || next == kRtcm3Sync || stop - m_nStart >= kMaxLineLength)
                    break;
                ++stop;
            }
            m_nAt = stop;
            const std::size_t length = m_nAt - m_nStart;
            if (data[m_nAt - 1] == '\n')
            {
                const std::size_t nul = std::string_view(data + m_nStart, length).find('\0');
                frame.kind = FrameKind::Nmea;
                frame.bytes.assign(data + m_nStart, nul == std::string_view::npos ? length : nul);
                m_nStart = m_nAt;
                m_mode = AfterLine();
                return true;
            }
            if (length >= kMaxLineLength)
            {
                // No LF within the longest line: the line can no longer be delivered.
                Skip(length);
                m_mode = Mode::Discarding;
            }
            break;
        }
        }
    }
    return false;
}
