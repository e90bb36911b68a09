#include "foundation/FileUtil.h"

#include "support/StderrCapture.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <unistd.h>

using namespace Kovan;

TEST(FileUtilTest, FilenameOnlyAndCheckFileExt)
{
    EXPECT_STREQ("report.txt", filenameOnly("../dir/report.txt"));
    EXPECT_STREQ("name", filenameOnly("dir\\sub\\name"));
    EXPECT_CHECK_FAILS(filenameOnly("dir\\"), "'\\\\' != *p && '/' != *p", "filenameOnly");
    const char* cases[][3] = { { "photo.JPG", "jpg", "y" }, { "photo.jpeg", "jpg", "n" },
        { "jpg", "jpg", "n" }, { ".jpg", "jpg", "y" }, { "tar.gz", "tar", "n" },
        { "name.", "", "y" }, { "g", "jpg", "n" } };
    for (const auto& c : cases)
        EXPECT_EQ('y' == *c[2], checkFileExt(c[0], c[1])) << c[0] << " / " << c[1];
}

TEST(FileUtilTest, CopyGoesToTheEndAndGivesUpOnAPipeThatStaysEmptyOrAReadError)
{
    // A non-blocking pipe: what is there is copied, then the hundredth EAGAIN in a row fails.
    int fds[2];
    ASSERT_EQ(0, pipe2(fds, O_NONBLOCK));
    ASSERT_EQ(5000, write(fds[1], std::string(5000, 'x').data(), 5000));
    FILE *src = fdopen(fds[0], "rb"), *out = tmpfile();
    EXPECT_FALSE(copyFile(out, src));
    EXPECT_EQ(5000L, ftell(out));
    ASSERT_EQ(3, write(fds[1], "abc", 3));
    close(fds[1]); // now the pipe reaches its end
    EXPECT_TRUE(copyFile(out, src));
    EXPECT_EQ(5003L, ftell(out));
    FILE* directory = fopen("/", "rb"); // opens, but every read fails
    EXPECT_FALSE(copyFile(out, directory));
    (void)fclose(directory);
    (void)fclose(src);
    (void)fclose(out);
}

TEST(FileUtilTest, DirectoryScansCountAndListByExtensionAndCloseTheDirectory)
{
    KovanTest::StderrCapture err;
    const auto fds = std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
    std::string dir = "/tmp/kovan-files-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(&dir[0]));
    const auto touch = [&](const std::string& name) { std::ofstream(dir + "/" + name) << name; };
    for (const char* name : { "a.log", "x.log", "ablog", "xlog", "log", "b.LOG" })
        touch(name);
    EXPECT_EQ(3u, fileCountInPath(dir.c_str(), "log"));
    EXPECT_EQ(0u, fileCountInPath((dir + "/missing").c_str(), "log"));
    Btring<64> names[8];
    const int32 n = findFilesWithExt(dir.c_str(), "log", names, 8);
    EXPECT_EQ((std::set<std::string> { "a.log", "x.log", "b.LOG" }),
        std::set<std::string>(names, names + n));
    EXPECT_EQ("finding files(*.log) in \"" + dir + "\"...\n", err.take());
    // A name of 63 characters is skipped although it would fit; the count bounds the list.
    touch(std::string(59, 'l') + ".log");
    touch(std::string(58, 'k') + ".log");
    EXPECT_EQ(4, findFilesWithExt(dir.c_str(), "log", names, 8));
    EXPECT_EQ(2, findFilesWithExt(dir.c_str(), "log", names, 2));
    EXPECT_EQ(0, findFilesWithExt((dir + "/missing").c_str(), "log", names, 2));
    EXPECT_EQ(fds, std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
    std::filesystem::remove_all(dir);
}
