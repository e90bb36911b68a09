// Bytes from a settings file shown on a terminal or in JSON. A file is data anyone may have
// written: a value or header text can hold escape sequences that clear the screen, retitle the
// window or redraw a line, so our programs pass every such byte on only as an escape. The
// registry's own print, and a program's --raw, keep the bytes as they are.
//
// Thread safety: a pure function; any thread may call it.
#pragma once

#include "registry/Registry.h"

#include <cstddef>
#include <cstdio>
#include <string>

namespace Kovan {

enum class EscapeStyle {
    // Printable ASCII (0x20-0x7e) as it is, a backslash doubled, every other byte as \xHH: no
    // control byte, no byte of 0x7f and above. Text in other scripts shows as escapes too, since
    // the bytes 0x80-0x9f of UTF-8 are also C1 controls to a terminal that reads Latin-1.
    TERMINAL,
    // The inside of a JSON string: '"' and '\' escaped, printable ASCII as it is, every other
    // byte as \u00HH (one code point per byte, so any bytes give valid JSON).
    JSON,
};

// Appends the escaped form of `size` bytes at `data` to `out`.
void escapeText(const void* data, size_t size, EscapeStyle style, std::string* out);

// A dump's lines to a stream: escaped in the TERMINAL style (the final newline kept), or, raw,
// as the file holds them. Used by a single thread at a time, like the registry it prints.
class FilePrinter : public Registry::Printer {
public:
    FilePrinter(FILE* out, bool raw)
        : _out(out)
        , _raw(raw)
    {
    }
    void line(const char* text, uint32 length) override;

private:
    FILE* _out;
    bool _raw;
};

} // namespace Kovan
