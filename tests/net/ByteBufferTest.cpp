#include "net/ByteBuffer.h"

#include "support/StderrCapture.h"

#include <gtest/gtest.h>

using namespace Kovan;
typedef ByteBufferException E;

namespace {

#define EXPECT_BUFFER_ERROR(statement, code)                                                       \
    do {                                                                                           \
        try {                                                                                      \
            statement;                                                                             \
            ADD_FAILURE() << #statement " did not throw";                                          \
        } catch (const ByteBufferException& e) {                                                   \
            EXPECT_EQ(code, e.errorCode()) << #statement;                                          \
        }                                                                                          \
    } while (0)

// Opens the protected growth for tests, and counts what reaches the bulk writer.
class TestBuffer : public ByteBuffer {
public:
    using ByteBuffer::ByteBuffer;
    using ByteBuffer::lengthen;
    using ByteBuffer::put;

    ByteBuffer& put(const char* src, int offset, int length) override
    {
        ++bulkWrites;
        bulkBytes += length;
        return ByteBuffer::put(src, offset, length);
    }

    int bulkWrites = 0;
    int bulkBytes = 0;
};

std::string bytesOf(ByteBuffer& buffer, int from, int count)
{
    std::string out;
    for (int i = from; i < from + count; ++i)
        out += static_cast<char>(buffer.get(i));
    return out;
}

TEST(ByteBufferTest, NewBuffersAndBadSizes)
{
    char array[8] = {};
    ByteBuffer buffer(16);
    EXPECT_EQ(0, buffer.position());
    EXPECT_EQ(16, buffer.limit());
    EXPECT_EQ(16, buffer.capacity());
    EXPECT_EQ(ByteOrder::ORDER_BIG_ENDIAN, buffer.order());
    EXPECT_FALSE(buffer.isWrapped());
    EXPECT_BUFFER_ERROR(buffer.reset(), E::INVALID_MARK);
    const uint16 one = 1;
    EXPECT_EQ(*reinterpret_cast<const char*>(&one) == 1 ? ByteOrder::ORDER_LITTLE_ENDIAN
                                                        : ByteOrder::ORDER_BIG_ENDIAN,
        ByteOrder::nativeOrder());
    EXPECT_BUFFER_ERROR(ByteBuffer(-1), E::ILLEGAL_ARGUMENT);
    EXPECT_BUFFER_ERROR(ByteBuffer(-1, array), E::ILLEGAL_ARGUMENT);
    EXPECT_BUFFER_ERROR(ByteBuffer(array, -1, 8), E::INDEX_OUT_OF_BOUNDS);
    EXPECT_BUFFER_ERROR(ByteBuffer(array, 0, -1), E::INDEX_OUT_OF_BOUNDS);

    EXPECT_BUFFER_ERROR(buffer.wrap(array, 8, 8), E::INDEX_OUT_OF_BOUNDS);
    EXPECT_BUFFER_ERROR(buffer.wrap(array, 8, -1), E::INDEX_OUT_OF_BOUNDS);
    EXPECT_BUFFER_ERROR(buffer.wrap(array, -1, 0), E::INDEX_OUT_OF_BOUNDS);
    EXPECT_FALSE(buffer.isWrapped());
}

TEST(ByteBufferTest, WrappedStorageIsTheCallersArray)
{
    char array[8] = { 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h' };

    // The owned storage it had is freed (the leak checker would see it otherwise); the offset
    // of wrap only has to lie inside the array.
    ByteBuffer buffer(32);
    buffer.putInt(7).mark();
    buffer.order(ByteOrder::ORDER_LITTLE_ENDIAN);
    buffer.wrap(array, 8, 3);
    EXPECT_TRUE(buffer.isWrapped());
    EXPECT_EQ(8, buffer.capacity());
    EXPECT_EQ(0, buffer.position());
    EXPECT_EQ(ByteOrder::ORDER_BIG_ENDIAN, buffer.order());
    EXPECT_BUFFER_ERROR(buffer.reset(), E::INVALID_MARK);
    EXPECT_EQ('a', buffer.get());
    buffer.put('B');
    EXPECT_EQ('B', array[1]);

    // The offset constructor starts the storage inside the array.
    ByteBuffer window(array, 2, 4);
    EXPECT_EQ(4, window.capacity());
    EXPECT_EQ('c', window.get());
    window.put("XYZ", 3);
    EXPECT_EQ(std::string("aBcXYZgh"), std::string(array, 8));
    EXPECT_BUFFER_ERROR(window.put('!'), E::BUFFER_OVERFLOW);

    // A buffer without storage until wrap.
    ByteBuffer later;
    EXPECT_BUFFER_ERROR(later.get(), E::BUFFER_UNDERFLOW);
    later.wrap(array, 8, 0);
    EXPECT_EQ('a', later.get(0));
}

// The model test covers every bound, both orders and growth at random; these are the exact bytes
// and the edges it cannot see.
TEST(ByteBufferTest, MultiByteValuesFollowTheBufferOrder)
{
    ByteBuffer buffer(14);
    buffer.putInt(0x01020304).putShort(static_cast<short>(0xA1B2)).putInt64(0x0102030405060708LL);
    EXPECT_EQ(std::string("\x01\x02\x03\x04\xA1\xB2\x01\x02\x03\x04\x05\x06\x07\x08", 14),
        bytesOf(buffer, 0, 14));
    buffer.clear();
    buffer.order(ByteOrder::ORDER_LITTLE_ENDIAN);
    buffer.putInt(0x01020304).putShort(static_cast<short>(0xA1B2)).putInt64(-2);
    EXPECT_EQ(std::string("\x04\x03\x02\x01\xB2\xA1\xFE\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 14),
        bytesOf(buffer, 0, 14));

    EXPECT_EQ(0x04030201u, swapUint32(0x01020304u));
    EXPECT_EQ(0x0807060504030201ull, swapUint64(0x0102030405060708ull));
    EXPECT_EQ(static_cast<int64>(0xFEFFFFFFFFFFFFFFull), swapInt64(-2));

    // buffer() follows the position.
    const char* start = buffer.position(0).buffer();
    buffer.getShort();
    buffer.get();
    EXPECT_EQ(start + 3, buffer.buffer());
}

TEST(ByteBufferTest, WritersReachTheBulkWriterVirtuallyAndGrowthKeepsTheLimitAndMark)
{
    TestBuffer buffer(32);
    ByteBuffer source(3);
    source.put("xyz", 3).flip();
    buffer.putShort(1).putInt(2).putInt64(3).put("ab", 2).put(&source);
    buffer.putInt(20, 4).putShort(28, 5).putInt64(8, 6);
    EXPECT_EQ(8, buffer.bulkWrites);
    EXPECT_EQ(2 + 4 + 8 + 2 + 3 + 4 + 2 + 8, buffer.bulkBytes);

    TestBuffer small(4);
    small.put("abcd", 4).position(2).limit(3).mark();
    small.lengthen(5);
    EXPECT_EQ(9, small.capacity());
    EXPECT_EQ(9, small.limit());
    EXPECT_EQ("abc", bytesOf(small, 0, 3));
    EXPECT_EQ(2, small.position(8).reset().position());
    EXPECT_BUFFER_ERROR(small.lengthen(0x7FFFFFFF), E::ILLEGAL_ARGUMENT);
    EXPECT_EQ(9, small.capacity());
}

TEST(ByteBufferTest, ErrorTexts)
{
    const char* texts[] = { "Buffer overflow", "Buffer underflow", "Illegal argument",
        "Index out of bound", "Invalid mark", "Out of memory" };
    for (int code = E::BUFFER_OVERFLOW; code <= E::OUT_OF_MEMORY; ++code) {
        EXPECT_STREQ(texts[code], E(static_cast<E::ErrorCode>(code)).message());
        EXPECT_STREQ(texts[code], E::getMessage(static_cast<E::ErrorCode>(code)));
    }
    EXPECT_CHECK_FAILS(E::getMessage(static_cast<E::ErrorCode>(6)),
        "0 <= index && index <= OUT_OF_MEMORY",
        "static const char* Kovan::ByteBufferException::getMessage(ErrorCode)");
}

} // namespace
