#include "sqlite/Connection.h"

#include "tests/sqlite/TemporaryDirectory.h"

#include <atomic>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

using namespace sqlite;
using Location = Connection::Location;

namespace {

std::optional<Binding> integer(std::int64_t v)
{
    return Binding(v);
}

} // namespace

TEST(ConnectionOpenTest, InMemoryAndTemporaryArePrivateWorkingDatabases)
{
    for (const auto& location : {Location::inMemory(), Location::temporary()}) {
        auto db = Connection::open(location);
        db->executeScript("CREATE TABLE t (a); INSERT INTO t VALUES (1);");
        EXPECT_EQ(db->scalar("SELECT count(*) FROM t"), integer(1));
        EXPECT_EQ(db->description(), "");
        auto other = Connection::open(location);
        EXPECT_THROW(other->scalar("SELECT count(*) FROM t"), Result);
    }
}

TEST(ConnectionOpenTest, ReadOnlyOfMissingFileFailsAndReadWriteCreatesIt)
{
    TemporaryDirectory dir;
    const std::string path = dir.file("new.db");
    try {
        Connection::openPath(path, true);
        FAIL();
    } catch (const Result& error) {
        EXPECT_EQ(error.kind(), Result::Kind::error);
        EXPECT_EQ(error.code(), 14); // SQLITE_CANTOPEN
        EXPECT_STREQ(error.what(), "unable to open database file (code: 14)");
    }
    EXPECT_FALSE(std::filesystem::exists(path));
    auto db = Connection::openPath(path);
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_FALSE(db->readonly());
    EXPECT_EQ(db->description(), path);
    EXPECT_TRUE(Connection::openPath(path, true)->readonly());
}

TEST(ConnectionTest, ScriptStopsAtFirstFailureAndKeepsEarlierEffects)
{
    auto db = Connection::open(Location::inMemory());
    try {
        db->executeScript("CREATE TABLE t (a); INSERT INTO missing VALUES (1); CREATE TABLE u (a);");
        FAIL();
    } catch (const Result& error) {
        EXPECT_STREQ(error.what(), "no such table: missing (code: 1)");
    }
    EXPECT_EQ(db->scalar("SELECT count(*) FROM sqlite_master WHERE name = 't'"), integer(1));
    EXPECT_EQ(db->scalar("SELECT count(*) FROM sqlite_master WHERE name = 'u'"), integer(0));
}

TEST(ConnectionTest, ScriptWithNulIsRefusedWholeRatherThanCutShort)
{
    auto db = Connection::open(Connection::Location::inMemory());
    using namespace std::string_view_literals;
    EXPECT_THROW(db->executeScript("CREATE TABLE t (a);\0CREATE TABLE u (a);"sv), Result);
    EXPECT_FALSE(db->scalar("SELECT 1 FROM sqlite_master WHERE name = 't'").has_value());
}

TEST(ConnectionTest, CountersAndRowIds)
{
    auto db = Connection::open(Location::inMemory());
    db->executeScript("CREATE TABLE t (a)");
    EXPECT_EQ(db->lastInsertRowid(), 0);
    db->runStatement("INSERT INTO t VALUES (?), (?)", 1, 2);
    EXPECT_EQ(db->lastInsertRowid(), 2);
    EXPECT_EQ(db->changes(), 2);
    db->runStatement("UPDATE t SET a = 3 WHERE a = 1");
    EXPECT_EQ(db->changes(), 1);
    EXPECT_EQ(db->totalChanges(), 3);
    db->vacuum();
}

TEST(ConnectionTest, NamedAndPositionalForms)
{
    auto db = Connection::open(Location::inMemory());
    EXPECT_EQ(db->scalar("SELECT ? + ?", 1, 2), integer(3));
    EXPECT_EQ(db->scalar("SELECT ? + ?", Bindings{integer(1), integer(2)}), integer(3));
    EXPECT_EQ(db->scalar("SELECT :x * 2", NamedBindings{{":x", integer(4)}}), integer(8));
    EXPECT_EQ(db->scalar("SELECT 1 WHERE 0"), std::nullopt);
}

// The queue rule ----------------------------------------------------------------------------------------

TEST(QueueRuleTest, TwoThreadsOnOneConnectionLoseNoRows)
{
    TemporaryDirectory dir;
    auto db = Connection::openPath(dir.file("q.db"));
    db->executeScript("CREATE TABLE t (thread, n)");
    constexpr int rows = 500;
    auto work = [&](int thread) {
        for (int n = 0; n < rows; ++n) {
            // Insert and read the row id as one unit: no other thread's insert may come between.
            db->sync([&] {
                db->runStatement("INSERT INTO t VALUES (?, ?)", thread, n);
                const auto id = db->lastInsertRowid();
                EXPECT_EQ(db->scalar("SELECT thread FROM t WHERE rowid = ?", id), integer(thread));
            });
        }
    };
    std::thread a(work, 1), b(work, 2);
    a.join();
    b.join();
    EXPECT_EQ(db->scalar("SELECT count(*) FROM t"), integer(2 * rows));
    EXPECT_EQ(db->scalar("SELECT count(DISTINCT thread || '-' || n) FROM t"), integer(2 * rows));
}

TEST(QueueRuleTest, StatementFromAnotherThreadWaitsForTheQueue)
{
    auto db = Connection::open(Location::inMemory());
    db->executeScript("CREATE TABLE t (a)");
    std::atomic<bool> inserted{false};
    std::thread other;
    db->transaction([&] {
        other = std::thread([&] {
            db->runStatement("INSERT INTO t VALUES (2)");
            inserted = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(inserted.load());
        db->runStatement("INSERT INTO t VALUES (1)");
    });
    other.join();
    EXPECT_TRUE(inserted.load());
    EXPECT_EQ(db->scalar("SELECT group_concat(a) FROM (SELECT a FROM t ORDER BY rowid)"), Binding(std::string("1,2")));
}

TEST(QueueRuleTest, ReentryFromACallbackRunsInline)
{
    auto db = Connection::open(Location::inMemory());
    db->executeScript("CREATE TABLE t (a)");
    std::vector<std::optional<Binding>> seen;
    bool inside = false;
    db->setTrace([&](const std::string& sql) {
        if (!inside && sql.starts_with("INSERT")) {
            inside = true;
            seen.push_back(db->scalar("SELECT count(*) FROM t"));
            inside = false;
        }
    });
    std::thread other([&] { db->runStatement("INSERT INTO t VALUES (1)"); });
    other.join();
    db->transaction([&] { db->runStatement("INSERT INTO t VALUES (2)"); });
    EXPECT_EQ(seen, (std::vector<std::optional<Binding>>{integer(0), integer(1)}));
    EXPECT_FALSE(db->holdsQueue());
}

TEST(QueueRuleTest, CrossConnectionReentryDoesNotDeadlock)
{
    auto a = Connection::open(Location::inMemory());
    auto b = Connection::open(Location::inMemory());
    std::optional<Binding> inner;
    a->sync([&] {
        b->sync([&] {
            EXPECT_TRUE(a->holdsQueue());
            EXPECT_TRUE(b->holdsQueue());
            inner = a->scalar("SELECT 5");
        });
    });
    EXPECT_EQ(inner, integer(5));
    EXPECT_FALSE(a->holdsQueue());
}

TEST(QueueRuleTest, ResultAndExceptionsPassThroughAndReleaseTheQueue)
{
    auto db = Connection::open(Location::inMemory());
    EXPECT_EQ(db->sync([] { return 7; }), 7);
    EXPECT_THROW(db->sync([]() -> int { throw std::runtime_error("x"); }), std::runtime_error);
    EXPECT_FALSE(db->holdsQueue());
    std::thread other([&] { EXPECT_EQ(db->scalar("SELECT 1"), integer(1)); });
    other.join();
}

TEST(QueueRuleTest, InterruptFromAnotherThreadStopsALongStatement)
{
    auto db = Connection::open(Location::inMemory());
    std::atomic<bool> stop{false};
    std::thread interrupter([&] {
        while (!stop) {
            db->interrupt();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    try {
        db->scalar("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT max(x) FROM c");
        ADD_FAILURE() << "not interrupted";
    } catch (const Result& error) {
        EXPECT_EQ(error.code(), 9); // SQLITE_INTERRUPT
    }
    stop = true;
    interrupter.join();
}
