#include "registry/Base64.h"

namespace Kovan {

const char base64digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

#define XX -1
// clang-format off
const int8 base64val[128] = {
    XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX,
    XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX,
    XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, XX, 62, XX, XX, XX, 63,
    52, 53, 54, 55, 56, 57, 58, 59, 60, 61, XX, XX, XX, XX, XX, XX,
    XX, 0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14,
    15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, XX, XX, XX, XX, XX,
    XX, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40,
    41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, XX, XX, XX, XX, XX,
};
// clang-format on
#undef XX

int8 decode64(uint8 c) { return (c & 0x80) ? int8(-1) : base64val[c]; }

void base64Encode(uint8* out, const uint8* in, int32 inlen)
{
    for (; inlen >= 3; inlen -= 3, in += 3) {
        *out++ = base64digits[in[0] >> 2];
        *out++ = base64digits[((in[0] << 4) & 0x30) | (in[1] >> 4)];
        *out++ = base64digits[((in[1] << 2) & 0x3c) | (in[2] >> 6)];
        *out++ = base64digits[in[2] & 0x3f];
    }
    if (inlen > 0) {
        uint8 fragment = (in[0] << 4) & 0x30;
        *out++ = base64digits[in[0] >> 2];
        if (inlen > 1)
            fragment |= in[1] >> 4;
        *out++ = base64digits[fragment];
        *out++ = (inlen < 2) ? '=' : base64digits[(in[1] << 2) & 0x3c];
        *out++ = '=';
    }
    *out = '\0';
}

int32 base64Decode(char* out, const char* in)
{
    const char CR = 13;
    int32 len = 0;

    if ('+' == in[0] && ' ' == in[1])
        in += 2;
    if (CR == *in)
        return 0;

    for (;;) {
        // Looked at one by one, so a NUL inside a group stops the reading there.
        const int d1 = decode64(uint8(in[0]));
        if (d1 < 0)
            return -1;
        const int d2 = decode64(uint8(in[1]));
        if (d2 < 0)
            return -1;
        const char c3 = in[2];
        const int d3 = decode64(uint8(c3));
        if ('=' != c3 && d3 < 0)
            return -1;
        const char c4 = in[3];
        const int d4 = decode64(uint8(c4));
        if ('=' != c4 && d4 < 0)
            return -1;
        in += 4;

        *out++ = char((d1 << 2) | (d2 >> 4));
        ++len;
        if ('=' != c3) {
            *out++ = char(((d2 << 4) & 0xF0) | (d3 >> 2));
            ++len;
            if ('=' != c4) {
                *out++ = char(((d3 << 6) & 0xC0) | d4);
                ++len;
            }
        }
        if ('\0' == *in || CR == *in || '=' == c4)
            return len;
    }
}

} // namespace Kovan
