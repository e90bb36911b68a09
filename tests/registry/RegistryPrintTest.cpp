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
std::string dumpHead(const std::string& title, int product = 0, int oem = 0,
    const std::string& version = "", const std::string& build = "")
{
    return title
        + " ===================================\n"
          "magic      : 875139328\n"
          "version    : VERSOIN_3\n"
          "app-product: "
        + std::to_string(product) + "\napp-oem    : " + std::to_string(oem)
        + "\napp-version: " + version + "\napp-build  : " + build + "\nROOT\n";
}

const char* const DUMP_END = "=====================================\n";

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
    const std::string twelve(12, ' ');
    EXPECT_EQ(dumpHead("Dump", 1, 2, "1.0.0", "b42")
            + "        [5]: INT32 [4: 1]\n"
              "    [3]: KEY\n"
            + twelve + "[1]: BOOL [1: true]\n" + twelve + "[2]: INT8 [1: -5]\n" + twelve
            + "[3]: UINT8 [1: 250]\n" + twelve + "[4]: INT16 [2: -300]\n" + twelve
            + "[5]: UINT16 [2: 60000]\n" + twelve + "[7]: UINT32 [4: 4000000000]\n" + twelve
            + "[8]: INT64 [8: -5000000000]\n" + twelve + "[9]: UINT64 [8: 18000000000000000000]\n"
            + twelve + "[10]: FLOAT [4: 1.500000]\n" + twelve + "[11]: DOUBLE [8: -2.250000]\n"
            + twelve + "[12]: BINARY [5: hello" + std::string(59, ' ') + "]\n" + twelve
            + "[12]: STRING [5: \"hello\"]\n" + twelve + "[13]: BINARY [9: atbn crbz"
            + std::string(55, ' ') + "]\n" + twelve + "[14]: UNKNOWN-TYPE [3: xyz"
            + std::string(61, ' ') + "]\n" + "        [6]: KEY\n" + std::string(16, ' ')
            + "[1]: INT32 [8: 7]\n" + std::string(16, ' ') + "[2]: BOOL [1: false]\n" + DUMP_END,
        err.take());
}

TEST_F(RegistryPrintTest, EmptyAndVersionOneFiles)
{
    Registry reg;
    reg.create(_name.c_str());
    {
        StderrCapture err;
        reg.print("Empty");
        EXPECT_EQ(dumpHead("Empty") + DUMP_END, err.take());
    }
    reg.close();

    Bytes legacy = record(0, 0, 0, 1);
    append(legacy, record(4, 4, 24 + 2, 2));
    append(legacy, { 0x34, 0x12 });
    append(legacy, record(9, 12, 0, 3));
    append(legacy, { 'a', 'b', 'c' });
    writeBytes(_name, legacy);
    reg.open(_name.c_str(), false);
    StderrCapture err;
    reg.print("Old");
    EXPECT_EQ("Old ===================================\n"
              "magic: none\n"
              "version: VERSION_1\n"
              "ROOT\n"
              "        [4]: INT16 [2: 4660]\n"
              "        [9]: STRING [3: \"abc\"]\n"
              "=====================================\n",
        err.take());
}

TEST_F(RegistryPrintTest, LongTitleIsCutAndAFailedWalkIsReported)
{
    Bytes file = header(3);
    append(file, record(0, 0, 0, 60));
    append(file, record(1, 6, 5000, 4));
    append(file, { 1, 0, 0, 0 });
    writeBytes(_name, file);

    Registry reg(_name.c_str(), false);
    StderrCapture err;
    const std::string title(40, 'T');
    reg.print(title.c_str());
    EXPECT_EQ("Btring::operator=() LONG TEXT: [40]\"" + title + "\"\n"
            + dumpHead(std::string(31, 'T'))
            + "        [1]: INT32 [4: 1]\n"
              "Exception is thrown in Registry::scan()\n"
              "Exception is occurred in Registry::print(\""
            + title + "\")\n",
        err.take());
}

// Keeps what the walk hands over.
class Collector : public Registry::Scanner {
public:
    void begin() override { log += "begin;"; }
    void headerLoaded(const Registry& r) override
    {
        log += "header " + std::to_string(r.version()) + ";";
    }
    void keyLoaded(uint16 id) override
    {
        log += "key " + std::to_string(id) + "@" + std::to_string(depth()) + ";";
    }
    void itemLoaded(uint16 id, uint16 type, uint32 size) override
    {
        log += "item " + std::to_string(id) + " " + std::to_string(type) + " "
            + std::to_string(size) + "@" + std::to_string(depth()) + ";";
        if (buffer())
            seen.assign(buffer(), buffer() + bufferSize());
    }
    void end() override { log += "end"; }
    std::string log;
    Bytes seen;
};

TEST_F(RegistryPrintTest, ScannerGetsPreOrderAndTheFirstBytesOfEachValue)
{
    Registry reg;
    reg.create(_name.c_str());
    reg.addInt8(1, 1);
    reg.addInt8(2, 2);
    reg.addKey(3);
    reg.pathDown(3);
    uint8 twenty[20];
    for (uint8 i = 0; i < 20; ++i)
        twenty[i] = i;
    reg.addUint8Array(4, twenty, 20);
    reg.setPath(2, 0);

    Collector plain;
    reg.scan(&plain);
    EXPECT_EQ(
        "begin;header 3;key 0@0;item 1 2 1@1;item 2 2 1@1;key 3@1;item 4 3 20@2;end", plain.log);
    EXPECT_TRUE(plain.seen.empty());

    Collector buffered;
    uint8 eight[8] = {};
    buffered.setBuffer(eight, 8);
    reg.scan(&buffered);
    EXPECT_EQ(Bytes({ 0, 1, 2, 3, 4, 5, 6, 7 }), buffered.seen);

    // The walk leaves the current path alone: 2 is a value, not a key, so it holds no path.
    int8 v;
    EXPECT_EQ(5u, reg.getInt8(1, &v));
    reg.setPath(0);
    EXPECT_EQ(0u, reg.getInt8(2, &v));
}

} // namespace
