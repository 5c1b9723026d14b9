#pragma once

#include <QString>
#include <exception>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace sqlite {
class Error;
} // namespace sqlite

namespace lumetrove {

/// Why an operation of the library store did not do its work. The store has logged it by the time a caller
/// sees it (and told the user, for a write that was to be kept); a caller tells the kinds apart to decide what
/// comes next: try again after rebuilding the index, say it in its own words, or give up.
class StoreError : public std::exception {
public:
    enum class Kind {
        /// The library is not open (it could not be, and the open said why): nothing was tried, nothing logged.
        noConnection,
        /// Nothing to give, which is no failure and never logged: the row is gone, or nothing applies (a count
        /// of a period-less section).
        absent,
        /// SQLite found the file or a full-text index damaged, or the file is no database: rebuilding the index
        /// may mend an index; a damaged file is set aside when the library is opened.
        corruption,
        /// Any other failure: a refused statement, a full disk, a read-only or locked file.
        failed,
    };

    StoreError(Kind kind, QString description);
    static StoreError noConnection();
    static StoreError absent();
    /// A failure caught at the store's edge: a corruption when SQLite says the file or an index is damaged or
    /// the file is no database.
    static StoreError caught(const sqlite::Error& error);
    /// Any other failure caught there (a failed allocation).
    static StoreError caught(const std::exception& error);
    /// The library is being repaired on a thread of its own: the operation was not tried (a failure).
    static StoreError repairUnderWay();

    Kind kind() const noexcept { return kind_; }
    /// What happened, as the database layer describes it ("… (code: N)"); empty for the two quiet kinds.
    const QString& description() const noexcept { return description_; }
    /// What happened, in words for the user: that the library is damaged, for a corruption (a repair was tried
    /// and failed, or it would not have come to this); the description otherwise.
    QString plainDescription() const;
    const char* what() const noexcept override { return what_.c_str(); }

private:
    Kind kind_;
    QString description_;
    std::string what_;
};

/// What a store operation gives: its value, or the `StoreError` that kept it from one. The shape of the
/// standard `expected` (which C++20 lacks), so its names are the standard's.
template <class T> class [[nodiscard]] StoreResult {
public:
    StoreResult(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    StoreResult(StoreError error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool has_value() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept { return has_value(); }

    /// The value; throws the `StoreError` when there is none, for work that handles its failures in one place
    /// (a load that rebuilds the index and tries once more).
    const T& value() const&
    {
        if (!has_value()) {
            throw error();
        }
        return std::get<0>(state_);
    }
    T&& value() &&
    {
        if (!has_value()) {
            throw error();
        }
        return std::get<0>(std::move(state_));
    }
    template <class U> T value_or(U&& fallback) const&
    {
        return has_value() ? std::get<0>(state_) : static_cast<T>(std::forward<U>(fallback));
    }
    template <class U> T value_or(U&& fallback) &&
    {
        return has_value() ? std::get<0>(std::move(state_)) : static_cast<T>(std::forward<U>(fallback));
    }

    const T& operator*() const& { return std::get<0>(state_); }
    T& operator*() & { return std::get<0>(state_); }
    T&& operator*() && { return std::get<0>(std::move(state_)); }
    const T* operator->() const { return &std::get<0>(state_); }
    T* operator->() { return &std::get<0>(state_); }

    /// The error; only when there is no value.
    const StoreError& error() const { return std::get<1>(state_); }

    /// True when the result holds this value.
    friend bool operator==(const StoreResult& result, const T& value) { return result.has_value() && *result == value; }

    /// The value or none, for a caller to whom a failure means only "nothing": the store has reported it.
    operator std::optional<T>() const& { return has_value() ? std::optional<T>(**this) : std::nullopt; }
    operator std::optional<T>() && { return has_value() ? std::optional<T>(*std::move(*this)) : std::nullopt; }

private:
    std::variant<T, StoreError> state_;
};

/// The result of an operation that gives no value: done, or the error.
template <> class [[nodiscard]] StoreResult<void> {
public:
    StoreResult() = default;
    StoreResult(StoreError error) : error_(std::move(error)) {}

    bool has_value() const noexcept { return !error_; }
    explicit operator bool() const noexcept { return has_value(); }
    /// Throws the `StoreError` when the operation failed.
    void value() const
    {
        if (error_) {
            throw *error_;
        }
    }
    /// The error; only when the operation failed.
    const StoreError& error() const { return *error_; }

private:
    std::optional<StoreError> error_;
};

} // namespace lumetrove
