#include "sqlite/SchemaDefinitions.h"

#include "sqlite/Fatal.h"
#include "sqlite/QuoteSQL.h"
#include "sqlite/SQLTokens.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

namespace sqlite {

namespace {

constexpr std::string_view unit = "SQLite/SchemaDefinitions";

using detail::SQLToken;

// The parts that are present, joined by single spaces.
std::string joinParts(std::initializer_list<std::optional<std::string>> parts)
{
    std::string out;
    for (const auto& part : parts) {
        if (!part) {
            continue;
        }
        if (!out.empty()) {
            out += ' ';
        }
        out += *part;
    }
    return out;
}

std::string quotedList(const std::vector<std::string>& names)
{
    std::string out;
    for (const std::string& name : names) {
        if (!out.empty()) {
            out += ", ";
        }
        out += quoteSQL(name);
    }
    return out;
}

// `inner` is the body of a quoted text in which every `mark` comes doubled; the body with each pair made one.
std::optional<std::string> unescapeDoubled(std::string_view inner, char mark)
{
    std::string out;
    out.reserve(inner.size());
    for (std::size_t i = 0; i < inner.size(); ++i) {
        if (inner[i] == mark) {
            if (i + 1 >= inner.size() || inner[i + 1] != mark) {
                return std::nullopt;
            }
            ++i;
        }
        out += inner[i];
    }
    return out;
}

// A literal as SQLite writes a signed number: optional sign, then decimal digits with an optional fraction
// and exponent, or a hexadecimal integer.
bool isSignedNumber(std::string_view text)
{
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        ++i;
    }
    if (text.size() - i > 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        return std::all_of(text.begin() + static_cast<std::ptrdiff_t>(i + 2), text.end(),
                           [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
    }
    auto digits = [&] {
        const std::size_t start = i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) != 0) {
            ++i;
        }
        return i - start;
    };
    std::size_t mantissa = digits();
    if (i < text.size() && text[i] == '.') {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0) {
        return false;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            ++i;
        }
        if (digits() == 0) {
            return false;
        }
    }
    return i == text.size();
}

bool isHexDigits(std::string_view text)
{
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
}

// The code point starting at `i` of UTF-8 text, and the index after it; invalid bytes count one each.
std::pair<char32_t, std::size_t> decodeUTF8(std::string_view text, std::size_t i)
{
    const auto lead = static_cast<unsigned char>(text[i]);
    int length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 1;
    if (i + length > text.size()) {
        length = 1;
    }
    char32_t cp = length == 1 ? lead : lead & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
        cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    return {cp, i + length};
}

// Code points that extend the character before them: combining marks, variation selectors, skin tones.
bool extendsCharacter(char32_t cp)
{
    return (cp >= 0x0300 && cp <= 0x036F) || (cp >= 0x1AB0 && cp <= 0x1AFF) || (cp >= 0x1DC0 && cp <= 0x1DFF) ||
           (cp >= 0x20D0 && cp <= 0x20FF) || (cp >= 0xFE00 && cp <= 0xFE0F) || (cp >= 0xFE20 && cp <= 0xFE2F) ||
           (cp >= 0x1F3FB && cp <= 0x1F3FF) || (cp >= 0xE0100 && cp <= 0xE01EF) || cp == 0x200D;
}

// Characters as a reader counts them: a base with its combining marks, or an emoji joined by ZWJ, is one.
std::size_t countCharacters(std::string_view text)
{
    std::size_t count = 0;
    bool afterJoiner = false;
    for (std::size_t i = 0; i < text.size();) {
        const auto [cp, next] = decodeUTF8(text, i);
        if (!(extendsCharacter(cp) || afterJoiner) || count == 0) {
            ++count;
        }
        afterJoiner = cp == 0x200D;
        i = next;
    }
    return count;
}

} // namespace

// ObjectDefinition ---------------------------------------------------------------------------------------

bool ObjectDefinition::isInternal() const
{
    return name.starts_with("sqlite_") || !sql;
}

std::vector<std::string> ObjectDefinition::sqlTexts(const std::vector<ObjectDefinition>& definitions)
{
    std::vector<std::string> texts;
    for (const ObjectDefinition& definition : definitions) {
        if (definition.sql) {
            texts.push_back(*definition.sql);
        }
    }
    return texts;
}

std::string_view toText(ObjectDefinition::ObjectType type)
{
    switch (type) {
    case ObjectDefinition::ObjectType::table:
        return "table";
    case ObjectDefinition::ObjectType::index:
        return "index";
    case ObjectDefinition::ObjectType::view:
        return "view";
    case ObjectDefinition::ObjectType::trigger:
        return "trigger";
    }
    return "table";
}

std::optional<ObjectDefinition::ObjectType> objectTypeFromText(std::string_view text)
{
    using T = ObjectDefinition::ObjectType;
    static constexpr T all[] = {T::table, T::index, T::view, T::trigger};
    return detail::enumFromText(text, all);
}

// LiteralValue -------------------------------------------------------------------------------------------

LiteralValue LiteralValue::parse(std::optional<std::string_view> text)
{
    if (!text) {
        return LiteralValue();
    }
    static constexpr std::array<std::pair<std::string_view, Kind>, 6> keywords{{
        {"NULL", Kind::null},
        {"TRUE", Kind::true_},
        {"FALSE", Kind::false_},
        {"CURRENT_TIME", Kind::currentTime},
        {"CURRENT_TIMESTAMP", Kind::currentTimestamp},
        {"CURRENT_DATE", Kind::currentDate},
    }};
    for (const auto& [word, kind] : keywords) {
        if (*text == word) {
            return of(kind);
        }
    }
    const std::string_view t = *text;
    // 'a' || 'b' also begins and ends with a quote; only a body whose quotes all come in pairs is one text.
    for (const char mark : {'\'', '"'}) {
        if (t.size() >= 2 && t.front() == mark && t.back() == mark) {
            if (auto value = unescapeDoubled(t.substr(1, t.size() - 2), mark)) {
                return stringLiteral(std::move(*value));
            }
        }
    }
    if (t.size() >= 3 && (t[0] == 'x' || t[0] == 'X') && t[1] == '\'' && t.back() == '\'' &&
        isHexDigits(t.substr(2, t.size() - 3))) {
        return blobLiteral(std::string(t.substr(2, t.size() - 3)));
    }
    return numericLiteral(std::string(t));
}

std::string LiteralValue::description() const
{
    switch (kind_) {
    case Kind::numericLiteral:
        return text_;
    case Kind::stringLiteral:
        return quoteSQL(text_, '\'');
    case Kind::blobLiteral:
        return detail::concat("X", quoteSQL(text_, '\''));
    case Kind::null:
        return "NULL";
    case Kind::true_:
        return "TRUE";
    case Kind::false_:
        return "FALSE";
    case Kind::currentTime:
        return "CURRENT_TIME";
    case Kind::currentDate:
        return "CURRENT_DATE";
    case Kind::currentTimestamp:
        return "CURRENT_TIMESTAMP";
    }
    return "NULL";
}

std::string LiteralValue::defaultClauseText() const
{
    if (kind_ == Kind::numericLiteral && !isSignedNumber(text_)) {
        return "(" + text_ + ")";
    }
    return description();
}

// ColumnDefinition ---------------------------------------------------------------------------------------

ColumnDefinition::Affinity ColumnDefinition::affinityFromDeclaredType(std::string_view declaredType)
{
    const std::string upper = detail::upperASCII(declaredType);
    auto contains = [&](std::string_view part) { return upper.find(part) != std::string::npos; };
    if (contains("INT")) {
        return Affinity::integer;
    }
    if (contains("CHAR") || contains("CLOB") || contains("TEXT")) {
        return Affinity::text;
    }
    if (contains("BLOB")) {
        return Affinity::blob;
    }
    if (contains("REAL") || contains("FLOA") || contains("DOUB")) {
        return Affinity::real;
    }
    return Affinity::numeric;
}

std::string_view toText(ColumnDefinition::Affinity affinity)
{
    switch (affinity) {
    case ColumnDefinition::Affinity::integer:
        return "INTEGER";
    case ColumnDefinition::Affinity::numeric:
        return "NUMERIC";
    case ColumnDefinition::Affinity::real:
        return "REAL";
    case ColumnDefinition::Affinity::text:
        return "TEXT";
    case ColumnDefinition::Affinity::blob:
        return "BLOB";
    }
    return "NUMERIC";
}

std::optional<ColumnDefinition::Affinity> affinityFromText(std::string_view text)
{
    using A = ColumnDefinition::Affinity;
    static constexpr A all[] = {A::integer, A::numeric, A::real, A::text, A::blob};
    return detail::enumFromText(text, all);
}

std::string_view toText(ColumnDefinition::OnConflict resolution)
{
    switch (resolution) {
    case ColumnDefinition::OnConflict::rollback:
        return "ROLLBACK";
    case ColumnDefinition::OnConflict::abort:
        return "ABORT";
    case ColumnDefinition::OnConflict::fail:
        return "FAIL";
    case ColumnDefinition::OnConflict::ignore:
        return "IGNORE";
    case ColumnDefinition::OnConflict::replace:
        return "REPLACE";
    }
    return "ABORT";
}

std::optional<ColumnDefinition::OnConflict> columnOnConflictFromText(std::string_view text)
{
    using C = ColumnDefinition::OnConflict;
    static constexpr C all[] = {C::rollback, C::abort, C::fail, C::ignore, C::replace};
    return detail::enumFromText(text, all);
}

std::string ColumnDefinition::PrimaryKey::toSQL() const
{
    return joinParts(
        {"PRIMARY KEY",
         onConflict ? std::optional<std::string>(detail::concat("ON CONFLICT ", toText(*onConflict))) : std::nullopt,
         autoIncrement ? std::optional<std::string>("AUTOINCREMENT") : std::nullopt});
}

std::optional<ColumnDefinition::PrimaryKey> ColumnDefinition::PrimaryKey::parse(std::string_view createTableSQL)
{
    // Tokens are read as the search goes: the clause usually stands near the start of a long text.
    detail::SQLTokenizer tokens(createTableSQL);
    std::optional<SQLToken> token = tokens.next();
    while (token) {
        if (!token->isKeyword("PRIMARY")) {
            token = tokens.next();
            continue;
        }
        token = tokens.next();
        if (!token || !token->isKeyword("KEY")) {
            continue;
        }
        PrimaryKey key;
        token = tokens.next();
        if (token && (token->isKeyword("ASC") || token->isKeyword("DESC"))) {
            token = tokens.next();
        }
        // A table constraint names its columns first; its conflict clause follows them.
        if (token && token->isPunctuation('(')) {
            for (int depth = 0; token; token = tokens.next()) {
                depth += token->isPunctuation('(') ? 1 : token->isPunctuation(')') ? -1 : 0;
                if (depth == 0) {
                    token = tokens.next();
                    break;
                }
            }
        }
        if (token && token->isKeyword("ON")) {
            token = tokens.next();
            if (token && token->isKeyword("CONFLICT")) {
                token = tokens.next();
                if (token && token->kind == SQLToken::Kind::word) {
                    key.onConflict = columnOnConflictFromText(detail::upperASCII(token->text));
                    token = tokens.next();
                }
            }
        }
        key.autoIncrement = token && token->isKeyword("AUTOINCREMENT");
        return key;
    }
    return std::nullopt;
}

std::string ColumnDefinition::ForeignKey::toSQL() const
{
    return joinParts(
        {"REFERENCES", quoteSQL(table),
         primaryKey ? std::optional<std::string>(detail::concat("(", quoteSQL(*primaryKey), ")")) : std::nullopt,
         onUpdate ? std::optional<std::string>("ON UPDATE " + *onUpdate) : std::nullopt,
         onDelete ? std::optional<std::string>("ON DELETE " + *onDelete) : std::nullopt});
}

std::string ColumnDefinition::toSQL() const
{
    return joinParts({quoteSQL(name), std::string(toText(type)),
                      defaultValue.kind() == LiteralValue::Kind::null
                          ? std::nullopt
                          : std::optional<std::string>(detail::concat("DEFAULT ", defaultValue.defaultClauseText())),
                      primaryKey ? std::optional<std::string>(primaryKey->toSQL()) : std::nullopt,
                      nullable ? std::nullopt : std::optional<std::string>("NOT NULL"),
                      references ? std::optional<std::string>(references->toSQL()) : std::nullopt});
}

// IndexDefinition ----------------------------------------------------------------------------------------

IndexDefinition::IndexError::IndexError(std::string name, std::string table)
    : Error(Error::Kind::index), name_(std::move(name)), table_(std::move(table))
{
    description_ = "Index name '" + name_ + "' on table '" + table_ + "' is too long; the limit is " +
                   std::to_string(maxIndexLength) + " characters";
}

IndexDefinition::IndexError IndexDefinition::IndexError::tooLong(std::string name, std::string table)
{
    return IndexError(std::move(name), std::move(table));
}

IndexDefinition IndexDefinition::make(std::string table, std::string name, bool unique,
                                      std::vector<std::string> columns, std::optional<std::string_view> indexSQL)
{
    IndexDefinition index{std::move(table), std::move(name), unique, std::move(columns), std::nullopt, std::nullopt};
    if (indexSQL) {
        index.where = whereCondition(*indexSQL);
        index.orders = descendingColumns(*indexSQL);
    }
    return index;
}

std::optional<std::string> IndexDefinition::whereCondition(std::string_view indexSQL)
{
    int depth = 0;
    detail::SQLTokenizer tokens(indexSQL);
    while (const std::optional<SQLToken> token = tokens.next()) {
        if (token->isPunctuation('(')) {
            ++depth;
        } else if (token->isPunctuation(')')) {
            --depth;
        } else if (depth == 0 && token->isKeyword("WHERE")) {
            const std::string_view rest = detail::trimSQL(indexSQL.substr(token->end()));
            if (rest.empty()) {
                return std::nullopt;
            }
            return std::string(rest);
        }
    }
    return std::nullopt;
}

std::map<std::string, IndexDefinition::Order> IndexDefinition::descendingColumns(std::string_view indexSQL)
{
    std::map<std::string, Order> orders;
    const std::vector<SQLToken> tokens = detail::tokenizeSQL(indexSQL);
    // The column list is the first parenthesis after ON.
    std::size_t i = 0;
    while (i < tokens.size() && !tokens[i].isKeyword("ON")) {
        ++i;
    }
    while (i < tokens.size() && !tokens[i].isPunctuation('(')) {
        ++i;
    }
    if (i == tokens.size()) {
        return orders;
    }
    int depth = 1;
    std::size_t termStart = ++i;
    for (; i < tokens.size() && depth > 0; ++i) {
        const SQLToken& token = tokens[i];
        if (token.isPunctuation('(')) {
            ++depth;
            continue;
        }
        const bool closesList = token.isPunctuation(')') && depth == 1;
        if (token.isPunctuation(')')) {
            --depth;
        }
        if (!(closesList || (depth == 1 && token.isPunctuation(',')))) {
            continue;
        }
        // A term "name [COLLATE c] DESC" that is a plain column; an expression is not an indexed name.
        if (i > termStart && tokens[i - 1].isKeyword("DESC") && tokens[termStart].isName() &&
            (i - termStart == 2 || tokens[termStart + 1].isKeyword("COLLATE"))) {
            orders[tokens[termStart].name()] = Order::desc;
        }
        termStart = i + 1;
    }
    return orders;
}

void IndexDefinition::validate() const
{
    if (countCharacters(name) > static_cast<std::size_t>(maxIndexLength)) {
        throw IndexError::tooLong(name, table);
    }
}

std::string IndexDefinition::toSQL(bool ifNotExists) const
{
    std::string list;
    for (const std::string& column : columns) {
        if (!list.empty()) {
            list += ", ";
        }
        list += quoteSQL(column);
        if (orders) {
            if (const auto found = orders->find(column); found != orders->end()) {
                list += ' ';
                list += toText(found->second);
            }
        }
    }
    return joinParts({"CREATE", unique ? std::optional<std::string>("UNIQUE") : std::nullopt, "INDEX",
                      ifNotExists ? std::optional<std::string>("IF NOT EXISTS") : std::nullopt, quoteSQL(name), "ON",
                      quoteSQL(table), "(" + list + ")",
                      where ? std::optional<std::string>("WHERE " + *where) : std::nullopt});
}

std::string_view toText(IndexDefinition::Order order)
{
    return order == IndexDefinition::Order::asc ? "ASC" : "DESC";
}

std::optional<IndexDefinition::Order> indexOrderFromText(std::string_view text)
{
    static constexpr IndexDefinition::Order all[] = {IndexDefinition::Order::asc, IndexDefinition::Order::desc};
    return detail::enumFromText(text, all);
}

// ForeignKeyError ----------------------------------------------------------------------------------------

std::string ForeignKeyError::description() const
{
    return from + " [" + (rowId ? std::to_string(*rowId) : std::string("NULL")) + "] => " + to;
}

// TableDefinition ----------------------------------------------------------------------------------------

std::string TableDefinition::toSQL(bool temporary) const
{
    if (columns.empty()) {
        SQLITE_FATAL(unit, "a table definition needs at least one column");
    }
    std::vector<const ColumnDefinition*> keyColumns;
    for (const ColumnDefinition& column : columns) {
        if (column.primaryKey) {
            keyColumns.push_back(&column);
        }
    }
    std::stable_sort(keyColumns.begin(), keyColumns.end(),
                     [](const auto* a, const auto* b) { return a->primaryKey->position < b->primaryKey->position; });
    // SQLite takes PRIMARY KEY on one column only: a key over several is a table constraint.
    const bool compositeKey = keyColumns.size() > 1;
    std::string body;
    for (const ColumnDefinition& column : columns) {
        if (!body.empty()) {
            body += ",\n";
        }
        if (compositeKey) {
            ColumnDefinition plain = column;
            plain.primaryKey.reset();
            body += plain.toSQL();
        } else {
            body += column.toSQL();
        }
    }
    if (compositeKey) {
        std::vector<std::string> names;
        for (const ColumnDefinition* column : keyColumns) {
            names.push_back(column->name);
        }
        // The reader gives every key column the same details; take the first that names a resolution.
        std::optional<ColumnDefinition::OnConflict> onConflict;
        for (const ColumnDefinition* column : keyColumns) {
            if (!onConflict) {
                onConflict = column->primaryKey->onConflict;
            }
        }
        body += ",\n" +
                joinParts({detail::concat("PRIMARY KEY (", quotedList(names), ")"),
                           onConflict ? std::optional<std::string>(detail::concat("ON CONFLICT ", toText(*onConflict)))
                                      : std::nullopt});
    }
    return joinParts({"CREATE", temporary ? std::optional<std::string>("TEMPORARY") : std::nullopt, "TABLE",
                      quoteSQL(name), "(", body, ")"});
}

std::string TableDefinition::copySQL(const TableDefinition& target) const
{
    if (columns.empty() || columns.size() != target.columns.size()) {
        SQLITE_FATAL(unit, "a row copy pairs the columns of two tables with as many columns, at least one");
    }
    auto names = [](const TableDefinition& table) {
        std::vector<std::string> list;
        for (const ColumnDefinition& column : table.columns) {
            list.push_back(column.name);
        }
        return quotedList(list);
    };
    return detail::concat("INSERT INTO ", quoteSQL(target.name), " (", names(target), ") SELECT ", names(*this),
                          " FROM ", quoteSQL(name));
}

} // namespace sqlite
