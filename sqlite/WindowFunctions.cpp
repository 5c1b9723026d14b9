#include "sqlite/WindowFunctions.h"

namespace sqlite {

std::string_view text(WindowFunction function)
{
    switch (function) {
    case WindowFunction::ntile:
        return "ntile";
    case WindowFunction::row_number:
        return "row_number";
    case WindowFunction::rank:
        return "rank";
    case WindowFunction::dense_rank:
        return "dense_rank";
    case WindowFunction::percent_rank:
        return "percent_rank";
    case WindowFunction::cume_dist:
        return "cume_dist";
    case WindowFunction::lag:
        return "lag";
    case WindowFunction::lead:
        return "lead";
    case WindowFunction::first_value:
        return "first_value";
    case WindowFunction::last_value:
        return "last_value";
    case WindowFunction::nth_value:
        return "nth_value";
    }
    return {};
}

namespace detail {

Expression<void> overOrdering(const Expression<void>& call, const Expressible& ordering)
{
    const Expression<void>& order = ordering.expression();
    Expression<void> window("OVER (ORDER BY " + order.template_ + ")", order.bindings);
    return joinExpressions(" ", {call, window});
}

Expression<void> offsetWindow(WindowFunction function, const Expression<void>& column, std::int64_t number,
                              const std::optional<Expressible>& defaultValue, const Expressible& ordering)
{
    const Expression<void>& order = ordering.expression();
    std::string text(sqlite::text(function));
    text += '(';
    text += column.template_;
    text += ", ";
    text += std::to_string(number);
    if (defaultValue) {
        text += ", ";
        text += toSQLText(*defaultValue);
    }
    text += ") OVER (ORDER BY ";
    text += order.template_;
    text += ')';
    Bindings bindings = column.bindings;
    bindings.insert(bindings.end(), order.bindings.begin(), order.bindings.end());
    return Expression<void>(std::move(text), std::move(bindings));
}

} // namespace detail

namespace {
Expression<void> ranking(WindowFunction function, const Expressible& ordering)
{
    return detail::overOrdering(Expression<void>(std::string(text(function)) + "()"), ordering);
}
} // namespace

Expression<std::int64_t> ntile(std::int64_t n, const Expressible& ordering)
{
    Expression<void> call = wrapAsCall(text(WindowFunction::ntile), Expression<void>("?", Bindings{Binding(n)}));
    return Expression<std::int64_t>(detail::overOrdering(call, ordering));
}

Expression<std::int64_t> rowNumber(const Expressible& ordering)
{
    return Expression<std::int64_t>(ranking(WindowFunction::row_number, ordering));
}

Expression<std::int64_t> rank(const Expressible& ordering)
{
    return Expression<std::int64_t>(ranking(WindowFunction::rank, ordering));
}

Expression<std::int64_t> denseRank(const Expressible& ordering)
{
    return Expression<std::int64_t>(ranking(WindowFunction::dense_rank, ordering));
}

Expression<double> percentRank(const Expressible& ordering)
{
    return Expression<double>(ranking(WindowFunction::percent_rank, ordering));
}

Expression<double> cumeDist(const Expressible& ordering)
{
    return Expression<double>(ranking(WindowFunction::cume_dist, ordering));
}

} // namespace sqlite
