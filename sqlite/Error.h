#pragma once

#include <exception>

namespace sqlite {

/// The base of every error this library throws, so that a caller can catch them in one place and tell them
/// apart by `kind()` instead of trying each type in turn. Each error type keeps its own finer `kind()` where it
/// has cases; through a reference to this base, `kind()` names the error type.
class Error : public std::exception {
public:
    enum class Kind {
        result,       ///< `Result`: a failed SQLite call
        query,        ///< `QueryError`: a table or column not found, a NULL where a value is required
        encoding,     ///< `EncodingError`: a record value that cannot be stored
        decoding,     ///< `DecodingError`: a stored value that cannot be read as a record asks
        value,        ///< `ValueError`: a stored value that cannot become the requested type
        schemaChange, ///< `SchemaChanger::Error`: a table that cannot be altered
        index,        ///< `IndexDefinition::IndexError`: an index that cannot be made again
    };

    Kind kind() const noexcept { return kind_; }

protected:
    explicit Error(Kind kind) noexcept : kind_(kind) {}

private:
    Kind kind_;
};

} // namespace sqlite
