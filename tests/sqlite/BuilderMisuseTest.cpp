// Misuse of the typed builders does not compile. Each check asks whether a call is well-formed.
#include "sqlite/Aggregates.h"
#include "sqlite/Operators.h"
#include "sqlite/Query.h"
#include "sqlite/Setter.h"

using namespace sqlite;

namespace {

using Int = Expression<std::int64_t>;
using OptInt = Expression<std::optional<std::int64_t>>;
using Text = Expression<std::string>;
using OptText = Expression<std::optional<std::string>>;
using Real = Expression<double>;
using Flag = Expression<bool>;

template <class L, class R>
concept CanEqualsValue = requires(const L& l, const R& r)
{
    equalsValue(l, r);
};
template <class L, class R>
concept CanEqualsExpression = requires(const L& l, const R& r)
{
    equalsExpression(l, r);
};
template <class L, class R>
concept CanGreaterValue = requires(const L& l, const R& r)
{
    greaterValue(l, r);
};
template <class L, class R>
concept CanAdd = requires(const L& l, const R& r)
{
    addExpression(l, r);
};
template <class L, class R>
concept CanModulo = requires(const L& l, const R& r)
{
    moduloValue(l, r);
};
template <class L, class R>
concept CanAnd = requires(const L& l, const R& r)
{
    andExpressions(l, r);
};
template <class C, class V>
concept CanAssignValue = requires(const C& c, const V& v)
{
    assignValue(c, v);
};
template <class C, class V>
concept CanAssignOptionalValue = requires(const C& c, const V& v)
{
    assignOptionalValue(c, v);
};
template <class C, class E>
concept CanAssignExpression = requires(const C& c, const E& e)
{
    assignExpression(c, e);
};
template <class C, class O>
concept CanAddAssign = requires(const C& c, const O& o)
{
    c += o;
};
template <class C>
concept CanIncrement = requires(const C& c)
{
    c++;
};
template <class P>
concept CanFilter = requires(const Table& t, const P& p)
{
    t.filterQuery(p);
};
template <class E>
concept CanAverage = requires(const E& e)
{
    avg(e);
};

// Plain values convert only where the column's type says so.
static_assert(CanEqualsValue<Int, int> && CanEqualsValue<Int, std::uint32_t> && CanEqualsValue<Int, std::int64_t>);
static_assert(!CanEqualsValue<Int, double> && !CanEqualsValue<Int, bool> && !CanEqualsValue<Int, char>);
// An unsigned 64-bit value may not fit the signed column, so it is refused rather than wrapped to a negative.
static_assert(!CanEqualsValue<Int, std::uint64_t> && !CanAssignValue<Int, std::size_t>);
static_assert(!CanEqualsValue<Int, std::string> && !CanEqualsValue<Text, int>);
static_assert(CanEqualsValue<Text, const char*> && CanEqualsValue<Text, std::string_view>);
static_assert(CanEqualsValue<Real, int> && CanEqualsValue<Real, float>);
static_assert(CanEqualsValue<Flag, bool> && !CanEqualsValue<Flag, int>);

// Optional values only beside optional columns, and only in the equality and identity tests.
static_assert(!CanEqualsValue<Int, std::optional<std::int64_t>> && !CanEqualsValue<Int, std::nullopt_t>);
static_assert(CanEqualsValue<OptInt, std::optional<std::int64_t>> && CanEqualsValue<OptInt, std::nullopt_t>);
static_assert(CanGreaterValue<OptInt, int> && !CanGreaterValue<OptInt, std::optional<std::int64_t>>);

// Operands of one operator share one value type; operators apply to the kinds they are meant for.
static_assert(CanEqualsExpression<Int, OptInt> && !CanEqualsExpression<Int, Text> && !CanEqualsExpression<Int, Real>);
static_assert(CanAdd<Int, OptInt> && CanAdd<Real, Real> && !CanAdd<Text, Text> && !CanAdd<Flag, Flag>);
static_assert(CanModulo<Int, int> && !CanModulo<Real, double>);
static_assert(CanAnd<Flag, Expression<std::optional<bool>>> && !CanAnd<Int, Int>);
static_assert(CanAverage<OptInt> && !CanAverage<Text>);
static_assert(!CanEqualsExpression<Expression<void>, Expression<void>>);

// Setters never put an optional value into a column that does not take NULL.
static_assert(CanAssignValue<Int, int> && !CanAssignValue<Int, std::optional<std::int64_t>>);
static_assert(!CanAssignValue<Int, std::string> && !CanAssignValue<Text, std::int64_t>);
static_assert(!CanAssignOptionalValue<Int, std::optional<std::int64_t>>);
static_assert(CanAssignOptionalValue<OptText, std::nullopt_t> && CanAssignOptionalValue<OptText, const char*>);
static_assert(CanAssignExpression<Int, Int> && !CanAssignExpression<Int, OptInt> && !CanAssignExpression<Int, Text>);
static_assert(CanAddAssign<Text, const char*> && CanAddAssign<OptInt, OptInt> && CanAddAssign<OptInt, int>);
static_assert(!CanAddAssign<Int, OptInt> && !CanAddAssign<OptInt, std::optional<std::int64_t>>);
static_assert(!CanAddAssign<Flag, bool> && CanIncrement<OptInt> && !CanIncrement<Real>);

// Filters take Boolean expressions only.
static_assert(CanFilter<Flag> && CanFilter<Expression<std::optional<bool>>> && !CanFilter<Int> && !CanFilter<Text>);

// Every compiled fragment has the same shape.
static_assert(ExpressionType<Int> && ExpressionType<Expression<void>> && ExpressionType<Select<bool>> &&
              ExpressionType<Insert> && ExpressionType<Update> && ExpressionType<Delete>);
static_assert(!ExpressionType<Expressible> && !ExpressionType<Setter>);

} // namespace
