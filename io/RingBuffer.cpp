#include "io/RingBuffer.h"

#include <algorithm>
#include <cstring>

RingBuffer::RingBuffer(std::uint32_t capacity)
    : m_pData(std::make_unique<std::uint8_t[]>(capacity)), m_nCapacity(capacity)
{
}

bool RingBuffer::Write(const void* bytes, std::uint32_t length)
{
    if (length > m_nCapacity - m_nCount)
        return false;
    const auto* src = static_cast<const std::uint8_t*>(bytes);
    const std::uint32_t first = std::min(length, m_nCapacity - m_nWritePos);
    if (first > 0)
        std::memcpy(m_pData.get() + m_nWritePos, src, first);
    if (length > first)
        std::memcpy(m_pData.get(), src + first, length - first);
    m_nWritePos = (m_nWritePos + length) % m_nCapacity;
    m_nCount += length;
    return true;
}

bool RingBuffer::Peek(void* destination, std::uint32_t length) const
{
    if (length > m_nCount)
        return false;
    auto* dst = static_cast<std::uint8_t*>(destination);
    const std::uint32_t first = std::min(length, m_nCapacity - m_nReadPos);
    if (first > 0)
        std::memcpy(dst, m_pData.get() + m_nReadPos, first);
    if (length > first)
        std::memcpy(dst + first, m_pData.get(), length - first);
    return true;
}

bool RingBuffer::Read(void* destination, std::uint32_t length)
{
    if (!Peek(destination, length))
        return false;
    Discard(length);
    return true;
}

void RingBuffer::Discard(std::uint32_t length)
{
    if (length > m_nCount)
        return;
    m_nReadPos = (m_nReadPos + length) % m_nCapacity;
    m_nCount -= length;
}

std::optional<std::uint32_t> RingBuffer::FindLineEnd() const
{
    // The held bytes are at most two runs: up to the end of the storage, then from index 0.
    const std::uint32_t first = std::min(m_nCount, m_nCapacity - m_nReadPos);
    const std::uint8_t* base = m_pData.get();
    if (const void* hit = std::memchr(base + m_nReadPos, '\n', first))
        return static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(hit) -
                                          (base + m_nReadPos));
    if (const void* hit = std::memchr(base, '\n', m_nCount - first))
        return first + static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(hit) - base);
    return std::nullopt;
}

bool RingBuffer::ReadLine(std::string& line)
{
    // Without dropping over-long lines, bytes with no LF in their first kMaxLineLength would
    // hold back every later line and end by filling the ring, after which all input is lost.
    for (;;)
    {
        const std::optional<std::uint32_t> end = FindLineEnd();
        if (!end)
        {
            if (m_bDiscardingLine || m_nCount >= kMaxLineLength)
            {
                // Whatever is held belongs to a line that can no longer be delivered.
                Discard(m_nCount);
                m_bDiscardingLine = true;
            }
            return false;
        }
        const std::uint32_t length = *end + 1;
        if (m_bDiscardingLine || length > kMaxLineLength)
        {
            Discard(length);
            m_bDiscardingLine = false;
            continue;
        }
        char buffer[kMaxLineLength + 1];
        Read(buffer, length);
        buffer[length] = '\0';
        line.assign(buffer);
        return true;
    }
}
