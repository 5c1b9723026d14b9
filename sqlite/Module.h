#pragma once

#include "sqlite/Expression.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sqlite {

struct Tokenizer;
class FTS4Config;
class FTS5Config;

/// A virtual-table module as written after "USING" in CREATE VIRTUAL TABLE: "name(arg, arg, ...)".
struct Module {
    std::string name;
    std::vector<Expressible> arguments;

    /// A module of any name: the name is quoted as an identifier, unlike the built-in modules' names.
    static Module named(std::string_view name, std::vector<Expressible> arguments = {});

    // Constructors of the modules the system knows (defined in FullTextSearch.cpp).

    /// "fts4" over these columns, no tokenizer.
    template <class... Rest> static Module fts4(const Expressible& first, const Rest&... rest)
    {
        return fts4(std::vector<Expressible>{first, Expressible(rest)...});
    }
    /// "fts4" over the columns (none by default), with or without a tokenizer.
    static Module fts4(const std::vector<Expressible>& columns = {});
    static Module fts4(const std::vector<Expressible>& columns, const Tokenizer& tokenizer);
    static Module fts4(const FTS4Config& config);
    static Module fts5(const FTS5Config& config);
    /// "rtree": the primary key, then each dimension's minimum and maximum.
    static Module rtree(const Expressible& primaryKey,
                        const std::vector<std::pair<Expressible, Expressible>>& dimensions = {});

    /// name + "(" + the arguments joined with ", " + ")"; the arguments' bindings in order.
    Expression<void> expression() const;

    bool operator==(const Module&) const = default;
};

} // namespace sqlite
