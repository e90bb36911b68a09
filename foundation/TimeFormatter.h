// A Time as text through strftime, from one of fourteen built-in formats (six date orders with a
// chosen separator, eight clock formats) or a format of the caller's, with optional replacement
// texts for the AM/PM marker.
//
// Thread safety: one thread per object; formatting reads the process's time zone.
#pragma once

#include "foundation/Btring.h"
#include "foundation/Time.h"
#include "foundation/Types.h"

namespace Kovan {

class TimeFormatter {
public:
    // The strftime codes the built-in formats are made of.
    static constexpr const char* YEAR4 = "%Y";
    static constexpr const char* YEAR2 = "%y";
    static constexpr const char* MONTH = "%m";
    static constexpr const char* DAY = "%d";
    static constexpr const char* HOUR24 = "%H";
    static constexpr const char* HOUR12 = "%I";
    static constexpr const char* MINUTE = "%M";
    static constexpr const char* SECOND = "%S";
    static constexpr const char* AMPM = "%p";

    static constexpr int32 FORMAT_COUNT = 14;

    // Built-in format 0..13; the date formats 0..5 put `dateSeparator` between their fields.
    TimeFormatter(int32 format, char dateSeparator);
    // A strftime format of at most 31 characters.
    explicit TimeFormatter(const char* format);

    void setFormat(int32 format, char dateSeparator);
    void setFormat(const char* format);
    // Both texts must be non-empty for the replacement to happen; at most 7 characters each.
    void setAmpmString(const char* am, const char* pm);

    // False when there is no format (a built-in number outside 0..13, or an empty text).
    bool isValid() const { return !_format.isEmpty(); }
    const char* format() const { return _format; }
    const char* amString() const { return _am; }
    const char* pmString() const { return _pm; }

    // Copies built-in format `format` into `s` (at least 12 bytes); a number outside 0..13
    // gives the empty text. Returns `s`.
    static char* makeFormat(char* s, int32 format, char dateSeparator);

    // Formats the valid time `t` into `result` (at most sizeOfResult bytes, NUL included) and
    // returns `result`; a text that does not fit gives the empty text.
    char* print(char* result, int32 sizeOfResult, const Time& t) const;

private:
    static const char* const _formats[FORMAT_COUNT];

    Btring<32> _format;
    Btring<8> _am;
    Btring<8> _pm;
};

} // namespace Kovan
