#include "sqlite/SchemaStatements.h"

#include "sqlite/QuoteSQL.h"

#include <optional>

namespace sqlite {

namespace {

Expression<void> keyword(std::string_view text)
{
    return Expression<void>::makeLiteralExpression(text);
}

std::string words(const std::vector<Expressible>& parts)
{
    return toSQLText(joinExpressions(" ", parts));
}

std::string createFromQuery(std::string_view identifier, const QueryType& target, const QueryType& query,
                            bool temporary, bool ifNotExists)
{
    return words({createStatementPrefix(identifier, temporary ? std::optional(CreateModifier::temporary) : std::nullopt,
                                        target.tableNameExpression(false), ifNotExists),
                  keyword("AS"), query.expression()});
}

} // namespace

std::string addColumn(const Table& table, const Expression<void>& definition)
{
    return words({keyword("ALTER TABLE"), table.tableNameExpression(false), keyword("ADD COLUMN"), definition});
}

std::string renameTable(const Table& table, const Table& to)
{
    return words({keyword("ALTER TABLE"), table.tableNameExpression(false), keyword("RENAME TO"),
                  Expression<void>::makeIdentifierExpression(to.clauses.from.name)});
}

std::string renameTable(const VirtualTable& table, const VirtualTable& to)
{
    return words({keyword("ALTER TABLE"), table.tableNameExpression(false), keyword("RENAME TO"),
                  Expression<void>::makeIdentifierExpression(to.clauses.from.name)});
}

Expression<void> indexName(const QueryType& table, const std::vector<Expressible>& columns)
{
    std::string source = "index " + table.clauses.from.name + " on";
    for (const Expressible& column : columns) {
        source += ' ';
        source += column.expression().template_;
    }
    std::string name;
    name.reserve(source.size());
    for (std::size_t i = 0; i < source.size(); ++i) {
        const auto byte = static_cast<unsigned char>(source[i]);
        if (byte == '"') {
            continue;
        }
        if ((byte & 0xC0) == 0x80) {
            // The rest of a multi-byte character, which already became one "_".
            continue;
        }
        const char lower = byte >= 'A' && byte <= 'Z' ? static_cast<char>(byte - 'A' + 'a') : static_cast<char>(byte);
        name += (lower >= 'a' && lower <= 'z') || (lower >= '0' && lower <= '9') ? lower : '_';
    }
    return table.databaseQualifiedName(name);
}

std::string createIndex(const Table& table, const std::vector<Expressible>& columns, bool unique, bool ifNotExists)
{
    return words({createStatementPrefix("INDEX", unique ? std::optional(CreateModifier::unique) : std::nullopt,
                                        indexName(table, columns), ifNotExists),
                  keyword("ON"), table.tableNameForReference(false), wrapAsCall("", joinExpressions(", ", columns))});
}

std::string dropIndex(const Table& table, const std::vector<Expressible>& columns, bool ifExists)
{
    return toSQLText(dropStatement("INDEX", indexName(table, columns), ifExists));
}

std::string createTable(const Table& table, const QueryType& query, bool temporary, bool ifNotExists)
{
    return createFromQuery("TABLE", table, query, temporary, ifNotExists);
}

std::string createView(const View& view, const QueryType& query, bool temporary, bool ifNotExists)
{
    return createFromQuery("VIEW", view, query, temporary, ifNotExists);
}

std::string createVirtualTable(const VirtualTable& table, const Module& module, bool ifNotExists)
{
    return words({createStatementPrefix("VIRTUAL TABLE", std::nullopt, table.tableNameExpression(false), ifNotExists),
                  keyword("USING"), module.expression()});
}

Expression<void> dropStatement(std::string_view identifier, const Expression<void>& name, bool ifExists)
{
    std::vector<Expressible> parts{keyword("DROP " + std::string(identifier))};
    if (ifExists) {
        parts.emplace_back(keyword("IF EXISTS"));
    }
    parts.emplace_back(name);
    return joinExpressions(" ", parts);
}

std::string dropTable(const Table& table, bool ifExists)
{
    return toSQLText(dropStatement("TABLE", table.tableNameExpression(false), ifExists));
}

std::string dropView(const View& view, bool ifExists)
{
    return toSQLText(dropStatement("VIEW", view.tableNameExpression(false), ifExists));
}

} // namespace sqlite
