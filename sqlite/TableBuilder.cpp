#include "sqlite/TableBuilder.h"

#include "sqlite/SQLTokens.h"

namespace sqlite {

namespace {

// The parts that are present, joined by single spaces, their bindings kept in order.
Expression<void> joinParts(const std::vector<std::optional<Expressible>>& parts)
{
    std::vector<Expressible> present;
    for (const auto& part : parts) {
        if (part) {
            present.push_back(*part);
        }
    }
    return joinExpressions(" ", present);
}

std::optional<Expressible> word(std::string_view text)
{
    return Expressible(Expression<void>::makeLiteralExpression(text));
}

std::optional<Expressible> wordIf(bool present, std::string_view text)
{
    return present ? word(text) : std::nullopt;
}

} // namespace

std::string_view toText(CreateModifier modifier)
{
    return modifier == CreateModifier::unique ? "UNIQUE" : "TEMPORARY";
}

Expression<void> createStatementPrefix(std::string_view identifier, std::optional<CreateModifier> modifier,
                                       const Expression<void>& name, bool ifNotExists)
{
    return joinParts({word("CREATE"), modifier ? word(toText(*modifier)) : std::nullopt, word(identifier),
                      wordIf(ifNotExists, "IF NOT EXISTS"), Expressible(name)});
}

Expression<void> columnDefinition(const ColumnDefinitionParts& parts)
{
    std::optional<Expressible> primaryKey;
    if (parts.primaryKey) {
        primaryKey = word(*parts.primaryKey == PrimaryKey::autoincrement ? "PRIMARY KEY AUTOINCREMENT" : "PRIMARY KEY");
    }
    std::optional<Expressible> check;
    if (parts.check) {
        check = joinExpressions(" ", {word("CHECK").value(), *parts.check});
    }
    std::optional<Expressible> defaultValue;
    if (parts.defaultValue) {
        defaultValue = wrapAsCall("DEFAULT ", *parts.defaultValue);
    }
    std::optional<Expressible> references;
    if (parts.references) {
        references = joinExpressions(
            " ", {word("REFERENCES").value(), parts.references->first, wrapAsCall("", parts.references->second)});
    }
    std::optional<Expressible> collate;
    if (parts.collate) {
        collate = joinExpressions(" ", {word("COLLATE").value(), parts.collate->expression()});
    }
    return joinParts({Expressible(parts.column), word(parts.datatype), primaryKey,
                      wordIf(!parts.allowsNull, "NOT NULL"), wordIf(parts.unique, "UNIQUE"), check, defaultValue,
                      references, collate});
}

TableBuilder& TableBuilder::addListConstraint(std::string_view keyword, const std::vector<Expressible>& columns)
{
    definitions.emplace_back(wrapAsCall(keyword, joinExpressions(", ", columns)));
    return *this;
}

TableBuilder& TableBuilder::addCheck(const Expression<void>& condition)
{
    definitions.emplace_back(wrapAsCall("CHECK ", condition));
    return *this;
}

TableBuilder& TableBuilder::addForeignKey(const std::vector<Expressible>& columns, const QueryType& table,
                                          const std::vector<Expressible>& references, std::optional<Dependency> update,
                                          std::optional<Dependency> delete_)
{
    const Expression<void> reference =
        joinExpressions(" ", {word("REFERENCES").value(), table.tableNameForReference(false),
                              wrapAsCall("", joinExpressions(", ", references))});
    definitions.emplace_back(joinParts({wrapAsCall("FOREIGN KEY ", joinExpressions(", ", columns)), reference,
                                        update ? word("ON UPDATE " + std::string(toText(*update))) : std::nullopt,
                                        delete_ ? word("ON DELETE " + std::string(toText(*delete_))) : std::nullopt}));
    return *this;
}

std::string_view toText(TableBuilder::Dependency dependency)
{
    switch (dependency) {
    case TableBuilder::Dependency::noAction:
        return "NO ACTION";
    case TableBuilder::Dependency::restrict:
        return "RESTRICT";
    case TableBuilder::Dependency::setNull:
        return "SET NULL";
    case TableBuilder::Dependency::setDefault:
        return "SET DEFAULT";
    case TableBuilder::Dependency::cascade:
        return "CASCADE";
    }
    return "NO ACTION";
}

std::optional<TableBuilder::Dependency> dependencyFromText(std::string_view text)
{
    using D = TableBuilder::Dependency;
    static constexpr D all[] = {D::noAction, D::restrict, D::setNull, D::setDefault, D::cascade};
    return detail::enumFromText(text, all);
}

std::string createTable(const Table& table, const std::function<void(TableBuilder&)>& block, CreateTableOptions options)
{
    TableBuilder builder;
    block(builder);
    const Expression<void> statement = joinParts(
        {createStatementPrefix("TABLE", options.temporary ? std::optional(CreateModifier::temporary) : std::nullopt,
                               table.tableNameExpression(false), options.ifNotExists),
         wrapAsCall("", joinExpressions(", ", builder.definitions)), wordIf(options.withoutRowid, "WITHOUT ROWID")});
    return toSQLText(statement);
}

} // namespace sqlite
