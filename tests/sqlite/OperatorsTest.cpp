#include "sqlite/Operators.h"

#include "BuilderSupport.h"
#include "sqlite/Aggregates.h"

using namespace builder_test;

namespace {

const auto n = column<std::int64_t>("n");
const auto optN = column<std::optional<std::int64_t>>("o");
const auto text = column<std::string>("t");
const auto optText = column<std::optional<std::string>>("ot");
const auto flag = column<bool>("f");
const auto optFlag = column<std::optional<bool>>("of");
const auto real = column<double>("r");
// An expression that carries a value of its own, to follow bindings through the builders.
const Expression<std::int64_t> bound("(\"n\" + ?)", Bindings{Binding(std::int64_t{9})});

struct Case {
    const char* name;
    Expression<void> built;
    Expression<void> expected;
};

void check(const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.built, c.expected);
    }
}

} // namespace

TEST(OperatorsTest, ComparisonsWrapOperandsInOneInfix)
{
    check({
        {"equals value", equalsValue(n, 5), sql("(\"n\" = ?)", 5)},
        {"equals value left", equalsValue(5, n), sql("(? = \"n\")", 5)},
        {"equals expressions", equalsExpression(n, optN), sql("(\"n\" = \"o\")")},
        {"not equals", notEqualsValue(text, "a"), sql("(\"t\" != ?)", "a")},
        {"is", isValue(optText, std::optional<std::string>("a")), sql("(\"ot\" IS ?)", "a")},
        {"is not", isNotExpression(text, optText), sql("(\"t\" IS NOT \"ot\")")},
        {"greater", greaterValue(real, 1), sql("(\"r\" > ?)", 1.0)},
        {"greater or equal optional", greaterOrEqualValue(optText, "a"), sql("(\"ot\" >= ?)", "a")},
        {"less", lessExpression(bound, n), sql("((\"n\" + ?) < \"n\")", 9)},
        {"less or equal left", lessOrEqualValue(3, bound), sql("(? <= (\"n\" + ?))", 3, 9)},
        {"greater left optional", greaterValue(2, optN), sql("(? > \"o\")", 2)},
    });
}

TEST(OperatorsTest, AnAbsentValueTurnsEqualityIntoIdentityAndStaysBound)
{
    const std::optional<std::int64_t> none;
    check({
        {"equals absent", equalsValue(optN, none), sql("(\"o\" IS ?)", nullptr)},
        {"equals nullopt", equalsValue(optN, std::nullopt), sql("(\"o\" IS ?)", nullptr)},
        {"not equals absent", notEqualsValue(optN, none), sql("(\"o\" IS NOT ?)", nullptr)},
        {"equals absent left", equalsValue(none, optN), sql("(? IS \"o\")", nullptr)},
        {"not equals absent left", notEqualsValue(none, optN), sql("(? IS NOT \"o\")", nullptr)},
        {"is absent", isValue(optN, none), sql("(\"o\" IS ?)", nullptr)},
        {"is not absent", isNotValue(optN, none), sql("(\"o\" IS NOT ?)", nullptr)},
        {"equals present", equalsValue(optN, std::optional<std::int64_t>(4)), sql("(\"o\" = ?)", 4)},
        {"not equals present", notEqualsValue(optN, std::int64_t{4}), sql("(\"o\" != ?)", 4)},
    });
}

TEST(OperatorsTest, ConnectivesNestVisibly)
{
    const auto period = andExpressions(greaterOrEqualValue(optText, "a"), lessOrEqualValue(optText, "b"));
    static_assert(std::is_same_v<decltype(period), const Expression<std::optional<bool>>>);
    check({
        {"time period", period, sql("((\"ot\" >= ?) AND (\"ot\" <= ?))", "a", "b")},
        {"or value", orValue(flag, true), sql("(\"f\" OR ?)", 1)},
        {"and value left", andValue(false, optFlag), sql("(? AND \"of\")", 0)},
        {"not", notExpression(equalsValue(n, 1)), sql("NOT ((\"n\" = ?))", 1)},
        {"and list", andList({equalsValue(n, 1), flag, equalsValue(text, "x")}),
         sql("((\"n\" = ?) AND \"f\" AND (\"t\" = ?))", 1, "x")},
        {"or list of one", orList({flag}), sql("(\"f\")")},
        {"range inside and", andExpressions(closedRangeContains(n, 1, 2), flag),
         sql("(\"n\" BETWEEN ? AND ? AND \"f\")", 1, 2)},
    });
}

TEST(OperatorsTest, ArithmeticIntegerAndTextOperators)
{
    check({
        {"add", addValue(n, 1), sql("(\"n\" + ?)", 1)},
        {"subtract", subtractExpression(real, real), sql("(\"r\" - \"r\")")},
        {"multiply left", multiplyValue(2.5, real), sql("(? * \"r\")", 2.5)},
        {"divide", divideValue(optN, 2), sql("(\"o\" / ?)", 2)},
        {"modulo", moduloValue(n, 3), sql("(\"n\" % ?)", 3)},
        {"shift left", shiftLeftValue(n, 1), sql("(\"n\" << ?)", 1)},
        {"shift right", shiftRightExpression(n, optN), sql("(\"n\" >> \"o\")")},
        {"bitwise and", bitwiseAndValue(n, 6), sql("(\"n\" & ?)", 6)},
        {"bitwise or", bitwiseOrValue(n, 6), sql("(\"n\" | ?)", 6)},
        {"negate", negate(real), sql("-(\"r\")")},
        {"bitwise not", bitwiseNot(optN), sql("~(\"o\")")},
        {"concatenate", concatenateValue(text, "!"), sql("(\"t\" || ?)", "!")},
        {"concatenate left", concatenateValue(">", optText), sql("(? || \"ot\")", ">")},
        {"xor value binds twice", bitwiseXorValue(n, 3), sql("(~((\"n\" & ?)) & (\"n\" | ?))", 3, 3)},
        {"xor expressions", bitwiseXorExpression(bound, optN),
         sql("(~(((\"n\" + ?) & \"o\")) & ((\"n\" + ?) | \"o\"))", 9, 9)},
    });
}

TEST(OperatorsTest, RangeTestsAppendToTheExpression)
{
    check({
        {"closed", closedRangeContains(n, 1, 5), sql("\"n\" BETWEEN ? AND ?", 1, 5)},
        {"half open repeats bindings", halfOpenRangeContains(bound, 1, 5),
         sql("(\"n\" + ?) >= ? AND (\"n\" + ?) < ?", 9, 1, 9, 5)},
        {"through", rangeThroughContains(optText, "m"), sql("\"ot\" <= ?", "m")},
        {"up to", rangeUpToContains(n, 5), sql("\"n\" < ?", 5)},
        {"from", rangeFromContains(real, 0.5), sql("\"r\" >= ?", 0.5)},
    });
}

TEST(OperatorsTest, ResultTypesAreOptionalWhenAnyOperandIs)
{
    static_assert(std::is_same_v<decltype(equalsValue(n, 1)), Expression<bool>>);
    static_assert(std::is_same_v<decltype(equalsValue(optN, 1)), Expression<std::optional<bool>>>);
    static_assert(std::is_same_v<decltype(equalsExpression(n, optN)), Expression<std::optional<bool>>>);
    static_assert(std::is_same_v<decltype(equalsExpression(optN, n)), Expression<std::optional<bool>>>);
    static_assert(std::is_same_v<decltype(addValue(n, 1)), Expression<std::int64_t>>);
    static_assert(std::is_same_v<decltype(addValue(1, optN)), Expression<std::optional<std::int64_t>>>);
    static_assert(std::is_same_v<decltype(concatenateExpression(text, text)), Expression<std::string>>);
    static_assert(std::is_same_v<decltype(notExpression(optFlag)), Expression<std::optional<bool>>>);
    static_assert(std::is_same_v<decltype(bitwiseXorValue(optN, 1)), Expression<std::optional<std::int64_t>>>);
    static_assert(std::is_same_v<decltype(closedRangeContains(optN, 1, 2)), Expression<std::optional<bool>>>);
    EXPECT_EQ(tokenText(OperatorToken::not_), "NOT ");
    EXPECT_EQ(tokenText(OperatorToken::bitwiseOr), "|");
    EXPECT_EQ(tokenText(OperatorToken::concatenate), "||");
}

TEST(AggregatesTest, CallsKeepTheArgumentAndItsBindings)
{
    const auto sumBound = sum(bound);
    static_assert(std::is_same_v<decltype(sumBound), const Expression<std::optional<std::int64_t>>>);
    static_assert(std::is_same_v<decltype(max(optText)), Expression<std::optional<std::string>>>);
    static_assert(std::is_same_v<decltype(count(optText)), Expression<std::int64_t>>);
    static_assert(std::is_same_v<decltype(avg(n)), Expression<std::optional<double>>>);
    static_assert(std::is_same_v<decltype(total(optN)), Expression<double>>);
    static_assert(std::is_same_v<decltype(distinct(optN)), Expression<std::optional<std::int64_t>>>);
    check({
        {"count", count(column<std::string>("x")), sql("count(\"x\")")},
        {"distinct", distinct(n), sql("DISTINCT \"n\"")},
        {"count distinct", count(distinct(n)), sql("count(DISTINCT \"n\")")},
        {"count star", countStar(), sql("count(*)")},
        {"max", max(text), sql("max(\"t\")")},
        {"min", min(optN), sql("min(\"o\")")},
        {"avg", avg(real), sql("avg(\"r\")")},
        {"sum of operator", sumBound, sql("sum((\"n\" + ?))", 9)},
        {"total", total(n), sql("total(\"n\")")},
    });
}
