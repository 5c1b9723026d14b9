#pragma once

#include "sqlite/Expression.h"
#include "sqlite/Operators.h"

#include <cstdint>
#include <optional>

namespace sqlite {

/// One column assignment of an INSERT or UPDATE: the column and what it receives (a bound value or any
/// expression). Its expression is "C = V", the column's bindings before the value's.
class Setter {
public:
    Setter(Expressible column, Expressible value) : column_(std::move(column)), value_(std::move(value)) {}

    const Expressible& column() const { return column_; }
    const Expressible& value() const { return value_; }

    /// "C = V", without parentheses.
    Expression<void> expression() const;

    bool operator==(const Setter&) const = default;

private:
    Expressible column_;
    Expressible value_;
};

/// The column receives an expression of its own value type.
template <class T, class E>
requires SameValueType<T, E> &&(!isOptionalType<T>)&&(!isOptionalType<E>)Setter
    assignExpression(const Expression<T>& column, const Expression<E>& value)
{
    return Setter(column, value);
}

/// The column receives a plain value, bound as "?".
template <class T, class U>
requires(!isOptionalType<T>) && PlainArgumentFor<U, T> Setter assignValue(const Expression<T>& column, const U& value)
{
    return Setter(column, Expression<void>("?", Bindings{bindingOf<BaseType<T>>(value)}));
}

/// A nullable column receives an expression that always has a value.
template <class T, class E>
requires SameValueType<T, E> && isOptionalType<T> &&(!isOptionalType<E>)Setter
    assignExpressionToOptional(const Expression<T>& column, const Expression<E>& value)
{
    return Setter(column, value);
}

/// A nullable column receives a nullable expression.
template <class T, class E>
requires SameValueType<T, E> && isOptionalType<T> && isOptionalType<E>
    Setter assignOptionalExpression(const Expression<T>& column, const Expression<E>& value)
{
    return Setter(column, value);
}

/// A nullable column receives a value that may be absent: always "?", bound to NULL when absent, so the statement
/// has the same placeholders either way.
template <class T, class U>
requires isOptionalType<T> && OptionalValueFor<U, BaseType<T>> Setter assignOptionalValue(const Expression<T>& column,
                                                                                          const U& value)
{
    return Setter(column, Expression<void>("?", Bindings{bindingOf<BaseType<T>>(value)}));
}

// Compound assignments: "C = (C op O)". The column may be optional; the operand is an expression that is not
// optional unless the column is, or a plain value (never an optional one).

/// An operand of a compound assignment to a column of tag `T`.
template <class O, class T>
concept CompoundOperandFor = PlainArgumentFor<O, T>;

namespace detail {

template <class T, class O> Expression<void> operandExpression(const O& operand)
{
    if constexpr (std::derived_from<O, Expression<void>>) {
        return operand;
    } else {
        return Expression<void>("?", Bindings{bindingOf<BaseType<T>>(operand)});
    }
}

template <class T, class O>
concept CompoundArgument = ValueTag<T> &&(CompoundOperandFor<O, T> || requires {
    typename O::UnderlyingType;
    requires SameValueType<T, typename O::UnderlyingType>;
    requires isOptionalType<T> || !isOptionalType<typename O::UnderlyingType>;
    requires std::derived_from<O, Expression<void>>;
});

template <class T, class O> Setter compound(std::string_view token, const Expression<T>& column, const O& operand)
{
    return Setter(column, infix(token, column, operandExpression<T>(operand)));
}

} // namespace detail

/// Text columns: "C = (C || O)"; numeric columns: "C = (C + O)".
template <class T, class O>
requires detail::CompoundArgument<T, O> &&(TextTag<T> || NumericTag<T>)Setter operator+=(const Expression<T>& column,
                                                                                         const O& operand)
{
    return detail::compound(TextTag<T> ? "||" : "+", column, operand);
}

template <class T, class O>
requires detail::CompoundArgument<T, O> && NumericTag<T> Setter operator-=(const Expression<T>& column,
                                                                           const O& operand)
{
    return detail::compound("-", column, operand);
}

template <class T, class O>
requires detail::CompoundArgument<T, O> && NumericTag<T> Setter operator*=(const Expression<T>& column,
                                                                           const O& operand)
{
    return detail::compound("*", column, operand);
}

template <class T, class O>
requires detail::CompoundArgument<T, O> && NumericTag<T> Setter operator/=(const Expression<T>& column,
                                                                           const O& operand)
{
    return detail::compound("/", column, operand);
}

template <class T, class O>
requires detail::CompoundArgument<T, O> && IntegerTag<T> Setter operator%=(const Expression<T>& column,
                                                                           const O& operand)
{
    return detail::compound("%", column, operand);
}

template <class T, class O>
requires detail::CompoundArgument<T, O> && IntegerTag<T> Setter operator<<=(const Expression<T>& column,
                                                                            const O& operand)
{
    return detail::compound("<<", column, operand);
}

template <class T, class O>
requires detail::CompoundArgument<T, O> && IntegerTag<T> Setter operator>>=(const Expression<T>& column,
                                                                            const O& operand)
{
    return detail::compound(">>", column, operand);
}

template <class T, class O>
requires detail::CompoundArgument<T, O> && IntegerTag<T> Setter operator&=(const Expression<T>& column,
                                                                           const O& operand)
{
    return detail::compound("&", column, operand);
}

template <class T, class O>
requires detail::CompoundArgument<T, O> && IntegerTag<T> Setter operator|=(const Expression<T>& column,
                                                                           const O& operand)
{
    return detail::compound("|", column, operand);
}

/// "C = (~((C & O)) & (C | O))": the column and the operand occur twice.
template <class T, class O>
requires detail::CompoundArgument<T, O> && IntegerTag<T> Setter operator^=(const Expression<T>& column,
                                                                           const O& operand)
{
    return Setter(column, detail::bitwiseXor(column, detail::operandExpression<T>(operand)));
}

/// Postfix increment: "C = (C + ?)" with 1 bound.
template <IntegerTag T> Setter operator++(const Expression<T>& column, int)
{
    Expression<std::int64_t> retyped(column);
    return Setter(retyped, detail::infixValueRight("+", retyped, Binding(std::int64_t{1})));
}

/// Postfix decrement: "C = (C - ?)" with 1 bound.
template <IntegerTag T> Setter operator--(const Expression<T>& column, int)
{
    Expression<std::int64_t> retyped(column);
    return Setter(retyped, detail::infixValueRight("-", retyped, Binding(std::int64_t{1})));
}

} // namespace sqlite
