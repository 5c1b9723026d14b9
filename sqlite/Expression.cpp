#include "sqlite/Expression.h"

#include "sqlite/QuoteSQL.h"

#include <charconv>
#include <cmath>

namespace sqlite {

namespace {

void appendLiteral(std::string& out, const std::optional<Binding>& value)
{
    if (!value) {
        out += "NULL";
        return;
    }
    std::visit(
        [&out](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::int64_t>) {
                char buffer[24];
                auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
                out.append(buffer, end);
            } else if constexpr (std::is_same_v<T, double>) {
                // SQLite has no literal for infinity or NaN: an overflowing literal reads as infinity, and a bound
                // NaN is stored as NULL, so the literals say the same.
                if (std::isnan(v)) {
                    out += "NULL";
                } else if (std::isinf(v)) {
                    out += v > 0 ? "9e999" : "-9e999";
                } else {
                    char buffer[32];
                    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
                    std::string_view digits(buffer, static_cast<std::size_t>(end - buffer));
                    out += digits;
                    if (digits.find_first_of(".e") == std::string_view::npos) {
                        out += ".0";
                    }
                }
            } else if constexpr (std::is_same_v<T, std::string>) {
                out += quoteSQL(v, '\'');
            } else {
                out += v.description();
            }
        },
        *value);
}

Expression<void> joined(std::string_view separator, const Expression<void>& left, const Expression<void>& right,
                        bool wrap)
{
    Expression<void> result;
    result.template_.reserve(left.template_.size() + right.template_.size() + separator.size() + 2);
    if (wrap) {
        result.template_ += '(';
    }
    result.template_ += left.template_;
    result.template_ += separator;
    result.template_ += right.template_;
    if (wrap) {
        result.template_ += ')';
    }
    result.bindings.reserve(left.bindings.size() + right.bindings.size());
    result.bindings.insert(result.bindings.end(), left.bindings.begin(), left.bindings.end());
    result.bindings.insert(result.bindings.end(), right.bindings.begin(), right.bindings.end());
    return result;
}

} // namespace

Expression<void> Expression<void>::makeIdentifierExpression(std::string_view name)
{
    return Expression(quoteSQL(name, '"'));
}

std::string Expression<void>::description() const
{
    return toSQLText(template_, bindings);
}

Expression<void> Expression<void>::asc() const
{
    return Expression(template_ + " ASC", bindings);
}

Expression<void> Expression<void>::desc() const
{
    return Expression(template_ + " DESC", bindings);
}

Expression<void> asc(const Expressible& item)
{
    return item.expression().asc();
}

Expression<void> desc(const Expressible& item)
{
    return item.expression().desc();
}

namespace detail {

Expression<void> castExpression(const Expression<void>& item, std::string_view declaredDatatype)
{
    std::string text;
    text.reserve(item.template_.size() + declaredDatatype.size() + 11);
    text += "CAST (";
    text += item.template_;
    text += " AS ";
    text += declaredDatatype;
    text += ')';
    return Expression<void>(std::move(text), item.bindings);
}

Expression<void> call(std::string_view name, const Expression<void>& item)
{
    std::string text;
    text.reserve(name.size() + item.template_.size() + 2);
    text += name;
    text += '(';
    text += item.template_;
    text += ')';
    return Expression<void>(std::move(text), item.bindings);
}

} // namespace detail

const Expression<std::int64_t>& rowid()
{
    static const Expression<std::int64_t> expression = Expression<std::int64_t>::makeIdentifierExpression("ROWID");
    return expression;
}

std::string sqlLiteral(const std::optional<Binding>& value)
{
    std::string out;
    appendLiteral(out, value);
    return out;
}

std::string toSQLText(std::string_view templateText, const Bindings& bindings)
{
    std::string out;
    out.reserve(templateText.size() + bindings.size() * 8);
    std::size_t position = 0;
    // A "?" is a placeholder only where SQLite would read one: not inside a quoted identifier ("", ``, []),
    // a text literal ('') or a comment. Doubled quotes inside a quoted run close and reopen it, which the
    // toggling below handles without looking ahead.
    char closing = 0;
    std::size_t commentBody = 0;
    for (std::size_t i = 0; i < templateText.size(); ++i) {
        const char c = templateText[i];
        if (closing != 0) {
            out += c;
            if (closing == '\n' && c == '\n') {
                closing = 0;
            } else if (closing == '*' && c == '/' && i > commentBody && templateText[i - 1] == '*') {
                closing = 0;
            } else if (closing != '\n' && closing != '*' && c == closing) {
                closing = 0;
            }
            continue;
        }
        switch (c) {
        case '\'':
        case '"':
        case '`':
            closing = c;
            out += c;
            break;
        case '[':
            closing = ']';
            out += c;
            break;
        case '-':
            if (i + 1 < templateText.size() && templateText[i + 1] == '-') {
                closing = '\n';
            }
            out += c;
            break;
        case '/':
            if (i + 1 < templateText.size() && templateText[i + 1] == '*') {
                closing = '*';
                out += "/*";
                ++i;
                commentBody = i + 1;
            } else {
                out += c;
            }
            break;
        case '?':
            if (position < bindings.size()) {
                appendLiteral(out, bindings[position]);
                ++position;
            } else {
                out += c;
            }
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string toSQLText(const Expressible& item)
{
    return item.expression().description();
}

Expression<void> joinExpressions(std::string_view separator, const std::vector<Expressible>& items)
{
    Expression<void> result;
    std::size_t length = 0;
    std::size_t count = 0;
    for (const Expressible& item : items) {
        length += item.expression().template_.size() + separator.size();
        count += item.expression().bindings.size();
    }
    result.template_.reserve(length);
    result.bindings.reserve(count);
    bool first = true;
    for (const Expressible& item : items) {
        if (!first) {
            result.template_ += separator;
        }
        first = false;
        const Expression<void>& e = item.expression();
        result.template_ += e.template_;
        result.bindings.insert(result.bindings.end(), e.bindings.begin(), e.bindings.end());
    }
    return result;
}

Expression<void> infixExpression(std::string_view op, const Expressible& left, const Expressible& right, bool wrap)
{
    std::string separator;
    separator.reserve(op.size() + 2);
    separator += ' ';
    separator += op;
    separator += ' ';
    return joined(separator, left.expression(), right.expression(), wrap);
}

Expression<void> wrapAsCall(std::string_view name, const Expressible& item)
{
    return detail::call(name, item.expression());
}

Expression<void> star()
{
    return Expression<void>("*");
}

} // namespace sqlite
