// The settings registry beside SQLite, each storing small integers durably in a file in the same
// directory: an add that has reached the device when it returns, a lookup among the 200 values
// of one key, and a walk over a thousand values. SQLite runs with a write-ahead log and
// synchronous=FULL, its durable setting closest to the registry's synchronous writes.
#include "registry/Registry.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <sqlite3.h>
#include <string>
#include <unistd.h>

namespace {

// Files beside the build: a benchmark that syncs should hit a real file system, not tmpfs.
class Scratch {
public:
    Scratch()
    {
        char name[] = "kovan-bench-XXXXXX";
        _path = mkdtemp(name) ? name : ".";
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
        "CREATE TABLE t(k INTEGER, id INTEGER, v INTEGER, PRIMARY KEY(k, id)) WITHOUT ROWID;",
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

void registryDurableAdd(benchmark::State& state)
{
    Scratch dir;
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
BENCHMARK(registryDurableAdd)->MinTime(2.0);

void sqliteDurableAdd(benchmark::State& state)
{
    Scratch dir;
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
BENCHMARK(sqliteDurableAdd)->MinTime(2.0);

void registryLookupIn200(benchmark::State& state)
{
    Scratch dir;
    Kovan::Registry reg;
    freshRegistry(reg, dir.file("lookup.reg"));
    for (Kovan::uint32 id = 1; id <= 200; ++id)
        reg.addInt32(id, static_cast<Kovan::int32>(id * 3));
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
BENCHMARK(registryLookupIn200);

void sqliteLookupIn200(benchmark::State& state)
{
    Scratch dir;
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
BENCHMARK(sqliteLookupIn200);

class Count : public Kovan::Registry::Scanner {
public:
    void keyLoaded(Kovan::uint16) override { ++n; }
    void itemLoaded(Kovan::uint16, Kovan::uint16, Kovan::uint32) override { ++n; }
    int n = 0;
};

// Ten keys of a hundred values each.
void registryScan1000(benchmark::State& state)
{
    Scratch dir;
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
BENCHMARK(registryScan1000);

void sqliteScan1000(benchmark::State& state)
{
    Scratch dir;
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
BENCHMARK(sqliteScan1000);

} // namespace
