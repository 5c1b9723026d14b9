#pragma once

// The checks themselves are members of `Connection` (`foreignKeyCheck`, `integrityCheck`); this header adds the
// form that takes the library version, so the refusal of older libraries can be exercised.

#include "sqlite/SQLiteVersion.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sqlite {

class Connection;

namespace detail {

/// `Connection::integrityCheck` as if the library were `version`: with a table, fatal before 3.33.0.
std::vector<std::string> integrityCheck(Connection& connection, std::optional<std::string_view> table,
                                        SQLiteVersion version);

} // namespace detail

} // namespace sqlite
