#include "sqlite/Errors.h"

#include "sqlite/Connection.h"
#include "sqlite/Statement.h"

#include <sqlite3.h>

namespace sqlite {

namespace {

// ["a", "b\"c"]: each element in double quotes with a backslash before an inner double quote or backslash.
std::string printList(const std::vector<std::string>& items)
{
    std::string text = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) {
            text += ", ";
        }
        text += '"';
        for (char c : items[i]) {
            if (c == '"' || c == '\\') {
                text += '\\';
            }
            text += c;
        }
        text += '"';
    }
    text += ']';
    return text;
}

} // namespace

Result::Result(Kind kind, std::string message, int code, std::shared_ptr<const Statement> statement)
    : Error(Error::Kind::result), kind_(kind), message_(std::move(message)), code_(code),
      statement_(std::move(statement))
{
    description_ = message_;
    if (statement_) {
        description_ += " (" + statement_->sql() + ")";
    }
    description_ += kind_ == Kind::error ? " (code: " : " (extended code: ";
    description_ += std::to_string(code_) + ")";
}

Result Result::error(std::string message, int code, std::shared_ptr<const Statement> statement)
{
    return Result(Kind::error, std::move(message), code, std::move(statement));
}

Result Result::extendedError(std::string message, int extendedCode, std::shared_ptr<const Statement> statement)
{
    return Result(Kind::extendedError, std::move(message), extendedCode, std::move(statement));
}

int Result::check(int code, const Connection& connection, std::shared_ptr<const Statement> statement)
{
    if (isSuccessCode(code)) {
        return code;
    }
    sqlite3* handle = connection.handle();
    std::string message = sqlite3_errmsg(handle);
    if (connection.usesExtendedErrorCodes()) {
        throw extendedError(std::move(message), sqlite3_extended_errcode(handle), std::move(statement));
    }
    throw error(std::move(message), code, std::move(statement));
}

bool Result::isCorruption() const noexcept
{
    // An extended code keeps its primary code in the low byte.
    return (code_ & 0xff) == SQLITE_CORRUPT;
}

bool Result::isNotADatabase() const noexcept
{
    return (code_ & 0xff) == SQLITE_NOTADB;
}

QueryError::QueryError(Kind kind, std::string name, std::vector<std::string> columns)
    : Error(Error::Kind::query), kind_(kind), name_(std::move(name)), columns_(std::move(columns))
{
    switch (kind_) {
    case Kind::noSuchTable:
        description_ = "No such table: " + name_;
        break;
    case Kind::noSuchColumn:
        description_ = "No such column `" + name_ + "` in columns " + printList(columns_);
        break;
    case Kind::ambiguousColumn:
        description_ = "Ambiguous column `" + name_ + "` (please disambiguate: " + printList(columns_) + ")";
        break;
    case Kind::unexpectedNullValue:
        description_ = "Unexpected null value for column `" + name_ + "`";
        break;
    }
}

QueryError QueryError::noSuchTable(std::string name)
{
    return QueryError(Kind::noSuchTable, std::move(name), {});
}

QueryError QueryError::noSuchColumn(std::string name, std::vector<std::string> columns)
{
    return QueryError(Kind::noSuchColumn, std::move(name), std::move(columns));
}

QueryError QueryError::ambiguousColumn(std::string name, std::vector<std::string> similar)
{
    return QueryError(Kind::ambiguousColumn, std::move(name), std::move(similar));
}

QueryError QueryError::unexpectedNullValue(std::string name)
{
    return QueryError(Kind::unexpectedNullValue, std::move(name), {});
}

} // namespace sqlite
