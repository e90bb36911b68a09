// A checked way into a registry file, beside Registry (whose API stays as it is): a
// value is named by its whole path, given as a list of ids or as text ("/1/20/3"); every get
// names the type it expects; nothing fails silently. What Registry lets through and this
// refuses, each with a SettingsError:
//
//   - an id outside 1-65534 (Registry keeps the low 16 bits of 65537 and stores id 1), a
//     malformed path text, a path deeper than the registry nests (code 12, BAD_PATH);
//   - a missing key or id (5, 6): Registry's getBinary reports nothing;
//   - a stored type other than the one asked for (13, TYPE_DIFFERS): Registry's getFloat reads
//     an INT32 as a float; a stored size that is not one value or whole elements (7);
//   - an add of an id that exists already (14, EXISTS): Registry appends a second item that no
//     lookup ever reaches.
//
// Values of any size come back whole in a std::string or std::vector, whose size is the stored
// size. Everything goes through Registry: its one walk through the file, its damage rules and
// its writer lock (a writable open of a file another process writes fails with code 9, or
// waits up to the time-out given).
//
//     Kovan::Settings s;
//     s.open("/data/settings.reg", true);
//     s.addKey("/1");
//     s.addInt32({ 1, 5 }, 300);
//     s.setInt32("/1/5", 301);
//     int32 v = s.getInt32("/1/5");           // a DOUBLE at /1/5 would throw TYPE_DIFFERS
//     std::string name = s.getString("/1/7"); // any length
//
// Thread safety: a Settings object is used by one thread at a time. While open it holds the
// registry's process-wide lock, as an open Registry does: another open in the same thread fails
// at once (code 10), one in another thread waits. SettingsError and SettingsPath are values.
#pragma once

#include "registry/Registry.h"

#include <exception>
#include <initializer_list>
#include <string>
#include <vector>

namespace Kovan {

// A failure of a Settings operation: the registry's failure code (Registry::Exception::describe
// has its words), the operation ("getInt32", "open"), the path text (the file name for whole-file
// failures) and errno when a system call failed (0 otherwise). what() says all four, e.g.
// "Settings::getInt32 /1/5: no such id (registry failure 6, errno 0)".
class SettingsError : public std::exception {
public:
    SettingsError(int32 code, const std::string& operation, const std::string& path, int32 error);

    const char* what() const noexcept override { return _what.c_str(); }
    int32 code() const { return _code; }
    const std::string& operation() const { return _operation; }
    const std::string& path() const { return _path; }
    int32 error() const { return _error; }

private:
    int32 _code;
    std::string _operation;
    std::string _path;
    int32 _error;
    std::string _what;
};

// Ids from the root: { 1, 20, 3 } or "/1/20/3". A bad one is kept, with its reason, until an
// operation refuses it.
class SettingsPath {
public:
    SettingsPath(std::initializer_list<uint32> ids);
    SettingsPath(const std::vector<uint32>& ids);
    SettingsPath(const char* text);
    SettingsPath(const std::string& text);

    const std::vector<uint32>& ids() const { return _ids; }
    // "/1/20/3", or the text as given when it is not a path.
    const std::string& text() const { return _text; }
    // Why this is not a path; nullptr when it is one.
    const char* problem() const { return _problem; }

private:
    void check();

    std::vector<uint32> _ids;
    std::string _text;
    const char* _problem;
};

class Settings {
public:
    struct Info {
        uint32 type; // Registry::Type code
        uint32 size; // bytes; 0 for a key
    };

    Settings() = default;
    ~Settings() = default;
    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;

    // Writable opens wait up to `lockTimeout` ms for another process's writer (code 9 after).
    void open(const std::string& filename, bool writable, uint32 lockTimeout = 0);
    // A new, empty file with these header fields (texts cut at 16 and 8 bytes).
    void create(const std::string& filename, uint32 product = 0, uint32 oem = 0,
        const std::string& appVersion = "", const std::string& appBuild = "",
        uint32 lockTimeout = 0);
    void close();
    // Registry's own API on the same open file, for what this class does not offer (checksums,
    // scans); its current path is this class's to change.
    Registry& registry() { return _registry; }

    bool exists(const SettingsPath& path);
    Info info(const SettingsPath& path);
    void addKey(const SettingsPath& path);

#define KOVAN_SETTINGS_TYPED(N, T, ...)                                                            \
    T get##N(const SettingsPath& path);                                                            \
    std::vector<T> get##N##Array(const SettingsPath& path);                                        \
    void add##N(const SettingsPath& path, T value);                                                \
    void add##N##Array(const SettingsPath& path, const std::vector<T>& values);                    \
    void set##N(const SettingsPath& path, T value);                                                \
    void set##N##Array(const SettingsPath& path, const std::vector<T>& values);
    KOVAN_VALUE_TYPES(KOVAN_SETTINGS_TYPED)
#undef KOVAN_SETTINGS_TYPED

    // STRING values: text stored without a terminator; any bytes, any length.
    std::string getString(const SettingsPath& path);
    void addString(const SettingsPath& path, const std::string& text);
    // A set keeps the stored size: a text of another length is code 7.
    void setString(const SettingsPath& path, const std::string& text);
    // BINARY values.
    std::vector<uint8> getBinary(const SettingsPath& path);
    void addBinary(const SettingsPath& path, const std::vector<uint8>& bytes);
    void setBinary(const SettingsPath& path, const std::vector<uint8>& bytes);

private:
    // Moves the registry's current path to the key that holds `path`'s last id, which it
    // returns; refuses a bad path first.
    uint32 goToParent(const char* operation, const SettingsPath& path);
    Info find(const char* operation, const SettingsPath& path);
    Info expect(const char* operation, const SettingsPath& path, uint32 type);
    void prepareAdd(const char* operation, const SettingsPath& path);
    void readBytes(const char* operation, const SettingsPath& path, void* data, uint32 size);

    template <typename T>
    std::vector<T> getArray(const char* operation, const SettingsPath& path, bool one);
    // The elements of `data` under `type`, in the file's byte order.
    template <typename T>
    void addArray(
        const char* operation, const SettingsPath& path, uint16 type, const T* data, size_t count);
    template <typename T>
    void setArray(
        const char* operation, const SettingsPath& path, uint16 type, const T* data, size_t count);
    template <typename T> static uint16 typeCode();

    Registry _registry;
};

} // namespace Kovan
