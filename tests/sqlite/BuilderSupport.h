#pragma once

#include "sqlite/CompiledStatement.h"
#include "sqlite/Expression.h"

#include <gtest/gtest.h>
#include <ostream>
#include <type_traits>

namespace sqlite {

inline void PrintTo(const Expression<void>& e, std::ostream* os)
{
    *os << '[' << e.template_ << "] with {";
    for (std::size_t i = 0; i < e.bindings.size(); ++i) {
        *os << (i ? ", " : "") << describe(e.bindings[i]);
    }
    *os << '}';
}

inline void PrintTo(const CompiledStatement& s, std::ostream* os)
{
    PrintTo(s.expression(), os);
}

} // namespace sqlite

namespace builder_test {

using namespace sqlite;

inline std::optional<Binding> binding(std::nullptr_t)
{
    return std::nullopt;
}
inline std::optional<Binding> binding(const char* text)
{
    return Binding(std::string(text));
}
inline std::optional<Binding> binding(const Blob& blob)
{
    return Binding(blob);
}
template <class T>
requires std::is_arithmetic_v<T> std::optional<Binding> binding(T number)
{
    if constexpr (std::is_floating_point_v<T>) {
        return Binding(static_cast<double>(number));
    } else {
        return Binding(static_cast<std::int64_t>(number));
    }
}

/// The expected text and values of a fragment, compared together.
template <class... Values> Expression<void> sql(std::string text, const Values&... values)
{
    return Expression<void>(std::move(text), Bindings{binding(values)...});
}

/// Any expression or compiled statement as its untyped expression, so comparisons and failure messages show
/// the text and the values.
inline Expression<void> untyped(const Expression<void>& e)
{
    return e;
}
inline Expression<void> untyped(const CompiledStatement& s)
{
    return s.expression();
}

template <class T> Expression<T> column(std::string_view name)
{
    return Expression<T>::makeIdentifierExpression(name);
}

} // namespace builder_test
