#include "sqlite/TypedFunction.h"

#include <gtest/gtest.h>

using namespace sqlite;

namespace {

class TypedFunctionTest : public ::testing::Test {
protected:
    void SetUp() override { db = Connection::open(Connection::Location::inMemory()); }

    template <class T> std::optional<Binding> evaluate(const Expression<T>& expression)
    {
        return db->scalar("SELECT " + expression.template_, expression.bindings);
    }

    std::shared_ptr<Connection> db;
};

Binding integer(std::int64_t v)
{
    return Binding(v);
}

Binding text(std::string v)
{
    return Binding(std::move(v));
}

} // namespace

TEST_F(TypedFunctionTest, BuilderWritesTheQuotedNameAndArgumentsInOrder)
{
    auto now = db->createTypedFunction("now", false, []() -> std::int64_t { return 42; });
    const Expression<std::int64_t> call = now();
    EXPECT_EQ(call.template_, "\"now\"()");
    EXPECT_TRUE(call.bindings.empty());
    EXPECT_EQ(evaluate(call), integer(42));

    auto join = db->createTypedFunction("join", true, [](std::string a, std::string b) { return a + "+" + b; });
    const Expression<std::string> a("upper(?)", {text("x")});
    const Expression<std::string> b("?", {text("y")});
    const Expression<std::string> joined = join(a, b);
    EXPECT_EQ(joined.template_, "\"join\"(upper(?), ?)");
    EXPECT_EQ(joined.bindings, (Bindings{text("x"), text("y")}));
    EXPECT_EQ(evaluate(joined), text("X+y"));

    // A quote in the name is doubled in the SQL, while the function is registered under the name itself.
    auto odd = db->createTypedFunction("o\"dd", false, [](std::int64_t x) { return x + 1; });
    const auto oddCall = odd(makeValueExpression<std::int64_t>(1));
    EXPECT_EQ(oddCall.template_, "\"o\"\"dd\"(?)");
    EXPECT_EQ(evaluate(oddCall), integer(2));
}

TEST_F(TypedFunctionTest, OptionalParametersAndResults)
{
    auto describeAge = db->createTypedFunction("describeAge", true, [](std::optional<std::int64_t> age) {
        return age ? std::optional<std::string>(std::to_string(*age) + " years") : std::nullopt;
    });
    const Expression<std::optional<std::string>> some =
        describeAge(makeValueExpression(std::optional<std::int64_t>(3)));
    EXPECT_EQ(evaluate(some), text("3 years"));
    EXPECT_EQ(evaluate(describeAge(makeValueExpression(std::optional<std::int64_t>()))), std::nullopt);

    auto pick = db->createTypedFunction("pick", false,
                                        [](std::string a, std::optional<std::string> b) { return b.value_or(a); });
    const Expression<std::string> column("?", {text("first")});
    EXPECT_EQ(evaluate(pick(column, Expression<std::optional<std::string>>("NULL"))), text("first"));
    EXPECT_EQ(evaluate(pick(column, Expression<std::optional<std::string>>("'second'"))), text("second"));
}

TEST_F(TypedFunctionTest, ValuesConvertThroughTheirStoredForm)
{
    auto negate = db->createTypedFunction("negate", true, [](bool flag) { return !flag; });
    EXPECT_EQ(evaluate(negate(Expression<bool>("2"))), integer(0));
    EXPECT_EQ(evaluate(negate(Expression<bool>("0"))), integer(1));

    auto reverse = db->createTypedFunction("reverse", true, [](Blob blob) {
        std::reverse(blob.bytes.begin(), blob.bytes.end());
        return blob;
    });
    EXPECT_EQ(evaluate(reverse(Expression<Blob>("x'0102'"))), Binding(Blob{2, 1}));

    auto nextDay = db->createTypedFunction("nextDay", true, [](Date date) { return date + std::chrono::hours(24); });
    EXPECT_EQ(evaluate(nextDay(Expression<Date>("'2024-02-28T23:30:00.250'"))), text("2024-02-29T23:30:00.250"));
}

TEST_F(TypedFunctionTest, UnconvertibleArgumentsFailTheCall)
{
    auto twice = db->createTypedFunction("twice", true, [](double x) { return 2 * x; });
    static_assert(!std::is_invocable_v<decltype(twice), Expression<std::string>>);
    static_assert(!std::is_invocable_v<decltype(twice), Expression<std::optional<double>>>);
    static_assert(std::is_same_v<std::invoke_result_t<decltype(twice), Expression<double>>, Expression<double>>);
    EXPECT_EQ(evaluate(twice(Expression<double>("1.5"))), Binding(3.0));
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"NULL", "twice: argument 1 is NULL"},
        {"1", "twice: argument 1: expected a stored REAL value, found the INTEGER value 1"},
        {"'1.5'", "twice: argument 1: expected a stored REAL value, found the TEXT value \"1.5\""},
    };
    for (const auto& [argument, message] : cases) {
        SCOPED_TRACE(argument);
        try {
            evaluate(twice(Expression<double>(argument)));
            ADD_FAILURE() << "the call must fail";
        } catch (const Result& error) {
            EXPECT_EQ(error.message(), message);
        }
    }
    auto day = db->createTypedFunction("day", true, [](Date date) { return date; });
    EXPECT_THROW(evaluate(day(Expression<Date>("'yesterday'"))), Result);
}

TEST_F(TypedFunctionTest, DeterministicFlagReachesSQLite)
{
    db->executeScript("CREATE TABLE t (a INTEGER)");
    auto stable = db->createTypedFunction("stable", true, [](std::int64_t x) { return x * 2; });
    auto unstable = db->createTypedFunction("unstable", false, [](std::int64_t x) { return x * 2; });
    const Expression<std::int64_t> a("\"a\"");
    EXPECT_EQ(stable(a).template_, "\"stable\"(\"a\")");
    db->executeScript("CREATE INDEX good ON t (" + stable(a).template_ + ")");
    EXPECT_THROW(db->executeScript("CREATE INDEX bad ON t (" + unstable(a).template_ + ")"), Result);
}
