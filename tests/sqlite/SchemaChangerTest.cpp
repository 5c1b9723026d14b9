// Changing tables of real databases, by one ALTER TABLE statement or by rebuilding them through a copy (an older
// library version is stood in so the copy path runs on the installed one).

#include "sqlite/SchemaChanger.h"

#include "sqlite/Connection.h"

#include <gtest/gtest.h>

namespace {

using namespace sqlite;
using Op = SchemaChanger::Operation;

const SQLiteVersion oldLibrary{3, 24, 0};

std::vector<std::string> rows(Connection& db, const std::string& sql)
{
    std::vector<std::string> out;
    auto statement = db.prepare(sql);
    while (auto row = statement->failableNext()) {
        std::string line;
        for (const auto& value : *row) {
            line += (line.empty() ? "" : "|") + (value ? toSQLText("?", {value}) : "NULL");
        }
        out.push_back(line);
    }
    return out;
}

std::vector<std::string> schemaOf(Connection& db)
{
    return rows(db, "SELECT type, name, tbl_name FROM sqlite_schema WHERE name NOT LIKE 'sqlite_%' ORDER BY name");
}

template <class F> SchemaChanger::Error errorOf(F&& action)
{
    try {
        action();
    } catch (const SchemaChanger::Error& error) {
        return error;
    }
    ADD_FAILURE() << "no SchemaChanger::Error";
    return SchemaChanger::Error::invalidColumnDefinition("none");
}

TEST(SchemaChangerTest, OneStatementWhereTheLibraryAllowsIt)
{
    struct Case {
        Op op;
        SQLiteVersion version;
        std::optional<std::string> sql;
    };
    const std::vector<Case> cases{
        {Op::dropColumn("c"), {3, 35, 0}, R"(ALTER TABLE "t" DROP COLUMN "c")"},
        {Op::dropColumn("c"), {3, 34, 9}, std::nullopt},
        {Op::renameColumn("a", "b"), {3, 25, 0}, R"(ALTER TABLE "t" RENAME COLUMN "a" TO "b")"},
        {Op::renameColumn("a", "b"), {3, 24, 9}, std::nullopt},
        {Op::addColumn({"n", std::nullopt, ColumnDefinition::Affinity::text, true, LiteralValue::parse("lower('X')"),
                        std::nullopt}),
         {3, 0, 0},
         R"(ALTER TABLE "t" ADD COLUMN "n" TEXT DEFAULT (lower('X')))"},
        {Op::renameTable("u"), {3, 40, 0}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version.description());
        EXPECT_EQ(c.op.toSQL("t", c.version), c.sql);
    }
}

TEST(SchemaChangerTest, AddingColumnsIsValidatedFirst)
{
    auto db = Connection::open(Connection::Location::inMemory());
    db->executeScript("CREATE TABLE t (a)");
    SchemaChanger changer(db);
    using A = ColumnDefinition::Affinity;
    const std::vector<std::pair<ColumnDefinition, std::string>> cases{
        {{"k", ColumnDefinition::PrimaryKey{}, A::integer, true, {}, std::nullopt},
         "Invalid column definition: can not add primary key column"},
        {{"d", std::nullopt, A::text, true, LiteralValue::of(LiteralValue::Kind::currentDate), std::nullopt},
         "Invalid column definition: Invalid default value"},
        {{"n", std::nullopt, A::text, false, {}, std::nullopt},
         "Invalid column definition: NOT NULL columns must have a default value other than NULL"},
    };
    for (const auto& [column, message] : cases) {
        SCOPED_TRACE(message);
        const auto error = errorOf([&] {
            changer.alter("t", [&](auto& t) {
                t.add({"ok" + column.name, std::nullopt, A::text, true, {}, std::nullopt});
                t.add(column);
            });
        });
        EXPECT_EQ(error.what(), message);
    }
    // Each first operation stayed applied; the invalid ones never ran.
    EXPECT_EQ(rows(*db, "SELECT name FROM pragma_table_info('t')"),
              (std::vector<std::string>{"'a'", "'okk'", "'okd'", "'okn'"}));
    changer.alter("t", [](auto&) {});
}

TEST(SchemaChangerTest, RebuildKeepsRowsDefaultsKeysIndexesAndTriggers)
{
    auto db = Connection::open(Connection::Location::inMemory());
    db->executeScript(R"(
        CREATE TABLE t (a TEXT, b INTEGER NOT NULL DEFAULT 0, gone, at TEXT DEFAULT (datetime('now')),
                        q TEXT DEFAULT 'it''s', PRIMARY KEY (b, a));
        CREATE INDEX my_tmp_idx ON t (q DESC);
        CREATE INDEX by_gone ON t (gone);
        CREATE INDEX "partial" ON t (a)
          where q <> ''
            AND b > 0;
        CREATE TABLE log (what);
        CREATE TRIGGER t_insert AFTER INSERT ON t BEGIN INSERT INTO log VALUES (new.a); END;
        CREATE VIEW v AS SELECT a, b FROM t;
        INSERT INTO t (a, b, gone) VALUES ('x', 1, 'g');)");
    SchemaChanger changer(db, oldLibrary);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        changer.alter("t", [&](auto& t) { t.drop(round == 0 ? "gone" : "missing"); });
    }
    changer.alter("t", [](auto& t) { t.rename("q", "quote"); });

    EXPECT_EQ(schemaOf(*db),
              (std::vector<std::string>{"'table'|'log'|'log'", "'index'|'my_tmp_idx'|'t'", "'index'|'partial'|'t'",
                                        "'table'|'t'|'t'", "'trigger'|'t_insert'|'t'", "'view'|'v'|'v'"}));
    EXPECT_EQ(rows(*db, "SELECT a, b, quote FROM t"), std::vector<std::string>{"'x'|1|'it''s'"});
    db->executeScript("INSERT INTO t (a, b) VALUES ('y', 2)");
    EXPECT_EQ(rows(*db, "SELECT quote, at IS NOT NULL FROM t WHERE a = 'y'"), std::vector<std::string>{"'it''s'|1"});
    EXPECT_EQ(rows(*db, "SELECT what FROM log"), (std::vector<std::string>{"'x'", "'y'"}));
    EXPECT_THROW(db->executeScript("INSERT INTO t (a, b) VALUES ('y', 2)"), Result);
    EXPECT_EQ(
        rows(*db, "SELECT sql LIKE '%WHERE \"quote\" <> ''''%AND b > 0' FROM sqlite_schema WHERE name = 'partial'"),
        std::vector<std::string>{"1"});
    EXPECT_EQ(rows(*db, "SELECT \"desc\" FROM pragma_index_xinfo('my_tmp_idx') WHERE cid >= 0"),
              std::vector<std::string>{"1"});
}

TEST(SchemaChangerTest, RebuildLeavesCascadesInOtherTablesAlone)
{
    auto db = Connection::open(Connection::Location::inMemory());
    db->executeScript(R"(
        PRAGMA foreign_keys = ON;
        CREATE TABLE parent (id INTEGER PRIMARY KEY, extra);
        CREATE TABLE child (id INTEGER PRIMARY KEY, parent INTEGER REFERENCES parent(id) ON DELETE CASCADE);
        INSERT INTO parent VALUES (1, 'x'); INSERT INTO child VALUES (10, 1);)");
    SchemaChanger(db, oldLibrary).alter("parent", [](auto& t) { t.drop("extra"); });
    EXPECT_EQ(rows(*db, "SELECT id, parent FROM child"), std::vector<std::string>{"10|1"});
    EXPECT_TRUE(db->foreignKeys());
    db->executeScript("DELETE FROM parent");
    EXPECT_TRUE(rows(*db, "SELECT id FROM child").empty());
}

TEST(SchemaChangerTest, RefusesTablesTheDefinitionsCannotHold)
{
    const std::vector<std::pair<const char*, const char*>> cases{
        {"CREATE TABLE t (a, b CHECK (b > 0))", "CHECK constraints"},
        {"CREATE TABLE t (a, b, UNIQUE (a, b))", "UNIQUE constraints"},
        {"CREATE TABLE t (a TEXT COLLATE NOCASE, b)", "column collations"},
        {"CREATE TABLE p (x, y, PRIMARY KEY (x, y)); CREATE TABLE t (a, b, FOREIGN KEY (a, b) REFERENCES p)",
         "a foreign key over several columns"},
        {"CREATE TABLE t (a, b); CREATE INDEX e ON t (a + b)", "an index on an expression (e)"},
        {"CREATE TABLE t (a PRIMARY KEY, b) WITHOUT ROWID", "table options (WITHOUT ROWID)"},
        {"CREATE TABLE t (a, b AS (a * 2))", "generated columns"},
    };
    for (const auto& [script, what] : cases) {
        SCOPED_TRACE(script);
        auto db = Connection::open(Connection::Location::inMemory());
        db->executeScript(script);
        const std::vector<std::string> before = schemaOf(*db);
        const auto error = errorOf([&] { SchemaChanger(db, oldLibrary).alter("t", [](auto& t) { t.drop("b"); }); });
        EXPECT_EQ(error.kind(), SchemaChanger::Error::Kind::cannotRebuild);
        EXPECT_EQ(error.what(),
                  "Cannot rebuild table 't': it has " + std::string(what) + ", which a rebuilt table would lose");
        EXPECT_EQ(schemaOf(*db), before);
    }
    auto db = Connection::open(Connection::Location::inMemory());
    EXPECT_EQ(errorOf([&] { SchemaChanger(db, oldLibrary).alter("none", [](auto& t) { t.drop("b"); }); }).what(),
              std::string("Cannot rebuild table 'none': no such table"));
}

TEST(SchemaChangerTest, FailedRebuildsAreRolledBack)
{
    auto db = Connection::open(Connection::Location::inMemory());
    db->executeScript(R"(
        PRAGMA foreign_keys = ON;
        CREATE TABLE parent (id INTEGER PRIMARY KEY, extra);
        CREATE TABLE tags (name TEXT PRIMARY KEY, parent REFERENCES parent(id)) WITHOUT ROWID;
        CREATE TABLE t (a, b);)");
    db->executeScript("CREATE INDEX \"" + std::string(65, 'i') + "\" ON t (a)");
    db->executeScript("PRAGMA foreign_keys = OFF; INSERT INTO tags VALUES ('x', 9); PRAGMA foreign_keys = ON;");
    const std::vector<std::string> before = schemaOf(*db);
    SchemaChanger changer(db, oldLibrary);

    // A violation in a table without rowid still fails the rebuild.
    const auto error = errorOf([&] { changer.alter("parent", [](auto& t) { t.drop("extra"); }); });
    EXPECT_EQ(error.what(), std::string("Foreign key errors: [tags [NULL] => parent]"));
    EXPECT_THROW(changer.alter("t", [](auto& t) { t.drop("b"); }), IndexDefinition::IndexError);
    db->executeScript("BEGIN");
    EXPECT_THROW(changer.alter("t", [](auto& t) { t.rename("b", "c"); }), SchemaChanger::Error);
    db->executeScript("ROLLBACK");

    EXPECT_EQ(schemaOf(*db), before);
    EXPECT_EQ(rows(*db, "SELECT name FROM pragma_table_info('parent')"), (std::vector<std::string>{"'id'", "'extra'"}));
    EXPECT_TRUE(db->foreignKeys());
    EXPECT_FALSE(db->deferForeignKeys());
}

} // namespace

namespace {

TEST(SchemaChangerDeathTest, AddingAColumnIsNoEditOfADefinition)
{
    const sqlite::ColumnDefinition column{"a", std::nullopt, sqlite::ColumnDefinition::Affinity::text, true, {}, {}};
    const sqlite::TableDefinition table{"t", {column}, {}};
    EXPECT_DEATH((void)sqlite::applyOperation(table, Op::addColumn(column)),
                 "SQLite/SchemaChanger:[0-9]+: Fatal error: Use 'ALTER TABLE ADD COLUMN \\(\\.\\.\\.\\)'");
}

} // namespace
