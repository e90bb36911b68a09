// Damaged files end in failure code 3, never in a hang, a crash or a read outside the file; and a
// writer killed in the middle of adds leaves a file that opens with every returned add in it.
#include "RegistryFiles.h"
#include "support/StderrCapture.h"

#include "registry/Registry.h"

#include <csignal>
#include <ctime>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

using namespace Kovan;
using namespace KovanTest;

namespace {

// Counts what the walk reports; nothing else.
class Counter : public Registry::Scanner {
public:
    void keyLoaded(uint16 id) override { keyIds.insert(id); }
    void itemLoaded(uint16 id, uint16, uint32) override { ids.insert(id); }
    std::set<uint16> keyIds;
    std::set<uint16> ids;
};

class RegistryDamageTest : public ScratchFileTest {
protected:
    // Opens the bytes read-only and returns the codes of a lookup, a walk and (when writable)
    // an add; 0 for success.
    struct Outcome {
        int32 get, scan, add;
    };
    Outcome probe(const Bytes& bytes, bool writable = false)
    {
        writeBytes(_name, bytes);
        Outcome out = { 0, 0, 0 };
        Registry reg;
        reg.open(_name.c_str(), writable);
        reg.setPath(1, 0);
        int32 v;
        out.get = static_cast<int32>(reg.getInt32(99, &v));
        try {
            Counter counter;
            uint8 buffer[16];
            counter.setBuffer(buffer, sizeof(buffer));
            StderrCapture quiet;
            reg.scan(&counter);
        } catch (const Registry::Exception& e) {
            out.scan = e.code();
        }
        if (writable) {
            try {
                reg.addInt32(98, 1);
            } catch (const Registry::Exception& e) {
                out.add = e.code();
            }
        }
        reg.close();
        return out;
    }
};

// Root, then key 1 at 60 holding whatever `children` describe, laid out from offset 72.
Bytes fileWithKeyOne(const Bytes& children, uint32 firstChild = 72)
{
    Bytes f = header(3);
    append(f, record(0, 0, 0, 60));
    append(f, record(1, 0, 0, firstChild));
    append(f, children);
    return f;
}

TEST_F(RegistryDamageTest, LoopsAndOutOfFileLinksEndInCodeThree)
{
    Bytes selfLoop = fileWithKeyOne(record(7, 6, 72, 4));
    append(selfLoop, { 0, 0, 0, 0 });
    Bytes ring = fileWithKeyOne({});
    append(ring, record(2, 0, 84, 0));
    append(ring, record(3, 0, 96, 0));
    append(ring, record(4, 0, 72, 0));
    Bytes huge = fileWithKeyOne(record(99, 6, 0, 4));
    append(huge, { 1, 0 });
    const struct {
        const char* what;
        Bytes file;
        Outcome expected; // add 0: not tried
    } cases[] = {
        { "a sibling that points back at itself", selfLoop, { 3, 3, 3 } },
        { "a three-record ring", ring, { 3, 3, 3 } },
        { "a key whose child is itself", fileWithKeyOne({}, 60), { 6, 3, 0 } },
        { "a child past the end", fileWithKeyOne({}, 100000), { 3, 3, 3 } },
        { "a value larger than the rest of the file", huge, { 3, 3, 0 } },
        { "a size near 4 GiB", fileWithKeyOne(record(5, 13, 0, 0xFFFFFFF0)), { 6, 3, 0 } },
    };
    for (const auto& c : cases) {
        const Outcome o = probe(c.file, 0 != c.expected.add);
        EXPECT_EQ(c.expected.get, o.get) << c.what;
        EXPECT_EQ(c.expected.scan, o.scan) << c.what;
        EXPECT_EQ(c.expected.add, o.add) << c.what;
    }
}

TEST_F(RegistryDamageTest, AddLinksBehindARecordNoWriterWouldStore)
{
    // Id and type 0xFFFF are refused when written, but may come from a damaged file.
    Bytes odd = fileWithKeyOne(record(0xFFFF, 0xFFFF, 0, 0));
    EXPECT_EQ(0, probe(odd, true).add);
    Registry reg(_name.c_str(), false);
    reg.setPath(1, 0);
    int32 v = 0;
    EXPECT_EQ(0u, reg.getInt32(98, &v));
    EXPECT_EQ(1, v);
    reg.close();
    EXPECT_EQ(record(0xFFFF, 0xFFFF, 84, 0), slice(readBytes(_name), 72, 12));
}

TEST_F(RegistryDamageTest, NestingDeeperThanPathsReachIsRefused)
{
    // Keys 1..20 each inside the one before: deeper than any registry writes.
    Bytes deep = header(3);
    append(deep, record(0, 0, 0, 60));
    for (uint16 i = 1; i <= 20; ++i)
        append(deep, record(i, 0, 0, i < 20 ? 60u + 12u * i : 0u));
    EXPECT_EQ(3, probe(deep).scan);

    // Sixteen levels (keys at 1..15, a key at 16 with no child) is what the API can build.
    deep.resize(48 + 12 * 17);
    putLe32(deep, deep.size() - 4, 0);
    EXPECT_EQ(0, probe(deep).scan);
}

TEST_F(RegistryDamageTest, TruncatedHeadersAndFilesFailCleanly)
{
    Registry reg;
    Bytes full = header(3);
    append(full, record(0, 0, 0, 0));
    for (size_t cut : { 0, 3, 15, 16, 47 }) {
        writeBytes(_name, slice(full, 0, cut));
        EXPECT_EQ(std::make_pair(3, std::string("Header")), failureOf([&] {
            reg.open(_name.c_str(), false);
        })) << cut;
        reg.close();
    }
    // The header is whole but the root is cut.
    writeBytes(_name, slice(full, 0, 55));
    reg.open(_name.c_str(), false);
    int32 v;
    EXPECT_EQ(3u, reg.getInt32(1, &v));
}

TEST_F(RegistryDamageTest, RandomlyDamagedFilesNeverHangOrCrash)
{
    Registry reg;
    reg.create(_name.c_str());
    reg.addKey(1);
    reg.setPath(1, 0);
    for (uint32 i = 1; i <= 12; ++i)
        reg.addUint16(i, static_cast<uint16>(i));
    reg.addKey(20);
    reg.pathDown(20);
    reg.addInt64(1, 5);
    reg.close();
    const Bytes good = readBytes(_name);

    std::mt19937 rng(20240);
    for (int round = 0; round < 300; ++round) {
        Bytes bad = good;
        if (0 == round % 3) {
            bad.resize(rng() % bad.size());
        } else {
            for (int flips = 1 + static_cast<int>(rng() % 4); flips > 0; --flips)
                bad[48 + rng() % (bad.size() - 48)] = static_cast<uint8_t>(rng());
        }
        writeBytes(_name, bad);
        try {
            reg.open(_name.c_str(), false);
        } catch (const Registry::Exception& e) {
            EXPECT_TRUE(2 != e.code()) << "round " << round;
            reg.close();
            continue;
        }
        int32 v;
        const uint32 code = reg.getInt32(3, &v);
        EXPECT_TRUE(0 == code || (3 <= code && code <= 7)) << "round " << round;
        StderrCapture quiet;
        reg.print("damaged");
        reg.close();
    }
}

// Reads native 32-bit ids from the pipe until it is empty and closed, or `want` arrived.
int readAcks(int fd, uint32* last, int want)
{
    int got = 0;
    uint32 id;
    while ((want < 0 || got < want) && read(fd, &id, sizeof(id)) == sizeof(id)) {
        *last = id;
        ++got;
    }
    return got;
}

TEST_F(RegistryDamageTest, KilledWriterLeavesEveryReturnedAddReadable)
{
    {
        Registry reg;
        reg.create(_name.c_str());
        reg.addKey(1);
        reg.close();
    }
    std::mt19937 rng(4242);
    uint32 lastAcked = 0;
    int kills = 0;
    for (int round = 0; round < 100; ++round) {
        int fds[2];
        ASSERT_EQ(0, pipe(fds));
        const uint32 start = lastAcked + 1;
        pid_t pid = fork();
        ASSERT_NE(-1, pid);
        if (0 == pid) {
            close(fds[0]);
            try {
                Registry reg(_name.c_str(), true);
                reg.setPath(1, 0);
                for (uint32 id = start; id < start + 64; ++id) {
                    if (0 == id % 5)
                        reg.addKey(id);
                    else
                        reg.addInt32(id, static_cast<int32>(id * 3));
                    if (write(fds[1], &id, sizeof(id)) != sizeof(id))
                        _exit(2);
                }
            } catch (...) {
                _exit(1);
            }
            _exit(0);
        }
        close(fds[1]);

        // Let a few adds return, then kill at a random moment inside the ones that follow.
        uint32 last = lastAcked;
        readAcks(fds[0], &last, 1 + static_cast<int>(rng() % 6));
        const timespec pause = { 0, static_cast<long>(rng() % 2000) * 1000 };
        nanosleep(&pause, nullptr);
        kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(pid, waitpid(pid, &status, 0));
        readAcks(fds[0], &last, -1);
        close(fds[0]);
        if (WIFSIGNALED(status))
            ++kills;
        else
            ASSERT_EQ(0, WEXITSTATUS(status)) << "the writer failed in round " << round;

        Registry reg(_name.c_str(), false);
        Counter counter;
        reg.scan(&counter);
        reg.setPath(1, 0);
        for (uint32 id = start; id <= last; ++id) {
            const std::set<uint16>& added = (0 == id % 5) ? counter.keyIds : counter.ids;
            ASSERT_EQ(1u, added.count(static_cast<uint16>(id)))
                << "add of " << id << " returned but is missing";
            if (0 != id % 5) {
                int32 v = 0;
                ASSERT_EQ(0u, reg.getInt32(id, &v)) << id;
                EXPECT_EQ(static_cast<int32>(id * 3), v);
            }
        }
        reg.close();
        lastAcked = last;
    }
    EXPECT_GT(lastAcked, 100u);
    EXPECT_GT(kills, 0);
}

} // namespace
