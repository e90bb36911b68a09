// The settings registry beside SQLite, each keeping small integers in a file, in one run:
//
// - a lookup among the 200 values of one key in an open file (SQLite: a prepared statement on an
//   open connection in WAL mode), on tmpfs and on a disk file that is in the page cache;
// - opening the file, one lookup and closing it (SQLite: open, prepare, step, close);
// - a durable add, which has reached the device when it returns (SQLite: WAL with
//   synchronous=FULL, one transaction each), on the disk file;
// - a walk over a thousand values.
//
// After the table it prints, for each pair, SQLite's time per operation over the registry's: a
// ratio above 1 means the registry is faster.
#include "registry/Registry.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sqlite3.h>
#include <string>
#include <unistd.h>

namespace {

// A scratch directory under `base`, removed afterwards.
class Scratch {
public:
    explicit Scratch(const std::string& base)
    {
        std::string name = base + "/kovan-bench-XXXXXX";
        _path = mkdtemp(&name[0]) ? name : base;
    }
    ~Scratch()
    {
        std::string cmd = "rm -rf '" + _path + "'";
        if (system(cmd.c_str()) != 0) { }
    }
    std::string file(const char* name) const { return _path + "/" + name; }

private:
    std::string _path;
};

void fail(benchmark::State& state, sqlite3* db) { state.SkipWithError(sqlite3_errmsg(db)); }

sqlite3* openDb(const std::string& name)
{
    sqlite3* db = nullptr;
    sqlite3_open(name.c_str(), &db);
    sqlite3_exec(db,
        "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;"
        "CREATE TABLE IF NOT EXISTS t(k INTEGER, id INTEGER, v INTEGER, PRIMARY KEY(k, id))"
        " WITHOUT ROWID;",
        nullptr, nullptr, nullptr);
    return db;
}

// Fills key `k` with ids 1..count in one transaction.
void fillDb(sqlite3* db, int k, int count)
{
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?, ?, ?)", -1, &insert, nullptr);
    for (int id = 1; id <= count; ++id) {
        sqlite3_bind_int(insert, 1, k);
        sqlite3_bind_int(insert, 2, id);
        sqlite3_bind_int(insert, 3, id * 3);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
}

void freshRegistry(Kovan::Registry& reg, const std::string& name)
{
    reg.create(name.c_str());
    reg.addKey(1);
    reg.setPath(1, 0);
}

// A registry file with key 1 holding ids 1..200.
void fill200(const std::string& name)
{
    Kovan::Registry reg;
    freshRegistry(reg, name);
    for (Kovan::uint32 id = 1; id <= 200; ++id)
        reg.addInt32(id, static_cast<Kovan::int32>(id * 3));
    reg.close();
}

void registryDurableAdd(benchmark::State& state, const std::string& base)
{
    Scratch dir(base);
    const std::string name = dir.file("add.reg");
    Kovan::Registry reg;
    freshRegistry(reg, name);
    Kovan::uint32 id = 0;
    for (auto _ : state) {
        // Ids are 16 bits wide: start a new file before they run out.
        if (++id == 60000) {
            state.PauseTiming();
            reg.close();
            freshRegistry(reg, name);
            id = 1;
            state.ResumeTiming();
        }
        reg.addInt32(id, static_cast<Kovan::int32>(id));
    }
    reg.close();
    state.SetItemsProcessed(state.iterations());
}

void sqliteDurableAdd(benchmark::State& state, const std::string& base)
{
    Scratch dir(base);
    sqlite3* db = openDb(dir.file("add.db"));
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t VALUES(1, ?, ?)", -1, &insert, nullptr);
    int id = 0;
    for (auto _ : state) {
        ++id;
        sqlite3_bind_int(insert, 1, id);
        sqlite3_bind_int(insert, 2, id);
        if (sqlite3_step(insert) != SQLITE_DONE) {
            fail(state, db);
            break;
        }
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_close(db);
    state.SetItemsProcessed(state.iterations());
}

void registryLookupIn200(benchmark::State& state, const std::string& base)
{
    Scratch dir(base);
    fill200(dir.file("lookup.reg"));
    Kovan::Registry reg(dir.file("lookup.reg").c_str(), false);
    reg.setPath(1, 0);
    Kovan::uint32 id = 0;
    Kovan::int32 value = 0;
    for (auto _ : state) {
        id = id % 200 + 1;
        if (reg.getInt32(id, &value) != 0) {
            state.SkipWithError("lookup failed");
            break;
        }
        benchmark::DoNotOptimize(value);
    }
    reg.close();
    state.SetItemsProcessed(state.iterations());
}

void sqliteLookupIn200(benchmark::State& state, const std::string& base)
{
    Scratch dir(base);
    sqlite3* db = openDb(dir.file("lookup.db"));
    fillDb(db, 1, 200);
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db, "SELECT v FROM t WHERE k = 1 AND id = ?", -1, &select, nullptr);
    int id = 0;
    for (auto _ : state) {
        id = id % 200 + 1;
        sqlite3_bind_int(select, 1, id);
        if (sqlite3_step(select) != SQLITE_ROW) {
            fail(state, db);
            break;
        }
        benchmark::DoNotOptimize(sqlite3_column_int(select, 0));
        sqlite3_reset(select);
    }
    sqlite3_finalize(select);
    sqlite3_close(db);
    state.SetItemsProcessed(state.iterations());
}

void registryOpenLookupClose(benchmark::State& state, const std::string& base)
{
    Scratch dir(base);
    const std::string name = dir.file("once.reg");
    fill200(name);
    Kovan::Registry reg;
    Kovan::uint32 id = 0;
    Kovan::int32 value = 0;
    for (auto _ : state) {
        id = id % 200 + 1;
        reg.open(name.c_str(), false);
        reg.setPath(1, 0);
        if (reg.getInt32(id, &value) != 0) {
            state.SkipWithError("lookup failed");
            break;
        }
        reg.close();
        benchmark::DoNotOptimize(value);
    }
    reg.close();
    state.SetItemsProcessed(state.iterations());
}

void sqliteOpenLookupClose(benchmark::State& state, const std::string& base)
{
    Scratch dir(base);
    const std::string name = dir.file("once.db");
    sqlite3* filled = openDb(name);
    fillDb(filled, 1, 200);
    sqlite3_close(filled);
    int id = 0;
    for (auto _ : state) {
        id = id % 200 + 1;
        sqlite3* db = nullptr;
        sqlite3_stmt* select = nullptr;
        sqlite3_open_v2(name.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_prepare_v2(db, "SELECT v FROM t WHERE k = 1 AND id = ?", -1, &select, nullptr);
        sqlite3_bind_int(select, 1, id);
        const bool found = sqlite3_step(select) == SQLITE_ROW;
        if (found)
            benchmark::DoNotOptimize(sqlite3_column_int(select, 0));
        sqlite3_finalize(select);
        if (!found) {
            fail(state, db);
            sqlite3_close(db);
            break;
        }
        sqlite3_close(db);
    }
    state.SetItemsProcessed(state.iterations());
}

class Count : public Kovan::Registry::Scanner {
public:
    void keyLoaded(Kovan::uint16) override { ++n; }
    void itemLoaded(Kovan::uint16, Kovan::uint16, Kovan::uint32) override { ++n; }
    int n = 0;
};

// Ten keys of a hundred values each.
void registryScan1000(benchmark::State& state, const std::string& base)
{
    Scratch dir(base);
    Kovan::Registry reg;
    reg.create(dir.file("scan.reg").c_str());
    for (Kovan::uint32 k = 1; k <= 10; ++k) {
        reg.setPath(0);
        reg.addKey(k);
        reg.pathDown(k);
        for (Kovan::uint32 id = 1; id <= 100; ++id)
            reg.addInt32(id, static_cast<Kovan::int32>(id));
    }
    for (auto _ : state) {
        Count count;
        reg.scan(&count);
        benchmark::DoNotOptimize(count.n);
    }
    reg.close();
    state.SetItemsProcessed(state.iterations() * 1000);
}

void sqliteScan1000(benchmark::State& state, const std::string& base)
{
    Scratch dir(base);
    sqlite3* db = openDb(dir.file("scan.db"));
    for (int k = 1; k <= 10; ++k)
        fillDb(db, k, 100);
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db, "SELECT k, id, v FROM t", -1, &select, nullptr);
    for (auto _ : state) {
        int n = 0;
        while (sqlite3_step(select) == SQLITE_ROW) {
            benchmark::DoNotOptimize(sqlite3_column_int(select, 2));
            ++n;
        }
        sqlite3_reset(select);
        benchmark::DoNotOptimize(n);
    }
    sqlite3_finalize(select);
    sqlite3_close(db);
    state.SetItemsProcessed(state.iterations() * 1000);
}

// The console table, and each run's real time per iteration kept for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            // Names end in "/min_time:..."; the pairs are told by what comes before.
            const std::string name = run.benchmark_name();
            if (!run.error_occurred && Run::RT_Iteration == run.run_type)
                seconds[name.substr(0, name.find("/min_time"))]
                    = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
        }
    }
    std::map<std::string, double> seconds;
};

typedef void (*Body)(benchmark::State&, const std::string&);

} // namespace

int main(int argc, char** argv)
{
    // tmpfs where there is one; the disk is the working directory (run it from the build tree),
    // whose files stay in the page cache between the lookups.
    const std::string tmpfs = (0 == access("/dev/shm", W_OK)) ? "/dev/shm" : ".";
    const struct {
        const char* what;
        Body registry;
        Body sqlite;
        bool onTmpfs;
        bool onDisk;
    } pairs[] = {
        { "lookup in 200", registryLookupIn200, sqliteLookupIn200, true, true },
        { "open, lookup, close", registryOpenLookupClose, sqliteOpenLookupClose, true, true },
        { "durable add", registryDurableAdd, sqliteDurableAdd, false, true },
        { "walk over 1000", registryScan1000, sqliteScan1000, false, true },
    };
    std::vector<std::string> names;
    for (const auto& p : pairs) {
        for (int disk = 0; disk < 2; ++disk) {
            if (!(disk ? p.onDisk : p.onTmpfs))
                continue;
            const std::string where = disk ? "disk" : "tmpfs";
            const std::string base = disk ? "." : tmpfs;
            const std::string name = std::string(p.what) + "/" + where;
            benchmark::RegisterBenchmark((name + "/registry").c_str(), p.registry, base)
                ->MinTime(p.registry == registryDurableAdd ? 2.0 : 0.5);
            benchmark::RegisterBenchmark((name + "/sqlite").c_str(), p.sqlite, base)
                ->MinTime(p.registry == registryDurableAdd ? 2.0 : 0.5);
            names.push_back(name);
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printf("\nSQLite's time over the registry's (above 1: the registry is faster)\n");
    for (const std::string& name : names) {
        const auto r = reporter.seconds.find(name + "/registry");
        const auto s = reporter.seconds.find(name + "/sqlite");
        if (r != reporter.seconds.end() && s != reporter.seconds.end() && r->second > 0)
            printf("  %-28s %7.2fx\n", name.c_str(), s->second / r->second);
    }
    benchmark::Shutdown();
    return 0;
}
