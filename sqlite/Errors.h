#pragma once

#include "sqlite/Error.h"

#include <memory>
#include <string>
#include <vector>

namespace sqlite {

class Connection;
class Statement;

/// A failed SQLite call: SQLite's message, the primary or (with extended codes switched on) the extended
/// result code, and the statement where the caller attaches one. `what()` is the description:
/// "message (code: N)", "message (SQL) (code: N)", or the same with "extended code".
class Result : public Error {
public:
    enum class Kind { error, extendedError };

    static Result error(std::string message, int code, std::shared_ptr<const Statement> statement = nullptr);
    static Result extendedError(std::string message, int extendedCode,
                                std::shared_ptr<const Statement> statement = nullptr);

    /// True for the codes that are not errors: SQLITE_OK, SQLITE_ROW and SQLITE_DONE.
    static bool isSuccessCode(int code) noexcept { return code == 0 || code == 100 || code == 101; }

    /// Returns `code` when it is a success code; otherwise throws the error that the connection's handle
    /// describes (its message, and its extended code when the connection uses extended codes).
    /// Call it under the connection's queue rule, so that no other thread's error is read.
    static int check(int code, const Connection& connection, std::shared_ptr<const Statement> statement = nullptr);

    Kind kind() const noexcept { return kind_; }
    const std::string& message() const noexcept { return message_; }
    /// The primary code for `error`, the extended code for `extendedError`.
    int code() const noexcept { return code_; }
    /// SQLite found the file, or a table or index in it, damaged (SQLITE_CORRUPT, under any of its extended
    /// codes): the failure that rebuilding an index can mend.
    bool isCorruption() const noexcept;
    /// The file is not a database at all (SQLITE_NOTADB): a file of something else, or one whose header is gone.
    bool isNotADatabase() const noexcept;
    const std::shared_ptr<const Statement>& statement() const noexcept { return statement_; }

    const std::string& description() const noexcept { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    Result(Kind kind, std::string message, int code, std::shared_ptr<const Statement> statement);

    Kind kind_;
    std::string message_;
    int code_;
    std::shared_ptr<const Statement> statement_;
    std::string description_;
};

/// A failure of the typed query layer to find a table or a column, or a NULL where a value is required.
class QueryError : public Error {
public:
    enum class Kind { noSuchTable, noSuchColumn, ambiguousColumn, unexpectedNullValue };

    static QueryError noSuchTable(std::string name);
    static QueryError noSuchColumn(std::string name, std::vector<std::string> columns);
    static QueryError ambiguousColumn(std::string name, std::vector<std::string> similar);
    static QueryError unexpectedNullValue(std::string name);

    Kind kind() const noexcept { return kind_; }
    const std::string& name() const noexcept { return name_; }
    /// The known columns of `noSuchColumn`, the similar ones of `ambiguousColumn`, else empty.
    const std::vector<std::string>& columns() const noexcept { return columns_; }

    const std::string& description() const noexcept { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    QueryError(Kind kind, std::string name, std::vector<std::string> columns);

    Kind kind_;
    std::string name_;
    std::vector<std::string> columns_;
    std::string description_;
};

} // namespace sqlite
