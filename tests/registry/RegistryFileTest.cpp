// The file the registry writes, byte for byte, and the files it accepts.
#include "RegistryFiles.h"

#include "registry/Registry.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#ifdef KOVAN_TEST_HAVE_ZLIB
#include <zlib.h>
#endif

using namespace Kovan;
using namespace KovanTest;

namespace {

typedef ScratchFileTest RegistryFileTest;

TEST_F(RegistryFileTest, NewFileAndItsValuesByteForByteWithTheChecksumOnlyOnRequest)
{
    Registry reg;
    reg.setAppInfo(7, 9, "0123456789ABCDEF", "build-01");
    reg.create(_name.c_str());
    EXPECT_TRUE(reg.saveFileChecksum());
    Bytes expected = header(3);
    putLe32(expected, 8, 7);
    putLe32(expected, 12, 9);
    const std::string texts = "0123456789ABCDEFbuild-01";
    std::copy(texts.begin(), texts.end(), expected.begin() + 16);
    putLe32(expected, 44, 0x000C0001);
    append(expected, Bytes(12, 0));
    EXPECT_EQ(expected, readBytes(_name));

    // The first value becomes the root's child; a double's high word goes first.
    const double pi = 3.141592653589793;
    reg.addDouble(5, pi);
    putLe32(expected, 56, 60);
    append(expected, record(5, 11, 0, 8, { 0xFB, 0x21, 0x09, 0x40, 0x18, 0x2D, 0x44, 0x54 }));
    EXPECT_EQ(expected, readBytes(_name));
    double back = 0;
    EXPECT_EQ(0u, reg.getDouble(5, &back));
    EXPECT_EQ(pi, back);
    EXPECT_FALSE(reg.testFileChecksum()) << "the checksum followed an add";

    // Over several of the chunks the file is read in, with runs of 0xFF for the largest sums.
    std::mt19937 rng(1950);
    Bytes blob(9000, 0xFF);
    std::generate(blob.begin(), blob.begin() + 4500, [&] { return static_cast<uint8_t>(rng()); });
    reg.addBinary(6, blob.data(), static_cast<uint32>(blob.size()));
    EXPECT_TRUE(reg.saveFileChecksum());
    EXPECT_TRUE(reg.testFileChecksum());
#ifdef KOVAN_TEST_HAVE_ZLIB
    const Bytes file = readBytes(_name);
    EXPECT_EQ(::adler32(1, file.data() + 48, static_cast<uInt>(file.size() - 48)), reg.checksum());
#endif
    reg.close();

    // Texts that fill their fields read back whole.
    Registry reopened(_name.c_str(), false);
    EXPECT_STREQ("0123456789ABCDEF", reopened.appVersion());
    EXPECT_STREQ("build-01", reopened.appBuild());
}

// Bytes 8..11 of 1 to 4 mark a legacy file: its root is at 0 and its first child right behind.
TEST_F(RegistryFileTest, LegacyFileOpensAsVersionOneWithRootAtZero)
{
    Bytes legacy = record(0, 0, 0, 2);
    append(legacy, record(4, 4, 26, 2, { 0x34, 0x12 }));
    append(legacy, record(7, 0, 0, 38));
    append(legacy, record(8, 6, 0, 4, { 1, 0, 0, 0 }));
    writeBytes(_name, legacy);

    Registry reg(_name.c_str(), true);
    EXPECT_EQ(1u, reg.version());
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
    const Bytes after = readBytes(_name);
    EXPECT_EQ(slice(legacy, 0, 26), slice(after, 0, 26));
    EXPECT_EQ(record(7, 0, 67, 38), slice(after, 26, 12));
    EXPECT_EQ(record(8, 6, 54, 4), slice(after, 38, 12));
    EXPECT_EQ(80u, after.size());

    legacy[8] = 5;
    writeBytes(_name, legacy);
    EXPECT_EQ("3 Header 0", failureOf([&] { reg.open(_name.c_str(), false); }));
}

// The legacy root's child field holds the format mark, so its first child can only be the
// record right behind it; bytes there too few for a record are no child, and nothing added past
// them could be linked.
TEST_F(RegistryFileTest, LegacyRootWithoutARecordBehindItIsEmptyAndRefusesAdds)
{
    const Bytes root = record(0, 0, 0, 2);
    writeBytes(_name, root);
    Registry reg;
    EXPECT_EQ("3 Header 0", failureOf([&] { reg.open(_name.c_str(), true); })) << "no fourth word";
    reg.close();
    for (const size_t stray : { 4, 11 }) {
        Bytes file = root;
        append(file, Bytes(stray, 0xEE));
        writeBytes(_name, file);
        reg.open(_name.c_str(), true);
        int32 v = 0;
        EXPECT_EQ(6u, reg.getInt32(3, &v)) << stray << " stray bytes read as a child";
        EXPECT_EQ("4 / 3", failureOf([&] { reg.addInt32(3, 1); })) << stray;
        reg.close();
        EXPECT_EQ(file, readBytes(_name)) << stray;
    }
}

TEST_F(RegistryFileTest, BelowVersionThreeChecksumsSucceedWithoutTouchingTheFile)
{
    Bytes v2 = header(2);
    putLe32(v2, 44, 0xDEADBEEF);
    append(v2, record(0, 0, 0, 60));
    append(v2, record(1, 7, 0, 4, { 9, 0, 0, 0 }));
    writeBytes(_name, v2);
    Registry reg(_name.c_str(), true);
    EXPECT_EQ(2u, reg.version());
    EXPECT_TRUE(reg.testFileChecksum());
    EXPECT_TRUE(reg.saveFileChecksum());
    EXPECT_EQ(0xDEADBEEFu, reg.checksum());
    uint32 v = 0;
    EXPECT_EQ(0u, reg.getUint32(1, &v));
    EXPECT_EQ(9u, v);
    reg.close();
    EXPECT_EQ(v2, readBytes(_name));
}

} // namespace
