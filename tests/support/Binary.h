#pragma once

#include "gps/Framer.h"

#include <cstdint>
#include <string>
#include <string_view>

// Builds UBX and RTCM3 frames and their payloads for tests.

// A whole UBX frame around a payload, with its checksum.
inline std::string UbxFrame(std::uint8_t cls, std::uint8_t id, std::string_view payload)
{
    std::string body;
    body += static_cast<char>(cls);
    body += static_cast<char>(id);
    body += static_cast<char>(payload.size() & 0xFF);
    body += static_cast<char>(payload.size() >> 8);
    body += payload;
    const std::uint16_t sum = UbxChecksum(body);
    return "\xB5\x62" + body + static_cast<char>(sum & 0xFF) + static_cast<char>(sum >> 8);
}

// A whole RTCM3 frame around a payload, with its CRC-24Q.
inline std::string Rtcm3Frame(std::string_view payload)
{
    std::string frame;
    frame += '\xD3';
    frame += static_cast<char>((payload.size() >> 8) & 0x03);
    frame += static_cast<char>(payload.size() & 0xFF);
    frame += payload;
    const std::uint32_t crc = Crc24q(frame);
    frame += static_cast<char>(crc >> 16);
    frame += static_cast<char>(crc >> 8);
    frame += static_cast<char>(crc);
    return frame;
}

// A little-endian payload written field by field at given offsets.
class Payload
{
public:
    explicit Payload(std::size_t size) : m_bytes(size, '\0') {}

    Payload& U1(std::size_t at, std::uint32_t value) { return Put(at, value, 1); }
    Payload& U2(std::size_t at, std::uint32_t value) { return Put(at, value, 2); }
    Payload& U4(std::size_t at, std::uint32_t value) { return Put(at, value, 4); }
    Payload& I1(std::size_t at, std::int32_t value) { return Put(at, static_cast<std::uint32_t>(value), 1); }
    Payload& I2(std::size_t at, std::int32_t value) { return Put(at, static_cast<std::uint32_t>(value), 2); }
    Payload& I4(std::size_t at, std::int32_t value) { return Put(at, static_cast<std::uint32_t>(value), 4); }
    Payload& Text(std::size_t at, std::string_view text)
    {
        m_bytes.replace(at, text.size(), text);
        return *this;
    }

    const std::string& Bytes() const { return m_bytes; }
    operator std::string_view() const { return m_bytes; }

private:
    Payload& Put(std::size_t at, std::uint32_t value, int size)
    {
        for (int i = 0; i < size; ++i)
            m_bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
        return *this;
    }

    std::string m_bytes;
};
