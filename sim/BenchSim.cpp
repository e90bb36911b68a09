// Core of the bench simulator: the C library entries that can open, read, write, control or close
// a file are replaced here, and calls that concern a simulated device go to that device instead.
// Everything else reaches the real C library (found with dlsym(RTLD_NEXT)), untouched.
//
// How a device joins the bench:
//   - Write a class derived from BenchSim::Device (its path's shared state) whose open() returns a
//     BenchSim::OpenFile (one open file description: read, write, ioctl; deleted on close).
//   - Register it from its own source file with a static object:
//         static BenchSim::DeviceRegistration reg("/dev/rtc", [] () -> BenchSim::Device* { ... });
//     sim/CMakeLists.txt builds every source file of the folder, so nothing else changes.
//   - Read its configuration with BenchSim::setting("NAME") (environment QUILLO_SIM_NAME) and
//     report bus-level traffic with BenchSim::logLine.
//
// What the process sees: open() of a registered path (open, open64, openat, openat64 with an
// absolute path, and the fortified __open_2 forms) returns a real descriptor (an empty memfd)
// whose read, write, ioctl and close are answered by the device. The path must match exactly.
// Not covered: fopen and other entries that open through the C library's internal calls, and
// descriptors copied with dup, whose copies reach the memfd itself.
#undef _FORTIFY_SOURCE

#include "sim/BenchSim.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace BenchSim {

namespace {

using OpenFn = int (*)(const char*, int, ...);
using OpenatFn = int (*)(int, const char*, int, ...);
using Open2Fn = int (*)(const char*, int);
using Openat2Fn = int (*)(int, const char*, int);
using ReadFn = ssize_t (*)(int, void*, size_t);
using ReadChkFn = ssize_t (*)(int, void*, size_t, size_t);
using WriteFn = ssize_t (*)(int, const void*, size_t);
using IoctlFn = int (*)(int, unsigned long, ...);
using CloseFn = int (*)(int);

template <typename Fn> Fn next(const char* name)
{
    void* symbol = dlsym(RTLD_NEXT, name);
    if (!symbol) {
        // Through stdio: the C library's own write path does not come back here.
        (void)fprintf(stderr, "quillo-sim: the C library has no %s\n", name);
        abort();
    }
    return reinterpret_cast<Fn>(symbol);
}

// Resolved on first use: the dynamic loader and other libraries' constructors may call in before
// this library's own static objects exist.
#define KOVAN_SIM_NEXT(type, name)                                                                 \
    static const type fn = next<type>(name);                                                       \
    return fn

OpenFn nextOpen() { KOVAN_SIM_NEXT(OpenFn, "open"); }
OpenFn nextOpen64() { KOVAN_SIM_NEXT(OpenFn, "open64"); }
OpenatFn nextOpenat() { KOVAN_SIM_NEXT(OpenatFn, "openat"); }
OpenatFn nextOpenat64() { KOVAN_SIM_NEXT(OpenatFn, "openat64"); }
Open2Fn nextOpen2() { KOVAN_SIM_NEXT(Open2Fn, "__open_2"); }
Open2Fn nextOpen64_2() { KOVAN_SIM_NEXT(Open2Fn, "__open64_2"); }
Openat2Fn nextOpenat2() { KOVAN_SIM_NEXT(Openat2Fn, "__openat_2"); }
Openat2Fn nextOpenat64_2() { KOVAN_SIM_NEXT(Openat2Fn, "__openat64_2"); }
ReadFn nextRead() { KOVAN_SIM_NEXT(ReadFn, "read"); }
ReadChkFn nextReadChk() { KOVAN_SIM_NEXT(ReadChkFn, "__read_chk"); }
WriteFn nextWrite() { KOVAN_SIM_NEXT(WriteFn, "write"); }
IoctlFn nextIoctl() { KOVAN_SIM_NEXT(IoctlFn, "ioctl"); }
CloseFn nextClose() { KOVAN_SIM_NEXT(CloseFn, "close"); }

struct Registry {
    std::mutex lock;
    std::map<std::string, DeviceFactory> factories;
    std::map<std::string, Device*> devices; // created on first open, kept for the process
    std::map<int, OpenFile*> files; // by descriptor
};

Registry& registry()
{
    static Registry* r = new Registry; // never destroyed: calls may arrive during exit
    return *r;
}

// Whether `path` is simulated; the device is created on first use. Null for every other path.
Device* deviceFor(const char* path)
{
    if (!path)
        return nullptr;
    Registry& r = registry();
    DeviceFactory factory = nullptr;
    {
        std::lock_guard<std::mutex> guard(r.lock);
        auto found = r.factories.find(path);
        if (found == r.factories.end())
            return nullptr;
        auto device = r.devices.find(path);
        if (device != r.devices.end())
            return device->second;
        factory = found->second;
    }
    // Made without the lock: a device reads its own files (state) through these same entries.
    Device* made = factory();
    std::lock_guard<std::mutex> guard(r.lock);
    auto inserted = r.devices.emplace(path, made);
    if (!inserted.second)
        delete made; // another thread opened it first; the first device stays the only one
    return inserted.first->second;
}

OpenFile* fileFor(int fd)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    auto found = r.files.find(fd);
    return found == r.files.end() ? nullptr : found->second;
}

int openDevice(Device* device, int flags)
{
    OpenFile* file = device->open(flags);
    if (!file)
        return -1;
    // A real descriptor keeps the process's descriptor numbering, close-on-exec and poll honest.
    const int fd = memfd_create("quillo-sim", (flags & O_CLOEXEC) ? MFD_CLOEXEC : 0);
    if (-1 == fd) {
        const int error = errno;
        delete file;
        errno = error;
        return -1;
    }
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.files[fd] = file;
    return fd;
}

bool needsMode(int flags) { return (flags & O_CREAT) || (O_TMPFILE == (flags & O_TMPFILE)); }

// Every open entry: a simulated path opens its device, any other goes to the C library's own
// entry (`real`).
template <typename Real> int openOrPass(const char* path, int flags, Real real)
{
    if (Device* device = deviceFor(path))
        return openDevice(device, flags);
    return real();
}

} // namespace

void registerDevice(const char* path, DeviceFactory factory)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.factories[path] = factory;
}

const char* setting(const char* name)
{
    const std::string key = std::string("QUILLO_SIM_") + name;
    // No setenv runs beside it: the settings come with the program's start and it never sets them.
    return getenv(key.c_str()); // NOLINT(concurrency-mt-unsafe)
}

double numberSetting(const char* name, double fallback)
{
    const char* text = setting(name);
    if (!text || !*text)
        return fallback;
    char* end = nullptr;
    errno = 0;
    const double value = strtod(text, &end);
    if (*end || ERANGE == errno || !std::isfinite(value)) {
        warn("QUILLO_SIM_%s=\"%s\" is not a number; using %g", name, text, fallback);
        return fallback;
    }
    return value;
}

void logLine(const char* format, ...)
{
    const char* path = setting("LOG");
    if (!path || !*path)
        return;
    char line[512];
    va_list args;
    va_start(args, format);
    int length = vsnprintf(line, sizeof line - 1, format, args);
    va_end(args);
    if (length < 0)
        return;
    if (length > static_cast<int>(sizeof line) - 2)
        length = sizeof line - 2;
    line[length++] = '\n';
    // Opened per line: nothing stays open in the process, and several processes may share a log.
    // A regular file only: a FIFO nobody reads would hold the program at its first transfer,
    // and a device or a link could be anything. Refused once, then the run goes on unlogged.
    static std::atomic<bool> refused(false);
    if (refused)
        return;
    const int fd = real::open(
        path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0644);
    struct stat info = {};
    if (-1 == fd || 0 != fstat(fd, &info) || !S_ISREG(info.st_mode)) {
        if (!refused.exchange(true))
            warn("QUILLO_SIM_LOG=%s is not a regular file that can be written; the transfers are "
                 "not logged",
                path);
        if (-1 != fd)
            real::close(fd);
        return;
    }
    (void)real::write(fd, line, length);
    real::close(fd);
}

void warn(const char* format, ...)
{
    char line[512] = "quillo-sim: ";
    const size_t prefix = strlen(line);
    va_list args;
    va_start(args, format);
    int length = vsnprintf(line + prefix, sizeof line - prefix - 1, format, args);
    va_end(args);
    if (length < 0)
        return;
    size_t total = prefix + static_cast<size_t>(length);
    if (total > sizeof line - 2)
        total = sizeof line - 2;
    line[total++] = '\n';
    (void)real::write(2, line, total);
}

double hostNow()
{
    timespec now = {};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

std::string hexBytes(const uint8_t* bytes, size_t length)
{
    std::string text;
    char byte[4];
    for (size_t i = 0; i < length; ++i) {
        (void)snprintf(byte, sizeof byte, i ? " %02x" : "%02x", bytes[i]);
        text += byte;
    }
    return text;
}

namespace real {
int open(const char* path, int flags, mode_t mode) { return nextOpen()(path, flags, mode); }
ssize_t read(int fd, void* buffer, size_t length) { return nextRead()(fd, buffer, length); }
ssize_t write(int fd, const void* data, size_t length) { return nextWrite()(fd, data, length); }
int close(int fd) { return nextClose()(fd); }
} // namespace real

} // namespace BenchSim

using namespace BenchSim;

extern "C" {

[[noreturn]] void __chk_fail();

// The mode argument is there only when the flags ask for one.
#define KOVAN_SIM_MODE_ARGUMENT(mode, flags)                                                       \
    mode_t mode = 0;                                                                               \
    if (needsMode(flags)) {                                                                        \
        va_list args;                                                                              \
        va_start(args, flags);                                                                     \
        (mode) = va_arg(args, mode_t);                                                             \
        va_end(args);                                                                              \
    }                                                                                              \
    static_assert(true, "")

int open(const char* path, int flags, ...)
{
    KOVAN_SIM_MODE_ARGUMENT(mode, flags);
    return openOrPass(path, flags, [&] { return nextOpen()(path, flags, mode); });
}

int open64(const char* path, int flags, ...)
{
    KOVAN_SIM_MODE_ARGUMENT(mode, flags);
    return openOrPass(path, flags, [&] { return nextOpen64()(path, flags, mode); });
}

int openat(int dirfd, const char* path, int flags, ...)
{
    KOVAN_SIM_MODE_ARGUMENT(mode, flags);
    return openOrPass(path, flags, [&] { return nextOpenat()(dirfd, path, flags, mode); });
}

int openat64(int dirfd, const char* path, int flags, ...)
{
    KOVAN_SIM_MODE_ARGUMENT(mode, flags);
    return openOrPass(path, flags, [&] { return nextOpenat64()(dirfd, path, flags, mode); });
}

int __open_2(const char* path, int flags)
{
    return openOrPass(path, flags, [&] { return nextOpen2()(path, flags); });
}

int __open64_2(const char* path, int flags)
{
    return openOrPass(path, flags, [&] { return nextOpen64_2()(path, flags); });
}

int __openat_2(int dirfd, const char* path, int flags)
{
    return openOrPass(path, flags, [&] { return nextOpenat2()(dirfd, path, flags); });
}

int __openat64_2(int dirfd, const char* path, int flags)
{
    return openOrPass(path, flags, [&] { return nextOpenat64_2()(dirfd, path, flags); });
}

ssize_t read(int fd, void* buffer, size_t length)
{
    if (OpenFile* file = fileFor(fd))
        return file->read(buffer, length);
    return nextRead()(fd, buffer, length);
}

ssize_t __read_chk(int fd, void* buffer, size_t length, size_t bufferSize)
{
    if (OpenFile* file = fileFor(fd)) {
        if (length > bufferSize)
            __chk_fail();
        return file->read(buffer, length);
    }
    return nextReadChk()(fd, buffer, length, bufferSize);
}

ssize_t write(int fd, const void* data, size_t length)
{
    if (OpenFile* file = fileFor(fd))
        return file->write(data, length);
    return nextWrite()(fd, data, length);
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    if (OpenFile* file = fileFor(fd))
        return file->ioctl(request, argument);
    return nextIoctl()(fd, request, argument);
}

int close(int fd)
{
    OpenFile* file = nullptr;
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> guard(r.lock);
        auto found = r.files.find(fd);
        if (found != r.files.end()) {
            file = found->second;
            r.files.erase(found);
        }
    }
    delete file;
    return nextClose()(fd);
}

} // extern "C"
