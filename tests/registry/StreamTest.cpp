#include "registry/Stream.h"

#include "RegistryFiles.h"
#include "support/StderrCapture.h"

#include <gtest/gtest.h>
#include <utility>

using namespace Kovan;
using namespace KovanTest;

namespace {

TEST(MemoryStreamDeathTest, TransfersMoveTheCursorAndStayInsideTheBlock)
{
    uint8 block[12] = {};
    MemoryStream stream(block, sizeof(block));
    EXPECT_TRUE(stream.writeInt16(-2));
    EXPECT_TRUE(stream.writeUint32(0x01020304));
    EXPECT_EQ(6u, stream.offset());
    EXPECT_EQ(Bytes({ 0xFE, 0xFF, 4, 3, 2, 1 }), Bytes(block, block + 6));
    EXPECT_TRUE(stream.moveBy(-4));
    uint32 v = 0;
    EXPECT_TRUE(stream.readUint32(&v));
    EXPECT_EQ(0x01020304u, v);
    EXPECT_TRUE(stream.moveTo(1));
    EXPECT_TRUE(stream.clear(2));
    EXPECT_EQ(3u, stream.offset());
    EXPECT_EQ(Bytes({ 0xFE, 0, 0, 3 }), Bytes(block, block + 4));

    // At the end, even a transfer of nothing breaks the bounds.
    const char* rule = "_offset < _bufferSize && _offset + size <= _bufferSize";
    uint8 out[8];
    stream.moveTo(12);
    EXPECT_CHECK_FAILS(stream.read(out, 0), rule, "read");
    EXPECT_CHECK_FAILS(stream.write(out, 0), rule, "write");
    EXPECT_CHECK_FAILS(stream.clear(0), rule, "clear");
    stream.moveTo(8);
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
