// registry-tool: reads and changes one setting of a registry settings file from the shell, the
// way board scripts drive settings (get prints a bare value for $(...), set and add change one).
// Every change goes through the library with the file's writer lock held, so a daemon that writes
// through the library and a script never both write. Its output never carries a control byte
// from the file unless --raw asks for the bytes. Exit status: 0 done, 1 failure (one line on
// standard error), 2 wrong command line.
#include "registry/Registry.h"
#include "registry/RegistryPath.h"
#include "registry/TextEscape.h"

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

using namespace Kovan;

namespace {

const char USAGE[]
    = "usage: registry-tool [OPTION...] COMMAND FILE [ARG...]\n"
      "Reads and changes the settings in a registry file. A PATH is ids from the root, as in\n"
      "/1/20/3 (value or key 3 under key 20 under key 1); / is the root.\n"
      "\n"
      "Commands:\n"
      "  get FILE PATH               print one value (arrays: elements separated by spaces)\n"
      "  set FILE PATH VALUE...      change an existing value; it keeps its type and size\n"
      "  add FILE PATH TYPE VALUE... add a new value under PATH's key (TYPE KEY: no VALUE)\n"
      "  list FILE [PATH]            print the keys and values under PATH (default /)\n"
      "  create FILE                 create a new, empty registry file (never an existing one)\n"
      "TYPE: BOOL INT8 UINT8 INT16 UINT16 INT32 UINT32 INT64 UINT64 FLOAT DOUBLE STRING BINARY\n"
      "KEY (any case); BOOL values are true, false, 1 or 0; STRING and BINARY take one VALUE.\n"
      "\n"
      "Options (before COMMAND):\n"
      "  --json              get and list: JSON on standard output\n"
      "  --raw               print text as the file holds it, control bytes included\n"
      "  --wait SECONDS      set, add, create: wait up to SECONDS for another writer (default "
      "2)\n"
      "  --product N         create: the header's app-product number (default 0)\n"
      "  --oem N             create: the header's app-oem number (default 0)\n"
      "  --app-version TEXT  create: the header's app-version text, at most 16 bytes\n"
      "  --app-build TEXT    create: the header's app-build text, at most 8 bytes\n"
      "  -h, --help          print this text and exit\n"
      "  --                  end of options\n";

const char* const TYPE_NAMES[] = { "KEY", "BOOL", "INT8", "UINT8", "INT16", "UINT16", "INT32",
    "UINT32", "INT64", "UINT64", "FLOAT", "DOUBLE", "STRING", "BINARY" };
constexpr uint32 TYPE_COUNT = sizeof(TYPE_NAMES) / sizeof(TYPE_NAMES[0]);

// A scanner's window on each value for list --json: larger values show as null, with their
// size.
constexpr uint32 JSON_VALUE_LIMIT = 65536;

struct Options {
    bool json = false;
    bool raw = false;
    uint32 waitMilliseconds = 2000;
    uint32 product = 0;
    uint32 oem = 0;
    std::string appVersion;
    std::string appBuild;
};

// A failure that ends the program with status 1; its text is the whole line after the name.
struct Failure {
    std::string text;
};

// strerror without its shared buffer.
std::string errorText(int error)
{
    char buffer[128];
    return strerror_r(error, buffer, sizeof(buffer));
}

std::string safe(const std::string& text)
{
    std::string out;
    escapeText(text.data(), text.size(), EscapeStyle::TERMINAL, &out);
    return out;
}

std::string registryFailure(const std::string& file, const Registry::Exception& e)
{
    std::string text = safe(file) + ": ";
    // Whole-file failures carry the file name, "Header" or "header" as their path; the others
    // the current key's path and the id concerned.
    const std::string path = e.path();
    const bool wholeFile = 1 == e.code() || 2 == e.code() || Registry::IN_USE == e.code()
        || "Header" == path || "header" == path;
    if (!wholeFile) {
        text += path;
        if (0 != e.id())
            text += ("/" == path ? "" : "/") + std::to_string(e.id());
        text += ": ";
    }
    text += Registry::Exception::describe(e.code());
    if (Registry::IN_USE == e.code()) {
        if (0 != e.id())
            text += " (pid " + std::to_string(e.id()) + ")";
        text += "; try again later or with a longer --wait";
    } else if (0 != e.error()) {
        text += ": " + errorText(e.error());
    }
    return text + " (registry failure " + std::to_string(e.code()) + ")";
}

// A get's code as a failure, with the same words as a thrown failure.
[[noreturn]] void failCode(const std::string& file, const std::string& path, uint32 code)
{
    throw Failure { safe(file) + ": " + path + ": "
        + Registry::Exception::describe(static_cast<int32>(code)) + " (registry failure "
        + std::to_string(code) + ")" };
}

// Decimal, or hexadecimal after 0x: a leading 0 is not octal, which no script means.
int baseOf(const char* text)
{
    const char* digits = ('-' == text[0] || '+' == text[0]) ? text + 1 : text;
    return ('0' == digits[0] && ('x' == digits[1] || 'X' == digits[1])) ? 16 : 10;
}

bool parseUnsigned(const char* text, uint64 max, uint64* value)
{
    if ('\0' == text[0] || '-' == text[0] || '+' == text[0] || ' ' == text[0])
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = strtoull(text, &end, baseOf(text));
    if (0 != errno || '\0' != *end || v > max)
        return false;
    *value = v;
    return true;
}

bool parseSigned(const char* text, int64 min, int64 max, int64* value)
{
    if ('\0' == text[0] || ' ' == text[0])
        return false;
    char* end = nullptr;
    errno = 0;
    const long long v = strtoll(text, &end, baseOf(text));
    if (0 != errno || '\0' != *end || v < min || v > max)
        return false;
    *value = v;
    return true;
}

template <typename T> bool parseElement(const char* text, T* value)
{
    if (std::is_same<T, bool>::value) {
        const bool t = 0 == strcmp(text, "true") || 0 == strcmp(text, "1");
        const bool f = 0 == strcmp(text, "false") || 0 == strcmp(text, "0");
        *value = static_cast<T>(t);
        return t || f;
    }
    if (std::is_floating_point<T>::value) {
        char* end = nullptr;
        const double d = strtod(text, &end);
        if ('\0' == text[0] || '\0' != *end || ' ' == text[0])
            return false;
        // A finite double beyond a float's range would become infinity silently.
        if (std::isfinite(d) && std::fabs(d) > double(std::numeric_limits<float>::max())
            && sizeof(T) == sizeof(float))
            return false;
        *value = static_cast<T>(d);
        return true;
    }
    if (std::is_signed<T>::value) {
        int64 v = 0;
        if (!parseSigned(text, static_cast<int64>(std::numeric_limits<T>::min()),
                static_cast<int64>(std::numeric_limits<T>::max()), &v))
            return false;
        *value = static_cast<T>(v);
        return true;
    }
    uint64 v = 0;
    if (!parseUnsigned(text, static_cast<uint64>(std::numeric_limits<T>::max()), &v))
        return false;
    *value = static_cast<T>(v);
    return true;
}

// One element as text: plain for the shell, or as a JSON value.
template <typename T> std::string elementText(T v, bool json)
{
    char text[64];
    if (std::is_same<T, bool>::value)
        return v ? "true" : "false";
    if (std::is_floating_point<T>::value) {
        const double d = static_cast<double>(v);
        if (json && !std::isfinite(d))
            return "null";
        (void)snprintf(text, sizeof(text), "%.*g", sizeof(T) == sizeof(float) ? 9 : 17, d);
    } else if (std::is_signed<T>::value) {
        (void)snprintf(text, sizeof(text), "%" PRId64, static_cast<int64>(v));
    } else {
        (void)snprintf(text, sizeof(text), "%" PRIu64, static_cast<uint64>(v));
    }
    return text;
}

// The value of `type` in `bytes` (file order) as text: elements separated by spaces (a JSON
// array when there is more than one), or text bytes escaped, or, raw, as they are.
std::string valueText(uint32 type, const uint8* bytes, uint32 size, bool json, bool raw)
{
#define KOVAN_TOOL_FORMAT(N, T, CODE)                                                              \
    if (Registry::CODE == type && 0 != size && 0 == size % sizeof(T)) {                            \
        std::string text;                                                                          \
        const uint32 count = size / sizeof(T);                                                     \
        for (uint32 i = 0; i < count; ++i) {                                                       \
            T v;                                                                                   \
            if (detail::needsWordSwap<T>()) {                                                      \
                const double d = detail::doubleFromFile(bytes + i * sizeof(T));                    \
                memcpy(&v, &d, sizeof(v));                                                         \
            } else {                                                                               \
                memcpy(&v, bytes + i * sizeof(T), sizeof(T));                                      \
            }                                                                                      \
            text += (0 == i ? "" : json ? "," : " ") + elementText(v, json);                       \
        }                                                                                          \
        return (json && count > 1) ? "[" + text + "]" : text;                                      \
    }
    KOVAN_VALUE_TYPES(KOVAN_TOOL_FORMAT)
#undef KOVAN_TOOL_FORMAT
    // Text, bytes, unknown types, and anything whose size is not whole elements.
    std::string text;
    if (json) {
        text = "\"";
        escapeText(bytes, size, EscapeStyle::JSON, &text);
        return text + "\"";
    }
    if (raw)
        return std::string(reinterpret_cast<const char*>(bytes), size);
    escapeText(bytes, size, EscapeStyle::TERMINAL, &text);
    return text;
}

std::string typeName(uint32 type)
{
    return type < TYPE_COUNT ? std::string("\"") + TYPE_NAMES[type] + "\"" : std::to_string(type);
}

uint32 typeOf(const char* name)
{
    for (uint32 code = 0; code < TYPE_COUNT; ++code) {
        if (0 == strcasecmp(name, TYPE_NAMES[code]))
            return code;
    }
    return UINT32_MAX;
}

// The file's bytes of `words` as values of `type`, checked before anything is written; a
// failure text when a word is not one.
template <typename T>
bool parseValues(const std::vector<const char*>& words, std::unique_ptr<T[]>* data)
{
    data->reset(new T[words.size()]);
    for (size_t i = 0; i < words.size(); ++i) {
        if (!parseElement(words[i], &(*data)[i]))
            return false;
    }
    return true;
}

// What set and add write: typed arrays through the typed family (which keeps the file's word
// order), text and bytes as they are.
void writeValue(Registry& reg, bool add, uint32 id, uint32 type,
    const std::vector<const char*>& words, const std::string& what)
{
#define KOVAN_TOOL_WRITE(N, T, CODE)                                                               \
    if (Registry::CODE == type) {                                                                  \
        std::unique_ptr<T[]> data; /* NOLINT(bugprone-macro-parentheses): T is a type */           \
        if (!parseValues(words, &data))                                                            \
            throw Failure { what + ": not a value of type " #CODE };                               \
        const int32 count = static_cast<int32>(words.size());                                      \
        if (add)                                                                                   \
            reg.add##N##Array(id, data.get(), count);                                              \
        else                                                                                       \
            reg.set##N##Array(id, data.get(), count, 0);                                           \
        return;                                                                                    \
    }
    KOVAN_VALUE_TYPES(KOVAN_TOOL_WRITE)
#undef KOVAN_TOOL_WRITE
    if (1 != words.size())
        throw Failure { what + ": text and bytes take one VALUE" };
    const uint32 size = static_cast<uint32>(strlen(words[0]));
    if (add)
        reg.addData(id, type, words[0], size);
    else if (0 != size)
        reg.setData(id, words[0], size, 0);
}

struct Target {
    std::vector<uint32> key;
    uint32 id = 0;
    std::string text;
};

// False, with the reason in `why`, for a path the command cannot take.
bool targetOf(const char* path, bool needsId, Target* out, std::string* why)
{
    Target& target = *out;
    const char* reason = parseRegistryPath(path, &target.key);
    if (!reason && needsId && target.key.empty())
        reason = "the root is no value";
    if (!reason && target.key.size() > (needsId ? Registry::MAX_DEPTH + 1 : Registry::MAX_DEPTH))
        reason = "deeper than 15 keys";
    if (reason) {
        *why = std::string("not a path: ") + safe(path) + ": " + reason;
        return false;
    }
    target.text = path;
    if (needsId) {
        target.id = target.key.back();
        target.key.pop_back();
    }
    return true;
}

void goTo(Registry& reg, const Target& target)
{
    reg.setPath(0);
    for (uint32 id : target.key)
        reg.pathDown(id);
}

void write(const std::string& text)
{
    if (fwrite(text.data(), 1, text.size(), stdout) != text.size())
        throw Failure { "cannot write the output" };
}

std::string headerJson(const Registry& reg, const std::string& file)
{
    std::string text = "{\"file\":\"";
    escapeText(file.data(), file.size(), EscapeStyle::JSON, &text);
    text += "\",\"version\":" + std::to_string(reg.version());
    text += ",\"app-product\":" + std::to_string(reg.appProduct());
    text += ",\"app-oem\":" + std::to_string(reg.appOem()) + ",\"app-version\":\"";
    escapeText(reg.appVersion(), strlen(reg.appVersion()), EscapeStyle::JSON, &text);
    text += "\",\"app-build\":\"";
    escapeText(reg.appBuild(), strlen(reg.appBuild()), EscapeStyle::JSON, &text);
    return text + "\"";
}

int get(Registry& reg, const std::string& file, const Target& target, const Options& options)
{
    goTo(reg, target);
    uint32 type = 0, size = 0;
    if (const uint32 code = reg.getInfo(target.id, &type, &size))
        failCode(file, target.text, code);
    if (Registry::KEY == type)
        throw Failure { safe(file) + ": " + target.text + ": a key, not a value; use list" };
    std::vector<uint8> bytes(size);
    if (0 != size) {
        if (const uint32 code = reg.getData(target.id, bytes.data(), size, 0))
            failCode(file, target.text, code);
    }
    const std::string value = valueText(type, bytes.data(), size, options.json, options.raw);
    if (options.json)
        write("{\"path\":\"" + target.text + "\",\"type\":" + typeName(type)
            + ",\"size\":" + std::to_string(size) + ",\"value\":" + value + "}\n");
    else
        write(value + "\n");
    return 0;
}

// The tree under a key as JSON: {"id":1,"type":"KEY","items":[...]} for keys, and
// {"id":5,"type":"INT32","size":4,"value":300} for values.
class JsonScanner : public Registry::Scanner {
public:
    JsonScanner()
        : _buffer(JSON_VALUE_LIMIT)
    {
        setBuffer(_buffer.data(), JSON_VALUE_LIMIT);
    }

    void keyLoaded(uint16 id) override
    {
        if (0 == depth())
            return; // the key the list starts from: its children are the items
        place();
        _text += "{\"id\":" + std::to_string(id) + ",\"type\":\"KEY\",\"items\":[";
        _first.push_back(true);
    }

    void itemLoaded(uint16 id, uint16 type, uint32 size) override
    {
        place();
        _text += "{\"id\":" + std::to_string(id) + ",\"type\":" + typeName(type)
            + ",\"size\":" + std::to_string(size) + ",\"value\":";
        _text += size > JSON_VALUE_LIMIT ? "null"
                                         : valueText(type, _buffer.data(), size, true, false);
        _text += "}";
    }

    // The items so far, with every key still open closed.
    std::string finish()
    {
        while (_first.size() > 1) {
            _first.pop_back();
            _text += "]}";
        }
        return _text;
    }

private:
    // Closes the keys that the record at depth() is not inside, then separates it from the
    // sibling before it.
    void place()
    {
        while (_first.size() > static_cast<size_t>(depth()))
            _first.pop_back(), _text += "]}";
        if (!_first.back())
            _text += ",";
        _first.back() = false;
    }

    std::vector<uint8> _buffer;
    std::string _text;
    // One entry per open level, the items of the listed key first: whether it has no item yet.
    std::vector<bool> _first { true };
};

int list(Registry& reg, const std::string& file, const Target& target, const Options& options)
{
    goTo(reg, target);
    if (options.json) {
        JsonScanner scanner;
        reg.scanPath(&scanner);
        write(headerJson(reg, file) + ",\"path\":\"" + target.text + "\",\"items\":["
            + scanner.finish() + "]}\n");
        return 0;
    }
    FilePrinter printer(stdout, options.raw);
    if (target.key.empty())
        reg.dump(file.c_str(), printer);
    else
        reg.dumpPath(printer);
    return 0;
}

int change(Registry& reg, const std::string& file, const Target& target, bool add,
    const char* typeWord, const std::vector<const char*>& values)
{
    const std::string what = safe(file) + ": " + target.text;
    uint32 type = 0, size = 0;
    if (add)
        type = typeOf(typeWord);
    // The file's checksum is kept current only when it was current before: a file that did
    // not match stays unmatched rather than being blessed after the change.
    const bool consistent = reg.testFileChecksum();
    goTo(reg, target);
    uint32 stored = 0;
    const uint32 code = reg.getInfo(target.id, &stored, &size);
    if (add && 0 == code)
        throw Failure { what + ": already exists; set changes it" };
    if (add ? 6 != code : 0 != code)
        failCode(file, target.text, code);
    if (!add) {
        type = stored;
        if (Registry::KEY == type)
            throw Failure { what + ": a key, not a value" };
        const bool text = type > Registry::DOUBLE;
        if (text && 1 == values.size() && strlen(values[0]) != size)
            throw Failure { what + ": the new value is " + std::to_string(strlen(values[0]))
                + " bytes, the stored one " + std::to_string(size) + "; a value keeps its size" };
    }
    if (Registry::KEY == type)
        reg.addKey(target.id);
    else
        writeValue(reg, add, target.id, type, values, what);
    if (consistent && !reg.saveFileChecksum())
        throw Failure { what + ": changed, but the checksum could not be saved" };
    return 0;
}

int create(const std::string& file, const Options& options)
{
    // O_EXCL: never over a file that exists, whoever holds it.
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        throw Failure { safe(file) + ": cannot create the file: " + errorText(errno) };
    close(fd);
    Registry reg;
    reg.setLockTimeout(options.waitMilliseconds);
    reg.setAppInfo(
        options.product, options.oem, options.appVersion.c_str(), options.appBuild.c_str());
    try {
        reg.create(file.c_str());
        if (!reg.saveFileChecksum())
            throw Registry::Exception(4, "header");
        reg.close();
    } catch (const Registry::Exception& e) {
        reg.close();
        unlink(file.c_str());
        throw Failure { registryFailure(file, e) };
    }
    return 0;
}

int usage(const char* why)
{
    (void)fprintf(stderr, "registry-tool: %s (registry-tool --help shows the usage)\n", why);
    return 2;
}

int run(int argc, char** argv)
{
    Options options;
    int i = 1;
    for (; i < argc && '-' == argv[i][0]; ++i) {
        const std::string option = argv[i];
        const bool hasArgument = i + 1 < argc;
        uint64 n = 0;
        if ("--" == option) {
            ++i;
            break;
        }
        if ("-h" == option || "--help" == option) {
            printf("%s", USAGE);
            return 0;
        } else if ("--json" == option) {
            options.json = true;
        } else if ("--raw" == option) {
            options.raw = true;
        } else if ("--wait" == option && hasArgument) {
            if (!parseUnsigned(argv[++i], 86400, &n))
                return usage("--wait takes whole seconds, 0 to 86400");
            options.waitMilliseconds = static_cast<uint32>(n * 1000);
        } else if (("--product" == option || "--oem" == option) && hasArgument) {
            if (!parseUnsigned(argv[++i], UINT32_MAX, &n))
                return usage("--product and --oem take a number, 0 to 4294967295");
            ("--oem" == option ? options.oem : options.product) = static_cast<uint32>(n);
        } else if ("--app-version" == option && hasArgument) {
            options.appVersion = argv[++i];
        } else if ("--app-build" == option && hasArgument) {
            options.appBuild = argv[++i];
        } else {
            return usage(("unknown option or missing argument: " + safe(option)).c_str());
        }
    }
    if (argc - i < 2)
        return usage("a command and a file are needed");
    const std::string command = argv[i];
    const std::string file = argv[i + 1];
    const std::vector<const char*> args(argv + i + 2, argv + argc);
    const size_t n = args.size();
    const bool known = ("get" == command && 1 == n) || ("set" == command && n >= 2)
        || ("add" == command && n >= 2) || ("list" == command && n <= 1)
        || ("create" == command && 0 == n);
    if (!known)
        return usage(("not a command with these arguments: " + safe(command)).c_str());
    if (options.json && "get" != command && "list" != command)
        return usage("--json is for get and list");

    if (options.appVersion.size() > 16 || options.appBuild.size() > 8)
        return usage("--app-version takes at most 16 bytes, --app-build at most 8");
    if ("add" == command) {
        const uint32 type = typeOf(args[1]);
        if (UINT32_MAX == type)
            return usage((std::string("not a type: ") + safe(args[1])).c_str());
        if (Registry::KEY == type ? 2 != n : 2 == n)
            return usage(2 == n ? "a value is missing" : "a key takes no value");
        if (type > Registry::DOUBLE && 3 != n)
            return usage("STRING and BINARY take one value");
    }

    if ("create" == command)
        return create(file, options);
    const bool writes = "set" == command || "add" == command;
    // Every path is checked before the file is touched.
    Target target;
    std::string why;
    if (!targetOf(0 == n ? "/" : args[0], "list" != command, &target, &why))
        return usage(why.c_str());
    Registry reg;
    reg.setLockTimeout(options.waitMilliseconds);
    try {
        reg.open(file.c_str(), writes);
        if ("get" == command)
            return get(reg, file, target, options);
        if ("list" == command)
            return list(reg, file, target, options);
        const bool add = "add" == command;
        const std::vector<const char*> values(args.begin() + (add ? 2 : 1), args.end());
        return change(reg, file, target, add, add ? args[1] : nullptr, values);
    } catch (const Registry::Exception& e) {
        throw Failure { registryFailure(file, e) };
    }
}

} // namespace

int main(int argc, char** argv)
{
    try {
        const int status = run(argc, argv);
        if (0 != fflush(stdout))
            throw Failure { "cannot write the output" };
        return status;
    } catch (const Failure& failure) {
        (void)fflush(stdout);
        (void)fprintf(stderr, "registry-tool: %s\n", failure.text.c_str());
        return 1;
    }
}
