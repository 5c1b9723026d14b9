#pragma once

#include "sqlite/Errors.h"
#include "sqlite/Value.h"

#include <concepts>
#include <cstdint>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

struct sqlite3_stmt;
struct sqlite3_mutex;

namespace sqlite {

class Connection;

/// Values bound by parameter name, the name written as in the SQL with its prefix (":a", "$b", "@c").
using NamedBindings = std::map<std::string, std::optional<Binding>, std::less<>>;

namespace detail {
template <class T> struct IsCString : std::false_type {};
template <> struct IsCString<const char*> : std::true_type {};
template <> struct IsCString<char*> : std::true_type {};
template <class T>
concept CString = IsCString<std::decay_t<T>>::value;
// Integers that fit a signed 64-bit integer; `char` is text, not a number, and `bool` is a `Value` of its own.
template <class T>
concept BindableInteger =
    std::integral<T> && !std::same_as<T, bool> && !std::same_as<T, char> && (std::signed_integral<T> || sizeof(T) < 8);
template <class T> struct IsOptionalValue : std::false_type {};
template <Value V> struct IsOptionalValue<std::optional<V>> : std::true_type {};
} // namespace detail

/// Anything that the variadic forms of bind, run and scalar accept as one value: a `Value`, a `Binding`,
/// an optional of either, `std::nullopt` (NULL), an integer that fits 64 bits signed, or a C string.
template <class T>
concept Bindable = Value<T> || detail::BindableInteger<T> || detail::CString<T> || detail::IsOptionalValue<T>::value ||
    std::same_as<T, Binding> || std::same_as<T, std::optional<Binding>> || std::same_as<T, std::nullopt_t> ||
    std::same_as<T, std::string_view>;

template <Bindable T> std::optional<Binding> asBinding(const T& value)
{
    if constexpr (std::same_as<T, std::nullopt_t>) {
        return std::nullopt;
    } else if constexpr (std::same_as<T, Binding> || std::same_as<T, std::optional<Binding>>) {
        return value;
    } else if constexpr (Value<T>) {
        return toBinding(value);
    } else if constexpr (std::integral<T>) {
        return Binding(static_cast<std::int64_t>(value));
    } else if constexpr (std::same_as<T, std::string_view> || std::is_pointer_v<std::decay_t<T>>) {
        return Binding(std::string(value));
    } else {
        return value ? std::optional<Binding>(toBinding(*value)) : std::nullopt;
    }
}

/// Reads the row that its statement stands on now; holds no row data of its own.
class Cursor {
public:
    Cursor(sqlite3_stmt* handle, int columnCount);

    int columnCount() const { return columnCount_; }

    double doubleAt(int index) const;
    std::int64_t int64At(int index) const;
    bool boolAt(int index) const;
    /// The column's text, all of its bytes; empty for NULL.
    std::string stringAt(int index) const;
    /// The column's bytes; empty for a zero-length blob.
    Blob blobAt(int index) const;

    /// The column by its storage class: none for NULL. Reads text with its full byte length.
    std::optional<Binding> valueAt(int index) const;
    /// Every column of the current row, in order.
    Bindings values() const;

private:
    // Reads one column while the caller holds the connection's mutex.
    std::optional<Binding> readValue(int index) const;

    sqlite3_stmt* handle_;
    sqlite3_mutex* mutex_;
    int columnCount_;
};

/// One prepared statement of a connection. Binding, resetting and reading columns run on the calling thread;
/// stepping follows the connection's queue rule. Meant for one caller at a time. Keeps its connection alive.
class Statement : public std::enable_shared_from_this<Statement> {
public:
    /// Prepares the first statement of `sql` (text after it is ignored). Throws `Result`.
    Statement(std::shared_ptr<Connection> connection, std::string_view sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    /// Binds `values` to parameters 1, 2, … after a reset, replacing earlier values. An empty list changes
    /// nothing. Fatal when the count differs from the statement's parameter count.
    Statement& bind(const Bindings& values);
    /// As above, binding each argument straight from where it is, without building a list first.
    template <Bindable... Args>
    requires(sizeof...(Args) > 0) Statement& bind(const Args&... values)
    {
        prepareToBind(sizeof...(Args));
        try {
            int index = 0;
            (bindArgument(++index, values), ...);
        } catch (...) {
            resetAndClear();
            throw;
        }
        return *this;
    }
    /// Resets, clears every binding, then binds each value by name. Fatal for a name the statement lacks.
    Statement& bindNamed(const NamedBindings& values);
    /// Binds one value at a 1-based index. Throws `Result` when SQLite refuses it (an index out of range,
    /// a value too big): a value is never left unbound in silence.
    void bindValue(const std::optional<Binding>& value, int index);
    /// One value of each stored kind at a 1-based index; each throws `Result` when SQLite refuses it.
    /// Text and blobs are copied by SQLite with their full byte length.
    void bindNull(int index);
    void bindInt64(int index, std::int64_t value);
    void bindDouble(int index, double value);
    void bindText(int index, std::string_view text);
    /// An empty blob is bound as a zero-length blob, not NULL.
    void bindBlob(int index, const Blob& blob);

    /// Binds `values` when given, then resets and steps to the end, dropping rows. Throws `Result`.
    Statement& runToEnd(const Bindings& values = {});
    template <Bindable... Args>
    requires(sizeof...(Args) > 0) Statement& runToEnd(const Args&... values)
    {
        bind(values...);
        return stepToEnd();
    }

    /// Binds `values` when given, then resets and reads column 0 of the first row: none for NULL or no row.
    std::optional<Binding> fetchScalar(const Bindings& values = {});
    template <Bindable... Args>
    requires(sizeof...(Args) > 0) std::optional<Binding> fetchScalar(const Args&... values)
    {
        bind(values...);
        return readScalar();
    }

    /// One step under the connection's queue rule; true when a row is available. Throws `Result`.
    bool step();
    /// `sqlite3_reset`; bound values stay.
    Statement& reset();
    void resetAndClear();

    /// Steps once: the next row, or none at the end. Throws `Result`.
    std::optional<Bindings> failableNext();
    /// As `failableNext`, but a failing step ends the rows like the end of the statement does.
    std::optional<Bindings> next();
    /// Resets and collects every row (a failing step ends them early).
    std::vector<Bindings> fetchAllRows();

    int columnCount() const;
    const std::vector<std::string>& columnNames() const;
    /// Each column name in double quotes (inner quotes doubled) mapped to its index; a repeated name maps
    /// to its last index.
    std::unordered_map<std::string, int> quotedColumnIndexes() const;
    /// The reader of the current row.
    const Cursor& row() const;

    /// The SQL text as prepared; also the statement's description.
    std::string sql() const;
    std::string description() const { return sql(); }

    const std::shared_ptr<Connection>& connection() const { return connection_; }
    /// The raw handle, for code of this library that calls SQLite itself.
    sqlite3_stmt* handle() const { return handle_; }

    /// Iterating resets the statement and then reads rows with `next`.
    class Iterator {
    public:
        using iterator_category = std::input_iterator_tag;
        using value_type = Bindings;
        using difference_type = std::ptrdiff_t;
        using pointer = const Bindings*;
        using reference = const Bindings&;

        Iterator() = default;
        explicit Iterator(Statement* statement);
        reference operator*() const { return *row_; }
        pointer operator->() const { return &*row_; }
        Iterator& operator++();
        void operator++(int) { ++*this; }
        bool operator==(const Iterator& other) const { return statement_ == other.statement_; }

    private:
        Statement* statement_ = nullptr;
        std::optional<Bindings> row_;
    };
    Iterator begin();
    Iterator end() { return Iterator(); }

private:
    // Steps a freshly reset statement to its end / to its first row.
    Statement& stepToEnd();
    std::optional<Binding> readScalar();
    // Resets and checks that `count` values match the statement's parameters (fatal otherwise).
    void prepareToBind(std::size_t count);

    // Binds from the caller's value itself: texts and blobs are handed to SQLite where they are, never copied
    // into a `Binding` first. Only a `Value` stored as another type (a date, a UUID) is converted.
    template <class T> void bindArgument(int index, const T& value)
    {
        if constexpr (std::same_as<T, std::nullopt_t>) {
            bindNull(index);
        } else if constexpr (std::same_as<T, std::string> || std::same_as<T, std::string_view> ||
                             std::is_pointer_v<std::decay_t<T>>) {
            bindText(index, value);
        } else if constexpr (std::same_as<T, double>) {
            bindDouble(index, value);
        } else if constexpr (std::integral<T>) {
            bindInt64(index, static_cast<std::int64_t>(value));
        } else if constexpr (std::same_as<T, Blob>) {
            bindBlob(index, value);
        } else if constexpr (std::same_as<T, Binding>) {
            std::visit([&](const auto& stored) { bindArgument(index, stored); }, value);
        } else if constexpr (std::same_as<T, std::optional<Binding>> || detail::IsOptionalValue<T>::value) {
            if (value) {
                bindArgument(index, *value);
            } else {
                bindNull(index);
            }
        } else {
            bindArgument(index, ValueTraits<T>::datatypeValue(value));
        }
    }

    std::shared_ptr<Connection> connection_;
    sqlite3_stmt* handle_ = nullptr;
    int parameterCount_ = 0;
    mutable std::optional<int> columnCount_;
    mutable std::optional<std::vector<std::string>> columnNames_;
    mutable std::optional<Cursor> row_;
};

} // namespace sqlite
