// Line cutting of the receive ring under arbitrary input cut into arbitrary pieces: the lines
// must come out in order, never longer than the limit, and exactly as an independent cut of
// the whole stream at LF says, however the stream was split and however often it was drained.
// Pieces are as a serial read brings them (up to 64 bytes) or as a socket does (up to a
// datagram or segment of 1472 bytes, the payload of one Ethernet frame).
#include "io/RingBuffer.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace
{

std::vector<std::string> CutAtLf(const std::string& stream)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t lf; (lf = stream.find('\n', start)) != std::string::npos; start = lf + 1)
    {
        if (lf + 1 - start > RingBuffer::kMaxLineLength)
            continue;
        std::string line = stream.substr(start, lf + 1 - start);
        line.resize(std::min(line.size(), line.find('\0')));
        lines.push_back(line);
    }
    return lines;
}

void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    constexpr std::size_t kSerialPiece = 64;
    constexpr std::size_t kSocketPiece = 1472;
    // A small ring wraps often; it still holds a longest line plus a largest piece.
    RingBuffer ring(RingBuffer::kMaxLineLength + 1 + kSocketPiece + data[0] * 7u);
    std::size_t at = 1;

    std::string stream;
    std::vector<std::string> lines;
    auto take = [&](bool all)
    {
        std::string line;
        while (ring.ReadLine(line))
        {
            Check(line.size() <= RingBuffer::kMaxLineLength);
            lines.push_back(line);
            if (!all)
                return;
        }
    };

    while (at < size)
    {
        const std::uint8_t control = data[at++];
        std::size_t wanted = (control & 0x3f) % kSerialPiece + 1;
        if ((control & 0x40) && at + 2 <= size)
        {
            wanted = (data[at] | data[at + 1] << 8) % kSocketPiece + 1;
            at += 2;
        }
        const std::size_t piece = std::min<std::size_t>(wanted, size - at);
        if (ring.Free() < piece)
            take(true);
        Check(ring.Write(data + at, static_cast<std::uint32_t>(piece)));
        stream.append(reinterpret_cast<const char*>(data + at), piece);
        at += piece;
        take((control & 0x80) == 0);
    }
    take(true);

    Check(lines == CutAtLf(stream));
    return 0;
}
