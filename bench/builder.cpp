// Compiling the library store's typical queries with the builder, beside preparing the same text in SQLite.
#include "sqlite/Operators.h"
#include "sqlite/Query.h"
#include "sqlite/Setter.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <new>
#include <sqlite3.h>

namespace {

std::atomic<std::int64_t> allocations{0};

} // namespace

// Counting replacement of the global allocation functions; GCC cannot see that new and delete are paired here.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

using namespace sqlite;

namespace {

const Table screenshots("screenshots");
const Table foldersScreenshots("folders_screenshots");
const VirtualTable fts("screenshots_fts");
const auto id = Expression<std::int64_t>::makeIdentifierExpression("id");
const auto screenshotId = Expression<std::int64_t>::makeIdentifierExpression("screenshot_id");
const auto folderId = Expression<std::int64_t>::makeIdentifierExpression("folder_id");
const auto createdAt = Expression<std::optional<std::string>>::makeIdentifierExpression("created_at");

// The full-text condition as the store writes it: ("screenshots_fts" MATCH ?).
Expression<bool> matches(const std::string& pattern)
{
    return Expression<bool>(infixExpression("MATCH", fts.tableNameExpression(), pattern));
}

Table typicalQuery()
{
    return screenshots.joinQuery(fts, equalsExpression(screenshots[rowid()], fts[rowid()]))
        .joinQuery(foldersScreenshots, equalsExpression(foldersScreenshots[screenshotId], screenshots[id]))
        .filterQuery(matches("\"invoice\"*"))
        .filterQuery(equalsValue(foldersScreenshots[folderId], 3))
        .filterQuery(andExpressions(greaterOrEqualValue(screenshots[createdAt], "2024-01-01T00:00:00.000"),
                                    lessOrEqualValue(screenshots[createdAt], "2024-01-31T23:59:59.999")))
        .orderQuery(screenshots[createdAt].desc())
        .limitQuery(100);
}

Update tenSetters()
{
    std::vector<Setter> setters;
    for (int i = 0; i < 10; ++i) {
        const auto col =
            Expression<std::optional<std::string>>::makeIdentifierExpression("column_" + std::to_string(i));
        setters.push_back(assignOptionalValue(col, "value number " + std::to_string(i)));
    }
    return screenshots.filterQuery(equalsValue(id, 42)).compileUpdate(setters);
}

class Database {
public:
    Database()
    {
        sqlite3_open(":memory:", &db_);
        std::string schema = "CREATE TABLE screenshots (id INTEGER PRIMARY KEY, created_at TEXT";
        for (int i = 0; i < 10; ++i) {
            schema += ", column_" + std::to_string(i) + " TEXT";
        }
        schema += ");"
                  "CREATE TABLE folders_screenshots (folder_id INTEGER, screenshot_id INTEGER);"
                  "CREATE VIRTUAL TABLE screenshots_fts USING fts5(name, text);";
        sqlite3_exec(db_, schema.c_str(), nullptr, nullptr, nullptr);
    }
    ~Database() { sqlite3_close(db_); }

    void prepare(const std::string& text)
    {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db_, text.c_str(), static_cast<int>(text.size()), &statement, nullptr) != SQLITE_OK) {
            std::abort();
        }
        sqlite3_finalize(statement);
    }

private:
    sqlite3* db_ = nullptr;
};

template <class F> void measure(benchmark::State& state, F body)
{
    const std::int64_t before = allocations.load();
    for (auto _ : state) {
        body();
    }
    state.counters["allocs"] =
        benchmark::Counter(static_cast<double>(allocations.load() - before) / static_cast<double>(state.iterations()));
}

void typicalQueryPrepare(benchmark::State& state)
{
    Database db;
    const std::string text = typicalQuery().expression().template_;
    measure(state, [&] { db.prepare(text); });
}

void typicalQueryCompile(benchmark::State& state)
{
    const Table query = typicalQuery();
    measure(state, [&] { benchmark::DoNotOptimize(query.expression()); });
}

void typicalQueryBuildAndCompile(benchmark::State& state)
{
    measure(state, [&] { benchmark::DoNotOptimize(typicalQuery().expression()); });
}

void updatePrepare(benchmark::State& state)
{
    Database db;
    const std::string text = tenSetters().template_;
    measure(state, [&] { db.prepare(text); });
}

void updateBuildAndCompile(benchmark::State& state)
{
    measure(state, [&] { benchmark::DoNotOptimize(tenSetters()); });
}

void updateCompile(benchmark::State& state)
{
    std::vector<Setter> setters;
    for (int i = 0; i < 10; ++i) {
        const auto col =
            Expression<std::optional<std::string>>::makeIdentifierExpression("column_" + std::to_string(i));
        setters.push_back(assignOptionalValue(col, "value number " + std::to_string(i)));
    }
    const Table filtered = screenshots.filterQuery(equalsValue(id, 42));
    measure(state, [&] { benchmark::DoNotOptimize(filtered.compileUpdate(setters)); });
}

} // namespace

BENCHMARK(typicalQueryPrepare)->Name("builder_typical_query/baseline");
BENCHMARK(typicalQueryCompile)->Name("builder_typical_query/compile");
BENCHMARK(typicalQueryBuildAndCompile)->Name("builder_typical_query/build_and_compile");
BENCHMARK(updatePrepare)->Name("builder_update_ten_setters/baseline");
BENCHMARK(updateCompile)->Name("builder_update_ten_setters/compile");
BENCHMARK(updateBuildAndCompile)->Name("builder_update_ten_setters/build_and_compile");

BENCHMARK_MAIN();
