// Random runs of buffer operations against a plain model of the documented rules: both must agree
// on every result, every error code and the whole state (every byte included) after every step.
// Seeded, bounded and deterministic.
#include "net/ByteBuffer.h"

#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <vector>

using namespace Kovan;
typedef ByteBufferException E;

namespace {

const int NO_ERROR = -1;

struct Result {
    int error = NO_ERROR;
    int64 value = 0;
    bool operator==(const Result& o) const { return error == o.error && value == o.value; }
};

Result failed(int code) { return Result { code, 0 }; }

Result run(const std::function<int64()>& f)
{
    Result r;
    try {
        r.value = f();
    } catch (const ByteBufferException& e) {
        r.error = e.errorCode();
    }
    return r;
}

// Growth opened for the test; what growth does not carry over is zeroed, so the model knows
// every byte.
class GrowingBuffer : public ByteBuffer {
public:
    using ByteBuffer::ByteBuffer;
    void grow(int size)
    {
        int from = limit();
        lengthen(size);
        for (int i = from; i < capacity(); ++i)
            put(i, '\0');
    }
};

int64 narrow(uint64 bits, int size)
{
    return size == 1 ? int64(static_cast<char>(bits))
        : size == 2  ? int64(static_cast<int16>(bits))
        : size == 4  ? int64(static_cast<int32>(bits))
                     : static_cast<int64>(bits);
}

struct Model {
    std::vector<unsigned char> bytes;
    int position = 0, limit = 0, mark = -1;
    bool big = true;

    int capacity() const { return int(bytes.size()); }
    uint64 load(int at, int size) const
    {
        uint64 v = 0;
        for (int i = 0; i < size; ++i)
            v |= uint64(bytes[at + i]) << (8 * (big ? size - 1 - i : i));
        return v;
    }
    void store(int at, int size, uint64 v)
    {
        for (int i = 0; i < size; ++i)
            bytes[at + i] = static_cast<unsigned char>(v >> (8 * (big ? size - 1 - i : i)));
    }

    // Relative (index unused) or absolute single and multi-byte access.
    Result access(bool write, int size, bool absolute, int index, uint64 bits)
    {
        Result r;
        if (absolute && (size == 1 || (size == 2 && !write)) && (index < 0 || index >= limit))
            return failed(E::INDEX_OUT_OF_BOUNDS);
        if (absolute && size == 1) {
            if (write)
                store(index, 1, bits);
            r.value = narrow(load(index, 1), 1);
            return r;
        }
        int saved = position;
        if (absolute) {
            if (index < 0 || index > limit)
                return failed(E::ILLEGAL_ARGUMENT);
            position = index; // and there it stays when the relative step fails
        }
        if (limit - position < size)
            return failed(write ? E::BUFFER_OVERFLOW : E::BUFFER_UNDERFLOW);
        if (write)
            store(position, size, bits);
        r.value = write ? 0 : narrow(load(position, size), size);
        position = absolute ? saved : position + size;
        return r;
    }

    // position, limit, mark, reset, clear, flip, rewind, order: the buffer's controls in order.
    Result control(int which, int index)
    {
        switch (which) {
        case 0:
            if (index < 0 || index > limit)
                return failed(E::ILLEGAL_ARGUMENT);
            position = index;
            break;
        case 1:
            if (index < position || index > capacity())
                return failed(E::ILLEGAL_ARGUMENT);
            limit = index;
            break;
        case 2:
            mark = position;
            break;
        case 3:
            if (mark < 0 || mark > limit)
                return failed(mark < 0 ? E::INVALID_MARK : E::ILLEGAL_ARGUMENT);
            position = mark;
            break;
        case 4:
        case 5:
            limit = which == 4 ? capacity() : position;
            [[fallthrough]];
        case 6:
            position = 0;
            mark = -1;
            break;
        default:
            big = index % 2 != 0;
        }
        return Result();
    }

    // A bulk put or get of `length` bytes, `offset` bytes into the caller's array.
    Result bulk(bool put, char* array, int offset, int length)
    {
        if (offset < 0 || length < 0)
            return failed(E::INDEX_OUT_OF_BOUNDS);
        if (limit - position < length)
            return failed(put ? E::BUFFER_OVERFLOW : E::BUFFER_UNDERFLOW);
        if (put)
            memcpy(&bytes[size_t(position)], array + offset, size_t(length));
        else
            memcpy(array + offset, &bytes[size_t(position)], size_t(length));
        position += length;
        return Result();
    }
};

int64 access(ByteBuffer& b, bool write, int size, bool abs, int index, uint64 bits)
{
    int64 v = narrow(bits, size);
    if (write) {
        if (size == 1)
            abs ? b.put(index, char(v)) : b.put(char(v));
        else if (size == 2)
            abs ? b.putShort(index, short(v)) : b.putShort(short(v));
        else if (size == 4)
            abs ? b.putInt(index, int(v)) : b.putInt(int(v));
        else
            abs ? b.putInt64(index, v) : b.putInt64(v);
        return size == 1 && abs ? narrow(bits, 1) : 0;
    }
    return size == 1 ? (abs ? b.get(index) : b.get())
        : size == 2  ? (abs ? b.getShort(index) : b.getShort())
        : size == 4  ? (abs ? b.getInt(index) : b.getInt())
                     : (abs ? b.getInt64(index) : b.getInt64());
}

// One random operation on both: what the model expects and what the buffer did.
std::pair<Result, Result> step(std::mt19937& random, GrowingBuffer& b, Model& m, bool wrapped)
{
    auto pick
        = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    int op = pick(0, 6), size = 1 << pick(0, 3), index = pick(-2, m.capacity() + 2);
    uint64 bits = (uint64(random()) << 32) | random();
    int arg = pick(-1, 15);

    if (op <= 1) {
        bool write = op == 0, abs = pick(0, 1) == 1;
        Result actual = run([&] { return access(b, write, size, abs, index, bits); });
        return { m.access(write, size, abs, index, bits), actual };
    }
    if (op == 2) {
        const std::function<void()> controls[] = { [&] { b.position(index); },
            [&] { b.limit(index); }, [&] { b.mark(); }, [&] { b.reset(); }, [&] { b.clear(); },
            [&] { b.flip(); }, [&] { b.rewind(); },
            [&] {
                b.order(index % 2 ? ByteOrder::ORDER_BIG_ENDIAN : ByteOrder::ORDER_LITTLE_ENDIAN);
            } };
        int which = (arg + 8) % 8;
        Result actual = run([&] { return controls[which](), int64(0); });
        return { m.control(which, index), actual };
    }
    if (op <= 4) {
        int offset = pick(-1, 3), length = arg > 12 ? 12 : arg; // inside the 16-byte array
        char data[16], copy[16];
        for (char& c : data)
            c = static_cast<char>(random());
        memcpy(copy, data, sizeof(data));
        bool put = op == 3;
        Result actual = run([&] {
            return (put ? b.put(data, offset, length) : b.get(data, offset, length)), int64(0);
        });
        Result expected = m.bulk(put, copy, offset, length);
        // The caller's array ends as the model says (untouched unless a get succeeded).
        if (memcmp(copy, data, sizeof(data)) != 0)
            actual.value = 1;
        return { expected, actual };
    }
    if (op == 5) { // another buffer's remaining bytes, or the buffer itself
        char digits[] = "0123456789ABCDEF";
        int from = arg < 0 ? 0 : arg;
        ByteBuffer source(16);
        source.put(digits, 16).position(from);
        bool self = pick(0, 9) == 0;
        Result actual = run([&] { return b.put(self ? &b : &source), int64(source.position()); });
        Result expected
            = self ? failed(E::ILLEGAL_ARGUMENT) : m.bulk(true, digits, from, 16 - from);
        if (expected.error == NO_ERROR)
            expected.value = from; // the source's position stays
        return { expected, actual };
    }
    // Bounded growth: the capacity stays below 256.
    int grow = m.capacity() > 240 ? -1 : arg - 2;
    Result actual = run([&] { return b.grow(grow), int64(0); });
    if (grow < 0 || wrapped)
        return { failed(E::ILLEGAL_ARGUMENT), actual };
    m.bytes.resize(size_t(m.capacity() + grow));
    memset(&m.bytes[size_t(m.limit)], 0, size_t(m.capacity() - m.limit));
    m.limit = m.capacity();
    return { Result(), actual };
}

TEST(ByteBufferModelTest, RandomOperationsAgreeWithTheModel)
{
    for (uint32 seed = 1; seed <= 8; ++seed) {
        for (bool wrapped : { false, true }) {
            std::mt19937 random(seed);
            std::vector<char> storage(64, 0);
            std::unique_ptr<GrowingBuffer> buffer(wrapped
                    ? new GrowingBuffer(int(storage.size()), storage.data())
                    : new GrowingBuffer(48));
            GrowingBuffer& b = *buffer;
            for (int i = 0; i < b.capacity(); ++i)
                b.put(i, '\0'); // owned storage starts unset
            Model m;
            m.bytes.assign(size_t(b.capacity()), 0);
            m.limit = m.capacity();

            for (int n = 0; n < 4000; ++n) {
                const std::pair<Result, Result> r = step(random, b, m, wrapped);
                // The storage itself, read past every bound check.
                const char* base = b.buffer() - b.position();
                const bool same = r.first == r.second && b.position() == m.position
                    && b.limit() == m.limit && b.capacity() == m.capacity()
                    && (b.order() == ByteOrder::ORDER_BIG_ENDIAN) == m.big
                    && memcmp(base, m.bytes.data(), m.bytes.size()) == 0
                    && (!wrapped || base == storage.data());
                ASSERT_TRUE(same) << "seed " << seed << (wrapped ? " wrapped" : " owned")
                                  << ", step " << n << ": expected error " << r.first.error
                                  << " value " << r.first.value << ", got " << r.second.error
                                  << " value " << r.second.value << "; position " << b.position()
                                  << " vs " << m.position;
            }
        }
    }
}

} // namespace
