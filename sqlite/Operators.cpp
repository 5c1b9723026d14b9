#include "sqlite/Operators.h"

#include <array>

namespace sqlite {

std::string_view tokenText(OperatorToken token)
{
    static constexpr std::array<std::string_view, 20> texts = {
        "+", "-", "OR", "AND", "NOT ", "*", "/", "%", "<<", ">>", "&", "|", "~", "=", "!=", ">", "<", ">=", "<=", "||",
    };
    return texts[static_cast<std::size_t>(token)];
}

namespace detail {

namespace {

void appendInfix(Expression<void>& out, std::string_view token, std::string_view left, std::string_view right)
{
    out.template_.reserve(left.size() + right.size() + token.size() + 4);
    out.template_ += '(';
    out.template_ += left;
    out.template_ += ' ';
    out.template_ += token;
    out.template_ += ' ';
    out.template_ += right;
    out.template_ += ')';
}

void appendBindings(Bindings& out, const Bindings& more)
{
    out.insert(out.end(), more.begin(), more.end());
}

} // namespace

Expression<void> infix(std::string_view token, const Expression<void>& left, const Expression<void>& right)
{
    Expression<void> result;
    appendInfix(result, token, left.template_, right.template_);
    result.bindings.reserve(left.bindings.size() + right.bindings.size());
    appendBindings(result.bindings, left.bindings);
    appendBindings(result.bindings, right.bindings);
    return result;
}

Expression<void> infixValueRight(std::string_view token, const Expression<void>& left, std::optional<Binding> right)
{
    Expression<void> result;
    appendInfix(result, token, left.template_, "?");
    result.bindings.reserve(left.bindings.size() + 1);
    appendBindings(result.bindings, left.bindings);
    result.bindings.push_back(std::move(right));
    return result;
}

Expression<void> infixValueLeft(std::string_view token, std::optional<Binding> left, const Expression<void>& right)
{
    Expression<void> result;
    appendInfix(result, token, "?", right.template_);
    result.bindings.reserve(right.bindings.size() + 1);
    result.bindings.push_back(std::move(left));
    appendBindings(result.bindings, right.bindings);
    return result;
}

Expression<void> bitwiseXor(const Expression<void>& a, const Expression<void>& b)
{
    Expression<void> notBoth = call("~", infix("&", a, b));
    return infix("&", notBoth, infix("|", a, b));
}

Expression<void> joinList(std::string_view separator, const std::vector<Expression<bool>>& items)
{
    Expression<void> result;
    result.template_ += '(';
    bool first = true;
    for (const Expression<bool>& item : items) {
        if (!first) {
            result.template_ += separator;
        }
        first = false;
        result.template_ += item.template_;
        appendBindings(result.bindings, item.bindings);
    }
    result.template_ += ')';
    return result;
}

Expression<void> appendText(const Expression<void>& item, std::string_view text, std::optional<Binding> first)
{
    Expression<void> result(item.template_ + std::string(text), item.bindings);
    result.bindings.push_back(std::move(first));
    return result;
}

Expression<void> betweenExpression(const Expression<void>& item, std::optional<Binding> lower,
                                   std::optional<Binding> upper)
{
    Expression<void> result = appendText(item, " BETWEEN ? AND ?", std::move(lower));
    result.bindings.push_back(std::move(upper));
    return result;
}

Expression<void> halfOpenRange(const Expression<void>& item, std::optional<Binding> lower, std::optional<Binding> upper)
{
    Expression<void> result;
    result.template_ = item.template_ + " >= ? AND " + item.template_ + " < ?";
    result.bindings.reserve(item.bindings.size() * 2 + 2);
    appendBindings(result.bindings, item.bindings);
    result.bindings.push_back(std::move(lower));
    appendBindings(result.bindings, item.bindings);
    result.bindings.push_back(std::move(upper));
    return result;
}

} // namespace detail

Expression<bool> andList(const std::vector<Expression<bool>>& items)
{
    return Expression<bool>(detail::joinList(" AND ", items));
}

Expression<bool> orList(const std::vector<Expression<bool>>& items)
{
    return Expression<bool>(detail::joinList(" OR ", items));
}

} // namespace sqlite
