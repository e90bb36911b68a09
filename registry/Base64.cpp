#include "registry/Base64.h"

#include <cstring>

namespace Kovan {

// Constant here, so the tables below are built from it while compiling; extern by the header.
constexpr char base64digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

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

namespace {

const char CR = 13;

// Two output characters for each 12 bits of input, so a group of three bytes costs two lookups.
struct PairTable {
    char pair[4096][2];
};

constexpr PairTable makePairTable()
{
    PairTable t {};
    for (int v = 0; v < 4096; ++v) {
        t.pair[v][0] = base64digits[v >> 6];
        t.pair[v][1] = base64digits[v & 63];
    }
    return t;
}

constexpr PairTable PAIRS = makePairTable();

// For the character at position i of a group, its six bits already in their places among the
// group's three bytes, the first byte in the low eight bits (so that storing them needs no
// reordering where the machine is little-endian); anything but an alphabet character, "="
// included, sets a bit above them. OR-ing the four entries gives the three bytes and, in one
// test, whether the group is plain.
const uint32 NOT_PLAIN = 1u << 24;

struct GroupTable {
    uint32 bits[4][256];
};

constexpr uint32 placed(int i, uint32 v)
{
    switch (i) {
    case 0:
        return v << 2;
    case 1:
        return (v >> 4) | ((v & 0x0F) << 12);
    case 2:
        return ((v >> 2) << 8) | ((v & 0x03) << 22);
    default:
        return v << 16;
    }
}

constexpr GroupTable makeGroupTable()
{
    GroupTable t {};
    for (int i = 0; i < 4; ++i) {
        for (int c = 0; c < 256; ++c)
            t.bits[i][c] = NOT_PLAIN;
        for (int v = 0; v < 64; ++v)
            t.bits[i][uint8(base64digits[v])] = placed(i, uint32(v));
    }
    return t;
}

constexpr GroupTable GROUPS = makeGroupTable();

inline uint32 group(const char* in)
{
    return GROUPS.bits[0][uint8(in[0])] | GROUPS.bits[1][uint8(in[1])]
        | GROUPS.bits[2][uint8(in[2])] | GROUPS.bits[3][uint8(in[3])];
}

// How far ahead the decoder looks for the terminator at a time: it reads four characters at once
// only where it knows none of them is past the end of the text.
const size_t LOOKAHEAD = 4096;

} // namespace

void base64Encode(uint8* out, const uint8* in, int32 inlen)
{
    for (; inlen >= 3; inlen -= 3, in += 3, out += 4) {
        const uint32 v = (uint32(in[0]) << 16) | (uint32(in[1]) << 8) | in[2];
        memcpy(out, PAIRS.pair[v >> 12], 2);
        memcpy(out + 2, PAIRS.pair[v & 0xFFF], 2);
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
    if ('+' == in[0] && ' ' == in[1])
        in += 2;
    if (CR == *in)
        return 0;

    char* const start = out;
    // Every character before `known` is not the terminator.
    const char* known = in;
    for (;;) {
        // Plain groups: four alphabet characters, no padding, all before the terminator. Two
        // groups share one test while the text allows.
        for (;;) {
            if (known - in < 8) {
                known = in + strnlen(in, LOOKAHEAD);
                if (known - in < 8)
                    break;
            }
            const uint32 v = group(in), w = group(in + 4);
            if ((v | w) & ~0xFFFFFFu)
                break;
            const uint64 six = v | (uint64(w) << 24);
            out[0] = char(six);
            out[1] = char(six >> 8);
            out[2] = char(six >> 16);
            out[3] = char(six >> 24);
            out[4] = char(six >> 32);
            out[5] = char(six >> 40);
            out += 6;
            in += 8;
        }
        if (known - in >= 4) {
            const uint32 v = group(in);
            if (0 == (v & ~0xFFFFFFu)) {
                out[0] = char(v);
                out[1] = char(v >> 8);
                out[2] = char(v >> 16);
                out += 3;
                in += 4;
            }
        }

        // Anything else: the end of the text, a carriage return, padding or a bad character.
        // Every group writes at least one byte, so an empty output means this is the first group,
        // which a terminator does not end.
        const int32 len = int32(out - start);
        if (len > 0 && ('\0' == *in || CR == *in))
            return len;
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
        if ('=' != c3) {
            *out++ = char(((d2 << 4) & 0xF0) | (d3 >> 2));
            if ('=' != c4)
                *out++ = char(((d3 << 6) & 0xC0) | d4);
        }
        if ('=' == c4)
            return int32(out - start);
    }
}

} // namespace Kovan
