#include "sqlite/Connection.h"
#include "tests/sqlite/TemporaryDirectory.h"

#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <thread>

using namespace sqlite;
using Name = Backup::DatabaseName;
using Pages = Backup::Pages;

namespace {

class BackupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        source = Connection::openPath(directory.file("source.sqlite3"));
        target = Connection::openPath(directory.file("target.sqlite3"));
        target->executeScript("PRAGMA synchronous = OFF");
        // Small pages so that a little data spans several of them.
        source->executeScript(
            "PRAGMA synchronous = OFF; PRAGMA page_size = 512; CREATE TABLE t (id INTEGER PRIMARY KEY, payload TEXT)");
        addRows(*source, 0, 20);
    }

    static void addRows(Connection& db, int from, int to)
    {
        for (int i = from; i < to; ++i) {
            db.runStatement("INSERT INTO t VALUES (?, ?)", i, std::string(200, static_cast<char>('a' + i % 26)));
        }
    }
    static std::int64_t count(Connection& db, std::string_view table = "t")
    {
        return std::get<std::int64_t>(*db.scalar("SELECT count(*) FROM " + std::string(table)));
    }

    TemporaryDirectory directory;
    std::shared_ptr<Connection> source;
    std::shared_ptr<Connection> target;
};

} // namespace

TEST_F(BackupTest, AllAtOnceCopiesEverythingAndFinishes)
{
    auto backup = source->backup(Name::main(), target, Name::main());
    EXPECT_EQ(backup.pageCount(), 0) << "nothing is known before the first step";
    backup.step();
    EXPECT_EQ(backup.pageCount(), 0);
    EXPECT_EQ(backup.remainingPageCount(), 0);
    EXPECT_EQ(count(*target), 20);
    backup.step(); // a finished backup does nothing
    backup.finish();
    backup.finish();
    EXPECT_EQ(backup.sourceConnection(), source);
}

TEST_F(BackupTest, LimitedStepsReportProgress)
{
    auto backup = source->backup(Name::main(), target, Name::main());
    backup.step(Pages::limited(1));
    const int total = backup.pageCount();
    ASSERT_GT(total, 3);
    EXPECT_EQ(backup.remainingPageCount(), total - 1);
    int steps = 1;
    int remaining = backup.remainingPageCount();
    while (backup.remainingPageCount() > 0) {
        backup.step(Pages::limited(1));
        ++steps;
        EXPECT_LT(backup.remainingPageCount(), remaining);
        remaining = backup.remainingPageCount();
    }
    EXPECT_EQ(steps, total);
    EXPECT_EQ(count(*target), 20);
}

TEST_F(BackupTest, AttachedAndTemporaryDatabases)
{
    target->attach(Connection::Location::uri(directory.file("aux.sqlite3")), "aux");
    source->backup(Name::main(), target, Name::attached("aux")).step();
    EXPECT_EQ(count(*target, "aux.t"), 20);

    source->executeScript("CREATE TEMP TABLE scratch (x); INSERT INTO scratch VALUES (1), (2)");
    source->backup(Name::temp(), target, Name::main()).step();
    EXPECT_EQ(count(*target, "scratch"), 2);
}

TEST_F(BackupTest, StartFailuresAreReported)
{
    const std::vector<std::tuple<Name, std::string>> cases = {
        {Name::attached("nosuch"), "unknown database nosuch"},
    };
    for (const auto& [name, message] : cases) {
        try {
            source->backup(name, target, Name::main());
            ADD_FAILURE() << "an unknown source schema must fail";
        } catch (const Result& error) {
            EXPECT_EQ(error.message(), message);
        }
    }
    // The target is being read: SQLite will not overwrite it under a reader.
    target->executeScript("CREATE TABLE u (x); INSERT INTO u VALUES (1), (2)");
    auto reader = target->prepare("SELECT x FROM u");
    ASSERT_TRUE(reader->step());
    try {
        source->backup(Name::main(), target, Name::main());
        ADD_FAILURE() << "a target in use must not be overwritten";
    } catch (const Result& error) {
        EXPECT_EQ(error.message(), "destination database is in use");
    }
    EXPECT_THROW(source->backup(Name::main(), source, Name::temp()), Result);
}

TEST_F(BackupTest, WritesThroughTheSourceConnectionBetweenStepsAreCopied)
{
    auto backup = source->backup(Name::main(), target, Name::main());
    backup.step(Pages::limited(2));
    addRows(*source, 20, 40);
    source->runStatement("DELETE FROM t WHERE id < 5");
    while (backup.remainingPageCount() > 0) {
        backup.step(Pages::limited(2));
    }
    EXPECT_EQ(count(*target), 35);
    EXPECT_EQ(target->scalar("SELECT min(id) FROM t"), Binding(std::int64_t{5}));
}

TEST_F(BackupTest, WritesByAnotherConnectionRestartTheCopy)
{
    auto writer = Connection::openPath(directory.file("source.sqlite3"));
    auto backup = source->backup(Name::main(), target, Name::main());
    backup.step(Pages::limited(2));
    addRows(*writer, 20, 30);
    for (int guard = 0; guard < 1000 && backup.remainingPageCount() > 0; ++guard) {
        backup.step(Pages::limited(2));
    }
    EXPECT_EQ(count(*target), 30);
    EXPECT_EQ(target->scalar("PRAGMA integrity_check"), Binding(std::string("ok")));
}

TEST_F(BackupTest, LockedSourceIsBusyAndTheBackupStaysUsable)
{
    auto writer = Connection::openPath(directory.file("source.sqlite3"));
    writer->executeScript("BEGIN EXCLUSIVE; INSERT INTO t VALUES (100, 'late')");
    auto backup = source->backup(Name::main(), target, Name::main());
    try {
        backup.step();
        FAIL() << "a locked source must be reported";
    } catch (const Result& error) {
        EXPECT_EQ(error.code(), 5);
        EXPECT_EQ(error.message(), "database is locked");
    }
    writer->executeScript("COMMIT");
    backup.step();
    EXPECT_EQ(backup.remainingPageCount(), 0);
    EXPECT_EQ(count(*target), 21);
}

TEST_F(BackupTest, ACopyWaitsForATransactionThatAnotherThreadRunsOnTheSource)
{
    // Without the queue, the copy would read the source connection's pages in the middle of the transaction and
    // keep its first half only.
    std::promise<void> halfDone;
    std::thread writer([&] {
        source->transaction([&] {
            source->runStatement("INSERT INTO t VALUES (100, 'first half')");
            halfDone.set_value();
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            source->runStatement("INSERT INTO t VALUES (101, 'second half')");
        });
    });
    halfDone.get_future().wait();
    auto backup = source->backup(Name::main(), target, Name::main());
    backup.step();
    writer.join();
    EXPECT_EQ(count(*target), 22);
}

TEST_F(BackupTest, BackupKeepsBothConnectionsAlive)
{
    std::weak_ptr<Connection> weakSource = source;
    auto backup = source->backup(Name::main(), target, Name::main());
    source.reset();
    target.reset();
    EXPECT_FALSE(weakSource.expired());
    backup.step();
    EXPECT_EQ(count(*backup.targetConnection()), 20);
    {
        Backup moved = std::move(backup);
    }
    EXPECT_TRUE(weakSource.expired());
}

TEST_F(BackupTest, AssigningOverAnUnfinishedBackupFinishesItBeforeLettingItsConnectionsGo)
{
    // SQLite refuses to close a connection that is the source of an unfinished copy, so a source released before
    // the copy is finished would stay open for good; its registered function shows whether it was really closed.
    auto token = std::make_shared<int>(0);
    source->createFunction("held", 0, false, [token](const Bindings&) { return std::nullopt; });
    const std::weak_ptr<int> weakToken = token;
    token.reset();

    auto backup = source->backup(Name::main(), target, Name::main());
    backup.step(Pages::limited(1));
    ASSERT_GT(backup.remainingPageCount(), 0);
    source.reset();
    target.reset();

    auto otherSource = Connection::open(Connection::Location::inMemory());
    otherSource->executeScript("CREATE TABLE t (x); INSERT INTO t VALUES (1)");
    auto otherTarget = Connection::open(Connection::Location::inMemory());
    backup = otherSource->backup(Name::main(), otherTarget, Name::main());
    EXPECT_TRUE(weakToken.expired()) << "the first source must be closed, not left open by an unfinished copy";
    backup.step();
    EXPECT_EQ(count(*otherTarget), 1);
}
