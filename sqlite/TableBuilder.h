#pragma once

// CREATE TABLE statements written with the query builder's typed columns. Every value is written inline as an
// SQL literal, so the text carries no placeholders; running it is the caller's business.

#include "sqlite/Collation.h"
#include "sqlite/Expression.h"
#include "sqlite/Query.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

namespace sqlite {

/// How a column is made the primary key ("default" is a keyword, hence `default_`).
enum class PrimaryKey { default_, autoincrement };

/// The word that may follow CREATE.
enum class CreateModifier { unique, temporary };

/// "UNIQUE" or "TEMPORARY".
std::string_view toText(CreateModifier modifier);

/// "CREATE [modifier] identifier [IF NOT EXISTS] name" (identifier "TABLE", "INDEX", "VIEW", "VIRTUAL TABLE").
Expression<void> createStatementPrefix(std::string_view identifier, std::optional<CreateModifier> modifier,
                                       const Expression<void>& name, bool ifNotExists);

/// Everything one column definition may say, untyped.
struct ColumnDefinitionParts {
    /// The column, normally its quoted name.
    Expression<void> column;
    /// The declared type ("INTEGER", "TEXT", "REAL", "BLOB").
    std::string datatype;
    std::optional<PrimaryKey> primaryKey;
    bool allowsNull = true;
    bool unique = false;
    std::optional<Expression<void>> check;
    std::optional<Expression<void>> defaultValue;
    /// The referenced table's name for a reference (unqualified) and the referenced column.
    std::optional<std::pair<Expression<void>, Expression<void>>> references;
    std::optional<Collation> collate;
};

/// column type [PRIMARY KEY [AUTOINCREMENT]] [NOT NULL] [UNIQUE] [CHECK c] [DEFAULT (d)] [REFERENCES t (c)]
/// [COLLATE x]; values keep their bindings until the statement is written out.
Expression<void> columnDefinition(const ColumnDefinitionParts& parts);

/// One typed column definition, built up as a value: each call returns a changed copy. The column's type
/// gives the declared type, and NULL is allowed exactly when the column's value type is optional.
template <ValueTag T> class ColumnSpec {
public:
    explicit ColumnSpec(const Expression<T>& column)
    {
        parts_.column = column;
        parts_.datatype = ValueTraits<BaseType<T>>::declaredDatatype();
        parts_.allowsNull = isOptionalType<T>;
    }

    ColumnSpec primaryKey(PrimaryKey kind = PrimaryKey::default_) const
    {
        return with([&](ColumnDefinitionParts& p) { p.primaryKey = kind; });
    }
    ColumnSpec unique(bool on = true) const
    {
        return with([&](ColumnDefinitionParts& p) { p.unique = on; });
    }
    template <BooleanTag B> ColumnSpec check(const Expression<B>& condition) const
    {
        return with([&](ColumnDefinitionParts& p) { p.check = condition; });
    }
    /// A plain value of the column's type, written inline.
    template <class U>
    requires PlainValueFor<U, BaseType<T>> ColumnSpec defaultValue(const U& value)
    const
    {
        return with([&](ColumnDefinitionParts& p) {
            p.defaultValue = Expression<void>("?", Bindings{bindingOf<BaseType<T>>(value)});
        });
    }
    /// An expression of the column's value type (plain or optional).
    template <class U>
    requires SameValueType<U, T> ColumnSpec defaultValue(const Expression<U>& value)
    const
    {
        return with([&](ColumnDefinitionParts& p) { p.defaultValue = value; });
    }
    /// REFERENCES the table (by its alias or name) and one of its columns of the same value type.
    template <class U>
    requires SameValueType<U, T> ColumnSpec references(const QueryType& table, const Expression<U>& column)
    const
    {
        return with([&](ColumnDefinitionParts& p) {
            p.references = std::pair(table.tableNameForReference(false), Expression<void>(column));
        });
    }
    ColumnSpec collate(const Collation& collation) const requires TextTag<T>
    {
        return with([&](ColumnDefinitionParts& p) { p.collate = collation; });
    }

    const ColumnDefinitionParts& parts() const { return parts_; }
    Expression<void> expression() const { return columnDefinition(parts_); }

private:
    template <class F> ColumnSpec with(F&& change) const
    {
        ColumnSpec copy = *this;
        change(copy.parts_);
        return copy;
    }

    ColumnDefinitionParts parts_;
};

/// Collects the column definitions and table constraints of one CREATE TABLE, in the order they are added.
class TableBuilder {
public:
    /// A foreign-key action.
    enum class Dependency { noAction, restrict, setNull, setDefault, cascade };

    /// Column definitions and table constraints in the order added.
    std::vector<Expressible> definitions;

    template <ValueTag T> TableBuilder& column(const ColumnSpec<T>& shape)
    {
        definitions.emplace_back(shape.expression());
        return *this;
    }
    /// A column with nothing but its type (and NOT NULL unless its value type is optional).
    template <ValueTag T> TableBuilder& column(const Expression<T>& column)
    {
        return this->column(ColumnSpec<T>(column));
    }
    template <ValueTag T> TableBuilder& column(const Expression<T>& column, PrimaryKey primaryKey)
    {
        return this->column(ColumnSpec<T>(column).primaryKey(primaryKey));
    }

    /// "PRIMARY KEY (a, b, …)" over one to four columns.
    template <class... T>
    requires(sizeof...(T) >= 1 && sizeof...(T) <= 4) TableBuilder& primaryKey(const Expression<T>&... columns)
    {
        return addListConstraint("PRIMARY KEY ", {Expressible(Expression<void>(columns))...});
    }
    /// "UNIQUE (a, b, …)".
    TableBuilder& unique(const std::vector<Expressible>& columns) { return addListConstraint("UNIQUE ", columns); }
    template <class... T>
    requires(sizeof...(T) >= 1) TableBuilder& unique(const Expression<T>&... columns)
    {
        return unique({Expressible(Expression<void>(columns))...});
    }
    /// "CHECK (condition)".
    template <BooleanTag B> TableBuilder& check(const Expression<B>& condition) { return addCheck(condition); }

    /// "FOREIGN KEY (c) REFERENCES t (p) [ON UPDATE a] [ON DELETE a]".
    template <class C, class P>
    requires SameValueType<C, P> TableBuilder& foreignKey(const Expression<C>& column, const QueryType& table,
                                                          const Expression<P>& references,
                                                          std::optional<Dependency> update = std::nullopt,
                                                          std::optional<Dependency> delete_ = std::nullopt)
    {
        return addForeignKey({Expressible(Expression<void>(column))}, table,
                             {Expressible(Expression<void>(references))}, update, delete_);
    }
    /// A key over two or three columns, paired with the parent's columns by position.
    template <class... C, class... P>
    requires(sizeof...(C) >= 2 && sizeof...(C) <= 3 && sizeof...(C) == sizeof...(P) &&
             (SameValueType<C, P> && ...)) TableBuilder& foreignKey(const std::tuple<Expression<C>...>& columns,
                                                                    const QueryType& table,
                                                                    const std::tuple<Expression<P>...>& references,
                                                                    std::optional<Dependency> update = std::nullopt,
                                                                    std::optional<Dependency> delete_ = std::nullopt)
    {
        return addForeignKey(untypedList(columns), table, untypedList(references), update, delete_);
    }

private:
    template <class... X> static std::vector<Expressible> untypedList(const std::tuple<Expression<X>...>& items)
    {
        return std::apply([](const auto&... e) { return std::vector<Expressible>{Expression<void>(e)...}; }, items);
    }
    TableBuilder& addListConstraint(std::string_view keyword, const std::vector<Expressible>& columns);
    TableBuilder& addCheck(const Expression<void>& condition);
    TableBuilder& addForeignKey(const std::vector<Expressible>& columns, const QueryType& table,
                                const std::vector<Expressible>& references, std::optional<Dependency> update,
                                std::optional<Dependency> delete_);
};

/// "NO ACTION", "RESTRICT", "SET NULL", "SET DEFAULT" or "CASCADE".
std::string_view toText(TableBuilder::Dependency dependency);
std::optional<TableBuilder::Dependency> dependencyFromText(std::string_view text);

struct CreateTableOptions {
    bool temporary = false;
    bool ifNotExists = false;
    bool withoutRowid = false;
};

/// "CREATE [TEMPORARY] TABLE [IF NOT EXISTS] name (definitions) [WITHOUT ROWID]", with what `block` adds to a
/// fresh builder. The table is named by its alias when it has one, after its database when it names one.
std::string createTable(const Table& table, const std::function<void(TableBuilder&)>& block,
                        CreateTableOptions options = {});

} // namespace sqlite
