// The descriptor under the registry. Its typed transfers are the streams' code, held to the file
// layout in StreamTest.
#include "registry/StdFile.h"

#include "RegistryFiles.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace Kovan;
using namespace KovanTest;

namespace {

typedef ScratchFileTest StdFileTest;

TEST_F(StdFileTest, ModesShortReadsAndPositionalTransfers)
{
    StdFile file;
    EXPECT_FALSE(file.open(_name.c_str(), StdFile::READ_ONLY)) << "opened a missing file";
    writeBytes(_name, Bytes(10, 0xAA));
    ASSERT_TRUE(file.create(_name.c_str()));
    EXPECT_EQ(0u, readBytes(_name).size()) << "create kept the old bytes";
    ASSERT_TRUE(file.write("ab", 2));
    uint32 written = 0;
    EXPECT_TRUE(file.writeAt(4, "xyz", 3, "123", 3, &written));
    EXPECT_EQ(6u, written);
    EXPECT_EQ(Bytes({ 'a', 'b', 0, 0, 'x', 'y', 'z', '1', '2', '3' }), readBytes(_name));
    uint32 size = 0;
    EXPECT_TRUE(file.size(&size));
    EXPECT_EQ(10u, size);
    char buf[8] = {};
    EXPECT_EQ(3, file.readAt(7, buf, 8)) << "a read across the end";
    EXPECT_EQ(0, memcmp("123", buf, 3));
    EXPECT_EQ(0, file.readAt(10, buf, 8)) << "a read past the end";
    EXPECT_EQ(2u, file.position()) << "a positional transfer moved the position";
    file.close();
    file.close();
    EXPECT_FALSE(file.isOpen());

    ASSERT_TRUE(file.open(_name.c_str(), StdFile::READ_ONLY));
    EXPECT_TRUE(file.seek(-2, StdFile::FROM_END));
    uint32 v = 0xFFFFFFFF;
    EXPECT_TRUE(file.readUint32(&v)) << "a short read is a success";
    EXPECT_EQ(0xFFFF3332u, v);
    EXPECT_FALSE(file.readUint32(&v)) << "a read at the end succeeded";
    EXPECT_FALSE(file.writeUint8(1)) << "a read-only descriptor took a write";
    EXPECT_FALSE(file.writeAt(0, "ab", 2, "c", 1, &written));
    EXPECT_EQ(0u, written);
}

} // namespace
