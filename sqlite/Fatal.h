#pragma once

#include <string_view>

namespace sqlite {

/// Stops the program for misuse that correct calling code never commits.
/// Prints "<unit>:<line>: Fatal error: <message>" to standard error and aborts.
[[noreturn]] void fatalError(std::string_view unit, int line, std::string_view message) noexcept;

} // namespace sqlite

/// Fatal stop naming the source unit ("SQLite/Statement", "SQLite/Connection", …) and this line.
#define SQLITE_FATAL(unit, message) ::sqlite::fatalError((unit), __LINE__, (message))
