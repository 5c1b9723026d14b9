#include "sqlite/Statement.h"

#include "sqlite/Connection.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

using namespace sqlite;

namespace {

class StatementTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        db = Connection::open(Connection::Location::inMemory());
        db->executeScript("CREATE TABLE t (a, b, c)");
    }
    std::int64_t count() { return std::get<std::int64_t>(*db->scalar("SELECT count(*) FROM t")); }

    std::shared_ptr<Connection> db;
};

const std::optional<Binding> none;
std::optional<Binding> integer(std::int64_t v)
{
    return Binding(v);
}
std::optional<Binding> text(std::string v)
{
    return Binding(std::move(v));
}

} // namespace

TEST_F(StatementTest, PositionalBindingAndRunningAgainReusesTheValues)
{
    auto insert = db->prepare("INSERT INTO t VALUES (?, ?, ?)");
    insert->runToEnd({integer(1), text("x"), none});
    insert->runToEnd();
    EXPECT_EQ(count(), 2);
    auto rows = db->prepare("SELECT a, b, c FROM t")->fetchAllRows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], rows[1]);
    EXPECT_EQ(rows[0], (Bindings{integer(1), text("x"), none}));
}

TEST_F(StatementTest, EmptyListKeepsEarlierBindingsAndNamedBindingWithEmptyMapClearsThem)
{
    auto select = db->prepare("SELECT ?");
    select->bind({integer(1)});
    select->bind(Bindings{});
    EXPECT_EQ(select->fetchScalar(), integer(1));
    select->bindNamed({});
    EXPECT_EQ(select->fetchScalar(), none);
}

TEST_F(StatementTest, NamedBinding)
{
    auto select = db->prepare("SELECT :a || $b", NamedBindings{{":a", text("x")}, {"$b", text("y")}});
    EXPECT_EQ(select->fetchScalar(), text("xy"));
}

TEST_F(StatementTest, VariadicFormsAcceptPlainValues)
{
    db->runStatement("INSERT INTO t VALUES (?, ?, ?)", 7, "seven", std::nullopt);
    db->runStatement("INSERT INTO t VALUES (?, ?, ?)", true, 2.5, std::optional<std::string>());
    db->runStatement("INSERT INTO t VALUES (?, ?, ?)", std::optional<std::string>(std::string("a\0b", 3)),
                     std::optional<Binding>(Blob({1, 2})), text("x"));
    db->runStatement("INSERT INTO t VALUES (?, ?, ?)", std::optional<Blob>(Blob()), std::optional<Binding>(),
                     std::optional<bool>(false));
    auto rows = db->prepare("SELECT a, b, c FROM t ORDER BY rowid")->fetchAllRows();
    EXPECT_EQ(rows[0], (Bindings{integer(7), text("seven"), none}));
    EXPECT_EQ(rows[1], (Bindings{integer(1), Binding(2.5), none}));
    EXPECT_EQ(rows[2], (Bindings{text(std::string("a\0b", 3)), Binding(Blob({1, 2})), text("x")}));
    EXPECT_EQ(rows[3], (Bindings{Binding(Blob()), none, integer(0)}));
}

TEST_F(StatementTest, EmptyBlobIsStoredAsZeroLengthBlobNotNull)
{
    db->runStatement("INSERT INTO t (a) VALUES (?)", Blob());
    EXPECT_EQ(db->scalar("SELECT typeof(a) FROM t"), text("blob"));
    EXPECT_EQ(db->scalar("SELECT a FROM t"), Binding(Blob()));
    EXPECT_EQ(db->prepare("SELECT a FROM t")->failableNext()->at(0), Binding(Blob()));
}

TEST_F(StatementTest, ValuesRoundTripByStorageClass)
{
    const Bindings values{integer(-9223372036854775807 - 1), Binding(0.1), Binding(Blob({0, 1, 255}))};
    db->runStatement("INSERT INTO t VALUES (?, ?, ?)", values);
    EXPECT_EQ(*db->prepare("SELECT a, b, c FROM t")->failableNext(), values);
    EXPECT_EQ(db->scalar("SELECT typeof(a) || typeof(b) || typeof(c) FROM t"), text("integerrealblob"));
}

// A text holding a NUL byte is stored and read back whole.
TEST_F(StatementTest, TextWithNulIsStoredWhole)
{
    const std::string value("a\0b", 3);
    db->runStatement("INSERT INTO t (a) VALUES (?)", value);
    EXPECT_EQ(db->scalar("SELECT length(CAST(a AS BLOB)) FROM t"), integer(3));
    EXPECT_EQ(db->scalar("SELECT a FROM t"), text(value));
    auto select = db->prepare("SELECT a FROM t");
    ASSERT_TRUE(select->step());
    EXPECT_EQ(select->row().stringAt(0), value);
}

TEST_F(StatementTest, BooleanIsStoredAsInteger)
{
    db->runStatement("INSERT INTO t (a) VALUES (?)", true);
    EXPECT_EQ(db->scalar("SELECT a FROM t"), integer(1));
}

TEST_F(StatementTest, ScalarOfNoRowOrNullIsNone)
{
    EXPECT_EQ(db->scalar("SELECT a FROM t"), none);
    EXPECT_EQ(db->scalar("SELECT NULL"), none);
}

TEST_F(StatementTest, TypedCursorReaders)
{
    auto select = db->prepare("SELECT 2.5, 7, 0, 'text', x'0102', x''");
    ASSERT_TRUE(select->step());
    const Cursor& row = select->row();
    EXPECT_EQ(row.columnCount(), 6);
    EXPECT_EQ(row.doubleAt(0), 2.5);
    EXPECT_EQ(row.int64At(1), 7);
    EXPECT_TRUE(row.boolAt(1));
    EXPECT_FALSE(row.boolAt(2));
    EXPECT_EQ(row.stringAt(3), "text");
    EXPECT_EQ(row.blobAt(4), Blob({1, 2}));
    EXPECT_EQ(row.blobAt(5), Blob());
}

TEST_F(StatementTest, QuotedColumnIndexesLaterNameWins)
{
    auto select = db->prepare("SELECT a, b AS a, c AS \"x\"\"y\" FROM t");
    const auto indexes = select->quotedColumnIndexes();
    EXPECT_EQ(indexes.size(), 2u);
    EXPECT_EQ(indexes.at("\"a\""), 1);
    EXPECT_EQ(indexes.at("\"x\"\"y\""), 2);
    EXPECT_EQ(select->columnNames(), (std::vector<std::string>{"a", "a", "x\"y"}));
}

TEST_F(StatementTest, FailingStepReportsAndStatementStaysUsable)
{
    db->executeScript("CREATE TABLE u (a UNIQUE)");
    auto insert = db->prepare("INSERT INTO u VALUES (?)");
    insert->runToEnd(1);
    try {
        insert->runToEnd();
        FAIL();
    } catch (const Result& error) {
        EXPECT_EQ(error.code(), 19);
        EXPECT_TRUE(std::string(error.what()).ends_with("(code: 19)"));
    }
    insert->runToEnd(2);
    EXPECT_EQ(db->scalar("SELECT count(*) FROM u"), integer(2));
}

TEST_F(StatementTest, FailableNextReportsWhileNextEndsTheRows)
{
    auto select = db->prepare("SELECT abs(?)", -9223372036854775807 - 1);
    EXPECT_THROW(select->failableNext(), Result);
    EXPECT_FALSE(select->next());
}

TEST_F(StatementTest, IterationStartsFromTheTop)
{
    db->executeScript("INSERT INTO t (a) VALUES (1), (2), (3)");
    auto select = db->prepare("SELECT a FROM t ORDER BY a");
    select->step();
    std::vector<std::int64_t> seen;
    for (const Bindings& row : *select) {
        seen.push_back(std::get<std::int64_t>(*row[0]));
    }
    EXPECT_EQ(seen, (std::vector<std::int64_t>{1, 2, 3}));
}

TEST_F(StatementTest, ResetKeepsBindingsAndResetAndClearDropsThem)
{
    auto select = db->prepare("SELECT ?", 5);
    EXPECT_EQ(select->reset().fetchScalar(), integer(5));
    select->resetAndClear();
    EXPECT_EQ(select->fetchScalar(), none);
}

TEST_F(StatementTest, OnlyTheFirstStatementIsPrepared)
{
    auto statement = db->prepare("SELECT 1; SELECT 2");
    EXPECT_EQ(statement->sql(), "SELECT 1;");
    EXPECT_EQ(statement->fetchScalar(), integer(1));
}

// Text without a statement runs as nothing, also an empty view that points nowhere; it never reports the
// message of an earlier, unrelated failure.
TEST_F(StatementTest, EmptyTextRunsAsNothing)
{
    EXPECT_THROW(db->runStatement("SELECT missing"), Result);
    for (const std::string_view sql : {std::string_view(), std::string_view(""), std::string_view(" -- none")}) {
        SCOPED_TRACE(std::string(sql));
        EXPECT_EQ(db->prepare(sql)->sql(), "");
        EXPECT_EQ(db->scalar(sql), none);
        EXPECT_NO_THROW(db->runStatement(sql));
    }
}

// A value that SQLite refuses is reported, not left unbound as NULL.
TEST_F(StatementTest, RefusedBindIsReported)
{
    auto select = db->prepare("SELECT ?");
    try {
        select->bindValue(integer(1), 2);
        FAIL();
    } catch (const Result& error) {
        EXPECT_EQ(error.code(), 25); // SQLITE_RANGE
        EXPECT_STREQ(error.what(), "column index out of range (code: 25)");
    }
    // With extended codes on, a refused bind reads like every other error of the connection.
    db->setUsesExtendedErrorCodes(true);
    try {
        select->bindValue(integer(1), 2);
        FAIL();
    } catch (const Result& error) {
        EXPECT_EQ(error.kind(), Result::Kind::extendedError);
        EXPECT_STREQ(error.what(), "column index out of range (extended code: 25)");
    }
    db->setUsesExtendedErrorCodes(false);
    // A text longer than the connection allows is refused, not stored as NULL.
    sqlite3_limit(db->handle(), SQLITE_LIMIT_LENGTH, 10);
    auto insert = db->prepare("INSERT INTO t (a) VALUES (?)");
    EXPECT_THROW(insert->bind(std::string(11, 'x')), Result);
    EXPECT_EQ(count(), 0);
}

TEST_F(StatementTest, RebindingReplacesEveryValueAndAFailedBindLeavesNoStaleOnes)
{
    auto select = db->prepare("SELECT coalesce(?, 'null') || '/' || coalesce(?, 'null')");
    select->bind(1, "a");
    EXPECT_EQ(select->fetchScalar(), text("1/a"));
    select->bind({integer(2), none});
    EXPECT_EQ(select->fetchScalar(), text("2/null"));
    sqlite3_limit(db->handle(), SQLITE_LIMIT_LENGTH, 10);
    EXPECT_THROW(select->bind(3, std::string(11, 'x')), Result);
    EXPECT_EQ(select->fetchScalar(), text("null/null"));
}

TEST_F(StatementTest, ValuesOfExpressionsReadByStorageClass)
{
    auto select = db->prepare("SELECT zeroblob(3), 1.5, 'é', NULL, 42");
    EXPECT_EQ(*select->failableNext(),
              (Bindings{Binding(Blob({0, 0, 0})), Binding(1.5), text("é"), none, integer(42)}));
}

using StatementDeathTest = StatementTest;

TEST_F(StatementDeathTest, WrongValueCountIsFatal)
{
    auto select = db->prepare("SELECT ?, ?");
    EXPECT_DEATH(select->bind({integer(1), integer(2), integer(3)}),
                 "SQLite/Statement:[0-9]+: Fatal error: 2 values expected, 3 passed");
}

TEST_F(StatementDeathTest, UnknownParameterNameIsFatal)
{
    auto select = db->prepare("SELECT :a");
    EXPECT_DEATH(select->bindNamed({{":b", integer(1)}}),
                 "SQLite/Statement:[0-9]+: Fatal error: parameter not found: :b");
}
