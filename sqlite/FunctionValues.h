#pragma once

// Conversions between SQLite's function arguments and results and `Binding`, shared by the scalar and
// aggregate function trampolines. For this library's own sources only.

#include "sqlite/Value.h"

#include <optional>

struct sqlite3_context;
struct sqlite3_value;

namespace sqlite {
class Connection;
}

namespace sqlite::detail {

/// The arguments of one call, in order: none for NULL. Texts and blobs keep every byte.
Bindings functionArguments(int count, sqlite3_value** values);

/// Makes `result` the call's result: none gives NULL.
void setFunctionResult(sqlite3_context* context, const std::optional<Binding>& result);

/// Makes the exception being handled the call's error, so that it never crosses SQLite's C frames: a `Result`
/// keeps its message and code, any other exception gives its `what()`. Call it only inside a catch block.
void setFunctionError(sqlite3_context* context) noexcept;

/// SQLite's argument count: -1 for none. Fatal when negative or above 2^31 - 1.
int functionArgumentCount(std::optional<std::int64_t> argumentCount);
/// Fatal stop, "Error creating function: …", when SQLite refused a function registration.
void checkFunctionRegistration(int code, const Connection& connection);

} // namespace sqlite::detail
