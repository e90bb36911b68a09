// The dump that print writes, byte for byte, and the walk under it.
#include "RegistryFiles.h"
#include "support/StderrCapture.h"

#include "registry/Registry.h"

#include <gtest/gtest.h>

using namespace Kovan;
using namespace KovanTest;

namespace {

typedef ScratchFileTest RegistryPrintTest;

// The title line and the header block of a version-3 file.
std::string dumpHead(const std::string& title, const std::string& app)
{
    return title
        + " ===================================\nmagic      : 875139328\n"
          "version    : VERSOIN_3\napp-product: "
        + app + "\nROOT\n";
}

TEST_F(RegistryPrintTest, DumpShowsEachTypeFromItsFileBytesUnderNestedKeys)
{
    const std::string pad(50, ' ');
    const struct {
        uint16 type;
        Bytes value;
        std::string shown;
    } rows[] = {
        { Registry::BOOL, { 2 }, "BOOL [1: true]" },
        { Registry::INT8, { 0xFB }, "INT8 [1: -5]" },
        { Registry::UINT8, { 250 }, "UINT8 [1: 250]" },
        { Registry::INT16, { 0xD4, 0xFE }, "INT16 [2: -300]" },
        { Registry::UINT16, { 0x60, 0xEA }, "UINT16 [2: 60000]" },
        { Registry::INT32, { 7, 0, 0, 0, 8, 0, 0, 0 }, "INT32 [8: 7]" },
        { Registry::UINT32, { 0x00, 0x28, 0x6B, 0xEE }, "UINT32 [4: 4000000000]" },
        { Registry::INT64, { 0x00, 0x0E, 0xFA, 0xD5, 0xFE, 0xFF, 0xFF, 0xFF },
            "INT64 [8: -5000000000]" },
        { Registry::UINT64, { 0x00, 0x00, 0x08, 0xC5, 0xA1, 0xD8, 0xCC, 0xF9 },
            "UINT64 [8: 18000000000000000000]" },
        { Registry::FLOAT, { 0, 0, 0xC0, 0x3F }, "FLOAT [4: 1.500000]" },
        { Registry::DOUBLE, { 0, 0, 0x02, 0xC0, 0, 0, 0, 0 }, "DOUBLE [8: -2.250000]" },
        { Registry::STRING, { 'h', 'e', 'l', 'l', 'o' }, "STRING [5: \"hello\"]" },
        { Registry::BINARY, { 'a', '\t', 'b', '\n', 0, 'c', '\r', '\b', 'z' },
            "BINARY [9: atbn crbz" + pad + "     ]" },
        { 20, { 'x', 'y', 'z' }, "UNKNOWN-TYPE [3: xyz" + pad + "           ]" },
    };
    Registry reg;
    reg.setAppInfo(1, 2, "1.0.0", "b42");
    reg.create(_name.c_str());
    reg.addInt32(5, 1);
    reg.addKey(3);
    reg.pathDown(3);
    std::string want = dumpHead("Dump", "1\napp-oem    : 2\napp-version: 1.0.0\napp-build  : b42")
        + "        [5]: INT32 [4: 1]\n    [3]: KEY\n";
    uint16 id = 0;
    for (const auto& r : rows) {
        reg.addData(++id, r.type, r.value.data(), static_cast<uint32>(r.value.size()));
        want += "            [" + std::to_string(id) + "]: " + r.shown + "\n";
    }
    reg.addKey(60);
    reg.pathDown(60);
    reg.addBool(1, false);
    StderrCapture err;
    reg.print("Dump");
    EXPECT_EQ(want + "        [60]: KEY\n                [1]: BOOL [1: false]\n"
            + "=====================================\n",
        err.take());
}

TEST_F(RegistryPrintTest, DumpOfALegacyFileAnOrphanedRecordAndABrokenLink)
{
    const std::string noApp = "0\napp-oem    : 0\napp-version: \napp-build  : ";
    const std::string end = "=====================================\n";
    Bytes legacy = record(0, 0, 0, 1);
    append(legacy, record(9, 12, 0, 3, { 'a', 'b', 'c' }));
    // Key 1 was appended right behind the root, but its writer died before linking it; the next
    // writer's value 5 became the root's first child.
    Bytes orphan = header(3);
    append(orphan, record(0, 0, 0, 72));
    append(orphan, record(1, 0, 0, 0));
    append(orphan, record(5, 6, 0, 4, { 0x2D, 0x01, 0, 0 }));
    Bytes broken = header(3);
    append(broken, record(0, 0, 0, 60));
    append(broken, record(1, 6, 5000, 4, { 1, 0, 0, 0 }));
    const struct {
        const char* what;
        Bytes file;
        std::string shown;
    } cases[] = {
        { "a legacy file", legacy,
            "T ===================================\nmagic: none\nversion: VERSION_1\nROOT\n"
            "        [9]: STRING [3: \"abc\"]\n"
                + end },
        { "an orphan", orphan, dumpHead("T", noApp) + "        [5]: INT32 [4: 301]\n" + end },
        { "a link past the end", broken,
            dumpHead("T", noApp)
                + "        [1]: INT32 [4: 1]\nException is thrown in Registry::scan()\n"
                  "Exception is occurred in Registry::print(\"T\")\n" },
    };
    for (const auto& c : cases) {
        writeBytes(_name, c.file);
        Registry reg(_name.c_str(), false);
        StderrCapture err;
        reg.print("T");
        EXPECT_EQ(c.shown, err.take()) << c.what;
    }
}

// Logs each key and value with its depth, and the first bytes of the last value.
class Collector : public Registry::Scanner {
public:
    void keyLoaded(uint16 id) override { log += " key" + std::to_string(id) + at(); }
    void itemLoaded(uint16 id, uint16 type, uint32 size) override
    {
        log += " " + std::to_string(id) + ":" + std::to_string(type) + "/" + std::to_string(size)
            + at();
        if (buffer())
            seen.assign(buffer(), buffer() + bufferSize());
    }
    std::string at() const { return "@" + std::to_string(depth()); }
    std::string log;
    Bytes seen;
};

TEST_F(RegistryPrintTest, ScannerGetsPreOrderAndTheFirstBytesOfEachValue)
{
    Registry reg;
    reg.create(_name.c_str());
    reg.addInt8(1, 1);
    reg.addKey(3);
    reg.pathDown(3);
    const uint8 twenty[20] = { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9 };
    reg.addUint8Array(4, twenty, 20);
    reg.setPath(1, 0);
    Collector plain, buffered;
    reg.scan(&plain);
    EXPECT_EQ(" key0@0 1:2/1@1 key3@1 4:3/20@2", plain.log);
    EXPECT_TRUE(plain.seen.empty()) << "a scanner without a buffer got bytes";
    uint8 eight[8] = {};
    buffered.setBuffer(eight, 8);
    reg.scan(&buffered);
    EXPECT_EQ(Bytes(twenty, twenty + 8), buffered.seen);
    int8 v;
    EXPECT_EQ(5u, reg.getInt8(1, &v)) << "the walk moved the current path";
    buffered.setBuffer(eight, 0);
    EXPECT_CHECK_FAILS(reg.scan(&buffered),
        "0 == scanner->buffer() || (0 != scanner->buffer() && 0 != scanner->bufferSize())", "scan");
}

} // namespace
