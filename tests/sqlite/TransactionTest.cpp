#include "sqlite/Connection.h"
#include "tests/sqlite/TemporaryDirectory.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <thread>

using namespace sqlite;
using Mode = Connection::TransactionMode;
using Operation = Connection::Operation;

namespace {

class TransactionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        db = Connection::open(Connection::Location::inMemory());
        db->executeScript("CREATE TABLE t (a UNIQUE)");
        db->setTrace([this](const std::string& sql) { traced.push_back(sql); });
    }
    std::int64_t count() { return std::get<std::int64_t>(*db->scalar("SELECT count(*) FROM t")); }
    bool inTransaction() { return sqlite3_get_autocommit(db->handle()) == 0; }

    std::shared_ptr<Connection> db;
    std::vector<std::string> traced;
};

} // namespace

TEST(TransactionModeTest, TextsAndExactParsing)
{
    EXPECT_EQ(toText(Mode::deferred), "DEFERRED");
    EXPECT_EQ(toText(Mode::immediate), "IMMEDIATE");
    EXPECT_EQ(toText(Mode::exclusive), "EXCLUSIVE");
    EXPECT_EQ(transactionModeFromText("EXCLUSIVE"), Mode::exclusive);
    EXPECT_FALSE(transactionModeFromText("deferred"));
}

TEST_F(TransactionTest, SuccessfulBodyCommits)
{
    db->transaction(Mode::immediate, [&] { db->runStatement("INSERT INTO t VALUES (1)"); });
    EXPECT_EQ(count(), 1);
    EXPECT_EQ(traced, (std::vector<std::string>{"BEGIN IMMEDIATE TRANSACTION", "INSERT INTO t VALUES (1)",
                                                "COMMIT TRANSACTION", "SELECT count(*) FROM t"}));
}

TEST_F(TransactionTest, FailingBodyRollsBackAndReportsItsError)
{
    EXPECT_THROW(db->transaction([&] {
        db->runStatement("INSERT INTO t VALUES (1)");
        throw std::runtime_error("body failed");
    }),
                 std::runtime_error);
    EXPECT_EQ(count(), 0);
    EXPECT_FALSE(inTransaction());
    EXPECT_EQ(traced.at(2), "ROLLBACK TRANSACTION");
}

TEST_F(TransactionTest, NestedBeginFailsAndBodyDoesNotRun)
{
    bool ran = false;
    db->transaction([&] {
        try {
            db->transaction([&] { ran = true; });
            ADD_FAILURE() << "nested BEGIN succeeded";
        } catch (const Result& error) {
            EXPECT_STREQ(error.what(), "cannot start a transaction within a transaction (code: 1)");
        }
    });
    EXPECT_FALSE(ran);
    EXPECT_FALSE(inTransaction());
}

// SQLite has already rolled back a commit that the hook refused; the caller learns why the commit failed.
TEST_F(TransactionTest, CommitRefusedByHookReportsTheCommitError)
{
    db->setCommitHook([] { throw std::runtime_error("refused"); });
    try {
        db->transaction([&] { db->runStatement("INSERT INTO t VALUES (1)"); });
        FAIL();
    } catch (const Result& error) {
        EXPECT_EQ(error.code(), 19);
        EXPECT_STREQ(error.what(), "constraint failed (code: 19)");
    }
    db->setCommitHook(nullptr);
    EXPECT_EQ(count(), 0);
    EXPECT_FALSE(inTransaction());
    db->transaction([&] { db->runStatement("INSERT INTO t VALUES (2)"); });
    EXPECT_EQ(count(), 1);
}

TEST_F(TransactionTest, StatementThatEndsTheTransactionItselfIsReportedUnmasked)
{
    db->executeScript("CREATE TABLE r (a UNIQUE ON CONFLICT ROLLBACK); INSERT INTO r VALUES (1)");
    try {
        db->transaction([&] { db->runStatement("INSERT INTO r VALUES (1)"); });
        FAIL();
    } catch (const Result& error) {
        EXPECT_STREQ(error.what(), "UNIQUE constraint failed: r.a (code: 19)");
    }
    EXPECT_FALSE(inTransaction());
}

TEST_F(TransactionTest, SavepointsNestAndQuoteTheirNames)
{
    db->savepoint("outer", [&] {
        db->runStatement("INSERT INTO t VALUES (1)");
        EXPECT_THROW(db->savepoint("it's",
                                   [&] {
                                       db->runStatement("INSERT INTO t VALUES (2)");
                                       throw std::runtime_error("inner failed");
                                   }),
                     std::runtime_error);
        EXPECT_EQ(count(), 1);
    });
    EXPECT_EQ(count(), 1);
    EXPECT_FALSE(inTransaction());
    const std::vector<std::string> expected{
        "SAVEPOINT 'outer'",        "INSERT INTO t VALUES (1)",      "SAVEPOINT 'it''s'",
        "INSERT INTO t VALUES (2)", "ROLLBACK TO SAVEPOINT 'it''s'", "SELECT count(*) FROM t",
        "RELEASE SAVEPOINT 'outer'"};
    EXPECT_EQ(std::vector<std::string>(traced.begin(), traced.begin() + 7), expected);
}

// A failed savepoint that opened the transaction leaves none open to swallow later writes.
TEST(SavepointFileTest, FailedOutermostSavepointLeavesNoTransactionOpen)
{
    TemporaryDirectory dir;
    auto db = Connection::openPath(dir.file("s.db"));
    db->executeScript("CREATE TABLE t (a)");
    EXPECT_THROW(db->savepoint("s",
                               [&] {
                                   db->runStatement("INSERT INTO t VALUES (1)");
                                   throw std::runtime_error("failed");
                               }),
                 std::runtime_error);
    EXPECT_NE(sqlite3_get_autocommit(db->handle()), 0);
    db->runStatement("INSERT INTO t VALUES (2)");
    // Another connection sees the later write: it was committed, not held in a forgotten transaction.
    auto reader = Connection::openPath(dir.file("s.db"));
    EXPECT_EQ(reader->scalar("SELECT group_concat(a) FROM t"), Binding(std::string("2")));
}

TEST_F(TransactionTest, BusyTimeoutIsSetInMilliseconds)
{
    db->setBusyTimeout(2.5);
    EXPECT_EQ(db->busyTimeout(), 2.5);
    db->setBusyTimeout(0.0004);
    EXPECT_EQ(db->busyTimeout(), 0.0004);
}

TEST(BusyTest, TimeoutWaitsAndHandlerDecides)
{
    TemporaryDirectory dir;
    auto writer = Connection::openPath(dir.file("b.db"));
    auto other = Connection::openPath(dir.file("b.db"));
    writer->executeScript("CREATE TABLE t (a)");
    writer->executeScript("BEGIN EXCLUSIVE");

    std::vector<int> tries;
    other->setBusyHandler([&](int count) {
        tries.push_back(count);
        return count < 2;
    });
    try {
        other->runStatement("INSERT INTO t VALUES (1)");
        FAIL();
    } catch (const Result& error) {
        EXPECT_EQ(error.code(), 5);
    }
    EXPECT_EQ(tries, (std::vector<int>{0, 1, 2}));

    // A handler that throws gives up instead of letting the exception cross SQLite.
    other->setBusyHandler([](int) -> bool { throw std::runtime_error("x"); });
    EXPECT_THROW(other->runStatement("INSERT INTO t VALUES (1)"), Result);

    other->setBusyTimeout(5);
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        writer->executeScript("COMMIT");
    });
    other->runStatement("INSERT INTO t VALUES (1)");
    release.join();
    EXPECT_EQ(other->scalar("SELECT count(*) FROM t"), Binding(std::int64_t{1}));
}

TEST_F(TransactionTest, TraceShowsBoundValuesAndCanBeRemoved)
{
    traced.clear();
    db->runStatement("INSERT INTO t VALUES (?)", 5);
    db->setTrace(nullptr);
    db->runStatement("INSERT INTO t VALUES (?)", 6);
    EXPECT_EQ(traced, (std::vector<std::string>{"INSERT INTO t VALUES (5)"}));
}

TEST_F(TransactionTest, UpdateHookReportsEachChange)
{
    struct Change {
        Operation operation;
        std::string database, table;
        std::int64_t rowid;
        bool operator==(const Change&) const = default;
    };
    std::vector<Change> changes;
    db->setUpdateHook([&](Operation op, std::string_view database, std::string_view table, std::int64_t rowid) {
        changes.push_back({op, std::string(database), std::string(table), rowid});
    });
    db->runStatement("INSERT INTO t VALUES (1)");
    db->runStatement("UPDATE t SET a = 2");
    db->runStatement("DELETE FROM t WHERE a = 2");
    db->setUpdateHook(nullptr);
    db->runStatement("INSERT INTO t VALUES (1)");
    EXPECT_EQ(changes, (std::vector<Change>{{Operation::insert, "main", "t", 1},
                                            {Operation::update, "main", "t", 1},
                                            {Operation::delete_, "main", "t", 1}}));
}

TEST_F(TransactionTest, RollbackHookRunsOnRollbackOnly)
{
    int rollbacks = 0;
    db->setRollbackHook([&] { ++rollbacks; });
    db->transaction([&] { db->runStatement("INSERT INTO t VALUES (1)"); });
    EXPECT_EQ(rollbacks, 0);
    EXPECT_THROW(db->transaction([&] { throw std::runtime_error("x"); }), std::runtime_error);
    EXPECT_EQ(rollbacks, 1);
}

TEST_F(TransactionTest, ThrowingHooksNeverCrossSqlite)
{
    db->setUpdateHook([](Operation, std::string_view, std::string_view, std::int64_t) { throw 1; });
    db->setTrace([](const std::string&) { throw std::runtime_error("trace"); });
    db->setRollbackHook([] { throw std::runtime_error("rollback"); });
    db->runStatement("INSERT INTO t VALUES (1)");
    EXPECT_THROW(db->transaction([&] { throw std::logic_error("body"); }), std::logic_error);
    EXPECT_EQ(count(), 1);
}

TEST_F(TransactionTest, HookMayReplaceItselfWhileRunning)
{
    int calls = 0;
    auto& connection = db;
    db->setCommitHook([&connection, &calls] {
        connection->setCommitHook(nullptr);
        ++calls; // still runs inside the replaced callback
    });
    db->transaction([&] { db->runStatement("INSERT INTO t VALUES (1)"); });
    db->transaction([&] { db->runStatement("INSERT INTO t VALUES (2)"); });
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(count(), 2);
}

TEST(OperationTest, FromActionCodes)
{
    EXPECT_EQ(Connection::operationFromCode(18), Operation::insert);
    EXPECT_EQ(Connection::operationFromCode(23), Operation::update);
    EXPECT_EQ(Connection::operationFromCode(9), Operation::delete_);
    EXPECT_DEATH(Connection::operationFromCode(1),
                 "SQLite/Connection:[0-9]+: Fatal error: unhandled operation code: 1");
}

TEST(BusyTimeoutDeathTest, OutOfRangeIsFatal)
{
    auto db = Connection::open(Connection::Location::inMemory());
    EXPECT_DEATH(db->setBusyTimeout(2147483.648), "SQLite/Connection:[0-9]+: Fatal error: busy timeout out of range");
    EXPECT_DEATH(db->setBusyTimeout(std::numeric_limits<double>::infinity()), "busy timeout out of range");
}
