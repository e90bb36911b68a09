#include "registry/Settings.h"

#include "registry/RegistryPath.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace Kovan {

namespace {

// The bytes of one element as the file holds them, and back: doubles in the file's word order,
// bools as 0 or 1 whatever else a damaged file holds.
template <typename T> void toFile(T value, uint8* bytes)
{
    memcpy(bytes, &value, sizeof(T));
    if (detail::needsWordSwap<T>())
        detail::swapDoubleWords(bytes);
}

template <> void toFile<bool>(bool value, uint8* bytes) { *bytes = value ? 1 : 0; }

template <typename T> T fromFile(const uint8* bytes)
{
    T value;
    memcpy(&value, bytes, sizeof(T));
    return value;
}

template <> double fromFile<double>(const uint8* bytes) { return detail::doubleFromFile(bytes); }

template <> bool fromFile<bool>(const uint8* bytes) { return 0 != *bytes; }

std::string describeError(
    int32 code, const std::string& operation, const std::string& path, int32 error)
{
    std::string text = "Settings::" + operation + " " + path + ": "
        + Registry::Exception::describe(code) + " (registry failure " + std::to_string(code)
        + ", errno " + std::to_string(error);
    if (0 != error) {
        char buffer[128];
        text += " ";
        text += strerror_r(error, buffer, sizeof(buffer));
    }
    return text + ")";
}

} // namespace

SettingsError::SettingsError(
    int32 code, const std::string& operation, const std::string& path, int32 error)
    : _code(code)
    , _operation(operation)
    , _path(path)
    , _error(error)
    , _what(describeError(code, operation, path, error))
{
}

SettingsPath::SettingsPath(std::initializer_list<uint32> ids)
    : _ids(ids)
    , _problem(nullptr)
{
    check();
}

SettingsPath::SettingsPath(const std::vector<uint32>& ids)
    : _ids(ids)
    , _problem(nullptr)
{
    check();
}

SettingsPath::SettingsPath(const char* text)
    : _text(text ? text : "(null)")
    , _problem(parseRegistryPath(text, &_ids))
{
    if (!_problem)
        check();
}

SettingsPath::SettingsPath(const std::string& text)
    : SettingsPath(text.c_str())
{
}

void SettingsPath::check()
{
    // A list shows as text even when an id is out of range, so the error names what was asked.
    const std::string text = registryPathText(_ids.data(), _ids.size());
    for (const uint32 id : _ids) {
        if (0 == id || id > REGISTRY_MAX_ID)
            _problem = "an id is 1 to 65534";
    }
    if (_ids.size() > Registry::MAX_DEPTH + 1)
        _problem = "deeper than the registry nests";
    if (_problem)
        _ids.clear();
    if (_text.empty() || !_problem)
        _text = text;
}

void Settings::open(const std::string& filename, bool writable, uint32 lockTimeout)
{
    try {
        _registry.setLockTimeout(lockTimeout);
        _registry.open(filename.c_str(), writable);
    } catch (const Registry::Exception& e) {
        // A failure after the file was reached leaves it open for close; nothing is left open.
        const int32 error = e.error();
        if (Registry::OPEN_IN_THIS_THREAD != e.code())
            _registry.close();
        throw SettingsError(e.code(), "open", filename, error);
    }
}

void Settings::create(const std::string& filename, uint32 product, uint32 oem,
    const std::string& appVersion, const std::string& appBuild, uint32 lockTimeout)
{
    try {
        _registry.setLockTimeout(lockTimeout);
        // Cut here, silently: Registry would cut with a trace line.
        _registry.setAppInfo(
            product, oem, appVersion.substr(0, 16).c_str(), appBuild.substr(0, 8).c_str());
        _registry.create(filename.c_str());
    } catch (const Registry::Exception& e) {
        const int32 error = e.error();
        if (Registry::OPEN_IN_THIS_THREAD != e.code())
            _registry.close();
        throw SettingsError(e.code(), "create", filename, error);
    }
}

void Settings::close() { _registry.close(); }

uint32 Settings::goToParent(const char* operation, const SettingsPath& path)
{
    if (path.problem() || path.ids().empty())
        throw SettingsError(Registry::BAD_PATH, operation, path.text(), 0);
    const std::vector<uint32>& ids = path.ids();
    _registry.setPath(0);
    for (size_t i = 0; i + 1 < ids.size(); ++i)
        _registry.pathDown(ids[i]);
    return ids.back();
}

Settings::Info Settings::find(const char* operation, const SettingsPath& path)
{
    const uint32 id = goToParent(operation, path);
    Info found = {};
    if (const uint32 code = _registry.getInfo(id, &found.type, &found.size))
        throw SettingsError(static_cast<int32>(code), operation, path.text(), 0);
    return found;
}

Settings::Info Settings::expect(const char* operation, const SettingsPath& path, uint32 type)
{
    const Info found = find(operation, path);
    if (found.type != type)
        throw SettingsError(Registry::TYPE_DIFFERS, operation, path.text(), 0);
    return found;
}

bool Settings::exists(const SettingsPath& path)
{
    const uint32 id = goToParent("exists", path);
    Info found = {};
    const uint32 code = _registry.getInfo(id, &found.type, &found.size);
    if (0 != code && 5 != code && 6 != code)
        throw SettingsError(static_cast<int32>(code), "exists", path.text(), 0);
    return 0 == code;
}

Settings::Info Settings::info(const SettingsPath& path) { return find("info", path); }

void Settings::prepareAdd(const char* operation, const SettingsPath& path)
{
    const uint32 id = goToParent(operation, path);
    Info found = {};
    const uint32 code = _registry.getInfo(id, &found.type, &found.size);
    if (0 == code)
        throw SettingsError(Registry::EXISTS, operation, path.text(), 0);
    if (6 != code)
        throw SettingsError(static_cast<int32>(code), operation, path.text(), 0);
}

void Settings::addKey(const SettingsPath& path)
{
    // A key below the deepest path could never be entered.
    if (path.ids().size() > Registry::MAX_DEPTH)
        throw SettingsError(Registry::BAD_PATH, "addKey", path.text(), 0);
    prepareAdd("addKey", path);
    try {
        _registry.addKey(path.ids().back());
    } catch (const Registry::Exception& e) {
        throw SettingsError(e.code(), "addKey", path.text(), e.error());
    }
}

void Settings::readBytes(const char* operation, const SettingsPath& path, void* data, uint32 size)
{
    // Registry refuses a read of 0 bytes as a broken precondition; there is nothing to read.
    if (0 == size)
        return;
    if (const uint32 code = _registry.getData(path.ids().back(), data, size, 0))
        throw SettingsError(static_cast<int32>(code), operation, path.text(), 0);
}

template <typename T> uint16 Settings::typeCode()
{
    uint16 code = Registry::KEY;
#define KOVAN_SETTINGS_TYPE_CODE(N, U, CODE)                                                       \
    if (std::is_same<T, U>::value)                                                                 \
        code = Registry::CODE;
    KOVAN_VALUE_TYPES(KOVAN_SETTINGS_TYPE_CODE)
#undef KOVAN_SETTINGS_TYPE_CODE
    return code;
}

template <typename T>
std::vector<T> Settings::getArray(const char* operation, const SettingsPath& path, bool one)
{
    const Info found = expect(operation, path, typeCode<T>());
    if (0 != found.size % sizeof(T) || (one && sizeof(T) != found.size))
        throw SettingsError(7, operation, path.text(), 0);
    std::vector<uint8> bytes(found.size);
    readBytes(operation, path, bytes.data(), found.size);
    std::vector<T> values;
    values.reserve(found.size / sizeof(T));
    for (size_t at = 0; at < bytes.size(); at += sizeof(T))
        values.push_back(fromFile<T>(&bytes[at]));
    return values;
}

template <typename T>
void Settings::addArray(
    const char* operation, const SettingsPath& path, uint16 type, const T* data, size_t count)
{
    if (count > UINT32_MAX / sizeof(T))
        throw SettingsError(7, operation, path.text(), 0);
    prepareAdd(operation, path);
    std::vector<uint8> bytes(count * sizeof(T));
    for (size_t i = 0; i < count; ++i)
        toFile<T>(data[i], &bytes[i * sizeof(T)]);
    try {
        _registry.addData(path.ids().back(), type, bytes.data(), static_cast<uint32>(bytes.size()));
    } catch (const Registry::Exception& e) {
        throw SettingsError(e.code(), operation, path.text(), e.error());
    }
}

template <typename T>
void Settings::setArray(
    const char* operation, const SettingsPath& path, uint16 type, const T* data, size_t count)
{
    const Info found = expect(operation, path, type);
    if (found.size / sizeof(T) != count || 0 != found.size % sizeof(T))
        throw SettingsError(7, operation, path.text(), 0);
    std::vector<uint8> bytes(count * sizeof(T));
    for (size_t i = 0; i < count; ++i)
        toFile<T>(data[i], &bytes[i * sizeof(T)]);
    // An empty value has nothing to overwrite (and Registry refuses a size of 0).
    if (bytes.empty())
        return;
    try {
        _registry.setData(path.ids().back(), bytes.data(), found.size, 0);
    } catch (const Registry::Exception& e) {
        throw SettingsError(e.code(), operation, path.text(), e.error());
    }
}

// std::vector<bool> keeps no array of bool: its values are copied out first.
#define KOVAN_SETTINGS_DEFINE(N, T, ...)                                                           \
    T Settings::get##N(const SettingsPath& path)                                                   \
    {                                                                                              \
        return getArray<T>("get" #N, path, true).front();                                          \
    }                                                                                              \
    std::vector<T> Settings::get##N##Array(const SettingsPath& path)                               \
    {                                                                                              \
        return getArray<T>("get" #N "Array", path, false);                                         \
    }                                                                                              \
    void Settings::add##N(const SettingsPath& path, T value)                                       \
    {                                                                                              \
        addArray<T>("add" #N, path, typeCode<T>(), &value, 1);                                     \
    }                                                                                              \
    void Settings::add##N##Array(const SettingsPath& path, const std::vector<T>& values)           \
    {                                                                                              \
        std::unique_ptr<T[]> data(new T[values.size() + 1]);                                       \
        std::copy(values.begin(), values.end(), data.get());                                       \
        addArray<T>("add" #N "Array", path, typeCode<T>(), data.get(), values.size());             \
    }                                                                                              \
    void Settings::set##N(const SettingsPath& path, T value)                                       \
    {                                                                                              \
        setArray<T>("set" #N, path, typeCode<T>(), &value, 1);                                     \
    }                                                                                              \
    void Settings::set##N##Array(const SettingsPath& path, const std::vector<T>& values)           \
    {                                                                                              \
        std::unique_ptr<T[]> data(new T[values.size() + 1]);                                       \
        std::copy(values.begin(), values.end(), data.get());                                       \
        setArray<T>("set" #N "Array", path, typeCode<T>(), data.get(), values.size());             \
    }
KOVAN_VALUE_TYPES(KOVAN_SETTINGS_DEFINE)
#undef KOVAN_SETTINGS_DEFINE

std::string Settings::getString(const SettingsPath& path)
{
    const Info found = expect("getString", path, Registry::STRING);
    std::string text(found.size, '\0');
    readBytes("getString", path, &text[0], found.size);
    return text;
}

std::vector<uint8> Settings::getBinary(const SettingsPath& path)
{
    const Info found = expect("getBinary", path, Registry::BINARY);
    std::vector<uint8> bytes(found.size);
    readBytes("getBinary", path, bytes.data(), found.size);
    return bytes;
}

void Settings::addString(const SettingsPath& path, const std::string& text)
{
    addArray<uint8>("addString", path, Registry::STRING,
        reinterpret_cast<const uint8*>(text.data()), text.size());
}

void Settings::addBinary(const SettingsPath& path, const std::vector<uint8>& bytes)
{
    addArray<uint8>("addBinary", path, Registry::BINARY, bytes.data(), bytes.size());
}

void Settings::setString(const SettingsPath& path, const std::string& text)
{
    setArray<uint8>("setString", path, Registry::STRING,
        reinterpret_cast<const uint8*>(text.data()), text.size());
}

void Settings::setBinary(const SettingsPath& path, const std::vector<uint8>& bytes)
{
    setArray<uint8>("setBinary", path, Registry::BINARY, bytes.data(), bytes.size());
}

} // namespace Kovan
