#pragma once

#include "sqlite/Expression.h"

#include <string>

namespace sqlite {

/// A collating sequence for comparing text: one of SQLite's three built-in sequences, or one that the program
/// registers on the connection under its own name. Naming a custom sequence does not register it; a statement
/// that names one the connection does not know fails when it is prepared.
class Collation {
public:
    enum class Kind { custom, binary, nocase, rtrim };

    static Collation binary() { return Collation(Kind::binary, {}); }
    static Collation nocase() { return Collation(Kind::nocase, {}); }
    static Collation rtrim() { return Collation(Kind::rtrim, {}); }
    static Collation custom(std::string name) { return Collation(Kind::custom, std::move(name)); }

    Kind kind() const { return kind_; }
    /// The name of a custom sequence, unquoted; empty for the built-in ones.
    const std::string& name() const { return name_; }

    /// The text written after COLLATE: "BINARY", "NOCASE", "RTRIM" or the custom name quoted as an identifier.
    std::string description() const;
    /// The same text as an expression without bindings.
    Expression<void> expression() const { return Expression<void>(description()); }

    bool operator==(const Collation&) const = default;

private:
    Collation(Kind kind, std::string name) : kind_(kind), name_(std::move(name)) {}

    Kind kind_;
    std::string name_;
};

} // namespace sqlite
