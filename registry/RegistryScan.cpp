// The whole-tree walk and the readable dump built on it.
#include "foundation/Btring.h"
#include "foundation/Trace.h"
#include "registry/Registry.h"
#include "registry/RegistryWalk.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace Kovan {

namespace {

const char* const TYPE_NAMES[] = { "KEY", "BOOL", "INT8", "UINT8", "INT16", "UINT16", "INT32",
    "UINT32", "INT64", "UINT64", "FLOAT", "DOUBLE", "STRING", "BINARY" };

// Writes the dump one call per line: through trace, or to a printer. Without its frame it
// writes only the tree (the title, header and closing lines are left out).
class TraceScanner : public Registry::Scanner {
public:
    explicit TraceScanner(
        const char* label, Registry::Printer* printer = nullptr, bool framed = true)
        : _label(label)
        , _buffer {}
        , _printer(printer)
        , _framed(framed)
    {
        setBuffer(_buffer, sizeof(_buffer));
    }

    void begin() override
    {
        if (_framed)
            emit("%s ===================================\n", _label.cString());
    }

    void headerLoaded(const Registry& registry) override
    {
        if (!_framed)
            return;
        if (Registry::VERSION_1 == registry.version()) {
            emit("magic: none\n");
            emit("version: VERSION_1\n");
            return;
        }
        emit("magic      : %u\n", Registry::REGISTRY_MAGIC);
        emit("version    : VERSOIN_%u\n", registry.version());
        emit("app-product: %u\n", registry.appProduct());
        emit("app-oem    : %u\n", registry.appOem());
        emit("app-version: %s\n", registry.appVersion());
        emit("app-build  : %s\n", registry.appBuild());
    }

    void keyLoaded(uint16 id) override
    {
        if (0 == id) {
            emit("ROOT\n");
            return;
        }
        Line line;
        line.indent(depth());
        line.add("[%d]: KEY\n", id);
        flush(line);
    }

    void itemLoaded(uint16 id, uint16 type, uint32 size) override
    {
        // Bytes past what this value put in the buffer would be left over from earlier values;
        // clearing them keeps the dump a function of this value alone.
        const uint32 got = _min(size, static_cast<uint32>(sizeof(_buffer)));
        memset(_buffer + got, 0, sizeof(_buffer) - got);

        Line line;
        line.indent(depth() + 1);
        if (1 <= type && type <= 13)
            line.add("[%d]: %s ", id, TYPE_NAMES[type]);
        else
            line.add("[%d]: UNKNOWN-TYPE ", id);

        const int32 n = static_cast<int32>(size);
        switch (type) {
        case Registry::BOOL:
            line.add("[%d: %s]", n, _buffer[0] ? "true" : "false");
            break;
        case Registry::INT8:
            line.add("[%d: %d]", n, static_cast<int8>(_buffer[0]));
            break;
        case Registry::UINT8:
            line.add("[%d: %u]", n, _buffer[0]);
            break;
        case Registry::INT16:
            line.add("[%d: %d]", n, first<int16>());
            break;
        case Registry::UINT16:
            line.add("[%d: %u]", n, first<uint16>());
            break;
        case Registry::INT32:
            line.add("[%d: %d]", n, first<int32>());
            break;
        case Registry::UINT32:
            line.add("[%d: %u]", n, first<uint32>());
            break;
        case Registry::INT64:
            line.add("[%d: %" PRId64 "]", n, first<int64>());
            break;
        case Registry::UINT64:
            line.add("[%d: %" PRIu64 "]", n, first<uint64>());
            break;
        case Registry::FLOAT:
            line.add("[%d: %f]", n, static_cast<double>(first<float>()));
            break;
        case Registry::DOUBLE:
            line.add("[%d: %lf]", n, detail::doubleFromFile(_buffer));
            break;
        case Registry::STRING:
            // Stored without a terminator: show no more than was read.
            line.add("[%d: \"%.*s\"]", n, static_cast<int>(got), reinterpret_cast<char*>(_buffer));
            break;
        default:
            line.add("[%d: %s]", n, rendering());
            break;
        }
        line.add("\n");
        flush(line);
    }

    void end() override
    {
        if (_framed)
            emit("=====================================\n");
    }

private:
    // One dump line gathered before it is written, so that a line is one write.
    class Line {
    public:
        Line()
            : _length(0)
        {
            _text[0] = '\0';
        }
        void indent(int32 steps)
        {
            for (int32 i = 0; i < steps; ++i)
                add("    ");
        }
        void add(const char* fmt, ...) __attribute__((format(printf, 2, 3)))
        {
            va_list args;
            va_start(args, fmt);
            vadd(fmt, args);
            va_end(args);
        }
        void vadd(const char* fmt, va_list args) __attribute__((format(printf, 2, 0)))
        {
            if (_length >= sizeof(_text) - 1)
                return;
            const int written = vsnprintf(_text + _length, sizeof(_text) - _length, fmt, args);
            if (written > 0)
                _length = _min(
                    _length + static_cast<uint32>(written), static_cast<uint32>(sizeof(_text) - 1));
        }
        const char* text() const { return _text; }
        uint32 length() const { return _length; }

    private:
        char _text[512];
        uint32 _length;
    };

    void flush(const Line& line)
    {
        if (_printer)
            _printer->line(line.text(), line.length());
        else
            trace("%s", line.text());
    }

    void emit(const char* fmt, ...) __attribute__((format(printf, 2, 3)))
    {
        Line line;
        va_list args;
        va_start(args, fmt);
        line.vadd(fmt, args);
        va_end(args);
        flush(line);
    }

    template <typename T> T first() const
    {
        T value;
        memcpy(&value, _buffer, sizeof(T));
        return value;
    }

    const char* rendering()
    {
        for (uint32 i = 0; i < sizeof(_buffer); ++i) {
            const uint8 b = _buffer[i];
            switch (b) {
            case 0:
                _rendering[i] = ' ';
                break;
            case 8:
                _rendering[i] = 'b';
                break;
            case 9:
                _rendering[i] = 't';
                break;
            case 10:
                _rendering[i] = 'n';
                break;
            case 13:
                _rendering[i] = 'r';
                break;
            default:
                _rendering[i] = static_cast<char>(b);
                break;
            }
        }
        _rendering[sizeof(_buffer)] = '\0';
        return _rendering;
    }

    Btring<32> _label;
    uint8 _buffer[64];
    char _rendering[65];
    Registry::Printer* _printer;
    bool _framed;
};

} // namespace

void Registry::scan(Scanner* scanner)
{
    KOVAN_CHECK(_file.isOpen());
    KOVAN_CHECK(0 == scanner->buffer() || (0 != scanner->buffer() && 0 != scanner->bufferSize()));
    try {
        scanner->begin();
        scanner->headerLoaded(*this);

        // One walk, so one budget, for the whole tree.
        Walk walk(*this);
        const uint32 offset = rootOffset();
        Item root;
        walk.load(offset, &root);
        scanFrom(scanner, walk, root, offset, 0);
        scanner->end();
    } catch (...) {
        trace("Exception is thrown in Registry::scan()\n");
        throw;
    }
}

void Registry::scanPath(Scanner* scanner)
{
    KOVAN_CHECK(_file.isOpen());
    KOVAN_CHECK(0 == scanner->buffer() || (0 != scanner->buffer() && 0 != scanner->bufferSize()));
    scanner->begin();
    scanner->headerLoaded(*this);
    Walk walk(*this);
    resolvePath(walk);
    scanFrom(scanner, walk, _pathItem, _pathItemOffset, _depth);
    scanner->end();
}

void Registry::scanFrom(Scanner* scanner, Walk& walk, const Item& key, uint32 offset, uint32 level)
{
    scanner->keyLoaded(key.id);
    // From where the key's child link points, as lookups go: a writer killed after it appended
    // the root's first record but before it linked it leaves a record right behind the root
    // that no lookup reaches, and the first child further on.
    const uint32 first = walk.firstChild(key, offset);
    if (0 != first) {
        ++scanner->_depth;
        scanLevel(scanner, walk, first, level + 1);
        --scanner->_depth;
    }
}

void Registry::scanLevel(Scanner* scanner, Walk& walk, uint32 first, uint32 level)
{
    for (Siblings siblings(walk, first); siblings.next();) {
        const Item& item = siblings.item();
        if (KEY == item.type) {
            scanner->keyLoaded(item.id);
            if (0 != item.child) {
                // Paths reach MAX_DEPTH keys below the root, and a key added there has no
                // children: anything nested deeper was not written by a registry.
                if (level > MAX_DEPTH)
                    throw failure(3, item.id);
                ++scanner->_depth;
                scanLevel(scanner, walk, item.child, level + 1);
                --scanner->_depth;
            }
        } else {
            if (!walk.holdsValue(siblings.offset(), item.size))
                throw failure(3, item.id);
            if (scanner->_buffer) {
                const uint32 n = _min(item.size, scanner->_bufferSize);
                if (n > 0)
                    (void)walk.read(siblings.offset() + ITEM_SIZE, scanner->_buffer, n);
            }
            scanner->itemLoaded(item.id, item.type, item.size);
        }
    }
}

void Registry::dump(const char* label)
{
    TraceScanner scanner(label);
    scan(&scanner);
}

void Registry::dump(const char* label, Printer& printer)
{
    // Cut here, silently: the cut's trace line would carry the title past the printer.
    char title[32] = {};
    strncpy(title, label, sizeof(title) - 1);
    TraceScanner scanner(title, &printer);
    scan(&scanner);
}

void Registry::dumpPath(Printer& printer)
{
    TraceScanner scanner("", &printer, false);
    scanPath(&scanner);
}

void Registry::print(const char* label)
{
    try {
        dump(label);
    } catch (...) {
        trace("Exception is occurred in Registry::print(\"%s\")\n", label);
    }
}

} // namespace Kovan
