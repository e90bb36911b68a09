// Any text through the decoder beside the plain model of its rules (the same count, the same
// bytes, nothing written past them); any bytes through the encoder and back.
#include "support/Base64Reference.h"

#include "registry/Base64.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1 << 16)
        return 0;
    const char SENTINEL = '\x5A';

    // As text: whatever it holds up to its first NUL. Each group of four gives at most three.
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    std::vector<char> out(size / 4 * 3 + 3 + 16, SENTINEL);
    const Kovan::int32 n = Kovan::base64Decode(out.data(), text.data());
    std::string expected;
    if (n != KovanTest::referenceBase64Decode(&expected, text.data()))
        abort();
    if (memcmp(out.data(), expected.data(), expected.size()) != 0)
        abort();
    for (size_t i = expected.size(); i < out.size(); ++i)
        if (SENTINEL != out[i])
            abort();

    // As bytes: the whole text, which decodes to the same bytes.
    std::vector<uint8_t> encoded(4 * ((size + 2) / 3) + 1);
    Kovan::base64Encode(encoded.data(), data, static_cast<Kovan::int32>(size));
    if (strlen(reinterpret_cast<char*>(encoded.data())) != encoded.size() - 1)
        abort();
    if (size > 0) {
        std::vector<char> back(size + 3);
        const Kovan::int32 m
            = Kovan::base64Decode(back.data(), reinterpret_cast<char*>(encoded.data()));
        if (m != static_cast<Kovan::int32>(size) || memcmp(back.data(), data, size) != 0)
            abort();
    }
    return 0;
}
