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

TEST_F(RegistryFileTest, NewFileAppTextsEmptyChecksumThenFirstAndSecondValueByteForByte)
{
    Registry reg;
    reg.setAppInfo(7, 9, "0123456789ABCDEF", "build-01");
    reg.create(_name.c_str());
    Bytes expected = header(3);
    putLe32(expected, 8, 7);
    putLe32(expected, 12, 9);
    const std::string texts = "0123456789ABCDEFbuild-01";
    std::copy(texts.begin(), texts.end(), expected.begin() + 16);
    append(expected, Bytes(12, 0));
    EXPECT_EQ(expected, readBytes(_name));
    EXPECT_TRUE(reg.saveFileChecksum());
    EXPECT_EQ(0x000C0001u, reg.checksum());
    putLe32(expected, 44, 0x000C0001);
    EXPECT_EQ(expected, readBytes(_name));

    // Values are appended; the first becomes the root's child, the second the first's sibling.
    reg.addInt32(5, 1);
    putLe32(expected, 56, 60);
    append(expected, record(5, 6, 0, 4, { 0x01, 0x00, 0x00, 0x00 }));
    EXPECT_EQ(expected, readBytes(_name));
    reg.addInt32(6, -1);
    putLe32(expected, 64, 76);
    append(expected, record(6, 6, 0, 4, Bytes(4, 0xFF)));
    EXPECT_EQ(expected, readBytes(_name));

    // The stored checksum is stale until asked for.
    EXPECT_FALSE(reg.testFileChecksum());
    EXPECT_TRUE(reg.saveFileChecksum());
    EXPECT_TRUE(reg.testFileChecksum());
    reg.close();

    // Texts that fill their fields read back whole.
    Registry back(_name.c_str(), false);
    EXPECT_STREQ("0123456789ABCDEF", back.appVersion());
    EXPECT_STREQ("build-01", back.appBuild());
}

TEST_F(RegistryFileTest, DoublesLandInFpaWordOrderAndRoundTrip)
{
    Registry reg;
    reg.create(_name.c_str());
    // pi has bits in both words, so a swap that only works for 1.0 shows.
    const double values[2] = { 1.0, 3.141592653589793 };
    reg.addDoubleArray(1, values, 2);
    EXPECT_EQ(
        Bytes({ 0x00, 0x00, 0xF0, 0x3F, 0x00, 0x00, 0x00, 0x00 }), slice(readBytes(_name), 72, 8));
    double back[2] = {};
    EXPECT_EQ(0u, reg.getDoubleArray(1, back, 2, 0));
    EXPECT_EQ(0, memcmp(values, back, sizeof(values)));
}

TEST_F(RegistryFileTest, LegacyFileOpensAsVersionOneWithRootAtZero)
{
    // Root at 0 (bytes 8..11 = 2 mark the legacy file), one INT16 value right behind it.
    Bytes legacy = record(0, 0, 0, 2);
    append(legacy, record(4, 4, 0, 2, { 0x34, 0x12 }));
    writeBytes(_name, legacy);

    Registry reg(_name.c_str(), true);
    EXPECT_EQ(1u, reg.version());
    int16 v = 0;
    EXPECT_EQ(0u, reg.getInt16(4, &v));
    EXPECT_EQ(0x1234, v);
    EXPECT_TRUE(reg.saveFileChecksum());
    EXPECT_TRUE(reg.testFileChecksum());

    // A second value links behind the first; the root record is never rewritten.
    reg.addUint8(9, 200);
    reg.close();
    Bytes after = readBytes(_name);
    EXPECT_EQ(slice(legacy, 0, 12), slice(after, 0, 12));
    EXPECT_EQ(record(4, 4, 26, 2), slice(after, 12, 12));

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

TEST_F(RegistryFileTest, ChecksumAgreesWithZlibOnRandomFiles)
{
#ifndef KOVAN_TEST_HAVE_ZLIB
    GTEST_SKIP() << "built without zlib";
#else
    std::mt19937 rng(1950);
    for (int round = 0; round < 12; ++round) {
        Bytes file = header(3);
        append(file, record(0, 0, 0, 0));
        // Long runs of 0xFF stress the deferred reduction of the sums.
        for (size_t i = rng() % 20000; i > 0; --i)
            file.push_back(0 == round % 4 ? 0xFF : static_cast<uint8_t>(rng()));
        writeBytes(_name, file);
        const uint32 expected = ::adler32(1, file.data() + 48, static_cast<uInt>(file.size() - 48));
        Registry reg(_name.c_str(), true);
        EXPECT_TRUE(reg.saveFileChecksum());
        EXPECT_EQ(expected, reg.checksum()) << file.size() << " bytes";
        EXPECT_TRUE(reg.testFileChecksum());
    }
#endif
}

} // namespace
