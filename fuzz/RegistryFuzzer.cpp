// Arbitrary bytes as a registry file: opening, the walk, the dump, lookups and adds must end in
// success or a registry failure, never in a crash, a hang, a leak or a read outside the file.
#include "registry/Registry.h"

#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

using Kovan::Registry;

namespace {

// tmpfs when there is one: the registry writes synchronously.
const std::string& scratchFile()
{
    static const std::string name = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp")
        + "/kovan-fuzz-registry-" + std::to_string(getpid()) + ".reg";
    return name;
}

bool writeFile(const uint8_t* data, size_t size)
{
    int fd = open(scratchFile().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return false;
    bool ok = write(fd, data, size) == static_cast<ssize_t>(size);
    close(fd);
    return ok;
}

class Sink : public Registry::Scanner {
public:
    void keyLoaded(Kovan::uint16) override { ++count; }
    void itemLoaded(Kovan::uint16, Kovan::uint16, Kovan::uint32) override { ++count; }
    unsigned count = 0;
};

// Ids and sizes for the lookups come from the input's first bytes, so the fuzzer can steer them.
Kovan::uint32 pick(const uint8_t* data, size_t size, size_t at)
{
    return size > at ? data[at] % 16 : 1;
}

void lookups(Registry& reg, const uint8_t* data, size_t size)
{
    const Kovan::uint32 a = pick(data, size, 0) + 1;
    const Kovan::uint32 b = pick(data, size, 1) + 1;
    for (int i = 0; i < 3; ++i) {
        if (0 == i)
            reg.setPath(0);
        else if (1 == i)
            reg.setPath(a, 0);
        else
            reg.setPath(a, b, 0);
        Kovan::int32 v;
        double d[2];
        char text[9];
        uint8_t raw[64];
        reg.getInt32(b, &v);
        reg.getDoubleArray(a, d, 2, 0);
        reg.getData(b, raw, pick(data, size, 2) * 4 + 1, 0);
        reg.getString(a, text, sizeof(text));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (!writeFile(data, size))
        return 0;
    const bool writable = size > 0 && (data[size - 1] & 1);
    Registry reg;
    try {
        reg.open(scratchFile().c_str(), writable);
    } catch (const Registry::Exception&) {
        reg.close();
        return 0;
    }

    reg.print("fuzz");
    try {
        Sink sink;
        uint8_t buffer[7];
        sink.setBuffer(buffer, sizeof(buffer));
        reg.scan(&sink);
    } catch (const Registry::Exception&) {
    }
    lookups(reg, data, size);

    if (writable) {
        try {
            reg.setPath(0);
            reg.addInt32(pick(data, size, 0) + 1, 42);
            reg.addKey(pick(data, size, 1) + 1);
            reg.setInt32(pick(data, size, 0) + 1, 43);
            reg.saveFileChecksum();
            reg.testFileChecksum();
        } catch (const Registry::Exception&) {
        }
        Sink after;
        try {
            reg.scan(&after);
        } catch (const Registry::Exception&) {
        }
    }
    reg.close();
    return 0;
}
