// Base64 written straight from its rules, a character or a bit at a time and with no table but
// the alphabet: the model the tests and the fuzzer hold the library's fast encoder and decoder
// to.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace KovanTest {

const char BASE64_ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The character's place in the alphabet, or -1.
inline int base64Value(char c)
{
    const void* at = c ? memchr(BASE64_ALPHABET, c, 64) : nullptr;
    return at ? static_cast<int>(static_cast<const char*>(at) - BASE64_ALPHABET) : -1;
}

// Six bits at a time from the front, zero bits after the end, "=" up to a multiple of four.
inline std::string referenceBase64Encode(const std::string& bytes)
{
    std::string text;
    const size_t bits = 8 * bytes.size();
    for (size_t at = 0; at < bits; at += 6) {
        int value = 0;
        for (size_t bit = at; bit < at + 6; ++bit) {
            const int b
                = bit < bits ? (static_cast<uint8_t>(bytes[bit / 8]) >> (7 - bit % 8)) & 1 : 0;
            value = 2 * value + b;
        }
        text += BASE64_ALPHABET[value];
    }
    while (text.size() % 4)
        text += '=';
    return text;
}

// Appends what the decoder writes to `out`; returns its count, or -1 with `out` holding what was
// written before the bad group.
inline int32_t referenceBase64Decode(std::string* out, const char* in)
{
    size_t i = 0;
    if ('+' == in[0] && ' ' == in[1])
        i = 2;
    if ('\r' == in[i])
        return 0;
    for (;;) {
        char c[4];
        int d[4];
        // Character by character, so that nothing past a terminator inside the group is read.
        for (int k = 0; k < 4; ++k) {
            c[k] = in[i + k];
            d[k] = base64Value(c[k]);
            if (d[k] < 0 && !(k >= 2 && '=' == c[k]))
                return -1;
        }
        i += 4;
        *out += static_cast<char>((d[0] << 2) | (d[1] >> 4));
        if ('=' != c[2]) {
            *out += static_cast<char>(((d[1] << 4) & 0xF0) | (d[2] >> 2));
            if ('=' != c[3])
                *out += static_cast<char>(((d[2] << 6) & 0xC0) | d[3]);
        }
        if ('\0' == in[i] || '\r' == in[i] || '=' == c[3])
            return static_cast<int32_t>(out->size());
    }
}

} // namespace KovanTest
