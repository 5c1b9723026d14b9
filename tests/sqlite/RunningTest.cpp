// Running compiled queries and writing statements on real databases.

#include "sqlite/Aggregates.h"
#include "sqlite/Operators.h"
#include "sqlite/QueryRunning.h"
#include "tests/sqlite/TemporaryDirectory.h"

#include <gtest/gtest.h>
#include <set>
#include <thread>

namespace {

using namespace sqlite;

template <class T> Expression<T> column(std::string_view name)
{
    return Expression<T>::makeIdentifierExpression(name);
}

class RunningTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        db = Connection::open(Connection::Location::inMemory());
        db->executeScript("CREATE TABLE folders (id INTEGER PRIMARY KEY, folder_name TEXT UNIQUE, sort_order INTEGER,"
                          " score REAL)");
    }

    std::int64_t insertFolder(const std::string& folderName, std::int64_t order)
    {
        return db->runInsert(folders.insertValues(assignValue(folderName_, folderName), assignValue(sortOrder, order)));
    }

    std::shared_ptr<Connection> db;
    Table folders{"folders"};
    Expression<std::int64_t> id = column<std::int64_t>("id");
    Expression<std::string> folderName_ = column<std::string>("folder_name");
    Expression<std::int64_t> sortOrder = column<std::int64_t>("sort_order");
    Expression<std::optional<double>> score = column<std::optional<double>>("score");
};

TEST_F(RunningTest, InsertReturnsTheRowIdAndIgnoredInsertThePreviousOne)
{
    EXPECT_EQ(insertFolder("a", 1), 1);
    EXPECT_EQ(insertFolder("b", 2), 2);
    Insert ignored = folders.compileInsert(OnConflict::ignore, {assignValue(folderName_, "a")});
    EXPECT_EQ(db->runInsert(ignored), 2);
    EXPECT_EQ(db->queryScalar(folders.count()), 2);
}

TEST_F(RunningTest, UpdateAndDeleteReturnChangeCounts)
{
    insertFolder("a", 1);
    insertFolder("b", 2);
    insertFolder("c", 3);
    auto late = folders.filterQuery(greaterValue(sortOrder, 1));
    EXPECT_EQ(db->runUpdate(late.compileUpdate({assignValue(sortOrder, 9)})), 2);
    EXPECT_EQ(db->runUpdate(folders.filterQuery(equalsValue(id, 42)).compileUpdate({assignValue(sortOrder, 1)})), 0);
    EXPECT_EQ(db->runDelete(folders.filterQuery(equalsValue(sortOrder, 9)).compileDelete()), 2);
    EXPECT_EQ(db->runDelete(folders.filterQuery(equalsValue(id, 42)).compileDelete()), 0);
    EXPECT_EQ(db->queryScalar(folders.count()), 1);
}

TEST_F(RunningTest, FailingWriteReportsResultAndReturnsNothing)
{
    insertFolder("a", 1);
    try {
        insertFolder("a", 2);
        FAIL() << "expected Result";
    } catch (const Result& error) {
        EXPECT_EQ(error.code(), 19);
        EXPECT_NE(std::string(error.what()).find("(code: 19)"), std::string::npos);
    }
    EXPECT_THROW(db->runInsert(Table("missing").insertValues(assignValue(id, 1))), Result);
}

TEST_F(RunningTest, ScalarsOfEmptyTablesAndNullValues)
{
    EXPECT_EQ(db->queryScalar(folders.count()), 0);
    EXPECT_EQ(db->queryScalar(folders.selectScalar(max(sortOrder))), std::nullopt);
    EXPECT_EQ(db->queryScalar(folders.selectScalar(total(sortOrder))), 0.0);
    EXPECT_FALSE(db->queryScalar(folders.exists()));
    insertFolder("a", 5);
    EXPECT_EQ(db->queryScalar(folders.selectScalar(max(sortOrder))), 5);
    EXPECT_TRUE(db->queryScalar(folders.filterQuery(equalsValue(sortOrder, 5)).exists()));
    EXPECT_EQ(db->queryScalar(folders.selectScalar(score)), std::nullopt);
    // A required scalar that is NULL is an error, not a made-up value.
    EXPECT_THROW(db->queryScalar(folders.selectScalar(column<double>("score"))), QueryError);
    // A value of another storage class is none for the optional form.
    EXPECT_EQ(db->queryScalar(folders.selectScalar(column<std::optional<std::string>>("sort_order"))), std::nullopt);
}

TEST_F(RunningTest, PluckKeepsTheOffsetAndReadsOneRow)
{
    for (int i = 1; i <= 20; ++i) {
        insertFolder("f" + std::to_string(i), i);
    }
    auto ordered = folders.orderQuery(sortOrder.asc());
    auto row = db->pluck(ordered.limitQuery(10, 5));
    ASSERT_TRUE(row);
    EXPECT_EQ(row->getValue(sortOrder), 6);
    EXPECT_EQ(db->pluck(ordered.limitQuery(10))->getValue(sortOrder), 1);
    EXPECT_FALSE(db->pluck(folders.filterQuery(equalsValue(id, 99))));
}

TEST_F(RunningTest, PreparingBadSQLReportsResult)
{
    EXPECT_THROW(db->prepareQuery(folders.selectColumns(Expression<std::int64_t>("nope(1)"))), Result);
    EXPECT_THROW(db->prepareRowIterator("SELEC 1"), Result);
}

// The row id is read in the same unit as the insert, so each thread gets the id of its own row.
TEST_F(RunningTest, ConcurrentInsertsEachGetTheirOwnRowId)
{
    constexpr int threads = 4;
    constexpr int perThread = 200;
    std::vector<std::vector<std::pair<std::int64_t, std::int64_t>>> inserted(threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                const std::int64_t order = t * 1000 + i;
                inserted[t].emplace_back(db->runInsert(folders.insertValues(assignValue(sortOrder, order))), order);
            }
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    std::set<std::int64_t> ids;
    for (const auto& list : inserted) {
        for (const auto& [rowid, order] : list) {
            ids.insert(rowid);
            auto row = db->pluck(folders.filterQuery(equalsValue(id, rowid)));
            ASSERT_TRUE(row);
            EXPECT_EQ(row->getValue(sortOrder), order);
        }
    }
    EXPECT_EQ(ids.size(), static_cast<std::size_t>(threads * perThread));
}

// A busy database makes the step fail; the rows must not simply end there.
TEST(RunningBusyTest, BusyStepIsThrownNotTheEndOfRows)
{
    TemporaryDirectory directory;
    const std::string path = directory.file("busy.sqlite3");
    auto reader = Connection::openPath(path);
    auto writer = Connection::openPath(path);
    reader->executeScript("CREATE TABLE t (v INTEGER); INSERT INTO t VALUES (1), (2);");
    auto rows = reader->prepareRowIterator(Table("t"));
    writer->executeScript("BEGIN EXCLUSIVE; INSERT INTO t VALUES (3);");
    try {
        rows.failableNext();
        FAIL() << "expected Result";
    } catch (const Result& error) {
        EXPECT_EQ(error.code(), 5);
        EXPECT_NE(std::string(error.what()).find("(code: 5)"), std::string::npos);
    }
    writer->executeScript("COMMIT");
}

} // namespace
