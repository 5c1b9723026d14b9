#pragma once

// The schema statements besides CREATE TABLE: adding a column, renaming a table, indexes with a derived name,
// tables and views made from a query, virtual tables and DROP. Each returns SQL text with every value written
// inline; none touches a database.

#include "sqlite/Expression.h"
#include "sqlite/Module.h"
#include "sqlite/Query.h"
#include "sqlite/TableBuilder.h"

#include <string>
#include <string_view>
#include <vector>

namespace sqlite {

/// "ALTER TABLE name ADD COLUMN definition".
std::string addColumn(const Table& table, const Expression<void>& definition);
template <ValueTag T> std::string addColumn(const Table& table, const ColumnSpec<T>& column)
{
    return addColumn(table, column.expression());
}
template <ValueTag T> std::string addColumn(const Table& table, const Expression<T>& column)
{
    return addColumn(table, ColumnSpec<T>(column));
}

/// "ALTER TABLE name RENAME TO new": the new table's name (not its alias), without a database.
std::string renameTable(const Table& table, const Table& to);
std::string renameTable(const VirtualTable& table, const VirtualTable& to);

/// The name an index on these columns gets: "index_<table>_on_<columns>", lower case, every character outside
/// a-z and 0-9 made "_" (double quotes dropped), quoted, after the table's database when it names one.
Expression<void> indexName(const QueryType& table, const std::vector<Expressible>& columns);

/// "CREATE [UNIQUE] INDEX [IF NOT EXISTS] index_… ON table (columns)".
std::string createIndex(const Table& table, const std::vector<Expressible>& columns, bool unique = false,
                        bool ifNotExists = false);
/// "DROP INDEX [IF EXISTS] index_…": finds the index that `createIndex` made on the same columns.
std::string dropIndex(const Table& table, const std::vector<Expressible>& columns, bool ifExists = false);

/// "CREATE [TEMPORARY] TABLE [IF NOT EXISTS] name AS SELECT …".
std::string createTable(const Table& table, const QueryType& query, bool temporary = false, bool ifNotExists = false);
/// "CREATE [TEMPORARY] VIEW [IF NOT EXISTS] name AS SELECT …".
std::string createView(const View& view, const QueryType& query, bool temporary = false, bool ifNotExists = false);
/// "CREATE VIRTUAL TABLE [IF NOT EXISTS] name USING module(arguments)".
std::string createVirtualTable(const VirtualTable& table, const Module& module, bool ifNotExists = false);

/// "DROP identifier [IF EXISTS] name".
Expression<void> dropStatement(std::string_view identifier, const Expression<void>& name, bool ifExists);
std::string dropTable(const Table& table, bool ifExists = false);
std::string dropView(const View& view, bool ifExists = false);

} // namespace sqlite
