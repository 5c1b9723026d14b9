#include "sqlite/Setter.h"

#include "BuilderSupport.h"
#include "sqlite/Query.h"

using namespace builder_test;

namespace {

const auto n = column<std::int64_t>("n");
const auto optN = column<std::optional<std::int64_t>>("o");
const auto name = column<std::string>("name");
const auto optName = column<std::optional<std::string>>("note");
const auto real = column<double>("r");

struct Case {
    const char* label;
    Setter setter;
    Expression<void> expected;
};

} // namespace

TEST(SetterTest, AssignmentsBindTheirValues)
{
    const std::vector<Case> cases{
        {"text value", assignValue(name, "x"), sql("\"name\" = ?", "x")},
        {"integer literal", assignValue(n, 3), sql("\"n\" = ?", 3)},
        {"boolean", assignValue(column<bool>("b"), true), sql("\"b\" = ?", 1)},
        {"expression", assignExpression(n, addValue(n, 1)), sql("\"n\" = (\"n\" + ?)", 1)},
        {"to optional", assignExpressionToOptional(optN, n), sql("\"o\" = \"n\"")},
        {"optional expression", assignOptionalExpression(optN, optN), sql("\"o\" = \"o\"")},
        {"absent value stays a placeholder", assignOptionalValue(optName, std::optional<std::string>()),
         sql("\"note\" = ?", nullptr)},
        {"present value", assignOptionalValue(optName, std::optional<std::string>("y")), sql("\"note\" = ?", "y")},
        {"plain value to optional", assignOptionalValue(optName, "z"), sql("\"note\" = ?", "z")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(c.setter.expression(), c.expected);
    }
}

TEST(SetterTest, CompoundAssignmentsRepeatTheColumn)
{
    const Table t("t");
    const std::vector<Case> cases{
        {"+= text concatenates", name += "!", sql("\"name\" = (\"name\" || ?)", "!")},
        {"+= optional text", optName += name, sql("\"note\" = (\"note\" || \"name\")")},
        {"+= number", n += 2, sql("\"n\" = (\"n\" + ?)", 2)},
        {"-=", real -= 0.5, sql("\"r\" = (\"r\" - ?)", 0.5)},
        {"*=", optN *= optN, sql("\"o\" = (\"o\" * \"o\")")},
        {"/=", n /= 2, sql("\"n\" = (\"n\" / ?)", 2)},
        {"%=", n %= 2, sql("\"n\" = (\"n\" % ?)", 2)},
        {"<<=", n <<= 1, sql("\"n\" = (\"n\" << ?)", 1)},
        {">>=", optN >>= 1, sql("\"o\" = (\"o\" >> ?)", 1)},
        {"&=", n &= 6, sql("\"n\" = (\"n\" & ?)", 6)},
        {"|=", n |= 6, sql("\"n\" = (\"n\" | ?)", 6)},
        {"^= binds twice", n ^= 3, sql("\"n\" = (~((\"n\" & ?)) & (\"n\" | ?))", 3, 3)},
        {"++", n++, sql("\"n\" = (\"n\" + ?)", 1)},
        {"++ optional", optN++, sql("\"o\" = (\"o\" + ?)", 1)},
        {"--", n--, sql("\"n\" = (\"n\" - ?)", 1)},
        {"qualified", t[n] += 1, sql("\"t\".\"n\" = (\"t\".\"n\" + ?)", 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(c.setter.expression(), c.expected);
    }
    // Building a setter never changes the column it was built from.
    EXPECT_EQ(untyped(n), sql("\"n\""));
}
