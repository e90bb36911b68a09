#include "registry/Stream.h"

#include "RegistryFiles.h"
#include "support/StderrCapture.h"

#include <cstring>
#include <gtest/gtest.h>
#include <utility>

using namespace Kovan;
using namespace KovanTest;

namespace {

TEST(MemoryStreamDeathTest, TypedTransfersKeepTheFileLayoutMoveTheCursorAndStayInTheBlock)
{
    uint8 block[335] = {};
    MemoryStream stream(block, sizeof(block));
    const double minus = -2.5;
    EXPECT_TRUE(stream.writeInt16(-2));
    EXPECT_TRUE(stream.writeDoubleArray(&minus, 1));
    EXPECT_TRUE(stream.writeBool(true));
    EXPECT_TRUE(stream.writeFloat(1.0f));
    EXPECT_EQ(
        Bytes({ 0xFE, 0xFF, 0x00, 0x00, 0x04, 0xC0, 0, 0, 0, 0, 0x01, 0x00, 0x00, 0x80, 0x3F }),
        Bytes(block, block + 15));
    // More doubles than the stack copy they go out through, each with bits in both words.
    double ramp[40], back[40] = {};
    for (int i = 0; i < 40; ++i)
        ramp[i] = i * 0.1 - 1;
    EXPECT_TRUE(stream.writeDoubleArray(ramp, 40));
    EXPECT_EQ(sizeof(block), stream.offset());
    const uint8* last = reinterpret_cast<const uint8*>(&ramp[39]);
    EXPECT_EQ(Bytes({ last[4], last[5], last[6], last[7], last[0], last[1], last[2], last[3] }),
        Bytes(block + 327, block + 335))
        << "the last double's words";
    EXPECT_TRUE(stream.moveBy(-320));
    EXPECT_TRUE(stream.readDoubleArray(back, 40));
    EXPECT_EQ(0, memcmp(ramp, back, sizeof(ramp)));
    EXPECT_TRUE(stream.moveTo(1));
    EXPECT_TRUE(stream.clear(2));
    EXPECT_EQ(3u, stream.offset());
    EXPECT_EQ(Bytes({ 0xFE, 0, 0, 0, 0x04 }), Bytes(block, block + 5));

    // At the end, even a transfer of nothing breaks the bounds.
    const char* rule = "_offset < _bufferSize && _offset + size <= _bufferSize";
    uint8 out[8];
    stream.moveTo(335);
    EXPECT_CHECK_FAILS(stream.read(out, 0), rule, "read");
    EXPECT_CHECK_FAILS(stream.write(out, 0), rule, "write");
    EXPECT_CHECK_FAILS(stream.clear(0), rule, "clear");
    stream.moveTo(331);
    EXPECT_CHECK_FAILS(stream.read(out, 5), rule, "read");
    // A size that would wrap the sum around is still refused.
    EXPECT_CHECK_FAILS(stream.write(out, 0xFFFFFFFE), rule, "write");
}

// Fails every write after the first.
class FailingStream : public Stream {
public:
    bool good = true;
    std::string written;
    bool moveTo(int32) override { return true; }
    bool moveBy(int32) override { return true; }
    bool read(void*, uint32) override { return false; }
    bool write(const void* data, uint32 size) override
    {
        written.append(static_cast<const char*>(data), good ? size : 0);
        return std::exchange(good, false);
    }
};

TEST(StreamTest, ClearWritesZerosAndStopsAtTheFirstFailedWrite)
{
    FailingStream stream;
    EXPECT_FALSE(stream.clear(3));
    EXPECT_EQ(std::string(1, '\0'), stream.written);
    EXPECT_TRUE(stream.clear(0));
}

} // namespace
