#include "registry/Adler32.h"

namespace Kovan {

namespace {
const uint32 BASE = 65521;
// The most bytes after which the second sum still fits in 32 bits before it is reduced.
const uint32 NMAX = 5552;
} // namespace

uint32 adler32(uint32 adler, const uint8* data, uint32 size)
{
    uint32 a = adler & 0xFFFF;
    uint32 b = adler >> 16;
    while (size > 0) {
        uint32 n = _min(size, NMAX);
        size -= n;
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
