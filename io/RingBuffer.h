#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// A fixed-capacity byte ring, one per direction of a serial port. Not locked: the owner holds
// the port lock around every call.
class RingBuffer
{
public:
    static constexpr std::uint32_t kDefaultCapacity = 0x4000;
    // Longest line ReadLine delivers, its LF included.
    static constexpr std::uint32_t kMaxLineLength = 1023;

    explicit RingBuffer(std::uint32_t capacity = kDefaultCapacity);

    RingBuffer(const RingBuffer&) = delete;
    RingBuffer& operator=(const RingBuffer&) = delete;

    // All or nothing: false, and nothing stored, when the bytes do not all fit.
    bool Write(const void* bytes, std::uint32_t length);
    bool Read(void* destination, std::uint32_t length);
    bool Peek(void* destination, std::uint32_t length) const;
    void Discard(std::uint32_t length);

    // Offset from the oldest held byte (0 = oldest) of the first LF.
    std::optional<std::uint32_t> FindLineEnd() const;

    // Takes the oldest complete line (up to and including its LF) into `line` and returns true.
    // The line is cut at its first NUL byte, although the whole line is consumed. A line longer
    // than kMaxLineLength is never delivered: it is dropped up to and including its LF (or, while
    // its LF has not come yet, as its bytes arrive), and the lines after it come out in order.
    // Returns false, leaving `line` unchanged, when no complete line is held.
    bool ReadLine(std::string& line);

    std::uint32_t Count() const { return m_nCount; }
    std::uint32_t Capacity() const { return m_nCapacity; }
    std::uint32_t Free() const { return m_nCapacity - m_nCount; }
    bool IsDiscardingLine() const { return m_bDiscardingLine; }

private:
    std::unique_ptr<std::uint8_t[]> m_pData;
    std::uint32_t m_nCapacity;
    std::uint32_t m_nCount = 0;
    std::uint32_t m_nReadPos = 0;
    std::uint32_t m_nWritePos = 0;
    // Set while the front of the ring is the rest of an over-long line whose LF has not come.
    bool m_bDiscardingLine = false;
};
