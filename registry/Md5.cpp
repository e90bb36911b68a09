#include "registry/Md5.h"

#include <cstring>

namespace Kovan {

namespace {

inline uint32 loadLe32(const uint8* p)
{
    // Byte by byte, so neither alignment nor the machine's byte order matters; compilers turn
    // this into one load where the machine allows it.
    return uint32(p[0]) | (uint32(p[1]) << 8) | (uint32(p[2]) << 16) | (uint32(p[3]) << 24);
}

inline void storeLe32(uint8* p, uint32 v)
{
    p[0] = uint8(v);
    p[1] = uint8(v >> 8);
    p[2] = uint8(v >> 16);
    p[3] = uint8(v >> 24);
}

inline uint32 word(const uint8* block, size_t k) { return loadLe32(block + 4 * k); }

template <int S> inline uint32 rotateLeft(uint32 x) { return (x << S) | (x >> (32 - S)); }

// The four step kinds of RFC 1321. `a` is the oldest chaining value and `b` the newest: the
// message word and constant (`xt`) and whatever depends only on c and d are added first, so
// the chain from one step to the next goes through as few operations on `b` as possible.
template <int S> inline void stepF(uint32& a, uint32 b, uint32 c, uint32 d, uint32 xt)
{
    // (b & c) | (~b & d), as a select that needs b only once.
    a += xt;
    a += d ^ (b & (c ^ d));
    a = rotateLeft<S>(a) + b;
}

template <int S> inline void stepG(uint32& a, uint32 b, uint32 c, uint32 d, uint32 xt)
{
    // (b & d) | (c & ~d): the two halves have no bit in common, so they may be added, and the
    // half without b goes in early.
    a += xt + (c & ~d);
    a += b & d;
    a = rotateLeft<S>(a) + b;
}

template <int S> inline void stepH(uint32& a, uint32 b, uint32 c, uint32 d, uint32 xt)
{
    a += xt;
    a += b ^ (c ^ d);
    a = rotateLeft<S>(a) + b;
}

template <int S> inline void stepI(uint32& a, uint32 b, uint32 c, uint32 d, uint32 xt)
{
    a += xt;
    a += c ^ (b | ~d);
    a = rotateLeft<S>(a) + b;
}

// Runs `blocks` 64-byte blocks through the compression function, the chaining values in locals
// from the first block to the last.
void compress(uint32 abcd[4], const uint8* p, uint32 blocks)
{
    uint32 a = abcd[0], b = abcd[1], c = abcd[2], d = abcd[3];
    for (; blocks > 0; --blocks, p += 64) {
        const uint32 a0 = a, b0 = b, c0 = c, d0 = d;
        // clang-format off
        stepF<7>(a, b, c, d, word(p, 0) + 0xd76aa478);
        stepF<12>(d, a, b, c, word(p, 1) + 0xe8c7b756);
        stepF<17>(c, d, a, b, word(p, 2) + 0x242070db);
        stepF<22>(b, c, d, a, word(p, 3) + 0xc1bdceee);
        stepF<7>(a, b, c, d, word(p, 4) + 0xf57c0faf);
        stepF<12>(d, a, b, c, word(p, 5) + 0x4787c62a);
        stepF<17>(c, d, a, b, word(p, 6) + 0xa8304613);
        stepF<22>(b, c, d, a, word(p, 7) + 0xfd469501);
        stepF<7>(a, b, c, d, word(p, 8) + 0x698098d8);
        stepF<12>(d, a, b, c, word(p, 9) + 0x8b44f7af);
        stepF<17>(c, d, a, b, word(p, 10) + 0xffff5bb1);
        stepF<22>(b, c, d, a, word(p, 11) + 0x895cd7be);
        stepF<7>(a, b, c, d, word(p, 12) + 0x6b901122);
        stepF<12>(d, a, b, c, word(p, 13) + 0xfd987193);
        stepF<17>(c, d, a, b, word(p, 14) + 0xa679438e);
        stepF<22>(b, c, d, a, word(p, 15) + 0x49b40821);

        stepG<5>(a, b, c, d, word(p, 1) + 0xf61e2562);
        stepG<9>(d, a, b, c, word(p, 6) + 0xc040b340);
        stepG<14>(c, d, a, b, word(p, 11) + 0x265e5a51);
        stepG<20>(b, c, d, a, word(p, 0) + 0xe9b6c7aa);
        stepG<5>(a, b, c, d, word(p, 5) + 0xd62f105d);
        stepG<9>(d, a, b, c, word(p, 10) + 0x02441453);
        stepG<14>(c, d, a, b, word(p, 15) + 0xd8a1e681);
        stepG<20>(b, c, d, a, word(p, 4) + 0xe7d3fbc8);
        stepG<5>(a, b, c, d, word(p, 9) + 0x21e1cde6);
        stepG<9>(d, a, b, c, word(p, 14) + 0xc33707d6);
        stepG<14>(c, d, a, b, word(p, 3) + 0xf4d50d87);
        stepG<20>(b, c, d, a, word(p, 8) + 0x455a14ed);
        stepG<5>(a, b, c, d, word(p, 13) + 0xa9e3e905);
        stepG<9>(d, a, b, c, word(p, 2) + 0xfcefa3f8);
        stepG<14>(c, d, a, b, word(p, 7) + 0x676f02d9);
        stepG<20>(b, c, d, a, word(p, 12) + 0x8d2a4c8a);

        stepH<4>(a, b, c, d, word(p, 5) + 0xfffa3942);
        stepH<11>(d, a, b, c, word(p, 8) + 0x8771f681);
        stepH<16>(c, d, a, b, word(p, 11) + 0x6d9d6122);
        stepH<23>(b, c, d, a, word(p, 14) + 0xfde5380c);
        stepH<4>(a, b, c, d, word(p, 1) + 0xa4beea44);
        stepH<11>(d, a, b, c, word(p, 4) + 0x4bdecfa9);
        stepH<16>(c, d, a, b, word(p, 7) + 0xf6bb4b60);
        stepH<23>(b, c, d, a, word(p, 10) + 0xbebfbc70);
        stepH<4>(a, b, c, d, word(p, 13) + 0x289b7ec6);
        stepH<11>(d, a, b, c, word(p, 0) + 0xeaa127fa);
        stepH<16>(c, d, a, b, word(p, 3) + 0xd4ef3085);
        stepH<23>(b, c, d, a, word(p, 6) + 0x04881d05);
        stepH<4>(a, b, c, d, word(p, 9) + 0xd9d4d039);
        stepH<11>(d, a, b, c, word(p, 12) + 0xe6db99e5);
        stepH<16>(c, d, a, b, word(p, 15) + 0x1fa27cf8);
        stepH<23>(b, c, d, a, word(p, 2) + 0xc4ac5665);

        stepI<6>(a, b, c, d, word(p, 0) + 0xf4292244);
        stepI<10>(d, a, b, c, word(p, 7) + 0x432aff97);
        stepI<15>(c, d, a, b, word(p, 14) + 0xab9423a7);
        stepI<21>(b, c, d, a, word(p, 5) + 0xfc93a039);
        stepI<6>(a, b, c, d, word(p, 12) + 0x655b59c3);
        stepI<10>(d, a, b, c, word(p, 3) + 0x8f0ccc92);
        stepI<15>(c, d, a, b, word(p, 10) + 0xffeff47d);
        stepI<21>(b, c, d, a, word(p, 1) + 0x85845dd1);
        stepI<6>(a, b, c, d, word(p, 8) + 0x6fa87e4f);
        stepI<10>(d, a, b, c, word(p, 15) + 0xfe2ce6e0);
        stepI<15>(c, d, a, b, word(p, 6) + 0xa3014314);
        stepI<21>(b, c, d, a, word(p, 13) + 0x4e0811a1);
        stepI<6>(a, b, c, d, word(p, 4) + 0xf7537e82);
        stepI<10>(d, a, b, c, word(p, 11) + 0xbd3af235);
        stepI<15>(c, d, a, b, word(p, 2) + 0x2ad7d2bb);
        stepI<21>(b, c, d, a, word(p, 9) + 0xeb86d391);
        // clang-format on
        a += a0;
        b += b0;
        c += c0;
        d += d0;
    }
    abcd[0] = a;
    abcd[1] = b;
    abcd[2] = c;
    abcd[3] = d;
}

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
        compress(_state.abcd, _state.buf, 1);
        data += room;
        n -= room;
    }
    // Whole blocks straight from the caller's bytes, without a copy.
    compress(_state.abcd, data, n / 64);
    data += n & ~63u;
    n &= 63;
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
    for (size_t i = 0; i < 4; ++i)
        storeLe32(digest + 4 * i, _state.abcd[i]);
}

} // namespace Kovan
