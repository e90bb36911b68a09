#include "tool/DriftRecord.h"

#include "support/BenchRunner.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Kovan {
namespace {

namespace fs = std::filesystem;
constexpr double DAY = 86400.0;
constexpr int64_t SET = 1796553600; // a second of 2026

DriftRecord recordAt(double ratePpm, double uncertaintyPpm = 0.8)
{
    return { "isl1208", DriftRecord::UTC, true, SET, DriftRecord::DRIFT, ratePpm, true,
        uncertaintyPpm };
}

class DriftRecordTest : public ::testing::Test {
protected:
    KovanTest::Bench _dir; // a private folder, removed at the end
    std::string _path = _dir.path("drift");
};

TEST_F(DriftRecordTest, RefusesDamagedOrForeignTextWithTheLineAndKeepsTheRecord)
{
    const std::string good = formatDriftRecord(recordAt(47.125));
    auto with = [&](const std::string& from, const std::string& to) {
        return std::string(good).replace(good.find(from), from.size(), to);
    };
    const std::pair<std::string, const char*> cases[] = {
        { "# adjtime\n0.0 0 0.0\n", "line 1:" },
        { good.substr(0, good.size() - 1), "line 7: not ended" }, { good + "extra 1\n", "8 lines" },
        { with("isl1208", "ds1307"), "line 2:" }, { with("utc", "UTC"), "line 3:" },
        { with("1796553600", "4102444800"), "line 4:" },
        { with("1796553600", " 1796553600"), "line 4:" }, { with("+47.125", "nan"), "line 5:" },
        { with("+47.125", "1e3"), "line 5:" }, { with("+47.125", "+1000.5"), "line 5:" },
        { with("0.800", "-1"), "line 6:" },
        { with("+47.125", "none"), "line 6:" }, // an uncertainty without a rate
        { with("drift\n", "none\n"), "line 7:" }, { with("utc", "utc\r"), "line 3:" },
        { good + std::string(1, '\0'), "holds a NUL" },
        { std::string(4096, '#'), "line 1:" }, // as long as a record may be
    };
    for (const auto& [damaged, line] : cases) {
        DriftRecord record = recordAt(-3);
        std::string problem;
        EXPECT_FALSE(parseDriftRecord(damaged, &record, &problem)) << damaged;
        EXPECT_EQ(0u, problem.rfind(line, 0)) << damaged << " -> " << problem;
        EXPECT_DOUBLE_EQ(-3, record.ratePpm) << damaged;
    }
}

TEST_F(DriftRecordTest, SavesAtomicallyAndLoadsBackEvenIntoANewFolder)
{
    DriftRecord loaded;
    const DriftRecord bare = { "s35391a", DriftRecord::LOCAL };
    std::string problem;
    EXPECT_EQ(DriftLoad::MISSING, loadDriftRecord(_path.c_str(), &loaded, &problem));
    for (const DriftRecord& r : { recordAt(47.125), bare }) {
        ASSERT_TRUE(saveDriftRecord(_path.c_str(), r, &problem)) << problem;
        ASSERT_EQ(DriftLoad::LOADED, loadDriftRecord(_path.c_str(), &loaded, &problem)) << problem;
        EXPECT_EQ(formatDriftRecord(r), formatDriftRecord(loaded));
    }
    EXPECT_FALSE(saveDriftRecord(_path.c_str(), recordAt(1e4), &problem)); // a rate beyond reason
    // A file that may hold only a byte: the write fails and the last record stays.
    rlimit limit = {};
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &limit));
    const rlimit byte = { 1, limit.rlim_max };
    ASSERT_TRUE(SIG_ERR != signal(SIGXFSZ, SIG_IGN) && 0 == setrlimit(RLIMIT_FSIZE, &byte));
    EXPECT_FALSE(saveDriftRecord(_path.c_str(), recordAt(5), &problem));
    setrlimit(RLIMIT_FSIZE, &limit);
    EXPECT_EQ(1, std::distance(fs::directory_iterator(_dir.path("")), fs::directory_iterator()));
    EXPECT_EQ(formatDriftRecord(bare), KovanTest::readFile(_path));
    // Neither the file nor its folder stays open.
    const auto descriptors = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
    };
    const auto before = descriptors();
    const std::string nested = _dir.path("state/drift");
    EXPECT_TRUE(saveDriftRecord(nested.c_str(), bare, &problem)) << problem;
    EXPECT_EQ(before, descriptors());
}

TEST_F(DriftRecordTest, RefusesLinksFifosFoldersAndOversizedFilesAndLeavesThemAlone)
{
    const std::string target = _dir.path("target");
    std::ofstream(target) << formatDriftRecord(recordAt(5));
    const std::pair<void (*)(const std::string&, const std::string&), const char*> cases[] = {
        { [](auto& p, auto& t) { fs::create_symlink(t, p); }, "symbolic link" },
        { [](auto& p, auto&) { mkfifo(p.c_str(), 0600); }, "not a regular file" },
        { [](auto& p, auto&) { fs::create_directory(p); }, "not a regular file" },
        { [](auto& p, auto&) { std::ofstream(p) << std::string(4097, 'x'); }, "longer than 4096" },
    };
    for (const auto& [make, why] : cases) {
        fs::remove_all(_path);
        make(_path, target);
        DriftRecord loaded = recordAt(-3);
        std::string problem;
        EXPECT_EQ(DriftLoad::REFUSED, loadDriftRecord(_path.c_str(), &loaded, &problem)) << why;
        EXPECT_NE(std::string::npos, problem.find(why)) << problem;
        EXPECT_DOUBLE_EQ(-3, loaded.ratePpm);
        if (!fs::is_regular_file(fs::symlink_status(_path))) {
            EXPECT_FALSE(saveDriftRecord(_path.c_str(), recordAt(9), &problem)) << why;
        }
    }
    // Nothing was written through the link, nor through links planted at every temporary name.
    fs::remove_all(_path);
    for (int i = 0; i < 8; ++i)
        fs::create_symlink(
            target, _path + ".tmp" + std::to_string(getpid()) + "." + std::to_string(i));
    std::string problem;
    EXPECT_FALSE(saveDriftRecord(_path.c_str(), recordAt(9), &problem));
    EXPECT_EQ(formatDriftRecord(recordAt(5)), KovanTest::readFile(target));
}

// (The +50 ppm chip's correction is checked end to end through hctosys.)
TEST_F(DriftRecordTest, CorrectsTheChipByItsRateSinceTheLastSet)
{
    double corrected = 0;
    ASSERT_TRUE(correctChipTime(recordAt(-50), SET + 10 * DAY - 43.2, &corrected));
    EXPECT_NEAR(SET + 10 * DAY, corrected, 1e-5);
    DriftRecord trimmed = recordAt(50);
    afterTrim(&trimmed, -40); // forgets the last set
    EXPECT_DOUBLE_EQ(10, trimmed.ratePpm);
    EXPECT_FALSE(correctChipTime(trimmed, SET + DAY, &corrected));
}

TEST_F(DriftRecordTest, RateUpdatesRefuseShortSpansAndConverge)
{
    DriftRecord r = recordAt(10);
    EXPECT_EQ(DriftUpdate::TOO_SHORT,
        updateDriftRate(&r, SET + DRIFT_MIN_UPDATE_SPAN - 1, SET + DRIFT_MIN_UPDATE_SPAN, 0.002));
    EXPECT_EQ(DriftUpdate::TOO_SHORT, updateDriftRate(&r, SET - DAY, SET - DAY, 0.002));
    // An hour off after a day is no drift: the chip was set by something else.
    EXPECT_EQ(DriftUpdate::OUT_OF_RANGE, updateDriftRate(&r, SET + DAY, SET + DAY + 3600, 0.002));
    EXPECT_DOUBLE_EQ(10, r.ratePpm);

    // A +50 ppm chip remembered at +30 +/- 5 ppm: the first day replaces the rate, which
    // disagrees; the next two days refine it.
    r = recordAt(30, 5);
    const double spans[] = { DAY, 2 * DAY }, readErrors[] = { 0.003, -0.002 };
    for (int i = 0; i < 2; ++i) {
        const double truth = static_cast<double>(r.lastSet) + spans[i];
        ASSERT_EQ(DriftUpdate::UPDATED,
            updateDriftRate(&r, truth, truth + spans[i] * 50e-6 + readErrors[i], 0.002));
        r.lastSet = static_cast<int64_t>(truth);
    }
    EXPECT_NEAR(50, r.ratePpm, 0.05);
    EXPECT_EQ(DriftRecord::SYSTOHC, r.source);
    EXPECT_TRUE(r.hasUncertainty);
    EXPECT_DOUBLE_EQ(DRIFT_MIN_UNCERTAINTY_PPM, r.uncertaintyPpm);
    // Agreeing, 49.5 +/- 1 and 50.3 +/- 0.5 (3.6 ms over two hours) meet at (49.5 + 4 * 50.3) / 5.
    r = recordAt(49.5, 1);
    ASSERT_EQ(DriftUpdate::UPDATED, updateDriftRate(&r, SET + 7200, SET + 7200.36216, 0.0036));
    EXPECT_NEAR(50.14, r.ratePpm, 1e-3);
}

} // namespace
} // namespace Kovan
