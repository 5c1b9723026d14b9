#pragma once

#include "sqlite/Expression.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sqlite {

/// A full-text tokenizer as written in the "tokenize" option: its name and further words, each already quoted
/// where quoting is needed.
struct Tokenizer {
    std::string name;
    std::vector<std::string> arguments;

    /// The name and the arguments joined by single blanks.
    std::string description() const;

    /// The form that FTS5 accepts: the name and the words as one SQL text literal, each word that is not a
    /// bare word quoted with single quotes; unicode61's "key=value" arguments become the two words key and
    /// value. A tokenizer without arguments stays its bare name.
    std::string fts5Description() const;

    static const Tokenizer& simple();
    static const Tokenizer& porter();
    /// unicode61 with the options that are given: "remove_diacritics=0|1", "tokenchars=…", "separators=…",
    /// each in double quotes. Each character of `tokenchars` and `separators` is written once, in the order
    /// of its first appearance.
    static Tokenizer unicode61(std::optional<bool> removeDiacritics = std::nullopt, std::string_view tokenchars = {},
                               std::string_view separators = {});
    /// trigram case_sensitive 1|0.
    static Tokenizer trigram(bool caseSensitive);
    /// A tokenizer registered by the program under the module "custom", given `name` as its argument.
    static Tokenizer custom(std::string_view name);

    bool operator==(const Tokenizer&) const = default;
};

/// The options that FTS4 and FTS5 tables share, rendered as the argument list of "USING fts4(…)" or
/// "USING fts5(…)". Setters change the configuration in place and return it, so calls chain.
class FTSConfig {
public:
    enum class ColumnOption { unindexed };

    struct ColumnDefinition {
        Expressible column;
        std::vector<ColumnOption> options;
    };

    FTSConfig() = default;
    virtual ~FTSConfig() = default;
    FTSConfig(const FTSConfig&) = default;
    FTSConfig& operator=(const FTSConfig&) = default;

    std::vector<ColumnDefinition> columnDefinitions;
    std::optional<Tokenizer> tokenizer;
    std::vector<std::int64_t> prefixes;
    /// The external content table's name, as a table name renders without its alias flag (its alias or
    /// name, quoted, after the quoted database name when it has one).
    std::optional<Expression<void>> externalContentSchema;
    bool isContentless = false;

    virtual FTSConfig& addColumn(const Expressible& column, std::vector<ColumnOption> options = {});
    virtual FTSConfig& addColumns(const std::vector<Expressible>& columns);
    virtual FTSConfig& setTokenizer(std::optional<Tokenizer> tokenizer);
    virtual FTSConfig& addPrefixes(const std::vector<std::int64_t>& lengths);
    /// Takes the table's rendered name; see the template below for any table, view or virtual table.
    virtual FTSConfig& setExternalContent(Expression<void> tableName);
    virtual FTSConfig& setContentless();

    /// Any schema object with a `tableNameExpression()` (a table, view or virtual table).
    template <class Schema>
    requires requires(const Schema& schema) { schema.tableNameExpression(); }
    FTSConfig& setExternalContent(const Schema& schema)
    {
        return setExternalContent(Expression<void>(schema.tableNameExpression()));
    }

    /// The column part of the argument list.
    virtual std::vector<Expressible> columnArguments() const;
    /// The whole argument list: columns, then tokenize, prefix and content options.
    virtual std::vector<Expressible> moduleArguments() const;

protected:
    /// The tokenize option as this module writes it.
    virtual std::optional<Expression<void>> tokenizeArgument() const;
};

/// FTS4: adds "notindexed", "languageid", "compress", "uncompress", "matchinfo" and "order".
class FTS4Config : public FTSConfig {
public:
    enum class MatchInfo { fts3 };
    enum class Order { asc, desc };

    std::optional<std::string> compressFunction;
    std::optional<std::string> uncompressFunction;
    std::optional<std::string> languageId;
    std::optional<MatchInfo> matchInfo;
    std::optional<Order> order;

    FTS4Config& addColumn(const Expressible& column, std::vector<ColumnOption> options = {}) override;
    FTS4Config& addColumns(const std::vector<Expressible>& columns) override;
    FTS4Config& setTokenizer(std::optional<Tokenizer> tokenizer) override;
    FTS4Config& addPrefixes(const std::vector<std::int64_t>& lengths) override;
    FTS4Config& setExternalContent(Expression<void> tableName) override;
    FTS4Config& setContentless() override;
    template <class Schema>
    requires requires(const Schema& schema) { schema.tableNameExpression(); }
    FTS4Config& setExternalContent(const Schema& schema)
    {
        return setExternalContent(Expression<void>(schema.tableNameExpression()));
    }

    FTS4Config& setCompressFunction(std::string name);
    FTS4Config& setUncompressFunction(std::string name);
    FTS4Config& setLanguageId(std::string name);
    FTS4Config& setMatchInfo(MatchInfo value);
    FTS4Config& setOrder(Order value);

    std::vector<Expressible> moduleArguments() const override;
};

/// FTS5: columns may be UNINDEXED; adds "content_rowid", "columnsize" and "detail".
class FTS5Config : public FTSConfig {
public:
    enum class Detail { full, column, none };

    std::optional<Detail> detail;
    std::optional<Expressible> contentRowId;
    std::optional<std::int64_t> columnSize;

    FTS5Config& addColumn(const Expressible& column, std::vector<ColumnOption> options = {}) override;
    FTS5Config& addColumns(const std::vector<Expressible>& columns) override;
    FTS5Config& setTokenizer(std::optional<Tokenizer> tokenizer) override;
    FTS5Config& addPrefixes(const std::vector<std::int64_t>& lengths) override;
    FTS5Config& setExternalContent(Expression<void> tableName) override;
    FTS5Config& setContentless() override;
    template <class Schema>
    requires requires(const Schema& schema) { schema.tableNameExpression(); }
    FTS5Config& setExternalContent(const Schema& schema)
    {
        return setExternalContent(Expression<void>(schema.tableNameExpression()));
    }

    FTS5Config& setContentRowId(Expressible column);
    FTS5Config& setColumnSize(std::int64_t size);
    FTS5Config& setDetail(Detail value);

    std::vector<Expressible> columnArguments() const override;
    std::vector<Expressible> moduleArguments() const override;

protected:
    /// A tokenizer with arguments is one quoted text, the only form FTS5 parses.
    std::optional<Expression<void>> tokenizeArgument() const override;
};

std::string_view text(FTS4Config::MatchInfo value);
std::string_view text(FTS4Config::Order value);
std::string_view text(FTS5Config::Detail value);
/// Exact text only; any other text is no value.
std::optional<FTS4Config::MatchInfo> matchInfoFromText(std::string_view text);
std::optional<FTS4Config::Order> orderFromText(std::string_view text);
std::optional<FTS5Config::Detail> detailFromText(std::string_view text);

} // namespace sqlite
