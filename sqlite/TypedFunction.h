#pragma once

// Typed scalar functions: `Connection::createTypedFunction` registers a callback of zero, one or two typed
// parameters and returns the builder of its calls for typed queries.

#include "sqlite/Connection.h"
#include "sqlite/Expression.h"
#include "sqlite/QuoteSQL.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

namespace sqlite {

namespace detail {

template <class Function> struct TypedFunctionSignature;
template <class R, class... Args> struct TypedFunctionSignature<std::function<R(Args...)>> {
    using Result = std::remove_cvref_t<R>;
    template <template <class, class...> class Make> using Apply = Make<Result, std::remove_cvref_t<Args>...>;
};

/// A parameter or result type of a typed function: a `Value`, or an optional of one (NULL allowed).
template <class T>
concept TypedFunctionType = Value<BaseType<T>>;

/// The typed value of argument `position` (0-based) of a call to `name`. A NULL for a required parameter, or a
/// value stored as another kind than the parameter's, throws `ValueError`: the call then fails with that message
/// instead of going on with a made-up value.
template <TypedFunctionType P>
BaseType<P> requiredArgument(const std::optional<Binding>& argument, std::size_t position, const std::string& name)
{
    if (!argument) {
        throw ValueError(name + ": argument " + std::to_string(position + 1) + " is NULL");
    }
    try {
        return valueFromBinding<BaseType<P>>(*argument);
    } catch (const ValueError& error) {
        throw ValueError(name + ": argument " + std::to_string(position + 1) + ": " + error.what());
    }
}

template <TypedFunctionType P> P typedArgument(const Bindings& arguments, std::size_t position, const std::string& name)
{
    const std::optional<Binding>& argument = arguments.at(position);
    if constexpr (isOptionalType<P>) {
        if (!argument) {
            return std::nullopt;
        }
    }
    return requiredArgument<P>(argument, position, name);
}

template <TypedFunctionType Z> std::optional<Binding> typedResult(const Z& value)
{
    if constexpr (isOptionalType<Z>) {
        if (!value) {
            return std::nullopt;
        }
        return toBinding(*value);
    } else {
        return toBinding(value);
    }
}

/// The call expression: the name quoted as an identifier, then the arguments in parentheses.
template <class Z, class... Params>
Expression<Z> typedFunctionCall(const std::string& quotedName, const Expression<Params>&... arguments)
{
    return Expression<Z>(wrapAsCall(
        quotedName, joinExpressions(", ", std::vector<Expressible>{Expressible(Expression<void>(arguments))...})));
}

template <class Z, class... Params> struct TypedFunctionMaker {
    static_assert(sizeof...(Params) <= 2, "a typed function takes at most two parameters; use createFunction");
    static_assert((TypedFunctionType<Params> && ...), "each parameter must be a Value or an optional Value");
    static_assert(TypedFunctionType<Z>, "the result must be a Value or an optional Value");

    using Builder = std::function<Expression<Z>(const Expression<Params>&...)>;

    template <class F>
    static Builder make(Connection& connection, std::string_view name, bool deterministic, F callback)
    {
        std::string text(name);
        connection.createFunction(
            name, static_cast<std::int64_t>(sizeof...(Params)), deterministic,
            [callback = std::move(callback), text](const Bindings& arguments) -> std::optional<Binding> {
                return [&]<std::size_t... I>(std::index_sequence<I...>)
                {
                    return typedResult<Z>(callback(typedArgument<Params>(arguments, I, text)...));
                }
                (std::index_sequence_for<Params...>{});
            });
        return [quoted = quoteSQL(text)](const Expression<Params>&... arguments) {
            return typedFunctionCall<Z, Params...>(quoted, arguments...);
        };
    }
};

} // namespace detail

/// The parameter and result types come from the callback's signature (a plain function, a lambda with one
/// call operator, or a `std::function`): each a `Value` or, where NULL is allowed, an optional of one.
/// Registered for exactly that many arguments. The builder holds only the name, so it stays valid after the
/// function is registered again.
template <class F> auto Connection::createTypedFunction(std::string_view name, bool deterministic, F callback)
{
    using Signature = detail::TypedFunctionSignature<decltype(std::function(callback))>;
    using Maker = typename Signature::template Apply<detail::TypedFunctionMaker>;
    return Maker::make(*this, name, deterministic, std::move(callback));
}

} // namespace sqlite
