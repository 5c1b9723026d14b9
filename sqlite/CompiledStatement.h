#pragma once

#include "sqlite/Expression.h"

#include <concepts>
#include <string>

namespace sqlite {

/// A whole compiled statement: its text with one "?" per value, and the values in placeholder order.
class CompiledStatement {
public:
    using UnderlyingType = void;

    std::string template_;
    Bindings bindings;

    CompiledStatement() = default;
    CompiledStatement(std::string text, Bindings values) : template_(std::move(text)), bindings(std::move(values)) {}
    explicit CompiledStatement(Expression<void> compiled)
        : template_(std::move(compiled.template_)), bindings(std::move(compiled.bindings))
    {}

    /// The same text and values as an untyped expression.
    Expression<void> expression() const { return Expression<void>(template_, bindings); }
    /// The text with the values written in as literals (`toSQLText`).
    std::string description() const { return toSQLText(template_, bindings); }

    bool operator==(const CompiledStatement&) const = default;
};

/// A compiled INSERT; running it gives the new row id.
class Insert : public CompiledStatement {
public:
    using CompiledStatement::CompiledStatement;
};

/// A compiled UPDATE; running it gives the number of changed rows.
class Update : public CompiledStatement {
public:
    using CompiledStatement::CompiledStatement;
};

/// A compiled DELETE; running it gives the number of changed rows.
class Delete : public CompiledStatement {
public:
    using CompiledStatement::CompiledStatement;
};

/// A compiled selection whose one result column has the value type `T` (such as `QueryType::exists`).
template <class T> class Select : public CompiledStatement {
public:
    using UnderlyingType = T;
    using CompiledStatement::CompiledStatement;
};

/// A typed SQL fragment made of a template and its bindings: `Expression<T>`, `Select<T>`, `Insert`, `Update`,
/// `Delete`. Its expression is the untyped fragment and its description the text with the values written in.
template <class E>
concept ExpressionType = std::constructible_from<E, std::string, Bindings> && requires(const E& e)
{
    typename E::UnderlyingType;
    {
        e.template_
        } -> std::convertible_to<std::string>;
    {
        e.bindings
        } -> std::convertible_to<Bindings>;
    {
        e.expression()
        } -> std::convertible_to<Expression<void>>;
    {
        e.description()
        } -> std::convertible_to<std::string>;
};

} // namespace sqlite
