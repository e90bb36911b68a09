#include "registry/Stream.h"

#include <gtest/gtest.h>

using namespace Kovan;

namespace {

TEST(MemoryStreamDeathTest, TypedTransfersKeepTheFileLayoutMoveTheCursorAndStayInTheBlock)
{
    uint8 block[23] = {};
    MemoryStream stream(block, sizeof(block));
    const double two[2] = { -2.5, 1.0 };
    double back[2] = {};
    EXPECT_TRUE(stream.writeInt16(-2) && stream.writeDoubleArray(two, 2) && stream.writeBool(true)
        && stream.writeFloat(1.0f));
    EXPECT_EQ(std::vector<uint8>({ 0xFE, 0xFF, 0, 0, 0x04, 0xC0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F, 0, 0,
                  0, 0, 1, 0, 0, 0x80, 0x3F }),
        std::vector<uint8>(block, block + sizeof(block)));
    EXPECT_TRUE(stream.moveBy(-21) && stream.readDoubleArray(back, 2));
    EXPECT_EQ(std::vector<double>(two, two + 2), std::vector<double>(back, back + 2));
    EXPECT_TRUE(stream.moveTo(1) && stream.clear(2));
    EXPECT_EQ(3u, stream.offset());
    EXPECT_EQ(std::vector<uint8>({ 0xFE, 0, 0, 0, 0x04 }), std::vector<uint8>(block, block + 5));

    // At the end even nothing is out of bounds; so is a size that wraps the sum around.
    stream.moveTo(sizeof(block));
    EXPECT_DEATH(stream.read(back, 0), "\\] read\n");
    EXPECT_DEATH(stream.clear(0), "\\] clear\n");
    stream.moveTo(19);
    EXPECT_DEATH(stream.write(back, 0xFFFFFFFE), "\\] write\n");
}

TEST(StreamTest, ClearWritesZerosOneAtATimeAndStopsAtTheFirstFailedWrite)
{
    struct TwoWrites : public Stream {
        int writes = 0;
        bool moveTo(int32) override { return true; }
        bool moveBy(int32) override { return true; }
        bool read(void*, uint32) override { return false; }
        bool write(const void* data, uint32 size) override
        {
            return writes++ < 2 && 1 == size && 0 == *static_cast<const uint8*>(data);
        }
    } stream;
    EXPECT_TRUE(stream.clear(0));
    EXPECT_TRUE(stream.clear(2));
    EXPECT_EQ(2, stream.writes);
    EXPECT_FALSE(stream.clear(3));
    EXPECT_EQ(3, stream.writes);
}

} // namespace
