// The shipped programs' usage error: one line on standard error, status 2. The offending word
// comes from the command line, so a byte that is not printable text is shown as \xHH rather than
// sent to the terminal.
#pragma once

#include <cstdio>
#include <string>

namespace KovanPrograms {

inline int usageError(const char* program, const char* synopsis, const char* what, const char* word)
{
    std::string shown;
    if (word) {
        shown = " \"";
        for (const char* p = word; *p; ++p) {
            const unsigned char c = static_cast<unsigned char>(*p);
            char hex[5];
            (void)snprintf(hex, sizeof(hex), "\\x%02x", c);
            shown += (c >= 0x20 && c < 0x7f) ? std::string(1, *p) : std::string(hex);
        }
        shown += "\"";
    }
    (void)fprintf(
        stderr, "%s: %s%s; usage: %s %s\n", program, what, shown.c_str(), program, synopsis);
    return 2;
}

} // namespace KovanPrograms
