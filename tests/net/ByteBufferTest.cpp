// The edges the model test (ByteBufferModelTest) cannot see: construction, wrapping, the virtual
// writers, the swap helpers and the error texts.
#include "net/ByteBuffer.h"

#include "support/StderrCapture.h"

#include <functional>
#include <gtest/gtest.h>

using namespace Kovan;
typedef ByteBufferException E;

namespace {

// The error code `f` throws, -1 for none.
int errorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const ByteBufferException& e) {
        return e.errorCode();
    }
    return -1;
}

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

TEST(ByteBufferTest, BadSizesAndWrappedStorage)
{
    char array[8] = { 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h' };
    EXPECT_EQ(E::ILLEGAL_ARGUMENT, errorOf([] { ByteBuffer(-1); }));
    EXPECT_EQ(E::ILLEGAL_ARGUMENT, errorOf([&] { ByteBuffer(-1, array); }));
    EXPECT_EQ(E::INDEX_OUT_OF_BOUNDS, errorOf([&] { ByteBuffer(array, -1, 8); }));
    EXPECT_EQ(E::INDEX_OUT_OF_BOUNDS, errorOf([&] { ByteBuffer(array, 0, -1); }));

    // Wrapping frees the owned storage (the leak checker would see it otherwise) and starts
    // afresh; the offset only has to lie inside the array.
    ByteBuffer buffer(32);
    for (auto bad : { std::make_pair(8, 8), std::make_pair(8, -1), std::make_pair(-1, 0) })
        EXPECT_EQ(
            E::INDEX_OUT_OF_BOUNDS, errorOf([&] { buffer.wrap(array, bad.first, bad.second); }));
    EXPECT_FALSE(buffer.isWrapped());
    buffer.putInt(7).mark();
    buffer.order(ByteOrder::ORDER_LITTLE_ENDIAN);
    buffer.wrap(array, 8, 3);
    EXPECT_TRUE(buffer.isWrapped());
    EXPECT_EQ(8, buffer.capacity());
    EXPECT_EQ(0, buffer.position());
    EXPECT_EQ(ByteOrder::ORDER_BIG_ENDIAN, buffer.order());
    EXPECT_EQ(E::INVALID_MARK, errorOf([&] { buffer.reset(); }));
    EXPECT_EQ('a', buffer.get());
    buffer.put('B');
    EXPECT_EQ('B', array[1]);
    EXPECT_EQ(array + 2, buffer.buffer()); // follows the position

    // The offset constructor starts the storage inside the array.
    ByteBuffer window(array, 2, 4);
    EXPECT_EQ(4, window.capacity());
    EXPECT_EQ('c', window.get());
    window.put("XYZ", 3);
    EXPECT_EQ(std::string("aBcXYZgh"), std::string(array, 8));
    EXPECT_EQ(E::BUFFER_OVERFLOW, errorOf([&] { window.put('!'); }));

    // A buffer without storage until wrap.
    ByteBuffer later;
    EXPECT_EQ(E::BUFFER_UNDERFLOW, errorOf([&] { later.get(); }));
    later.wrap(array, 8, 0);
    EXPECT_EQ('a', later.get(0));
}

TEST(ByteBufferTest, WritersReachTheBulkWriterVirtuallyAndGrowthIsBounded)
{
    TestBuffer buffer(32);
    ByteBuffer source(3);
    source.put("xyz", 3).flip();
    buffer.putShort(1).putInt(2).putInt64(3).put("ab", 2).put(&source);
    buffer.putInt(20, 4).putShort(28, 5).putInt64(8, 6);
    EXPECT_EQ(8, buffer.bulkWrites);
    EXPECT_EQ(2 + 4 + 8 + 2 + 3 + 4 + 2 + 8, buffer.bulkBytes);
    EXPECT_EQ(E::ILLEGAL_ARGUMENT, errorOf([&] { buffer.lengthen(0x7FFFFFFF); }));
    EXPECT_EQ(32, buffer.capacity());
}

TEST(ByteBufferTest, ByteOrderHelpersAndErrorTexts)
{
    const uint16 one = 1;
    EXPECT_EQ(*reinterpret_cast<const char*>(&one) == 1 ? ByteOrder::ORDER_LITTLE_ENDIAN
                                                        : ByteOrder::ORDER_BIG_ENDIAN,
        ByteOrder::nativeOrder());
    EXPECT_EQ(0x04030201u, swapUint32(0x01020304u));
    EXPECT_EQ(0x0807060504030201ull, swapUint64(0x0102030405060708ull));
    EXPECT_EQ(static_cast<int64>(0xFEFFFFFFFFFFFFFFull), swapInt64(-2));

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
