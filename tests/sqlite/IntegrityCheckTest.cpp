// Foreign-key and integrity checks on real databases.

#include "sqlite/Connection.h"
#include "sqlite/IntegrityChecks.h"
#include "sqlite/SchemaDefinitions.h"

#include <gtest/gtest.h>

namespace {

using namespace sqlite;

TEST(IntegrityCheckTest, SoundDatabaseAndForeignKeyViolations)
{
    auto db = Connection::open(Connection::Location::inMemory());
    db->executeScript(R"(
        CREATE TABLE customers (id INTEGER PRIMARY KEY);
        CREATE TABLE orders (id INTEGER PRIMARY KEY, customer REFERENCES customers(id));
        CREATE TABLE tags (name TEXT PRIMARY KEY, customer REFERENCES customers(id)) WITHOUT ROWID;
        INSERT INTO customers VALUES (1);
        INSERT INTO orders VALUES (5, 1);)");
    EXPECT_TRUE(db->foreignKeyCheck().empty());
    EXPECT_TRUE(db->integrityCheck().empty());
    EXPECT_TRUE(db->integrityCheck("orders").empty());

    db->executeScript("INSERT INTO orders VALUES (7, 2); INSERT INTO tags VALUES ('x', 3);");
    // The row of the table without rowid has no rowid to show, but it is a violation all the same.
    EXPECT_EQ(db->foreignKeyCheck(),
              (std::vector<ForeignKeyError>{{"tags", std::nullopt, "customers"}, {"orders", 7, "customers"}}));
    EXPECT_EQ(db->foreignKeyCheck("orders"), (std::vector<ForeignKeyError>{{"orders", 7, "customers"}}));
    EXPECT_THROW(db->foreignKeyCheck("missing"), Result);
}

TEST(IntegrityCheckDeathTest, OneTableNeedsAnUpToDateLibrary)
{
    auto db = Connection::open(Connection::Location::inMemory());
    db->executeScript("CREATE TABLE t (a)");
    EXPECT_DEATH(detail::integrityCheck(*db, "t", SQLiteVersion{3, 32, 9}),
                 "SQLite/IntegrityChecks:[0-9]+: Fatal error: .*3.33.0");
    EXPECT_TRUE(detail::integrityCheck(*db, std::nullopt, SQLiteVersion{3, 32, 9}).empty());
}

} // namespace
