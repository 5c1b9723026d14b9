#pragma once

#include "sqlite/Expression.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace sqlite {

/// SQLite's window functions. Every window these builders write is "OVER (ORDER BY O)" with a single ordering
/// expression O: no PARTITION BY and no frame.
enum class WindowFunction {
    ntile,
    row_number,
    rank,
    dense_rank,
    percent_rank,
    cume_dist,
    lag,
    lead,
    first_value,
    last_value,
    nth_value,
};

std::string_view text(WindowFunction function);

namespace detail {
/// call + " OVER (ORDER BY " + O + ")", bindings the call's then the ordering's.
Expression<void> overOrdering(const Expression<void>& call, const Expressible& ordering);
/// name(T, n[, D]) OVER (ORDER BY O): the integer written into the text, the default inlined as a literal.
Expression<void> offsetWindow(WindowFunction function, const Expression<void>& column, std::int64_t number,
                              const std::optional<Expressible>& defaultValue, const Expressible& ordering);
} // namespace detail

/// "ntile(?) OVER (ORDER BY O)" with n bound before the ordering's values.
Expression<std::int64_t> ntile(std::int64_t n, const Expressible& ordering);
/// "row_number() OVER (ORDER BY O)".
Expression<std::int64_t> rowNumber(const Expressible& ordering);
/// "rank() OVER (ORDER BY O)".
Expression<std::int64_t> rank(const Expressible& ordering);
/// "dense_rank() OVER (ORDER BY O)".
Expression<std::int64_t> denseRank(const Expressible& ordering);
/// "percent_rank() OVER (ORDER BY O)".
Expression<double> percentRank(const Expressible& ordering);
/// "cume_dist() OVER (ORDER BY O)".
Expression<double> cumeDist(const Expressible& ordering);

/// "lag(T, offset) OVER (ORDER BY O)"; the offset is written into the text.
template <class T> Expression<T> lag(const Expression<T>& column, std::int64_t offset, const Expressible& ordering)
{
    return Expression<T>(detail::offsetWindow(WindowFunction::lag, column, offset, std::nullopt, ordering));
}

/// "lag(T, offset, D) OVER (ORDER BY O)"; the default D is written in as an SQL literal and binds nothing.
template <class T>
Expression<T> lag(const Expression<T>& column, std::int64_t offset, const std::optional<Expressible>& defaultValue,
                  const Expressible& ordering)
{
    return Expression<T>(detail::offsetWindow(WindowFunction::lag, column, offset, defaultValue, ordering));
}

/// "lead(T, offset) OVER (ORDER BY O)".
template <class T> Expression<T> lead(const Expression<T>& column, std::int64_t offset, const Expressible& ordering)
{
    return Expression<T>(detail::offsetWindow(WindowFunction::lead, column, offset, std::nullopt, ordering));
}

/// "lead(T, offset, D) OVER (ORDER BY O)".
template <class T>
Expression<T> lead(const Expression<T>& column, std::int64_t offset, const std::optional<Expressible>& defaultValue,
                   const Expressible& ordering)
{
    return Expression<T>(detail::offsetWindow(WindowFunction::lead, column, offset, defaultValue, ordering));
}

/// "first_value(T) OVER (ORDER BY O)".
template <class T> Expression<T> firstValue(const Expression<T>& column, const Expressible& ordering)
{
    return Expression<T>(detail::overOrdering(wrapAsCall(text(WindowFunction::first_value), column), ordering));
}

/// "last_value(T) OVER (ORDER BY O)".
template <class T> Expression<T> lastValue(const Expression<T>& column, const Expressible& ordering)
{
    return Expression<T>(detail::overOrdering(wrapAsCall(text(WindowFunction::last_value), column), ordering));
}

/// "nth_value(T, n) OVER (ORDER BY O)"; n is written into the text.
template <class T> Expression<T> nthValue(const Expression<T>& column, std::int64_t n, const Expressible& ordering)
{
    return Expression<T>(detail::offsetWindow(WindowFunction::nth_value, column, n, std::nullopt, ordering));
}

} // namespace sqlite
