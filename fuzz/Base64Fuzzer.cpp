// Any text through the decoder; any bytes through the encoder and back.
#include "registry/Base64.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1 << 16)
        return 0;

    // As text: whatever it holds up to its first NUL. Each group of four gives at most three.
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    std::vector<char> out(size / 4 * 3 + 3);
    const Kovan::int32 n = Kovan::base64Decode(out.data(), text.data());
    if (n < -1 || n > static_cast<Kovan::int32>(out.size()))
        abort();

    // As bytes: the encoding decodes to the same bytes.
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
