#include "sqlite/Query.h"

#include "sqlite/Fatal.h"
#include "sqlite/Operators.h"
#include "sqlite/QuoteSQL.h"

#include <array>

namespace sqlite {

namespace {

constexpr std::array<std::string_view, 3> joinWords = {"CROSS", "INNER", "LEFT OUTER"};
constexpr std::array<std::string_view, 2> hintWords = {"MATERIALIZED", "NOT MATERIALIZED"};
constexpr std::array<std::string_view, 5> conflictWords = {"REPLACE", "ROLLBACK", "ABORT", "FAIL", "IGNORE"};

template <class E, std::size_t N>
std::optional<E> fromWord(const std::array<std::string_view, N>& words, std::string_view text)
{
    for (std::size_t i = 0; i < N; ++i) {
        if (words[i] == text) {
            return static_cast<E>(i);
        }
    }
    return std::nullopt;
}

/// Builds one statement in place: pieces joined by one blank, each piece's bindings appended in piece order.
/// Writing straight into one buffer keeps compiling a query to a handful of allocations.
class Writer {
public:
    explicit Writer(Expression<void>& out) : out_(out) {}

    /// Starts a new piece: one blank unless it is the first. An empty piece still counts.
    Writer& piece()
    {
        if (started_) {
            out_.template_ += ' ';
        }
        started_ = true;
        return *this;
    }
    Writer& word(std::string_view text)
    {
        piece();
        out_.template_ += text;
        return *this;
    }
    Writer& text(std::string_view text)
    {
        out_.template_ += text;
        return *this;
    }
    Writer& append(const Expression<void>& e)
    {
        out_.template_ += e.template_;
        out_.bindings.insert(out_.bindings.end(), e.bindings.begin(), e.bindings.end());
        return *this;
    }
    Writer& list(const std::vector<Expressible>& items, std::string_view separator = ", ")
    {
        bool first = true;
        for (const Expressible& item : items) {
            if (!first) {
                out_.template_ += separator;
            }
            first = false;
            append(item.expression());
        }
        return *this;
    }
    Writer& parenthesisedList(const std::vector<Expressible>& items)
    {
        text("(");
        list(items);
        return text(")");
    }
    Writer& quoted(std::string_view name)
    {
        out_.template_ += quoteSQL(name, '"');
        return *this;
    }
    Expression<void>& out() { return out_; }

private:
    Expression<void>& out_;
    bool started_ = false;
};

void writeQualifiedName(Writer& w, const FromClause& from, std::string_view name)
{
    if (from.database) {
        w.quoted(*from.database).text(".");
    }
    w.quoted(name);
}

void writeTableName(Writer& w, const FromClause& from, bool withAlias)
{
    if (withAlias && from.alias) {
        writeQualifiedName(w, from, from.name);
        w.text(" AS ").quoted(*from.alias);
    } else {
        writeQualifiedName(w, from, from.alias ? *from.alias : from.name);
    }
}

void writeSelect(Writer& w, const QueryClauses& c);

void writeWithClause(Writer& w, const WithClauses::Clause& clause)
{
    w.piece();
    writeTableName(w, clause.alias.clauses.from, false);
    if (clause.columns) {
        w.piece().parenthesisedList(*clause.columns);
    }
    w.word("AS");
    if (clause.hint) {
        w.word(materializationHintText(*clause.hint));
    }
    w.piece().text("(");
    Writer inner(w.out());
    writeSelect(inner, clause.query->clauses);
    w.text(")");
}

void writeWith(Writer& w, const WithClauses& with)
{
    w.word(with.recursive ? "WITH RECURSIVE" : "WITH");
    w.piece();
    bool first = true;
    for (const WithClauses::Clause& clause : with.clauses) {
        if (!first) {
            w.text(", ");
        }
        first = false;
        Writer inner(w.out());
        writeWithClause(inner, clause);
    }
}

void writeSelectPiece(Writer& w, const QueryClauses& c)
{
    w.word(c.select.distinct ? "SELECT DISTINCT" : "SELECT");
    w.piece().list(c.select.columns);
    w.word("FROM").piece();
    writeTableName(w, c.from, true);
}

void writeJoins(Writer& w, const QueryClauses& c)
{
    for (const JoinClause& join : c.join) {
        w.piece().text(joinTypeText(join.type)).text(" JOIN").piece();
        writeTableName(w, join.query->clauses.from, true);
        w.word("ON").piece().append(join.condition.expression());
    }
}

void writeWhere(Writer& w, const QueryClauses& c)
{
    if (c.filters) {
        w.word("WHERE").piece().append(*c.filters);
    }
}

void writeGroup(Writer& w, const QueryClauses& c)
{
    if (c.group) {
        w.word("GROUP BY").piece().list(c.group->by);
        if (c.group->having) {
            w.word("HAVING").piece().append(*c.group->having);
        }
    }
}

void writeUnions(Writer& w, const QueryClauses& c)
{
    for (const UnionClause& entry : c.union_) {
        w.word(entry.all ? "UNION ALL" : "UNION").piece();
        Writer inner(w.out());
        writeSelect(inner, entry.table->clauses);
    }
}

void writeOrder(Writer& w, const QueryClauses& c)
{
    if (!c.order.empty()) {
        w.word("ORDER BY").piece().list(c.order);
    }
}

void writeLimit(Writer& w, const QueryClauses& c)
{
    if (c.limit) {
        w.word("LIMIT ").text(std::to_string(c.limit->length));
        if (c.limit->offset) {
            w.word("OFFSET ").text(std::to_string(*c.limit->offset));
        }
    }
}

void writeSelect(Writer& w, const QueryClauses& c)
{
    if (!c.with.clauses.empty()) {
        writeWith(w, c.with);
    }
    writeSelectPiece(w, c);
    writeJoins(w, c);
    writeWhere(w, c);
    writeGroup(w, c);
    writeUnions(w, c);
    writeOrder(w, c);
    writeLimit(w, c);
}

template <class Piece> std::optional<Expression<void>> optionalPiece(const QueryClauses& c, Piece piece)
{
    Expression<void> out;
    Writer w(out);
    piece(w, c);
    if (out.template_.empty()) {
        return std::nullopt;
    }
    return out;
}

void writeAssignments(Writer& w, const std::vector<Setter>& setters)
{
    bool first = true;
    for (const Setter& setter : setters) {
        if (!first) {
            w.text(", ");
        }
        first = false;
        w.append(setter.column().expression()).text(" = ").append(setter.value().expression());
    }
}

void writeInsertHead(Writer& w, const QueryClauses& c, std::optional<OnConflict> onConflict)
{
    w.word("INSERT");
    if (onConflict) {
        w.word("OR ").text(onConflictText(*onConflict));
    }
    w.word("INTO").piece();
    writeTableName(w, c.from, false);
}

void writeColumnsAndValues(Writer& w, const std::vector<Setter>& setters)
{
    w.piece().text("(");
    bool first = true;
    for (const Setter& setter : setters) {
        if (!first) {
            w.text(", ");
        }
        first = false;
        w.append(setter.column().expression());
    }
    w.text(")").word("VALUES").piece().text("(");
    first = true;
    for (const Setter& setter : setters) {
        if (!first) {
            w.text(", ");
        }
        first = false;
        w.append(setter.value().expression());
    }
    w.text(")");
}

/// The later row's setters in the order of `columns`; fatal when the row names other columns.
std::vector<const Setter*> alignRow(const std::vector<Setter>& first, const std::vector<Setter>& row, std::size_t index)
{
    std::vector<const Setter*> aligned;
    if (row.size() != first.size()) {
        SQLITE_FATAL("SQLite/Query", "insertManyRows: row " + std::to_string(index) + " has " +
                                         std::to_string(row.size()) + " values, the first row " +
                                         std::to_string(first.size()));
    }
    bool sameOrder = true;
    for (std::size_t i = 0; i < row.size() && sameOrder; ++i) {
        sameOrder = row[i].column() == first[i].column();
    }
    aligned.reserve(row.size());
    if (sameOrder) {
        for (const Setter& setter : row) {
            aligned.push_back(&setter);
        }
        return aligned;
    }
    std::vector<bool> used(row.size(), false);
    for (const Setter& wanted : first) {
        const Setter* match = nullptr;
        for (std::size_t i = 0; i < row.size(); ++i) {
            if (!used[i] && row[i].column() == wanted.column()) {
                used[i] = true;
                match = &row[i];
                break;
            }
        }
        if (match == nullptr) {
            SQLITE_FATAL("SQLite/Query", "insertManyRows: row " + std::to_string(index) + " has no value for column " +
                                             wanted.column().expression().template_ + " of the first row");
        }
        aligned.push_back(match);
    }
    return aligned;
}

} // namespace

std::string_view joinTypeText(JoinType type)
{
    return joinWords[static_cast<std::size_t>(type)];
}

std::optional<JoinType> joinTypeFromText(std::string_view text)
{
    return fromWord<JoinType>(joinWords, text);
}

std::string_view materializationHintText(MaterializationHint hint)
{
    return hintWords[static_cast<std::size_t>(hint)];
}

std::optional<MaterializationHint> materializationHintFromText(std::string_view text)
{
    return fromWord<MaterializationHint>(hintWords, text);
}

std::string_view onConflictText(OnConflict resolution)
{
    return conflictWords[static_cast<std::size_t>(resolution)];
}

std::optional<OnConflict> onConflictFromText(std::string_view text)
{
    return fromWord<OnConflict>(conflictWords, text);
}

QueryType::QueryType(SourceKind kind, std::string name, std::optional<std::string> database) : kind_(kind)
{
    clauses.select.columns.emplace_back(star());
    clauses.from.name = std::move(name);
    clauses.from.database = std::move(database);
}

Expression<void> QueryType::expression() const
{
    Expression<void> out;
    Writer w(out);
    writeSelect(w, clauses);
    return out;
}

Select<bool> QueryType::exists() const
{
    Expression<void> out;
    out.template_ = "SELECT EXISTS (";
    Writer inner(out);
    writeSelect(inner, clauses);
    out.template_ += ')';
    return Select<bool>(std::move(out));
}

Expression<void> QueryType::databaseQualifiedName(std::string_view name) const
{
    Expression<void> out;
    Writer w(out);
    writeQualifiedName(w, clauses.from, name);
    return out;
}

Expression<void> QueryType::tableNameExpression(bool withAlias) const
{
    Expression<void> out;
    Writer w(out);
    writeTableName(w, clauses.from, withAlias);
    return out;
}

Expression<void> QueryType::tableNameForReference(bool qualified) const
{
    if (qualified) {
        return tableNameExpression(false);
    }
    return Expression<void>::makeIdentifierExpression(clauses.from.alias ? *clauses.from.alias : clauses.from.name);
}

Expression<void> QueryType::qualify(const Expression<void>& column) const
{
    Expression<void> out;
    Writer w(out);
    writeTableName(w, clauses.from, false);
    w.text(".").append(column);
    return out;
}

Expression<void> QueryType::selectClause() const
{
    Expression<void> out;
    Writer w(out);
    writeSelectPiece(w, clauses);
    return out;
}

std::optional<Expression<void>> QueryType::joinClause() const
{
    return optionalPiece(clauses, writeJoins);
}

std::optional<Expression<void>> QueryType::whereClause() const
{
    return optionalPiece(clauses, writeWhere);
}

std::optional<Expression<void>> QueryType::groupByClause() const
{
    return optionalPiece(clauses, writeGroup);
}

std::optional<Expression<void>> QueryType::orderClause() const
{
    return optionalPiece(clauses, writeOrder);
}

std::optional<Expression<void>> QueryType::limitOffsetClause() const
{
    return optionalPiece(clauses, writeLimit);
}

std::optional<Expression<void>> QueryType::withExpression() const
{
    if (clauses.with.clauses.empty()) {
        return std::nullopt;
    }
    Expression<void> out;
    Writer w(out);
    writeWith(w, clauses.with);
    return out;
}

Expression<void> compileWithClause(const WithClauses::Clause& clause)
{
    Expression<void> out;
    Writer w(out);
    writeWithClause(w, clause);
    return out;
}

std::vector<Expression<void>> unionExpressions(const std::vector<UnionClause>& entries)
{
    std::vector<Expression<void>> parts;
    parts.reserve(entries.size());
    for (const UnionClause& entry : entries) {
        Expression<void> out;
        Writer w(out);
        w.word(entry.all ? "UNION ALL" : "UNION").piece();
        Writer inner(out);
        writeSelect(inner, entry.table->clauses);
        parts.push_back(std::move(out));
    }
    return parts;
}

Insert QueryType::compileInsert(std::optional<OnConflict> onConflict, const std::vector<Setter>& setters) const
{
    Expression<void> out;
    Writer w(out);
    writeInsertHead(w, clauses, onConflict);
    writeColumnsAndValues(w, setters);
    writeWhere(w, clauses);
    return Insert(std::move(out));
}

Insert QueryType::insertManyRows(std::optional<OnConflict> onConflict,
                                 const std::vector<std::vector<Setter>>& rows) const
{
    Expression<void> out;
    Writer w(out);
    if (rows.empty()) {
        // Nothing to insert: a statement that checks the table exists and changes nothing (an INSERT cannot
        // name zero rows in SQLite, and DEFAULT VALUES would add a row nobody asked for).
        w.word("SELECT 0 FROM").piece();
        writeTableName(w, clauses.from, false);
        w.word("WHERE 0");
        return Insert(std::move(out));
    }
    const std::vector<Setter>& first = rows.front();
    writeInsertHead(w, clauses, onConflict);
    w.piece().text("(");
    bool firstItem = true;
    for (const Setter& setter : first) {
        if (!firstItem) {
            w.text(", ");
        }
        firstItem = false;
        w.append(setter.column().expression());
    }
    w.text(")").word("VALUES").piece();
    for (std::size_t r = 0; r < rows.size(); ++r) {
        if (r > 0) {
            w.text(", ");
        }
        w.text("(");
        std::vector<const Setter*> row = alignRow(first, rows[r], r);
        for (std::size_t i = 0; i < row.size(); ++i) {
            if (i > 0) {
                w.text(", ");
            }
            w.append(row[i]->value().expression());
        }
        w.text(")");
    }
    writeWhere(w, clauses);
    return Insert(std::move(out));
}

Insert QueryType::insertDefaultValues() const
{
    Expression<void> out;
    Writer w(out);
    w.word("INSERT INTO").piece();
    writeTableName(w, clauses.from, false);
    w.word("DEFAULT VALUES");
    return Insert(std::move(out));
}

Insert QueryType::insertFromQuery(const QueryType& source) const
{
    Expression<void> out;
    Writer w(out);
    w.word("INSERT INTO").piece();
    writeTableName(w, clauses.from, false);
    w.piece();
    Writer inner(out);
    writeSelect(inner, source.clauses);
    return Insert(std::move(out));
}

Insert QueryType::compileUpsert(const std::vector<Setter>& setters, const Expressible& conflictTarget,
                                const std::vector<Setter>& onConflictSetters) const
{
    Expression<void> out;
    Writer w(out);
    writeInsertHead(w, clauses, std::nullopt);
    writeColumnsAndValues(w, setters);
    writeWhere(w, clauses);
    w.word("ON CONFLICT").piece().text("(").append(conflictTarget.expression()).text(")");
    w.word("DO UPDATE SET").piece();
    writeAssignments(w, onConflictSetters);
    return Insert(std::move(out));
}

Insert QueryType::compileUpsert(const std::vector<Setter>& setters, const Expressible& conflictTarget) const
{
    const std::string target = toSQLText(conflictTarget);
    const std::string excluded = quoteSQL("excluded", '"') + ".";
    std::vector<Setter> updates;
    for (const Setter& setter : setters) {
        const Expression<void>& column = setter.column().expression();
        if (toSQLText(column.template_, column.bindings) == target) {
            continue;
        }
        updates.emplace_back(setter.column(), Expression<void>(excluded + column.template_, column.bindings));
    }
    return compileUpsert(setters, conflictTarget, updates);
}

Update QueryType::compileUpdate(const std::vector<Setter>& setters) const
{
    Expression<void> out;
    Writer w(out);
    w.word("UPDATE").piece();
    writeTableName(w, clauses.from, false);
    w.word("SET").piece();
    writeAssignments(w, setters);
    writeWhere(w, clauses);
    writeOrder(w, clauses);
    writeLimit(w, clauses);
    return Update(std::move(out));
}

Delete QueryType::compileDelete() const
{
    Expression<void> out;
    Writer w(out);
    w.word("DELETE FROM").piece();
    writeTableName(w, clauses.from, false);
    writeWhere(w, clauses);
    writeOrder(w, clauses);
    writeLimit(w, clauses);
    return Delete(std::move(out));
}

namespace detail {

void addFilter(QueryClauses& clauses, const Expression<void>& predicate)
{
    if (!clauses.filters) {
        clauses.filters = Expression<std::optional<bool>>(predicate);
        return;
    }
    Expression<void>& filters = *clauses.filters;
    filters.template_.reserve(filters.template_.size() + predicate.template_.size() + 7);
    filters.template_.insert(0, 1, '(');
    filters.template_ += " AND ";
    filters.template_ += predicate.template_;
    filters.template_ += ')';
    filters.bindings.insert(filters.bindings.end(), predicate.bindings.begin(), predicate.bindings.end());
}

void addJoin(QueryClauses& clauses, JoinType type, const QueryType& other, const Expression<void>& condition)
{
    Expressible stored =
        other.clauses.filters ? Expressible(infix("AND", condition, *other.clauses.filters)) : Expressible(condition);
    clauses.join.push_back(JoinClause{type, std::make_shared<const QueryType>(other), std::move(stored)});
}

void addWith(QueryClauses& clauses, const Table& alias, const QueryType& query,
             std::optional<std::vector<Expressible>> columns, bool recursive, std::optional<MaterializationHint> hint)
{
    clauses.with.recursive = clauses.with.recursive || recursive;
    clauses.with.clauses.push_back(
        WithClauses::Clause{alias, std::move(columns), hint, std::make_shared<const QueryType>(query)});
}

void addUnion(QueryClauses& clauses, const QueryType& other, bool all)
{
    clauses.union_.push_back(UnionClause{all, std::make_shared<const QueryType>(other)});
}

void setLimit(QueryClauses& clauses, std::optional<std::int64_t> length, std::optional<std::int64_t> offset)
{
    if (length) {
        clauses.limit = LimitClause{*length, offset};
    } else {
        clauses.limit.reset();
    }
}

Expression<std::int64_t> countStarExpression()
{
    return Expression<std::int64_t>("count(*)");
}

} // namespace detail

} // namespace sqlite
