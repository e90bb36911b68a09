// The typed family, the current path, the lock and every failure code.
#include "RegistryFiles.h"
#include "support/StderrCapture.h"

#include "registry/Registry.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <thread>

using namespace Kovan;
using namespace KovanTest;

namespace {

class RegistryTest : public ScratchFileTest {
protected:
    void SetUp() override { _reg.create(_name.c_str()); }
    void TearDown() override { _reg.close(); }
    Registry _reg;
};

// The six members of the typed family for one value type (their pointer types differ).
template <typename T> struct Ops;
#define KOVAN_TEST_OPS(N, T, ...)                                                                  \
    template <> struct Ops<T> {                                                                    \
        static constexpr auto add = &Registry::add##N;                                             \
        static constexpr auto set = &Registry::set##N;                                             \
        static constexpr auto get = &Registry::get##N;                                             \
        static constexpr auto addArray = &Registry::add##N##Array;                                 \
        static constexpr auto setArray = &Registry::set##N##Array;                                 \
        static constexpr auto getArray = &Registry::get##N##Array;                                 \
    };
KOVAN_VALUE_TYPES(KOVAN_TEST_OPS)
#undef KOVAN_TEST_OPS

template <typename T> T sample(int i)
{
    if (std::is_same<T, bool>::value)
        return static_cast<T>(i % 2);
    return static_cast<T>(std::is_floating_point<T>::value ? i * 1.5 - 7 : i * 37 - 100);
}

template <typename T> class RegistryTypedTest : public RegistryTest {
};
typedef ::testing::Types<bool, int8, uint8, int16, uint16, int32, uint32, int64, uint64, float,
    double>
    ValueTypes;
TYPED_TEST_SUITE(RegistryTypedTest, ValueTypes);

TYPED_TEST(RegistryTypedTest, AddSetGetOfValuesAndArrays)
{
    typedef Ops<TypeParam> O;
    Registry& reg = this->_reg;
    TypeParam array[5], fresh[5], back[5] = {}, part[5] = {};
    for (int i = 0; i < 5; ++i) {
        array[i] = sample<TypeParam>(i + 2);
        fresh[i] = sample<TypeParam>(20 + i);
    }
    (reg.*O::add)(1, sample<TypeParam>(1));
    (reg.*O::addArray)(2, array, 5);
    (reg.*O::add)(1, sample<TypeParam>(2)); // a twin that lookups never reach
    TypeParam v = sample<TypeParam>(9);
    EXPECT_EQ(0u, (reg.*O::get)(1, &v));
    EXPECT_EQ(sample<TypeParam>(1), v);
    // Lookups match id and size, not type: bytes read the value as the file holds it.
    uint8 raw[sizeof(TypeParam)];
    EXPECT_EQ(0u, reg.getUint8Array(1, raw, sizeof(raw), 0));
    EXPECT_EQ(slice(readBytes(this->_name), 72, sizeof(raw)), Bytes(raw, raw + sizeof(raw)));
    EXPECT_EQ(0u, (reg.*O::getArray)(2, back, 5, 0));
    EXPECT_EQ(0, memcmp(array, back, sizeof(array)));

    // Set overwrites in place; a partial set leaves the tail as stored, a partial get reads less.
    (reg.*O::set)(1, sample<TypeParam>(3));
    EXPECT_EQ(0u, (reg.*O::get)(1, &v));
    EXPECT_EQ(sample<TypeParam>(3), v);
    (reg.*O::setArray)(2, fresh, 5, 2);
    EXPECT_EQ(0u, (reg.*O::getArray)(2, part, 5, 3));
    const TypeParam want[5] = { fresh[0], fresh[1], array[2], TypeParam(), TypeParam() };
    EXPECT_EQ(0, memcmp(want, part, sizeof(want)));

    EXPECT_EQ(7u, (reg.*O::getArray)(2, back, 4, 0));
    EXPECT_EQ(8u, (reg.*O::getArray)(2, back, 5, 6));
    EXPECT_EQ("8 / 2", failureOf([&] { (reg.*O::setArray)(2, fresh, 5, 6); }));
    EXPECT_EQ(6u, (reg.*O::get)(3, &v));
}

TEST_F(RegistryTest, StringsStoreTheBufferLessOneAndTraceEachCall)
{
    StderrCapture err;
    char out[16];
    _reg.addString(7, "0123456789abcdef", 16);
    _reg.setString(7, "ABCDEFGHIJKLMNOP", 16);
    _reg.getString(7, out, 16);
    EXPECT_STREQ("ABCDEFGHIJKLMNO", out);
    const std::string trace = err.take();
    EXPECT_EQ(3, std::count(trace.begin(), trace.end(), '\n')) << trace;
    EXPECT_EQ(record(7, 12, 0, 15), slice(readBytes(_name), 60, 12));
    _reg.addBinary(8, "abc", 3);
    _reg.setBinary(8, "XY", 3, 2);
    _reg.getBinary(8, out, 3, 0);
    EXPECT_EQ(0, memcmp("XYc", out, 3));
}

TEST_F(RegistryTest, PathsNestKeysAndFailuresCarryTheirCodeAndPath)
{
    int32 v = 0;
    const int32 three[3] = {};
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
    EXPECT_EQ(6u, _reg.getInt32(4, &v)) << "the root holds only keys";
    _reg.pathDown(1);
    EXPECT_EQ(0u, _reg.getInt32(4, &v));
    EXPECT_EQ("6 /1 6", failureOf([&] { _reg.setInt32(6, 1); }));
    EXPECT_EQ("7 /1 4", failureOf([&] { _reg.setInt64(4, 1); }));
    EXPECT_EQ("8 /1 4", failureOf([&] { _reg.setInt32Array(4, three, 1, 3); }));
    _reg.setPath(1, 20, 9, 0);
    EXPECT_EQ(5u, _reg.getInt32(4, &v));
    EXPECT_EQ("5 /1/20/9 0", failureOf([&] { _reg.setInt32(4, 1); }));
    _reg.setPath(1, 4, 0);
    EXPECT_EQ("5 /1/4 0", failureOf([&] { _reg.addInt32(1, 1); })) << "a value holds no path";
    _reg.setPath(0);
    EXPECT_EQ("6 / 9", failureOf([&] { _reg.setInt32(9, 1); }));
    _reg.close();

    // Read-only: every write fails at the file, reads still work.
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
    _reg.close();
    _reg.create(_name.c_str());
}

// A registry that never reached its file holds no lock: the next open does not wait for it, and
// its close cannot release the lock of the registry opened after it.
TEST_F(RegistryTest, ARegistryThatNeverOpenedNeitherKeepsNorReleasesTheLock)
{
    _reg.close();
    for (const std::string attempt : { "no open", "a failed open", "a failed create" }) {
        Registry failed;
        if ("a failed open" == attempt) {
            EXPECT_EQ('2', failureOf([&] { failed.open(file("missing").c_str(), false); })[0]);
        } else if ("a failed create" == attempt) {
            EXPECT_EQ('1', failureOf([&] { failed.create(file("no/dir").c_str()); })[0]);
        }
        _reg.open(_name.c_str(), true);
        failed.close();
        std::promise<void> got;
        std::thread other([&got] {
            Registry r;
            r.lock();
            got.set_value();
            r.unlock();
        });
        // Bounded: the other thread must still be waiting when this wait ends.
        const bool stolen = std::future_status::ready
            == got.get_future().wait_for(std::chrono::milliseconds(200));
        _reg.close();
        other.join();
        EXPECT_FALSE(stolen) << "a close after " << attempt << " released another's lock";
    }
    _reg.open(_name.c_str(), true);
}

// Each refusal is told by the function that makes it; the check texts are not repeated here.
TEST_F(RegistryTest, BrokenPreconditionsEndInTheCheck)
{
    int32 v = 0;
    char text[4] = {};
    const struct {
        std::function<void()> op;
        const char* function;
    } cases[] = {
        { [&] { _reg.create(_name.c_str()); }, "create" },
        { [&] { _reg.open(_name.c_str(), false); }, "open" },
        { [&] { _reg.pathUp(); }, "pathUp" },
        { [&] {
             for (uint32 i = 1; i <= 16; ++i)
                 _reg.pathDown(i);
         },
            "pathDown" },
        { [&] { _reg.setPath(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 0); },
            "setPath" },
        { [&] { _reg.getInt32(0, &v); }, "findItem" },
        { [&] { _reg.setInt32Array(1, &v, 0, 0); }, "findItem" },
        { [&] { _reg.addInt32Array(1, &v, -1); }, "addValues" },
        { [&] { _reg.addInt32(0xFFFF, 1); }, "saveItem" },
        { [&] { _reg.addData(1, 0xFFFF, &v, 4); }, "saveItem" },
        { [&] { _reg.addData(1, 0, &v, 4); }, "addItem" },
        { [&] { _reg.addString(1, text, 0); }, "addString" },
        { [&] { _reg.setString(1, text, 0); }, "setString" },
        { [&] { _reg.getString(1, text, 0); }, "getString" },
        { [] { const Registry::Exception e(5, nullptr, 0, 0); }, "Exception" },
    };
    for (const auto& c : cases)
        EXPECT_DEATH(c.op(), std::string("\\] ") + c.function + "\n") << c.function;
}

} // namespace
