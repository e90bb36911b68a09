#include "registry/Encrypt.h"

#include "foundation/Tick.h"

#include <cstring>

namespace Kovan {

// A permutation of the work area with one hole, where the salt itself stands.
const int32 Encrypt::s_index[10] = { 7, 2, 9, -1, 0, 5, 3, 8, 1, 4 };

namespace {

// The step added per position before the bit reversal; odd, so equal bytes at different
// positions come out different.
const uint32 STEP = 0x5B;

uint8 reverseBits(uint8 b)
{
    b = uint8(((b & 0xF0) >> 4) | ((b & 0x0F) << 4));
    b = uint8(((b & 0xCC) >> 2) | ((b & 0x33) << 2));
    b = uint8(((b & 0xAA) >> 1) | ((b & 0x55) << 1));
    return b;
}

} // namespace

void Encrypt::encrypt(char* cipher, const char* text, char salt)
{
    uint8 work[10];
    uint32 n = static_cast<uint32>(strnlen(text, 10));
    for (uint32 i = 0; i < 10; ++i)
        work[i] = (i < n) ? uint8(text[i]) : uint8(i);

    const uint32 key = uint8(salt);
    for (uint32 i = 0; i < 10; ++i) {
        if (s_index[i] < 0)
            cipher[i] = salt;
        else
            cipher[i] = char((uint32(work[s_index[i]]) + i * i) * key % 90 + 33);
    }
    cipher[10] = '\0';
}

void Encrypt::encrypt(char* cipher, const char* text)
{
    encrypt(cipher, text, char(currentTick() % 90 + 33));
}

void Encrypt::encryptInvertable(char* cipher, const char* text, int32 cipherLength)
{
    if (cipherLength <= 0) {
        cipher[0] = '\0';
        return;
    }
    const uint32 length = static_cast<uint32>(cipherLength);
    // The text counts up to and with its terminator; what follows is filler that nobody reads
    // back, drawn from the tick and stirred so that consecutive draws differ without waiting.
    const uint32 textBytes = _min(length, static_cast<uint32>(strnlen(text, length)) + 1);
    uint32 stir = currentTick();
    for (uint32 i = 0; i < length; ++i) {
        uint8 byte;
        if (i < textBytes) {
            byte = uint8(text[i]);
        } else {
            stir = stir * 1103515245u + 12345u;
            byte = uint8(stir >> 16);
        }
        cipher[i] = char(reverseBits(uint8(byte + STEP * i)));
    }
    cipher[length] = '\0';
}

void Encrypt::decryptInvertable(char* text, const char* cipher)
{
    for (uint32 i = 0; i < 10; ++i)
        text[i] = char(uint8(reverseBits(uint8(cipher[i])) - STEP * i));
}

} // namespace Kovan
