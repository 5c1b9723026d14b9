// The schema changer and reader against the raw SQLite C API.
//
// Rebuild: dropping a column through the copy path on a file database of 1M rows with three indexes. The
// baseline runs exactly the statements that the changer runs (recorded once through the connection's trace on
// a small table of the same shape) with sqlite3_prepare/step, so the ratio is the changer's own cost on top.
// Columns: reading the column definitions of a 200-column table, against the raw PRAGMA rows and the CREATE
// TABLE text read into the same values.
#include "sqlite/Connection.h"
#include "sqlite/SchemaChanger.h"
#include "sqlite/SchemaReader.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <malloc.h>
#include <sqlite3.h>
#include <string>
#include <unistd.h>
#include <vector>

using namespace sqlite;

namespace {

constexpr int rowCount = 1'000'000;
constexpr const char* schema = R"(
    CREATE TABLE items (id INTEGER PRIMARY KEY, a INTEGER NOT NULL DEFAULT 0, b TEXT, c REAL, gone TEXT);
    CREATE INDEX items_a ON items (a);
    CREATE INDEX items_b ON items (b);
    CREATE INDEX items_c ON items (c DESC);)";
const SQLiteVersion olderLibrary{3, 24, 0};

// A directory under the temporary directory, removed at the end.
struct TemporaryDirectory {
    TemporaryDirectory()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "lumetrove-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) {
            path = pattern;
        }
    }
    ~TemporaryDirectory()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string file(const char* name) const { return (std::filesystem::path(path) / name).string(); }
    std::string path;
};

const TemporaryDirectory& directory()
{
    static const TemporaryDirectory dir;
    return dir;
}

// The filled database, made once and copied afresh before each rebuild.
const std::string& templateDatabase()
{
    static const std::string path = [] {
        const std::string file = directory().file("template.sqlite3");
        auto db = Connection::openPath(file);
        db->executeScript(schema);
        db->transaction([&] {
            auto insert = db->prepare("INSERT INTO items (a, b, c, gone) VALUES (?, ?, ?, ?)");
            for (int i = 0; i < rowCount; ++i) {
                insert->runToEnd(std::int64_t{i % 1000}, "item number " + std::to_string(i), i * 0.25,
                                 std::string("x"));
            }
        });
        return file;
    }();
    return path;
}

// The statements a rebuild runs, in order, as the trace reports them.
const std::vector<std::string>& rebuildStatements()
{
    static const std::vector<std::string> statements = [] {
        std::vector<std::string> recorded;
        auto db = Connection::open(Connection::Location::inMemory());
        db->executeScript(schema);
        db->executeScript("INSERT INTO items (a, b, c, gone) VALUES (1, 'x', 0.5, 'y')");
        db->setTrace([&](const std::string& sql) { recorded.push_back(sql); });
        SchemaChanger(db, olderLibrary).alter("items", [](auto& t) { t.drop("gone"); });
        db->setTrace(nullptr);
        return recorded;
    }();
    return statements;
}

std::string freshCopy(benchmark::State& state)
{
    state.PauseTiming();
    const std::string file = directory().file("work.sqlite3");
    std::filesystem::copy_file(templateDatabase(), file, std::filesystem::copy_options::overwrite_existing);
    state.ResumeTiming();
    return file;
}

void rebuildBaseline(benchmark::State& state)
{
    const std::vector<std::string>& statements = rebuildStatements();
    templateDatabase();
    for (auto _ : state) {
        const std::string file = freshCopy(state);
        sqlite3* db = nullptr;
        sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
        for (const std::string& sql : statements) {
            sqlite3_stmt* statement = nullptr;
            if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &statement, nullptr) != SQLITE_OK) {
                state.SkipWithError(sqlite3_errmsg(db));
            }
            while (sqlite3_step(statement) == SQLITE_ROW) {
                for (int i = 0; i < sqlite3_column_count(statement); ++i) {
                    benchmark::DoNotOptimize(sqlite3_column_text(statement, i));
                }
            }
            sqlite3_finalize(statement);
        }
        sqlite3_close(db);
    }
    state.SetItemsProcessed(state.iterations() * rowCount);
}

void rebuildChanger(benchmark::State& state)
{
    templateDatabase();
    for (auto _ : state) {
        const std::string file = freshCopy(state);
        auto db = Connection::openPath(file);
        SchemaChanger(db, olderLibrary).alter("items", [](auto& t) { t.drop("gone"); });
    }
    state.SetItemsProcessed(state.iterations() * rowCount);
}

// 200 columns of every kind, some with defaults and foreign keys.
std::shared_ptr<Connection> wideTable()
{
    auto db = Connection::open(Connection::Location::inMemory());
    std::string sql = "CREATE TABLE parent (id INTEGER PRIMARY KEY); CREATE TABLE wide (id INTEGER PRIMARY KEY";
    const char* types[] = {"INTEGER", "TEXT", "REAL", "BLOB", "NUMERIC"};
    for (int i = 1; i < 200; ++i) {
        sql += ", c" + std::to_string(i) + " " + types[i % 5];
        if (i % 3 == 0) {
            sql += " NOT NULL DEFAULT " + std::to_string(i);
        }
        if (i % 20 == 0) {
            sql += " REFERENCES parent(id) ON DELETE CASCADE";
        }
    }
    db->executeScript(sql + ")");
    return db;
}

void columnsBaseline(benchmark::State& state)
{
    auto connection = wideTable();
    sqlite3* db = connection->handle();
    for (auto _ : state) {
        std::vector<ColumnDefinition> columns;
        sqlite3_stmt* keys = nullptr;
        sqlite3_prepare_v2(db, "PRAGMA foreign_key_list(\"wide\")", -1, &keys, nullptr);
        std::vector<ColumnDefinition::ForeignKey> foreignKeys;
        while (sqlite3_step(keys) == SQLITE_ROW) {
            auto text = [&](int i) { return std::string(reinterpret_cast<const char*>(sqlite3_column_text(keys, i))); };
            foreignKeys.push_back({text(2), text(3), text(4), std::nullopt, text(6)});
        }
        sqlite3_finalize(keys);
        // A key column's details come from the table's CREATE TABLE text.
        sqlite3_stmt* text = nullptr;
        sqlite3_prepare_v2(db, "SELECT sql FROM sqlite_schema WHERE name = 'wide' AND type = 'table'", -1, &text,
                           nullptr);
        std::string createTableSQL;
        if (sqlite3_step(text) == SQLITE_ROW) {
            createTableSQL = reinterpret_cast<const char*>(sqlite3_column_text(text, 0));
        }
        sqlite3_finalize(text);
        sqlite3_stmt* info = nullptr;
        sqlite3_prepare_v2(db, "PRAGMA table_info(\"wide\")", -1, &info, nullptr);
        while (sqlite3_step(info) == SQLITE_ROW) {
            ColumnDefinition column;
            column.name = reinterpret_cast<const char*>(sqlite3_column_text(info, 1));
            column.type =
                ColumnDefinition::affinityFromDeclaredType(reinterpret_cast<const char*>(sqlite3_column_text(info, 2)));
            column.nullable = sqlite3_column_int64(info, 3) == 0;
            if (sqlite3_column_int64(info, 5) >= 1) {
                column.primaryKey = ColumnDefinition::PrimaryKey::parse(createTableSQL);
            }
            const auto* dflt = reinterpret_cast<const char*>(sqlite3_column_text(info, 4));
            column.defaultValue = LiteralValue::parse(dflt ? std::optional<std::string_view>(dflt) : std::nullopt);
            for (const auto& key : foreignKeys) {
                if (key.column == column.name) {
                    column.references = key;
                    break;
                }
            }
            columns.push_back(std::move(column));
        }
        sqlite3_finalize(info);
        benchmark::DoNotOptimize(columns);
    }
}

void columnsReader(benchmark::State& state)
{
    auto db = wideTable();
    SchemaReader reader(db);
    for (auto _ : state) {
        benchmark::DoNotOptimize(reader.readColumnDefinitions("wide"));
    }
}

} // namespace

BENCHMARK(rebuildBaseline)->Name("rebuild_1M_rows_3_indexes/baseline")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(rebuildChanger)->Name("rebuild_1M_rows_3_indexes/changer")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(columnsBaseline)->Name("columns_of_200/baseline");
BENCHMARK(columnsReader)->Name("columns_of_200/reader");

// glibc hands freed memory at the top of the heap back to the system and asks for it again on the next round;
// in a virtual machine each round trip costs milliseconds, more than the work measured, and which variant pays
// it depends on where its last allocation happens to lie. Keep the memory, so the rounds measure the work.
int main(int argc, char** argv)
{
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
