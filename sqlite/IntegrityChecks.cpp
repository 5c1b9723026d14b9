// The foreign-key and integrity checks of a connection.

#include "sqlite/IntegrityChecks.h"

#include "sqlite/Connection.h"
#include "sqlite/Fatal.h"
#include "sqlite/QuoteSQL.h"
#include "sqlite/SQLTokens.h"
#include "sqlite/SchemaDefinitions.h"

#include <variant>

namespace sqlite {

namespace {

std::string withTable(std::string sql, std::optional<std::string_view> table)
{
    if (table) {
        sql += '(';
        sql += quoteSQL(*table);
        sql += ')';
    }
    return sql;
}

template <class T> const T* valueOf(const Bindings& row, std::size_t index)
{
    return index < row.size() && row[index] ? std::get_if<T>(&*row[index]) : nullptr;
}

} // namespace

std::vector<ForeignKeyError> Connection::foreignKeyCheck(std::optional<std::string_view> table)
{
    return sync([&] {
        auto statement = prepare(withTable("PRAGMA foreign_key_check", table));
        std::vector<ForeignKeyError> errors;
        while (std::optional<Bindings> row = statement->failableNext()) {
            const auto* from = valueOf<std::string>(*row, 0);
            const auto* to = valueOf<std::string>(*row, 2);
            if (from == nullptr || to == nullptr) {
                continue;
            }
            // A row of a table without rowid comes with NULL here; it is a violation all the same.
            const auto* rowId = valueOf<std::int64_t>(*row, 1);
            errors.push_back(ForeignKeyError{*from, rowId ? std::optional(*rowId) : std::nullopt, *to});
        }
        return errors;
    });
}

std::vector<std::string> Connection::integrityCheck(std::optional<std::string_view> table)
{
    return detail::integrityCheck(*this, table, table ? sqliteVersion() : SQLiteVersion::zero());
}

namespace detail {

std::vector<std::string> integrityCheck(Connection& connection, std::optional<std::string_view> table,
                                        SQLiteVersion version)
{
    if (table && version < SQLiteVersion{3, 33, 0}) {
        SQLITE_FATAL("SQLite/IntegrityChecks",
                     detail::concat("checking the integrity of one table needs SQLite 3.33.0 or later, not ",
                                    version.description()));
    }
    return connection.sync([&] {
        auto statement = connection.prepare(withTable("PRAGMA integrity_check", table));
        std::vector<std::string> problems;
        while (std::optional<Bindings> row = statement->failableNext()) {
            const auto* text = valueOf<std::string>(*row, 0);
            if (text != nullptr && *text != "ok") {
                problems.push_back(*text);
            }
        }
        return problems;
    });
}

} // namespace detail

} // namespace sqlite
