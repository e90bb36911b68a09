// Sequences of registry calls (path changes, gets and type lookups, adds, sets, checksums, scans,
// reopening) on a new file or on arbitrary file bytes, checked after every step against a second
// reader of the format (RegistryModel.h): on an intact file the scan and every get must give
// exactly its answers. A step may also arm a simulated crash: the N-th write from then on fails,
// possibly after writing part of its bytes, and nothing more reaches the file. The file is then
// reopened and must be intact, scan as the model reads it, and hold every add that returned.
//
// Input: a flags byte (bit 0: the file is the next 2-byte length and that many bytes), then one
// step per byte with its arguments in the bytes after it.
#include "fuzz/RegistryModel.h"

#include "registry/Registry.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

using Kovan::Registry;
using KovanFuzz::RegistryModel;

// The write seam: the fuzzer links with -Wl,--wrap=pwritev,--wrap=write, so the library's writes
// come here. Standard streams pass untouched.
namespace {

struct Crash {
    bool armed = false;
    bool dead = false;
    int countdown = 0;
    unsigned partial = 0;
} crash;

} // namespace

extern "C" ssize_t __real_pwritev(int fd, const iovec* iov, int count, off_t offset);
extern "C" ssize_t __real_write(int fd, const void* data, size_t size);

// Cuts the failing write to `partial` bytes, except writes of four bytes or fewer (a link or a
// checksum), which a device does not tear.
extern "C" ssize_t __wrap_pwritev(int fd, const iovec* iov, int count, off_t offset)
{
    if (!crash.armed || fd <= 2)
        return __real_pwritev(fd, iov, count, offset);
    if (!crash.dead && crash.countdown-- > 0)
        return __real_pwritev(fd, iov, count, offset);
    size_t total = 0;
    for (int i = 0; i < count; ++i)
        total += iov[i].iov_len;
    const bool first = !crash.dead;
    crash.dead = true;
    if (first && total > 4 && 0 != crash.partial % total) {
        std::vector<iovec> cut(iov, iov + count);
        size_t left = crash.partial % total;
        for (iovec& part : cut) {
            part.iov_len = std::min(part.iov_len, left);
            left -= part.iov_len;
        }
        return __real_pwritev(fd, cut.data(), count, offset);
    }
    errno = EIO;
    return -1;
}

extern "C" ssize_t __wrap_write(int fd, const void* data, size_t size)
{
    if (!crash.armed || fd <= 2)
        return __real_write(fd, data, size);
    if (!crash.dead && crash.countdown-- > 0)
        return __real_write(fd, data, size);
    crash.dead = true;
    errno = EIO;
    return -1;
}

namespace {

const std::string& scratchFile()
{
    static const std::string name = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp")
        + "/kovan-fuzz-api-" + std::to_string(getpid()) + ".reg";
    return name;
}

std::vector<uint8_t> fileBytes()
{
    std::vector<uint8_t> bytes;
    FILE* f = fopen(scratchFile().c_str(), "rb");
    if (!f)
        return bytes;
    uint8_t chunk[4096];
    for (size_t n; (n = fread(chunk, 1, sizeof(chunk), f)) > 0;)
        bytes.insert(bytes.end(), chunk, chunk + n);
    (void)fclose(f);
    return bytes;
}

class Collect : public Registry::Scanner {
public:
    Collect() { setBuffer(_buffer, sizeof(_buffer)); }
    void keyLoaded(Kovan::uint16 id) override { entries.push_back({ depth(), id, 0, 0, "" }); }
    void itemLoaded(Kovan::uint16 id, Kovan::uint16 type, Kovan::uint32 size) override
    {
        entries.push_back({ depth(), id, type, size,
            std::string(reinterpret_cast<char*>(_buffer), std::min<Kovan::uint32>(size, 16)) });
    }
    std::vector<RegistryModel::Entry> entries;

private:
    uint8_t _buffer[16];
};

class Input {
public:
    Input(const uint8_t* data, size_t size)
        : _p(data)
        , _end(data + size)
    {
    }
    bool empty() const { return _p == _end; }
    uint8_t byte() { return empty() ? 0 : *_p++; }

private:
    const uint8_t* _p;
    const uint8_t* _end;
};

// One run: the registry, the path as the model sees it, and the adds that returned.
class Run {
public:
    // The scan must give the model's entries, and every add that returned must be in them.
    void check()
    {
        if (!_open)
            return;
        RegistryModel model(fileBytes());
        // Nothing the library writes may keep a file it opened from opening again.
        if (!model.opens)
            __builtin_trap();
        if (!model.intact) {
            // After a crash the file must still be whole; damage it came with may stay, and a
            // legacy file, whose first child needs no link, is only as whole as its last write.
            if (!_damaged && !model.legacy)
                __builtin_trap();
            return;
        }
        Collect seen;
        try {
            _reg.scan(&seen);
        } catch (const Registry::Exception&) {
            __builtin_trap();
        }
        if (!(seen.entries == model.entries))
            __builtin_trap();
        std::vector<std::string> present;
        std::vector<Kovan::uint32> path;
        for (const auto& e : model.entries) {
            path.resize(static_cast<size_t>(std::max(e.depth - 1, 0)));
            present.push_back(describe(path, e.id, e.type, e.size));
            if (0 == e.type && e.depth > 0)
                path.push_back(e.id);
        }
        std::sort(present.begin(), present.end());
        std::vector<std::string> acked = _acked;
        std::sort(acked.begin(), acked.end());
        if (!std::includes(present.begin(), present.end(), acked.begin(), acked.end()))
            __builtin_trap();
    }

    // A get's code and bytes must be the model's on an intact file.
    void expect(Kovan::uint32 code, Kovan::uint32 id, Kovan::uint32 size, Kovan::uint32 wanted,
        const void* value)
    {
        RegistryModel model(fileBytes());
        if (!model.intact)
            return;
        std::string want;
        const int modelCode = model.lookup(_path, id, size, wanted, &want);
        if (static_cast<Kovan::uint32>(modelCode) != code
            || (0 == code && 0 != memcmp(want.data(), value, want.size())))
            __builtin_trap();
    }

    void step(Input& in);

    // Ends a crash: what the registry held is gone, and the file is opened again.
    void recover()
    {
        _reg.close();
        crash = Crash();
        reopen(true);
        check();
    }

    void reopen(bool writable)
    {
        _reg.close();
        _path.clear();
        _open = false;
        _reg.open(scratchFile().c_str(), writable);
        _open = true;
    }

    Registry _reg;
    bool _open = false;
    std::vector<Kovan::uint32> _path;
    std::vector<std::string> _acked;
    bool _damaged = false;

private:
    static std::string describe(const std::vector<Kovan::uint32>& path, Kovan::uint32 id,
        Kovan::uint32 type, Kovan::uint32 size)
    {
        std::string s;
        for (Kovan::uint32 p : path)
            s += "/" + std::to_string(p);
        return s + " " + std::to_string(id) + ":" + std::to_string(type) + ":"
            + std::to_string(size);
    }

    void acked(Kovan::uint32 id, Kovan::uint32 type, Kovan::uint32 size)
    {
        _acked.push_back(describe(_path, id, type, size));
    }
};

void Run::step(Input& in)
{
    const Kovan::uint32 id = in.byte() % 4 + 1;
    switch (in.byte() % 9) {
    case 0: {
        _path.clear();
        for (int depth = in.byte() % 3; depth > 0; --depth)
            _path.push_back(in.byte() % 4 + 1);
        _reg.setPath(0);
        for (Kovan::uint32 p : _path)
            _reg.pathDown(p);
        break;
    }
    case 1: {
        Kovan::int32 v = 0;
        expect(_reg.getInt32(id, &v), id, 4, 0, &v);
        // The item's type and size as the model reads them.
        Kovan::uint32 type = 0, size = 0, wantType = 0, wantSize = 0;
        const Kovan::uint32 code = _reg.getInfo(id, &type, &size);
        RegistryModel model(fileBytes());
        if (model.intact
            && (static_cast<Kovan::uint32>(model.info(_path, id, &wantType, &wantSize)) != code
                || (0 == code && (type != wantType || size != wantSize))))
            __builtin_trap();
        break;
    }
    case 2: {
        const Kovan::uint32 size = in.byte() % 12 + 1, wanted = in.byte() % 14;
        uint8_t raw[16] = {};
        expect(_reg.getData(id, raw, size, wanted), id, size, wanted, raw);
        break;
    }
    case 3: {
        // Doubles travel with their words exchanged; the model compares file bytes.
        double d[2] = {};
        const Kovan::uint32 code = _reg.getDoubleArray(id, d, 2, 1);
        uint8_t file[8];
        memcpy(file, reinterpret_cast<uint8_t*>(d) + 4, 4);
        memcpy(file + 4, d, 4);
        expect(code, id, 16, 8, file);
        break;
    }
    case 4: {
        const uint8_t kind = in.byte() % 4, arg = in.byte();
        const uint8_t data[12] = { arg, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11 };
        if (0 == kind) {
            _reg.addInt32(id, arg);
            acked(id, Registry::INT32, 4);
        } else if (1 == kind) {
            _reg.addKey(id);
            acked(id, Registry::KEY, 0);
        } else if (2 == kind) {
            _reg.addData(id, arg % 20 + 1, data, arg % 12 + 1);
            acked(id, arg % 20 + 1, arg % 12 + 1);
        } else {
            const double pair[2] = { arg * 0.5, -1.0 };
            _reg.addDoubleArray(id, pair, 2);
            acked(id, Registry::DOUBLE, 16);
        }
        break;
    }
    case 5: {
        const Kovan::uint32 size = in.byte() % 12 + 1, wanted = in.byte() % 14;
        const uint8_t data[13] = { 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3 };
        if (0 == size % 2)
            _reg.setInt32(id, static_cast<Kovan::int32>(size));
        else
            _reg.setData(id, data, size, wanted);
        break;
    }
    case 6: {
        const bool saved = _reg.saveFileChecksum();
        RegistryModel model(fileBytes());
        if (saved && model.opens && model.intact
            && _reg.testFileChecksum() != (model.version < 3 || model.adler32() == model.stored))
            __builtin_trap();
        break;
    }
    case 7:
        reopen(in.byte() & 1);
        break;
    default:
        crash.armed = true;
        crash.countdown = in.byte() % 4;
        crash.partial = in.byte();
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input in(data, size);
    crash = Crash();
    Run run;
    if (in.byte() & 1) {
        const unsigned low = in.byte();
        std::vector<uint8_t> bytes((low | in.byte() << 8) % 4096);
        for (uint8_t& b : bytes)
            b = in.byte();
        FILE* f = fopen(scratchFile().c_str(), "wb");
        if (!f || fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
            if (f)
                (void)fclose(f);
            return 0;
        }
        (void)fclose(f);
        const RegistryModel model(bytes);
        run._damaged = !model.intact;
        try {
            run.reopen(true);
        } catch (const Registry::Exception&) {
            if (model.opens)
                __builtin_trap();
            run._reg.close();
            return 0;
        }
        if (!model.opens)
            __builtin_trap();
    } else {
        run._reg.setAppInfo(1, 2, "fuzz", "api");
        run._reg.create(scratchFile().c_str());
        run._open = true;
    }
    for (int steps = 0; steps < 48 && !in.empty(); ++steps) {
        try {
            run.step(in);
        } catch (const Registry::Exception&) {
        }
        if (crash.dead)
            run.recover();
        else
            run.check();
    }
    run._reg.close();
    return 0;
}
