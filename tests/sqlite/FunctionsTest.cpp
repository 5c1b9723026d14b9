// SQL function builders: core functions, collations, date and time functions, window functions.
// Golden texts and bindings, and a few run on a real database to show SQLite accepts them.

#include "sqlite/Collation.h"
#include "sqlite/CoreFunctions.h"
#include "sqlite/DateFunctions.h"
#include "sqlite/QueryRunning.h"
#include "sqlite/WindowFunctions.h"

#include <gtest/gtest.h>
#include <ostream>

namespace sqlite {
inline void PrintTo(const Expression<void>& e, std::ostream* os)
{
    *os << '[' << e.template_ << "] {";
    for (std::size_t i = 0; i < e.bindings.size(); ++i) {
        *os << (i ? ", " : "") << describe(e.bindings[i]);
    }
    *os << '}';
}
} // namespace sqlite

namespace {

using namespace sqlite;

std::optional<Binding> b(std::int64_t v)
{
    return Binding(v);
}
std::optional<Binding> b(const char* v)
{
    return Binding(std::string(v));
}

struct Golden {
    Expression<void> built;
    std::string text;
    Bindings bindings;
};

void expectGolden(const std::vector<Golden>& cases)
{
    for (const Golden& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.built, Expression<void>(c.text, c.bindings));
    }
}

const auto x = Expression<std::string>::makeIdentifierExpression("x");
const auto ox = Expression<std::optional<std::string>>::makeIdentifierExpression("ox");
const auto n = Expression<std::int64_t>::makeIdentifierExpression("n");
const auto r = Expression<double>::makeIdentifierExpression("r");
// A column that carries a binding of its own, to show the order of bindings.
const Expression<std::string> bound("(\"x\" || ?)", Bindings{b("!")});

TEST(CoreFunctionsTest, CallsAndOperatorsHaveTheirTextsAndBindings)
{
    expectGolden({
        Golden{abs(n), "abs(\"n\")", {}},
        Golden{round(r), "round(\"r\")", {}},
        Golden{round(r, 2), "round(\"r\", ?)", {b(2)}},
        Golden{sqlite::random(), "random()", {}},
        Golden{randomblob(16), "randomblob(?)", {b(16)}},
        Golden{zeroblob(4), "zeroblob(?)", {b(4)}},
        Golden{length(x), "length(\"x\")", {}},
        Golden{lower(trim(bound)), "lower(trim((\"x\" || ?)))", {b("!")}},
        Golden{upper(x), "upper(\"x\")", {}},
        Golden{ltrim(x), "ltrim(\"x\")", {}},
        Golden{ltrim(x, "a"), "ltrim(\"x\", ?)", {b("a")}},
        Golden{rtrim(bound, "ab"), "rtrim((\"x\" || ?), ?)", {b("!"), b("ab")}},
        Golden{replace(x, "a", "b"), "replace(\"x\", ?, ?)", {b("a"), b("b")}},
        Golden{substr(x, 2), "substr(\"x\", ?)", {b(2)}},
        Golden{substr(x, 2, 3), "substr(\"x\", ?, ?)", {b(2), b(3)}},
        Golden{substr(x, PositionRange{2, 5}), "substr(\"x\", ?, ?)", {b(2), b(3)}},
        Golden{like(x, "a%"), "(\"x\" LIKE ?)", {b("a%")}},
        Golden{like(bound, "a%", "\\"), "((\"x\" || ?) LIKE ? ESCAPE ?)", {b("!"), b("a%"), b("\\")}},
        Golden{like(x, bound), "(\"x\" LIKE (\"x\" || ?))", {b("!")}},
        Golden{like(x, bound, "!"), "(\"x\" LIKE (\"x\" || ?) ESCAPE ?)", {b("!"), b("!")}},
        Golden{like("abc", bound), "(? LIKE (\"x\" || ?))", {b("abc"), b("!")}},
        Golden{glob(x, "a*"), "(\"x\" GLOB ?)", {b("a*")}},
        Golden{match(x, "a"), "(\"x\" MATCH ?)", {b("a")}},
        Golden{regexp(x, "^a"), "(\"x\" REGEXP ?)", {b("^a")}},
        Golden{collate(x, Collation::nocase()), "(\"x\" COLLATE NOCASE)", {}},
        Golden{in(n, {1, 2, 3}), "(\"n\" IN (?, ?, ?))", {b(1), b(2), b(3)}},
        Golden{in(n, {7}), "(\"n\" IN (?))", {b(7)}},
        Golden{in(bound, {}), "((\"x\" || ?) IN ())", {b("!")}},
        Golden{ifnull(ox, "none"), "ifnull(\"ox\", ?)", {b("none")}},
        Golden{ifnull(ox, bound), "ifnull(\"ox\", (\"x\" || ?))", {b("!")}},
        Golden{ifnull(ox, ox), "ifnull(\"ox\", \"ox\")", {}},
    });
}

template <class E>
concept CanLower = requires(const E& e)
{
    lower(e);
};
template <class E>
concept CanRound = requires(const E& e)
{
    round(e);
};

TEST(CoreFunctionsTest, ResultTypesFollowTheReceiver)
{
    static_assert(std::is_same_v<decltype(length(ox)), Expression<std::optional<std::int64_t>>>);
    static_assert(std::is_same_v<decltype(length(x)), Expression<std::int64_t>>);
    static_assert(std::is_same_v<decltype(like(ox, "a")), Expression<std::optional<bool>>>);
    static_assert(std::is_same_v<decltype(ifnull(ox, "a")), Expression<std::string>>);
    static_assert(std::is_same_v<decltype(ifnull(ox, ox)), Expression<std::optional<std::string>>>);
    static_assert(!CanLower<Expression<std::int64_t>>, "text functions take text expressions only");
    static_assert(!CanRound<Expression<std::int64_t>>, "round takes a double expression");
}

TEST(CoreFunctionsDeathTest, ReversedSubstringRangeIsMisuse)
{
    EXPECT_DEATH(substr(x, PositionRange{5, 2}), "SQLite/CoreFunctions:[0-9]+: Fatal error");
}

TEST(CollationTest, TextsOfTheFourCases)
{
    EXPECT_EQ(Collation::binary().description(), "BINARY");
    EXPECT_EQ(Collation::nocase().expression(), Expression<void>("NOCASE"));
    EXPECT_EQ(Collation::rtrim().description(), "RTRIM");
    EXPECT_EQ(Collation::custom("my\"seq").description(), "\"my\"\"seq\"");
    EXPECT_EQ(Collation::custom("").description(), "\"\"");
}

TEST(DateFunctionsTest, TimeValuesModifiersAndFormatsAreBound)
{
    // 2024-01-01T00:00:00Z.
    const Date newYear{std::chrono::seconds(1704067200)};
    expectGolden({
        Golden{DateFunctions::datetime("now"), "datetime(?)", {b("now")}},
        {DateFunctions::date("now", {"start of month", "+1 day"}),
         "date(?, ?, ?)",
         {b("now"), b("start of month"), b("+1 day")}},
        {DateFunctions::time("12:00", {"+1 hour", "-1 minute", "utc"}),
         "time(?, ?, ?, ?)",
         {b("12:00"), b("+1 hour"), b("-1 minute"), b("utc")}},
        Golden{DateFunctions::strftime("%Y", "now"), "strftime(?, ?)", {b("%Y"), b("now")}},
        Golden{
            DateFunctions::strftime("%Y", "now", {"+1 year"}), "strftime(?, ?, ?)", {b("%Y"), b("now"), b("+1 year")}},
        Golden{DateFunctions::date(newYear), "date(?)", {b("2024-01-01T00:00:00.000")}},
        {DateFunctions::julianday(Expression<std::string>::makeIdentifierExpression("created_at")),
         "julianday(\"created_at\")",
         {}},
        Golden{DateFunctions::datetime(bound), "datetime((\"x\" || ?))", {b("!")}},
    });
}

TEST(WindowFunctionsTest, RankingAndValueFunctionsOverOneOrdering)
{
    const auto ordering = n.desc();
    expectGolden({
        Golden{rowNumber(ordering), "row_number() OVER (ORDER BY \"n\" DESC)", {}},
        Golden{rank(n.asc()), "rank() OVER (ORDER BY \"n\" ASC)", {}},
        Golden{denseRank(ordering), "dense_rank() OVER (ORDER BY \"n\" DESC)", {}},
        Golden{percentRank(ordering), "percent_rank() OVER (ORDER BY \"n\" DESC)", {}},
        Golden{cumeDist(ordering), "cume_dist() OVER (ORDER BY \"n\" DESC)", {}},
        Golden{ntile(4, bound.asc()), "ntile(?) OVER (ORDER BY (\"x\" || ?) ASC)", {b(4), b("!")}},
        Golden{lag(x, 1, ordering), "lag(\"x\", 1) OVER (ORDER BY \"n\" DESC)", {}},
        Golden{lag(x, 1, Expressible(std::string("it's")), ordering),
               "lag(\"x\", 1, 'it''s') OVER (ORDER BY \"n\" DESC)",
               {}},
        Golden{
            lead(n, -2, Expressible(std::int64_t{0}), ordering), "lead(\"n\", -2, 0) OVER (ORDER BY \"n\" DESC)", {}},
        Golden{firstValue(bound, bound.asc()),
               "first_value((\"x\" || ?)) OVER (ORDER BY (\"x\" || ?) ASC)",
               {b("!"), b("!")}},
        Golden{lastValue(x, ordering), "last_value(\"x\") OVER (ORDER BY \"n\" DESC)", {}},
        Golden{nthValue(bound, 2, ordering), "nth_value((\"x\" || ?), 2) OVER (ORDER BY \"n\" DESC)", {b("!")}},
    });
}

TEST(FunctionsOnADatabaseTest, SQLiteRunsWhatTheBuildersWrite)
{
    auto db = Connection::open(Connection::Location::inMemory());
    db->executeScript(
        "CREATE TABLE t (n INTEGER, x TEXT, ox TEXT, r REAL);"
        "INSERT INTO t VALUES (1, 'Apple', NULL, 1.25), (2, 'b_x', 'o', 2.5), (3, 'Cherry', NULL, 3.75);");
    Table t("t");
    auto values = [&](const Expression<void>& selected) {
        return db->prepareRowIterator(t.selectColumns(selected).orderQuery(n.asc())).map([](const Row& row) {
            return row.values().front();
        });
    };
    EXPECT_EQ(values(rowNumber(n.desc())), (Bindings{b(3), b(2), b(1)}));
    EXPECT_EQ(values(lag(x, 1, Expressible(std::string("none")), n.asc())),
              (Bindings{b("none"), b("Apple"), b("b_x")}));
    EXPECT_EQ(values(ifnull(ox, "-")), (Bindings{b("-"), b("o"), b("-")}));
    EXPECT_EQ(values(substr(x, PositionRange{2, 4})), (Bindings{b("pp"), b("_x"), b("he")}));
    EXPECT_EQ(values(collate(x, Collation::nocase())), (Bindings{b("Apple"), b("b_x"), b("Cherry")}));
    EXPECT_EQ(db->queryScalar(t.filterQuery(like(x, "b!_%", "!")).count()), 1);
    EXPECT_EQ(db->queryScalar(t.filterQuery(in(n, {})).count()), 0);
    EXPECT_EQ(db->queryScalar(t.filterQuery(in(n, {1, 3})).count()), 2);
    EXPECT_EQ(db->queryScalar(t.selectScalar(DateFunctions::date("2024-01-31", {"+1 day"}))), "2024-02-01");
    EXPECT_EQ(db->queryScalar(t.selectScalar(DateFunctions::date("not a date"))), std::nullopt);
    EXPECT_EQ(db->queryScalar(t.selectScalar(DateFunctions::datetime(Date{std::chrono::seconds(1704067200)}))),
              "2024-01-01 00:00:00");
}

} // namespace
