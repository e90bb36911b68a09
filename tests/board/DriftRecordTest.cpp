#include "tool/DriftRecord.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace Kovan {
namespace {

constexpr double DAY = 86400.0;
constexpr int64_t SET = 1796553600; // a second of 2026

DriftRecord recordAt(double ratePpm, bool hasLastSet = true)
{
    DriftRecord r;
    r.chip = "isl1208";
    r.hasLastSet = hasLastSet;
    r.lastSet = SET;
    r.source = DriftRecord::DRIFT;
    r.ratePpm = ratePpm;
    r.hasUncertainty = true;
    r.uncertaintyPpm = 0.8;
    return r;
}

class DriftRecordTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/drift-record-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        _dir = pattern;
        _path = _dir + "/drift";
    }
    void TearDown() override
    {
        // NOLINTNEXTLINE(cert-env33-c): the test's own temporary folder, named by mkdtemp
        (void)system(("rm -rf '" + _dir + "'").c_str());
    }
    void writeFile(const std::string& text)
    {
        FILE* f = fopen(_path.c_str(), "w");
        ASSERT_NE(nullptr, f);
        (void)fputs(text.c_str(), f);
        (void)fclose(f);
    }
    std::string readFile()
    {
        std::string text;
        FILE* f = fopen(_path.c_str(), "r");
        if (nullptr == f)
            return "(missing)";
        for (int c = fgetc(f); EOF != c; c = fgetc(f))
            text += static_cast<char>(c);
        (void)fclose(f);
        return text;
    }
    // Every entry of the folder but the record itself: a save must leave none.
    int strayFiles()
    {
        // NOLINTNEXTLINE(cert-env33-c): the test's own temporary folder
        FILE* p = popen(("ls -A '" + _dir + "' | grep -vcx drift").c_str(), "r");
        int n = -1;
        if (nullptr != p) {
            if (1 != fscanf(p, "%d", &n))
                n = -1;
            (void)pclose(p);
        }
        return n;
    }

    std::string _dir;
    std::string _path;
};

TEST_F(DriftRecordTest, FormatsAndParsesBackEveryShape)
{
    DriftRecord local = recordAt(-12.5);
    local.chip = "s35391a";
    local.clock = DriftRecord::LOCAL;
    DriftRecord bare;
    bare.chip = "isl1208";
    DriftRecord noUncertainty = recordAt(47.125, false);
    noUncertainty.hasUncertainty = false;
    noUncertainty.source = DriftRecord::SYSTOHC;
    for (const DriftRecord& r : { recordAt(47.125), local, bare, noUncertainty }) {
        DriftRecord back;
        std::string problem;
        ASSERT_TRUE(parseDriftRecord(formatDriftRecord(r), &back, &problem)) << problem;
        EXPECT_EQ(formatDriftRecord(r), formatDriftRecord(back));
        EXPECT_EQ(r.chip, back.chip);
        EXPECT_EQ(r.clock, back.clock);
        EXPECT_EQ(r.hasLastSet, back.hasLastSet);
        EXPECT_EQ(r.source, back.source);
        EXPECT_DOUBLE_EQ(r.ratePpm, back.ratePpm);
    }
}

TEST_F(DriftRecordTest, RefusesDamagedOrForeignTextWithTheLineAndKeepsTheRecord)
{
    const std::string good = formatDriftRecord(recordAt(47.125));
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    const struct {
        std::string text;
        const char* problem; // the start of the one line
    } cases[] = {
        { "", "line 1:" },
        { "# adjtime\n0.0 0 0.0\n", "line 1:" },
        { good.substr(0, good.size() - 1), "line 7: not ended" },
        { good + "extra 1\n", "8 lines" },
        { replaced("chip isl1208", "chip ds1307"), "line 2:" },
        { replaced("clock utc", "clock UTC"), "line 3:" },
        { replaced("set 1796553600", "set 17965536OO"), "line 4:" },
        { replaced("set 1796553600", "set 0"), "line 4:" },
        { replaced("set 1796553600", "set 4102444800"), "line 4:" },
        { replaced("set 1796553600", "set  1796553600"), "line 4:" },
        { replaced("rate +47.125", "rate nan"), "line 5:" },
        { replaced("rate +47.125", "rate 1e3"), "line 5:" },
        { replaced("rate +47.125", "rate +1000.5"), "line 5:" },
        { replaced("rate +47.125", "rate 0x10"), "line 5:" },
        { replaced("rate +47.125", "rate  47"), "line 5:" },
        { replaced("rate +47.125", "rate"), "line 5:" },
        { replaced("uncertainty 0.800", "uncertainty -1"), "line 6:" },
        { replaced("source drift", "source guess"), "line 7:" },
        { replaced("source drift", "source none"), "line 7:" },
        { replaced("rate +47.125\nuncertainty 0.800", "rate none\nuncertainty 0.800"), "line 6:" },
        { replaced("chip", "chop"), "line 2:" },
        { replaced("clock utc\nset", "set"), "6 lines" },
        { replaced("clock utc", "clock utc\r"), "line 3:" },
        { good + std::string(1, '\0'), "holds a NUL" },
        { good + std::string(5000, '#'), "longer than 4096" },
    };
    for (const auto& c : cases) {
        DriftRecord record = recordAt(-3);
        std::string problem;
        EXPECT_FALSE(parseDriftRecord(c.text, &record, &problem)) << c.text;
        EXPECT_EQ(0u, problem.rfind(c.problem, 0)) << c.text << " -> " << problem;
        EXPECT_EQ(std::string::npos, problem.find('\n'));
        EXPECT_DOUBLE_EQ(-3, record.ratePpm) << c.text;
    }
}

TEST_F(DriftRecordTest, SavesAtomicallyAndLoadsBack)
{
    std::string problem;
    DriftRecord loaded;
    EXPECT_EQ(DriftLoad::MISSING, loadDriftRecord(_path.c_str(), &loaded, &problem));
    writeFile("old contents\n");
    ASSERT_TRUE(saveDriftRecord(_path.c_str(), recordAt(47.125), &problem)) << problem;
    EXPECT_EQ(formatDriftRecord(recordAt(47.125)), readFile());
    EXPECT_EQ(0, strayFiles());
    ASSERT_EQ(DriftLoad::LOADED, loadDriftRecord(_path.c_str(), &loaded, &problem)) << problem;
    EXPECT_DOUBLE_EQ(47.125, loaded.ratePpm);

    // A folder that does not exist yet is made (the state folder on a fresh board).
    const std::string nested = _dir + "/state/drift";
    ASSERT_TRUE(saveDriftRecord(nested.c_str(), recordAt(1), &problem)) << problem;
    EXPECT_EQ(DriftLoad::LOADED, loadDriftRecord(nested.c_str(), &loaded, &problem));
}

TEST_F(DriftRecordTest, RefusesLinksFifosAndOversizedFilesAndLeavesThemAlone)
{
    const std::string target = _dir + "/target";
    {
        FILE* f = fopen(target.c_str(), "w");
        ASSERT_NE(nullptr, f);
        (void)fputs(formatDriftRecord(recordAt(5)).c_str(), f);
        (void)fclose(f);
    }
    const struct {
        const char* what;
        std::function<void()> make;
        const char* problem;
    } cases[] = {
        { "link", [&] { ASSERT_EQ(0, symlink(target.c_str(), _path.c_str())); }, "symbolic link" },
        { "fifo", [&] { ASSERT_EQ(0, mkfifo(_path.c_str(), 0600)); }, "not a regular file" },
        { "folder", [&] { ASSERT_EQ(0, mkdir(_path.c_str(), 0700)); }, "not a regular file" },
        { "big", [&] { writeFile(std::string(4097, 'x')); }, "longer than 4096" },
    };
    for (const auto& c : cases) {
        // NOLINTNEXTLINE(cert-env33-c): the test's own temporary folder
        (void)system(("rm -rf '" + _path + "'").c_str());
        c.make();
        DriftRecord loaded = recordAt(-3);
        std::string problem;
        EXPECT_EQ(DriftLoad::REFUSED, loadDriftRecord(_path.c_str(), &loaded, &problem)) << c.what;
        EXPECT_NE(std::string::npos, problem.find(c.problem)) << c.what << ": " << problem;
        EXPECT_DOUBLE_EQ(-3, loaded.ratePpm);
        if (std::string("big") != c.what) {
            problem.clear();
            EXPECT_FALSE(saveDriftRecord(_path.c_str(), recordAt(9), &problem)) << c.what;
            EXPECT_NE(std::string::npos, problem.find("left alone")) << problem;
        }
    }
    // The link's target was never written through.
    FILE* f = fopen(target.c_str(), "r");
    ASSERT_NE(nullptr, f);
    char line[64] = {};
    for (int i = 0; i < 5; ++i)
        ASSERT_NE(nullptr, fgets(line, sizeof line, f));
    (void)fclose(f);
    EXPECT_STREQ("rate +5.000\n", line);
}

TEST_F(DriftRecordTest, SaveThroughAPlantedTemporaryNameNeverFollowsIt)
{
    // Every temporary name this process would try, taken by links to a file of someone else's.
    const std::string victim = _dir + "/victim";
    writeFile("");
    ASSERT_EQ(0, rename(_path.c_str(), victim.c_str()));
    for (int i = 0; i < 8; ++i) {
        const std::string name
            = _path + ".tmp" + std::to_string(getpid()) + "." + std::to_string(i);
        ASSERT_EQ(0, symlink(victim.c_str(), name.c_str()));
    }
    std::string problem;
    EXPECT_FALSE(saveDriftRecord(_path.c_str(), recordAt(9), &problem));
    EXPECT_NE(std::string::npos, problem.find("cannot create")) << problem;
    struct stat st = {};
    ASSERT_EQ(0, stat(victim.c_str(), &st));
    EXPECT_EQ(0, st.st_size);
}

TEST_F(DriftRecordTest, CorrectsTheChipByItsRateSinceTheLastSet)
{
    // +50 ppm over 10 days of true time: the chip has gained 43.2 s.
    const double truth = SET + 10 * DAY;
    const double chip = truth + 43.2;
    double corrected = 0;
    ASSERT_TRUE(correctChipTime(recordAt(50), chip, &corrected));
    EXPECT_NEAR(truth, corrected, 1e-5);
    ASSERT_TRUE(correctChipTime(recordAt(-50), SET + 10 * DAY - 43.2, &corrected));
    EXPECT_NEAR(truth, corrected, 1e-5);

    DriftRecord noRate = recordAt(50);
    noRate.source = DriftRecord::NONE;
    corrected = -1;
    EXPECT_FALSE(correctChipTime(noRate, chip, &corrected));
    EXPECT_FALSE(correctChipTime(recordAt(50, false), chip, &corrected));
    EXPECT_EQ(-1, corrected);
}

TEST_F(DriftRecordTest, RateUpdateRefusesShortSpansAndNonsense)
{
    double span = 0;
    DriftRecord r = recordAt(10);
    EXPECT_EQ(DriftUpdate::TOO_SHORT,
        updateDriftRate(
            &r, SET + DRIFT_MIN_UPDATE_SPAN - 1, SET + DRIFT_MIN_UPDATE_SPAN, 0.002, &span));
    EXPECT_DOUBLE_EQ(DRIFT_MIN_UPDATE_SPAN - 1, span);
    // A true time before the last set (a clock set back) is no span at all.
    EXPECT_EQ(DriftUpdate::TOO_SHORT, updateDriftRate(&r, SET - DAY, SET - DAY, 0.002));
    // A minute off after a day is 694 ppm, still a rate; an hour off is the chip set by another.
    EXPECT_EQ(DriftUpdate::OUT_OF_RANGE, updateDriftRate(&r, SET + DAY, SET + DAY + 3600, 0.002));
    DriftRecord unset = recordAt(10, false);
    EXPECT_EQ(DriftUpdate::NO_LAST_SET, updateDriftRate(&unset, SET + DAY, SET + DAY, 0.002));
    EXPECT_DOUBLE_EQ(10, r.ratePpm);
    EXPECT_EQ(DriftRecord::DRIFT, r.source);
}

TEST_F(DriftRecordTest, RateUpdatesFromTheAccumulatedErrorConverge)
{
    // A chip at +50 ppm, remembered at +30 ppm from a rough earlier run.
    DriftRecord r = recordAt(30);
    r.uncertaintyPpm = 5;
    double lastSet = SET;
    const double spans[] = { DAY, 2 * DAY };
    const double readErrors[] = { 0.003, -0.002 };
    for (int i = 0; i < 2; ++i) {
        const double truth = lastSet + spans[i];
        const double chip = truth + spans[i] * 50e-6 + readErrors[i];
        ASSERT_EQ(DriftUpdate::UPDATED, updateDriftRate(&r, truth, chip, 0.002));
        r.lastSet = static_cast<int64_t>(truth);
        lastSet = truth;
    }
    EXPECT_NEAR(50, r.ratePpm, 0.05);
    EXPECT_EQ(DriftRecord::SYSTOHC, r.source);
    EXPECT_DOUBLE_EQ(DRIFT_MIN_UNCERTAINTY_PPM, r.uncertaintyPpm);

    // An agreeing measurement is weighed against the record: 49.5 +/- 1 and 50.3 +/- 0.5 (the
    // measured error of 0.5 ppm over two hours is 3.6 ms) meet at (49.5 + 4 * 50.3) / 5.
    DriftRecord agreeing = recordAt(49.5);
    agreeing.uncertaintyPpm = 1;
    const double span = 7200;
    ASSERT_EQ(DriftUpdate::UPDATED,
        updateDriftRate(&agreeing, SET + span, SET + span + span * 50.3e-6, 0.0036));
    EXPECT_NEAR(50.14, agreeing.ratePpm, 1e-3);
}

TEST_F(DriftRecordTest, ATrimChangeMovesTheRateAndForgetsTheLastSet)
{
    DriftRecord r = recordAt(47);
    afterTrim(&r, -40);
    EXPECT_DOUBLE_EQ(7, r.ratePpm);
    EXPECT_FALSE(r.hasLastSet);
    double corrected = 0;
    EXPECT_FALSE(correctChipTime(r, SET + DAY, &corrected));
}

} // namespace
} // namespace Kovan
