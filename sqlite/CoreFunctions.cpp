#include "sqlite/CoreFunctions.h"

#include "sqlite/Fatal.h"

namespace sqlite {

std::string_view text(CoreFunctionName name)
{
    switch (name) {
    case CoreFunctionName::abs:
        return "abs";
    case CoreFunctionName::round:
        return "round";
    case CoreFunctionName::random:
        return "random";
    case CoreFunctionName::randomblob:
        return "randomblob";
    case CoreFunctionName::zeroblob:
        return "zeroblob";
    case CoreFunctionName::length:
        return "length";
    case CoreFunctionName::lower:
        return "lower";
    case CoreFunctionName::upper:
        return "upper";
    case CoreFunctionName::ltrim:
        return "ltrim";
    case CoreFunctionName::rtrim:
        return "rtrim";
    case CoreFunctionName::trim:
        return "trim";
    case CoreFunctionName::replace:
        return "replace";
    case CoreFunctionName::substr:
        return "substr";
    case CoreFunctionName::like:
        return "LIKE";
    case CoreFunctionName::in:
        return "IN";
    case CoreFunctionName::glob:
        return "GLOB";
    case CoreFunctionName::match:
        return "MATCH";
    case CoreFunctionName::regexp:
        return "REGEXP";
    case CoreFunctionName::collate:
        return "COLLATE";
    case CoreFunctionName::ifnull:
        return "ifnull";
    }
    return {};
}

namespace detail {

Expression<void> functionCall(CoreFunctionName name, const std::vector<Expressible>& operands)
{
    return wrapAsCall(text(name), joinExpressions(", ", operands));
}

Expression<void> infixWord(CoreFunctionName word, const Expressible& left, const Expressible& right)
{
    return infixExpression(text(word), left, right);
}

Expression<void> likeExpression(const Expressible& left, const Expressible& pattern,
                                const std::optional<std::string>& escape)
{
    if (!escape) {
        return infixWord(CoreFunctionName::like, left, pattern);
    }
    Expression<void> joined = infixExpression(text(CoreFunctionName::like), left, pattern, false);
    joined.template_ = "(" + joined.template_ + " ESCAPE ?)";
    joined.bindings.emplace_back(Binding(*escape));
    return joined;
}

Expression<void> inExpression(const Expressible& left, Bindings values)
{
    std::string marks;
    for (std::size_t i = 0; i < values.size(); ++i) {
        marks += i == 0 ? "?" : ", ?";
    }
    return infixWord(CoreFunctionName::in, left, Expression<void>("(" + marks + ")", std::move(values)));
}

Expression<void> boundText(std::string_view text)
{
    return Expression<void>("?", Bindings{Binding(std::string(text))});
}

Expression<void> boundInteger(std::int64_t value)
{
    return Expression<void>("?", Bindings{Binding(value)});
}

std::int64_t rangeWidth(const PositionRange& range)
{
    std::int64_t width = 0;
    if (range.upper < range.lower || __builtin_sub_overflow(range.upper, range.lower, &width)) {
        SQLITE_FATAL("SQLite/CoreFunctions", "substring range is reversed or too wide for a 64-bit integer");
    }
    return width;
}

} // namespace detail

Expression<Blob> randomblob(std::int64_t length)
{
    return Expression<Blob>(detail::functionCall(CoreFunctionName::randomblob, {detail::boundInteger(length)}));
}

Expression<Blob> zeroblob(std::int64_t length)
{
    return Expression<Blob>(detail::functionCall(CoreFunctionName::zeroblob, {detail::boundInteger(length)}));
}

} // namespace sqlite
