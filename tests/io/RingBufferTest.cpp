#include "io/RingBuffer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::string_literals;

namespace
{

std::string Take(RingBuffer& ring, std::uint32_t length)
{
    std::string out(length, '\0');
    EXPECT_TRUE(ring.Read(out.data(), length));
    return out;
}

bool Put(RingBuffer& ring, const std::string& text)
{
    return ring.Write(text.data(), static_cast<std::uint32_t>(text.size()));
}

// Moves the read and write positions to `offset` in an empty ring.
void Advance(RingBuffer& ring, std::uint32_t offset)
{
    ASSERT_TRUE(Put(ring, std::string(offset, 'x')));
    ring.Discard(offset);
    ASSERT_EQ(ring.Count(), 0u);
}

std::string LineOfLength(std::uint32_t length, char fill = 'A')
{
    // The LF is the last of `length` bytes.
    std::string line(length - 2, fill);
    return line + "\r\n";
}

TEST(RingBuffer, StartsEmptyWithItsCapacity)
{
    RingBuffer ring;
    EXPECT_EQ(ring.Capacity(), 16384u);
    EXPECT_EQ(ring.Count(), 0u);
    EXPECT_FALSE(ring.FindLineEnd().has_value());
}

TEST(RingBuffer, ReadGivesBytesInOrder)
{
    RingBuffer ring(16);
    ASSERT_TRUE(Put(ring, "abcdef"));
    EXPECT_EQ(Take(ring, 2), "ab");
    ASSERT_TRUE(Put(ring, "gh"));
    EXPECT_EQ(Take(ring, 6), "cdefgh");
    EXPECT_EQ(ring.Count(), 0u);
}

TEST(RingBuffer, WriteAndReadAcrossTheEndWrapAndKeepOrder)
{
    RingBuffer ring(16);
    Advance(ring, 12);
    ASSERT_TRUE(Put(ring, "0123456789"));
    EXPECT_EQ(ring.Count(), 10u);
    char peeked[10];
    ASSERT_TRUE(ring.Peek(peeked, 10));
    EXPECT_EQ(std::string(peeked, 10), "0123456789");
    EXPECT_EQ(ring.Count(), 10u);
    EXPECT_EQ(Take(ring, 10), "0123456789");
}

TEST(RingBuffer, FillsExactlyToCapacityAndRefusesOneMore)
{
    RingBuffer ring(16);
    Advance(ring, 5);
    ASSERT_TRUE(Put(ring, std::string(10, 'a')));
    EXPECT_TRUE(Put(ring, std::string(6, 'b')));
    EXPECT_EQ(ring.Count(), 16u);
    EXPECT_EQ(ring.Free(), 0u);
    EXPECT_FALSE(Put(ring, "c"));
    EXPECT_EQ(ring.Count(), 16u);
    EXPECT_EQ(Take(ring, 16), std::string(10, 'a') + std::string(6, 'b'));
}

TEST(RingBuffer, OversizedWriteStoresNothing)
{
    RingBuffer ring(16);
    ASSERT_TRUE(Put(ring, "abc"));
    EXPECT_FALSE(Put(ring, std::string(14, 'z')));
    EXPECT_EQ(ring.Count(), 3u);
    EXPECT_EQ(Take(ring, 3), "abc");
}

TEST(RingBuffer, ReadPeekAndDiscardRefuseMoreThanHeld)
{
    RingBuffer ring(16);
    ASSERT_TRUE(Put(ring, "abc"));
    char out[4] = {'-', '-', '-', '-'};
    EXPECT_FALSE(ring.Read(out, 4));
    EXPECT_FALSE(ring.Peek(out, 4));
    EXPECT_EQ(out[0], '-');
    ring.Discard(4);
    EXPECT_EQ(ring.Count(), 3u);
    ring.Discard(1);
    EXPECT_EQ(Take(ring, 2), "bc");
}

TEST(RingBuffer, FindLineEndAfterTheWrapReportsOffsetNotIndex)
{
    RingBuffer ring(16);
    Advance(ring, 10);
    // Storage indexes 10..15 hold "abcdef", 0..2 hold "g\nh": the LF sits at index 1, offset 7.
    ASSERT_TRUE(Put(ring, "abcdefg\nh"));
    ASSERT_TRUE(ring.FindLineEnd().has_value());
    EXPECT_EQ(*ring.FindLineEnd(), 7u);
    std::string line;
    ASSERT_TRUE(ring.ReadLine(line));
    EXPECT_EQ(line, "abcdefg\n");
    EXPECT_EQ(ring.Count(), 1u);
}

TEST(RingBuffer, FindLineEndBeforeTheWrap)
{
    RingBuffer ring(16);
    Advance(ring, 10);
    ASSERT_TRUE(Put(ring, "ab\ncdefgh"));
    EXPECT_EQ(ring.FindLineEnd(), std::optional<std::uint32_t>(2u));
}

TEST(RingBuffer, ReadLineTakesLinesOneAtATimeInOrder)
{
    RingBuffer ring;
    ASSERT_TRUE(Put(ring, "$GPGGA,1*00\r\n$GPRMC,2*00\r\n$GPGSA"));
    std::string line;
    ASSERT_TRUE(ring.ReadLine(line));
    EXPECT_EQ(line, "$GPGGA,1*00\r\n");
    ASSERT_TRUE(ring.ReadLine(line));
    EXPECT_EQ(line, "$GPRMC,2*00\r\n");
    EXPECT_FALSE(ring.ReadLine(line));
    EXPECT_EQ(line, "$GPRMC,2*00\r\n");
    EXPECT_EQ(ring.Count(), 6u);
}

TEST(RingBuffer, PartialLineIsLeftUntouched)
{
    RingBuffer ring;
    ASSERT_TRUE(Put(ring, "$GPGGA,123519,4807.038,N"));
    std::string line = "unchanged";
    EXPECT_FALSE(ring.ReadLine(line));
    EXPECT_EQ(line, "unchanged");
    EXPECT_EQ(ring.Count(), 24u);
    ASSERT_TRUE(Put(ring, ",01131.000,E*47\r\n"));
    ASSERT_TRUE(ring.ReadLine(line));
    EXPECT_EQ(line, "$GPGGA,123519,4807.038,N,01131.000,E*47\r\n");
}

TEST(RingBuffer, BareLfLineIsDeliveredAsItIs)
{
    RingBuffer ring;
    ASSERT_TRUE(Put(ring, "\n$A*00\n"));
    std::string line;
    ASSERT_TRUE(ring.ReadLine(line));
    EXPECT_EQ(line, "\n");
    ASSERT_TRUE(ring.ReadLine(line));
    EXPECT_EQ(line, "$A*00\n");
}

TEST(RingBuffer, LineWithLfAtOffset1022IsDelivered)
{
    RingBuffer ring;
    Advance(ring, 16000); // and across the wrap
    const std::string longest = LineOfLength(1023);
    ASSERT_TRUE(Put(ring, longest + "next\r\n"));
    EXPECT_EQ(ring.FindLineEnd(), std::optional<std::uint32_t>(1022u));
    std::string line;
    ASSERT_TRUE(ring.ReadLine(line));
    EXPECT_EQ(line.size(), 1023u);
    EXPECT_EQ(line, longest);
    ASSERT_TRUE(ring.ReadLine(line));
    EXPECT_EQ(line, "next\r\n");
}

TEST(RingBuffer, LineWithLfAtOffset1023IsDroppedAndTheNextDelivered)
{
    RingBuffer ring;
    ASSERT_TRUE(Put(ring, LineOfLength(1024)));
    std::string line = "unchanged";
    EXPECT_FALSE(ring.ReadLine(line));
    EXPECT_EQ(line, "unchanged");
    EXPECT_EQ(ring.Count(), 0u);

    ASSERT_TRUE(Put(ring, LineOfLength(1024, 'B') + "$GPGSA,A,3*00\r\n"));
    ASSERT_TRUE(ring.ReadLine(line));
    EXPECT_EQ(line, "$GPGSA,A,3*00\r\n");
}

TEST(RingBuffer, OverLongLineWithoutLfIsDroppedAsItArrives)
{
    RingBuffer ring;
    std::string line;
    // 1022 bytes might still become a line; the 1023rd rules that out.
    ASSERT_TRUE(Put(ring, std::string(1022, 'x')));
    EXPECT_FALSE(ring.ReadLine(line));
    EXPECT_EQ(ring.Count(), 1022u);
    EXPECT_FALSE(ring.IsDiscardingLine());
    ASSERT_TRUE(Put(ring, "x"));
    EXPECT_FALSE(ring.ReadLine(line));
    EXPECT_EQ(ring.Count(), 0u);
    EXPECT_TRUE(ring.IsDiscardingLine());

    // The rest of that line, however long and however cut, never comes out.
    for (int i = 0; i < 40; ++i)
    {
        ASSERT_TRUE(Put(ring, std::string(1000, 'y')));
        EXPECT_FALSE(ring.ReadLine(line));
    }
    ASSERT_TRUE(Put(ring, "tail of the long one\r\n$GPRMC,1*00\r\n$GPGGA,2*00\r\n"));
    ASSERT_TRUE(ring.ReadLine(line));
    EXPECT_EQ(line, "$GPRMC,1*00\r\n");
    EXPECT_FALSE(ring.IsDiscardingLine());
    ASSERT_TRUE(ring.ReadLine(line));
    EXPECT_EQ(line, "$GPGGA,2*00\r\n");
    EXPECT_FALSE(ring.ReadLine(line));
}

TEST(RingBuffer, GarbageFillingTheRingNoLongerBlocksLaterLines)
{
    RingBuffer ring;
    std::string line;
    std::uint32_t refused = 0;
    for (int i = 0; i < 100; ++i)
    {
        if (!Put(ring, std::string(64, '\x7f')))
            ++refused;
        ring.ReadLine(line);
    }
    EXPECT_EQ(refused, 0u);
    ASSERT_TRUE(Put(ring, "\r\n$GPVTG,1*00\r\n"));
    ASSERT_TRUE(ring.ReadLine(line));
    EXPECT_EQ(line, "$GPVTG,1*00\r\n");
}

TEST(RingBuffer, NulInsideALineCutsTheTextButConsumesTheLine)
{
    RingBuffer ring;
    const std::string withNul = "$GPRMC,000346.03,A,4808\0\0\0 *1F\r\n$GPGGA*00\r\n"s;
    ASSERT_TRUE(Put(ring, withNul));
    std::string line;
    ASSERT_TRUE(ring.ReadLine(line));
    EXPECT_EQ(line, "$GPRMC,000346.03,A,4808");
    ASSERT_TRUE(ring.ReadLine(line));
    EXPECT_EQ(line, "$GPGGA*00\r\n");
    EXPECT_EQ(ring.Count(), 0u);
}

TEST(RingBuffer, LinesOfEveryLengthAroundTheWrap)
{
    // Every start position near the wrap and lengths either side of the limit.
    for (std::uint32_t start = 16384 - 1030; start < 16384; start += 7)
    {
        for (std::uint32_t length : {2u, 1022u, 1023u, 1024u})
        {
            RingBuffer ring;
            Advance(ring, start);
            ASSERT_TRUE(Put(ring, LineOfLength(length) + "ok\n"));
            std::string line;
            ASSERT_TRUE(ring.ReadLine(line)) << start << " " << length;
            if (length <= 1023)
            {
                EXPECT_EQ(line.size(), length);
                ASSERT_TRUE(ring.ReadLine(line));
            }
            EXPECT_EQ(line, "ok\n") << start << " " << length;
        }
    }
}

} // namespace
