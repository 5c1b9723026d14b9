#include "BuilderSupport.h"
#include "sqlite/Connection.h"
#include "sqlite/Errors.h"
#include "sqlite/Operators.h"
#include "sqlite/Query.h"

using namespace builder_test;

namespace {

const Table t("t");
const auto id = column<std::int64_t>("id");
const auto a = column<std::int64_t>("a");
const auto b = column<std::int64_t>("b");
const auto name = column<std::optional<std::string>>("name");

struct Case {
    const char* label;
    CompiledStatement compiled;
    Expression<void> expected;
};

void check(const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(untyped(c.compiled), c.expected);
    }
}

} // namespace

TEST(InsertCompilationTest, SingleRowDefaultsAndQueries)
{
    const Table folders("folders");
    const auto folderName = column<std::string>("folder_name");
    const auto sortOrder = column<std::int64_t>("sort_order");
    check({
        {"insert values", folders.insertValues(assignValue(folderName, "x"), assignValue(sortOrder, 3)),
         sql("INSERT INTO \"folders\" (\"folder_name\", \"sort_order\") VALUES (?, ?)", "x", 3)},
        {"or replace", folders.compileInsert(OnConflict::replace, {assignValue(sortOrder, 3)}),
         sql("INSERT OR REPLACE INTO \"folders\" (\"sort_order\") VALUES (?)", 3)},
        {"or ignore", t.compileInsert(OnConflict::ignore, {assignValue(a, 1)}),
         sql("INSERT OR IGNORE INTO \"t\" (\"a\") VALUES (?)", 1)},
        {"no setters", t.compileInsert({}), sql("INSERT INTO \"t\" () VALUES ()")},
        {"value expression keeps its bindings in place",
         t.compileInsert({assignValue(a, 1), assignExpression(b, addValue(a, 5)), assignValue(id, 2)}),
         sql("INSERT INTO \"t\" (\"a\", \"b\", \"id\") VALUES (?, (\"a\" + ?), ?)", 1, 5, 2)},
        {"default values", t.insertDefaultValues(), sql("INSERT INTO \"t\" DEFAULT VALUES")},
        {"from query", t.insertFromQuery(Table("s").filterQuery(equalsValue(a, 4))),
         sql("INSERT INTO \"t\" SELECT * FROM \"s\" WHERE (\"a\" = ?)", 4)},
        {"alias and database", Table("t", "main").alias("x").compileInsert({assignValue(a, 1)}),
         sql("INSERT INTO \"main\".\"x\" (\"a\") VALUES (?)", 1)},
    });
}

TEST(InsertCompilationTest, ManyRows)
{
    const std::vector<Setter> first{assignValue(a, 1), assignValue(b, 2)};
    check({
        {"one row equals a single insert", t.insertManyRows({first}), untyped(t.compileInsert(first))},
        {"two rows", t.insertManyRows({first, {assignValue(a, 3), assignValue(b, 4)}}),
         sql("INSERT INTO \"t\" (\"a\", \"b\") VALUES (?, ?), (?, ?)", 1, 2, 3, 4)},
        {"conflict", t.insertManyRows(OnConflict::ignore, {first}),
         sql("INSERT OR IGNORE INTO \"t\" (\"a\", \"b\") VALUES (?, ?)", 1, 2)},
        // A later row naming the same columns in another order is aligned to the first row's columns.
        {"reordered row is aligned", t.insertManyRows({first, {assignValue(b, 4), assignValue(a, 3)}}),
         sql("INSERT INTO \"t\" (\"a\", \"b\") VALUES (?, ?), (?, ?)", 1, 2, 3, 4)},
    });
}

TEST(InsertCompilationDeathTest, ARowNamingOtherColumnsIsMisuse)
{
    const std::vector<Setter> first{assignValue(a, 1), assignValue(b, 2)};
    EXPECT_DEATH((void)t.insertManyRows({first, {assignValue(a, 3), assignValue(id, 4)}}),
                 "SQLite/Query:[0-9]+: Fatal error: insertManyRows: row 1 has no value for column \"b\"");
    EXPECT_DEATH((void)t.insertManyRows({first, {assignValue(a, 3)}}),
                 "SQLite/Query:[0-9]+: Fatal error: insertManyRows: row 1 has 1 values, the first row 2");
}

TEST(UpsertCompilationTest, ExplicitAndExcludedForms)
{
    const std::vector<Setter> setters{assignValue(id, 7), assignOptionalValue(name, "x")};
    check({
        {"excluded", t.compileUpsert(setters, id),
         sql("INSERT INTO \"t\" (\"id\", \"name\") VALUES (?, ?) ON CONFLICT (\"id\") DO UPDATE SET \"name\" = "
             "\"excluded\".\"name\"",
             7, "x")},
        {"explicit", t.compileUpsert(setters, id, {assignValue(a, 1)}),
         sql("INSERT INTO \"t\" (\"id\", \"name\") VALUES (?, ?) ON CONFLICT (\"id\") DO UPDATE SET \"a\" = ?", 7, "x",
             1)},
        {"only the target column", t.compileUpsert({assignValue(id, 7)}, id),
         sql("INSERT INTO \"t\" (\"id\") VALUES (?) ON CONFLICT (\"id\") DO UPDATE SET ", 7)},
        {"two-column target", t.compileUpsert({assignValue(a, 1), assignValue(b, 2)}, joinExpressions(", ", {a, b})),
         sql("INSERT INTO \"t\" (\"a\", \"b\") VALUES (?, ?) ON CONFLICT (\"a\", \"b\") DO UPDATE SET \"a\" = "
             "\"excluded\".\"a\", \"b\" = \"excluded\".\"b\"",
             1, 2)},
    });
}

TEST(UpdateDeleteCompilationTest, FiltersOrderAndLimit)
{
    const Table folders("folders");
    check({
        {"update",
         folders.filterQuery(equalsValue(id, 3))
             .compileUpdate({assignValue(column<std::string>("folder_name"), "x"),
                             assignValue(column<std::int64_t>("sort_order"), 2)}),
         sql("UPDATE \"folders\" SET \"folder_name\" = ?, \"sort_order\" = ? WHERE (\"id\" = ?)", "x", 2, 3)},
        {"unfiltered update", t.compileUpdate({assignValue(a, 1)}), sql("UPDATE \"t\" SET \"a\" = ?", 1)},
        {"update with order and limit", t.orderQuery(a.desc()).limitQuery(2, 1).compileUpdate({a++}),
         sql("UPDATE \"t\" SET \"a\" = (\"a\" + ?) ORDER BY \"a\" DESC LIMIT 2 OFFSET 1", 1)},
        {"delete",
         Table("folders_screenshots")
             .filterQuery(equalsValue(column<std::int64_t>("screenshot_id"), 9))
             .compileDelete(),
         sql("DELETE FROM \"folders_screenshots\" WHERE (\"screenshot_id\" = ?)", 9)},
        {"unfiltered delete", Table("t", "aux").compileDelete(), sql("DELETE FROM \"aux\".\"t\"")},
    });
}

// The compiled statements run as they are on a real database.
class WriteStatementsOnDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        db = Connection::open(Connection::Location::inMemory());
        db->executeScript("CREATE TABLE t (id INTEGER PRIMARY KEY, a INTEGER, b INTEGER, name TEXT);"
                          "CREATE TABLE g (a INTEGER, b INTEGER, c INTEGER GENERATED ALWAYS AS (a + b));"
                          "CREATE TABLE w (a INTEGER PRIMARY KEY, b INTEGER) WITHOUT ROWID;");
    }

    void run(const CompiledStatement& statement) { db->runStatement(statement.template_, statement.bindings); }
    std::int64_t count(const QueryType& query)
    {
        const Expression<void> compiled = query.expression();
        return std::get<std::int64_t>(
            *db->scalar("SELECT count(*) FROM (" + compiled.template_ + ")", compiled.bindings));
    }

    std::shared_ptr<Connection> db;
};

TEST_F(WriteStatementsOnDatabaseTest, ReorderedRowsLandUnderTheirOwnColumns)
{
    run(t.insertManyRows({{assignValue(a, 1), assignValue(b, 2)}, {assignValue(b, 40), assignValue(a, 30)}}));
    EXPECT_EQ(count(t.filterQuery(andExpressions(equalsValue(a, 30), equalsValue(b, 40)))), 1);
    EXPECT_EQ(count(t.filterQuery(equalsValue(a, 40))), 0);
}

TEST_F(WriteStatementsOnDatabaseTest, AnEmptyListOfRowsInsertsNothing)
{
    for (const Table& table : {t, Table("g"), Table("w"), Table("t", "main")}) {
        SCOPED_TRACE(table.clauses.from.name);
        run(table.insertManyRows({}));
        run(table.insertManyRows(OnConflict::replace, {}));
        EXPECT_EQ(count(table), 0);
    }
    EXPECT_THROW(run(Table("missing").insertManyRows({})), Result);
}

TEST_F(WriteStatementsOnDatabaseTest, UpsertUpdateAndDeleteRun)
{
    run(t.compileUpsert({assignValue(id, 1), assignOptionalValue(name, "first")}, id));
    run(t.compileUpsert({assignValue(id, 1), assignOptionalValue(name, "second")}, id));
    EXPECT_EQ(count(t), 1);
    EXPECT_EQ(count(t.filterQuery(equalsValue(name, "second"))), 1);

    run(t.filterQuery(equalsValue(id, 1)).compileUpdate({assignOptionalValue(name, std::nullopt), a += 5}));
    EXPECT_EQ(count(t.filterQuery(equalsValue(name, std::nullopt))), 1);
    run(t.insertValues(assignValue(id, 2)));
    run(t.filterQuery(equalsValue(id, 2)).compileDelete());
    EXPECT_EQ(count(t), 1);
    run(t.insertFromQuery(t.selectColumns(addValue(id, 10), a, b, name)));
    EXPECT_EQ(count(t), 2);
}
