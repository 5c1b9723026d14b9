#pragma once

#include "sqlite/Error.h"

#include <array>
#include <chrono>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace sqlite {

/// A list of bytes stored as an SQLite BLOB.
struct Blob {
    std::vector<std::uint8_t> bytes;

    Blob() = default;
    explicit Blob(std::vector<std::uint8_t> b) : bytes(std::move(b)) {}
    Blob(std::initializer_list<std::uint8_t> b) : bytes(b) {}
    /// Copies `length` bytes from `data`; a length of 0 gives an empty blob (`data` may then be null).
    Blob(const void* data, std::size_t length);

    bool operator==(const Blob&) const = default;

    /// "x'" + two lower-case hexadecimal digits per byte + "'", also the blob's SQL literal.
    std::string description() const;
};

/// One of SQLite's four stored kinds. The platform integer and the Boolean are bound as int64.
/// SQL NULL is an empty `std::optional<Binding>`.
using Binding = std::variant<std::int64_t, double, std::string, Blob>;

/// Parameter lists and row values: none stands for NULL.
using Bindings = std::vector<std::optional<Binding>>;

/// A value's printed form, as used in messages: integers and doubles in decimal, texts in double quotes,
/// blobs in their x'..' form, NULL as "nil".
std::string describe(const Binding& value);
std::string describe(const std::optional<Binding>& value);

/// A stored value that cannot be turned into the requested type (a text that is not a date, a REAL read
/// as an integer, a NULL where a value is required). Thrown, never fatal: stored data must not stop the program.
class ValueError : public Error {
public:
    explicit ValueError(std::string message) : Error(Kind::value), message_(std::move(message)) {}

    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

/// A point in time, stored as GMT text with millisecond precision ("yyyy-MM-dd'T'HH:mm:ss.SSS").
using Date = std::chrono::system_clock::time_point;

/// Writes a date in the stored form; the fraction beyond milliseconds is dropped toward the past.
std::string formatDate(Date date);
/// Reads the stored form exactly; none when the text is not in it.
std::optional<Date> parseDate(std::string_view text);

/// A universally unique identifier: sixteen bytes, written in the 8-4-4-4-12 hexadecimal form.
struct Uuid {
    std::array<std::uint8_t, 16> bytes{};

    bool operator==(const Uuid&) const = default;
    auto operator<=>(const Uuid&) const = default;

    /// A new random (version 4) identifier.
    static Uuid random();
    /// Parses the 8-4-4-4-12 form in either letter case; none for any other text.
    static std::optional<Uuid> parse(std::string_view text);
    /// The 8-4-4-4-12 form in upper case.
    std::string text() const;
};

/// A URL kept as its absolute text.
class Url {
public:
    /// None for an empty text or one holding blanks or control characters, which no URL contains.
    static std::optional<Url> parse(std::string_view text);

    const std::string& absoluteString() const { return text_; }
    bool operator==(const Url&) const = default;

private:
    explicit Url(std::string text) : text_(std::move(text)) {}
    std::string text_;
};

/// Conversions of a typed value to and from its stored kind; specialised for every `Value` type.
template <class T> struct ValueTraits;

template <> struct ValueTraits<double> {
    using Datatype = double;
    static std::string declaredDatatype() { return "REAL"; }
    static double fromDatatypeValue(const double& v) { return v; }
    static double datatypeValue(const double& v) { return v; }
};

template <> struct ValueTraits<std::int64_t> {
    using Datatype = std::int64_t;
    static std::string declaredDatatype() { return "INTEGER"; }
    static std::int64_t fromDatatypeValue(const std::int64_t& v) { return v; }
    static std::int64_t datatypeValue(const std::int64_t& v) { return v; }
};

template <> struct ValueTraits<bool> {
    using Datatype = std::int64_t;
    /// A process-wide setting, initially "INTEGER".
    static std::string declaredDatatype();
    static void setDeclaredDatatype(std::string name);
    static bool fromDatatypeValue(const std::int64_t& v) { return v != 0; }
    static std::int64_t datatypeValue(const bool& v) { return v ? 1 : 0; }
};

template <> struct ValueTraits<std::string> {
    using Datatype = std::string;
    static std::string declaredDatatype() { return "TEXT"; }
    static std::string fromDatatypeValue(const std::string& v) { return v; }
    static std::string datatypeValue(const std::string& v) { return v; }
};

template <> struct ValueTraits<Blob> {
    using Datatype = Blob;
    static std::string declaredDatatype() { return "BLOB"; }
    static Blob fromDatatypeValue(const Blob& v) { return v; }
    static Blob datatypeValue(const Blob& v) { return v; }
};

template <> struct ValueTraits<std::vector<std::byte>> {
    using Datatype = Blob;
    static std::string declaredDatatype() { return "BLOB"; }
    static std::vector<std::byte> fromDatatypeValue(const Blob& v);
    static Blob datatypeValue(const std::vector<std::byte>& v);
};

template <> struct ValueTraits<Date> {
    using Datatype = std::string;
    static std::string declaredDatatype() { return "TEXT"; }
    /// Throws `ValueError` when the text is not a stored date.
    static Date fromDatatypeValue(const std::string& v);
    static std::string datatypeValue(const Date& v) { return formatDate(v); }
};

template <> struct ValueTraits<Uuid> {
    using Datatype = std::string;
    static std::string declaredDatatype() { return "TEXT"; }
    /// Throws `ValueError` when the text is not a UUID.
    static Uuid fromDatatypeValue(const std::string& v);
    static std::string datatypeValue(const Uuid& v) { return v.text(); }
};

template <> struct ValueTraits<Url> {
    using Datatype = std::string;
    static std::string declaredDatatype() { return "TEXT"; }
    /// Throws `ValueError` when the text is not a URL.
    static Url fromDatatypeValue(const std::string& v);
    static std::string datatypeValue(const Url& v) { return v.absoluteString(); }
};

/// A typed value stored as one `Binding` kind.
template <class T>
concept Value = requires(const T& value, const typename ValueTraits<T>::Datatype& stored)
{
    {
        ValueTraits<T>::declaredDatatype()
        } -> std::convertible_to<std::string>;
    {
        ValueTraits<T>::fromDatatypeValue(stored)
        } -> std::same_as<T>;
    {
        ValueTraits<T>::datatypeValue(value)
        } -> std::same_as<typename ValueTraits<T>::Datatype>;
};

/// The numeric values, on which the query builder allows arithmetic.
template <class T>
concept Number = Value<T> &&(std::same_as<T, double> || std::same_as<T, std::int64_t>);

namespace detail {
template <class Datatype> constexpr const char* storedKindName()
{
    if constexpr (std::same_as<Datatype, std::int64_t>) {
        return "INTEGER";
    } else if constexpr (std::same_as<Datatype, double>) {
        return "REAL";
    } else if constexpr (std::same_as<Datatype, std::string>) {
        return "TEXT";
    } else {
        return "BLOB";
    }
}
[[noreturn]] void throwKindMismatch(const char* expected, const Binding& found);
} // namespace detail

/// The value's stored form.
template <Value V> Binding toBinding(const V& value)
{
    return Binding(ValueTraits<V>::datatypeValue(value));
}

/// Converts a stored value to V. Throws `ValueError` when the stored kind is not V's `Datatype` (a REAL is not
/// read as an integer) or when the conversion refuses the value.
template <Value V> V valueFromBinding(const Binding& binding)
{
    using D = typename ValueTraits<V>::Datatype;
    const D* stored = std::get_if<D>(&binding);
    if (stored == nullptr) {
        detail::throwKindMismatch(detail::storedKindName<D>(), binding);
    }
    return ValueTraits<V>::fromDatatypeValue(*stored);
}

/// As above for a value read from a column; a NULL throws `ValueError`.
template <Value V> V valueFromBinding(const std::optional<Binding>& binding)
{
    if (!binding) {
        throw ValueError("unexpected NULL value");
    }
    return valueFromBinding<V>(*binding);
}

} // namespace sqlite
