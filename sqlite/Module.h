#pragma once

#include "sqlite/Expression.h"

#include <string>
#include <vector>

namespace sqlite {

/// A virtual-table module as written after "USING" in CREATE VIRTUAL TABLE: "name(arg, arg, ...)".
struct Module {
    std::string name;
    std::vector<Expressible> arguments;

    /// name + "(" + the arguments joined with ", " + ")"; the arguments' bindings in order.
    Expression<void> expression() const;

    bool operator==(const Module&) const = default;
};

} // namespace sqlite
