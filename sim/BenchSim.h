// The bench simulator: devices of the board played inside the process this library is preloaded
// into, so an unchanged program runs where the hardware does not exist. See BenchSim.cpp for how
// calls reach a device and how to add one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace BenchSim {

// One open file description of a simulated device, created by Device::open and deleted when its
// descriptor is closed. The operations follow the system calls' contracts: -1 sets errno.
class OpenFile {
public:
    virtual ~OpenFile() = default;
    virtual ssize_t read(void* buffer, size_t length) = 0;
    virtual ssize_t write(const void* data, size_t length) = 0;
    virtual int ioctl(unsigned long request, void* argument) = 0;
};

// A device file of the board. One object per path lives for the whole process, so state shared by
// every open (a chip's registers) belongs here and per-open state in the OpenFile.
class Device {
public:
    virtual ~Device() = default;
    // A new open file, or nullptr with errno set (ENOENT for a device this bench lacks).
    virtual OpenFile* open(int flags) = 0;
};

using DeviceFactory = Device* (*)();

// Makes `path` a simulated device; the factory runs at the first open of the path. Device files
// register themselves with a static DeviceRegistration.
void registerDevice(const char* path, DeviceFactory factory);

struct DeviceRegistration {
    // Runs before main, where a failure could not be caught anyway: noexcept says so.
    DeviceRegistration(const char* path, DeviceFactory factory) noexcept
    {
        registerDevice(path, factory);
    }
};

// The simulator's own environment: the value of QUILLO_SIM_<name>, or nullptr when unset.
const char* setting(const char* name);
// A setting read as a number; `fallback` when unset, and a warning when it is not a number.
double numberSetting(const char* name, double fallback);

// Appends one line (given without its newline) to the transfer log named by QUILLO_SIM_LOG.
void logLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
// One diagnostic line on standard error, prefixed with "quillo-sim: ".
void warn(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The host's real-time clock in seconds, with its fraction.
double hostNow();

// "0a 1b ..." for a log line or the state file.
std::string hexBytes(const uint8_t* bytes, size_t length);

// The C library's own entries, for devices that need real files (state, log).
namespace real {
int open(const char* path, int flags, mode_t mode = 0);
ssize_t read(int fd, void* buffer, size_t length);
ssize_t write(int fd, const void* data, size_t length);
int close(int fd);
} // namespace real

} // namespace BenchSim
