// Reading SQLite's texts into schema definitions and writing the definitions back as DDL.

#include "sqlite/SchemaDefinitions.h"

#include <gtest/gtest.h>

namespace {

using namespace sqlite;
using Affinity = ColumnDefinition::Affinity;
using Kind = LiteralValue::Kind;

ColumnDefinition::PrimaryKey key(bool autoIncrement, std::optional<ColumnDefinition::OnConflict> onConflict = {},
                                 int position = 1)
{
    return {autoIncrement, onConflict, position};
}

TEST(SchemaDefinitionsTest, AffinityOfDeclaredTypes)
{
    const std::vector<std::pair<const char*, Affinity>> cases{
        {"VARCHAR(30)", Affinity::text}, {"BIGINT", Affinity::integer},
        {"POINT", Affinity::integer},    {"FLOATING POINT", Affinity::integer},
        {"blob", Affinity::blob},        {"DECIMAL(10,2)", Affinity::numeric},
        {"", Affinity::numeric},         {"double", Affinity::real},
        {"clob", Affinity::text},
    };
    for (const auto& [declared, expected] : cases) {
        SCOPED_TRACE(declared);
        EXPECT_EQ(ColumnDefinition::affinityFromDeclaredType(declared), expected);
    }
}

TEST(SchemaDefinitionsTest, DefaultValuesReadAndWrittenBack)
{
    struct Case {
        std::optional<std::string> text;
        Kind kind;
        std::string payload;
        std::string defaultClause;
    };
    const std::vector<Case> cases{
        {std::nullopt, Kind::null, "", "NULL"},
        {"CURRENT_DATE", Kind::currentDate, "", "CURRENT_DATE"},
        {"TRUE", Kind::true_, "", "TRUE"},
        {"'it''s'", Kind::stringLiteral, "it's", "'it''s'"},
        {"\"dq\"\"x\"", Kind::stringLiteral, "dq\"x", "'dq\"x'"},
        {"x'0A1B'", Kind::blobLiteral, "0A1B", "X'0A1B'"},
        {"42", Kind::numericLiteral, "42", "42"},
        {"-1.5e3", Kind::numericLiteral, "-1.5e3", "-1.5e3"},
        {"0x1F", Kind::numericLiteral, "0x1F", "0x1F"},
        // Expressions come back without their parentheses; they need them again in a DEFAULT clause.
        {"datetime('now')", Kind::numericLiteral, "datetime('now')", "(datetime('now'))"},
        {"current_date", Kind::numericLiteral, "current_date", "(current_date)"},
        // Begins and ends with a quote but is an expression: a lone quote inside ends the first text.
        {"'a' || 'b'", Kind::numericLiteral, "'a' || 'b'", "('a' || 'b')"},
        {"x'00' || x'01'", Kind::numericLiteral, "x'00' || x'01'", "(x'00' || x'01')"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.value_or("(none)"));
        const LiteralValue value = LiteralValue::parse(c.text);
        EXPECT_EQ(value.kind(), c.kind);
        EXPECT_EQ(value.text(), c.payload);
        EXPECT_EQ(value.defaultClauseText(), c.defaultClause);
    }
}

TEST(SchemaDefinitionsTest, AMegabyteDefaultIsReadWithoutDeepRecursion)
{
    const std::string body(1 << 20, 'a');
    const LiteralValue value = LiteralValue::parse("'" + body + "'");
    EXPECT_EQ(value.kind(), Kind::stringLiteral);
    EXPECT_EQ(value.text().size(), body.size());
    const std::string sql = "CREATE TABLE t (id INTEGER PRIMARY KEY AUTOINCREMENT, s TEXT DEFAULT '" + body + "')";
    EXPECT_TRUE(ColumnDefinition::PrimaryKey::parse(sql)->autoIncrement);
    EXPECT_EQ(IndexDefinition::whereCondition("CREATE INDEX i ON t (s) WHERE s <> '" + body + "'")->size(),
              body.size() + 7);
}

TEST(SchemaDefinitionsTest, PrimaryKeyDetails)
{
    using C = ColumnDefinition::OnConflict;
    struct Case {
        const char* sql;
        std::optional<ColumnDefinition::PrimaryKey> expected;
    };
    const std::vector<Case> cases{
        {"CREATE TABLE t (id INTEGER PRIMARY KEY AUTOINCREMENT)", key(true)},
        {"CREATE TABLE t (id INTEGER PRIMARY KEY DESC ON CONFLICT IGNORE)", key(false, C::ignore)},
        {"CREATE TABLE t (id integer primary key\n  autoincrement)", key(true)},
        {"CREATE TABLE t (a, b, PRIMARY KEY (a, b))", key(false)},
        {"CREATE TABLE t (a, b, PRIMARY KEY (a, (b)) ON CONFLICT FAIL)", key(false, C::fail)},
        {"CREATE TABLE t (a DEFAULT 'PRIMARY KEY AUTOINCREMENT', \"primary key\")", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        EXPECT_EQ(ColumnDefinition::PrimaryKey::parse(c.sql), c.expected);
    }
}

TEST(SchemaDefinitionsTest, IndexConditionAndOrders)
{
    struct Case {
        const char* sql;
        std::optional<std::string> where;
        std::map<std::string, IndexDefinition::Order> orders;
    };
    const auto desc = IndexDefinition::Order::desc;
    const std::vector<Case> cases{
        {"CREATE INDEX i ON t (a, b DESC) WHERE deleted = 0", "deleted = 0", {{"b", desc}}},
        {"CREATE INDEX i ON t (a) where deleted = 0", "deleted = 0", {}},
        {"CREATE INDEX i ON t (a)\nWHERE\n  a > 1\n  AND b < 2", "a > 1\n  AND b < 2", {}},
        {"CREATE INDEX \"x where\" ON t (\"my col\" desc, c COLLATE NOCASE DESC, (a + b) DESC)",
         std::nullopt,
         {{"my col", desc}, {"c", desc}}},
        {"CREATE INDEX i ON t (a) WHERE b IN (SELECT 1 WHERE 1)", "b IN (SELECT 1 WHERE 1)", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        const IndexDefinition index = IndexDefinition::make("t", "i", false, {"a"}, c.sql);
        EXPECT_EQ(index.where, c.where);
        EXPECT_EQ(index.orders, c.orders);
    }
    EXPECT_FALSE(IndexDefinition::make("t", "i", false, {"a"}, std::nullopt).orders);
}

TEST(SchemaDefinitionsTest, IndexRenderingAndNameLength)
{
    IndexDefinition index =
        IndexDefinition::make("t\"x", "i", true, {"a", "b"}, "CREATE INDEX i ON t (a, b DESC) WHERE a > 0");
    EXPECT_EQ(index.toSQL(), R"(CREATE UNIQUE INDEX "i" ON "t""x" ("a", "b" DESC) WHERE a > 0)");
    index.unique = false;
    index.orders.reset();
    index.where.reset();
    EXPECT_EQ(index.toSQL(true), R"(CREATE INDEX IF NOT EXISTS "i" ON "t""x" ("a", "b"))");

    index.name = std::string(64, 'n');
    EXPECT_NO_THROW(index.validate());
    // 64 characters of two bytes each, and letters with a combining accent, are still 64 characters.
    index.name.clear();
    for (int i = 0; i < 64; ++i) {
        index.name += i % 2 ? "é" : "e\xCC\x81";
    }
    EXPECT_NO_THROW(index.validate());
    index.name += "x";
    try {
        index.validate();
        ADD_FAILURE() << "a 65-character name validated";
    } catch (const IndexDefinition::IndexError& error) {
        EXPECT_EQ(error.what(),
                  "Index name '" + index.name + "' on table 't\"x' is too long; the limit is 64 characters");
    }
}

TEST(SchemaDefinitionsTest, TableRendering)
{
    const ColumnDefinition id{"id", key(true), Affinity::integer, false, {}, std::nullopt};
    const ColumnDefinition ref{"owner\"s",
                               std::nullopt,
                               Affinity::integer,
                               true,
                               LiteralValue::numericLiteral("7"),
                               ColumnDefinition::ForeignKey{"users", "owner\"s", "id", "CASCADE", "SET NULL"}};
    const ColumnDefinition stamp{
        "at", std::nullopt, Affinity::text, true, LiteralValue::numericLiteral("datetime('now')"), std::nullopt};
    const TableDefinition table{"t", {id, ref, stamp}, {}};
    EXPECT_EQ(table.toSQL(true),
              "CREATE TEMPORARY TABLE \"t\" ( \"id\" INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL,\n"
              "\"owner\"\"s\" INTEGER DEFAULT 7 REFERENCES \"users\" (\"id\") ON UPDATE CASCADE ON DELETE SET NULL,\n"
              "\"at\" TEXT DEFAULT (datetime('now')) )");

    // A key over two columns is one table constraint in key order, whatever the column order.
    const ColumnDefinition a{
        "a", key(false, ColumnDefinition::OnConflict::replace, 2), Affinity::text, false, {}, std::nullopt};
    const ColumnDefinition b{"b", key(false), Affinity::integer, false, {}, std::nullopt};
    EXPECT_EQ((TableDefinition{"k", {a, b}, {}}.toSQL()),
              "CREATE TABLE \"k\" ( \"a\" TEXT NOT NULL,\n\"b\" INTEGER NOT NULL,\n"
              "PRIMARY KEY (\"b\", \"a\") ON CONFLICT REPLACE )");

    EXPECT_EQ(table.copySQL(TableDefinition{"u", {id, stamp, ref}, {}}),
              R"(INSERT INTO "u" ("id", "at", "owner""s") SELECT "id", "owner""s", "at" FROM "t")");
}

TEST(SchemaDefinitionsTest, PrintedForms)
{
    EXPECT_EQ((ForeignKeyError{"orders", 7, "customers"}.description()), "orders [7] => customers");
    EXPECT_EQ((ForeignKeyError{"tags", std::nullopt, "notes"}.description()), "tags [NULL] => notes");
    EXPECT_EQ(objectTypeFromText("trigger"), ObjectDefinition::ObjectType::trigger);
    EXPECT_FALSE(objectTypeFromText("Table"));
    EXPECT_TRUE(
        (ObjectDefinition{ObjectDefinition::ObjectType::index, "sqlite_autoindex_t_1", "t", 3, "x"}.isInternal()));
    EXPECT_FALSE((ObjectDefinition{ObjectDefinition::ObjectType::index, "i", "t", 3, "CREATE INDEX"}.isInternal()));
}

TEST(SchemaDefinitionsDeathTest, RenderingNeedsColumns)
{
    EXPECT_DEATH((void)(TableDefinition{"t", {}, {}}.toSQL()), "SQLite/SchemaDefinitions:[0-9]+: Fatal error: ");
}

} // namespace
