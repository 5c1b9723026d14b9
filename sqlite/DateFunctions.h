#pragma once

#include "sqlite/Expression.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sqlite {

/// Builders of calls of SQLite's date and time functions. Time values, modifiers and formats are always bound
/// as text parameters, never written into the SQL. The results are optional because SQLite gives NULL for a
/// time value it cannot read.
class DateFunctions {
public:
    using Text = Expression<std::optional<std::string>>;
    using Real = Expression<std::optional<double>>;

    DateFunctions() = delete;

    /// "date(?)", or "date(?, ?, …)" with one placeholder per modifier; time value first, then the modifiers.
    static Text date(std::string_view timeValue, const std::vector<std::string>& modifiers = {});
    static Text time(std::string_view timeValue, const std::vector<std::string>& modifiers = {});
    static Text datetime(std::string_view timeValue, const std::vector<std::string>& modifiers = {});
    static Real julianday(std::string_view timeValue, const std::vector<std::string>& modifiers = {});
    /// "strftime(?, ?)" or "strftime(?, ?, ?, …)": format, time value, then the modifiers.
    static Text strftime(std::string_view format, std::string_view timeValue,
                         const std::vector<std::string>& modifiers = {});

    /// F(?) with the date bound in its stored text form ("yyyy-MM-dd'T'HH:mm:ss.SSS", GMT).
    static Text date(Date value);
    static Text time(Date value);
    static Text datetime(Date value);
    static Real julianday(Date value);

    /// F(T) around an expression, its bindings unchanged.
    template <class T> static Text date(const Expression<T>& value) { return Text(call("date", value)); }
    template <class T> static Text time(const Expression<T>& value) { return Text(call("time", value)); }
    template <class T> static Text datetime(const Expression<T>& value) { return Text(call("datetime", value)); }
    template <class T> static Real julianday(const Expression<T>& value) { return Real(call("julianday", value)); }

private:
    static Expression<void> call(std::string_view name, const Expression<void>& value);
    static Expression<void> textCall(std::string_view name, std::vector<std::string_view> leading,
                                     const std::vector<std::string>& modifiers);
};

} // namespace sqlite
