#include "foundation/IpAddress.h"

#include "foundation/Btring.h"
#include "foundation/Trace.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace Kovan {

IpAddress::IpAddress() { set(0, 0, 0, 0); }

IpAddress::IpAddress(const IpAddress& other) { set(other); }

IpAddress::IpAddress(int32 f0, int32 f1, int32 f2, int32 f3) { set(f0, f1, f2, f3); }

IpAddress::IpAddress(const char* s)
{
    set(0, 0, 0, 0);
    set(s);
}

void IpAddress::set(int32 f0, int32 f1, int32 f2, int32 f3)
{
    KOVAN_CHECK(0 <= f0 && f0 <= 255 && 0 <= f1 && f1 <= 255 && 0 <= f2 && f2 <= 255 && 0 <= f3
        && f3 <= 255);
    _u._field.f0 = static_cast<uint8>(f0);
    _u._field.f1 = static_cast<uint8>(f1);
    _u._field.f2 = static_cast<uint8>(f2);
    _u._field.f3 = static_cast<uint8>(f3);
}

void IpAddress::set(const IpAddress& other) { _u._value = other._u._value; }

void IpAddress::set(const char* s)
{
    int32 index = 0;
    const char* start = s;
    for (const char* p = s;; ++p) {
        if ('\0' != *p && '.' != *p) {
            if (index > 3 || !isdigit(static_cast<unsigned char>(*p)))
                break;
            continue;
        }
        if (!isdigit(static_cast<unsigned char>(*start)))
            break;
        // A run of digits too long for a long saturates and fails the 255 test: no overflow.
        const long value = strtol(start, nullptr, 10);
        if (value > 255)
            break;
        setField(index, static_cast<int32>(value));
        if ('\0' == *p)
            return;
        start = p + 1;
        ++index;
    }
    set(0, 0, 0, 0);
}

void IpAddress::setField(int32 field, int32 value)
{
    KOVAN_CHECK(0 <= field && field <= 3);
    KOVAN_CHECK(0 <= value && value <= 255);
    switch (field) {
    case 0:
        _u._field.f0 = static_cast<uint8>(value);
        break;
    case 1:
        _u._field.f1 = static_cast<uint8>(value);
        break;
    case 2:
        _u._field.f2 = static_cast<uint8>(value);
        break;
    default:
        _u._field.f3 = static_cast<uint8>(value);
        break;
    }
}

uint8 IpAddress::field(uint32 index) const
{
    switch (index) {
    case 0:
        return _u._field.f0;
    case 1:
        return _u._field.f1;
    case 2:
        return _u._field.f2;
    default:
        return _u._field.f3;
    }
}

IpAddress& IpAddress::operator=(const IpAddress& other) = default;

IpAddress& IpAddress::operator=(const char* s)
{
    set(s);
    return *this;
}

bool IpAddress::operator==(const IpAddress& other) const
{
    return _u._field.f0 == other._u._field.f0 && _u._field.f1 == other._u._field.f1
        && _u._field.f2 == other._u._field.f2 && _u._field.f3 == other._u._field.f3;
}

bool IpAddress::isValid() const { return 0 != _u._value; }

bool IpAddress::fromString(const char* s)
{
    set(s);
    return isValid();
}

const char* IpAddress::toString(char* buffer) const
{
    // Formatted apart and then assigned: the longest address fills all 15 characters, which the
    // bounded printf would report as a cut although nothing is lost.
    char text[24];
    (void)snprintf(
        text, sizeof(text), "%d.%d.%d.%d", _u._field.f0, _u._field.f1, _u._field.f2, _u._field.f3);
    Ptring(buffer, 16, text);
    return buffer;
}

} // namespace Kovan
