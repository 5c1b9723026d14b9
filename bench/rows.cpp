// Reading 100k rows through prepareRowIterator and Row by typed column, against the raw C API reading the
// same columns into the same C++ types; then the same over a two-table join read by unqualified column.
// A variant of each reads rows that each get new storage, because the previous row is still held: what the
// iterator's reuse of the last row's storage earns.

#include "sqlite/Operators.h"
#include "sqlite/QueryRunning.h"

#include <benchmark/benchmark.h>
#include <memory>
#include <sqlite3.h>
#include <string>

namespace {

using namespace sqlite;

constexpr int rowCount = 100000;

std::shared_ptr<Connection> database()
{
    static std::shared_ptr<Connection> db = [] {
        auto db = Connection::open(Connection::Location::inMemory());
        db->executeScript("CREATE TABLE items (id INTEGER PRIMARY KEY, name TEXT, score REAL);"
                          "CREATE TABLE labels (label_id INTEGER PRIMARY KEY, item_id INTEGER, label TEXT);");
        db->transaction([&] {
            auto items = db->prepare("INSERT INTO items (id, name, score) VALUES (?, ?, ?)");
            auto labels = db->prepare("INSERT INTO labels (item_id, label) VALUES (?, ?)");
            for (int i = 1; i <= rowCount; ++i) {
                items->runToEnd(i, "screenshot " + std::to_string(i), i * 0.5);
                labels->runToEnd(i, "label-" + std::to_string(i % 97));
            }
        });
        return db;
    }();
    return db;
}

const auto id = Expression<std::int64_t>::makeIdentifierExpression("id");
const auto name = Expression<std::string>::makeIdentifierExpression("name");
const auto score = Expression<double>::makeIdentifierExpression("score");
const auto itemId = Expression<std::int64_t>::makeIdentifierExpression("item_id");
const auto label = Expression<std::string>::makeIdentifierExpression("label");

struct Totals {
    std::int64_t ids = 0;
    std::size_t bytes = 0;
    double scores = 0;
};

std::string textAt(sqlite3_stmt* statement, int index)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, index));
    return std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement, index)));
}

void rawRead(benchmark::State& state, const char* sql, int labelColumn)
{
    sqlite3* handle = database()->handle();
    for (auto _ : state) {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(handle, sql, -1, &statement, nullptr);
        Totals totals;
        while (sqlite3_step(statement) == SQLITE_ROW) {
            totals.ids += sqlite3_column_int64(statement, 0);
            totals.bytes += textAt(statement, 1).size();
            totals.scores += sqlite3_column_double(statement, 2);
            if (labelColumn >= 0) {
                totals.bytes += textAt(statement, labelColumn).size();
            }
        }
        sqlite3_finalize(statement);
        benchmark::DoNotOptimize(totals);
    }
    state.SetItemsProcessed(state.iterations() * rowCount);
}

void rowsBaseline(benchmark::State& state)
{
    rawRead(state, "SELECT * FROM \"items\"", -1);
}

// Reads every row of `query` by typed column. With `holdPrevious` each row stays alive until the next one is
// read, so none can take over the storage of the one before.
template <class Query> void typedRead(benchmark::State& state, const Query& query, bool withLabel, bool holdPrevious)
{
    auto db = database();
    for (auto _ : state) {
        RowIterator rows = db->prepareRowIterator(query);
        Totals totals;
        std::optional<Row> previous;
        while (std::optional<Row> row = rows.failableNext()) {
            totals.ids += row->getValue(id);
            totals.bytes += row->getValue(name).size();
            totals.scores += row->getValue(score);
            if (withLabel) {
                totals.bytes += row->getValue(label).size();
            }
            if (holdPrevious) {
                previous = std::move(row);
            }
        }
        benchmark::DoNotOptimize(totals);
    }
    state.SetItemsProcessed(state.iterations() * rowCount);
}

const Table items("items");
const Table labels("labels");

void rowsTyped(benchmark::State& state)
{
    typedRead(state, items, false, false);
}

void rowsFresh(benchmark::State& state)
{
    typedRead(state, items, false, true);
}

void joinBaseline(benchmark::State& state)
{
    rawRead(state, "SELECT * FROM \"items\" INNER JOIN \"labels\" ON (\"labels\".\"item_id\" = \"items\".\"id\")", 5);
}

void joinTyped(benchmark::State& state)
{
    typedRead(state, items.joinQuery(labels, equalsExpression(labels[itemId], items[id])), true, false);
}

void joinFresh(benchmark::State& state)
{
    typedRead(state, items.joinQuery(labels, equalsExpression(labels[itemId], items[id])), true, true);
}

} // namespace

BENCHMARK(rowsBaseline)->Name("rows/baseline")->Unit(benchmark::kMillisecond);
BENCHMARK(rowsTyped)->Name("rows/typed")->Unit(benchmark::kMillisecond);
BENCHMARK(rowsFresh)->Name("rows/fresh_storage")->Unit(benchmark::kMillisecond);
BENCHMARK(joinBaseline)->Name("join/baseline")->Unit(benchmark::kMillisecond);
BENCHMARK(joinTyped)->Name("join/typed")->Unit(benchmark::kMillisecond);
BENCHMARK(joinFresh)->Name("join/fresh_storage")->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
