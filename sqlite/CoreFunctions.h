#pragma once

#include "sqlite/Collation.h"
#include "sqlite/Expression.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sqlite {

/// The SQL words that the core function builders write: function names in lower case, operator words in
/// upper case.
enum class CoreFunctionName {
    abs,
    round,
    random,
    randomblob,
    zeroblob,
    length,
    lower,
    upper,
    ltrim,
    rtrim,
    trim,
    replace,
    substr,
    like,
    in,
    glob,
    match,
    regexp,
    collate,
    ifnull,
};

std::string_view text(CoreFunctionName name);

/// A half-open range of positions [lower, upper), as `substr` takes it.
struct PositionRange {
    std::int64_t lower = 0;
    std::int64_t upper = 0;
};

namespace detail {

template <class T>
concept RealTag = ValueTag<T> && std::same_as < BaseType<T>,
double > ;

/// name(a, b, …) over the operands, their bindings in operand order.
Expression<void> functionCall(CoreFunctionName name, const std::vector<Expressible>& operands);
/// "(L WORD R)".
Expression<void> infixWord(CoreFunctionName word, const Expressible& left, const Expressible& right);
/// "(L LIKE P)" or "(L LIKE P ESCAPE ?)".
Expression<void> likeExpression(const Expressible& left, const Expressible& pattern,
                                const std::optional<std::string>& escape);
/// "(L IN (?, ?, …))" with one binding per value.
Expression<void> inExpression(const Expressible& left, Bindings values);
/// The bound text operand "?".
Expression<void> boundText(std::string_view text);
/// The bound integer operand "?".
Expression<void> boundInteger(std::int64_t value);
/// upper - lower; a width that does not fit 64 bits, or a reversed range, is a fatal misuse.
std::int64_t rangeWidth(const PositionRange& range);

} // namespace detail

// ---------------------------------------------------------------------------------------------------------------
// Numbers and blobs

/// "abs(x)".
template <NumericTag T> Expression<T> abs(const Expression<T>& x)
{
    return Expression<T>(detail::functionCall(CoreFunctionName::abs, {x}));
}

/// "round(x)", or "round(x, ?)" with the precision bound.
template <detail::RealTag T>
Expression<T> round(const Expression<T>& x, std::optional<std::int64_t> precision = std::nullopt)
{
    if (!precision) {
        return Expression<T>(detail::functionCall(CoreFunctionName::round, {x}));
    }
    return Expression<T>(detail::functionCall(CoreFunctionName::round, {x, detail::boundInteger(*precision)}));
}

/// "random()", typed as the caller asks (a 64-bit integer unless told otherwise).
template <class T = std::int64_t> Expression<T> random()
{
    return Expression<T>(detail::functionCall(CoreFunctionName::random, {}));
}

/// "randomblob(?)" with the byte count bound.
Expression<Blob> randomblob(std::int64_t length);
/// "zeroblob(?)" with the byte count bound.
Expression<Blob> zeroblob(std::int64_t length);

// ---------------------------------------------------------------------------------------------------------------
// Text

/// "length(x)": an integer, optional for an optional text.
template <TextTag T> Expression<ResultType<std::int64_t, T>> length(const Expression<T>& x)
{
    return Expression<ResultType<std::int64_t, T>>(detail::functionCall(CoreFunctionName::length, {x}));
}

/// "lower(x)".
template <TextTag T> Expression<T> lower(const Expression<T>& x)
{
    return Expression<T>(detail::functionCall(CoreFunctionName::lower, {x}));
}

/// "upper(x)".
template <TextTag T> Expression<T> upper(const Expression<T>& x)
{
    return Expression<T>(detail::functionCall(CoreFunctionName::upper, {x}));
}

namespace detail {
template <class T>
Expression<T> trimCall(CoreFunctionName name, const Expression<T>& x, const std::optional<std::string>& characters)
{
    if (!characters) {
        return Expression<T>(functionCall(name, {x}));
    }
    return Expression<T>(functionCall(name, {x, boundText(*characters)}));
}
} // namespace detail

/// "ltrim(x)", or "ltrim(x, ?)" with the characters to strip bound as one text.
template <TextTag T>
Expression<T> ltrim(const Expression<T>& x, const std::optional<std::string>& characters = std::nullopt)
{
    return detail::trimCall(CoreFunctionName::ltrim, x, characters);
}

/// "rtrim(x)", or "rtrim(x, ?)" with the characters to strip bound as one text.
template <TextTag T>
Expression<T> rtrim(const Expression<T>& x, const std::optional<std::string>& characters = std::nullopt)
{
    return detail::trimCall(CoreFunctionName::rtrim, x, characters);
}

/// "trim(x)", or "trim(x, ?)" with the characters to strip bound as one text.
template <TextTag T>
Expression<T> trim(const Expression<T>& x, const std::optional<std::string>& characters = std::nullopt)
{
    return detail::trimCall(CoreFunctionName::trim, x, characters);
}

/// "replace(x, ?, ?)" with the pattern and the replacement bound.
template <TextTag T>
Expression<T> replace(const Expression<T>& x, std::string_view pattern, std::string_view replacement)
{
    return Expression<T>(detail::functionCall(CoreFunctionName::replace,
                                              {x, detail::boundText(pattern), detail::boundText(replacement)}));
}

/// "substr(x, ?)" or "substr(x, ?, ?)"; SQLite counts positions from 1.
template <TextTag T>
Expression<T> substr(const Expression<T>& x, std::int64_t location, std::optional<std::int64_t> length = std::nullopt)
{
    if (!length) {
        return Expression<T>(detail::functionCall(CoreFunctionName::substr, {x, detail::boundInteger(location)}));
    }
    return Expression<T>(detail::functionCall(CoreFunctionName::substr,
                                              {x, detail::boundInteger(location), detail::boundInteger(*length)}));
}

/// "substr(x, ?, ?)" bound to the range's lower bound and its width.
template <TextTag T> Expression<T> substr(const Expression<T>& x, const PositionRange& range)
{
    return substr(x, range.lower, detail::rangeWidth(range));
}

// ---------------------------------------------------------------------------------------------------------------
// Matching and comparison

/// "(x LIKE ?)" or "(x LIKE ? ESCAPE ?)", pattern then escape bound.
template <TextTag T>
Expression<ResultType<bool, T>> like(const Expression<T>& x, std::string_view pattern,
                                     const std::optional<std::string>& escape = std::nullopt)
{
    return Expression<ResultType<bool, T>>(detail::likeExpression(x, detail::boundText(pattern), escape));
}

/// "(x LIKE p)" or "(x LIKE p ESCAPE ?)" with a pattern expression.
template <TextTag T, TextTag P>
Expression<ResultType<bool, T, P>> like(const Expression<T>& x, const Expression<P>& pattern,
                                        const std::optional<std::string>& escape = std::nullopt)
{
    return Expression<ResultType<bool, T, P>>(detail::likeExpression(x, pattern, escape));
}

/// "(? LIKE p)" or "(? LIKE p ESCAPE ?)": a bound text tested against a pattern expression.
template <TextTag P>
Expression<ResultType<bool, P>> like(std::string_view value, const Expression<P>& pattern,
                                     const std::optional<std::string>& escape = std::nullopt)
{
    return Expression<ResultType<bool, P>>(detail::likeExpression(detail::boundText(value), pattern, escape));
}

/// "(x GLOB ?)" with the pattern bound.
template <TextTag T> Expression<ResultType<bool, T>> glob(const Expression<T>& x, std::string_view pattern)
{
    return Expression<ResultType<bool, T>>(detail::infixWord(CoreFunctionName::glob, x, detail::boundText(pattern)));
}

/// "(x MATCH ?)" with the pattern bound.
template <TextTag T> Expression<ResultType<bool, T>> match(const Expression<T>& x, std::string_view pattern)
{
    return Expression<ResultType<bool, T>>(detail::infixWord(CoreFunctionName::match, x, detail::boundText(pattern)));
}

/// "(x REGEXP ?)" with the pattern bound; SQLite needs a regexp() function registered to run it.
template <TextTag T> Expression<ResultType<bool, T>> regexp(const Expression<T>& x, std::string_view pattern)
{
    return Expression<ResultType<bool, T>>(detail::infixWord(CoreFunctionName::regexp, x, detail::boundText(pattern)));
}

/// "(x COLLATE c)".
template <TextTag T> Expression<T> collate(const Expression<T>& x, const Collation& collation)
{
    return Expression<T>(detail::infixWord(CoreFunctionName::collate, x, collation.expression()));
}

/// "(x IN (?, ?, …))", one placeholder per value in order; an empty list gives "(x IN ())", which is false.
template <ValueTag T> Expression<ResultType<bool, T>> in(const Expression<T>& x, const std::vector<BaseType<T>>& values)
{
    Bindings bound;
    bound.reserve(values.size());
    for (const auto& value : values) {
        bound.emplace_back(toBinding(value));
    }
    return Expression<ResultType<bool, T>>(detail::inExpression(x, std::move(bound)));
}

/// "ifnull(a, ?)" with the default value bound.
template <Value V, class U>
requires PlainValueFor<U, V> Expression<V> ifnull(const Expression<std::optional<V>>& a, const U& defaultValue)
{
    return Expression<V>(detail::functionCall(CoreFunctionName::ifnull,
                                              {a, Expression<void>("?", Bindings{bindingOf<V>(defaultValue)})}));
}

/// "ifnull(a, b)": never NULL when b is not.
template <Value V> Expression<V> ifnull(const Expression<std::optional<V>>& a, const Expression<V>& b)
{
    return Expression<V>(detail::functionCall(CoreFunctionName::ifnull, {a, b}));
}

/// "ifnull(a, b)" with a default that may itself be NULL.
template <Value V>
Expression<std::optional<V>> ifnull(const Expression<std::optional<V>>& a, const Expression<std::optional<V>>& b)
{
    return Expression<std::optional<V>>(detail::functionCall(CoreFunctionName::ifnull, {a, b}));
}

} // namespace sqlite
