// Reading the schema of real databases into definitions.

#include "sqlite/SchemaReader.h"

#include "sqlite/Connection.h"

#include <gtest/gtest.h>

namespace {

using namespace sqlite;
using Affinity = ColumnDefinition::Affinity;
using PK = ColumnDefinition::PrimaryKey;

std::shared_ptr<Connection> openWith(const char* script)
{
    auto db = Connection::open(Connection::Location::inMemory());
    db->executeScript(script);
    return db;
}

ColumnDefinition column(std::string name, std::optional<PK> key, Affinity type, bool nullable,
                        LiteralValue defaultValue = {}, std::optional<ColumnDefinition::ForeignKey> references = {})
{
    return {std::move(name), key, type, nullable, std::move(defaultValue), std::move(references)};
}

TEST(SchemaReaderTest, ColumnsWithKeysDefaultsAndForeignKeys)
{
    auto db = openWith(R"(
        CREATE TABLE users (id INTEGER PRIMARY KEY AUTOINCREMENT, name VARCHAR(30) NOT NULL DEFAULT 'it''s',
                            at TEXT DEFAULT (datetime('now')), blob);
        CREATE TABLE pairs (a TEXT, b INT NOT NULL, note, PRIMARY KEY (b, a) ON CONFLICT IGNORE);
        CREATE TABLE "odd""name" (owner INTEGER REFERENCES users ON DELETE CASCADE, other REFERENCES pairs(a));)");
    SchemaReader reader(db);
    using C = ColumnDefinition::OnConflict;
    EXPECT_EQ(reader.readColumnDefinitions("users"),
              (std::vector<ColumnDefinition>{
                  column("id", PK{true, std::nullopt, 1}, Affinity::integer, true),
                  column("name", std::nullopt, Affinity::text, false, LiteralValue::stringLiteral("it's")),
                  column("at", std::nullopt, Affinity::text, true, LiteralValue::numericLiteral("datetime('now')")),
                  column("blob", std::nullopt, Affinity::numeric, true),
              }));
    EXPECT_EQ(reader.readColumnDefinitions("pairs"), (std::vector<ColumnDefinition>{
                                                         column("a", PK{false, C::ignore, 2}, Affinity::text, true),
                                                         column("b", PK{false, C::ignore, 1}, Affinity::integer, false),
                                                         column("note", std::nullopt, Affinity::numeric, true),
                                                     }));
    EXPECT_EQ(reader.readColumnDefinitions("odd\"name"),
              (std::vector<ColumnDefinition>{
                  column("owner", std::nullopt, Affinity::integer, true, {},
                         ColumnDefinition::ForeignKey{"users", "owner", std::nullopt, std::nullopt, "CASCADE"}),
                  column("other", std::nullopt, Affinity::numeric, true, {},
                         ColumnDefinition::ForeignKey{"pairs", "other", "a", std::nullopt, std::nullopt}),
              }));
    EXPECT_TRUE(reader.readColumnDefinitions("missing").empty());
}

TEST(SchemaReaderTest, IndexesOfCreateIndexOnly)
{
    auto db = openWith(R"(
        CREATE TABLE t (a, b UNIQUE, c, deleted);
        CREATE INDEX partial ON t (a, c desc)
          where deleted = 0
            AND a > 1;
        CREATE UNIQUE INDEX expr ON t (lower(c), a);)");
    const std::vector<IndexDefinition> indexes = SchemaReader(db).readIndexDefinitions("t");
    ASSERT_EQ(indexes.size(), 2u);
    const auto& expr = indexes[0].name == "expr" ? indexes[0] : indexes[1];
    const auto& partial = indexes[0].name == "expr" ? indexes[1] : indexes[0];
    EXPECT_EQ(partial,
              (IndexDefinition{"t",
                               "partial",
                               false,
                               {"a", "c"},
                               "deleted = 0\n            AND a > 1",
                               std::map<std::string, IndexDefinition::Order>{{"c", IndexDefinition::Order::desc}}}));
    EXPECT_TRUE(expr.unique);
    EXPECT_EQ(expr.columns, std::vector<std::string>{"a"});
}

TEST(SchemaReaderTest, SchemaTableOfEachVersionAndTheTempSchema)
{
    auto db = openWith(R"(
        CREATE TABLE t (a); CREATE VIEW v AS SELECT a FROM t;
        CREATE TEMP TABLE scratch (x); CREATE TRIGGER tr AFTER INSERT ON t BEGIN SELECT 1; END;)");
    for (const SQLiteVersion version : {SQLiteVersion{3, 32, 0}, SQLiteVersion{3, 33, 0}}) {
        SCOPED_TRACE(version.description());
        SchemaReader reader(db, version);
        const auto views = reader.readObjectDefinitions(std::nullopt, ObjectDefinition::ObjectType::view);
        ASSERT_EQ(views.size(), 1u);
        EXPECT_EQ(views[0].name, "v");
        EXPECT_EQ(reader.readObjectDefinitions("tr").at(0).tableName, "t");
        EXPECT_EQ(reader.readCreateTableSQL("scratch"), "CREATE TABLE scratch (x)");
        EXPECT_FALSE(reader.readCreateTableSQL("v"));
    }
    // The connection's own reader reads the version itself.
    EXPECT_EQ(db->schema()->readObjectDefinitions("t").size(), 1u);
}

} // namespace
