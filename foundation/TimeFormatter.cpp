#include "foundation/TimeFormatter.h"

#include <cstring>
#include <ctime>

namespace Kovan {

const char* const TimeFormatter::_formats[FORMAT_COUNT] = {
    "%Y?%m?%d",
    "%m?%d?%Y",
    "%d?%m?%Y",
    "%y?%m?%d",
    "%m?%d?%y",
    "%d?%m?%y",
    "%H:%M",
    "%H:%M:%S",
    "%I:%M",
    "%I:%M:%S",
    "%I:%M %p",
    "%I:%M:%S %p",
    "%p %I:%M",
    "%p %I:%M:%S",
};

TimeFormatter::TimeFormatter(int32 format, char dateSeparator) { setFormat(format, dateSeparator); }

TimeFormatter::TimeFormatter(const char* format) { setFormat(format); }

void TimeFormatter::setFormat(int32 format, char dateSeparator)
{
    char s[32];
    _format = makeFormat(s, format, dateSeparator);
}

void TimeFormatter::setFormat(const char* format) { _format = format; }

void TimeFormatter::setAmpmString(const char* am, const char* pm)
{
    _am = am;
    _pm = pm;
}

char* TimeFormatter::makeFormat(char* s, int32 format, char dateSeparator)
{
    if (format < 0 || format >= FORMAT_COUNT) {
        s[0] = '\0';
        return s;
    }
    memcpy(s, _formats[format], strlen(_formats[format]) + 1);
    if (format <= 5) {
        for (char* p = s; '\0' != *p; ++p) {
            if ('?' == *p)
                *p = dateSeparator;
        }
    }
    return s;
}

char* TimeFormatter::print(char* result, int32 sizeOfResult, const Time& t) const
{
    const tm fields = t;
    const char* format = _format;
    Btring<32> working;
    if (!_am.isEmpty() && !_pm.isEmpty() && nullptr != strstr(_format, AMPM)) {
        const char* marker = t.hour() < 12 ? _am.cString() : _pm.cString();
        char pair[3] = { 0, 0, 0 };
        for (const char* p = _format; '\0' != *p; ++p) {
            if ('%' != *p) {
                pair[0] = *p;
                pair[1] = '\0';
                working.append(pair);
            } else if ('p' == p[1]) {
                working.append(marker);
                ++p;
            } else if ('\0' != p[1]) {
                // "%%" stays a literal percent sign even before a p.
                pair[0] = '%';
                pair[1] = p[1];
                working.append(pair);
                ++p;
            } else {
                working.append("%");
            }
        }
        format = working;
    }
    if (sizeOfResult > 0) {
        // The format is data here (the caller's or a built-in one), never a literal.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        const size_t length = strftime(result, static_cast<size_t>(sizeOfResult), format, &fields);
#pragma GCC diagnostic pop
        // A text that does not fit leaves an unterminated part behind: give the empty text.
        if (0 == length)
            result[0] = '\0';
    }
    return result;
}

} // namespace Kovan
