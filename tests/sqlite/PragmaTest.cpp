#include "sqlite/Connection.h"
#include "sqlite/SQLiteVersion.h"
#include "tests/sqlite/TemporaryDirectory.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

using namespace sqlite;

TEST(PragmaTest, UserVersion)
{
    auto db = Connection::open(Connection::Location::inMemory());
    EXPECT_EQ(db->userVersion(), 0);
    db->setUserVersion(2);
    EXPECT_EQ(db->userVersion(), 2);
    db->setUserVersion(-7);
    EXPECT_EQ(db->userVersion(), -7);
    db->setUserVersion(std::nullopt);
    EXPECT_EQ(db->userVersion(), 0);
}

TEST(PragmaTest, BooleanPragmas)
{
    auto db = Connection::open(Connection::Location::inMemory());
    EXPECT_FALSE(db->foreignKeys());
    db->setForeignKeys(true);
    EXPECT_TRUE(db->foreignKeys());
    db->setForeignKeys(false);
    EXPECT_FALSE(db->foreignKeys());
    EXPECT_FALSE(db->deferForeignKeys());
    db->setDeferForeignKeys(true);
    EXPECT_TRUE(db->deferForeignKeys());
}

TEST(PragmaTest, FailedWriteIsSilentAndReadFallsBack)
{
    TemporaryDirectory dir;
    Connection::openPath(dir.file("r.db"))->setUserVersion(3);
    auto db = Connection::openPath(dir.file("r.db"), true);
    db->setUserVersion(9);
    EXPECT_EQ(db->userVersion(), 3);
}

TEST(PragmaTest, AttachAndDetach)
{
    auto db = Connection::open(Connection::Location::inMemory());
    db->attach(Connection::Location::inMemory(), "aux");
    db->executeScript("CREATE TABLE aux.t (a); INSERT INTO aux.t VALUES (1)");
    EXPECT_EQ(db->scalar("SELECT count(*) FROM aux.t"), Binding(std::int64_t{1}));
    db->detach("aux");
    EXPECT_THROW(db->scalar("SELECT count(*) FROM aux.t"), Result);
    try {
        db->detach("aux");
        FAIL();
    } catch (const Result& error) {
        EXPECT_STREQ(error.what(), "no such database: aux (code: 1)");
    }
    EXPECT_THROW(db->attach(Connection::Location::uri("/nonexistent-dir/x.db"), "bad"), Result);
}

TEST(SQLiteVersionTest, Parsing)
{
    struct Case {
        const char* text;
        SQLiteVersion version;
    };
    const std::vector<Case> cases{
        {"3.43.2", {3, 43, 2}},  {"3.43", {}}, {"3.43.2.1", {}}, {"3.x.1", {}},
        {"3..43.2", {3, 43, 2}}, {"", {}},     {"3.43.2x", {}},  {".3.43.2.", {3, 43, 2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(SQLiteVersion::parse(c.text), c.version);
    }
    EXPECT_EQ(SQLiteVersion({3, 43, 2}).description(), "SQLite 3.43.2");
}

TEST(SQLiteVersionTest, Ordering)
{
    EXPECT_GT(SQLiteVersion({3, 25, 0}), SQLiteVersion({3, 24, 9}));
    EXPECT_LT(SQLiteVersion({3, 25, 0}), SQLiteVersion({3, 25, 1}));
    EXPECT_GT(SQLiteVersion({4, 0, 0}), SQLiteVersion({3, 99, 99}));
    EXPECT_EQ(SQLiteVersion::zero(), SQLiteVersion({0, 0, 0}));
}

TEST(SQLiteVersionTest, ConnectionReportsTheLibraryVersion)
{
    auto db = Connection::open(Connection::Location::inMemory());
    EXPECT_EQ(db->sqliteVersion(), SQLiteVersion::parse(sqlite3_libversion()));
    EXPECT_GT(db->sqliteVersion(), SQLiteVersion({3, 0, 0}));
}
