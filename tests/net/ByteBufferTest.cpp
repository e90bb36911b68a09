// Seeded random runs of buffer operations against a plain model of the documented rules: both
// agree on every result, error and byte after every step. Then the edges the model cannot see.
#include "net/ByteBuffer.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <malloc.h>
#include <random>
#include <sys/resource.h>

using namespace Kovan;
typedef ByteBufferException E;

// An error code (NO_ERROR for none) and a value.
typedef std::pair<int, int64> Result;
const int NO_ERROR = -1;

static Result run(const std::function<int64()>& f)
try {
    return { NO_ERROR, f() };
} catch (const ByteBufferException& e) {
    return { e.errorCode(), 0 };
}

static int errorOf(const std::function<void()>& f)
{
    return run([&] { return f(), 0; }).first;
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

// The low `size` bytes of `bits`, sign-extended; a single byte as the platform's char.
static int64 narrow(uint64 bits, int size)
{
    return size == 1 ? static_cast<char>(bits) : int64(bits << (64 - 8 * size)) >> (64 - 8 * size);
}

struct Model {
    std::vector<unsigned char> bytes;
    int position = 0, limit = 0, mark = -1, bulkBytes = 0;
    bool big = true;

    int capacity() const { return int(bytes.size()); }
    int64 move(bool write, int at, int size, uint64 bits)
    {
        uint64 value = 0;
        for (int i = 0; i < size; ++i) {
            const int shift = 8 * (big ? size - 1 - i : i);
            if (write)
                bytes[at + i] = static_cast<unsigned char>(bits >> shift);
            value |= uint64(bytes[at + i]) << shift;
        }
        return write ? 0 : narrow(value, size);
    }

    Result access(bool write, int size, bool absolute, int index, uint64 bits)
    {
        if (absolute && (size == 1 || (size == 2 && !write)) && (index < 0 || index >= limit))
            return { E::INDEX_OUT_OF_BOUNDS, 0 };
        if (absolute && size == 1)
            return { NO_ERROR, move(write, index, 1, bits) };
        if (absolute && (index < 0 || index > limit))
            return { E::ILLEGAL_ARGUMENT, 0 };
        const int saved = position;
        position = absolute ? index : position; // and there it stays when the relative step fails
        if (limit - position < size)
            return { write ? E::BUFFER_OVERFLOW : E::BUFFER_UNDERFLOW, 0 };
        bulkBytes += write && size > 1 ? size : 0;
        const Result r { NO_ERROR, move(write, position, size, bits) };
        position = absolute ? saved : position + size;
        return r;
    }

    // position, limit, mark, reset, clear, flip, rewind, order: the buffer's controls in order.
    Result control(int which, int index)
    {
        if (which == 3 && mark < 0)
            return { E::INVALID_MARK, 0 };
        if (which == 0       ? index < 0 || index > limit
                : which == 1 ? index < position || index > capacity()
                             : which == 3 && mark > limit)
            return { E::ILLEGAL_ARGUMENT, 0 };
        if (which <= 1)
            (which == 0 ? position : limit) = index;
        else if (which == 2)
            mark = position;
        else if (which == 3)
            position = mark;
        else if (which == 7)
            big = index % 2 != 0;
        else { // clear, flip, rewind
            limit = which == 4 ? capacity() : which == 5 ? position : limit;
            position = 0;
            mark = -1;
        }
        return { NO_ERROR, 0 };
    }

    Result bulk(bool put, char* array, int offset, int length)
    {
        if (offset < 0 || length < 0)
            return { E::INDEX_OUT_OF_BOUNDS, 0 };
        if (limit - position < length)
            return { put ? E::BUFFER_OVERFLOW : E::BUFFER_UNDERFLOW, 0 };
        put ? memcpy(bytes.data() + position, array + offset, size_t(length))
            : memcpy(array + offset, bytes.data() + position, size_t(length));
        position += length;
        bulkBytes += put ? length : 0;
        return { NO_ERROR, 0 };
    }
};

static int64 access(ByteBuffer& b, bool write, int size, bool abs, int index, uint64 bits)
{
    const int64 v = narrow(bits, size);
    if (write)
        return (size == 1          ? (abs ? b.put(index, char(v)) : b.put(char(v)))
                       : size == 2 ? (abs ? b.putShort(index, short(v)) : b.putShort(short(v)))
                       : size == 4 ? (abs ? b.putInt(index, int(v)) : b.putInt(int(v)))
                                   : (abs ? b.putInt64(index, v) : b.putInt64(v))),
               0;
    return size == 1 ? (abs ? b.get(index) : b.get())
        : size == 2  ? (abs ? b.getShort(index) : b.getShort())
        : size == 4  ? (abs ? b.getInt(index) : b.getInt())
                     : (abs ? b.getInt64(index) : b.getInt64());
}

// One random operation on both: what the model expects and what the buffer did.
static std::pair<Result, Result> step(
    std::mt19937& random, GrowingBuffer& b, Model& m, bool wrapped)
{
    auto pick
        = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    const int op = pick(0, 5), size = 1 << pick(0, 3), index = pick(-2, m.capacity() + 2);
    const uint64 bits = (uint64(random()) << 32) | random();
    const int arg = pick(-1, 15);
    if (op <= 1) {
        const bool write = op == 0, abs = pick(0, 1) == 1;
        const Result actual = run([&] { return access(b, write, size, abs, index, bits); });
        return { m.access(write, size, abs, index, bits), actual };
    }
    if (op == 2) {
        const std::function<void()> controls[] = { [&] { b.position(index); },
            [&] { b.limit(index); }, [&] { b.mark(); }, [&] { b.reset(); }, [&] { b.clear(); },
            [&] { b.flip(); }, [&] { b.rewind(); },
            [&] {
                b.order(index % 2 ? ByteOrder::ORDER_BIG_ENDIAN : ByteOrder::ORDER_LITTLE_ENDIAN);
            } };
        const int which = (arg + 8) % 8;
        return { m.control(which, index), { errorOf(controls[which]), 0 } };
    }
    if (op <= 4) {
        // Offset 0 through the two-argument forms; a put may come from a buffer over the array.
        const int offset = pick(-1, 3), length = std::min(arg, 12);
        const bool put = op == 3, fromBuffer = put && offset >= 0 && length >= 0 && pick(0, 2) == 0;
        char data[16], copy[16];
        std::generate(data, data + 16, [&] { return static_cast<char>(random()); });
        memcpy(copy, data, sizeof(data));
        ByteBuffer source(data, 0, 16);
        Result actual = run([&] {
            if (fromBuffer)
                b.put(&source.limit(offset + length).position(offset));
            else if (offset == 0)
                put ? b.put(data, length) : b.get(data, length);
            else
                put ? b.put(data, offset, length) : b.get(data, offset, length);
            return int64(source.position() - (fromBuffer ? offset : 0));
        });
        const Result expected = m.bulk(put, copy, offset, length);
        actual.second += memcmp(copy, data, sizeof(data)) != 0;
        return { expected, actual };
    }
    // Growth keeps the bytes up to the limit; the limit goes to the new capacity.
    const int grow = m.capacity() > 240 ? -1 : arg - 2;
    const Result actual { errorOf([&] { b.lengthen(grow); }), 0 };
    if (grow < 0 || wrapped)
        return { { E::ILLEGAL_ARGUMENT, 0 }, actual };
    m.bytes.resize(m.bytes.size() + size_t(grow));
    const char* base
        = b.buffer() - b.position(); // past the old limit: whatever the new storage held
    std::copy(base + m.limit, base + b.capacity(), m.bytes.begin() + m.limit);
    m.limit = m.capacity();
    return { { NO_ERROR, 0 }, actual };
}

TEST(ByteBufferTest, RandomOperationsAgreeWithTheModel)
{
    // Owned, and wrapped four bytes into the caller's array (by either constructor).
    for (uint32 seed = 1; seed <= 8; ++seed) {
        for (bool wrapped : { false, true }) {
            std::mt19937 random(seed);
            std::vector<char> storage(64, 0);
            GrowingBuffer owned(48), first(60, storage.data() + 4), second(storage.data(), 4, 60);
            GrowingBuffer& b = !wrapped ? owned : seed % 2 ? first : second;
            Model m { std::vector<unsigned char>(b.buffer(), b.buffer() + b.capacity()), 0,
                b.capacity() };
            for (int n = 0; n < 4000; ++n) {
                const std::pair<Result, Result> r = step(random, b, m, wrapped);
                const char* base = b.buffer() - b.position(); // every byte, and where they lie
                const void* at = wrapped ? storage.data() + 4 : base;
                ASSERT_EQ(
                    std::make_tuple(r.first, m.position, m.limit, m.big, m.bulkBytes, m.bytes, at),
                    std::make_tuple(r.second, b.position(), b.limit(),
                        b.order() == ByteOrder::ORDER_BIG_ENDIAN, b.bulkBytes,
                        std::vector<unsigned char>(base, base + b.capacity()),
                        static_cast<const void*>(base)))
                    << "seed " << seed << (wrapped ? " wrapped" : " owned") << ", step " << n;
            }
        }
    }
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
