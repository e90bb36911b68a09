// Incremental MD5 (RFC 1321). The state is a plain value: a copy taken after any append can be
// handed to init later, on this or another object, to continue the same digest.
//
// Thread safety: an Md5 object is used by one thread at a time; separate objects are independent.
#pragma once

#include "foundation/Types.h"

namespace Kovan {

class Md5 {
public:
    struct State {
        uint32 count[2]; // message length in bits, low word first
        uint32 abcd[4]; // chaining values A, B, C, D
        uint8 buf[64]; // the partial block not yet processed
    };

    // The state is unset until init.
    Md5() { }

    // Null starts a new digest; otherwise resumes from a saved state.
    void init(const State* state);
    // A count of 0 or less adds nothing.
    void append(const uint8* data, int32 bytes);
    void append(const char* data, int32 bytes);
    // Writes 16 bytes. The state keeps the padding; call init before the next digest.
    void finish(uint8* digest);

    const State& state() const { return _state; }

private:
    State _state;
};

} // namespace Kovan
