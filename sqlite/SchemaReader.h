#pragma once

#include "sqlite/Connection.h"
#include "sqlite/Row.h"
#include "sqlite/SQLiteVersion.h"
#include "sqlite/SchemaDefinitions.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace sqlite {

/// Reads the schema of an open database into definition values. Keeps nothing between calls: every operation
/// asks the database again, through the connection's queue rule, so it may be used from any thread. An
/// operation of several statements is not atomic against schema changes made in between.
class SchemaReader {
public:
    /// The foreign keys of a table by the child column they start at, each list in the order read.
    using ForeignKeysByColumn = std::unordered_map<std::string, std::vector<ColumnDefinition::ForeignKey>>;

    /// A reader over `connection`. `version` stands in for the library's version when given (tests use it to
    /// take the paths of older libraries); otherwise the library is asked once, now.
    explicit SchemaReader(std::shared_ptr<Connection> connection, std::optional<SQLiteVersion> version = std::nullopt);

    const std::shared_ptr<Connection>& connection() const { return connection_; }

    /// Rows of the schema table ("sqlite_schema" from 3.33.0 on, else "sqlite_master"; the temp schema's with
    /// `temp`), optionally only those of one name and type. Throws `Result`.
    std::vector<ObjectDefinition> readObjectDefinitions(std::optional<std::string_view> name = std::nullopt,
                                                        std::optional<ObjectDefinition::ObjectType> type = std::nullopt,
                                                        bool temp = false);
    /// The table's columns in table order with their key, default and foreign-key details; empty for a table
    /// that does not exist. Throws `Result`.
    std::vector<ColumnDefinition> readColumnDefinitions(std::string_view table);
    /// The indexes made with CREATE INDEX (not SQLite's own), in "PRAGMA index_list" order. Throws `Result`.
    std::vector<IndexDefinition> readIndexDefinitions(std::string_view table);
    /// One entry per column pair of every foreign key of the table. Throws `Result`.
    std::vector<ColumnDefinition::ForeignKey> readForeignKeys(std::string_view table);
    /// The CREATE TABLE text, from the main schema before the temp schema. Throws `Result`.
    std::optional<std::string> readCreateTableSQL(std::string_view table);

    /// One "PRAGMA table_info" row as a column definition. Throws `Result` (reading the CREATE TABLE text of
    /// a key column) and `QueryError` (a row without the expected columns).
    ColumnDefinition rowToColumnDefinition(const Row& row, std::string_view table,
                                           const ForeignKeysByColumn& foreignKeys);
    /// One "PRAGMA index_list" row as an index definition; none for an index SQLite made itself.
    std::optional<IndexDefinition> rowToIndexEntry(const Row& row, std::string_view table);

private:
    // `createTableSQL` holds the table's CREATE TABLE text once a key column has needed it.
    ColumnDefinition rowToColumnDefinition(const Row& row, std::string_view table,
                                           const ForeignKeysByColumn& foreignKeys,
                                           std::optional<std::optional<std::string>>& createTableSQL);

    std::shared_ptr<Connection> connection_;
    // The library's version never changes while the program runs; read once, or the stand-in given.
    SQLiteVersion version_;
};

} // namespace sqlite
