// Random runs of buffer operations against a plain model of the rules; both must agree on every
// result, every error code and the whole state after every step. Seeded, bounded, deterministic.
#include "net/ByteBuffer.h"

#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <vector>

using namespace Kovan;
typedef ByteBufferException E;

namespace {

const int NO_ERROR = -1;

// Growth opened for the test; the bytes it does not carry over are zeroed through the public
// writers, so that the model knows every byte.
class GrowingBuffer : public ByteBuffer {
public:
    using ByteBuffer::ByteBuffer;
    void grow(int size)
    {
        int oldLimit = limit();
        lengthen(size);
        for (int i = oldLimit; i < capacity(); ++i)
            put(i, '\0');
    }
};

struct Model {
    std::vector<unsigned char> bytes;
    int position = 0;
    int limit = 0;
    int mark = -1;
    bool bigEndian = true;
    bool wrapped = false;

    int capacity() const { return static_cast<int>(bytes.size()); }
    int remaining() const { return limit - position; }

    uint64 read(int at, int size) const
    {
        uint64 value = 0;
        for (int i = 0; i < size; ++i) {
            int shift = bigEndian ? 8 * (size - 1 - i) : 8 * i;
            value |= static_cast<uint64>(bytes[at + i]) << shift;
        }
        return value;
    }
    void write(int at, int size, uint64 value)
    {
        for (int i = 0; i < size; ++i) {
            int shift = bigEndian ? 8 * (size - 1 - i) : 8 * i;
            bytes[at + i] = static_cast<unsigned char>(value >> shift);
        }
    }
};

// One step: the model's verdict (error code or NO_ERROR, and a value), the buffer's outcome.
struct Outcome {
    int error = NO_ERROR;
    int64 value = 0;
    bool operator==(const Outcome& o) const { return error == o.error && value == o.value; }
};

int64 signExtend(uint64 value, int size)
{
    if (size == 2)
        return static_cast<int16>(value);
    if (size == 4)
        return static_cast<int32>(value);
    return static_cast<int64>(value);
}

// Sixteen bytes folded into one value, so a bulk read compares as a single result.
int64 digest(const char (&bytes)[16])
{
    uint64 sum = 0;
    for (char c : bytes)
        sum = sum * 31 + static_cast<unsigned char>(c);
    return static_cast<int64>(sum);
}

class Runner {
public:
    Runner(uint32 seed, bool wrapped)
        : _random(seed)
        , _storage(64, 0)
    {
        if (wrapped) {
            _buffer.reset(new GrowingBuffer(static_cast<int>(_storage.size()), _storage.data()));
        } else {
            _buffer.reset(new GrowingBuffer(48));
            // Owned storage starts unset: give it known bytes first.
            for (int i = 0; i < _buffer->capacity(); ++i)
                _buffer->put(i, '\0');
        }
        _model.bytes.assign(static_cast<size_t>(_buffer->capacity()), 0);
        _model.limit = _model.capacity();
        _model.wrapped = wrapped;
        _source.put("0123456789ABCDEF", 16).flip();
    }

    // Runs `steps` random operations; false (with `why`) at the first disagreement.
    bool run(int steps, std::string* why)
    {
        for (int step = 0; step < steps; ++step) {
            std::string name;
            Outcome expected;
            Outcome actual;
            try {
                expected = stepBoth(&name, &actual);
            } catch (const ByteBufferException& e) {
                std::ostringstream out;
                out << "step " << step << " " << name << ": unexpected error " << e.errorCode();
                *why = out.str();
                return false;
            }
            std::string difference = compare(expected, actual);
            if (!difference.empty()) {
                std::ostringstream out;
                out << "step " << step << " " << name << ": " << difference;
                *why = out.str();
                return false;
            }
        }
        return true;
    }

private:
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(_random); }
    // Indices and sizes cluster around the interesting edges.
    int anyIndex() { return pick(-2, _model.capacity() + 2); }

    template <typename F>
    static Outcome attempt(F f)
    {
        Outcome outcome;
        try {
            outcome.value = f();
        } catch (const ByteBufferException& e) {
            outcome.error = e.errorCode();
        }
        return outcome;
    }

    Outcome stepBoth(std::string* name, Outcome* actual);
    std::string compare(const Outcome& expected, const Outcome& actual);

    std::mt19937 _random;
    std::vector<char> _storage;
    std::unique_ptr<GrowingBuffer> _buffer;
    ByteBuffer _source { 16 };
    Model _model;
};

Outcome fail(int code)
{
    Outcome o;
    o.error = code;
    return o;
}

Outcome value(int64 v)
{
    Outcome o;
    o.value = v;
    return o;
}

Outcome Runner::stepBoth(std::string* name, Outcome* actual)
{
    ByteBuffer& b = *_buffer;
    Model& m = _model;
    static const int sizes[] = { 2, 4, 8 };
    int op = pick(0, 17);
    int size = sizes[pick(0, 2)];
    int index = anyIndex();
    uint64 bits = (static_cast<uint64>(_random()) << 32) | _random();
    int64 v = signExtend(bits, size);

    switch (op) {
    case 0: {
        *name = "put(char)";
        char c = static_cast<char>(bits);
        *actual = attempt([&] { b.put(c); return int64(0); });
        if (m.position >= m.limit)
            return fail(E::BUFFER_OVERFLOW);
        m.bytes[m.position++] = static_cast<unsigned char>(c);
        return value(0);
    }
    case 1: {
        *name = "get()";
        *actual = attempt([&] { return int64(b.get()); });
        if (m.position >= m.limit)
            return fail(E::BUFFER_UNDERFLOW);
        return value(static_cast<char>(m.bytes[m.position++]));
    }
    case 2: {
        *name = "put" + std::to_string(size) + "(value)";
        *actual = attempt([&] {
            if (size == 2)
                b.putShort(static_cast<short>(v));
            else if (size == 4)
                b.putInt(static_cast<int>(v));
            else
                b.putInt64(v);
            return int64(0);
        });
        if (m.remaining() < size)
            return fail(E::BUFFER_OVERFLOW);
        m.write(m.position, size, bits);
        m.position += size;
        return value(0);
    }
    case 3: {
        *name = "get" + std::to_string(size) + "()";
        *actual = attempt([&] {
            return size == 2 ? int64(b.getShort()) : size == 4 ? int64(b.getInt()) : b.getInt64();
        });
        if (m.remaining() < size)
            return fail(E::BUFFER_UNDERFLOW);
        int64 read = signExtend(m.read(m.position, size), size);
        m.position += size;
        return value(read);
    }
    case 4: {
        *name = "put" + std::to_string(size) + "(" + std::to_string(index) + ", value)";
        *actual = attempt([&] {
            if (size == 2)
                b.putShort(index, static_cast<short>(v));
            else if (size == 4)
                b.putInt(index, static_cast<int>(v));
            else
                b.putInt64(index, v);
            return int64(0);
        });
        if (index < 0 || index > m.limit)
            return fail(E::ILLEGAL_ARGUMENT);
        if (m.limit - index < size) {
            m.position = index;
            return fail(E::BUFFER_OVERFLOW);
        }
        m.write(index, size, bits);
        return value(0);
    }
    case 5: {
        *name = "get" + std::to_string(size) + "(" + std::to_string(index) + ")";
        *actual = attempt([&] {
            return size == 2 ? int64(b.getShort(index))
                : size == 4  ? int64(b.getInt(index))
                             : b.getInt64(index);
        });
        // The short reader checks the index against the limit like a byte read; the others
        // leave the index to position().
        if (size == 2 && (index < 0 || index >= m.limit))
            return fail(E::INDEX_OUT_OF_BOUNDS);
        if (index < 0 || index > m.limit)
            return fail(E::ILLEGAL_ARGUMENT);
        if (m.limit - index < size) {
            m.position = index;
            return fail(E::BUFFER_UNDERFLOW);
        }
        return value(signExtend(m.read(index, size), size));
    }
    case 6: {
        *name = "put(" + std::to_string(index) + ", char)";
        char c = static_cast<char>(bits);
        *actual = attempt([&] { b.put(index, c); return int64(0); });
        if (index < 0 || index >= m.limit)
            return fail(E::INDEX_OUT_OF_BOUNDS);
        m.bytes[index] = static_cast<unsigned char>(c);
        return value(0);
    }
    case 7: {
        *name = "get(" + std::to_string(index) + ")";
        *actual = attempt([&] { return int64(b.get(index)); });
        if (index < 0 || index >= m.limit)
            return fail(E::INDEX_OUT_OF_BOUNDS);
        return value(static_cast<char>(m.bytes[index]));
    }
    case 8: {
        *name = "position(" + std::to_string(index) + ")";
        *actual = attempt([&] { b.position(index); return int64(0); });
        if (index < 0 || index > m.limit)
            return fail(E::ILLEGAL_ARGUMENT);
        m.position = index;
        return value(0);
    }
    case 9: {
        *name = "limit(" + std::to_string(index) + ")";
        *actual = attempt([&] { b.limit(index); return int64(0); });
        if (index < m.position || index > m.capacity())
            return fail(E::ILLEGAL_ARGUMENT);
        m.limit = index;
        return value(0);
    }
    case 10: {
        int which = pick(0, 4);
        static const char* names[] = { "mark()", "reset()", "clear()", "flip()", "rewind()" };
        *name = names[which];
        *actual = attempt([&] {
            switch (which) {
            case 0: b.mark(); break;
            case 1: b.reset(); break;
            case 2: b.clear(); break;
            case 3: b.flip(); break;
            default: b.rewind(); break;
            }
            return int64(0);
        });
        switch (which) {
        case 0: m.mark = m.position; break;
        case 1:
            if (m.mark < 0)
                return fail(E::INVALID_MARK);
            if (m.mark > m.limit)
                return fail(E::ILLEGAL_ARGUMENT);
            m.position = m.mark;
            break;
        case 2: m.position = 0; m.limit = m.capacity(); m.mark = -1; break;
        case 3: m.limit = m.position; m.position = 0; m.mark = -1; break;
        default: m.position = 0; m.mark = -1; break;
        }
        return value(0);
    }
    case 11: {
        *name = "order()";
        bool big = pick(0, 1) == 0;
        *actual = attempt([&] {
            b.order(big ? ByteOrder::ORDER_BIG_ENDIAN : ByteOrder::ORDER_LITTLE_ENDIAN);
            return int64(0);
        });
        m.bigEndian = big;
        return value(0);
    }
    case 12:
    case 13: {
        int offset = pick(-1, 3);
        int length = pick(-1, 12);
        char data[16];
        for (char& c : data)
            c = static_cast<char>(_random());
        if (op == 12) {
            *name = "put(src, " + std::to_string(offset) + ", " + std::to_string(length) + ")";
            *actual = attempt([&] { b.put(data, offset, length); return int64(0); });
            if (offset < 0 || length < 0)
                return fail(E::INDEX_OUT_OF_BOUNDS);
            if (m.remaining() < length)
                return fail(E::BUFFER_OVERFLOW);
            memcpy(&m.bytes[m.position], data + offset, static_cast<size_t>(length));
            m.position += length;
            return value(0);
        }
        *name = "get(dst, " + std::to_string(offset) + ", " + std::to_string(length) + ")";
        char out[16] = {};
        *actual = attempt([&] {
            b.get(out, offset, length);
            return digest(out);
        });
        if (offset < 0 || length < 0)
            return fail(E::INDEX_OUT_OF_BOUNDS);
        if (m.remaining() < length)
            return fail(E::BUFFER_UNDERFLOW);
        char expected[16] = {};
        memcpy(expected + offset, &m.bytes[m.position], static_cast<size_t>(length));
        m.position += length;
        return value(digest(expected));
    }
    case 14: {
        int from = pick(0, 16);
        int to = pick(from, 16);
        _source.limit(16).position(from).limit(to);
        *name = "put(ByteBuffer " + std::to_string(from) + ".." + std::to_string(to) + ")";
        *actual = attempt([&] { b.put(&_source); return int64(_source.position()); });
        if (m.remaining() < to - from)
            return fail(E::BUFFER_OVERFLOW);
        memcpy(&m.bytes[m.position], "0123456789ABCDEF" + from, static_cast<size_t>(to - from));
        m.position += to - from;
        return value(from);
    }
    case 15: {
        *name = "put(itself)";
        *actual = attempt([&] { b.put(&b); return int64(0); });
        return fail(E::ILLEGAL_ARGUMENT);
    }
    case 16: {
        // Bounded growth: the capacity never passes 256.
        int grow = m.capacity() > 240 ? pick(-1, 0) : pick(-1, 8);
        *name = "lengthen(" + std::to_string(grow) + ")";
        *actual = attempt([&] { _buffer->grow(grow); return int64(0); });
        if (grow < 0 || m.wrapped)
            return fail(E::ILLEGAL_ARGUMENT);
        std::vector<unsigned char> grown(static_cast<size_t>(m.capacity() + grow), 0);
        memcpy(grown.data(), m.bytes.data(), static_cast<size_t>(m.limit));
        m.bytes.swap(grown);
        m.limit = m.capacity();
        return value(0);
    }
    default: {
        *name = "getBool()";
        *actual = attempt([&] { return int64(b.getBool()); });
        if (m.position >= m.limit)
            return fail(E::BUFFER_UNDERFLOW);
        return value(m.bytes[m.position++] != 0);
    }
    }
}

std::string Runner::compare(const Outcome& expected, const Outcome& actual)
{
    std::ostringstream out;
    if (!(expected == actual))
        out << "expected error " << expected.error << " value " << expected.value << ", got error "
            << actual.error << " value " << actual.value << "; ";
    ByteBuffer& b = *_buffer;
    if (b.position() != _model.position || b.limit() != _model.limit
        || b.capacity() != _model.capacity() || b.remaining() != _model.remaining()
        || b.hasRemaining() != (_model.remaining() > 0))
        out << "state " << b.position() << "/" << b.limit() << "/" << b.capacity()
            << ", model " << _model.position << "/" << _model.limit << "/" << _model.capacity()
            << "; ";
    if (b.order() != (_model.bigEndian ? ByteOrder::ORDER_BIG_ENDIAN : ByteOrder::ORDER_LITTLE_ENDIAN))
        out << "order differs; ";
    // Every byte of the storage, read without disturbing anything.
    int saved = b.limit();
    b.limit(b.capacity());
    for (int i = 0; i < b.capacity(); ++i) {
        if (static_cast<unsigned char>(b.get(i)) != _model.bytes[i]) {
            out << "byte " << i << " differs; ";
            break;
        }
    }
    b.limit(saved);
    if (_model.wrapped && memcmp(_storage.data(), _model.bytes.data(), _storage.size()) != 0)
        out << "the wrapped array differs; ";
    return out.str();
}

TEST(ByteBufferModelTest, RandomOperationsAgreeWithTheModel)
{
    for (uint32 seed = 1; seed <= 8; ++seed) {
        for (bool wrapped : { false, true }) {
            Runner runner(seed, wrapped);
            std::string why;
            EXPECT_TRUE(runner.run(4000, &why))
                << "seed " << seed << (wrapped ? " wrapped" : " owned") << ": " << why;
        }
    }
}

} // namespace
