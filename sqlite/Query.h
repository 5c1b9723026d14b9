#pragma once

#include "sqlite/CompiledStatement.h"
#include "sqlite/Encodable.h"
#include "sqlite/Expression.h"
#include "sqlite/Setter.h"

#include <concepts>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sqlite {

class QueryType;
class Table;
template <class T> class ScalarQuery;

/// An argument that converts to `Expressible`: an expression, a plain value, a query, a setter.
template <class T>
concept ExpressibleArgument = std::constructible_from<Expressible, const T&>;

/// How a joined source is combined: "CROSS", "INNER" or "LEFT OUTER".
enum class JoinType { cross, inner, leftOuter };

std::string_view joinTypeText(JoinType type);
/// The join type whose word is exactly `text`; none for any other text.
std::optional<JoinType> joinTypeFromText(std::string_view text);

/// The materialisation hint of a common table expression.
enum class MaterializationHint { materialized, notMaterialized };

/// "MATERIALIZED" or "NOT MATERIALIZED".
std::string_view materializationHintText(MaterializationHint hint);
std::optional<MaterializationHint> materializationHintFromText(std::string_view text);

/// SQLite's conflict resolutions of INSERT OR ...
enum class OnConflict { replace, rollback, abort, fail, ignore };

/// "REPLACE", "ROLLBACK", "ABORT", "FAIL" or "IGNORE".
std::string_view onConflictText(OnConflict resolution);
std::optional<OnConflict> onConflictFromText(std::string_view text);

/// The kind of schema object (or scalar query) that a query reads from.
enum class SourceKind { table, view, virtualTable, scalarQuery };

/// A query held by another query (a joined source, a UNION part, a common table expression). Queries never
/// change once held, so copies of the holder share them.
using SharedQuery = std::shared_ptr<const QueryType>;

struct SelectClause {
    bool distinct = false;
    std::vector<Expressible> columns;
};

struct FromClause {
    std::string name;
    std::optional<std::string> alias;
    std::optional<std::string> database;
};

struct JoinClause {
    JoinType type;
    SharedQuery query;
    Expressible condition;
};

struct GroupClause {
    std::vector<Expressible> by;
    std::optional<Expression<std::optional<bool>>> having;
};

struct LimitClause {
    std::int64_t length = 0;
    std::optional<std::int64_t> offset;
};

struct UnionClause {
    bool all = false;
    SharedQuery table;
};

/// The WITH clause: common table expressions in the order they were added.
struct WithClauses {
    struct Clause;
    bool recursive = false;
    std::vector<Clause> clauses;
};

/// Everything the builders accumulate on a query.
struct QueryClauses {
    SelectClause select;
    FromClause from;
    std::vector<JoinClause> join;
    std::optional<Expression<std::optional<bool>>> filters;
    std::optional<GroupClause> group;
    std::vector<Expressible> order;
    std::optional<LimitClause> limit;
    std::vector<UnionClause> union_;
    WithClauses with;
};

/// Any query source: a table, view, virtual table or scalar query with its clauses. Its expression is its
/// compiled SELECT. The typed sources derive from it; a `QueryType` value stands for "any query".
class QueryType {
public:
    QueryClauses clauses;

    /// A source of the given kind reading `name` (in the attached database `database` when given), selecting "*".
    QueryType(SourceKind kind, std::string name, std::optional<std::string> database = std::nullopt);

    SourceKind kind() const { return kind_; }

    /// The compiled SELECT statement.
    Expression<void> expression() const;
    Expression<void> compileSelect() const { return expression(); }

    /// "SELECT EXISTS (Q)".
    Select<bool> exists() const;

    // Names.
    /// `name` quoted, after the quoted database name and "." when the query names a database.
    Expression<void> databaseQualifiedName(std::string_view name) const;
    /// With `withAlias` and an alias: "name AS alias"; otherwise the alias (or the name), database-qualified.
    Expression<void> tableNameExpression(bool withAlias = false) const;
    /// Qualified: `tableNameExpression()`; otherwise the quoted alias or name alone.
    Expression<void> tableNameForReference(bool qualified) const;

    /// table[column]: "table"."column" (the alias when set), keeping the column's value type and bindings.
    template <class T> Expression<T> qualifiedColumn(const Expression<T>& column) const
    {
        return Expression<T>(qualify(column));
    }
    template <class T> Expression<T> operator[](const Expression<T>& column) const { return qualifiedColumn(column); }

    // Clause pieces of the compiled statements; none when the clause is empty.
    Expression<void> selectClause() const;
    std::optional<Expression<void>> joinClause() const;
    std::optional<Expression<void>> whereClause() const;
    std::optional<Expression<void>> groupByClause() const;
    std::optional<Expression<void>> orderClause() const;
    std::optional<Expression<void>> limitOffsetClause() const;
    /// "WITH [RECURSIVE] name AS (Q), ..."; none without common table expressions.
    std::optional<Expression<void>> withExpression() const;

    // Writing statements.
    template <std::convertible_to<Setter>... Rest> Insert insertValues(const Setter& first, const Rest&... rest) const
    {
        return compileInsert(std::nullopt, std::vector<Setter>{first, Setter(rest)...});
    }
    Insert compileInsert(std::optional<OnConflict> onConflict, const std::vector<Setter>& setters) const;
    Insert compileInsert(const std::vector<Setter>& setters) const { return compileInsert(std::nullopt, setters); }
    /// Several rows in one INSERT under the first row's columns. A later row that names the same columns in
    /// another order is aligned to them; one that names other columns is misuse (a fatal stop). No rows at
    /// all compile to a statement that inserts nothing.
    Insert insertManyRows(std::optional<OnConflict> onConflict, const std::vector<std::vector<Setter>>& rows) const;
    Insert insertManyRows(const std::vector<std::vector<Setter>>& rows) const
    {
        return insertManyRows(std::nullopt, rows);
    }
    Insert insertDefaultValues() const;
    Insert insertFromQuery(const QueryType& source) const;
    /// Upsert that assigns every inserted column other than the target its "excluded" value on conflict.
    Insert compileUpsert(const std::vector<Setter>& setters, const Expressible& conflictTarget) const;
    Insert compileUpsert(const std::vector<Setter>& setters, const Expressible& conflictTarget,
                         const std::vector<Setter>& onConflictSetters) const;
    Update compileUpdate(const std::vector<Setter>& setters) const;

    // Records that encode themselves (include "sqlite/Coding.h"): one setter per encoded field, then
    // `otherSetters`. Each throws what the record's encoding throws, and then compiles nothing.
    Insert insertEncodable(const EncodableRef& record, const UserInfo& userInfo = {},
                           const std::vector<Setter>& otherSetters = {},
                           std::optional<OnConflict> onConflict = std::nullopt) const;
    /// One multi-row INSERT; records that leave out different fields get NULL for the fields that they lack.
    /// Throws `EncodingError` when the records still name different columns.
    Insert insertManyEncodables(const EncodableList& records, const UserInfo& userInfo = {},
                                const std::vector<Setter>& otherSetters = {}) const;
    Insert upsertEncodable(const EncodableRef& record, const Expressible& conflictTarget, const UserInfo& userInfo = {},
                           const std::vector<Setter>& otherSetters = {}) const;
    Update updateEncodable(const EncodableRef& record, const UserInfo& userInfo = {},
                           const std::vector<Setter>& otherSetters = {}) const;
    Delete compileDelete() const;

protected:
    Expression<void> qualify(const Expression<void>& column) const;

private:
    SourceKind kind_;
};

namespace detail {
void addFilter(QueryClauses& clauses, const Expression<void>& predicate);
void addJoin(QueryClauses& clauses, JoinType type, const QueryType& other, const Expression<void>& condition);
void addWith(QueryClauses& clauses, const Table& alias, const QueryType& query,
             std::optional<std::vector<Expressible>> columns, bool recursive, std::optional<MaterializationHint> hint);
void addUnion(QueryClauses& clauses, const QueryType& other, bool all);
void setLimit(QueryClauses& clauses, std::optional<std::int64_t> length, std::optional<std::int64_t> offset);
} // namespace detail

/// The builders; every one returns a changed copy of the receiver and leaves the receiver as it was. Called on
/// a temporary (the middle of a chain), a builder moves the clauses along instead of copying them.
template <class Self> class QueryBuilders : public QueryType {
public:
    using QueryType::QueryType;

    /// Selects these columns (replacing an earlier selection).
    Self selectColumns(std::vector<Expressible> columns, bool distinct = false) const&
    {
        Self copy = static_cast<const Self&>(*this);
        QueryClauses& c = copy.clauses;
        c.select = SelectClause{distinct, std::move(columns)};
        return copy;
    }
    Self selectColumns(std::vector<Expressible> columns, bool distinct = false) &&
    {
        Self copy = std::move(static_cast<Self&>(*this));
        QueryClauses& c = copy.clauses;
        c.select = SelectClause{distinct, std::move(columns)};
        return copy;
    }

    template <ExpressibleArgument First, ExpressibleArgument... Rest>
    Self selectColumns(const First& first, const Rest&... rest) const&
    {
        Self copy = static_cast<const Self&>(*this);
        QueryClauses& c = copy.clauses;
        c.select = SelectClause{false, {Expressible(first), Expressible(rest)...}};
        return copy;
    }
    template <ExpressibleArgument First, ExpressibleArgument... Rest>
    Self selectColumns(const First& first, const Rest&... rest) &&
    {
        Self copy = std::move(static_cast<Self&>(*this));
        QueryClauses& c = copy.clauses;
        c.select = SelectClause{false, {Expressible(first), Expressible(rest)...}};
        return copy;
    }

    /// Joins `other` on `condition`; `other`'s own filters are added to the condition.
    template <BooleanTag B> Self joinQuery(JoinType type, const QueryType& other, const Expression<B>& condition) const&
    {
        Self copy = static_cast<const Self&>(*this);
        QueryClauses& c = copy.clauses;
        detail::addJoin(c, type, other, condition);
        return copy;
    }
    template <BooleanTag B> Self joinQuery(JoinType type, const QueryType& other, const Expression<B>& condition) &&
    {
        Self copy = std::move(static_cast<Self&>(*this));
        QueryClauses& c = copy.clauses;
        detail::addJoin(c, type, other, condition);
        return copy;
    }

    template <BooleanTag B> Self joinQuery(const QueryType& other, const Expression<B>& condition) const&
    {
        Self copy = static_cast<const Self&>(*this);
        QueryClauses& c = copy.clauses;
        detail::addJoin(c, JoinType::inner, other, condition);
        return copy;
    }
    template <BooleanTag B> Self joinQuery(const QueryType& other, const Expression<B>& condition) &&
    {
        Self copy = std::move(static_cast<Self&>(*this));
        QueryClauses& c = copy.clauses;
        detail::addJoin(c, JoinType::inner, other, condition);
        return copy;
    }

    /// Adds a WHERE predicate; a second one is joined to the first with AND.
    template <BooleanTag B> Self filterQuery(const Expression<B>& predicate) const&
    {
        Self copy = static_cast<const Self&>(*this);
        QueryClauses& c = copy.clauses;
        detail::addFilter(c, predicate);
        return copy;
    }
    template <BooleanTag B> Self filterQuery(const Expression<B>& predicate) &&
    {
        Self copy = std::move(static_cast<Self&>(*this));
        QueryClauses& c = copy.clauses;
        detail::addFilter(c, predicate);
        return copy;
    }

    /// GROUP BY these terms (replacing an earlier grouping), with an optional HAVING predicate.
    Self groupQuery(std::vector<Expressible> by) const&
    {
        Self copy = static_cast<const Self&>(*this);
        QueryClauses& c = copy.clauses;
        c.group = GroupClause{std::move(by), std::nullopt};
        return copy;
    }
    Self groupQuery(std::vector<Expressible> by) &&
    {
        Self copy = std::move(static_cast<Self&>(*this));
        QueryClauses& c = copy.clauses;
        c.group = GroupClause{std::move(by), std::nullopt};
        return copy;
    }

    template <BooleanTag B> Self groupQuery(std::vector<Expressible> by, const Expression<B>& having) const&
    {
        Self copy = static_cast<const Self&>(*this);
        QueryClauses& c = copy.clauses;
        c.group = GroupClause{std::move(by), Expression<std::optional<bool>>(having)};
        return copy;
    }
    template <BooleanTag B> Self groupQuery(std::vector<Expressible> by, const Expression<B>& having) &&
    {
        Self copy = std::move(static_cast<Self&>(*this));
        QueryClauses& c = copy.clauses;
        c.group = GroupClause{std::move(by), Expression<std::optional<bool>>(having)};
        return copy;
    }

    template <ExpressibleArgument First, ExpressibleArgument... Rest>
    Self groupQuery(const First& first, const Rest&... rest) const&
    {
        Self copy = static_cast<const Self&>(*this);
        QueryClauses& c = copy.clauses;
        c.group = GroupClause{{Expressible(first), Expressible(rest)...}, std::nullopt};
        return copy;
    }
    template <ExpressibleArgument First, ExpressibleArgument... Rest>
    Self groupQuery(const First& first, const Rest&... rest) &&
    {
        Self copy = std::move(static_cast<Self&>(*this));
        QueryClauses& c = copy.clauses;
        c.group = GroupClause{{Expressible(first), Expressible(rest)...}, std::nullopt};
        return copy;
    }

    /// ORDER BY these terms (replacing earlier ones); none removes the ordering.
    Self orderQuery(std::vector<Expressible> terms) const&
    {
        Self copy = static_cast<const Self&>(*this);
        QueryClauses& c = copy.clauses;
        c.order = std::move(terms);
        return copy;
    }
    Self orderQuery(std::vector<Expressible> terms) &&
    {
        Self copy = std::move(static_cast<Self&>(*this));
        QueryClauses& c = copy.clauses;
        c.order = std::move(terms);
        return copy;
    }

    template <ExpressibleArgument... Terms> Self orderQuery(const Terms&... terms) const&
    {
        Self copy = static_cast<const Self&>(*this);
        QueryClauses& c = copy.clauses;
        c.order = {Expressible(terms)...};
        return copy;
    }
    template <ExpressibleArgument... Terms> Self orderQuery(const Terms&... terms) &&
    {
        Self copy = std::move(static_cast<Self&>(*this));
        QueryClauses& c = copy.clauses;
        c.order = {Expressible(terms)...};
        return copy;
    }

    /// LIMIT length (no offset); none removes the limit.
    Self limitQuery(std::optional<std::int64_t> length) const&
    {
        Self copy = static_cast<const Self&>(*this);
        QueryClauses& c = copy.clauses;
        detail::setLimit(c, length, std::nullopt);
        return copy;
    }
    Self limitQuery(std::optional<std::int64_t> length) &&
    {
        Self copy = std::move(static_cast<Self&>(*this));
        QueryClauses& c = copy.clauses;
        detail::setLimit(c, length, std::nullopt);
        return copy;
    }

    /// LIMIT length OFFSET offset.
    Self limitQuery(std::int64_t length, std::int64_t offset) const&
    {
        Self copy = static_cast<const Self&>(*this);
        QueryClauses& c = copy.clauses;
        detail::setLimit(c, length, offset);
        return copy;
    }
    Self limitQuery(std::int64_t length, std::int64_t offset) &&
    {
        Self copy = std::move(static_cast<Self&>(*this));
        QueryClauses& c = copy.clauses;
        detail::setLimit(c, length, offset);
        return copy;
    }

    /// Appends "UNION [ALL]" and `other`'s SELECT.
    Self unionQuery(const QueryType& other, bool all = false) const&
    {
        Self copy = static_cast<const Self&>(*this);
        QueryClauses& c = copy.clauses;
        detail::addUnion(c, other, all);
        return copy;
    }
    Self unionQuery(const QueryType& other, bool all = false) &&
    {
        Self copy = std::move(static_cast<Self&>(*this));
        QueryClauses& c = copy.clauses;
        detail::addUnion(c, other, all);
        return copy;
    }

    /// The same source under an alias (replacing an earlier one).
    Self alias(std::string name) const&
    {
        Self copy = static_cast<const Self&>(*this);
        QueryClauses& c = copy.clauses;
        c.from.alias = std::move(name);
        return copy;
    }
    Self alias(std::string name) &&
    {
        Self copy = std::move(static_cast<Self&>(*this));
        QueryClauses& c = copy.clauses;
        c.from.alias = std::move(name);
        return copy;
    }

    /// Adds a common table expression named after `alias`, defined by `query`. Once recursive, always recursive.
    Self with(const Table& alias, const QueryType& query,
              std::optional<std::vector<Expressible>> columns = std::nullopt, bool recursive = false,
              std::optional<MaterializationHint> hint = std::nullopt) const&
    {
        Self copy = static_cast<const Self&>(*this);
        QueryClauses& c = copy.clauses;
        detail::addWith(c, alias, query, std::move(columns), recursive, hint);
        return copy;
    }
    Self with(const Table& alias, const QueryType& query,
              std::optional<std::vector<Expressible>> columns = std::nullopt, bool recursive = false,
              std::optional<MaterializationHint> hint = std::nullopt) &&
    {
        Self copy = std::move(static_cast<Self&>(*this));
        QueryClauses& c = copy.clauses;
        detail::addWith(c, alias, query, std::move(columns), recursive, hint);
        return copy;
    }

    /// Selects one typed column; the result is a scalar query of its value type.
    template <class T> ScalarQuery<T> selectScalar(const Expression<T>& column, bool distinct = false) const;

    /// The count of rows: SELECT count(*) with every other clause kept.
    ScalarQuery<std::int64_t> count() const;
};

/// A table; "TABLE" in DDL.
class Table : public QueryBuilders<Table> {
public:
    static constexpr std::string_view identifier = "TABLE";
    explicit Table(std::string name, std::optional<std::string> database = std::nullopt)
        : QueryBuilders(SourceKind::table, std::move(name), std::move(database))
    {}
};

/// A view; "VIEW" in DDL.
class View : public QueryBuilders<View> {
public:
    static constexpr std::string_view identifier = "VIEW";
    explicit View(std::string name, std::optional<std::string> database = std::nullopt)
        : QueryBuilders(SourceKind::view, std::move(name), std::move(database))
    {}
};

/// A virtual table (FTS, R*Tree); "VIRTUAL TABLE" in DDL.
class VirtualTable : public QueryBuilders<VirtualTable> {
public:
    static constexpr std::string_view identifier = "VIRTUAL TABLE";
    explicit VirtualTable(std::string name, std::optional<std::string> database = std::nullopt)
        : QueryBuilders(SourceKind::virtualTable, std::move(name), std::move(database))
    {}

    /// "(T MATCH ?)" with the pattern bound as text, never written into the SQL; T is the table's alias or
    /// name, after its quoted database name when it has one. (Defined in FullTextSearch.cpp.)
    Expression<bool> match(std::string_view pattern) const;
    /// "(T MATCH P)" with the pattern expression's bindings.
    Expression<bool> match(const Expression<std::string>& pattern) const;
    Expression<std::optional<bool>> match(const Expression<std::optional<std::string>>& pattern) const;
    /// This query with the MATCH condition added to its WHERE clause.
    VirtualTable matchQuery(std::string_view pattern) const;
    VirtualTable matchQuery(const Expression<std::string>& pattern) const;
    VirtualTable matchQuery(const Expression<std::optional<std::string>>& pattern) const;
};

/// A query whose single result column has the value type `T` (a selected typed column, or a count).
template <class T> class ScalarQuery : public QueryBuilders<ScalarQuery<T>> {
public:
    using UnderlyingType = T;
    explicit ScalarQuery(std::string name, std::optional<std::string> database = std::nullopt)
        : QueryBuilders<ScalarQuery<T>>(SourceKind::scalarQuery, std::move(name), std::move(database))
    {}
};

/// A schema object kind with its DDL word (`Table`, `View`, `VirtualTable`).
template <class T>
concept SchemaType = std::derived_from<T, QueryType> && requires
{
    {
        T::identifier
        } -> std::convertible_to<std::string_view>;
};

/// One common table expression of a WITH clause.
struct WithClauses::Clause {
    /// Only its name, alias and database are used.
    Table alias;
    std::optional<std::vector<Expressible>> columns;
    std::optional<MaterializationHint> hint;
    SharedQuery query;
};

/// The text of one common table expression: name [(columns)] AS [hint] (query).
Expression<void> compileWithClause(const WithClauses::Clause& clause);

/// "UNION [ALL] Q" for each entry, in order.
std::vector<Expression<void>> unionExpressions(const std::vector<UnionClause>& entries);

template <class Self>
template <class T>
ScalarQuery<T> QueryBuilders<Self>::selectScalar(const Expression<T>& column, bool distinct) const
{
    ScalarQuery<T> result(clauses.from.name, clauses.from.database);
    result.clauses = clauses;
    result.clauses.select = SelectClause{distinct, {Expressible(column)}};
    return result;
}

namespace detail {
Expression<std::int64_t> countStarExpression();
}

template <class Self> ScalarQuery<std::int64_t> QueryBuilders<Self>::count() const
{
    return selectScalar(detail::countStarExpression());
}

} // namespace sqlite
