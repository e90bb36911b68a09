// Base64 with the RFC 4648 alphabet and padding, no line breaks. Nothing is allocated: the
// caller sizes the output.
//
// Thread safety: pure functions over the caller's buffers and constant tables; any thread.
#pragma once

#include "foundation/Types.h"

namespace Kovan {

extern const char base64digits[];
// Each 7-bit character's value 0..63, or -1 outside the alphabet ("=" included).
extern const int8 base64val[128];

// `out` holds 4 * ceil(inlen / 3) + 1 bytes; the text is NUL-terminated. An inlen of 0 or less
// writes only the NUL.
void base64Encode(uint8* out, const uint8* in, int32 inlen);

// Decodes whole four-character groups up to a NUL or a carriage return; a leading "+ " is
// skipped, and a text that starts with a carriage return is empty. Returns the number of bytes
// written to `out` (no terminator), or -1 at the first invalid group, keeping what was written.
// `out` needs 3 bytes per group.
int32 base64Decode(char* out, const char* in);

// -1 for a character with its top bit set, otherwise base64val[c].
int8 decode64(uint8 c);

} // namespace Kovan
