// An IPv4 address as four bytes in network order (f0 is the leftmost number of the dotted form),
// also readable as one word in the machine's byte order. 0.0.0.0 is both empty and failed.
//
// Thread safety: a plain value; an object is used by one thread at a time.
#pragma once

#include "foundation/Types.h"

namespace Kovan {

class IpAddress {
public:
    IpAddress();
    IpAddress(const IpAddress& other);
    IpAddress(int32 f0, int32 f1, int32 f2, int32 f3);
    explicit IpAddress(const char* s);
    ~IpAddress() = default;

    void set(int32 f0, int32 f1, int32 f2, int32 f3);
    void set(const IpAddress& other);
    // A bad text leaves 0.0.0.0; a text with fewer than four fields keeps the fields it omits.
    void set(const char* s);
    void setField(int32 field, int32 value);
    uint8 field(uint32 index) const;

    IpAddress& operator=(const IpAddress& other);
    IpAddress& operator=(const char* s);
    bool operator==(const IpAddress& other) const;
    bool operator!=(const IpAddress& other) const { return !operator==(other); }

    // Anything but 0.0.0.0.
    bool isValid() const;
    uint32 toUint32() const { return _u._value; }
    void fromUint32(uint32 value) { _u._value = value; }
    // Parses like set(const char*); true when the result is not 0.0.0.0.
    bool fromString(const char* s);
    // Writes the dotted form into `buffer`, which must hold at least 16 bytes.
    const char* toString(char* buffer) const;

private:
    union {
        struct {
            uint8 f0;
            uint8 f1;
            uint8 f2;
            uint8 f3;
        } _field;
        uint32 _value;
    } _u;
};

} // namespace Kovan
