#pragma once

// Value types that describe the objects of an existing database (tables, columns, indexes, foreign keys), how
// the texts SQLite reports about them are read, and how they are written back as DDL.

#include "sqlite/Error.h"

#include <cstdint>
#include <exception>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sqlite {

/// One row of the schema table.
struct ObjectDefinition {
    enum class ObjectType { table, index, view, trigger };

    ObjectType type = ObjectType::table;
    std::string name;
    /// The table the object belongs to; a table's own name for a table.
    std::string tableName;
    std::int64_t rootpage = 0;
    /// The CREATE statement; absent for objects that SQLite makes itself.
    std::optional<std::string> sql;

    /// True for SQLite's own objects: a name beginning "sqlite_", or no SQL.
    bool isInternal() const;
    /// The SQL of each definition in order, skipping those without.
    static std::vector<std::string> sqlTexts(const std::vector<ObjectDefinition>& definitions);

    bool operator==(const ObjectDefinition&) const = default;
};

/// "table", "index", "view" or "trigger".
std::string_view toText(ObjectDefinition::ObjectType type);
/// Exactly one of the four texts (case-sensitive); none for anything else.
std::optional<ObjectDefinition::ObjectType> objectTypeFromText(std::string_view text);

/// A column's default value as SQLite reports it.
class LiteralValue {
public:
    // "null", "true_" and "false_" because NULL is a macro and true/false are keywords.
    enum class Kind {
        numericLiteral,
        stringLiteral,
        blobLiteral,
        null,
        true_,
        false_,
        currentTime,
        currentDate,
        currentTimestamp
    };

    /// NULL: no default.
    LiteralValue() = default;
    /// Any expression text that is none of the other forms: a number, or an expression such as
    /// "datetime('now')" (SQLite reports expression defaults without their parentheses).
    static LiteralValue numericLiteral(std::string text) { return LiteralValue(Kind::numericLiteral, std::move(text)); }
    /// A text, unquoted.
    static LiteralValue stringLiteral(std::string text) { return LiteralValue(Kind::stringLiteral, std::move(text)); }
    /// The hexadecimal digits of a blob.
    static LiteralValue blobLiteral(std::string hex) { return LiteralValue(Kind::blobLiteral, std::move(hex)); }
    static LiteralValue of(Kind keyword) { return LiteralValue(keyword, {}); }

    /// Reads a default-value text ("dflt_value" of "PRAGMA table_info"); never fails. A quoted text counts as a
    /// text literal only when every quote inside it is doubled; anything else unrecognised is kept as it is.
    static LiteralValue parse(std::optional<std::string_view> text);

    Kind kind() const { return kind_; }
    /// The payload of the three literal kinds; empty for the keywords.
    const std::string& text() const { return text_; }

    /// Its SQL text: the literal or expression as written, a text quoted, a blob as X'..', or the keyword.
    std::string description() const;
    /// What follows DEFAULT in a column definition: `description()`, with an expression in parentheses, so
    /// that SQLite accepts it again ("DEFAULT (datetime('now'))").
    std::string defaultClauseText() const;

    bool operator==(const LiteralValue&) const = default;

private:
    LiteralValue(Kind kind, std::string text) : kind_(kind), text_(std::move(text)) {}

    Kind kind_ = Kind::null;
    std::string text_;
};

/// One column of a table.
struct ColumnDefinition {
    enum class Affinity { integer, numeric, real, text, blob };
    enum class OnConflict { rollback, abort, fail, ignore, replace };

    struct PrimaryKey {
        bool autoIncrement = false;
        std::optional<OnConflict> onConflict;
        /// The column's place in the table's primary key, from 1; a key over several columns is written back in
        /// this order.
        int position = 1;

        /// "PRIMARY KEY [ON CONFLICT w] [AUTOINCREMENT]".
        std::string toSQL() const;
        /// The details of the first "PRIMARY KEY" in a CREATE TABLE text (keywords in any case, never inside a
        /// quoted text or name): its conflict word and AUTOINCREMENT. None when the text holds no primary key.
        static std::optional<PrimaryKey> parse(std::string_view createTableSQL);

        bool operator==(const PrimaryKey&) const = default;
    };

    /// A foreign key starting at one column.
    struct ForeignKey {
        /// The parent table.
        std::string table;
        /// The child column the key starts at.
        std::string column;
        /// The parent column; absent when the key refers to the parent's primary key.
        std::optional<std::string> primaryKey;
        std::optional<std::string> onUpdate;
        std::optional<std::string> onDelete;

        /// "REFERENCES parent [(column)] [ON UPDATE a] [ON DELETE a]".
        std::string toSQL() const;

        bool operator==(const ForeignKey&) const = default;
    };

    std::string name;
    std::optional<PrimaryKey> primaryKey;
    Affinity type = Affinity::numeric;
    bool nullable = true;
    LiteralValue defaultValue;
    std::optional<ForeignKey> references;

    /// The affinity SQLite gives a declared type ("VARCHAR(30)" is TEXT, "" NUMERIC).
    static Affinity affinityFromDeclaredType(std::string_view declaredType);

    /// name, affinity, [DEFAULT d], [primary-key clause], [NOT NULL], [references clause].
    std::string toSQL() const;

    bool operator==(const ColumnDefinition&) const = default;
};

/// "INTEGER", "NUMERIC", "REAL", "TEXT" or "BLOB".
std::string_view toText(ColumnDefinition::Affinity affinity);
std::optional<ColumnDefinition::Affinity> affinityFromText(std::string_view text);
/// "ROLLBACK", "ABORT", "FAIL", "IGNORE" or "REPLACE".
std::string_view toText(ColumnDefinition::OnConflict resolution);
std::optional<ColumnDefinition::OnConflict> columnOnConflictFromText(std::string_view text);

/// One index of a table.
struct IndexDefinition {
    enum class Order { asc, desc };

    /// An index name too long to be made again.
    class IndexError : public Error {
    public:
        static IndexError tooLong(std::string name, std::string table);

        const std::string& name() const noexcept { return name_; }
        const std::string& table() const noexcept { return table_; }
        const std::string& description() const noexcept { return description_; }
        const char* what() const noexcept override { return description_.c_str(); }

    private:
        IndexError(std::string name, std::string table);
        std::string name_;
        std::string table_;
        std::string description_;
    };

    /// The most characters (as a reader counts them, not bytes) an index name may hold.
    static constexpr int maxIndexLength = 64;

    std::string table;
    std::string name;
    bool unique = false;
    /// The indexed columns in index order, unquoted.
    std::vector<std::string> columns;
    /// The condition of a partial index, as written after WHERE.
    std::optional<std::string> where;
    /// The descending columns; absent when the index has no SQL text.
    std::optional<std::map<std::string, Order>> orders;

    /// An index made from its parts, with the condition and the descending columns read from its SQL.
    static IndexDefinition make(std::string table, std::string name, bool unique, std::vector<std::string> columns,
                                std::optional<std::string_view> indexSQL);

    /// The condition after the first WHERE of a CREATE INDEX text (any case, across line breaks); none
    /// without one.
    static std::optional<std::string> whereCondition(std::string_view indexSQL);
    /// The columns of a CREATE INDEX text's column list that are marked DESC.
    static std::map<std::string, Order> descendingColumns(std::string_view indexSQL);

    /// Throws `IndexError::tooLong` when the name holds more than `maxIndexLength` characters.
    void validate() const;

    /// "CREATE [UNIQUE] INDEX [IF NOT EXISTS] name ON table (columns) [WHERE condition]".
    std::string toSQL(bool ifNotExists = false) const;

    bool operator==(const IndexDefinition&) const = default;
};

/// "ASC" or "DESC".
std::string_view toText(IndexDefinition::Order order);
std::optional<IndexDefinition::Order> indexOrderFromText(std::string_view text);

/// One row that breaks a foreign key.
struct ForeignKeyError {
    /// The child table.
    std::string from;
    /// The row's rowid; absent for a row of a table without rowid, which SQLite reports with no rowid.
    std::optional<std::int64_t> rowId;
    /// The parent table.
    std::string to;

    /// "from [rowId] => to", with "NULL" for an absent rowid.
    std::string description() const;

    bool operator==(const ForeignKeyError&) const = default;
};

/// One table with its columns and indexes.
struct TableDefinition {
    std::string name;
    std::vector<ColumnDefinition> columns;
    std::vector<IndexDefinition> indexes;

    /// "CREATE [TEMPORARY] TABLE name ( columns [, PRIMARY KEY (a, b)] )"; a key over several columns is one
    /// table constraint in key order. The indexes are not part of it. Fatal without columns.
    std::string toSQL(bool temporary = false) const;
    /// "INSERT INTO target (…) SELECT … FROM source", pairing columns by position. Fatal unless both have the
    /// same number of columns, at least one.
    std::string copySQL(const TableDefinition& target) const;

    bool operator==(const TableDefinition&) const = default;
};

} // namespace sqlite
