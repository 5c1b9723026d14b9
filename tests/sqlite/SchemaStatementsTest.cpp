// Golden SQL texts of CREATE TABLE and the other schema statements, each run once on a real database so that
// the texts are also what SQLite accepts.

#include "sqlite/SchemaStatements.h"

#include "sqlite/Connection.h"
#include "sqlite/Module.h"
#include "sqlite/Operators.h"
#include "sqlite/TableBuilder.h"

#include <gtest/gtest.h>

namespace {

using namespace sqlite;

template <class T> Expression<T> col(std::string_view name)
{
    return Expression<T>::makeIdentifierExpression(name);
}

const Table users("users");
const auto id = col<std::int64_t>("id");
const auto email = col<std::optional<std::string>>("email");
const auto name = col<std::string>("name");
const auto age = col<std::optional<std::int64_t>>("age");
const auto score = col<double>("score");
const auto userId = col<std::int64_t>("user_id");

struct Golden {
    const char* label;
    std::string sql;
    const char* expected;
};

void check(const std::vector<Golden>& cases)
{
    for (const Golden& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(c.sql, c.expected);
    }
}

TEST(TableBuilderTest, ColumnShapes)
{
    auto one = [](auto shape) { return createTable(Table("t"), [&](TableBuilder& t) { t.column(shape); }); };
    check({
        {"plain and optional columns",
         createTable(
             users,
             [](TableBuilder& t) { t.column(id, PrimaryKey::autoincrement).column(ColumnSpec(email).unique()); }),
         R"(CREATE TABLE "users" ("id" INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, "email" TEXT UNIQUE))"},
        {"boolean primary key form", one(ColumnSpec(id).primaryKey()),
         R"(CREATE TABLE "t" ("id" INTEGER PRIMARY KEY NOT NULL))"},
        {"text default with a quote", one(ColumnSpec(name).defaultValue("it's")),
         R"(CREATE TABLE "t" ("name" TEXT NOT NULL DEFAULT ('it''s')))"},
        {"real default", one(ColumnSpec(score).defaultValue(1.5)),
         R"(CREATE TABLE "t" ("score" REAL NOT NULL DEFAULT (1.5)))"},
        {"expression default", one(ColumnSpec(age).defaultValue(addValue(col<std::int64_t>("x"), 1))),
         R"(CREATE TABLE "t" ("age" INTEGER DEFAULT (("x" + 1))))"},
        {"check", one(ColumnSpec(age).check(greaterValue(age, 0))),
         R"(CREATE TABLE "t" ("age" INTEGER CHECK ("age" > 0)))"},
        {"reference", one(ColumnSpec(userId).references(users, id)),
         R"(CREATE TABLE "t" ("user_id" INTEGER NOT NULL REFERENCES "users" ("id")))"},
        {"reference to an aliased table", one(ColumnSpec(userId).references(Table("users", "aux").alias("u"), id)),
         R"(CREATE TABLE "t" ("user_id" INTEGER NOT NULL REFERENCES "u" ("id")))"},
        {"collation", one(ColumnSpec(name).unique().collate(Collation::nocase())),
         R"(CREATE TABLE "t" ("name" TEXT NOT NULL UNIQUE COLLATE NOCASE))"},
        {"every part in order",
         one(ColumnSpec(email)
                 .collate(Collation::custom("my \"c\""))
                 .defaultValue("x")
                 .check(isNotValue(email, std::nullopt))
                 .unique()),
         R"(CREATE TABLE "t" ("email" TEXT UNIQUE CHECK ("email" IS NOT NULL) DEFAULT ('x') COLLATE "my ""c"""))"},
    });
}

TEST(TableBuilderTest, ConstraintsOptionsAndNames)
{
    const Table orders("orders");
    check({
        {"constraints in the order added",
         createTable(orders,
                     [&](TableBuilder& t) {
                         t.column(id).primaryKey(id, userId).column(userId).unique(id, userId);
                         t.check(greaterValue(id, 0)).foreignKey(userId, users, id, TableBuilder::Dependency::cascade);
                     }),
         R"(CREATE TABLE "orders" ("id" INTEGER NOT NULL, PRIMARY KEY ("id", "user_id"), "user_id" INTEGER NOT NULL, UNIQUE ("id", "user_id"), CHECK (("id" > 0)), FOREIGN KEY ("user_id") REFERENCES "users" ("id") ON UPDATE CASCADE))"},
        {"composite foreign key with both actions",
         createTable(orders,
                     [&](TableBuilder& t) {
                         t.foreignKey(std::tuple{id, userId}, users, std::tuple{id, age},
                                      TableBuilder::Dependency::setNull, TableBuilder::Dependency::restrict);
                     }),
         R"(CREATE TABLE "orders" (FOREIGN KEY ("id", "user_id") REFERENCES "users" ("id", "age") ON UPDATE SET NULL ON DELETE RESTRICT))"},
        {"all flags", createTable(Table("t"), [](TableBuilder& t) { t.column(id); }, {true, true, true}),
         R"(CREATE TEMPORARY TABLE IF NOT EXISTS "t" ("id" INTEGER NOT NULL) WITHOUT ROWID)"},
        {"attached database", createTable(Table("t", "aux"), [](TableBuilder& t) { t.column(id); }),
         R"(CREATE TABLE "aux"."t" ("id" INTEGER NOT NULL))"},
        {"alias names the table", createTable(Table("t").alias("a"), [](TableBuilder& t) { t.column(id); }),
         R"(CREATE TABLE "a" ("id" INTEGER NOT NULL))"},
        {"empty block", createTable(Table("t"), [](TableBuilder&) {}), R"(CREATE TABLE "t" ())"},
    });
}

TEST(SchemaStatementsTest, AlterIndexViewVirtualAndDrop)
{
    const Table aux("users", "aux");
    const View adults("adults");
    const VirtualTable docs("docs");
    const auto title = col<std::string>("title");
    check({
        {"add optional column", addColumn(users, age), R"(ALTER TABLE "users" ADD COLUMN "age" INTEGER)"},
        {"add column with default", addColumn(users, ColumnSpec(col<std::int64_t>("age")).defaultValue(0)),
         R"(ALTER TABLE "users" ADD COLUMN "age" INTEGER NOT NULL DEFAULT (0))"},
        {"add referencing column",
         addColumn(users, ColumnSpec(col<std::optional<std::int64_t>>("boss")).references(users, id)),
         R"(ALTER TABLE "users" ADD COLUMN "boss" INTEGER REFERENCES "users" ("id"))"},
        {"rename in a database", renameTable(aux, Table("people", "other").alias("p")),
         R"(ALTER TABLE "aux"."users" RENAME TO "people")"},
        {"rename virtual table", renameTable(docs, VirtualTable("pages")), R"(ALTER TABLE "docs" RENAME TO "pages")"},
        {"create index", createIndex(users, {email}, true, true),
         R"(CREATE UNIQUE INDEX IF NOT EXISTS "index_users_on_email" ON "users" ("email"))"},
        {"index name of qualified columns", createIndex(users, {users[name], users[email]}),
         R"(CREATE INDEX "index_users_on_users_name_users_email" ON "users" ("users"."name", "users"."email"))"},
        {"index name of an odd table", toSQLText(indexName(Table("My Table.é"), {id})), R"("index_my_table___on_id")"},
        {"index in a database", createIndex(aux, {email}),
         R"(CREATE INDEX "aux"."index_users_on_email" ON "users" ("email"))"},
        {"drop index", dropIndex(users, {email}, true), R"(DROP INDEX IF EXISTS "index_users_on_email")"},
        {"table from query",
         createTable(Table("copy"), users.filterQuery(greaterValue(col<std::int64_t>("age"), 18)), true, true),
         R"(CREATE TEMPORARY TABLE IF NOT EXISTS "copy" AS SELECT * FROM "users" WHERE ("age" > 18))"},
        {"view from query",
         createView(adults, users.selectColumns(name).filterQuery(greaterValue(col<std::int64_t>("age"), 18))),
         R"(CREATE VIEW "adults" AS SELECT "name" FROM "users" WHERE ("age" > 18))"},
        {"virtual table, built-in module",
         createVirtualTable(docs, Module{"fts5", {title, Expressible(std::string("x'y"))}}, true),
         R"(CREATE VIRTUAL TABLE IF NOT EXISTS "docs" USING fts5("title", 'x''y'))"},
        {"virtual table, named module", createVirtualTable(docs, Module::named("my mod", {title})),
         R"(CREATE VIRTUAL TABLE "docs" USING "my mod"("title"))"},
        {"drop table", dropTable(aux, true), R"(DROP TABLE IF EXISTS "aux"."users")"},
        {"drop view", dropView(adults), R"(DROP VIEW "adults")"},
    });
}

TEST(SchemaStatementsTest, TextsRunOnARealDatabase)
{
    auto db = Connection::open(Connection::Location::inMemory());
    db->executeScript(createTable(users, [](TableBuilder& t) {
        t.column(id, PrimaryKey::autoincrement).column(ColumnSpec(email).unique().collate(Collation::nocase()));
        t.column(ColumnSpec(name).defaultValue("it's"));
    }));
    db->executeScript(addColumn(users, ColumnSpec(col<std::int64_t>("age")).defaultValue(0)));
    db->executeScript(createIndex(users, {email, name}));
    db->executeScript(createView(View("adults"), users.filterQuery(greaterValue(col<std::int64_t>("age"), 18))));
    db->executeScript(createVirtualTable(VirtualTable("docs"), Module{"fts5", {col<std::string>("body")}}));
    db->runStatement("INSERT INTO users (email) VALUES ('A@x')");
    EXPECT_EQ(db->scalar("SELECT name || age FROM users WHERE email = 'a@X'"), Binding(std::string("it's0")));
    db->executeScript(dropIndex(users, {email, name}) + ";" + dropView(View("adults")) + ";" + dropTable(users));
    EXPECT_EQ(db->scalar("SELECT count(*) FROM sqlite_schema WHERE name NOT LIKE 'docs%' AND name NOT LIKE 'sqlite_%'"),
              Binding(std::int64_t{0}));
}

} // namespace
