// Random runs of buffer operations against a plain model of the documented rules: both must agree
// on every result, every error code and the whole state after every step. Seeded, bounded and
// deterministic.
#include "net/ByteBuffer.h"

#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <vector>

using namespace Kovan;
typedef ByteBufferException E;

namespace {

const int NO_ERROR = -1;

struct Result {
    int error = NO_ERROR;
    int64 value = 0;
};

Result failed(int code) { return Result { code, 0 }; }

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
    int position = 0;
    int limit = 0;
    int mark = -1;
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
};

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

// One random operation on both; the model's verdict is `expected`.
void step(std::mt19937& random, GrowingBuffer& b, Model& m, bool wrapped, Result* expected,
    Result* actual, char* what)
{
    auto pick
        = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    static const int sizes[] = { 1, 2, 4, 8 };
    int op = pick(0, 6);
    int size = sizes[pick(0, 3)];
    int index = pick(-2, m.capacity() + 2);
    uint64 bits = (uint64(random()) << 32) | random();
    int arg = pick(-1, 15);
    snprintf(what, 64, "op %d size %d index %d arg %d", op, size, index, arg);
    Result ok;

    switch (op) {
    case 0:
    case 1: {
        bool write = op == 0, abs = pick(0, 1) == 1;
        *actual = run([&] { return access(b, write, size, abs, index, bits); });
        *expected = m.access(write, size, abs, index, bits);
        return;
    }
    case 2: // position, limit, mark and friends, byte order
        *actual = run([&] {
            switch (arg % 8) {
            case 7:
                b.order(index % 2 ? ByteOrder::ORDER_BIG_ENDIAN : ByteOrder::ORDER_LITTLE_ENDIAN);
                break;
            case 0:
                b.position(index);
                break;
            case 1:
                b.limit(index);
                break;
            case 2:
                b.mark();
                break;
            case 3:
                b.reset();
                break;
            case 4:
                b.clear();
                break;
            case 5:
                b.flip();
                break;
            case 6:
                b.rewind();
                break;
            }
            return int64(0);
        });
        switch (arg % 8) {
        case 7:
            m.big = index % 2 != 0;
            break;
        case 0:
            if (index < 0 || index > m.limit)
                ok = failed(E::ILLEGAL_ARGUMENT);
            else
                m.position = index;
            break;
        case 1:
            if (index < m.position || index > m.capacity())
                ok = failed(E::ILLEGAL_ARGUMENT);
            else
                m.limit = index;
            break;
        case 2:
            m.mark = m.position;
            break;
        case 3:
            if (m.mark < 0 || m.mark > m.limit)
                ok = failed(m.mark < 0 ? E::INVALID_MARK : E::ILLEGAL_ARGUMENT);
            else
                m.position = m.mark;
            break;
        case 4:
            m.limit = m.capacity();
            m.position = 0;
            m.mark = -1;
            break;
        case 5:
            m.limit = m.position;
            m.position = 0;
            m.mark = -1;
            break;
        case 6:
            m.position = 0;
            m.mark = -1;
            break;
        }
        *expected = ok;
        return;
    case 3:
    case 4: { // bulk put and get, with an offset into the caller's array
        int offset = pick(-1, 3);
        arg = arg > 12 ? 12 : arg; // offset + length stay inside the 16-byte array
        char data[16];
        for (char& c : data)
            c = static_cast<char>(random());
        char copy[16];
        memcpy(copy, data, sizeof(data));
        bool put = op == 3;
        *actual = run([&] {
            put ? b.put(data, offset, arg) : b.get(data, offset, arg);
            return int64(0);
        });
        if (offset < 0 || arg < 0)
            ok = failed(E::INDEX_OUT_OF_BOUNDS);
        else if (m.limit - m.position < arg)
            ok = failed(put ? E::BUFFER_OVERFLOW : E::BUFFER_UNDERFLOW);
        else {
            if (put)
                memcpy(&m.bytes[m.position], copy + offset, size_t(arg));
            else
                memcpy(copy + offset, &m.bytes[m.position], size_t(arg));
            m.position += arg;
        }
        // A failed or bulk-put call leaves the caller's array as the model says.
        if (memcmp(copy, data, sizeof(data)) != 0)
            actual->value = 1;
        *expected = ok;
        return;
    }
    case 5: { // another buffer's remaining bytes, or the buffer itself
        ByteBuffer source(16);
        source.put("0123456789ABCDEF", 16).position(arg < 0 ? 0 : arg);
        bool self = pick(0, 9) == 0;
        *actual = run([&] {
            b.put(self ? &b : &source);
            return int64(source.position());
        });
        int count = source.remaining();
        if (self)
            ok = failed(E::ILLEGAL_ARGUMENT);
        else if (m.limit - m.position < count)
            ok = failed(E::BUFFER_OVERFLOW);
        else {
            memcpy(&m.bytes[m.position], "0123456789ABCDEF" + (16 - count), size_t(count));
            m.position += count;
            ok.value = source.position();
        }
        *expected = ok;
        return;
    }
    default: { // bounded growth: the capacity stays below 256
        int grow = m.capacity() > 240 ? -1 : arg - 2;
        *actual = run([&] {
            b.grow(grow);
            return int64(0);
        });
        if (grow < 0 || wrapped) {
            ok = failed(E::ILLEGAL_ARGUMENT);
        } else {
            m.bytes.resize(size_t(m.capacity() + grow));
            memset(&m.bytes[size_t(m.limit)], 0, size_t(m.capacity() - m.limit));
            m.limit = m.capacity();
        }
        *expected = ok;
        return;
    }
    }
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
            for (int i = 0; i < buffer->capacity(); ++i)
                buffer->put(i, '\0'); // owned storage starts unset
            Model m;
            m.bytes.assign(size_t(buffer->capacity()), 0);
            m.limit = m.capacity();

            for (int n = 0; n < 4000; ++n) {
                Result expected, actual;
                char what[64];
                step(random, *buffer, m, wrapped, &expected, &actual, what);
                ByteBuffer& b = *buffer;
                std::vector<unsigned char> bytes;
                int limit = b.limit();
                if (b.position() <= limit) { // else the readout itself would throw
                    b.limit(b.capacity());
                    for (int i = 0; i < b.capacity(); ++i)
                        bytes.push_back(static_cast<unsigned char>(b.get(i)));
                    b.limit(limit);
                }
                bool same = expected.error == actual.error && expected.value == actual.value
                    && b.position() == m.position && limit == m.limit
                    && b.capacity() == m.capacity()
                    && (b.order() == ByteOrder::ORDER_BIG_ENDIAN) == m.big && bytes == m.bytes
                    && (!wrapped || memcmp(storage.data(), bytes.data(), storage.size()) == 0);
                ASSERT_TRUE(same) << "seed " << seed << (wrapped ? " wrapped" : " owned")
                                  << ", step " << n << " (" << what << "): expected error "
                                  << expected.error << " value " << expected.value << ", got "
                                  << actual.error << " value " << actual.value << "; position "
                                  << b.position() << " vs " << m.position;
            }
        }
    }
}

} // namespace
