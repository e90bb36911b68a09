// The checked settings API: what Registry lets through silently is refused with a standard
// exception naming the code, the operation, the path and errno, and nothing is written; values
// of any size come back whole, as Registry's own typed reads see them.
#include "registry/Settings.h"

#include "tests/registry/ScratchDir.h"

#include <cerrno>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <tuple>
#include <vector>

using namespace Kovan;

namespace {

using KovanTest::readFile;

class SettingsTest : public KovanTest::ScratchDirTest {
protected:
    SettingsTest()
    {
        _settings.create(_name, 7, 1, "2.4.0", "b118");
        _settings.addKey("/1");
        _settings.addInt32({ 1, 5 }, 300);
        _settings.addInt32Array("/1/6", { 1, 2 });
        _settings.addString("/1/7", "eth0");
    }
    ~SettingsTest() override { _settings.close(); }

    Settings _settings;
};

TEST_F(SettingsTest, RefusalsAreStandardExceptionsNamingCodePathAndErrnoAndWriteNothing)
{
    const std::string deep = "/1/2/3/4/5/6/7/8/9/10/11/12/13/14/15/16/17";
    const std::vector<uint32> big = { 1, 65537 }, nine = { 1, 9 };
    struct Refusal {
        int32 code;
        std::string path;
        std::function<void(Settings&)> op;
    };
    const Refusal refusals[] = {
        { Registry::BAD_PATH, "/1/65537", [&](Settings& s) { s.addInt32(big, 111); } },
        { Registry::BAD_PATH, "/0", [](Settings& s) { s.getInt32({ 0 }); } },
        { Registry::BAD_PATH, "/1/x", [](Settings& s) { s.getInt32("/1/x"); } },
        { Registry::BAD_PATH, "1/5", [](Settings& s) { s.getInt32("1/5"); } },
        { Registry::BAD_PATH, "/", [](Settings& s) { s.getInt32(std::vector<uint32>()); } },
        { Registry::BAD_PATH, deep, [&](Settings& s) { s.getInt32(deep); } },
        { Registry::BAD_PATH, "/1/2/3/4/5/6/7/8/9/10/11/12/13/14/15/16",
            [](Settings& s) { s.addKey("/1/2/3/4/5/6/7/8/9/10/11/12/13/14/15/16"); } },
        { Registry::TYPE_DIFFERS, "/1/5", [](Settings& s) { s.getFloat("/1/5"); } },
        { Registry::TYPE_DIFFERS, "/1/5", [](Settings& s) { s.getUint32Array("/1/5"); } },
        { Registry::TYPE_DIFFERS, "/1/7", [](Settings& s) { s.getBinary("/1/7"); } },
        { Registry::TYPE_DIFFERS, "/1/5", [](Settings& s) { s.setDouble("/1/5", 1); } },
        { Registry::TYPE_DIFFERS, "/1", [](Settings& s) { s.getString("/1"); } },
        // Named in the plain form, whatever zeros the caller wrote.
        { 6, "/1/9", [](Settings& s) { s.getInt32("/01/009"); } },
        { 6, "/1/9", [&](Settings& s) { s.getBinary(nine); } },
        { 6, "/1/9", [](Settings& s) { s.setInt32("/1/9", 1); } },
        { 5, "/7/1", [](Settings& s) { s.getInt32("/7/1"); } },
        { 5, "/7/1", [](Settings& s) { s.addInt32("/7/1", 1); } },
        { Registry::EXISTS, "/1/5", [](Settings& s) { s.addInt32("/1/5", 1); } },
        { Registry::EXISTS, "/1", [](Settings& s) { s.addKey("/1"); } },
        { 7, "/1/6", [](Settings& s) { s.getInt32("/1/6"); } },
        { 7, "/1/6", [&](Settings& s) { s.setInt32Array("/1/6", std::vector<int32>(3)); } },
        { 7, "/1/7", [](Settings& s) { s.setString("/1/7", "wlan0"); } },
    };
    const std::string before = readFile(_name);
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.path);
        try {
            r.op(_settings);
            ADD_FAILURE() << "not refused";
        } catch (const std::exception& e) {
            const SettingsError* error = dynamic_cast<const SettingsError*>(&e);
            ASSERT_NE(nullptr, error);
            EXPECT_EQ(r.code, error->code());
            EXPECT_EQ(r.path, error->path());
            EXPECT_EQ(0, error->error());
            const std::string what = e.what();
            EXPECT_NE(std::string::npos, what.find(" " + r.path + ": ")) << what;
            EXPECT_NE(std::string::npos, what.find("errno 0")) << what;
            EXPECT_NE(std::string::npos, what.find(error->operation())) << what;
        }
    }
    EXPECT_EQ(before, readFile(_name)) << "a refused call wrote";
    EXPECT_EQ(std::vector<uint32>(), SettingsPath("/1/2x").ids()) << "a bad path keeps ids";

    // A whole-file failure names the file and the cause, and leaves nothing open; the thread
    // that holds a registry is refused (it would wait for ever if it waited).
    const std::string missing = _dir + "/missing.reg", damaged = _dir + "/damaged.reg";
    std::ofstream(damaged) << "not a registry";
    const std::pair<std::string, std::string> opens[] = {
        { _name, "a registry is open in this thread already (registry failure 10, errno 0)" },
        { missing, "cannot open the file (registry failure 2, errno 2 No such file or directory)" },
        { damaged, "damaged file or failed read (registry failure 3, errno 0)" },
    };
    for (const auto& open : opens) {
        Settings second;
        try {
            second.open(open.first, false);
            ADD_FAILURE() << "opened " << open.first;
        } catch (const std::exception& e) {
            EXPECT_EQ("Settings::open " + open.first + ": " + open.second, std::string(e.what()));
        }
        _settings.close();
        second.open(_name, false);
        EXPECT_EQ(300, second.getInt32("/1/5"));
    }
    Settings full;
    EXPECT_THROW(full.create("/dev/full", 1, 2, "", ""), SettingsError);
    full.open(_name, false);
}

// Each value back whole and with its size, and as Registry's own typed reads see it.
TEST_F(SettingsTest, ValuesOfAnySizeRoundTripAsRegistryReadsThem)
{
    std::vector<uint8> big(100000);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<uint8>(i * 7 + i / 256);
    const std::vector<std::vector<uint8>> sizes = { {}, { 0x1b }, big };
    uint32 id = 10;
    for (const std::vector<uint8>& bytes : sizes) {
        SCOPED_TRACE(bytes.size());
        const std::string text(bytes.begin(), bytes.end());
        _settings.addBinary({ 1, id }, bytes);
        _settings.addString({ 1, id + 1 }, text);
        EXPECT_EQ(bytes, _settings.getBinary({ 1, id }));
        EXPECT_EQ(text, _settings.getString({ 1, id + 1 }));
        EXPECT_EQ(bytes.size(), _settings.info({ 1, id }).size);
        EXPECT_EQ(uint32(Registry::STRING), _settings.info({ 1, id + 1 }).type);
        std::vector<uint8> changed(bytes.size(), 0xA5);
        _settings.setBinary({ 1, id }, changed);
        EXPECT_EQ(changed, _settings.getBinary({ 1, id }));
        id += 2;
    }
    const std::vector<double> gains = { 1.0, -0.5, 1e300 };
    const std::vector<bool> flags = { true, false, true };
    _settings.addDoubleArray("/1/20", gains);
    _settings.addBoolArray("/1/21", flags);
    _settings.addUint64("/1/22", UINT64_MAX);
    _settings.setInt32("/1/5", -7);
    EXPECT_EQ(gains, _settings.getDoubleArray("/1/20"));
    EXPECT_EQ(flags, _settings.getBoolArray("/1/21"));
    EXPECT_EQ(UINT64_MAX, _settings.getUint64("/1/22"));
    EXPECT_EQ(std::vector<int32>({ 1, 2 }), _settings.getInt32Array("/1/6"));
    EXPECT_EQ(std::make_tuple(true, false, false),
        std::make_tuple(
            _settings.exists("/1/22"), _settings.exists("/1/23"), _settings.exists("/3/1")));

    // The second reader: Registry's typed family on the same file.
    Registry& reg = _settings.registry();
    reg.setPath(1, 0);
    double d[3] = {};
    int32 v = 0;
    bool b[3] = {};
    EXPECT_EQ(
        0u, reg.getDoubleArray(20, d, 3, 0) + reg.getBoolArray(21, b, 3, 0) + reg.getInt32(5, &v));
    EXPECT_EQ(std::make_tuple(gains, flags, -7, std::string("2.4.0")),
        std::make_tuple(std::vector<double>(d, d + 3), std::vector<bool>(b, b + 3), v,
            std::string(reg.appVersion())));
}

} // namespace
