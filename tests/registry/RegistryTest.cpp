// The registry file byte for byte, the typed family, paths, the lock and every failure code.
#include "RegistryFiles.h"
#include "support/StderrCapture.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <functional>
#include <future>
#include <numeric>
#include <sys/resource.h>
#ifdef KOVAN_TEST_HAVE_ZLIB
#include <zlib.h>
#endif

using namespace Kovan;
using namespace KovanTest;

namespace {

typedef ScratchFileTest RegistryFileTest;

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
    Registry reopened(_name.c_str(), false);
    EXPECT_EQ(3u, reopened.version());
    EXPECT_STREQ("0123456789ABCDEF", reopened.appVersion());
    EXPECT_STREQ("build-01", reopened.appBuild());
}

// Bytes 8..11 of 1 to 4 mark a legacy file: its root is at 0 and its first child right behind.
TEST_F(RegistryFileTest, LegacyFileOpensAsVersionOneWithRootAtZero)
{
    Bytes legacy = cat({ record(0, 0, 0, 2), record(4, 4, 26, 2, { 0x34, 0x12 }),
        record(7, 0, 0, 38), record(8, 6, 0, 4, { 1, 0, 0, 0 }) });
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

class RegistryTest : public ScratchFileTest {
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
    EXPECT_EQ("4 /1 4", failureOf([&] { _reg.setInt32(4, 2); }));
    EXPECT_EQ("4 /1 5", failureOf([&] { _reg.addKey(5); }));
    EXPECT_EQ(0u, _reg.getInt32(4, &v));
    EXPECT_EQ(4, v);
    _reg.close();
    const std::string missing = file("missing"), noDir = file("no/dir");
    EXPECT_EQ("2 " + missing + " 0", failureOf([&] { _reg.open(missing.c_str(), false); }));
    EXPECT_EQ("1 " + noDir + " 0", failureOf([&] { _reg.create(noDir.c_str()); }));
    EXPECT_EQ("4 header 0", failureOf([&] { _reg.create("/dev/full"); }));
    // A file that may not grow past its header: the root record fails at the root.
    rlimit limit = {};
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &limit));
    const rlimit header = { 48, limit.rlim_max };
    ASSERT_NE(SIG_ERR, signal(SIGXFSZ, SIG_IGN));
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &header));
    EXPECT_EQ("4 / 0", failureOf([&] { _reg.close(), _reg.create(_name.c_str()); }));
    setrlimit(RLIMIT_FSIZE, &limit);
}

// A registry that never reached its file holds no lock, so its close cannot release another's.
TEST_F(RegistryTest, ARegistryThatNeverOpenedNeitherKeepsNorReleasesTheLock)
{
    _reg.close();
    const std::pair<char, std::function<void(Registry&)>> attempts[] = { { '0', [](Registry&) {} },
        { '2', [&](Registry& r) { r.open(file("missing").c_str(), false); } },
        { '1', [&](Registry& r) { r.create(file("no/dir").c_str()); } } };
    for (const auto& attempt : attempts) {
        Registry failed;
        EXPECT_EQ(0u, failed.version());
        EXPECT_EQ(attempt.first, failureOf([&] { attempt.second(failed); })[0]);
        _reg.open(_name.c_str(), true);
        failed.close();
        auto other = std::async(std::launch::async, [] {
            Registry r;
            r.lock();
            r.unlock();
        });
        const bool stolen
            = std::future_status::ready == other.wait_for(std::chrono::milliseconds(200));
        _reg.close();
        other.get();
        EXPECT_FALSE(stolen) << "a close after failure " << attempt.first << " released the lock";
    }
}

// Each refusal is told by the function that makes it; the check texts are not repeated here.
TEST_F(RegistryTest, BrokenPreconditionsEndInTheCheck)
{
    int32 v = 0;
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
    };
    for (const auto& c : cases)
        EXPECT_DEATH(c.second(), std::string("\\] ") + c.first + "\n") << c.first;
}

} // namespace
