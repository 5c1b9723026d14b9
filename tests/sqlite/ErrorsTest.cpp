#include "sqlite/Errors.h"

#include "sqlite/ColumnNames.h"
#include "sqlite/Connection.h"
#include "sqlite/SchemaChanger.h"
#include "sqlite/Value.h"
#include "tests/sqlite/TemporaryDirectory.h"

#include <fstream>
#include <functional>
#include <gtest/gtest.h>

using namespace sqlite;

namespace {

std::shared_ptr<Connection> tableWithUniqueColumn()
{
    auto db = Connection::open(Connection::Location::inMemory());
    db->executeScript("CREATE TABLE t (a INTEGER UNIQUE); INSERT INTO t VALUES (1);");
    return db;
}

template <class Error, class Work> Error caught(Work work)
{
    try {
        work();
    } catch (const Error& error) {
        return error;
    }
    throw std::logic_error("nothing was thrown");
}

/// A library file whose index page is overwritten with garbage, as a failing disk or a killed copy leaves it.
std::string fileWithDamagedIndex(const TemporaryDirectory& directory)
{
    const std::string path = directory.file("damaged.sqlite3");
    std::int64_t rootPage = 0;
    {
        auto db = Connection::openPath(path);
        db->executeScript("CREATE TABLE t (a TEXT); CREATE INDEX t_a ON t(a);"
                          "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < 2000) "
                          "INSERT INTO t SELECT printf('row %d', x) FROM n;");
        rootPage = std::get<std::int64_t>(*db->scalar("SELECT rootpage FROM sqlite_master WHERE name = 't_a'"));
    }
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp((rootPage - 1) * 4096);
    const std::string garbage(4096, '\xff');
    file.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
    return path;
}

} // namespace

TEST(ResultTest, CorruptionIsToldByItsCodeWithOrWithoutExtendedCodes)
{
    TemporaryDirectory directory;
    const std::string path = fileWithDamagedIndex(directory);
    for (const bool extended : {false, true}) {
        SCOPED_TRACE(extended ? "extended codes" : "primary codes");
        auto db = Connection::openPath(path);
        db->setUsesExtendedErrorCodes(extended);
        const auto error = caught<Result>([&] { db->scalar("SELECT count(*) FROM t WHERE a > 'row 5'"); });
        EXPECT_TRUE(error.isCorruption()) << error.what();
    }
    EXPECT_TRUE(Result::extendedError("malformed", 267).isCorruption()); // SQLITE_CORRUPT_VTAB, as FTS5 reports it
    EXPECT_FALSE(
        caught<Result>([] { tableWithUniqueColumn()->runStatement("INSERT INTO t VALUES (1)"); }).isCorruption());
    // A text that names the code is no corruption: only the code tells.
    EXPECT_FALSE(Result::error("no such column: \"code: 11\"", 1).isCorruption());
}

TEST(ResultTest, AFileThatIsNoDatabaseIsToldByItsCode)
{
    TemporaryDirectory directory;
    const std::string path = directory.file("notes.sqlite3");
    std::ofstream(path) << std::string(4096, 'x');
    const auto error =
        caught<Result>([&] { Connection::openPath(path)->scalar("SELECT count(*) FROM sqlite_master"); });
    EXPECT_TRUE(error.isNotADatabase()) << error.what();
    EXPECT_FALSE(error.isCorruption());
    EXPECT_FALSE(Result::extendedError("malformed", 267).isNotADatabase());
    EXPECT_FALSE(Result::error("file is not a database (code: 26)", 1).isNotADatabase());
}

TEST(ResultTest, ConstraintFailureCarriesPrimaryCode)
{
    auto db = tableWithUniqueColumn();
    const auto error = caught<Result>([&] { db->runStatement("INSERT INTO t VALUES (1)"); });
    EXPECT_EQ(error.kind(), Result::Kind::error);
    EXPECT_EQ(error.code(), 19);
    EXPECT_EQ(error.message(), "UNIQUE constraint failed: t.a");
    EXPECT_STREQ(error.what(), "UNIQUE constraint failed: t.a (code: 19)");
    EXPECT_EQ(error.statement(), nullptr);
}

TEST(ResultTest, ExtendedCodesReadFromTheHandle)
{
    auto db = tableWithUniqueColumn();
    db->setUsesExtendedErrorCodes(true);
    const auto error = caught<Result>([&] { db->runStatement("INSERT INTO t VALUES (1)"); });
    EXPECT_EQ(error.kind(), Result::Kind::extendedError);
    EXPECT_EQ(error.code(), 2067); // SQLITE_CONSTRAINT_UNIQUE
    EXPECT_STREQ(error.what(), "UNIQUE constraint failed: t.a (extended code: 2067)");
}

TEST(ResultTest, DescriptionWithStatementNamesItsSql)
{
    auto db = tableWithUniqueColumn();
    auto statement = db->prepare("SELECT a FROM t");
    EXPECT_STREQ(Result::error("boom", 11, statement).what(), "boom (SELECT a FROM t) (code: 11)");
    EXPECT_STREQ(Result::extendedError("boom", 267, statement).what(), "boom (SELECT a FROM t) (extended code: 267)");
    EXPECT_NE(std::string(Result::error("disk image is malformed", 11).what()).find("code: 11"), std::string::npos);
}

TEST(ResultTest, OnlyOkRowAndDoneAreSuccess)
{
    for (int code : {0, 100, 101}) {
        EXPECT_TRUE(Result::isSuccessCode(code)) << code;
    }
    for (int code : {1, 5, 11, 19, 21, 102, 266}) {
        EXPECT_FALSE(Result::isSuccessCode(code)) << code;
    }
    auto db = Connection::open(Connection::Location::inMemory());
    EXPECT_EQ(Result::check(101, *db), 101);
    EXPECT_THROW(Result::check(5, *db), Result);
}

TEST(ResultTest, PrepareFailureReportsSqliteMessage)
{
    auto db = Connection::open(Connection::Location::inMemory());
    const auto error = caught<Result>([&] { db->prepare("SELECT * FROM missing"); });
    EXPECT_STREQ(error.what(), "no such table: missing (code: 1)");
}

TEST(QueryErrorTest, Descriptions)
{
    EXPECT_STREQ(QueryError::noSuchTable("\"u\"").what(), "No such table: \"u\"");
    EXPECT_STREQ(QueryError::noSuchColumn("a", {"b", "c"}).what(), "No such column `a` in columns [\"b\", \"c\"]");
    EXPECT_STREQ(QueryError::noSuchColumn("a", {}).what(), "No such column `a` in columns []");
    EXPECT_STREQ(QueryError::ambiguousColumn("\"id\"", {"\"a\".\"id\"", "\"b\".\"id\""}).what(),
                 R"(Ambiguous column `"id"` (please disambiguate: ["\"a\".\"id\"", "\"b\".\"id\""]))");
    EXPECT_STREQ(QueryError::noSuchColumn("x", {"back\\slash"}).what(),
                 R"(No such column `x` in columns ["back\\slash"])");
    EXPECT_STREQ(QueryError::unexpectedNullValue("\"name\"").what(), "Unexpected null value for column `\"name\"`");
}

TEST(ErrorTest, EveryFailureOfTheLibraryIsCaughtAsOneBaseAndToldApartByKind)
{
    struct Case {
        const char* name;
        Error::Kind kind;
        std::function<void()> work;
    };
    const std::vector<Case> cases{
        {"SQL that does not parse", Error::Kind::result,
         [] { Connection::open(Connection::Location::inMemory())->executeScript("SELEC 1"); }},
        {"a constraint", Error::Kind::result,
         [] { tableWithUniqueColumn()->executeScript("INSERT INTO t VALUES (1)"); }},
        {"a column not in the row", Error::Kind::query,
         [] {
             ColumnNames(ColumnNames::Map{{"a", 0}}).indexOf("b");
         }},
        {"a text that is no date", Error::Kind::value,
         [] { valueFromBinding<Date>(Binding(std::string("yesterday"))); }},
        {"a table that cannot be rebuilt", Error::Kind::schemaChange,
         [] {
             SchemaChanger(Connection::open(Connection::Location::inMemory()), SQLiteVersion{3, 24, 0})
                 .alter("missing", [](auto& table) { table.drop("x"); });
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            c.work();
            ADD_FAILURE() << "nothing was thrown";
        } catch (const Error& error) {
            EXPECT_EQ(error.kind(), c.kind);
            EXPECT_STRNE(error.what(), "");
        }
    }
}
