#pragma once

// Running compiled queries and statements on a connection. The operations are members of `Connection`
// (declared in Connection.h without the builder's types); the typed ones are defined here, so code that runs
// typed queries includes this header.

#include "sqlite/ColumnNames.h"
#include "sqlite/CompiledStatement.h"
#include "sqlite/Connection.h"
#include "sqlite/Query.h"
#include "sqlite/Row.h"
#include "sqlite/RowIterator.h"

#include <memory>
#include <optional>
#include <string>

namespace sqlite {

/// The column-name map of `query`: each select column's SQL text mapped to its position, a "*" or "t".* expanded
/// into the columns that SQLite returns for it (one extra prepare per expanded table). Throws
/// `QueryError` noSuchTable for a "t".* naming no table of the query, and `Result` when an expansion cannot be
/// prepared.
std::shared_ptr<const ColumnNames> resolveColumnNames(Connection& connection, const QueryType& query);

namespace detail {

/// Column 0 of the first row of the compiled statement, none for NULL or no row. Throws `Result`.
std::optional<Binding> fetchScalar(Connection& connection, const std::string& sql, const Bindings& bindings);

template <class T> T scalarAs(const std::optional<Binding>& value, const std::string& column)
{
    if constexpr (isOptionalType<T>) {
        using V = BaseType<T>;
        using D = typename ValueTraits<V>::Datatype;
        if (!value || !std::holds_alternative<D>(*value)) {
            return std::nullopt;
        }
        return ValueTraits<V>::fromDatatypeValue(std::get<D>(*value));
    } else {
        using D = typename ValueTraits<T>::Datatype;
        if (!value || !std::holds_alternative<D>(*value)) {
            // A required value that is NULL, missing or of another storage class is reported, never made up.
            throw QueryError::unexpectedNullValue(column);
        }
        return ValueTraits<T>::fromDatatypeValue(std::get<D>(*value));
    }
}

} // namespace detail

template <class T> T Connection::queryScalar(const ScalarQuery<T>& query)
{
    Expression<void> compiled = query.expression();
    std::string column = query.clauses.select.columns.empty()
                             ? std::string()
                             : query.clauses.select.columns.front().expression().template_;
    return detail::scalarAs<T>(detail::fetchScalar(*this, compiled.template_, compiled.bindings), column);
}

template <class T> T Connection::queryScalar(const Select<T>& select)
{
    return detail::scalarAs<T>(detail::fetchScalar(*this, select.template_, select.bindings), select.template_);
}

} // namespace sqlite
