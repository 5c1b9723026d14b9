// The connection layer against the raw SQLite C API: inserting and reading 100k rows in memory and in a
// temporary file, and four threads inserting through one connection. Both sides of each group run the same
// SQL in the same transaction; the raw side binds texts as a C program would, sqlite3_bind_text with
// SQLITE_TRANSIENT, so a ratio measures this layer's own work per row.
#include "sqlite/Connection.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <sqlite3.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace sqlite;

namespace {

constexpr int rowCount = 100'000;
constexpr const char* schema = "CREATE TABLE IF NOT EXISTS t (id INTEGER, name TEXT, score REAL)";
constexpr const char* insertSql = "INSERT INTO t VALUES (?, ?, ?)";

const std::vector<std::string>& names()
{
    static const std::vector<std::string> list = [] {
        std::vector<std::string> v;
        for (int i = 0; i < 64; ++i) {
            v.push_back("screenshot name number " + std::to_string(i));
        }
        return v;
    }();
    return list;
}

// A database file that is removed when the benchmark ends.
struct TemporaryFile {
    TemporaryFile()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "lumetrove-bench-XXXXXX").string();
        const int fd = mkstemp(pattern.data());
        if (fd >= 0) {
            close(fd);
        }
        path = pattern;
    }
    ~TemporaryFile()
    {
        for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
            std::filesystem::remove(path + suffix);
        }
    }
    std::string path;
};

std::string fileNameFor(bool inFile, const TemporaryFile& file)
{
    return inFile ? file.path : ":memory:";
}

sqlite3* openRaw(const std::string& fileName)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(fileName.c_str(), &db,
                    SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI | SQLITE_OPEN_FULLMUTEX, nullptr);
    sqlite3_exec(db, schema, nullptr, nullptr, nullptr);
    return db;
}

void fillRaw(sqlite3* db)
{
    sqlite3_stmt* insert = nullptr;
    sqlite3_exec(db, "DELETE FROM t; BEGIN", nullptr, nullptr, nullptr);
    sqlite3_prepare_v2(db, insertSql, -1, &insert, nullptr);
    for (int i = 0; i < rowCount; ++i) {
        const std::string& name = names()[i % names().size()];
        sqlite3_bind_int64(insert, 1, i);
        sqlite3_bind_text64(insert, 2, name.data(), name.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
        sqlite3_bind_double(insert, 3, i * 0.5);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
}

// Inserts -------------------------------------------------------------------------------------------------

[[gnu::noinline]] void insertBaseline(benchmark::State& state, bool inFile)
{
    TemporaryFile file;
    sqlite3* db = openRaw(fileNameFor(inFile, file));
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, insertSql, -1, &insert, nullptr);
    for (auto _ : state) {
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        for (int i = 0; i < rowCount; ++i) {
            const std::string& name = names()[i % names().size()];
            sqlite3_bind_int64(insert, 1, i);
            sqlite3_bind_text(insert, 2, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
            sqlite3_bind_double(insert, 3, i * 0.5);
            if (sqlite3_step(insert) != SQLITE_DONE) {
                state.SkipWithError("insert failed");
            }
            sqlite3_reset(insert);
        }
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        state.PauseTiming();
        sqlite3_exec(db, "DELETE FROM t", nullptr, nullptr, nullptr);
        state.ResumeTiming();
    }
    sqlite3_finalize(insert);
    sqlite3_close(db);
    state.SetItemsProcessed(state.iterations() * rowCount);
}

// Inserts the rows in one transaction through this layer, `insertRow(statement, i)` inserting row i.
template <class InsertRow> void insertThrough(benchmark::State& state, bool inFile, InsertRow insertRow)
{
    TemporaryFile file;
    auto db = Connection::openPath(fileNameFor(inFile, file));
    db->executeScript(schema);
    auto insert = db->prepare(insertSql);
    for (auto _ : state) {
        db->transaction([&] {
            for (int i = 0; i < rowCount; ++i) {
                insertRow(*insert, i);
            }
        });
        state.PauseTiming();
        db->executeScript("DELETE FROM t");
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * rowCount);
}

// Binds each value straight from its variable.
[[gnu::noinline]] void insertStatement(benchmark::State& state, bool inFile)
{
    insertThrough(state, inFile, [](Statement& insert, int i) {
        insert.runToEnd(std::int64_t{i}, names()[i % names().size()], i * 0.5);
    });
}

// Binds through the variadic bind, then steps: the form for callers that step the statement themselves.
[[gnu::noinline]] void insertBind(benchmark::State& state)
{
    insertThrough(state, false, [](Statement& insert, int i) {
        insert.bind(std::int64_t{i}, names()[i % names().size()], i * 0.5).step();
    });
}

// The variadic form with optionals and a stored value, as callers of nullable columns pass them.
[[gnu::noinline]] void insertOptionals(benchmark::State& state)
{
    const std::vector<std::optional<std::string>> optionalNames(names().begin(), names().end());
    insertThrough(state, false, [&](Statement& insert, int i) {
        insert.runToEnd(std::optional<std::int64_t>(i), optionalNames[i % optionalNames.size()], Binding(i * 0.5));
    });
}

// Builds a list of values for each row first, as callers holding generic values do.
[[gnu::noinline]] void insertBindings(benchmark::State& state)
{
    Bindings row(3);
    insertThrough(state, false, [&](Statement& insert, int i) {
        row[0] = std::int64_t{i};
        row[1] = names()[i % names().size()];
        row[2] = i * 0.5;
        insert.runToEnd(row);
    });
}

// Selects -------------------------------------------------------------------------------------------------

[[gnu::noinline]] void selectBaseline(benchmark::State& state, bool inFile)
{
    TemporaryFile file;
    sqlite3* db = openRaw(fileNameFor(inFile, file));
    fillRaw(db);
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db, "SELECT id, name, score FROM t", -1, &select, nullptr);
    for (auto _ : state) {
        std::int64_t sum = 0;
        std::size_t length = 0;
        double total = 0;
        sqlite3_reset(select);
        while (sqlite3_step(select) == SQLITE_ROW) {
            sum += sqlite3_column_int64(select, 0);
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(select, 1));
            std::string name(text, static_cast<std::size_t>(sqlite3_column_bytes(select, 1)));
            length += name.size();
            total += sqlite3_column_double(select, 2);
        }
        benchmark::DoNotOptimize(sum + length + total);
    }
    sqlite3_finalize(select);
    sqlite3_close(db);
    state.SetItemsProcessed(state.iterations() * rowCount);
}

// Opens a connection on a database holding the 100k rows.
std::shared_ptr<Connection> filledConnection(bool inFile, const TemporaryFile& file)
{
    auto db = Connection::openPath(fileNameFor(inFile, file));
    db->executeScript(schema);
    fillRaw(db->handle());
    return db;
}

// Step, then read each column with the cursor's typed readers.
[[gnu::noinline]] void selectCursor(benchmark::State& state, bool inFile)
{
    TemporaryFile file;
    auto db = filledConnection(inFile, file);
    auto select = db->prepare("SELECT id, name, score FROM t");
    for (auto _ : state) {
        std::int64_t sum = 0;
        std::size_t length = 0;
        double total = 0;
        select->reset();
        const Cursor& row = select->row();
        while (select->step()) {
            sum += row.int64At(0);
            length += row.stringAt(1).size();
            total += row.doubleAt(2);
        }
        benchmark::DoNotOptimize(sum + length + total);
    }
    state.SetItemsProcessed(state.iterations() * rowCount);
}

// Step, then read each column by its storage class, as the query layer does.
[[gnu::noinline]] void selectValues(benchmark::State& state)
{
    TemporaryFile file;
    auto db = filledConnection(false, file);
    auto select = db->prepare("SELECT id, name, score FROM t");
    for (auto _ : state) {
        std::int64_t sum = 0;
        std::size_t length = 0;
        double total = 0;
        select->reset();
        const Cursor& row = select->row();
        while (select->step()) {
            sum += std::get<std::int64_t>(*row.valueAt(0));
            length += std::get<std::string>(*row.valueAt(1)).size();
            total += std::get<double>(*row.valueAt(2));
        }
        benchmark::DoNotOptimize(sum + length + total);
    }
    state.SetItemsProcessed(state.iterations() * rowCount);
}

// Whole rows as lists of values.
[[gnu::noinline]] void selectRows(benchmark::State& state)
{
    TemporaryFile file;
    auto db = filledConnection(false, file);
    auto select = db->prepare("SELECT id, name, score FROM t");
    for (auto _ : state) {
        std::size_t count = 0;
        select->reset();
        while (auto row = select->failableNext()) {
            count += row->size();
        }
        benchmark::DoNotOptimize(count);
    }
    state.SetItemsProcessed(state.iterations() * rowCount);
}

// Four threads, one connection --------------------------------------------------------------------------

constexpr int threadCount = 4;
constexpr int rowsPerThread = 5'000;

[[gnu::noinline]] void threadsBaseline(benchmark::State& state)
{
    sqlite3* db = openRaw(":memory:");
    for (auto _ : state) {
        std::vector<std::thread> threads;
        for (int t = 0; t < threadCount; ++t) {
            threads.emplace_back([db, t] {
                sqlite3_stmt* insert = nullptr;
                sqlite3_prepare_v2(db, insertSql, -1, &insert, nullptr);
                const std::string& name = names()[static_cast<std::size_t>(t)];
                for (int i = 0; i < rowsPerThread; ++i) {
                    sqlite3_bind_int64(insert, 1, i);
                    sqlite3_bind_text(insert, 2, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
                    sqlite3_bind_double(insert, 3, t);
                    sqlite3_step(insert);
                    sqlite3_reset(insert);
                }
                sqlite3_finalize(insert);
            });
        }
        for (auto& thread : threads) {
            thread.join();
        }
        state.PauseTiming();
        sqlite3_exec(db, "DELETE FROM t", nullptr, nullptr, nullptr);
        state.ResumeTiming();
    }
    sqlite3_close(db);
    state.SetItemsProcessed(state.iterations() * threadCount * rowsPerThread);
}

[[gnu::noinline]] void threadsConnection(benchmark::State& state)
{
    auto db = Connection::openPath(":memory:");
    db->executeScript(schema);
    for (auto _ : state) {
        std::vector<std::thread> threads;
        for (int t = 0; t < threadCount; ++t) {
            threads.emplace_back([&db, t] {
                auto insert = db->prepare(insertSql);
                const std::string& name = names()[static_cast<std::size_t>(t)];
                for (int i = 0; i < rowsPerThread; ++i) {
                    insert->runToEnd(std::int64_t{i}, name, double(t));
                }
            });
        }
        for (auto& thread : threads) {
            thread.join();
        }
        state.PauseTiming();
        db->executeScript("DELETE FROM t");
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * threadCount * rowsPerThread);
}

} // namespace

BENCHMARK_CAPTURE(insertBaseline, memory, false)->Name("insert100k_memory/baseline")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(insertStatement, memory, false)->Name("insert100k_memory/statement")->Unit(benchmark::kMillisecond);
BENCHMARK(insertBind)->Name("insert100k_memory/bind")->Unit(benchmark::kMillisecond);
BENCHMARK(insertOptionals)->Name("insert100k_memory/optionals")->Unit(benchmark::kMillisecond);
BENCHMARK(insertBindings)->Name("insert100k_memory/bindings")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(insertBaseline, file, true)->Name("insert100k_file/baseline")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(insertStatement, file, true)->Name("insert100k_file/statement")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(selectBaseline, memory, false)->Name("select100k_memory/baseline")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(selectCursor, memory, false)->Name("select100k_memory/cursor")->Unit(benchmark::kMillisecond);
BENCHMARK(selectValues)->Name("select100k_memory/values")->Unit(benchmark::kMillisecond);
BENCHMARK(selectRows)->Name("select100k_memory/rows")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(selectBaseline, file, true)->Name("select100k_file/baseline")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(selectCursor, file, true)->Name("select100k_file/cursor")->Unit(benchmark::kMillisecond);
BENCHMARK(threadsBaseline)->Name("insert4threads/baseline")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(threadsConnection)->Name("insert4threads/connection")->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
