#include "sqlite/QueryRunning.h"

#include "sqlite/QuoteSQL.h"

#include <sqlite3.h>
#include <string_view>
#include <vector>

namespace sqlite {

namespace {

/// The text of a select column split at its dots (empty parts dropped): the prefix (the parts before the
/// last, joined again with ".") and the last part. Quotes are not looked at.
struct SplitColumn {
    std::string prefix;
    std::string_view last;
    bool hasParts = false;
};

SplitColumn splitColumn(std::string_view text)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t dot = text.find('.', start);
        std::size_t end = dot == std::string_view::npos ? text.size() : dot;
        if (end > start) {
            parts.push_back(text.substr(start, end - start));
        }
        if (dot == std::string_view::npos) {
            break;
        }
        start = dot + 1;
    }
    SplitColumn split;
    if (parts.empty()) {
        return split;
    }
    split.hasParts = true;
    split.last = parts.back();
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        if (i > 0) {
            split.prefix += '.';
        }
        split.prefix += parts[i];
    }
    return split;
}

class ColumnMapBuilder {
public:
    explicit ColumnMapBuilder(Connection& connection) : connection_(connection) {}

    void add(std::string key)
    {
        // A repeated key keeps the later position; the count still advances, as SQLite returns both columns.
        map_.insert_or_assign(std::move(key), counter_++);
    }

    /// Adds every column that "SELECT * FROM q" returns, qualified with q's name when `qualified`.
    /// Always "*": a joined query's own select list plays no part in what the outer "*" returns. The name is
    /// resolved as the whole statement resolves it: under the statement's own WITH clauses, written in full, so
    /// that a joined common table expression is found and one defined over a join or an alias has all the
    /// columns SQLite gives it.
    void expandStar(const QueryType& q, bool qualified, const WithClauses& with)
    {
        QueryType bare(q.kind(), q.clauses.from.name, q.clauses.from.database);
        bare.clauses.select = SelectClause{false, {star()}};
        bare.clauses.with = with;
        Expression<void> compiled = bare.expression();
        Statement statement(connection_.shared_from_this(), compiled.template_);
        statement.bind(compiled.bindings);
        const std::string prefix = qualified ? q.tableNameExpression().template_ + "." : std::string();
        for (const std::string& name : statement.columnNames()) {
            add(prefix + quoteSQL(name, '"'));
        }
    }

    ColumnNames::Map take() { return std::move(map_); }

private:
    Connection& connection_;
    ColumnNames::Map map_;
    int counter_ = 0;
};

} // namespace

std::shared_ptr<const ColumnNames> resolveColumnNames(Connection& connection, const QueryType& query)
{
    ColumnMapBuilder builder(connection);
    for (const Expressible& column : query.clauses.select.columns) {
        const std::string& text = column.expression().template_;
        SplitColumn split = splitColumn(text);
        if (!split.hasParts || split.last != "*") {
            // Texts with no part at all (empty, or dots only) are kept as they are: SQLite still returns one
            // column for them, so the positions after them stay right.
            builder.add(text);
            continue;
        }
        std::vector<const QueryType*> candidates{&query};
        for (const JoinClause& join : query.clauses.join) {
            candidates.push_back(join.query.get());
        }
        if (!split.prefix.empty()) {
            const QueryType* match = nullptr;
            for (const QueryType* candidate : candidates) {
                if (candidate->tableNameExpression().template_ == split.prefix) {
                    match = candidate;
                    break;
                }
            }
            if (match == nullptr) {
                throw QueryError::noSuchTable(split.prefix);
            }
            builder.expandStar(*match, true, query.clauses.with);
        } else {
            const bool qualified = !query.clauses.join.empty();
            for (const QueryType* candidate : candidates) {
                builder.expandStar(*candidate, qualified, query.clauses.with);
            }
        }
    }
    return std::make_shared<const ColumnNames>(builder.take());
}

namespace detail {

std::optional<Binding> fetchScalar(Connection& connection, const std::string& sql, const Bindings& bindings)
{
    Statement statement(connection.shared_from_this(), sql);
    statement.bind(bindings);
    return statement.fetchScalar();
}

} // namespace detail

RowIterator Connection::prepareQuery(const QueryType& query)
{
    return prepareRowIterator(query);
}

RowIterator Connection::prepareRowIterator(const QueryType& query)
{
    Expression<void> compiled = query.expression();
    auto statement = std::make_shared<Statement>(shared_from_this(), compiled.template_);
    statement->bind(compiled.bindings);
    return RowIterator(std::move(statement), resolveColumnNames(*this, query));
}

RowIterator Connection::prepareRowIterator(std::string_view sql, const Bindings& values)
{
    auto statement = std::make_shared<Statement>(shared_from_this(), sql);
    statement->bind(values);
    ColumnNames::Map map;
    for (auto& [name, index] : statement->quotedColumnIndexes()) {
        map.emplace(name, index);
    }
    return RowIterator(std::move(statement), std::make_shared<const ColumnNames>(std::move(map)));
}

std::optional<Row> Connection::pluck(const QueryType& query)
{
    QueryType first = query;
    std::optional<std::int64_t> offset = query.clauses.limit ? query.clauses.limit->offset : std::nullopt;
    first.clauses.limit = LimitClause{1, offset};
    return prepareRowIterator(first).failableNext();
}

namespace {

/// Prepares, binds and runs a writing statement; `result` reads the row id or the change count while the
/// queue is still held, so another thread's statement cannot slip in between.
template <class Read> std::int64_t runWriting(Connection& connection, const CompiledStatement& compiled, Read result)
{
    return connection.sync([&] {
        auto statement = std::make_shared<Statement>(connection.shared_from_this(), compiled.template_);
        statement->bind(compiled.bindings);
        statement->runToEnd();
        return result();
    });
}

} // namespace

std::int64_t Connection::runInsert(const Insert& insert)
{
    return runWriting(*this, insert, [this] { return static_cast<std::int64_t>(sqlite3_last_insert_rowid(handle_)); });
}

std::int64_t Connection::runUpdate(const Update& update)
{
    return runWriting(*this, update, [this] { return static_cast<std::int64_t>(sqlite3_changes(handle_)); });
}

std::int64_t Connection::runDelete(const Delete& statement)
{
    return runWriting(*this, statement, [this] { return static_cast<std::int64_t>(sqlite3_changes(handle_)); });
}

} // namespace sqlite
