// The walk over the whole tree and the dump that print writes from it.
#include "RegistryFiles.h"
#include "support/StderrCapture.h"

#include <regex>

using namespace Kovan;
using namespace KovanTest;

namespace {

typedef ScratchFileTest RegistryPrintTest;

// Each value's line from its file bytes, indented by depth; type names left out.
TEST_F(RegistryPrintTest, DumpShowsEachValueFromItsFileBytesAtItsDepth)
{
    const struct {
        uint16 type;
        Bytes value;
        std::string shown;
    } rows[] = {
        { Registry::INT16, { 0xD4, 0xFE }, "2: -300" },
        { Registry::INT64, { 0x00, 0x0E, 0xFA, 0xD5, 0xFE, 0xFF, 0xFF, 0xFF }, "8: -5000000000" },
        { Registry::UINT64, { 0x00, 0x00, 0x08, 0xC5, 0xA1, 0xD8, 0xCC, 0xF9 },
            "8: 18000000000000000000" },
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
    for (const std::string field : { "Dump", "111", "222", "v1.0.0", "b42" })
        EXPECT_NE(std::string::npos, dump.substr(0, root).find(field)) << field << " in " << dump;
    EXPECT_EQ(want,
        std::regex_replace(
            dump.substr(root, end + 1 - root), std::regex("\\]: [A-Z0-9-]+ \\["), "]: ["));

    // A visitor gets the stored size and the first bytes its buffer holds.
    Walked plain, buffered;
    reg.scan(&plain);
    EXPECT_EQ(20u, plain.size);
    EXPECT_TRUE(plain.seen.empty()) << "a scanner without a buffer got bytes";
    uint8 eight[8] = {};
    buffered.setBuffer(eight, 8);
    reg.scan(&buffered);
    EXPECT_EQ(Bytes(twenty, twenty + 8), buffered.seen);
    EXPECT_EQ(0u, reg.getUint8Array(1, eight, 20, 1)) << "the walk moved the current path";
    buffered.setBuffer(eight, 0);
    EXPECT_DEATH(reg.scan(&buffered), "\\] scan\n") << "a buffer without a size";
    reg.close();
    EXPECT_DEATH(reg.scan(&plain), "\\] scan\n") << "a closed registry";
}

} // namespace
