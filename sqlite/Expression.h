#pragma once

#include "sqlite/Value.h"

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace sqlite {

template <class T = void> class Expression;

// ---------------------------------------------------------------------------------------------------------------
// The value type of an expression is a tag: a `Value` type, `std::optional<V>` for a value that may be NULL, or
// `void` for an untyped fragment. It only steers which builders apply and how a result column is read.

template <class T> struct ExpressionTypeTraits {
    using Base = T;
    static constexpr bool isOptional = false;
};

template <class V> struct ExpressionTypeTraits<std::optional<V>> {
    using Base = V;
    static constexpr bool isOptional = true;
};

/// The value type without its optionality: `BaseType<std::optional<V>>` is V.
template <class T> using BaseType = typename ExpressionTypeTraits<T>::Base;

template <class T> inline constexpr bool isOptionalType = ExpressionTypeTraits<T>::isOptional;

/// The one rule for every operator, function and aggregate: the result is `R`, made optional (once) when any
/// operand is optional.
template <class R, class... Operands>
using ResultType = std::conditional_t<(isOptionalType<Operands> || ...), std::optional<BaseType<R>>, R>;

/// A typed (not untyped) expression tag whose value type is a `Value`.
template <class T>
concept ValueTag = !std::is_void_v<T> && Value<BaseType<T>>;

template <class A, class B>
concept SameValueType = ValueTag<A> && ValueTag<B> && std::same_as<BaseType<A>, BaseType<B>>;

template <class T>
concept BooleanTag = ValueTag<T> && std::same_as<bool, BaseType<T>>;

template <class T>
concept NumericTag = ValueTag<T> && Number<BaseType<T>>;

/// Values stored as a 64-bit integer on which integer operators apply.
template <class T>
concept IntegerTag = ValueTag<T> && std::same_as<BaseType<T>, std::int64_t>;

template <class T>
concept TextTag = ValueTag<T> && std::same_as<BaseType<T>, std::string>;

// ---------------------------------------------------------------------------------------------------------------
// Plain values handed to builders. A value converts to the column's value type only where nothing is lost or
// guessed: any integer type whose values fit 64 bits signed (not a character or a Boolean) for an integer column,
// any number for a REAL column, any text for a text column, and otherwise exactly the column's type.

namespace detail {

// Every value of the type fits a signed 64-bit integer: an unsigned 64-bit one (a size) could turn negative.
template <class U>
concept PlainInteger = std::integral<U> && !std::same_as<U, bool> && !std::same_as<U, char> &&
                       !std::same_as<U, wchar_t> && !std::same_as<U, char8_t> && !std::same_as<U, char16_t> &&
                       !std::same_as<U, char32_t> && (std::signed_integral<U> || sizeof(U) < sizeof(std::int64_t));

template <class U> struct IsStdOptional : std::false_type {};
template <class X> struct IsStdOptional<std::optional<X>> : std::true_type {};

template <class U, class V>
concept SameValue = Value<V> && std::same_as<std::remove_cvref_t<U>, V>;
template <class U, class V>
concept IntegerForInteger = std::same_as<V, std::int64_t> && PlainInteger<std::remove_cvref_t<U>>;
template <class U, class V>
concept NumberForReal = std::same_as<V, double> &&
    (PlainInteger<std::remove_cvref_t<U>> || std::floating_point<std::remove_cvref_t<U>>);
template <class U, class V>
concept TextForText = std::same_as<V, std::string> && std::convertible_to<const U&, std::string_view>;
template <class U>
concept Absent = std::same_as<std::remove_cvref_t<U>, std::nullopt_t>;

} // namespace detail

/// `U` may stand for a value of the value type `V`.
template <class U, class V>
concept PlainValueFor = detail::SameValue<U, V> || detail::IntegerForInteger<U, V> || detail::NumberForReal<U, V> ||
    detail::TextForText<U, V>;

namespace detail {
template <class U, class V>
concept OptionalOfValue =
    IsStdOptional<std::remove_cvref_t<U>>::value && PlainValueFor<typename std::remove_cvref_t<U>::value_type, V>;
} // namespace detail

/// `U` may stand for a value of `V` that may be absent: a plain value, `std::nullopt` or an optional of one.
template <class U, class V>
concept OptionalValueFor = PlainValueFor<U, V> || detail::Absent<U> || detail::OptionalOfValue<U, V>;

/// Whether a plain value argument counts as optional for `ResultType`.
template <class U>
using ValueArgumentTag = std::conditional_t<detail::IsStdOptional<std::remove_cvref_t<U>>::value ||
                                                std::same_as<std::remove_cvref_t<U>, std::nullopt_t>,
                                            std::optional<int>, int>;

/// The stored form of a plain value converted to `V`; none for an absent value (SQL NULL).
template <Value V, OptionalValueFor<V> U> std::optional<Binding> bindingOf(const U& value)
{
    using Plain = std::remove_cvref_t<U>;
    if constexpr (std::same_as<Plain, std::nullopt_t>) {
        return std::nullopt;
    } else if constexpr (detail::IsStdOptional<Plain>::value) {
        if (!value) {
            return std::nullopt;
        }
        return bindingOf<V>(*value);
    } else if constexpr (std::same_as<Plain, V>) {
        return toBinding(value);
    } else if constexpr (std::same_as<V, std::string>) {
        return Binding(std::string(std::string_view(value)));
    } else {
        return toBinding(static_cast<V>(value));
    }
}

// ---------------------------------------------------------------------------------------------------------------

/// An untyped SQL fragment: a template in which each "?" stands for the next entry of `bindings`.
/// Every typed `Expression<T>` is one of these, so any expression can be used where an untyped one is expected.
template <> class Expression<void> {
public:
    using UnderlyingType = void;

    /// `template` of the fragment ("template" is a keyword here).
    std::string template_;
    /// The values of the placeholders in the order of their "?" marks; none is SQL NULL.
    Bindings bindings;

    Expression() = default;
    explicit Expression(std::string text, Bindings values = {})
        : template_(std::move(text)), bindings(std::move(values))
    {}

    /// Fixed SQL text such as a keyword: the text unchanged, no bindings.
    static Expression makeLiteralExpression(std::string_view text) { return Expression(std::string(text)); }
    /// A name quoted as an identifier: in double quotes, inner double quotes doubled.
    static Expression makeIdentifierExpression(std::string_view name);

    /// The untyped expression of this fragment (every expression is `Expressible`).
    const Expression<void>& expression() const& { return *this; }
    Expression<void> expression() && { return std::move(*this); }

    /// The text with the values written in as SQL literals (`toSQLText`).
    std::string description() const;

    /// The ordering term "T ASC" / "T DESC", keeping the bindings.
    Expression<void> asc() const;
    Expression<void> desc() const;

    bool operator==(const Expression&) const = default;
};

template <class T> class Expression : public Expression<void> {
public:
    using UnderlyingType = T;

    Expression() = default;
    explicit Expression(std::string text, Bindings values = {}) : Expression<void>(std::move(text), std::move(values))
    {}
    /// Re-types any expression: the same template and bindings under this value type.
    explicit Expression(const Expression<void>& other) : Expression<void>(other) {}
    explicit Expression(Expression<void>&& other) : Expression<void>(std::move(other)) {}

    static Expression makeLiteralExpression(std::string_view text) { return Expression(std::string(text)); }
    static Expression makeIdentifierExpression(std::string_view name)
    {
        return Expression(Expression<void>::makeIdentifierExpression(name));
    }

    bool operator==(const Expression&) const = default;
};

class Expressible;

namespace detail {
/// Queries, setters, compiled statements and modules: things with an `expression()` that are not expressions.
template <class E>
concept YieldsExpression =
    !std::derived_from<E, Expression<void>> && !std::same_as<E, Expressible> && requires(const E& e)
{
    Expression<void>(e.expression());
};
} // namespace detail

/// Anything that yields an untyped `Expression`: expressions, plain values (bound as "?"), queries (their SELECT),
/// setters, compiled statements and modules. Lists of columns, terms and clause parts hold these.
class Expressible {
public:
    Expressible(Expression<void> expression) : expression_(std::move(expression)) {}

    template <Value V> Expressible(const V& value) : expression_("?", Bindings{toBinding(value)}) {}

    template <Value V>
    Expressible(const std::optional<V>& value)
        : expression_("?", Bindings{value ? std::optional<Binding>(toBinding(*value)) : std::nullopt})
    {}

    template <detail::YieldsExpression E> Expressible(const E& item) : expression_(item.expression()) {}

    const Expression<void>& expression() const& { return expression_; }
    Expression<void> expression() && { return std::move(expression_); }

    /// The ordering terms "T ASC" and "T DESC".
    Expression<void> asc() const { return expression_.asc(); }
    Expression<void> desc() const { return expression_.desc(); }

    bool operator==(const Expressible&) const = default;

private:
    Expression<void> expression_;
};

// ---------------------------------------------------------------------------------------------------------------
// Leaf and derived expressions.

/// "?" bound to the value's stored form.
template <Value V> Expression<V> makeValueExpression(const V& value)
{
    return Expression<V>("?", Bindings{toBinding(value)});
}

/// "?" bound to the value's stored form, or to NULL when it is absent.
template <Value V> Expression<std::optional<V>> makeValueExpression(const std::optional<V>& value)
{
    return Expression<std::optional<V>>("?",
                                        Bindings{value ? std::optional<Binding>(toBinding(*value)) : std::nullopt});
}

/// Re-types any `Expressible` as an expression of value type `T` (template and bindings unchanged).
template <class T> Expression<T> initFromExpression(const Expressible& item)
{
    return Expression<T>(item.expression());
}

/// The ordering terms "T ASC" and "T DESC"; the bindings stay those of the item.
Expression<void> asc(const Expressible& item);
Expression<void> desc(const Expressible& item);

namespace detail {
Expression<void> castExpression(const Expression<void>& item, std::string_view declaredDatatype);
}

/// "CAST (T AS <declared type of U>)"; from an optional expression the result is optional too.
template <Value U, class T> Expression<ResultType<U, T>> cast(const Expression<T>& item)
{
    return Expression<ResultType<U, T>>(detail::castExpression(item, ValueTraits<U>::declaredDatatype()));
}

/// The row id column, "ROWID" quoted as an identifier.
const Expression<std::int64_t>& rowid();

/// The template with every placeholder replaced by the SQL literal of its value: NULL, integers and doubles in
/// decimal (a double always with a fraction or an exponent), texts as quoted literals, blobs as x'..'.
/// A "?" inside a quoted identifier or text literal of the template is not a placeholder and is kept. A
/// placeholder with no value left is kept as "?"; values beyond the last placeholder are not written.
std::string toSQLText(std::string_view templateText, const Bindings& bindings);
std::string toSQLText(const Expressible& item);

/// The SQL literal of one stored value (as `toSQLText` writes it).
std::string sqlLiteral(const std::optional<Binding>& value);

// ---------------------------------------------------------------------------------------------------------------
// SQL text helpers: they keep templates and bindings in step, left to right.

/// The items' templates joined with `separator`, their bindings concatenated in item order.
Expression<void> joinExpressions(std::string_view separator, const std::vector<Expressible>& items);

/// "(L op R)", or "L op R" without `wrap`; L's bindings before R's.
Expression<void> infixExpression(std::string_view op, const Expressible& left, const Expressible& right,
                                 bool wrap = true);

/// name + "(" + T + ")": a call, or plain parentheses with the empty name.
Expression<void> wrapAsCall(std::string_view name, const Expressible& item);

namespace detail {
Expression<void> call(std::string_view name, const Expression<void>& item);
}

/// As `wrapAsCall`, keeping the expression's value type.
template <class T> Expression<T> wrapInFunction(std::string_view name, const Expression<T>& item)
{
    return Expression<T>(detail::call(name, item));
}

/// "*", all columns of a select list and of count(*).
Expression<void> star();

} // namespace sqlite
