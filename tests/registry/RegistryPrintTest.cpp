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

TEST_F(RegistryPrintTest, DumpOfEveryTypeNestedKeysAndAnUnknownType)
{
    Registry reg;
    reg.setAppInfo(1, 2, "1.0.0", "b42");
    reg.create(_name.c_str());
    reg.addInt32(5, 1);
    reg.addKey(3);
    reg.pathDown(3);
    reg.addBool(1, true);
    reg.addInt8(2, -5);
    reg.addUint8(3, 250);
    reg.addInt16(4, -300);
    reg.addUint16(5, 60000);
    reg.addUint32(7, 4000000000u);
    reg.addInt64(8, -5000000000LL);
    reg.addUint64(9, 18000000000000000000ULL);
    reg.addFloat(10, 1.5f);
    reg.addDouble(11, -2.25);
    reg.addBinary(12, "hello", 5);
    reg.addData(12, Registry::STRING, "hello", 5);
    reg.addBinary(13, "a\tb\n\0c\r\bz", 9);
    reg.addData(14, 20, "xyz", 3);
    reg.addKey(6);
    reg.pathDown(6);
    const int32 pair[2] = { 7, 8 };
    reg.addInt32Array(1, pair, 2);
    reg.addBool(2, false);

    StderrCapture err;
    reg.print("Dump");
    EXPECT_EQ(dumpHead("Dump", "1\napp-oem    : 2\napp-version: 1.0.0\napp-build  : b42")
            + R"(        [5]: INT32 [4: 1]
    [3]: KEY
            [1]: BOOL [1: true]
            [2]: INT8 [1: -5]
            [3]: UINT8 [1: 250]
            [4]: INT16 [2: -300]
            [5]: UINT16 [2: 60000]
            [7]: UINT32 [4: 4000000000]
            [8]: INT64 [8: -5000000000]
            [9]: UINT64 [8: 18000000000000000000]
            [10]: FLOAT [4: 1.500000]
            [11]: DOUBLE [8: -2.250000]
            [12]: BINARY [5: hello)"
            + std::string(59, ' ') + R"(]
            [12]: STRING [5: "hello"]
            [13]: BINARY [9: atbn crbz)"
            + std::string(55, ' ') + R"(]
            [14]: UNKNOWN-TYPE [3: xyz)"
            + std::string(61, ' ') + R"(]
        [6]: KEY
                [1]: INT32 [8: 7]
                [2]: BOOL [1: false]
=====================================
)",
        err.take());
}

TEST_F(RegistryPrintTest, VersionOneFile)
{
    Bytes legacy = record(0, 0, 0, 1);
    append(legacy, record(4, 4, 24 + 2, 2, { 0x34, 0x12 }));
    append(legacy, record(9, 12, 0, 3, { 'a', 'b', 'c' }));
    writeBytes(_name, legacy);
    Registry reg(_name.c_str(), false);
    StderrCapture err;
    reg.print("Old");
    EXPECT_EQ(R"(Old ===================================
magic: none
version: VERSION_1
ROOT
        [4]: INT16 [2: 4660]
        [9]: STRING [3: "abc"]
=====================================
)",
        err.take());
}

TEST_F(RegistryPrintTest, LongTitleIsCutAndAFailedWalkIsReported)
{
    Bytes file = header(3);
    append(file, record(0, 0, 0, 60));
    append(file, record(1, 6, 5000, 4, { 1, 0, 0, 0 }));
    writeBytes(_name, file);

    Registry reg(_name.c_str(), false);
    StderrCapture err;
    const std::string title(40, 'T');
    reg.print(title.c_str());
    EXPECT_EQ("Btring::operator=() LONG TEXT: [40]\"" + title + "\"\n"
            + dumpHead(std::string(31, 'T'), "0\napp-oem    : 0\napp-version: \napp-build  : ")
            + "        [1]: INT32 [4: 1]\n"
              "Exception is thrown in Registry::scan()\n"
              "Exception is occurred in Registry::print(\""
            + title + "\")\n",
        err.take());
}

TEST_F(RegistryPrintTest, RecordOrphanedByAKilledWriterIsNeitherLookedUpNorPrinted)
{
    // Key 1 was appended right behind the root, but its writer died before linking it; the next
    // writer's value 5 became the root's first child.
    Bytes file = header(3);
    append(file, record(0, 0, 0, 72));
    append(file, record(1, 0, 0, 0));
    append(file, record(5, 6, 0, 4, { 0x2D, 0x01, 0, 0 }));
    writeBytes(_name, file);
    Registry reg(_name.c_str(), false);
    int32 v = 0;
    EXPECT_EQ(0u, reg.getInt32(5, &v));
    EXPECT_EQ(301, v);
    reg.setPath(1, 0);
    EXPECT_EQ(5u, reg.getInt32(5, &v));
    StderrCapture err;
    reg.print("Orphan");
    EXPECT_EQ(dumpHead("Orphan", "0\napp-oem    : 0\napp-version: \napp-build  : ")
            + "        [5]: INT32 [4: 301]\n=====================================\n",
        err.take());
}

// Logs each key and value with its depth, and the first bytes of the last value.
class Collector : public Registry::Scanner {
public:
    void keyLoaded(uint16 id) override
    {
        log += " key" + std::to_string(id) + "@" + std::to_string(depth());
    }
    void itemLoaded(uint16 id, uint16 type, uint32 size) override
    {
        log += " " + std::to_string(id) + ":" + std::to_string(type) + "/" + std::to_string(size)
            + "@" + std::to_string(depth());
        if (buffer())
            seen.assign(buffer(), buffer() + bufferSize());
    }
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
    EXPECT_TRUE(plain.seen.empty());
    uint8 eight[8] = {};
    buffered.setBuffer(eight, 8);
    reg.scan(&buffered);
    EXPECT_EQ(Bytes(twenty, twenty + 8), buffered.seen);

    // The walk leaves the current path alone: 1 is a value, not a key, so it holds no path.
    int8 v;
    EXPECT_EQ(5u, reg.getInt8(1, &v));
    buffered.setBuffer(eight, 0);
    EXPECT_CHECK_FAILS(reg.scan(&buffered),
        "0 == scanner->buffer() || (0 != scanner->buffer() && 0 != scanner->bufferSize())", "scan");
}

} // namespace
