#include "sqlite/SQLTokens.h"

#include <cctype>

namespace sqlite::detail {

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// SQLite takes every byte of a multi-byte UTF-8 character as part of a bare word, like "$" and "_".
bool isWordByte(char c)
{
    const auto b = static_cast<unsigned char>(c);
    return std::isalnum(b) != 0 || c == '_' || c == '$' || b >= 0x80;
}

// The index just past the closing `close`; a doubled `close` inside stands for one and does not close.
std::size_t skipQuoted(std::string_view sql, std::size_t start, char close, bool doubledEscapes)
{
    std::size_t i = start + 1;
    while (i < sql.size()) {
        if (sql[i] == close) {
            if (doubledEscapes && i + 1 < sql.size() && sql[i + 1] == close) {
                i += 2;
                continue;
            }
            return i + 1;
        }
        ++i;
    }
    return sql.size();
}

} // namespace

bool SQLToken::isKeyword(std::string_view keyword) const
{
    if (kind != Kind::word || text.size() != keyword.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(text[i])) != std::toupper(static_cast<unsigned char>(keyword[i]))) {
            return false;
        }
    }
    return true;
}

std::string SQLToken::name() const
{
    if (kind != Kind::quotedIdentifier || text.size() < 2) {
        return std::string(text);
    }
    const char open = text.front();
    const char close = open == '[' ? ']' : open;
    std::string out;
    out.reserve(text.size());
    const std::string_view inner = text.substr(1, text.back() == close ? text.size() - 2 : text.size() - 1);
    for (std::size_t i = 0; i < inner.size(); ++i) {
        out += inner[i];
        if (open != '[' && inner[i] == close && i + 1 < inner.size() && inner[i + 1] == close) {
            ++i;
        }
    }
    return out;
}

std::optional<SQLToken> SQLTokenizer::next()
{
    const std::string_view sql = sql_;
    std::size_t i = position_;
    while (i < sql.size()) {
        const char c = sql[i];
        if (isSpace(c)) {
            ++i;
            continue;
        }
        if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
            const std::size_t lineEnd = sql.find('\n', i);
            i = lineEnd == std::string_view::npos ? sql.size() : lineEnd + 1;
            continue;
        }
        if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
            const std::size_t commentEnd = sql.find("*/", i + 2);
            i = commentEnd == std::string_view::npos ? sql.size() : commentEnd + 2;
            continue;
        }
        break;
    }
    if (i >= sql.size()) {
        position_ = sql.size();
        return std::nullopt;
    }
    const char c = sql[i];
    const std::size_t start = i;
    SQLToken::Kind kind;
    if (c == '\'') {
        kind = SQLToken::Kind::string;
        i = skipQuoted(sql, i, '\'', true);
    } else if (c == '"' || c == '`') {
        kind = SQLToken::Kind::quotedIdentifier;
        i = skipQuoted(sql, i, c, true);
    } else if (c == '[') {
        kind = SQLToken::Kind::quotedIdentifier;
        i = skipQuoted(sql, i, ']', false);
    } else if ((c == 'x' || c == 'X') && i + 1 < sql.size() && sql[i + 1] == '\'') {
        kind = SQLToken::Kind::blob;
        i = skipQuoted(sql, i + 1, '\'', true);
    } else if (std::isdigit(static_cast<unsigned char>(c)) != 0 ||
               (c == '.' && i + 1 < sql.size() && std::isdigit(static_cast<unsigned char>(sql[i + 1])) != 0)) {
        kind = SQLToken::Kind::number;
        while (i < sql.size()) {
            const char d = sql[i];
            if (isWordByte(d) || d == '.') {
                ++i;
            } else if ((d == '+' || d == '-') && (sql[i - 1] == 'e' || sql[i - 1] == 'E')) {
                ++i;
            } else {
                break;
            }
        }
    } else if (isWordByte(c)) {
        kind = SQLToken::Kind::word;
        while (i < sql.size() && isWordByte(sql[i])) {
            ++i;
        }
    } else {
        kind = SQLToken::Kind::punctuation;
        ++i;
    }
    position_ = i;
    return SQLToken{kind, sql.substr(start, i - start), start};
}

std::vector<SQLToken> tokenizeSQL(std::string_view sql)
{
    std::vector<SQLToken> tokens;
    SQLTokenizer tokenizer(sql);
    while (std::optional<SQLToken> token = tokenizer.next()) {
        tokens.push_back(*token);
    }
    return tokens;
}

std::string upperASCII(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

std::string_view trimSQL(std::string_view text)
{
    while (!text.empty() && isSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isSpace(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

} // namespace sqlite::detail
