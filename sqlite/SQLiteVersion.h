#pragma once

#include <compare>
#include <string>
#include <string_view>

namespace sqlite {

/// A version of the SQLite library, ordered by major, then minor, then point.
struct SQLiteVersion {
    int major = 0;
    int minor = 0;
    int point = 0;

    static constexpr SQLiteVersion zero() { return {}; }

    /// "3.43.2" gives 3.43.2; any text that is not exactly three decimal numbers separated by "." gives 0.0.0.
    static SQLiteVersion parse(std::string_view text);

    /// "SQLite 3.43.2".
    std::string description() const;

    auto operator<=>(const SQLiteVersion&) const = default;
};

} // namespace sqlite
