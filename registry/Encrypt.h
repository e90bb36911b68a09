// Two text scrambles of the library's own: a keyed one-way scramble of up to ten characters into
// ten printable ones, and a reversible byte scramble. Neither is cryptography; they keep casual
// eyes off short secrets in settings files.
//
// Thread safety: the scrambles keep no state between calls; any thread may call them.
#pragma once

#include "foundation/Types.h"

namespace Kovan {

class Encrypt {
public:
    // `cipher` holds 11 bytes: ten characters from "!" to "z" and a terminator. The salt comes
    // from the clock and stands in the output, so each call gives another text.
    static void encrypt(char* cipher, const char* text);

    // `cipher` holds cipherLength + 1 bytes. The bytes of `text` are read up to its terminator
    // (and the terminator itself); positions after it are filled with throw-away bytes, so a
    // short text need not provide cipherLength bytes.
    static void encryptInvertable(char* cipher, const char* text, int32 cipherLength);
    // Undoes encryptInvertable for exactly ten bytes; writes no terminator of its own.
    static void decryptInvertable(char* text, const char* cipher);

protected:
    static void encrypt(char* cipher, const char* text, char salt);

private:
    static const int32 s_index[10];
};

} // namespace Kovan
