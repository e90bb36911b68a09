// Byte orders, bounds and growth of ByteBuffer; every failure is its exception's code, and where
// the position is left after it is part of the contract.
#include "net/ByteBuffer.h"

#include <climits>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <malloc.h>
#include <string>
#include <sys/resource.h>

using namespace Kovan;
typedef ByteBufferException E;
const int NO_ERROR = -1;

static int errorOf(const std::function<void()>& f)
try {
    f();
    return NO_ERROR;
} catch (const ByteBufferException& e) {
    return e.errorCode();
}

// Growth opened for the test, and a count of what reaches the virtual bulk writer.
struct GrowingBuffer : ByteBuffer {
    using ByteBuffer::ByteBuffer;
    using ByteBuffer::lengthen;
    using ByteBuffer::put;
    ByteBuffer& put(const char* src, int offset, int length) override
    {
        ByteBuffer::put(src, offset, length);
        bulkBytes += length; // when it succeeded
        return *this;
    }
    int bulkBytes = 0;
};

TEST(ByteBufferTest, ValuesTravelInTheBuffersOrderAndReadBackWithTheirSign)
{
    // A char, then a short, an int and an int64 with their top bits set, at 0, 1, 3 and 7.
    const std::string bytes[] = { "\x81\x81\x82\x83\x84\x85\x86\x87\x88\x89\x8A\x8B\x8C\x8D\x8E",
        "\x81\x82\x81\x86\x85\x84\x83\x8E\x8D\x8C\x8B\x8A\x89\x88\x87" };
    const int16 s = int16(0x8182);
    const int32 i = int32(0x83848586);
    const int64 l = int64(0x8788898A8B8C8D8EULL);
    typedef std::tuple<char, int16, int32, int64, int> Values; // braces: read in order
    char array[20] = {};
    GrowingBuffer owned(16), first(16, array), second(array, 4, 16);
    for (GrowingBuffer* b : { &owned, &first, &second }) {
        for (const bool big : { true, false }) {
            SCOPED_TRACE(std::string(big ? "big" : "little") + (b == &owned ? " owned" : ""));
            const std::string& want = bytes[big ? 0 : 1];
            b->clear().order(big ? ByteOrder::ORDER_BIG_ENDIAN : ByteOrder::ORDER_LITTLE_ENDIAN);
            b->bulkBytes = 0;
            b->put('\x81').putShort(s).putInt(i).putInt64(l);
            const char* start = b->buffer() - b->position();
            EXPECT_EQ(want, std::string(start, 15));
            EXPECT_EQ(14, b->bulkBytes) << "multi-byte writes go through the bulk writer";
            EXPECT_EQ(b == &owned ? start : array + (b == &second ? 4 : 0), start) << "not wrapped";
            EXPECT_EQ(Values('\x81', s, i, l, 15),
                (Values {
                    b->get(0), b->getShort(1), b->getInt(3), b->getInt64(7), b->position() }));
            b->flip();
            EXPECT_EQ(Values('\x81', s, i, l, 15),
                (Values { b->get(), b->getShort(), b->getInt(), b->getInt64(), b->position() }));
            memset(b->buffer() - 15, 0, 15);
            b->put(0, '\x81').putShort(1, s).putInt(3, i).putInt64(7, l);
            EXPECT_EQ(want, std::string(start, 15));
            EXPECT_EQ(std::make_pair(15, 28), std::make_pair(b->position(), b->bulkBytes));
        }
    }
    EXPECT_EQ(E::ILLEGAL_ARGUMENT, errorOf([&] { owned.order(nullptr); }));
}

TEST(ByteBufferTest, EachAccessKeepsToTheLimitAndLeavesThePositionWhereTheRulesSay)
{
    // Capacity 16 and limit 12; the row's position, the operation, its error and the position
    // after it. An absolute multi-byte access moves to the index first and stays there when
    // the value does not fit; single bytes and short reads check the index against the limit.
    GrowingBuffer b(16);
    char data[16] = "abcdefghijklmno", out[16] = {};
    ByteBuffer source(data, 0, 16);
    const struct {
        int position;
        std::function<void()> op;
        int error, after;
    } rows[] = { { 4, [&] { b.get(11); }, NO_ERROR, 4 },
        { 4, [&] { b.get(12); }, E::INDEX_OUT_OF_BOUNDS, 4 },
        { 4, [&] { b.get(-1); }, E::INDEX_OUT_OF_BOUNDS, 4 },
        { 4, [&] { b.put(11, 'x'); }, NO_ERROR, 4 },
        { 4, [&] { b.put(12, 'x'); }, E::INDEX_OUT_OF_BOUNDS, 4 },
        { 4, [&] { b.put(-1, 'x'); }, E::INDEX_OUT_OF_BOUNDS, 4 },
        { 4, [&] { b.getShort(10); }, NO_ERROR, 4 },
        { 4, [&] { b.getShort(11); }, E::BUFFER_UNDERFLOW, 11 },
        { 4, [&] { b.getShort(12); }, E::INDEX_OUT_OF_BOUNDS, 4 },
        { 4, [&] { b.getShort(-1); }, E::INDEX_OUT_OF_BOUNDS, 4 },
        { 4, [&] { b.putShort(10, 1); }, NO_ERROR, 4 },
        { 4, [&] { b.putShort(12, 1); }, E::BUFFER_OVERFLOW, 12 },
        { 4, [&] { b.putShort(13, 1); }, E::ILLEGAL_ARGUMENT, 4 },
        { 4, [&] { b.putShort(-1, 1); }, E::ILLEGAL_ARGUMENT, 4 },
        { 4, [&] { b.getInt(8); }, NO_ERROR, 4 },
        { 4, [&] { b.getInt(9); }, E::BUFFER_UNDERFLOW, 9 },
        { 4, [&] { b.getInt(13); }, E::ILLEGAL_ARGUMENT, 4 },
        { 4, [&] { b.putInt(8, 1); }, NO_ERROR, 4 },
        { 4, [&] { b.putInt(9, 1); }, E::BUFFER_OVERFLOW, 9 },
        { 4, [&] { b.getInt64(4); }, NO_ERROR, 4 },
        { 4, [&] { b.getInt64(5); }, E::BUFFER_UNDERFLOW, 5 },
        { 4, [&] { b.getInt64(-1); }, E::ILLEGAL_ARGUMENT, 4 },
        { 4, [&] { b.putInt64(4, 1); }, NO_ERROR, 4 },
        { 4, [&] { b.putInt64(5, 1); }, E::BUFFER_OVERFLOW, 5 },
        { 11, [&] { b.get(); }, NO_ERROR, 12 }, { 12, [&] { b.get(); }, E::BUFFER_UNDERFLOW, 12 },
        { 11, [&] { b.put('x'); }, NO_ERROR, 12 },
        { 12, [&] { b.put('x'); }, E::BUFFER_OVERFLOW, 12 },
        { 10, [&] { b.getShort(); }, NO_ERROR, 12 },
        { 11, [&] { b.putShort(1); }, E::BUFFER_OVERFLOW, 11 },
        { 8, [&] { b.putInt(1); }, NO_ERROR, 12 },
        { 9, [&] { b.getInt(); }, E::BUFFER_UNDERFLOW, 9 },
        { 9, [&] { b.putInt(1); }, E::BUFFER_OVERFLOW, 9 },
        { 4, [&] { b.putInt64(1); }, NO_ERROR, 12 },
        { 5, [&] { b.getInt64(); }, E::BUFFER_UNDERFLOW, 5 },
        { 5, [&] { b.putInt64(1); }, E::BUFFER_OVERFLOW, 5 },
        { 4, [&] { b.get(out, 8); }, NO_ERROR, 12 },
        { 4, [&] { b.get(out, 9); }, E::BUFFER_UNDERFLOW, 4 },
        { 4, [&] { b.get(out, -1, 1); }, E::INDEX_OUT_OF_BOUNDS, 4 },
        { 4, [&] { b.get(out, 0, -1); }, E::INDEX_OUT_OF_BOUNDS, 4 },
        { 4, [&] { b.put(data, 1, 8); }, NO_ERROR, 12 },
        { 4, [&] { b.put(data, 9); }, E::BUFFER_OVERFLOW, 4 },
        { 4, [&] { b.put(data, -1, 1); }, E::INDEX_OUT_OF_BOUNDS, 4 },
        { 4, [&] { b.put(data, 0, -1); }, E::INDEX_OUT_OF_BOUNDS, 4 },
        { 4, [&] { b.put(&source.limit(9).position(1)); }, NO_ERROR, 12 },
        { 4, [&] { b.put(&source.limit(9).position(0)); }, E::BUFFER_OVERFLOW, 4 },
        { 4, [&] { b.put(&b); }, E::ILLEGAL_ARGUMENT, 4 },
        { 4, [&] { b.position(12); }, NO_ERROR, 12 },
        { 4, [&] { b.position(13); }, E::ILLEGAL_ARGUMENT, 4 },
        { 4, [&] { b.position(-1); }, E::ILLEGAL_ARGUMENT, 4 },
        { 4, [&] { b.limit(3); }, E::ILLEGAL_ARGUMENT, 4 },
        { 4, [&] { b.limit(17); }, E::ILLEGAL_ARGUMENT, 4 },
        { 4, [&] { b.limit(4).limit(16); }, NO_ERROR, 4 },
        { 4, [&] { b.reset(); }, E::INVALID_MARK, 4 },
        { 4, [&] { b.mark().position(8).limit(9).reset(); }, NO_ERROR, 4 },
        { 0, [&] { b.mark().position(8).reset(); }, NO_ERROR, 0 },
        { 10, [&] { b.mark().position(2).limit(5).reset(); }, E::ILLEGAL_ARGUMENT, 2 },
        { 4, [&] { b.mark().rewind().reset(); }, E::INVALID_MARK, 0 },
        { 4, [&] { b.mark().flip().reset(); }, E::INVALID_MARK, 0 },
        { 4, [&] { b.mark().clear().reset(); }, E::INVALID_MARK, 0 } };
    for (size_t n = 0; n < sizeof(rows) / sizeof(rows[0]); ++n) {
        b.clear().limit(12).position(rows[n].position);
        EXPECT_EQ(rows[n].error, errorOf(rows[n].op)) << "row " << n;
        EXPECT_EQ(rows[n].after, b.position()) << "row " << n;
    }
    // Bulk copies land at the position; flip makes what was written the readable part.
    b.clear().put('A').put(data, 2, 3).put(&source.limit(12).position(10)).flip();
    EXPECT_EQ(std::make_pair(0, 6), std::make_pair(b.position(), b.limit()));
    memset(out, '.', sizeof(out));
    b.get(out, 2).get(out, 3, 4);
    EXPECT_EQ("Ac.dekl", std::string(out, 7));
    EXPECT_EQ(10, source.position()) << "the source buffer keeps its position";
}

TEST(ByteBufferTest, GrowthKeepsTheBytesUpToTheLimitAndOpensTheNewRoom)
{
    GrowingBuffer b(4);
    b.put("abcd", 4).limit(4).position(1).limit(2);
    b.lengthen(5); // more than it had
    EXPECT_EQ(std::make_tuple(9, 1, 9), std::make_tuple(b.capacity(), b.position(), b.limit()));
    EXPECT_EQ("ab", std::string(b.buffer() - 1, 2));
    char array[4];
    GrowingBuffer wrapped(4, array);
    const std::pair<GrowingBuffer*, int> refused[]
        = { { &b, -1 }, { &b, INT_MAX - 8 }, { &wrapped, 0 } };
    for (const auto& r : refused)
        EXPECT_EQ(E::ILLEGAL_ARGUMENT, errorOf([&] { r.first->lengthen(r.second); })) << r.second;
    EXPECT_EQ(NO_ERROR, errorOf([&] { b.lengthen(0); }));
}

TEST(ByteBufferTest, BadSizesThrowAndWrappingStartsAfresh)
{
    char array[] = "abcdefgh";
    GrowingBuffer huge(32);
    const std::pair<int, std::function<void()>> bad[]
        = { { E::ILLEGAL_ARGUMENT, [] { ByteBuffer(-1); } },
              { E::INDEX_OUT_OF_BOUNDS, [&] { ByteBuffer(array, -1, 8); } },
              { E::INDEX_OUT_OF_BOUNDS, [&] { ByteBuffer(array, 0, -1); } },
              { E::ILLEGAL_ARGUMENT, [&] { huge.lengthen(0x7FFFFFFF); } },
              { E::ILLEGAL_ARGUMENT, [&] { huge.put(&huge); } },
              { E::INDEX_OUT_OF_BOUNDS, [&] { huge.wrap(array, 8, 8); } },
              { E::INDEX_OUT_OF_BOUNDS, [&] { huge.wrap(array, 8, -1); } },
              { E::BUFFER_UNDERFLOW, [] { ByteBuffer().get(); } } }; // no storage until wrap
    for (const auto& [code, f] : bad)
        EXPECT_EQ(code, errorOf(f));
    const ByteBuffer empty;
    EXPECT_EQ(std::make_tuple(0, 0, 0),
        std::make_tuple(empty.capacity(), empty.position(), empty.limit()));
    // Wrapping frees the owned storage (large, so the allocator maps it apart) and starts afresh.
    const size_t mappedBefore = mallinfo2().hblkhd;
    ByteBuffer buffer(1 << 22);
    buffer.putInt(7).mark().order(ByteOrder::ORDER_LITTLE_ENDIAN).wrap(array, 8, 0);
    EXPECT_GT(mappedBefore + (1 << 21), mallinfo2().hblkhd) << "the owned storage leaked";
    EXPECT_EQ(std::make_tuple(8, 0, ByteOrder::ORDER_BIG_ENDIAN),
        std::make_tuple(buffer.capacity(), buffer.position(), buffer.order()));
    EXPECT_EQ(E::INVALID_MARK, errorOf([&] { buffer.reset(); }));
    EXPECT_TRUE(buffer.getBool());
    EXPECT_FALSE(buffer.put('\0').position(1).getBool());
    EXPECT_EQ('\0', array[1]);
}

// The sanitizers and the emulator running the ARM build need address space of their own.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__) && !KOVAN_EMULATED
TEST(ByteBufferDeathTest, AnAllocationThatFailsThrowsOutOfMemory)
{
    GrowingBuffer buffer(16);
    const rlimit cap { 1u << 30, 1u << 30 };
    // The exit code is the constructor's error plus ten times the growth's.
    EXPECT_EXIT(setrlimit(RLIMIT_AS, &cap); std::_Exit(errorOf([] {
        ByteBuffer(0x7FFFFFF0);
    }) + 10 * errorOf([&] { buffer.lengthen(0x7FFFFF00); })),
                ::testing::ExitedWithCode(11 * E::OUT_OF_MEMORY), "");
}
#endif
