#include "registry/Md5.h"

#include <cstring>

namespace Kovan {

namespace {

inline uint32 rotateLeft(uint32 x, int n) { return (x << n) | (x >> (32 - n)); }

inline uint32 loadLe32(const uint8* p)
{
    return uint32(p[0]) | (uint32(p[1]) << 8) | (uint32(p[2]) << 16) | (uint32(p[3]) << 24);
}

inline void storeLe32(uint8* p, uint32 v)
{
    p[0] = uint8(v);
    p[1] = uint8(v >> 8);
    p[2] = uint8(v >> 16);
    p[3] = uint8(v >> 24);
}

// Per-step additive constants: floor(abs(sin(i + 1)) * 2^32).
// clang-format off
const uint32 T[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};
// clang-format on

const int SHIFT[4][4]
    = { { 7, 12, 17, 22 }, { 5, 9, 14, 20 }, { 4, 11, 16, 23 }, { 6, 10, 15, 21 } };

} // namespace

void Md5::init(const State* state)
{
    if (state) {
        _state = *state;
        return;
    }
    _state.count[0] = 0;
    _state.count[1] = 0;
    _state.abcd[0] = 0x67452301;
    _state.abcd[1] = 0xefcdab89;
    _state.abcd[2] = 0x98badcfe;
    _state.abcd[3] = 0x10325476;
    memset(_state.buf, 0, sizeof(_state.buf));
}

void Md5::process(const uint8* block)
{
    uint32 x[16];
    for (int i = 0; i < 16; ++i)
        x[i] = loadLe32(block + 4 * i);

    uint32 a = _state.abcd[0], b = _state.abcd[1], c = _state.abcd[2], d = _state.abcd[3];
    // One loop per round with its own function, so that each unrolls without a branch.
    auto step = [&](uint32 f, int i, int k, int shift) {
        const uint32 sum = a + f + T[i] + x[k];
        a = d;
        d = c;
        c = b;
        b = b + rotateLeft(sum, shift);
    };
    for (int i = 0; i < 16; ++i)
        step((b & c) | (~b & d), i, i, SHIFT[0][i & 3]);
    for (int i = 16; i < 32; ++i)
        step((b & d) | (c & ~d), i, (5 * i + 1) & 15, SHIFT[1][i & 3]);
    for (int i = 32; i < 48; ++i)
        step(b ^ c ^ d, i, (3 * i + 5) & 15, SHIFT[2][i & 3]);
    for (int i = 48; i < 64; ++i)
        step(c ^ (b | ~d), i, (7 * i) & 15, SHIFT[3][i & 3]);
    _state.abcd[0] += a;
    _state.abcd[1] += b;
    _state.abcd[2] += c;
    _state.abcd[3] += d;
}

void Md5::append(const uint8* data, int32 bytes)
{
    if (bytes <= 0)
        return;
    uint32 n = static_cast<uint32>(bytes);
    uint32 used = (_state.count[0] >> 3) & 63;

    // The bit count is 64 bits over two words; the carry covers the whole byte count.
    uint32 bitsLow = n << 3;
    _state.count[1] += n >> 29;
    _state.count[0] += bitsLow;
    if (_state.count[0] < bitsLow)
        ++_state.count[1];

    if (used) {
        uint32 room = 64 - used;
        if (n < room) {
            memcpy(_state.buf + used, data, n);
            return;
        }
        memcpy(_state.buf + used, data, room);
        process(_state.buf);
        data += room;
        n -= room;
    }
    for (; n >= 64; data += 64, n -= 64)
        process(data);
    if (n)
        memcpy(_state.buf, data, n);
}

void Md5::append(const char* data, int32 bytes)
{
    append(reinterpret_cast<const uint8*>(data), bytes);
}

void Md5::finish(uint8* digest)
{
    static const uint8 PAD[64] = { 0x80 };
    uint8 length[8];
    storeLe32(length, _state.count[0]);
    storeLe32(length + 4, _state.count[1]);

    uint32 used = (_state.count[0] >> 3) & 63;
    uint32 padBytes = (used < 56) ? 56 - used : 120 - used;
    append(PAD, static_cast<int32>(padBytes));
    append(length, 8);
    for (int i = 0; i < 4; ++i)
        storeLe32(digest + 4 * i, _state.abcd[i]);
}

} // namespace Kovan
