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

/// A column that does not take NULL.
template <class T>
concept RequiredTag = ValueTag<T> && !isOptionalType<T>;

/// A column that takes NULL.
template <class T>
concept NullableTag = ValueTag<T> && isOptionalType<T>;

/// An expression that always has a value of the value type of `T`.
template <class E, class T>
concept RequiredOf = SameValueType<E, T> && !isOptionalType<E>;

/// An expression of the value type of `T` that may be NULL.
template <class E, class T>
concept NullableOf = SameValueType<E, T> && isOptionalType<E>;

/// A plain value, possibly absent, for a column of tag `T`.
template <class U, class T>
concept OptionalArgumentFor = ValueTag<T> && OptionalValueFor<U, BaseType<T>>;

/// The column receives an expression of its own value type.
template <RequiredTag T, RequiredOf<T> E>
Setter assignExpression(const Expression<T>& column, const Expression<E>& value)
{
    return Setter(column, value);
}

/// The column receives a plain value, bound as "?".
template <RequiredTag T, PlainArgumentFor<T> U> Setter assignValue(const Expression<T>& column, const U& value)
{
    return Setter(column, Expression<void>("?", Bindings{bindingOf<BaseType<T>>(value)}));
}

/// A nullable column receives an expression that always has a value.
template <NullableTag T, RequiredOf<T> E>
Setter assignExpressionToOptional(const Expression<T>& column, const Expression<E>& value)
{
    return Setter(column, value);
}

/// A nullable column receives a nullable expression.
template <NullableTag T, NullableOf<T> E>
Setter assignOptionalExpression(const Expression<T>& column, const Expression<E>& value)
{
    return Setter(column, value);
}

/// A nullable column receives a value that may be absent: always "?", bound to NULL when absent, so the statement
/// has the same placeholders either way.
template <NullableTag T, OptionalArgumentFor<T> U>
Setter assignOptionalValue(const Expression<T>& column, const U& value)
{
    return Setter(column, Expression<void>("?", Bindings{bindingOf<BaseType<T>>(value)}));
}

// Compound assignments: "C = (C op O)". The column may be optional; the operand is a plain value (never an
// optional one) or an expression of the column's value type that is optional only when the column is.

/// An operand of a compound assignment to a column of tag `T`.
template <class O, class T>
concept CompoundOperandFor = ValueTag<T> &&
    (PlainArgumentFor<O, T> || (std::derived_from<O, Expression<void>> && requires {
         typename O::UnderlyingType;
         requires SameValueType<T, typename O::UnderlyingType>;
         requires isOptionalType<T> || !isOptionalType<typename O::UnderlyingType>;
     }));

/// Columns that `+=` applies to: text (concatenation) and numbers (addition).
template <class T>
concept TextOrNumericTag = TextTag<T> || NumericTag<T>;

namespace detail {

template <class T, class O> Expression<void> operandExpression(const O& operand)
{
    if constexpr (std::derived_from<O, Expression<void>>) {
        return operand;
    } else {
        return Expression<void>("?", Bindings{bindingOf<BaseType<T>>(operand)});
    }
}

template <class T, class O> Setter compound(std::string_view token, const Expression<T>& column, const O& operand)
{
    return Setter(column, infix(token, column, operandExpression<T>(operand)));
}

} // namespace detail

/// Text columns: "C = (C || O)"; numeric columns: "C = (C + O)".
template <TextOrNumericTag T, CompoundOperandFor<T> O> Setter operator+=(const Expression<T>& column, const O& operand)
{
    return detail::compound(TextTag<T> ? "||" : "+", column, operand);
}

template <NumericTag T, CompoundOperandFor<T> O> Setter operator-=(const Expression<T>& column, const O& operand)
{
    return detail::compound("-", column, operand);
}

template <NumericTag T, CompoundOperandFor<T> O> Setter operator*=(const Expression<T>& column, const O& operand)
{
    return detail::compound("*", column, operand);
}

template <NumericTag T, CompoundOperandFor<T> O> Setter operator/=(const Expression<T>& column, const O& operand)
{
    return detail::compound("/", column, operand);
}

template <IntegerTag T, CompoundOperandFor<T> O> Setter operator%=(const Expression<T>& column, const O& operand)
{
    return detail::compound("%", column, operand);
}

template <IntegerTag T, CompoundOperandFor<T> O> Setter operator<<=(const Expression<T>& column, const O& operand)
{
    return detail::compound("<<", column, operand);
}

template <IntegerTag T, CompoundOperandFor<T> O> Setter operator>>=(const Expression<T>& column, const O& operand)
{
    return detail::compound(">>", column, operand);
}

template <IntegerTag T, CompoundOperandFor<T> O> Setter operator&=(const Expression<T>& column, const O& operand)
{
    return detail::compound("&", column, operand);
}

template <IntegerTag T, CompoundOperandFor<T> O> Setter operator|=(const Expression<T>& column, const O& operand)
{
    return detail::compound("|", column, operand);
}

/// "C = (~((C & O)) & (C | O))": the column and the operand occur twice.
template <IntegerTag T, CompoundOperandFor<T> O> Setter operator^=(const Expression<T>& column, const O& operand)
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
