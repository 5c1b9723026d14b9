#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sqlite::detail {

/// One token of an SQL text that SQLite reports back (a CREATE statement, a default value). Quoted parts and
/// comments are single tokens, so a keyword inside a text literal or a quoted name is never taken for one.
struct SQLToken {
    enum class Kind { word, quotedIdentifier, string, blob, number, punctuation };

    Kind kind;
    /// The token as written, quotes included.
    std::string_view text;
    /// Where the token starts in the tokenized text.
    std::size_t offset;

    std::size_t end() const { return offset + text.size(); }
    /// A bare word equal to `keyword`, ignoring ASCII case (SQLite's keywords are case-insensitive).
    bool isKeyword(std::string_view keyword) const;
    bool isPunctuation(char c) const { return kind == Kind::punctuation && text.size() == 1 && text[0] == c; }
    /// A name: a bare word, or a quoted identifier ("…", `…`, […]) without its quotes.
    bool isName() const { return kind == Kind::word || kind == Kind::quotedIdentifier; }
    /// The name without quotes and with doubled quote marks made single.
    std::string name() const;
};

/// Reads the tokens of an SQL text one at a time, skipping white space and comments, in one pass without
/// recursion, so texts of any length are safe; an unterminated quote runs to the end of the text. A search that
/// stops early reads no further.
class SQLTokenizer {
public:
    explicit SQLTokenizer(std::string_view sql) : sql_(sql) {}
    /// The next token; none at the end.
    std::optional<SQLToken> next();

private:
    std::string_view sql_;
    std::size_t position_ = 0;
};

/// Every token of `sql`.
std::vector<SQLToken> tokenizeSQL(std::string_view sql);

/// The parts one after another. (GCC 12 warns wrongly about "literal" + a temporary string at -O2.)
template <class... Parts> std::string concat(const Parts&... parts)
{
    std::string out;
    (out.append(std::string_view(parts)), ...);
    return out;
}

/// The value among `values` whose `toText` is exactly `text`; none for any other text.
template <class E, std::size_t N> std::optional<E> enumFromText(std::string_view text, const E (&values)[N])
{
    for (const E value : values) {
        if (toText(value) == text) {
            return value;
        }
    }
    return std::nullopt;
}

/// ASCII upper case of `text`.
std::string upperASCII(std::string_view text);

/// `text` without leading and trailing white space.
std::string_view trimSQL(std::string_view text);

} // namespace sqlite::detail
