// The registry: file bytes, typed values, paths, the lock, failure codes and the dump; damage ends
// in code 3 (no hang, crash or read outside the file).
#include "registry/Registry.h"

#include "support/StderrCapture.h"
#include "tests/registry/ScratchDir.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <numeric>
#include <regex>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>
#ifdef KOVAN_TEST_HAVE_ZLIB
#include <zlib.h>
#endif

using namespace Kovan;
using namespace KovanTest;

namespace {

typedef std::vector<uint8_t> Bytes;

Bytes readBytes(const std::string& path)
{
    const std::string b = readFile(path);
    return Bytes(b.begin(), b.end());
}

void writeBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
}

Bytes slice(const Bytes& b, size_t from, size_t n) { return Bytes(&b[from], &b[from] + n); }

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes le32(uint32_t v)
{
    return { uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24) };
}

// A 12-byte record as the file holds it, followed by `value`.
Bytes record(uint16_t id, uint16_t type, uint32_t next, uint32_t child, const Bytes& value = {})
{
    return cat({ le32(id | static_cast<uint32_t>(type) << 16), le32(next), le32(child), value });
}

// The header of a headed file with zero application fields, and the bytes that follow it.
Bytes header(uint32_t version, const Bytes& rest = {})
{
    return cat({ le32(0x34299100), le32(version), Bytes(40, 0), rest });
}

// A scan's ids at the top level and the others (the root's first), and its last value.
struct Walked : public Kovan::Registry::Scanner {
    void keyLoaded(uint16_t id) override { (1 == depth() ? top : others).push_back(id); }
    void itemLoaded(uint16_t id, uint16_t, uint32_t stored) override
    {
        keyLoaded(id);
        size = stored;
        seen = buffer() ? Bytes(buffer(), buffer() + bufferSize()) : Bytes();
    }
    std::vector<uint32_t> top, others;
    uint32_t size = 0;
    Bytes seen;
};

typedef ScratchDirTest RegistryFileTest, RegistryPrintTest, RegistryDamageTest;

TEST_F(RegistryFileTest, NewFileAndItsValuesByteForByteWithTheChecksumOnlyOnRequest)
{
    writeBytes(_name, Bytes(100, 0xAA));
    Registry reg;
    reg.setAppInfo(7, 9, "0123456789ABCDEF", "build-01");
    reg.create(_name.c_str()); // over an older file, which it truncates
    EXPECT_TRUE(reg.saveFileChecksum());
    const std::string texts = "0123456789ABCDEFbuild-01";
    const Bytes head = cat({ le32(0x34299100), le32(3), le32(7), le32(9),
        Bytes(texts.begin(), texts.end()), le32(0) });
    EXPECT_EQ(cat({ head, le32(0x000C0001), Bytes(12, 0) }), readBytes(_name));

    // The first value becomes the root's child; a double's high word goes first.
    const double pi = 3.141592653589793;
    reg.addDouble(5, pi);
    const Bytes piBytes = { 0xFB, 0x21, 0x09, 0x40, 0x18, 0x2D, 0x44, 0x54 };
    EXPECT_EQ(cat({ head, le32(0x000C0001), record(0, 0, 0, 60), record(5, 11, 0, 8, piBytes) }),
        readBytes(_name));
    double back = 0;
    EXPECT_EQ(0u, reg.getDouble(5, &back));
    EXPECT_EQ(pi, back);
    EXPECT_FALSE(reg.testFileChecksum()) << "the checksum followed an add";

    // Over two chunks of the file, the second of them one byte long.
    Bytes blob(4053);
    std::iota(blob.begin(), blob.end(), 0);
    reg.addBinary(6, blob.data(), static_cast<uint32>(blob.size()));
    EXPECT_TRUE(reg.saveFileChecksum());
    EXPECT_TRUE(reg.testFileChecksum());
#ifdef KOVAN_TEST_HAVE_ZLIB
    const Bytes file = readBytes(_name);
    EXPECT_EQ(::adler32(1, file.data() + 48, static_cast<uInt>(file.size() - 48)), reg.checksum());
#endif
    reg.close();
    reg.open(_name.c_str(), false);
    EXPECT_EQ(std::make_tuple(3u, 7u, 9u, texts),
        std::make_tuple(reg.version(), reg.appProduct(), reg.appOem(),
            std::string(reg.appVersion()) + reg.appBuild()));
}

// Bytes 8..11 of 1 to 4 mark a legacy file: its root is at 0 and its first child right behind.
TEST_F(RegistryFileTest, LegacyFileOpensAsVersionOneWithRootAtZero)
{
    Bytes legacy = cat({ record(0, 0, 0, 2), record(4, 4, 26, 2, { 0x34, 0x12 }),
        record(7, 0, 0, 38), record(8, 6, 0, 4, { 1, 0, 0, 0 }) });
    writeBytes(_name, legacy);

    Registry reg(_name.c_str(), true);
    EXPECT_EQ(1u, reg.version());
    // Its dump: the title, a line for the magic it lacks, the version, then the root.
    StderrCapture err;
    reg.print("Legacy");
    const std::string dump = err.take();
    EXPECT_TRUE(std::regex_search(dump, std::regex("^Legacy .*\n.*\n.*1\n.*ROOT\n"))) << dump;
    int16 v = 0;
    EXPECT_EQ(0u, reg.getInt16(4, &v));
    EXPECT_EQ(0x1234, v);
    EXPECT_TRUE(reg.saveFileChecksum());
    EXPECT_TRUE(reg.testFileChecksum());
    // Twice: the second lookup starts from the path item found by the first.
    reg.setPath(7, 0);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(0u, reg.getInt16Array(8, &v, 2, 1)) << i;
    reg.addUint8(9, 200);
    reg.setPath(0);
    reg.addUint8(10, 1);
    reg.close();
    // The root record is never rewritten; each add links behind the last of its siblings.
    EXPECT_EQ(cat({ slice(legacy, 0, 26), record(7, 0, 67, 38), record(8, 6, 54, 4, { 1, 0, 0, 0 }),
                  record(9, 3, 0, 1, { 200 }), record(10, 3, 0, 1, { 1 }) }),
        readBytes(_name));

    legacy[8] = 5;
    writeBytes(_name, legacy);
    EXPECT_EQ("3 Header 0", failureOf([&] { reg.open(_name.c_str(), false); }));
    reg.close();

    // Bytes behind the root too few for a record: no child, and no add can be linked.
    for (const size_t stray : { 4, 11 }) {
        const Bytes file = cat({ record(0, 0, 0, 2), Bytes(stray, 0xEE) });
        writeBytes(_name, file);
        reg.open(_name.c_str(), true);
        EXPECT_EQ(6u, reg.getInt16(3, &v)) << stray << " stray bytes read as a child";
        EXPECT_EQ("4 / 3", failureOf([&] { reg.addInt32(3, 1); })) << stray;
        reg.close();
        EXPECT_EQ(file, readBytes(_name)) << stray;
    }
}

class RegistryTest : public ScratchDirTest {
protected:
    void SetUp() override { _reg.create(_name.c_str()); }
    void TearDown() override { _reg.close(); }
    Registry _reg;
};

// The family is one template; 16-bit values stand for every type.
TEST_F(RegistryTest, AddSetGetOfValuesArraysStringsAndBinaries)
{
    const int16 a[5] = { -300, 2, 3, 4, 5 }, b[5] = { 7, 8, 9, 10, 11 };
    int16 back[5] = {}, part[5] = {}, v = 0;
    _reg.addInt16(1, a[0]);
    _reg.addInt16Array(2, a, 5);
    _reg.addInt16(1, a[1]); // a twin that lookups never reach
    EXPECT_EQ(0u, _reg.getInt16(1, &v));
    EXPECT_EQ(-300, v);
    uint8 raw[2];
    EXPECT_EQ(0u, _reg.getUint8Array(1, raw, 2, 0)) << "lookups compare sizes, not types";
    _reg.setInt16(1, 6);
    EXPECT_EQ(0u, _reg.getInt16(1, &v));
    EXPECT_EQ(6, v);
    _reg.setInt16Array(2, b, 5, 2);
    EXPECT_EQ(0u, _reg.getInt16Array(2, back, 5, 0));
    EXPECT_EQ(std::vector<int16>({ 7, 8, 3, 4, 5 }), std::vector<int16>(back, back + 5));
    EXPECT_EQ(0u, _reg.getInt16Array(2, part, 5, 1));
    EXPECT_EQ(std::vector<int16>({ 7, 0 }), std::vector<int16>(part, part + 2));
    EXPECT_EQ(7u, _reg.getInt16Array(2, back, 4, 0));
    EXPECT_EQ(8u, _reg.getInt16Array(2, back, 5, 6));
    EXPECT_EQ("8 / 2", failureOf([&] { _reg.setInt16Array(2, b, 5, 6); }));

    // Strings store the buffer less one; each call is traced.
    StderrCapture err;
    char out[16];
    _reg.addString(7, "0123456789abcdef", 16);
    _reg.setString(7, "ABCDEFGHIJKLMNOP", 16);
    _reg.getString(7, out, 16);
    EXPECT_STREQ("ABCDEFGHIJKLMNO", out);
    const std::string trace = err.take();
    EXPECT_EQ(3, std::count(trace.begin(), trace.end(), '\n')) << trace;
    _reg.addBinary(8, "abc", 3);
    _reg.setBinary(8, "XY", 3, 2);
    _reg.getBinary(8, out, 3, 0);
    EXPECT_EQ("XYc", std::string(out, 3));
    EXPECT_EQ(7u, _reg.getData(8, out, 2, 0));
    EXPECT_EQ(record(7, 12, 137, 15), slice(readBytes(_name), 110, 12));
    // A negative count matches no item, not even an empty one.
    _reg.addBinary(3, "", 0);
    EXPECT_EQ(7u, _reg.getInt16Array(3, back, -1, 0));
    EXPECT_EQ("7 / 3", failureOf([&] { _reg.setInt16Array(3, b, -1, 0); }));
}

TEST_F(RegistryTest, PathsNestKeysAndFailuresCarryTheirCodeAndPath)
{
    int32 v = 0;
    EXPECT_EQ(header(3), slice(readBytes(_name), 0, 48)) << "unset fields are written as 0";
    _reg.addKey(1);
    _reg.addKey(2);
    _reg.setPath(2, 0);
    _reg.addKey(3);
    _reg.pathDown(3);
    _reg.addInt32(30, 30);
    _reg.setPath(1, 0);
    _reg.addKey(20);
    _reg.addInt32(4, 4);
    // Key 1, right behind the root, links to key 2 and to its first child, key 20.
    EXPECT_EQ(record(1, 0, 72, 112), slice(readBytes(_name), 60, 12));
    _reg.setPath(2, 3, 0);
    EXPECT_EQ(0u, _reg.getInt32(30, &v));
    EXPECT_EQ(30, v);
    _reg.pathUp();
    _reg.addInt32(31, 31); // behind key 3, not behind the value last met below it
    EXPECT_EQ(0u, _reg.getInt32(31, &v));
    _reg.pathUp();
    _reg.pathDown(1);
    EXPECT_EQ(0u, _reg.getInt32(4, &v));
    EXPECT_EQ("6 /1 6", failureOf([&] { _reg.setInt32(6, 1); }));
    EXPECT_EQ("7 /1 4", failureOf([&] { _reg.setInt64(4, 1); }));
    _reg.setPath(1, 20, 9, 0);
    EXPECT_EQ(5u, _reg.getInt32(4, &v));
    EXPECT_EQ("5 /1/20/9 0", failureOf([&] { _reg.setInt32(4, 1); }));
    _reg.setPath(1, 4, 0);
    EXPECT_EQ("5 /1/4 0", failureOf([&] { _reg.addInt32(1, 1); })) << "a value holds no path";
    _reg.close();

    _reg.open(_name.c_str(), false);
    _reg.setPath(1, 0);
    const std::string readOnly = " " + std::to_string(EBADF);
    EXPECT_EQ("4 /1 4" + readOnly, failureOf([&] { _reg.setInt32(4, 2); }));
    EXPECT_EQ("4 /1 5" + readOnly, failureOf([&] { _reg.addKey(5); }));
    EXPECT_EQ(0u, _reg.getInt32(4, &v));
    EXPECT_EQ(4, v);
    _reg.close();
    EXPECT_EQ("4 header 0 " + std::to_string(ENOSPC), failureOf([&] { _reg.create("/dev/full"); }));
    // A file that may not grow past its header: the root record fails at the root.
    rlimit limit = {};
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &limit));
    const rlimit header = { 48, limit.rlim_max };
    ASSERT_NE(SIG_ERR, signal(SIGXFSZ, SIG_IGN));
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &header));
    EXPECT_EQ("4 / 0 " + std::to_string(EFBIG),
        failureOf([&] { _reg.close(), _reg.create(_name.c_str()); }));
    setrlimit(RLIMIT_FSIZE, &limit);
    // Offsets are 32 bits: the last item that fits ends 4 GiB less a byte in (a sparse file).
    _reg.close();
    _reg.create(_name.c_str());
    ASSERT_EQ(0, truncate(_name.c_str(), UINT32_MAX - 12));
    _reg.addKey(1);
    EXPECT_EQ("4 / 2 " + std::to_string(EFBIG), failureOf([&] { errno = 0, _reg.addKey(2); }));
    EXPECT_EQ(UINT32_MAX, std::filesystem::file_size(_name));
}

// Each refusal is told by the function that makes it.
TEST_F(RegistryTest, BrokenPreconditionsEndInTheCheck)
{
    int32 v = 0;
    uint8 byte = 0;
    Walked walk;
    const auto fifteenDeep = [&] { _reg.setPath(1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0); };
    const std::pair<const char*, std::function<void()>> cases[] = {
        { "create", [&] { _reg.create(_name.c_str()); } },
        // Walks of a closed file, with the path item to find, and with only the last child.
        { "findPathItem", [&] { _reg.close(), _reg.addKey(5); } },
        { "findPrevItem", [&] { _reg.getInt32(1, &v), _reg.close(), _reg.addKey(5); } },
        { "open", [&] { _reg.open(_name.c_str(), false); } },
        { "pathUp", [&] { _reg.pathUp(); } },
        { "pathDown", [&] { fifteenDeep(), _reg.pathDown(16); } },
        { "setPath", [&] { _reg.setPath(1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0); } },
        { "findItem", [&] { _reg.getInt32(0, &v); } },
        { "findItem", [&] { _reg.setInt32Array(1, &v, 0, 0); } },
        { "addValues", [&] { _reg.addInt32Array(1, &v, -1); } },
        { "saveItem", [&] { _reg.addInt32(0xFFFF, 1); } },
        { "saveItem", [&] { _reg.addData(1, 0xFFFF, &v, 4); } },
        { "addItem", [&] { _reg.addData(1, 0, &v, 4); } },
        { "Exception", [] { const Registry::Exception e(5, nullptr, 0, 0); } },
        // A walk of a closed file, and a walk into a buffer without a size.
        { "scan", [&] { _reg.close(), _reg.scan(&walk); } },
        { "scan", [&] { walk.setBuffer(&byte, 0), _reg.scan(&walk); } },
    };
    for (const auto& c : cases)
        EXPECT_DEATH(c.second(), std::string("\\] ") + c.first + "\n") << c.first;
}

// Each value's line from its file bytes, indented by depth; type names left out.
TEST_F(RegistryPrintTest, DumpShowsEachValueFromItsFileBytesAtItsDepth)
{
    const struct {
        uint16 type;
        Bytes value;
        std::string shown;
    } rows[] = {
        { Registry::BOOL, { 2 }, "1: true" },
        { Registry::INT8, { 0x80 }, "1: -128" },
        { Registry::INT16, { 0xD4, 0xFE }, "2: -300" },
        { Registry::UINT16, { 0xD4, 0xFE }, "2: 65236" },
        { Registry::UINT32, { 0xFF, 0xFF, 0xFF, 0xFF }, "4: 4294967295" },
        { Registry::INT64, { 0x00, 0x0E, 0xFA, 0xD5, 0xFE, 0xFF, 0xFF, 0xFF }, "8: -5000000000" },
        { Registry::UINT64, { 0x00, 0x00, 0x08, 0xC5, 0xA1, 0xD8, 0xCC, 0xF9 },
            "8: 18000000000000000000" },
        { Registry::FLOAT, { 0, 0, 0x10, 0xC0 }, "4: -2.250000" },
        { Registry::DOUBLE, { 0, 0, 0x02, 0xC0, 0, 0, 0, 0 }, "8: -2.250000" },
        { Registry::STRING, { 'h', 'e', 'l', 'l', 'o' }, "5: \"hello\"" },
        { Registry::BINARY, { 'a', '\t', 'b', '\n', 0, 'c', '\r', '\b', 'z' },
            "9: atbn crbz" + std::string(55, ' ') },
    };
    Registry reg;
    reg.setAppInfo(111, 222, "v1.0.0", "b42");
    reg.create(_name.c_str());
    reg.addInt32(5, 1);
    reg.addKey(3);
    reg.pathDown(3);
    std::string want = "ROOT\n        [5]: [4: 1]\n    [3]: KEY\n";
    uint16 id = 0;
    for (const auto& r : rows) {
        reg.addData(++id, r.type, r.value.data(), static_cast<uint32>(r.value.size()));
        want += "            [" + std::to_string(id) + "]: [" + r.shown + "]\n";
    }
    reg.addKey(60);
    reg.pathDown(60);
    const uint8 twenty[20] = { 250, 1, 2, 3, 4, 5, 6, 7, 8, 9 };
    reg.addUint8Array(1, twenty, 20);
    want += "        [60]: KEY\n                [1]: [20: 250]\n";
    StderrCapture err;
    reg.print("Dump");
    const std::string dump = err.take();
    const size_t root = dump.find("ROOT\n"), end = dump.rfind("\n====");
    // The title line, then one line per header field, each ending in its value.
    const std::string values[]
        = { std::to_string(Registry::REGISTRY_MAGIC), "3", "111", "222", "v1.0.0", "b42" };
    std::string fields = "Dump .*\n";
    for (const std::string& value : values)
        fields += ".*[: _]" + value + "\n";
    EXPECT_TRUE(std::regex_search(dump.substr(0, root), std::regex(fields + "$"))) << dump;
    EXPECT_EQ(want,
        std::regex_replace(
            dump.substr(root, end + 1 - root), std::regex("\\]: [A-Z0-9-]+ \\["), "]: ["));

    // A visitor gets the stored size and the first bytes its buffer holds.
    Walked buffered;
    uint8 eight[8] = {};
    buffered.setBuffer(eight, 8);
    reg.scan(&buffered);
    EXPECT_EQ(20u, buffered.size);
    EXPECT_EQ(Bytes(twenty, twenty + 8), buffered.seen);
    EXPECT_EQ(0u, reg.getUint8Array(1, eight, 20, 1)) << "the walk moved the current path";
}

// Code of a lookup, a walk's failure (or its top ids) and an add's code ("-": read-only) in key 1,
// or the open's failure.
std::string probe(const std::string& name, const Bytes& bytes, bool add)
{
    writeBytes(name, bytes);
    Registry reg;
    std::string open = failureOf([&] { reg.open(name.c_str(), add); });
    if ("0" != open)
        return open;
    reg.setPath(1, 0);
    int32 v;
    Walked walk;
    uint8 buffer[16];
    walk.setBuffer(buffer, sizeof(buffer));
    StderrCapture quiet;
    EXPECT_NO_THROW(reg.print("T"));
    const std::string scan = failureOf([&] { reg.scan(&walk); });
    std::string result = std::to_string(reg.getInt32(99, &v)) + " " + scan;
    for (size_t i = 0; "0" == scan && i < walk.top.size(); ++i)
        result += (i ? "," : ":") + std::to_string(walk.top[i]);
    return result + " " + (add ? failureOf([&] { reg.addInt32(98, 1); }).substr(0, 1) : "-");
}

// Root, then key 1 at 60 holding whatever `children` describe, laid out from offset 72.
Bytes fileWithKeyOne(const Bytes& children, uint32 firstChild = 72)
{
    return header(3, cat({ record(0, 0, 0, 60), record(1, 0, 0, firstChild), children }));
}

TEST_F(RegistryDamageTest, DamageEndsInCodeThreeNeverInAHangOrAReadOutsideTheFile)
{
    const Bytes ring = cat({ record(2, 0, 84, 0), record(3, 0, 96, 0), record(4, 0, 72, 0) });
    // Keys 1..n each inside the one before; 16 is as deep as the API builds.
    const auto nested = [](uint16 n) {
        Bytes f = header(3, record(0, 0, 0, 60));
        for (uint16 i = 1; i <= n; ++i)
            f = cat({ f, record(i, 0, 0, i < n ? 60u + 12u * i : 0u) });
        return f;
    };
    // Key 1 appended by a writer killed before linking it; value 5 linked by the next writer.
    const Bytes orphan = header(3,
        cat({ record(0, 0, 0, 72), record(1, 0, 0, 0), record(5, 6, 0, 4, { 0x2D, 0x01, 0, 0 }) }));
    const Bytes legacy = cat({ record(0, 0, 0, 1), record(9, 12, 0, 3, { 'a', 'b', 'c' }) });
    const struct {
        const char* what;
        Bytes file;
        std::string want;
    } cases[] = {
        { "an orphan", orphan, "5 0:5 5" },
        { "a legacy file", legacy, "5 0:9 5" },
        { "a sibling pointing at itself", fileWithKeyOne(record(7, 6, 72, 4, Bytes(4))),
            "3 3 /1 0 3" },
        { "a three-record ring", fileWithKeyOne(ring), "3 3 /1 0 3" },
        { "a key whose child is itself", fileWithKeyOne({}, 60), "6 3 /1 0 -" },
        { "a child past the end", fileWithKeyOne({}, 100000), "3 3 /1 0 3" },
        { "a child inside the header", fileWithKeyOne({}, 8), "3 3 /1 0 3" },
        { "a value past the end", fileWithKeyOne(record(99, 6, 0, 4, { 1, 0 })), "3 3 /1 99 -" },
        { "a size near 4 GiB", fileWithKeyOne(record(5, 13, 0, 0xFFFFFFF0)), "6 3 /1 5 -" },
        // Id and type 0xFFFF are refused when written, but a damaged file may hold them.
        { "a record no writer would store", fileWithKeyOne(record(0xFFFF, 0xFFFF, 0, 0)),
            "6 0:1 0" },
        { "keys nested 20 deep", nested(20), "6 3 /1 16 -" },
        { "keys nested 16 deep", nested(16), "6 0:1 -" },
        { "a root cut short", slice(fileWithKeyOne({}), 0, 55), "3 3 /1 0 -" },
        { "no header at all", {}, "3 Header 0" },
        { "a header cut before its checksum", slice(header(3), 0, 47), "3 Header 0" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.want, probe(_name, c.file, '-' != c.want.back())) << c.what;
}

} // namespace
