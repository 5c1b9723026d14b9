#pragma once

#include "sqlite/Expression.h"

#include <cstdint>
#include <optional>

// Aggregate calls for select lists, HAVING and scalar queries: "name(T)" with the argument's bindings unchanged.
// The result types follow SQLite: max, min, avg and sum are NULL over no rows, total is 0.0, count an integer.

namespace sqlite {

/// "DISTINCT T", no parentheses; for use inside another aggregate.
template <ValueTag T> Expression<T> distinct(const Expression<T>& item)
{
    return Expression<T>("DISTINCT " + item.template_, item.bindings);
}

/// "count(T)".
template <ValueTag T> Expression<std::int64_t> count(const Expression<T>& item)
{
    return Expression<std::int64_t>(detail::call("count", item));
}

/// "max(T)".
template <ValueTag T> Expression<std::optional<BaseType<T>>> max(const Expression<T>& item)
{
    return Expression<std::optional<BaseType<T>>>(detail::call("max", item));
}

/// "min(T)".
template <ValueTag T> Expression<std::optional<BaseType<T>>> min(const Expression<T>& item)
{
    return Expression<std::optional<BaseType<T>>>(detail::call("min", item));
}

/// "avg(T)".
template <NumericTag T> Expression<std::optional<double>> avg(const Expression<T>& item)
{
    return Expression<std::optional<double>>(detail::call("avg", item));
}

/// "sum(T)".
template <NumericTag T> Expression<std::optional<BaseType<T>>> sum(const Expression<T>& item)
{
    return Expression<std::optional<BaseType<T>>>(detail::call("sum", item));
}

/// "total(T)".
template <NumericTag T> Expression<double> total(const Expression<T>& item)
{
    return Expression<double>(detail::call("total", item));
}

/// "count(*)".
Expression<std::int64_t> countStar();

} // namespace sqlite
