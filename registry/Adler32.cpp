#include "registry/Adler32.h"

namespace Kovan {

namespace {

const uint32 BASE = 65521;
// The most bytes after which the second sum still fits in 32 bits before it is reduced.
const uint32 NMAX = 5552;

// Blocks of up to sixteen 8-byte words, each word split into its even and odd bytes, four 16-bit
// lanes each. `s` sums the bytes of each position; `t` sums `s` after every word, so that a byte
// counts once for each word from its own to the last. Over 16 words no lane of `t` passes
// 255 * (16 * 17 / 2) = 34680: nothing carries from one lane into the next.
const uint32 BLOCK = 128;
const uint64 LOW_BYTES = 0x00FF00FF00FF00FFull;
const uint64 LOW_HALVES = 0x0000FFFF0000FFFFull;

inline uint64 loadLe64(const uint8* p)
{
    // Byte by byte, so neither alignment nor the machine's byte order matters; compilers turn
    // this into one load where the machine allows it.
    return uint64(p[0]) | (uint64(p[1]) << 8) | (uint64(p[2]) << 16) | (uint64(p[3]) << 24)
        | (uint64(p[4]) << 32) | (uint64(p[5]) << 40) | (uint64(p[6]) << 48) | (uint64(p[7]) << 56);
}

// The four 16-bit lanes of `x` added up, each lane below 2^16.
inline uint32 laneSum(uint64 x)
{
    const uint64 pairs = (x & LOW_HALVES) + ((x >> 16) & LOW_HALVES);
    return uint32(pairs) + uint32(pairs >> 32);
}

// Lane k of `x` times k, added up. The product's top lane gathers x0*0 + x1*1 + x2*2 + x3*3;
// while every lane stays below 4096 no partial sum below it reaches 2^16 and carries into it.
inline uint32 laneWeightedSum(uint64 x) { return uint32((x * 0x0000000100020003ull) >> 48); }

// One block of 8 * WORDS bytes: the first sum gains every byte, the second gains the block's
// length times the first sum as it was, plus each byte times the number of bytes from it to the
// end of the block.
template <uint32 WORDS> inline void block(uint32& a, uint32& b, const uint8* p)
{
    static_assert(WORDS <= 16, "the lanes of t would carry");
    uint64 sEven = 0, sOdd = 0, tEven = 0, tOdd = 0;
    for (uint32 i = 0; i < WORDS; ++i, p += 8) {
        const uint64 w = loadLe64(p);
        sEven += w & LOW_BYTES;
        sOdd += (w >> 8) & LOW_BYTES;
        tEven += sEven;
        tOdd += sOdd;
    }
    // The byte at position 8k + j counts (WORDS - k) times in t; its weight is 8 (WORDS - k) - j.
    const uint32 weighted = 8 * (laneSum(tEven) + laneSum(tOdd))
        - (2 * laneWeightedSum(sEven) + 2 * laneWeightedSum(sOdd) + laneSum(sOdd));
    b += 8 * WORDS * a + weighted;
    a += laneSum(sEven) + laneSum(sOdd);
}

} // namespace

uint32 adler32(uint32 adler, const uint8* data, uint32 size)
{
    uint32 a = adler & 0xFFFF;
    uint32 b = adler >> 16;
    while (size > 0) {
        // The sums are the same as adding byte by byte, so the bound on a run between two
        // reductions is the usual one; whole blocks only, but for the last run.
        uint32 n = _min(size, NMAX / BLOCK * BLOCK);
        size -= n;
        for (; n >= BLOCK; n -= BLOCK, data += BLOCK)
            block<16>(a, b, data);
        if (n >= 64) {
            block<8>(a, b, data);
            n -= 64;
            data += 64;
        }
        if (n >= 32) {
            block<4>(a, b, data);
            n -= 32;
            data += 32;
        }
        for (; n >= 8; n -= 8, data += 8) {
            a += data[0];
            b += a;
            a += data[1];
            b += a;
            a += data[2];
            b += a;
            a += data[3];
            b += a;
            a += data[4];
            b += a;
            a += data[5];
            b += a;
            a += data[6];
            b += a;
            a += data[7];
            b += a;
        }
        for (; n > 0; --n) {
            a += *data++;
            b += a;
        }
        a %= BASE;
        b %= BASE;
    }
    return (b << 16) | a;
}

} // namespace Kovan
