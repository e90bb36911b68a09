// One writer per file between processes: the loser is told who holds the file, or waits its
// time-out; writers taking turns lose no acknowledged add; a killed writer leaves no lock behind.
// Within a process, one registry per thread.
#include "tests/registry/ScratchDir.h"

#include "registry/Registry.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace Kovan;
using KovanTest::failureOf;

namespace {

typedef std::chrono::steady_clock Clock;

class RegistryLockTest : public KovanTest::ScratchDirTest {
protected:
    RegistryLockTest()
    {
        Registry reg;
        reg.create(_name.c_str());
        reg.addKey(1);
        reg.addKey(2);
    }

    // A child that opens the file writable, says so through a pipe, and holds it until the
    // parent kills it or dies.
    pid_t startHolder()
    {
        if (0 != pipe(_held) || 0 != pipe(_release))
            return -1;
        const pid_t pid = fork();
        if (0 == pid) {
            // Only the parent's end, so that the parent's death ends the wait.
            close(_release[1]);
            Registry reg(_name.c_str(), true);
            char c = 'h';
            _exit(1 == write(_held[1], &c, 1) && 0 == read(_release[0], &c, 1) ? 0 : 2);
        }
        close(_held[1]);
        close(_release[0]);
        char c = 0;
        return (pid > 0 && 1 == read(_held[0], &c, 1)) ? pid : -1;
    }

    int _held[2] = { -1, -1 };
    int _release[2] = { -1, -1 };
};

// The ids of the values a walk meets.
struct Ids : Registry::Scanner {
    void keyLoaded(uint16) override { }
    void itemLoaded(uint16 id, uint16, uint32) override { ids.push_back(id); }
    void headerLoaded(const Registry&) override { ++headers; }
    std::vector<uint32> ids;
    int headers = 0;
};

TEST_F(RegistryLockTest, SecondWriterIsToldWhoHoldsTheFileOrWaitsItsTimeOutUntilTheHolderDies)
{
    const pid_t holder = startHolder();
    ASSERT_GT(holder, 0);
    const std::string inUse
        = "9 " + _name + " " + std::to_string(holder) + " " + std::to_string(EWOULDBLOCK);
    const auto size = std::filesystem::file_size(_name);

    Registry reg;
    EXPECT_EQ(0u, reg.lockTimeout()) << "a second writer waits unless it asks to";
    EXPECT_EQ(inUse, failureOf([&] { reg.open(_name.c_str(), true); }));
    EXPECT_EQ(inUse, failureOf([&] { reg.create(_name.c_str()); }));
    EXPECT_EQ(size, std::filesystem::file_size(_name)) << "a create that lost truncated the file";
    reg.setLockTimeout(150);
    const auto start = Clock::now();
    EXPECT_EQ(inUse, failureOf([&] { reg.open(_name.c_str(), true); }));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(150));

    // Readers take no lock, and the failed opens left this process's registry mutex free.
    reg.open(_name.c_str(), false);
    uint32 type = 99, bytes = 99;
    EXPECT_EQ(0u, reg.getInfo(2, &type, &bytes));
    EXPECT_EQ(std::make_pair(uint32(Registry::KEY), 0u), std::make_pair(type, bytes));
    reg.close();

    // Killed, the holder takes its lock along: the next writer, which does not wait, gets the file.
    ASSERT_EQ(0, kill(holder, SIGKILL));
    ASSERT_EQ(holder, waitpid(holder, nullptr, 0));
    reg.setLockTimeout(0);
    EXPECT_EQ("0", failureOf([&] { reg.open(_name.c_str(), true); }));
}

// Within one process: the thread that holds the registry is refused at once, another thread
// waits as it always did, or gives up after the time-out it chose. A registry that never reached
// its file holds no lock, so its close cannot release another's.
TEST_F(RegistryLockTest, SecondOpenInTheHoldingThreadFailsAtOnceAndOtherThreadsWait)
{
    const std::string missing = file("missing"), noDir = file("no/dir"),
                      enoent = std::to_string(ENOENT);
    Registry never, notOpened, notCreated, second;
    EXPECT_EQ("2 " + missing + " 0 " + enoent,
        failureOf([&] { notOpened.open(missing.c_str(), false); }));
    EXPECT_EQ("1 " + noDir + " 0 " + enoent, failureOf([&] { notCreated.create(noDir.c_str()); }));
    // A file that may not shrink (a sealed memory file) is not emptied, and nothing is written.
    const int sealed = memfd_create("sealed", MFD_ALLOW_SEALING);
    ASSERT_TRUE(5 == write(sealed, "bytes", 5) && 0 == fcntl(sealed, F_ADD_SEALS, F_SEAL_SHRINK));
    const std::string path = "/proc/self/fd/" + std::to_string(sealed);
    EXPECT_EQ("1 " + path + " 0 " + std::to_string(EPERM),
        failureOf([&] { Registry().create(path.c_str()); }));
    EXPECT_EQ("bytes", KovanTest::readFile(path));
    close(sealed);
    Registry held(_name.c_str(), false);
    const std::pair<std::string, std::function<void()>> misuses[] = {
        { _name, [&] { second.open(_name.c_str(), true); } },
        { _name, [&] { second.create(_name.c_str()); } },
        { "lock", [&] { second.lock(); } },
    };
    // Each would wait for ever (the default) if it waited at all.
    for (const auto& misuse : misuses)
        EXPECT_EQ("10 " + misuse.first + " 0", failureOf(misuse.second));
    for (Registry* failed : { &never, &notOpened, &notCreated, &second })
        failed->close();

    auto impatient = std::async(std::launch::async, [&] {
        Registry other;
        other.setOpenTimeout(60);
        const auto start = Clock::now();
        const std::string failure = failureOf([&] { other.open(_name.c_str(), false); });
        return std::make_pair(failure, Clock::now() - start >= std::chrono::milliseconds(60));
    });
    EXPECT_EQ(std::make_pair("11 " + _name + " 0", true), impatient.get());

    // A thread that waits for ever gets the registry once this one closes it; a thread told
    // to start waiting cannot say that it has, so the close may come before or during its wait.
    std::promise<void> started;
    auto patient = std::async(std::launch::async, [&] {
        Registry other;
        started.set_value();
        return failureOf([&] { other.open(_name.c_str(), true); });
    });
    started.get_future().wait();
    held.close();
    ASSERT_EQ(std::future_status::ready, patient.wait_for(std::chrono::seconds(20)));
    EXPECT_EQ("0", patient.get());
    EXPECT_EQ("0", failureOf([&] { second.open(_name.c_str(), false); }));
}

// Two processes add under one key (and a key at the top each round), opening and closing the
// file round after round, while this one reads beside them. Every add a writer saw return is in
// the file, once, each writer's in its order, and no walk took a new record for damage.
TEST_F(RegistryLockTest, TwoWritersAddingAtOnceLoseNothingAndTheReaderSeesNoDamage)
{
    constexpr uint32 ROUNDS = 6, ADDS = 25;
    int acks[2], go[2];
    ASSERT_EQ(0, pipe(acks));
    ASSERT_EQ(0, pipe(go));
    std::vector<pid_t> writers;
    for (uint32 writer = 1; writer <= 2; ++writer) {
        const pid_t pid = fork();
        if (0 == pid) {
            close(go[1]);
            char c = 0;
            if (1 != read(go[0], &c, 1))
                _exit(2);
            Registry reg;
            reg.setLockTimeout(20000);
            for (uint32 round = 0; round < ROUNDS; ++round) {
                reg.open(_name.c_str(), true);
                reg.addKey(writer * 100 + round);
                reg.setPath(1, 0);
                for (uint32 i = 0; i < ADDS; ++i) {
                    const uint32 id = writer * 1000 + round * ADDS + i;
                    reg.addInt32(id, static_cast<int32>(id * 3));
                    const uint32 acked[2] = { writer, id };
                    if (sizeof(acked) != write(acks[1], acked, 8))
                        _exit(4);
                }
                reg.close();
            }
            _exit(0);
        }
        ASSERT_GT(pid, 0);
        writers.push_back(pid);
    }
    close(acks[1]);
    close(go[0]);
    ASSERT_EQ(2, write(go[1], "gg", 2));
    close(go[1]);

    // After each acknowledgement, a whole walk and a failed lookup beside the writers.
    Registry reg(_name.c_str(), false);
    reg.setPath(1, 0);
    std::map<uint32, std::vector<uint32>> acked;
    std::string seen = "06";
    for (uint32 ack[2]; "06" == seen && sizeof(ack) == read(acks[0], ack, sizeof(ack));) {
        acked[ack[0]].push_back(ack[1]);
        Ids walk;
        int32 v = 0;
        seen = failureOf([&] { reg.scan(&walk); });
        if ("0" == seen)
            seen += std::to_string(reg.getInt32(65000, &v));
    }
    close(acks[0]);
    EXPECT_EQ("06", seen) << "after " << acked[1].size() + acked[2].size() << " adds";
    // A writer that lost its lock would fail or hang.
    for (const pid_t pid : writers) {
        int status = 0;
        ASSERT_EQ(pid, waitpid(pid, &status, 0));
        EXPECT_TRUE(WIFEXITED(status) && 0 == WEXITSTATUS(status)) << "a writer failed";
    }

    Ids below;
    reg.scanPath(&below);
    EXPECT_EQ(1, below.headers);
    std::map<uint32, std::vector<uint32>> found;
    for (uint32 id : below.ids) {
        found[id / 1000].push_back(id);
        int32 v = 0;
        EXPECT_EQ(0u, reg.getInt32(id, &v));
        EXPECT_EQ(static_cast<int32>(id * 3), v) << id;
    }
    for (uint32 writer = 1; writer <= 2; ++writer) {
        EXPECT_EQ(ROUNDS * ADDS, acked[writer].size());
        EXPECT_EQ(acked[writer], found[writer]) << "writer " << writer << ": lost or repeated adds";
    }
    EXPECT_EQ(2 * ROUNDS * ADDS, below.ids.size()) << "merged adds";
}

} // namespace
