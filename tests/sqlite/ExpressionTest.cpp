#include "BuilderSupport.h"
#include "sqlite/Module.h"

#include <cmath>
#include <limits>

using namespace builder_test;

TEST(ExpressionTest, IdentifiersAreQuotedWithInnerQuotesDoubled)
{
    EXPECT_EQ(untyped(column<std::int64_t>("created_at")), sql("\"created_at\""));
    EXPECT_EQ(untyped(column<std::int64_t>("a\"b")), sql("\"a\"\"b\""));
    EXPECT_EQ(untyped(rowid()), sql("\"ROWID\""));
    EXPECT_EQ(untyped(Expression<void>::makeLiteralExpression("ASC")), sql("ASC"));
}

TEST(ExpressionTest, ValuesBindTheirStoredForm)
{
    using namespace std::chrono;
    const Date date = sys_days(2024y / 1 / 31) + 13h + 45min + 123ms;
    EXPECT_EQ(untyped(makeValueExpression(true)), sql("?", 1));
    EXPECT_EQ(untyped(makeValueExpression(false)), sql("?", 0));
    EXPECT_EQ(untyped(makeValueExpression(std::int64_t{-7})), sql("?", -7));
    EXPECT_EQ(untyped(makeValueExpression(0.5)), sql("?", 0.5));
    EXPECT_EQ(untyped(makeValueExpression(std::string("x"))), sql("?", "x"));
    EXPECT_EQ(untyped(makeValueExpression(date)), sql("?", "2024-01-31T13:45:00.123"));
    EXPECT_EQ(untyped(makeValueExpression(std::vector<std::byte>{std::byte{1}})), sql("?", Blob{1}));
    EXPECT_EQ(untyped(makeValueExpression(std::optional<std::string>())), sql("?", nullptr));
    EXPECT_EQ(Expressible(std::string("x")).expression(), sql("?", "x"));
    EXPECT_EQ(Expressible(std::optional<std::int64_t>()).expression(), sql("?", nullptr));
}

TEST(ExpressionTest, OrderingTermsAndCastKeepTheBindings)
{
    const Expression<std::int64_t> withValue("(\"n\" + ?)", Bindings{Binding(std::int64_t{2})});
    EXPECT_EQ(column<std::int64_t>("sort_order").asc(), sql("\"sort_order\" ASC"));
    EXPECT_EQ(withValue.desc(), sql("(\"n\" + ?) DESC", 2));
    EXPECT_EQ(desc(withValue), sql("(\"n\" + ?) DESC", 2));

    const auto text = cast<std::string>(column<std::int64_t>("n"));
    static_assert(std::is_same_v<decltype(text), const Expression<std::string>>);
    EXPECT_EQ(untyped(text), sql("CAST (\"n\" AS TEXT)"));
    const auto optionalReal = cast<double>(column<std::optional<std::int64_t>>("n"));
    static_assert(std::is_same_v<decltype(optionalReal), const Expression<std::optional<double>>>);
    EXPECT_EQ(untyped(optionalReal), sql("CAST (\"n\" AS REAL)"));
    EXPECT_EQ(untyped(cast<std::int64_t>(withValue)), sql("CAST ((\"n\" + ?) AS INTEGER)", 2));
}

TEST(ExpressionTest, RetypingCopiesTextAndValues)
{
    const Expression<std::int64_t> n("(? + 1)", Bindings{Binding(std::int64_t{4})});
    const auto optional = initFromExpression<std::optional<std::int64_t>>(n);
    EXPECT_EQ(untyped(optional), untyped(n));
    EXPECT_EQ(untyped(Expression<std::string>(n)), untyped(n));
}

TEST(ToSQLTextTest, WritesEveryKindOfValueAsALiteral)
{
    struct Case {
        std::optional<Binding> value;
        std::string literal;
    };
    const std::vector<Case> cases{
        {std::nullopt, "NULL"},
        {Binding(std::int64_t{42}), "42"},
        {Binding(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808"},
        {Binding(1.0), "1.0"},
        {Binding(0.5), "0.5"},
        {Binding(-2.0), "-2.0"},
        {Binding(0.1), "0.1"},
        {Binding(1e300), "1e+300"},
        {Binding(std::numeric_limits<double>::infinity()), "9e999"},
        {Binding(std::nan("")), "NULL"},
        {Binding(std::string("O'Brien")), "'O''Brien'"},
        {Binding(std::string("")), "''"},
        {Binding(Blob{}), "x''"},
        {Binding(Blob{0, 15, 16, 255}), "x'000f10ff'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.literal);
        EXPECT_EQ(toSQLText("?", Bindings{c.value}), c.literal);
        EXPECT_EQ(sqlLiteral(c.value), c.literal);
    }
    EXPECT_EQ(makeValueExpression(true).description(), "1");
}

TEST(ToSQLTextTest, PlaceholdersTakeTheValuesInOrder)
{
    EXPECT_EQ(toSQLText("?, ?", Bindings{Binding(std::int64_t{1}), std::nullopt}), "1, NULL");
    EXPECT_EQ(toSQLText("?", Bindings{Binding(std::int64_t{1}), Binding(std::int64_t{2})}), "1");
    // A placeholder with no value left stays as it is; nothing is read past the list.
    EXPECT_EQ(toSQLText("? = ?", Bindings{Binding(std::int64_t{1})}), "1 = ?");
    EXPECT_EQ(toSQLText("(\"a\" = ?)", {}), "(\"a\" = ?)");
}

// A "?" that SQLite reads as part of a name or a text is not a placeholder: replacing it would write a value
// into the name and shift every later value onto the wrong placeholder.
TEST(ToSQLTextTest, QuestionMarksInsideQuotesAndCommentsAreNotPlaceholders)
{
    const Bindings two{Binding(std::int64_t{1}), Binding(std::string("x"))};
    struct Case {
        std::string templateText;
        std::string rendered;
    };
    const std::vector<Case> cases{
        {"\"why?\" = ? AND \"b\" = ?", "\"why?\" = 1 AND \"b\" = 'x'"},
        {"'what?' || ? || ?", "'what?' || 1 || 'x'"},
        {"'it''s?' = ? AND ? = \"a\"\"?\"", "'it''s?' = 1 AND 'x' = \"a\"\"?\""},
        {"`q?` = ? AND [r?] = ?", "`q?` = 1 AND [r?] = 'x'"},
        {"? -- a?\n + ?", "1 -- a?\n + 'x'"},
        {"? /* b? */ + ?", "1 /* b? */ + 'x'"},
        {"? /*/ c? */ + ?", "1 /*/ c? */ + 'x'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.templateText);
        EXPECT_EQ(toSQLText(c.templateText, two), c.rendered);
    }
    const auto question = column<std::string>("why?");
    EXPECT_EQ(Expression<void>(question.template_ + " = ?", Bindings{Binding(std::string("a"))}).description(),
              "\"why?\" = 'a'");
}

TEST(SQLTextHelpersTest, JoinInfixAndCallKeepValuesInStep)
{
    const std::vector<Expressible> items{Expression<void>::makeLiteralExpression("a"), std::int64_t{1},
                                         std::int64_t{2}};
    EXPECT_EQ(joinExpressions(", ", items), sql("a, ?, ?", 1, 2));
    EXPECT_EQ(joinExpressions(", ", {}), sql(""));

    const auto c = column<std::int64_t>("c");
    EXPECT_EQ(infixExpression("=", c, std::int64_t{5}), sql("(\"c\" = ?)", 5));
    EXPECT_EQ(infixExpression("=", std::int64_t{5}, c, false), sql("? = \"c\"", 5));
    EXPECT_EQ(wrapAsCall("lower", c), sql("lower(\"c\")"));
    EXPECT_EQ(wrapAsCall("", std::string("v")), sql("(?)", "v"));
    const Expression<std::int64_t> wrapped = wrapInFunction("abs", c);
    EXPECT_EQ(untyped(wrapped), sql("abs(\"c\")"));
    EXPECT_EQ(star(), sql("*"));
}

TEST(ModuleTest, WritesNameAndArgumentsInOrder)
{
    const Module empty{"fts4", {}};
    EXPECT_EQ(empty.expression(), sql("fts4()"));
    const Module module{"rtree", {column<std::int64_t>("id"), column<double>("minX"), std::int64_t{3}}};
    EXPECT_EQ(module.expression(), sql("rtree(\"id\", \"minX\", ?)", 3));
    EXPECT_EQ(Expressible(module).expression(), module.expression());
}
