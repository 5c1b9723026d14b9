#pragma once

#include "sqlite/Expression.h"

#include <string_view>
#include <vector>

// Operators build SQL text only: "(L token R)" with the operands' bindings left first. Every plain value is bound
// as "?". Each operation comes as `...Expression` (both operands expressions) and `...Value` (a plain value on
// either side); the result is optional when any operand is (`ResultType`).

namespace sqlite {

/// The operator tokens of the builders, with their exact SQL texts.
enum class OperatorToken {
    plus,
    minus,
    or_,
    and_,
    not_,
    multiply,
    divide,
    modulo,
    shiftLeft,
    shiftRight,
    bitwiseAnd,
    bitwiseOr,
    bitwiseNot,
    equals,
    notEquals,
    greater,
    less,
    greaterOrEqual,
    lessOrEqual,
    concatenate,
};

/// "+", "-", "OR", "AND", "NOT " (with its blank), "*", "/", "%", "<<", ">>", "&", "|", "~", "=", "!=", ">", "<",
/// ">=", "<=", "||".
std::string_view tokenText(OperatorToken token);

namespace detail {

Expression<void> infix(std::string_view token, const Expression<void>& left, const Expression<void>& right);
Expression<void> infixValueRight(std::string_view token, const Expression<void>& left, std::optional<Binding> right);
Expression<void> infixValueLeft(std::string_view token, std::optional<Binding> left, const Expression<void>& right);
/// (~((A & B)) & (A | B)); each operand's text and bindings occur twice.
Expression<void> bitwiseXor(const Expression<void>& a, const Expression<void>& b);
Expression<void> joinList(std::string_view separator, const std::vector<Expression<bool>>& items);
/// T + text, bindings T's then the values.
Expression<void> appendText(const Expression<void>& item, std::string_view text, std::optional<Binding> first);
Expression<void> betweenExpression(const Expression<void>& item, std::optional<Binding> lower,
                                   std::optional<Binding> upper);
Expression<void> halfOpenRange(const Expression<void>& item, std::optional<Binding> lower,
                               std::optional<Binding> upper);

} // namespace detail

/// A plain value that may stand beside an expression of tag `A` in ordering, arithmetic and logical operators.
template <class U, class A>
concept PlainArgumentFor = ValueTag<A> && PlainValueFor<U, BaseType<A>>;

/// A value beside an expression of tag `A` in the equality and identity operators: optional values only beside
/// an optional expression.
template <class U, class A>
concept EqualityArgumentFor = ValueTag<A> &&
    ((isOptionalType<A> && OptionalValueFor<U, BaseType<A>>) || (!isOptionalType<A> && PlainValueFor<U, BaseType<A>>));

template <class T>
concept AnyValueTag = ValueTag<T>;

/// An expression tag with the same value type as `A` (optional or not).
template <class B, class A>
concept SameValueAs = SameValueType<B, A>;

// One two-operand operator: the Expression form and the two Value forms.
#define SQLITE_INFIX_OPERATOR(expressionName, valueName, token, absentToken, Tag, Result, Argument)                    \
    template <Tag A, SameValueAs<A> B>                                                                                 \
    Expression<ResultType<Result, A, B>> expressionName(const Expression<A>& left, const Expression<B>& right)         \
    {                                                                                                                  \
        return Expression<ResultType<Result, A, B>>(detail::infix(token, left, right));                                \
    }                                                                                                                  \
    template <Tag A, Argument<A> U>                                                                                    \
    Expression<ResultType<Result, A, ValueArgumentTag<U>>> valueName(const Expression<A>& left, const U& right)        \
    {                                                                                                                  \
        std::optional<Binding> value = bindingOf<BaseType<A>>(right);                                                  \
        std::string_view used = value ? std::string_view(token) : std::string_view(absentToken);                       \
        return Expression<ResultType<Result, A, ValueArgumentTag<U>>>(                                                 \
            detail::infixValueRight(used, left, std::move(value)));                                                    \
    }                                                                                                                  \
    template <Tag A, Argument<A> U>                                                                                    \
    Expression<ResultType<Result, A, ValueArgumentTag<U>>> valueName(const U& left, const Expression<A>& right)        \
    {                                                                                                                  \
        std::optional<Binding> value = bindingOf<BaseType<A>>(left);                                                   \
        std::string_view used = value ? std::string_view(token) : std::string_view(absentToken);                       \
        return Expression<ResultType<Result, A, ValueArgumentTag<U>>>(                                                 \
            detail::infixValueLeft(used, std::move(value), right));                                                    \
    }

// Comparison and identity: an absent value turns "=" into "IS" and "!=" into "IS NOT"; NULL stays bound.
SQLITE_INFIX_OPERATOR(equalsExpression, equalsValue, "=", "IS", AnyValueTag, bool, EqualityArgumentFor)
SQLITE_INFIX_OPERATOR(notEqualsExpression, notEqualsValue, "!=", "IS NOT", AnyValueTag, bool, EqualityArgumentFor)
SQLITE_INFIX_OPERATOR(isExpression, isValue, "IS", "IS", AnyValueTag, bool, EqualityArgumentFor)
SQLITE_INFIX_OPERATOR(isNotExpression, isNotValue, "IS NOT", "IS NOT", AnyValueTag, bool, EqualityArgumentFor)
SQLITE_INFIX_OPERATOR(greaterExpression, greaterValue, ">", ">", AnyValueTag, bool, PlainArgumentFor)
SQLITE_INFIX_OPERATOR(greaterOrEqualExpression, greaterOrEqualValue, ">=", ">=", AnyValueTag, bool, PlainArgumentFor)
SQLITE_INFIX_OPERATOR(lessExpression, lessValue, "<", "<", AnyValueTag, bool, PlainArgumentFor)
SQLITE_INFIX_OPERATOR(lessOrEqualExpression, lessOrEqualValue, "<=", "<=", AnyValueTag, bool, PlainArgumentFor)

// Boolean connectives.
SQLITE_INFIX_OPERATOR(andExpressions, andValue, "AND", "AND", BooleanTag, bool, PlainArgumentFor)
SQLITE_INFIX_OPERATOR(orExpressions, orValue, "OR", "OR", BooleanTag, bool, PlainArgumentFor)

// Arithmetic on numbers, integer operators on 64-bit integers.
SQLITE_INFIX_OPERATOR(addExpression, addValue, "+", "+", NumericTag, BaseType<A>, PlainArgumentFor)
SQLITE_INFIX_OPERATOR(subtractExpression, subtractValue, "-", "-", NumericTag, BaseType<A>, PlainArgumentFor)
SQLITE_INFIX_OPERATOR(multiplyExpression, multiplyValue, "*", "*", NumericTag, BaseType<A>, PlainArgumentFor)
SQLITE_INFIX_OPERATOR(divideExpression, divideValue, "/", "/", NumericTag, BaseType<A>, PlainArgumentFor)
SQLITE_INFIX_OPERATOR(moduloExpression, moduloValue, "%", "%", IntegerTag, BaseType<A>, PlainArgumentFor)
SQLITE_INFIX_OPERATOR(shiftLeftExpression, shiftLeftValue, "<<", "<<", IntegerTag, BaseType<A>, PlainArgumentFor)
SQLITE_INFIX_OPERATOR(shiftRightExpression, shiftRightValue, ">>", ">>", IntegerTag, BaseType<A>, PlainArgumentFor)
SQLITE_INFIX_OPERATOR(bitwiseAndExpression, bitwiseAndValue, "&", "&", IntegerTag, BaseType<A>, PlainArgumentFor)
SQLITE_INFIX_OPERATOR(bitwiseOrExpression, bitwiseOrValue, "|", "|", IntegerTag, BaseType<A>, PlainArgumentFor)

// Text concatenation, always "||".
SQLITE_INFIX_OPERATOR(concatenateExpression, concatenateValue, "||", "||", TextTag, std::string, PlainArgumentFor)

#undef SQLITE_INFIX_OPERATOR

/// The exclusive or, written with "&", "|" and "~": (~((L & R)) & (L | R)).
template <IntegerTag A, SameValueAs<A> B>
Expression<ResultType<BaseType<A>, A, B>> bitwiseXorExpression(const Expression<A>& left, const Expression<B>& right)
{
    return Expression<ResultType<BaseType<A>, A, B>>(detail::bitwiseXor(left, right));
}

template <IntegerTag A, PlainArgumentFor<A> U> Expression<A> bitwiseXorValue(const Expression<A>& left, const U& right)
{
    return Expression<A>(detail::bitwiseXor(left, Expression<void>("?", Bindings{bindingOf<BaseType<A>>(right)})));
}

template <IntegerTag A, PlainArgumentFor<A> U> Expression<A> bitwiseXorValue(const U& left, const Expression<A>& right)
{
    return Expression<A>(detail::bitwiseXor(Expression<void>("?", Bindings{bindingOf<BaseType<A>>(left)}), right));
}

/// "(E1 AND E2 AND ...)"; bindings in list order.
Expression<bool> andList(const std::vector<Expression<bool>>& items);
/// "(E1 OR E2 OR ...)".
Expression<bool> orList(const std::vector<Expression<bool>>& items);

/// "NOT (T)".
template <BooleanTag A> Expression<A> notExpression(const Expression<A>& item)
{
    return Expression<A>(detail::call("NOT ", item));
}

/// "-(T)".
template <NumericTag A> Expression<A> negate(const Expression<A>& item)
{
    return Expression<A>(detail::call("-", item));
}

/// "~(T)".
template <IntegerTag A> Expression<A> bitwiseNot(const Expression<A>& item)
{
    return Expression<A>(detail::call("~", item));
}

// Range tests: the expression's text with the bounds appended, not parenthesised.

/// "T BETWEEN ? AND ?".
template <ValueTag A, PlainArgumentFor<A> L, PlainArgumentFor<A> U>
Expression<ResultType<bool, A>> closedRangeContains(const Expression<A>& item, const L& lower, const U& upper)
{
    return Expression<ResultType<bool, A>>(
        detail::betweenExpression(item, bindingOf<BaseType<A>>(lower), bindingOf<BaseType<A>>(upper)));
}

/// "T >= ? AND T < ?": the expression and its bindings occur twice.
template <ValueTag A, PlainArgumentFor<A> L, PlainArgumentFor<A> U>
Expression<ResultType<bool, A>> halfOpenRangeContains(const Expression<A>& item, const L& lower, const U& upper)
{
    return Expression<ResultType<bool, A>>(
        detail::halfOpenRange(item, bindingOf<BaseType<A>>(lower), bindingOf<BaseType<A>>(upper)));
}

/// "T <= ?".
template <ValueTag A, PlainArgumentFor<A> U>
Expression<ResultType<bool, A>> rangeThroughContains(const Expression<A>& item, const U& upper)
{
    return Expression<ResultType<bool, A>>(detail::appendText(item, " <= ?", bindingOf<BaseType<A>>(upper)));
}

/// "T < ?".
template <ValueTag A, PlainArgumentFor<A> U>
Expression<ResultType<bool, A>> rangeUpToContains(const Expression<A>& item, const U& upper)
{
    return Expression<ResultType<bool, A>>(detail::appendText(item, " < ?", bindingOf<BaseType<A>>(upper)));
}

/// "T >= ?".
template <ValueTag A, PlainArgumentFor<A> L>
Expression<ResultType<bool, A>> rangeFromContains(const Expression<A>& item, const L& lower)
{
    return Expression<ResultType<bool, A>>(detail::appendText(item, " >= ?", bindingOf<BaseType<A>>(lower)));
}

} // namespace sqlite
