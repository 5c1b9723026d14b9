// Reading rows by typed column: the column-name map of a query, "*" expansion, the lookup rule and its errors.

#include "sqlite/CoreFunctions.h"
#include "sqlite/Operators.h"
#include "sqlite/QueryRunning.h"

#include <gtest/gtest.h>
#include <map>

namespace {

using namespace sqlite;

template <class T> Expression<T> column(std::string_view name)
{
    return Expression<T>::makeIdentifierExpression(name);
}

class RowsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        db = Connection::open(Connection::Location::inMemory());
        db->executeScript("CREATE TABLE screenshots (id INTEGER PRIMARY KEY, name TEXT, created_at TEXT);"
                          "CREATE TABLE folders_screenshots (id INTEGER PRIMARY KEY, folder_id INTEGER,"
                          " screenshot_id INTEGER);"
                          "INSERT INTO screenshots VALUES (1, 'alpha', NULL), (2, 'beta', '2024-01-01');"
                          "INSERT INTO folders_screenshots VALUES (10, 7, 1);");
    }

    static std::map<std::string, int> sorted(const ColumnNames::Map& map) { return {map.begin(), map.end()}; }

    std::shared_ptr<Connection> db;
    Table screenshots{"screenshots"};
    Table links{"folders_screenshots"};
    Expression<std::int64_t> id = column<std::int64_t>("id");
    Expression<std::string> name = column<std::string>("name");
    Expression<std::optional<std::string>> createdAt = column<std::optional<std::string>>("created_at");
    Expression<std::int64_t> screenshotId = column<std::int64_t>("screenshot_id");
    Expression<std::int64_t> folderId = column<std::int64_t>("folder_id");
};

TEST_F(RowsTest, StarOfOneTableMapsPlainQuotedNames)
{
    auto names = resolveColumnNames(*db, screenshots);
    EXPECT_EQ(sorted(names->map()),
              (std::map<std::string, int>{{"\"id\"", 0}, {"\"name\"", 1}, {"\"created_at\"", 2}}));
}

TEST_F(RowsTest, QualifiedStarAndColumnsFollowSQLitePositions)
{
    auto query = screenshots.joinQuery(links, equalsExpression(links[screenshotId], screenshots[id]))
                     .selectColumns(Expressible(screenshots[star()]), links[folderId]);
    auto names = resolveColumnNames(*db, query);
    EXPECT_EQ(sorted(names->map()), (std::map<std::string, int>{{"\"screenshots\".\"id\"", 0},
                                                                {"\"screenshots\".\"name\"", 1},
                                                                {"\"screenshots\".\"created_at\"", 2},
                                                                {"\"folders_screenshots\".\"folder_id\"", 3}}));
    auto row = db->pluck(query);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->getValue(name), "alpha");
    EXPECT_EQ(row->getValue(folderId), 7);
    EXPECT_EQ(row->getValue(links[folderId]), 7);
}

TEST_F(RowsTest, UnqualifiedStarOverAJoinExpandsEveryTableWithItsPrefix)
{
    auto query = screenshots.joinQuery(links, equalsExpression(links[screenshotId], screenshots[id]));
    auto names = resolveColumnNames(*db, query);
    EXPECT_EQ(names->size(), 6u);
    EXPECT_EQ(names->map().at("\"folders_screenshots\".\"screenshot_id\""), 5);
    auto row = db->pluck(query);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->getValue(name), "alpha");
    EXPECT_EQ(row->getValue(links[id]), 10);
    EXPECT_EQ(row->getValue(screenshots[id]), 1);
}

// The joined query's own select list plays no part: SQLite's "*" returns all of its columns, so every later
// position must count them all.
TEST_F(RowsTest, StarOfAJoinedQueryExpandsAllItsColumnsWhateverItSelects)
{
    auto narrowLinks = links.selectColumns(folderId);
    auto query = screenshots.joinQuery(narrowLinks, equalsExpression(links[screenshotId], screenshots[id]))
                     .selectColumns(Expressible(star()), screenshots[name]);
    auto row = db->pluck(query);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->values().size(), 7u);
    EXPECT_EQ(row->columnNames().at("\"screenshots\".\"name\""), 6);
    EXPECT_EQ(row->getValue(screenshotId), 1);
    EXPECT_EQ(row->getValue(folderId), 7);
    EXPECT_EQ(row->getValue(screenshots[name]), "alpha");
}

// Expanding "*" of a common table expression prepares it with its WITH clause, or the name would be unknown.
TEST_F(RowsTest, StarOfACommonTableExpressionKeepsItsWithClause)
{
    Table recent("recent");
    auto query = recent.with(recent, screenshots.selectColumns(id, name).filterQuery(greaterValue(id, 1)));
    auto names = resolveColumnNames(*db, query);
    EXPECT_EQ(sorted(names->map()), (std::map<std::string, int>{{"\"id\"", 0}, {"\"name\"", 1}}));
    auto rows = db->prepareRowIterator(query).map([&](const Row& row) { return row.getValue(name); });
    EXPECT_EQ(rows, (std::vector<std::string>{"beta"}));
}

// A "*" over a common table expression counts the columns that SQLite gives it within the whole statement: a
// joined expression is found under the statement's WITH clause, and one defined over a join or an aliased
// source keeps all its columns, so a column selected after the "*" is read from its own position.
TEST_F(RowsTest, StarOverCommonTableExpressionsCountsWhatSQLiteReturns)
{
    Table recent("recent");
    auto aliased = screenshots.alias("s");
    auto linked = screenshots.joinQuery(links, equalsExpression(links[screenshotId], screenshots[id]));
    struct Case {
        std::string label;
        QueryType query;
        std::size_t columns;
    };
    const Case cases[] = {
        {"joined expression",
         screenshots.with(recent, links.selectColumns(screenshotId, folderId))
             .joinQuery(recent, equalsExpression(recent[screenshotId], screenshots[id]))
             .selectColumns(Expressible(star()), screenshots[name]),
         6},
        {"expression over a join", recent.with(recent, linked).selectColumns(Expressible(star()), folderId), 7},
        {"expression over an aliased source",
         recent.with(recent, aliased.selectColumns(aliased[id], aliased[name]))
             .selectColumns(Expressible(star()), name),
         3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        auto row = db->pluck(c.query);
        ASSERT_TRUE(row);
        EXPECT_EQ(row->values().size(), c.columns);
        EXPECT_EQ(row->columnNames().size(), c.columns - 1) << "one key for the column repeated after the star";
        const Expression<void>& last = c.query.clauses.select.columns.back().expression();
        EXPECT_EQ(row->sharedColumnNames()->indexOf(last.template_), static_cast<int>(c.columns) - 1);
    }
}

TEST_F(RowsTest, StarOfATableNotInTheQueryIsNoSuchTable)
{
    Table other("u");
    try {
        resolveColumnNames(*db, screenshots.selectColumns(Expressible(other[star()])));
        FAIL() << "expected QueryError";
    } catch (const QueryError& error) {
        EXPECT_EQ(error.kind(), QueryError::Kind::noSuchTable);
        EXPECT_STREQ(error.what(), "No such table: \"u\"");
    }
}

TEST_F(RowsTest, AliasedAndDatabaseQualifiedStarsUseTheirPrefix)
{
    auto aliased = screenshots.alias("s");
    auto names = resolveColumnNames(*db, aliased.selectColumns(Expressible(aliased[star()])));
    EXPECT_EQ(names->map().at("\"s\".\"name\""), 1);

    // A database-qualified table over a join: keys "main"."screenshots"."c", found by "screenshots"."c" and "c".
    Table inMain("screenshots", "main");
    auto joined = inMain.joinQuery(links, equalsExpression(links[screenshotId], inMain[id]));
    names = resolveColumnNames(*db, joined);
    EXPECT_EQ(names->map().at("\"main\".\"screenshots\".\"created_at\""), 2);
    auto row = db->pluck(joined);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->getValue(name), "alpha");
    EXPECT_EQ(row->getValue(inMain[name]), "alpha");
    EXPECT_EQ(row->getValue(screenshots[name]), "alpha");
}

TEST_F(RowsTest, AggregatesAndRepeatedColumnsAreOrdinaryKeys)
{
    auto query = screenshots.selectColumns(name, Expression<std::int64_t>("count(*)"), name);
    auto names = resolveColumnNames(*db, query);
    EXPECT_EQ(sorted(names->map()), (std::map<std::string, int>{{"\"name\"", 2}, {"count(*)", 1}}));
}

TEST_F(RowsTest, StarOfAMissingTableIsSQLitesError)
{
    EXPECT_THROW(resolveColumnNames(*db, Table("nothing")), Result);
}

TEST_F(RowsTest, LookupErrorsHaveTheirExactTexts)
{
    auto query = screenshots.joinQuery(links, equalsExpression(links[screenshotId], screenshots[id]))
                     .selectColumns(screenshots[id], links[id], screenshots[name]);
    auto row = db->pluck(query);
    ASSERT_TRUE(row);
    struct Case {
        std::function<void()> read;
        std::string text;
    };
    const Case cases[] = {
        {[&] { row->getValue(column<std::int64_t>("missing")); },
         "No such column `\"missing\"` in columns [\"\\\"folders_screenshots\\\".\\\"id\\\"\", "
         "\"\\\"screenshots\\\".\\\"id\\\"\", \"\\\"screenshots\\\".\\\"name\\\"\"]"},
        {[&] { row->getValue(id); },
         "Ambiguous column `\"id\"` (please disambiguate: [\"\\\"folders_screenshots\\\".\\\"id\\\"\", "
         "\"\\\"screenshots\\\".\\\"id\\\"\"])"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            c.read();
            ADD_FAILURE() << "expected QueryError";
        } catch (const QueryError& error) {
            EXPECT_EQ(std::string(error.what()), c.text);
        }
    }
    // A failed lookup leaves the row as it was.
    EXPECT_EQ(row->getValue(screenshots[id]), 1);
}

TEST_F(RowsTest, NullOrAnotherStorageClassUnderARequiredReadIsUnexpectedNull)
{
    auto rows = db->prepareQuery(screenshots.orderQuery(id.asc()));
    auto first = rows.failableNext();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->getOptionalValue(createdAt), std::nullopt);
    try {
        first->getValue(column<std::string>("created_at"));
        FAIL() << "expected QueryError";
    } catch (const QueryError& error) {
        EXPECT_STREQ(error.what(), "Unexpected null value for column `\"created_at\"`");
    }
    // An integer column read as text is no value for the optional read and an error for the required one.
    EXPECT_EQ(first->getOptionalValue(column<std::optional<std::string>>("id")), std::nullopt);
    EXPECT_THROW(first->getValue(column<std::string>("id")), QueryError);
    auto second = rows.failableNext();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->getOptionalValue(createdAt), "2024-01-01");
    EXPECT_EQ((*second)[name], "beta");
    EXPECT_FALSE(rows.failableNext());
}

TEST_F(RowsTest, QualifiedColumnIsNotFoundAmongPlainNames)
{
    auto row = db->pluck(screenshots);
    ASSERT_TRUE(row);
    EXPECT_THROW(row->getValue(screenshots[name]), QueryError);
}

TEST_F(RowsTest, EmptySelectionHasAnEmptyMap)
{
    ColumnNames names{ColumnNames::Map{}};
    try {
        names.indexOf("\"a\"");
        FAIL() << "expected QueryError";
    } catch (const QueryError& error) {
        EXPECT_STREQ(error.what(), "No such column `\"a\"` in columns []");
    }
}

TEST(ColumnNamesTest, SuffixLookupIsPrecomputedPerKey)
{
    ColumnNames names(ColumnNames::Map{{"\"db\".\"t\".\"c\"", 0}, {"\"u\".\"c\"", 1}, {"\"u\".\"d\"", 2}, {"x", 3}});
    EXPECT_EQ(names.indexOf("\"t\".\"c\""), 0);
    EXPECT_EQ(names.indexOf("\"d\""), 2);
    EXPECT_EQ(names.indexOf("x"), 3);
    EXPECT_THROW(names.indexOf("\"c\""), QueryError);
    EXPECT_THROW(names.indexOf("c\""), QueryError) << "a suffix starts right after a dot only";
}

// The iterator reads a row into the storage of the row before when nothing holds that one any more: rows that
// are kept, or copied out of a range loop, must keep their own values while later rows are read.
TEST_F(RowsTest, KeptRowsKeepTheirValuesWhileLaterRowsAreRead)
{
    db->executeScript("INSERT INTO screenshots VALUES (3, 'a name too long for any short-string buffer', NULL)");
    auto query = screenshots.orderQuery(id.asc());
    const std::vector<std::string> expected{"alpha", "beta", "a name too long for any short-string buffer"};

    std::vector<Row> kept;
    RowIterator rows = db->prepareRowIterator(query);
    while (std::optional<Row> row = rows.failableNext()) {
        kept.push_back(*row);
    }
    std::vector<Row> copied;
    for (const Row& row : db->prepareRowIterator(query)) {
        copied.push_back(row);
    }
    for (const auto* list : {&kept, &copied}) {
        ASSERT_EQ(list->size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ((*list)[i].getValue(id), static_cast<std::int64_t>(i + 1));
            EXPECT_EQ((*list)[i].getValue(name), expected[i]);
        }
    }
}

TEST_F(RowsTest, RowIteratorMapsAndSkipsAndIterates)
{
    auto query = screenshots.orderQuery(id.asc());
    auto names = db->prepareRowIterator(query).map([&](const Row& row) { return row.getValue(name); });
    EXPECT_EQ(names, (std::vector<std::string>{"alpha", "beta"}));
    auto dated =
        db->prepareRowIterator(query).compactMap([&](const Row& row) { return row.getOptionalValue(createdAt); });
    EXPECT_EQ(dated, (std::vector<std::string>{"2024-01-01"}));
    std::vector<std::int64_t> ids;
    for (const Row& row : db->prepareQuery(query)) {
        ids.push_back(row.getValue(id));
    }
    EXPECT_EQ(ids, (std::vector<std::int64_t>{1, 2}));
}

TEST_F(RowsTest, SQLFormMapsQuotedResultNamesLaterWinning)
{
    auto rows = db->prepareRowIterator("SELECT name, id AS name, ? AS x FROM screenshots WHERE id = 1",
                                       {Binding(std::int64_t{5})});
    EXPECT_EQ(sorted(rows.columnNames()), (std::map<std::string, int>{{"\"name\"", 1}, {"\"x\"", 2}}));
    auto row = rows.failableNext();
    ASSERT_TRUE(row);
    EXPECT_EQ(row->getValue(column<std::int64_t>("name")), 1);
    EXPECT_EQ(row->getValue(column<std::int64_t>("x")), 5);
}

// Text without a statement prepares as nothing; reading it gives no rows rather than a misuse error.
TEST_F(RowsTest, SQLFormWithoutAStatementHasNoRows)
{
    auto rows = db->prepareRowIterator("  -- nothing to run\n");
    EXPECT_TRUE(rows.columnNames().empty());
    EXPECT_FALSE(rows.failableNext());
    EXPECT_TRUE(rows.map([](const Row& row) { return row.values().size(); }).empty());
}

// A step that fails must surface from every way of reading rows, never end the list early.
TEST_F(RowsTest, FailingStepIsThrownFromTheRowSequence)
{
    db->executeScript("CREATE TABLE n (v INTEGER); INSERT INTO n VALUES (1), (-9223372036854775807 - 1), (3);");
    Table n("n");
    auto v = column<std::int64_t>("v");
    // abs() of the smallest integer overflows on the second row.
    auto query = n.selectColumns(sqlite::abs(v));
    auto rows = db->prepareRowIterator(query);
    EXPECT_TRUE(rows.failableNext());
    try {
        rows.failableNext();
        FAIL() << "expected Result";
    } catch (const Result& error) {
        EXPECT_EQ(error.code(), 1);
        EXPECT_NE(std::string(error.what()).find("integer overflow"), std::string::npos);
    }
    EXPECT_THROW(db->prepareRowIterator(query).map([](const Row& row) { return row.values().size(); }), Result);
    EXPECT_THROW(
        {
            for (const Row& row : db->prepareQuery(query)) {
                (void)row;
            }
        },
        Result);
    auto plain = db->prepareQuery(query);
    plain.next();
    EXPECT_THROW(plain.next(), Result);
}

} // namespace
