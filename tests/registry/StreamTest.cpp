#include "registry/Stream.h"

#include "RegistryFiles.h"
#include "support/StderrCapture.h"

#include "registry/StdFile.h"

#include <gtest/gtest.h>

using namespace Kovan;
using namespace KovanTest;

namespace {

typedef ScratchFileTest StdFileTest;

TEST_F(StdFileTest, OpenCreateShortReadsAndTheEndOfTheFile)
{
    StdFile file;
    EXPECT_FALSE(file.open(_name.c_str(), 0));
    EXPECT_FALSE(file.isOpen());
    writeBytes(_name, Bytes(10, 0xAA));
    ASSERT_TRUE(file.create(_name.c_str()));
    EXPECT_EQ(0u, readBytes(_name).size());
    file.close();
    file.close();
    EXPECT_FALSE(file.isOpen());

    writeBytes(_name, { 0x11, 0x22 });
    ASSERT_TRUE(file.open(_name.c_str(), 0));
    uint32 v = 0xFFFFFFFF;
    EXPECT_TRUE(file.readUint32(&v));
    EXPECT_EQ(0xFFFF2211u, v);
    EXPECT_FALSE(file.readUint32(&v));
    // A read-only descriptor refuses writes.
    EXPECT_FALSE(file.writeUint8(1));
    EXPECT_TRUE(file.seek(-1, 2));
    EXPECT_EQ(1u, file.position());
}

// The same typed writes through a file and through a memory block land in the same layout.
template <typename Out> bool writeSample(Out& out)
{
    const double minus = -2.5;
    return out.writeInt16(-2) && out.writeInt64(1) && out.writeDoubleArray(&minus, 1)
        && out.writeDouble(1.0) && out.writeBool(true) && out.writeFloat(1.0f);
}

const Bytes SAMPLE = { 0xFE, 0xFF, 1, 0, 0, 0, 0, 0, 0, 0, // -2, 1
    0x00, 0x00, 0x04, 0xC0, 0, 0, 0, 0, 0x00, 0x00, 0xF0, 0x3F, 0, 0, 0, 0, // -2.5, 1.0
    0x01, 0x00, 0x00, 0x80, 0x3F }; // true, 1.0f

TEST_F(StdFileTest, ValuesLandInFileLayout)
{
    StdFile file;
    ASSERT_TRUE(file.create(_name.c_str()));
    EXPECT_TRUE(writeSample(file));
    file.close();
    EXPECT_EQ(SAMPLE, readBytes(_name));
}

TEST(MemoryStreamDeathTest, TransfersMoveTheCursorKeepTheTypedLayoutAndStayInsideTheBlock)
{
    uint8 block[31] = {};
    MemoryStream stream(block, sizeof(block));
    EXPECT_TRUE(writeSample(stream));
    EXPECT_EQ(SAMPLE, Bytes(block, block + sizeof(block)));
    EXPECT_TRUE(stream.moveTo(10));
    double d = 0;
    EXPECT_TRUE(stream.readDouble(&d));
    EXPECT_EQ(-2.5, d);
    EXPECT_TRUE(stream.moveBy(-8));
    EXPECT_TRUE(stream.clear(8));
    EXPECT_EQ(0, block[12]);

    // At the end, even a transfer of nothing breaks the bounds.
    const char* rule = "_offset < _bufferSize && _offset + size <= _bufferSize";
    uint8 out[8];
    stream.moveTo(31);
    EXPECT_CHECK_FAILS(stream.read(out, 0), rule, "read");
    EXPECT_CHECK_FAILS(stream.write(out, 0), rule, "write");
    EXPECT_CHECK_FAILS(stream.clear(0), rule, "clear");
    EXPECT_TRUE(stream.moveTo(100));
    EXPECT_CHECK_FAILS(stream.read(out, 1), rule, "read");
    // A size that would wrap the sum around is still refused.
    stream.moveTo(4);
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

TEST(StreamTest, ClearStopsAtTheFirstFailedWrite)
{
    FailingStream stream;
    EXPECT_FALSE(stream.clear(3));
    EXPECT_EQ(std::string(1, '\0'), stream.written);
    EXPECT_TRUE(stream.clear(0));
}

} // namespace
