#include "registry/TextEscape.h"

#include <cstdio>

namespace Kovan {

void escapeText(const void* data, size_t size, EscapeStyle style, std::string* out)
{
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    const bool json = EscapeStyle::JSON == style;
    for (size_t i = 0; i < size; ++i) {
        const unsigned char b = bytes[i];
        if ('\\' == b || (json && '"' == b)) {
            out->push_back('\\');
            out->push_back(static_cast<char>(b));
        } else if (0x20 <= b && b < 0x7f) {
            out->push_back(static_cast<char>(b));
        } else {
            char escape[8];
            (void)snprintf(escape, sizeof(escape), json ? "\\u%04x" : "\\x%02x", b);
            out->append(escape);
        }
    }
}

void FilePrinter::line(const char* text, uint32 length)
{
    if (_raw) {
        (void)fwrite(text, 1, length, _out);
        return;
    }
    const bool newline = length > 0 && '\n' == text[length - 1];
    std::string escaped;
    escapeText(text, newline ? length - 1 : length, EscapeStyle::TERMINAL, &escaped);
    if (newline)
        escaped.push_back('\n');
    (void)fwrite(escaped.data(), 1, escaped.size(), _out);
}

} // namespace Kovan
