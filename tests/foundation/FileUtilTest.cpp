#include "foundation/FileUtil.h"

#include "support/StderrCapture.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace Kovan;
using KovanTest::StderrCapture;

namespace {

class TempDir {
public:
    TempDir()
    {
        char name[] = "/tmp/kovan-files-XXXXXX";
        _path = mkdtemp(name);
    }
    ~TempDir() { (void)!system(("rm -rf '" + _path + "'").c_str()); }
    const std::string& path() const { return _path; }
    std::string touch(const std::string& name, const std::string& content = "") const
    {
        std::string full = _path + "/" + name;
        FILE* f = fopen(full.c_str(), "wb");
        fwrite(content.data(), 1, content.size(), f);
        fclose(f);
        return full;
    }

private:
    std::string _path;
};

} // namespace

TEST(FileUtilTest, FilenameOnlyTakesTheLastComponentOfEitherSeparator)
{
    EXPECT_STREQ("report.txt", filenameOnly("../dir/report.txt"));
    EXPECT_STREQ("name", filenameOnly("dir\\sub\\name"));
    EXPECT_STREQ("name", filenameOnly("name"));
    EXPECT_STREQ("name", filenameOnly("/name"));
    EXPECT_STREQ("a", filenameOnly("a"));
    const char* path = "x/y";
    EXPECT_EQ(path + 2, filenameOnly(path));
}

TEST(FileUtilDeathTest, FilenameOnlyRejectsATrailingSeparator)
{
    EXPECT_CHECK_FAILS(filenameOnly("dir/"), "'\\\\' != *p && '/' != *p", "filenameOnly");
    EXPECT_CHECK_FAILS(filenameOnly("dir\\"), "'\\\\' != *p && '/' != *p", "filenameOnly");
}

TEST(FileUtilTest, CheckFileExtNeedsTheDotAndIgnoresCase)
{
    struct Case {
        const char* name;
        const char* ext;
        bool match;
    } cases[] = {
        { "photo.JPG", "jpg", true },
        { "photo.jpeg", "jpg", false },
        { "jpg", "jpg", false },
        { ".jpg", "jpg", true },
        { "archive.tar.GZ", "gz", true },
        { "tar.gz", "tar", false },
        { "name.", "", true },
        { "name", "", false },
        { "g", "jpg", false },
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.match, checkFileExt(c.name, c.ext)) << c.name << " / " << c.ext;
}

TEST(FileUtilTest, CopyFileCopiesToTheEndInChunks)
{
    TempDir dir;
    std::string content;
    for (int i = 0; i < 10000; ++i)
        content += static_cast<char>('a' + i % 26);
    std::string src = dir.touch("src.bin", content);
    FILE* in = fopen(src.c_str(), "rb");
    FILE* out = fopen((dir.path() + "/dst.bin").c_str(), "w+b");
    EXPECT_TRUE(copyFile(out, in));
    fflush(out);
    rewind(out);
    std::string copied(content.size() + 10, '\0');
    copied.resize(fread(&copied[0], 1, copied.size(), out));
    EXPECT_EQ(content, copied);
    fclose(in);
    fclose(out);

    FILE* empty = fopen(dir.touch("empty").c_str(), "rb");
    FILE* sink = fopen((dir.path() + "/sink").c_str(), "wb");
    EXPECT_TRUE(copyFile(sink, empty));
    EXPECT_EQ(0L, ftell(sink));
    fclose(empty);
    fclose(sink);
}

TEST(FileUtilTest, CopyFileGivesUpOnANonBlockingSourceThatStaysEmpty)
{
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    // Some data first, then nothing: the data is copied, then the hundredth EAGAIN fails.
    ASSERT_EQ(5, write(fds[1], "hello", 5));
    FILE* src = fdopen(fds[0], "rb");
    FILE* dst = tmpfile();
    EXPECT_FALSE(copyFile(dst, src));
    EXPECT_EQ(5L, ftell(dst));

    // With the writer closed the pipe reaches its end and the copy succeeds.
    ASSERT_EQ(3, write(fds[1], "abc", 3));
    close(fds[1]);
    EXPECT_TRUE(copyFile(dst, src));
    EXPECT_EQ(8L, ftell(dst));
    fclose(src);
    fclose(dst);
}

TEST(FileUtilTest, DirectoryScansCountAndListByExtension)
{
    TempDir dir;
    for (const char* name : { "a.log", "x.log", "ablog", "xlog", "log", "b.LOG" })
        dir.touch(name);
    EXPECT_EQ(3u, fileCountInPath(dir.path().c_str(), "log"));
    EXPECT_EQ(0u, fileCountInPath((dir.path() + "/missing").c_str(), "log"));

    StderrCapture err;
    Btring<64> names[8];
    int32 n = findFilesWithExt(dir.path().c_str(), "log", names, 8);
    EXPECT_EQ("finding files(*.log) in \"" + dir.path() + "\"...\n", err.take());
    std::set<std::string> found;
    for (int32 i = 0; i < n; ++i)
        found.insert(names[i].cString());
    EXPECT_EQ((std::set<std::string> { "a.log", "x.log", "b.LOG" }), found);

    // A name of 63 characters is skipped although it would fit.
    dir.touch(std::string(59, 'l') + ".log");
    dir.touch(std::string(58, 'k') + ".log");
    n = findFilesWithExt(dir.path().c_str(), "log", names, 8);
    EXPECT_EQ(4, n);

    EXPECT_EQ(2, findFilesWithExt(dir.path().c_str(), "log", names, 2));
    EXPECT_EQ(0, findFilesWithExt("/nonexistent-kovan-dir", "log", names, 2));
    err.take();
}
