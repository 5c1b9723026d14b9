#include "sqlite/FTSConfig.h"

#include "sqlite/QuoteSQL.h"

#include <algorithm>

namespace sqlite {

namespace {

/// key=value: the key as bare text, the value's text and bindings after "=".
Expression<void> option(std::string_view key, const Expressible& value)
{
    const Expression<void>& expression = value.expression();
    std::string text(key);
    text += '=';
    text += expression.template_;
    return Expression<void>(std::move(text), expression.bindings);
}

Expression<void> literal(std::string text)
{
    return Expression<void>(std::move(text));
}

/// Each character (a whole UTF-8 sequence) once, in the order of its first appearance.
std::string distinctCharacters(std::string_view characters)
{
    std::vector<std::string_view> seen;
    std::string result;
    for (std::size_t i = 0; i < characters.size();) {
        std::size_t length = 1;
        const auto lead = static_cast<unsigned char>(characters[i]);
        if (lead >= 0xF0) {
            length = 4;
        } else if (lead >= 0xE0) {
            length = 3;
        } else if (lead >= 0xC0) {
            length = 2;
        }
        length = std::min(length, characters.size() - i);
        std::string_view character = characters.substr(i, length);
        if (std::find(seen.begin(), seen.end(), character) == seen.end()) {
            seen.push_back(character);
            result += character;
        }
        i += length;
    }
    return result;
}

bool isQuotedIdentifier(std::string_view word)
{
    return word.size() >= 2 && word.front() == '"' && word.back() == '"';
}

std::string unquoteIdentifier(std::string_view word)
{
    std::string result;
    std::string_view inner = word.substr(1, word.size() - 2);
    for (std::size_t i = 0; i < inner.size(); ++i) {
        result += inner[i];
        if (inner[i] == '"' && i + 1 < inner.size() && inner[i + 1] == '"') {
            ++i;
        }
    }
    return result;
}

bool isBareWord(std::string_view word)
{
    return !word.empty() && std::all_of(word.begin(), word.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    });
}

/// FTS5 reads tokenizer words as bare words or single-quoted texts.
std::string fts5Word(std::string_view word)
{
    return isBareWord(word) ? std::string(word) : quoteSQL(word, '\'');
}

bool isUnicode61Option(std::string_view key)
{
    return key == "remove_diacritics" || key == "tokenchars" || key == "separators" || key == "categories";
}

} // namespace

// Tokenizer ---------------------------------------------------------------------------------------------------

std::string Tokenizer::description() const
{
    std::string text = name;
    for (const std::string& argument : arguments) {
        text += ' ';
        text += argument;
    }
    return text;
}

std::string Tokenizer::fts5Description() const
{
    if (arguments.empty()) {
        return name;
    }
    std::vector<std::string> words;
    words.push_back(isQuotedIdentifier(name) ? unquoteIdentifier(name) : name);
    for (const std::string& argument : arguments) {
        if (!isQuotedIdentifier(argument)) {
            words.push_back(argument);
            continue;
        }
        std::string word = unquoteIdentifier(argument);
        // FTS4 writes unicode61's options as one "key=value" word; FTS5 wants the key and the value apart.
        std::size_t equals = word.find('=');
        if (equals != std::string::npos && isUnicode61Option(std::string_view(word).substr(0, equals))) {
            words.push_back(word.substr(0, equals));
            words.push_back(word.substr(equals + 1));
        } else {
            words.push_back(std::move(word));
        }
    }
    std::string joined;
    for (const std::string& word : words) {
        if (!joined.empty()) {
            joined += ' ';
        }
        joined += fts5Word(word);
    }
    return quoteSQL(joined, '\'');
}

const Tokenizer& Tokenizer::simple()
{
    static const Tokenizer tokenizer{"simple", {}};
    return tokenizer;
}

const Tokenizer& Tokenizer::porter()
{
    static const Tokenizer tokenizer{"porter", {}};
    return tokenizer;
}

Tokenizer Tokenizer::unicode61(std::optional<bool> removeDiacritics, std::string_view tokenchars,
                               std::string_view separators)
{
    Tokenizer tokenizer{"unicode61", {}};
    if (removeDiacritics) {
        tokenizer.arguments.push_back(quoteSQL(*removeDiacritics ? "remove_diacritics=1" : "remove_diacritics=0"));
    }
    if (!tokenchars.empty()) {
        tokenizer.arguments.push_back(quoteSQL("tokenchars=" + distinctCharacters(tokenchars)));
    }
    if (!separators.empty()) {
        tokenizer.arguments.push_back(quoteSQL("separators=" + distinctCharacters(separators)));
    }
    return tokenizer;
}

Tokenizer Tokenizer::trigram(bool caseSensitive)
{
    return Tokenizer{"trigram", {"case_sensitive", caseSensitive ? "1" : "0"}};
}

Tokenizer Tokenizer::custom(std::string_view name)
{
    return Tokenizer{quoteSQL("custom"), {quoteSQL(name)}};
}

// FTSConfig ---------------------------------------------------------------------------------------------------

FTSConfig& FTSConfig::addColumn(const Expressible& column, std::vector<ColumnOption> options)
{
    columnDefinitions.push_back(ColumnDefinition{column, std::move(options)});
    return *this;
}

FTSConfig& FTSConfig::addColumns(const std::vector<Expressible>& columns)
{
    for (const Expressible& column : columns) {
        addColumn(column, {});
    }
    return *this;
}

FTSConfig& FTSConfig::setTokenizer(std::optional<Tokenizer> value)
{
    tokenizer = std::move(value);
    return *this;
}

FTSConfig& FTSConfig::addPrefixes(const std::vector<std::int64_t>& lengths)
{
    prefixes.insert(prefixes.end(), lengths.begin(), lengths.end());
    return *this;
}

FTSConfig& FTSConfig::setExternalContent(Expression<void> tableName)
{
    externalContentSchema = std::move(tableName);
    return *this;
}

FTSConfig& FTSConfig::setContentless()
{
    isContentless = true;
    return *this;
}

std::vector<Expressible> FTSConfig::columnArguments() const
{
    std::vector<Expressible> arguments;
    arguments.reserve(columnDefinitions.size());
    for (const ColumnDefinition& definition : columnDefinitions) {
        arguments.push_back(definition.column);
    }
    return arguments;
}

std::optional<Expression<void>> FTSConfig::tokenizeArgument() const
{
    if (!tokenizer) {
        return std::nullopt;
    }
    return option("tokenize", literal(tokenizer->description()));
}

std::vector<Expressible> FTSConfig::moduleArguments() const
{
    std::vector<Expressible> arguments = columnArguments();
    if (std::optional<Expression<void>> tokenize = tokenizeArgument()) {
        arguments.push_back(std::move(*tokenize));
    }
    if (!prefixes.empty()) {
        std::vector<std::int64_t> sorted = prefixes;
        std::sort(sorted.begin(), sorted.end());
        std::string joined;
        for (std::int64_t length : sorted) {
            if (!joined.empty()) {
                joined += ',';
            }
            joined += std::to_string(length);
        }
        arguments.push_back(option("prefix", literal(quoteSQL(joined))));
    }
    if (isContentless) {
        arguments.push_back(option("content", literal(quoteSQL(""))));
    } else if (externalContentSchema) {
        arguments.push_back(option("content", *externalContentSchema));
    }
    return arguments;
}

// FTS4Config --------------------------------------------------------------------------------------------------

FTS4Config& FTS4Config::addColumn(const Expressible& column, std::vector<ColumnOption> options)
{
    FTSConfig::addColumn(column, std::move(options));
    return *this;
}

FTS4Config& FTS4Config::addColumns(const std::vector<Expressible>& columns)
{
    FTSConfig::addColumns(columns);
    return *this;
}

FTS4Config& FTS4Config::setTokenizer(std::optional<Tokenizer> value)
{
    FTSConfig::setTokenizer(std::move(value));
    return *this;
}

FTS4Config& FTS4Config::addPrefixes(const std::vector<std::int64_t>& lengths)
{
    FTSConfig::addPrefixes(lengths);
    return *this;
}

FTS4Config& FTS4Config::setExternalContent(Expression<void> tableName)
{
    FTSConfig::setExternalContent(std::move(tableName));
    return *this;
}

FTS4Config& FTS4Config::setContentless()
{
    FTSConfig::setContentless();
    return *this;
}

FTS4Config& FTS4Config::setCompressFunction(std::string name)
{
    compressFunction = std::move(name);
    return *this;
}

FTS4Config& FTS4Config::setUncompressFunction(std::string name)
{
    uncompressFunction = std::move(name);
    return *this;
}

FTS4Config& FTS4Config::setLanguageId(std::string name)
{
    languageId = std::move(name);
    return *this;
}

FTS4Config& FTS4Config::setMatchInfo(MatchInfo value)
{
    matchInfo = value;
    return *this;
}

FTS4Config& FTS4Config::setOrder(Order value)
{
    order = value;
    return *this;
}

std::vector<Expressible> FTS4Config::moduleArguments() const
{
    std::vector<Expressible> arguments = FTSConfig::moduleArguments();
    for (const ColumnDefinition& definition : columnDefinitions) {
        if (std::find(definition.options.begin(), definition.options.end(), ColumnOption::unindexed) !=
            definition.options.end()) {
            arguments.push_back(option("notindexed", definition.column));
        }
    }
    if (languageId) {
        arguments.push_back(option("languageid", literal(quoteSQL(*languageId))));
    }
    if (compressFunction) {
        arguments.push_back(option("compress", literal(quoteSQL(*compressFunction))));
    }
    if (uncompressFunction) {
        arguments.push_back(option("uncompress", literal(quoteSQL(*uncompressFunction))));
    }
    if (matchInfo) {
        arguments.push_back(option("matchinfo", literal(quoteSQL(text(*matchInfo)))));
    }
    if (order) {
        arguments.push_back(option("order", literal(quoteSQL(text(*order)))));
    }
    return arguments;
}

// FTS5Config --------------------------------------------------------------------------------------------------

FTS5Config& FTS5Config::addColumn(const Expressible& column, std::vector<ColumnOption> options)
{
    FTSConfig::addColumn(column, std::move(options));
    return *this;
}

FTS5Config& FTS5Config::addColumns(const std::vector<Expressible>& columns)
{
    FTSConfig::addColumns(columns);
    return *this;
}

FTS5Config& FTS5Config::setTokenizer(std::optional<Tokenizer> value)
{
    FTSConfig::setTokenizer(std::move(value));
    return *this;
}

FTS5Config& FTS5Config::addPrefixes(const std::vector<std::int64_t>& lengths)
{
    FTSConfig::addPrefixes(lengths);
    return *this;
}

FTS5Config& FTS5Config::setExternalContent(Expression<void> tableName)
{
    FTSConfig::setExternalContent(std::move(tableName));
    return *this;
}

FTS5Config& FTS5Config::setContentless()
{
    FTSConfig::setContentless();
    return *this;
}

FTS5Config& FTS5Config::setContentRowId(Expressible column)
{
    contentRowId = std::move(column);
    return *this;
}

FTS5Config& FTS5Config::setColumnSize(std::int64_t size)
{
    columnSize = size;
    return *this;
}

FTS5Config& FTS5Config::setDetail(Detail value)
{
    detail = value;
    return *this;
}

std::vector<Expressible> FTS5Config::columnArguments() const
{
    std::vector<Expressible> arguments;
    arguments.reserve(columnDefinitions.size());
    for (const ColumnDefinition& definition : columnDefinitions) {
        if (definition.options.empty()) {
            arguments.push_back(definition.column);
        } else {
            const Expression<void>& column = definition.column.expression();
            arguments.push_back(Expression<void>(column.template_ + " UNINDEXED", column.bindings));
        }
    }
    return arguments;
}

std::optional<Expression<void>> FTS5Config::tokenizeArgument() const
{
    if (!tokenizer) {
        return std::nullopt;
    }
    return option("tokenize", literal(tokenizer->fts5Description()));
}

std::vector<Expressible> FTS5Config::moduleArguments() const
{
    std::vector<Expressible> arguments = FTSConfig::moduleArguments();
    if (contentRowId) {
        arguments.push_back(option("content_rowid", *contentRowId));
    }
    if (columnSize) {
        arguments.push_back(option("columnsize", Expression<void>("?", Bindings{Binding(*columnSize)})));
    }
    if (detail) {
        arguments.push_back(option("detail", literal(quoteSQL(text(*detail)))));
    }
    return arguments;
}

// Enumerations ------------------------------------------------------------------------------------------------

std::string_view text(FTS4Config::MatchInfo)
{
    return "fts3";
}

std::string_view text(FTS4Config::Order value)
{
    return value == FTS4Config::Order::asc ? "asc" : "desc";
}

std::string_view text(FTS5Config::Detail value)
{
    switch (value) {
    case FTS5Config::Detail::full:
        return "full";
    case FTS5Config::Detail::column:
        return "column";
    case FTS5Config::Detail::none:
        break;
    }
    return "none";
}

std::optional<FTS4Config::MatchInfo> matchInfoFromText(std::string_view text)
{
    if (text == "fts3") {
        return FTS4Config::MatchInfo::fts3;
    }
    return std::nullopt;
}

std::optional<FTS4Config::Order> orderFromText(std::string_view text)
{
    if (text == "asc") {
        return FTS4Config::Order::asc;
    }
    if (text == "desc") {
        return FTS4Config::Order::desc;
    }
    return std::nullopt;
}

std::optional<FTS5Config::Detail> detailFromText(std::string_view text)
{
    for (auto value : {FTS5Config::Detail::full, FTS5Config::Detail::column, FTS5Config::Detail::none}) {
        if (sqlite::text(value) == text) {
            return value;
        }
    }
    return std::nullopt;
}

} // namespace sqlite
