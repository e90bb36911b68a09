// Base64 decoding straight from its rules, a character at a time (nothing past a terminator is
// read): the model the tests and the fuzzer hold the library's fast decoder to.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace KovanTest {

// Appends what the decoder writes to `out`; returns its count, or -1 with `out` holding what was
// written before the bad group.
inline int32_t referenceBase64Decode(std::string* out, const char* in)
{
    static const char alphabet[]
        = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    size_t i = ('+' == in[0] && ' ' == in[1]) ? 2 : 0;
    if ('\r' == in[i])
        return 0;
    for (;;) {
        char c[4];
        int d[4];
        for (int k = 0; k < 4; ++k) {
            c[k] = in[i + k];
            const char* at = c[k] ? strchr(alphabet, c[k]) : nullptr;
            d[k] = at ? static_cast<int>(at - alphabet) : -1;
            if (d[k] < 0 && !(k >= 2 && '=' == c[k]))
                return -1;
        }
        i += 4;
        *out += static_cast<char>((d[0] << 2) | (d[1] >> 4));
        if ('=' != c[2])
            *out += static_cast<char>(((d[1] << 4) & 0xF0) | (d[2] >> 2));
        if ('=' != c[2] && '=' != c[3])
            *out += static_cast<char>(((d[2] << 6) & 0xC0) | d[3]);
        if ('\0' == in[i] || '\r' == in[i] || '=' == c[3])
            return static_cast<int32_t>(out->size());
    }
}

} // namespace KovanTest
