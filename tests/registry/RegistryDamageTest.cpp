// Damage ends in code 3, not a hang, crash or read outside the file; a killed writer loses no add.
#include "RegistryFiles.h"
#include "support/StderrCapture.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

using namespace Kovan;
using namespace KovanTest;

namespace {

// Codes of a lookup, a walk (with its top ids) and an add ("-": read-only) in key 1, or the open's.
std::string probe(const std::string& name, const Bytes& bytes, bool add)
{
    writeBytes(name, bytes);
    Registry reg;
    std::string open = failureOf([&] { reg.open(name.c_str(), add); });
    if ("0" != open)
        return open;
    reg.setPath(1, 0);
    int32 v;
    Walked walk;
    uint8 buffer[16];
    walk.setBuffer(buffer, sizeof(buffer));
    StderrCapture quiet;
    EXPECT_NO_THROW(reg.print("T"));
    const std::string scan = failureOf([&] { reg.scan(&walk); }).substr(0, 1);
    std::string result = std::to_string(reg.getInt32(99, &v)) + " " + scan;
    for (size_t i = 0; "0" == scan && i < walk.top.size(); ++i)
        result += (i ? "," : ":") + std::to_string(walk.top[i]);
    return result + " " + (add ? failureOf([&] { reg.addInt32(98, 1); }).substr(0, 1) : "-");
}

// Root, then key 1 at 60 holding whatever `children` describe, laid out from offset 72.
Bytes fileWithKeyOne(const Bytes& children, uint32 firstChild = 72)
{
    return header(3, cat({ record(0, 0, 0, 60), record(1, 0, 0, firstChild), children }));
}

typedef ScratchFileTest RegistryDamageTest;

TEST_F(RegistryDamageTest, DamageEndsInCodeThreeNeverInAHangOrAReadOutsideTheFile)
{
    const Bytes ring = cat({ record(2, 0, 84, 0), record(3, 0, 96, 0), record(4, 0, 72, 0) });
    // Keys 1..n each inside the one before; 16 is as deep as the API builds.
    const auto nested = [](uint16 n) {
        Bytes f = header(3, record(0, 0, 0, 60));
        for (uint16 i = 1; i <= n; ++i)
            f = cat({ f, record(i, 0, 0, i < n ? 60u + 12u * i : 0u) });
        return f;
    };
    // Key 1 appended by a writer killed before linking it; value 5 linked by the next writer.
    const Bytes orphan = header(3,
        cat({ record(0, 0, 0, 72), record(1, 0, 0, 0), record(5, 6, 0, 4, { 0x2D, 0x01, 0, 0 }) }));
    const Bytes legacy = cat({ record(0, 0, 0, 1), record(9, 12, 0, 3, { 'a', 'b', 'c' }) });
    const struct {
        const char* what;
        Bytes file;
        const char* want;
    } cases[] = {
        { "an orphan", orphan, "5 0:5 5" },
        { "a legacy file", legacy, "5 0:9 5" },
        { "a sibling pointing at itself", fileWithKeyOne(record(7, 6, 72, 4, Bytes(4))), "3 3 3" },
        { "a three-record ring", fileWithKeyOne(ring), "3 3 3" },
        { "a key whose child is itself", fileWithKeyOne({}, 60), "6 3 -" },
        { "a child past the end", fileWithKeyOne({}, 100000), "3 3 3" },
        { "a value past the end", fileWithKeyOne(record(99, 6, 0, 4, { 1, 0 })), "3 3 -" },
        { "a size near 4 GiB", fileWithKeyOne(record(5, 13, 0, 0xFFFFFFF0)), "6 3 -" },
        // Id and type 0xFFFF are refused when written, but a damaged file may hold them.
        { "a record no writer would store", fileWithKeyOne(record(0xFFFF, 0xFFFF, 0, 0)),
            "6 0:1 0" },
        { "keys nested 20 deep", nested(20), "6 3 -" },
        { "keys nested 16 deep", nested(16), "6 0:1 -" },
        { "a root cut short", slice(fileWithKeyOne({}), 0, 55), "3 3 -" },
        { "no header at all", {}, "3 Header 0" },
        { "a header cut before its checksum", slice(header(3), 0, 47), "3 Header 0" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.want, probe(_name, c.file, '-' != c.want[strlen(c.want) - 1])) << c.what;
}

// Runs `write` in a child process, which exits 0 when it returns and 1 when it throws.
template <typename Write> pid_t forkWriter(Write write)
{
    const pid_t pid = fork();
    if (0 == pid)
        _exit("0" == failureOf(write) ? 0 : 1);
    return pid;
}

TEST_F(RegistryDamageTest, KilledWriterLeavesEveryReturnedAddReadable)
{
    Registry reg;
    reg.create(_name.c_str());
    reg.addKey(1);
    reg.close();
    std::mt19937 rng(4242);
    uint32 linked = 0, id = 0;
    int kills = 0;
    for (int round = 0; round < 100; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        int fds[2];
        ASSERT_EQ(0, pipe(fds));
        const uint32 start = linked + 1;
        // Values under key 1, every fifth add a key; each add that returns is acknowledged.
        const pid_t pid = forkWriter([&] {
            reg.open(_name.c_str(), true);
            reg.setPath(1, 0);
            for (id = start; id < start + 64; ++id) {
                0 == id % 5 ? reg.addKey(id) : reg.addInt32(id, static_cast<int32>(id * 3));
                if (write(fds[1], &id, sizeof(id)) != sizeof(id))
                    _exit(2);
            }
        });
        ASSERT_NE(-1, pid);
        close(fds[1]);
        uint32 acked = linked;
        for (int n = 1 + static_cast<int>(rng() % 6);
             n > 0 && read(fds[0], &id, sizeof(id)) == sizeof(id); --n)
            acked = id;
        const timespec pause = { 0, static_cast<long>(rng() % 2000) * 1000 };
        nanosleep(&pause, nullptr);
        kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(pid, waitpid(pid, &status, 0));
        while (read(fds[0], &id, sizeof(id)) == sizeof(id))
            acked = id;
        close(fds[0]);
        kills += WIFSIGNALED(status);
        ASSERT_TRUE(WIFSIGNALED(status) ? SIGKILL == WTERMSIG(status) : 0 == WEXITSTATUS(status))
            << "the writer failed";

        // Below key 1 every linked add (acknowledged or not) in order, each found by a lookup.
        reg.open(_name.c_str(), false);
        Walked scanned;
        reg.scan(&scanned);
        EXPECT_EQ(std::vector<uint32>({ 1 }), scanned.top);
        ASSERT_GT(scanned.others.size(), acked) << "an acknowledged add is not linked";
        for (size_t i = 0; i < scanned.others.size(); ++i)
            ASSERT_EQ(i, scanned.others[i]) << "the scan skips or repeats an add";
        for (linked = static_cast<uint32>(scanned.others.size() - 1), id = start; id <= linked;
             ++id) {
            int32 v = 0;
            reg.setPath(1, 0 == id % 5 ? id : 0, 0);
            EXPECT_EQ(0 == id % 5 ? 6u : 0u, reg.getInt32(0 == id % 5 ? 1 : id, &v)) << id;
            EXPECT_EQ(0 == id % 5 ? 0 : static_cast<int32>(id * 3), v) << id;
        }
        reg.close();
    }
    EXPECT_GT(linked, 100u);
    EXPECT_GT(kills, 0);
}

// Records linked during a walk lie past the file size the walk began with: no damage.
TEST_F(RegistryDamageTest, ReaderBesideAGrowingFileSeesNoDamage)
{
    Registry reg;
    reg.create(_name.c_str());
    reg.addKey(1);
    reg.pathDown(1);
    reg.addInt32(1, 7);
    reg.close();
    const auto now = [] { return std::chrono::steady_clock::now(); };
    const auto start = now();
    // Mostly under key 1, with new top-level keys between: a long list and a growing root.
    const pid_t pid = forkWriter([&] {
        reg.open(_name.c_str(), true);
        for (uint32 id = 2; id < 3000 && now() < start + std::chrono::seconds(2); ++id) {
            reg.setPath(0 == id % 16 ? 0 : 1, 0);
            0 == id % 16 ? reg.addKey(id) : reg.addInt32(id, 1);
        }
    });
    ASSERT_NE(-1, pid);
    reg.open(_name.c_str(), false);
    reg.setPath(1, 0);
    int rounds = 0, status = 0;
    std::string seen = "006";
    for (; "006" == seen && rounds < 100000 && now() < start + std::chrono::seconds(5)
         && 0 == waitpid(pid, &status, WNOHANG);
         ++rounds) {
        Walked walk;
        int32 v = 0;
        seen = failureOf([&] { reg.scan(&walk); });
        if ("0" == seen)
            seen += std::to_string(reg.getInt32(1, &v)) + std::to_string(reg.getInt32(65000, &v));
    }
    reg.close();
    waitpid(pid, &status, 0); // the writer stops by itself within two seconds
    EXPECT_EQ("006", seen) << "after " << rounds << " rounds";
    EXPECT_TRUE(WIFEXITED(status) && 0 == WEXITSTATUS(status)) << "the writer was killed or failed";
    EXPECT_GT(rounds, 0);
}

} // namespace
