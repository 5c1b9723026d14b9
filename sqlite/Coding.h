#pragma once

// Records that write themselves field by field into setters, and read themselves back from rows.
//
// A record declares `void encode(Encoder&) const`: it asks the encoder for a keyed container and writes each
// field under its key, which names the column. Booleans, 64-bit integers, floats, texts, byte buffers (`Blob`,
// `std::vector<std::byte>`), dates and UUIDs are stored as SQLite values of their own; any other value that
// nlohmann/json can write (a nested record with `to_json`, a list, a map, a `Url`, an enumeration) is stored
// as its JSON text. The table's operations `insertEncodable`, `insertManyEncodables`, `upsertEncodable` and
// `updateEncodable` turn such records into statements.

#include "sqlite/Encodable.h"
#include "sqlite/Errors.h"
#include "sqlite/Expression.h"
#include "sqlite/QuoteSQL.h"
#include "sqlite/Row.h"
#include "sqlite/Setter.h"
#include "sqlite/Value.h"

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <vector>

namespace sqlite {
class Url;
}

/// A URL inside JSON: its absolute text as a JSON string. Reading a text that is no URL throws `DecodingError`
/// dataCorrupted. (A serializer rather than free functions, since a `Url` has no empty state to read into.)
template <> struct nlohmann::adl_serializer<sqlite::Url> {
    static void to_json(nlohmann::json& json, const sqlite::Url& url);
    static sqlite::Url from_json(const nlohmann::json& json);
};

namespace sqlite {

/// A value that the record coders cannot store. `what()` is "Invalid value <value>: <debug description>".
class EncodingError : public Error {
public:
    struct Context {
        /// Always empty: records are flat.
        std::vector<std::string> codingPath;
        std::string debugDescription;
    };

    static EncodingError invalidValue(std::string value, Context context);

    /// The refused value, printed.
    const std::string& value() const noexcept { return value_; }
    const Context& context() const noexcept { return context_; }
    const std::string& debugDescription() const noexcept { return context_.debugDescription; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    EncodingError(std::string value, Context context);

    std::string value_;
    Context context_;
    std::string description_;
};

/// A stored value that the record coders cannot read as the record asks. `what()` is "Type mismatch for
/// <type>: <debug description>" or "Data corrupted: <debug description>".
class DecodingError : public Error {
public:
    enum class Kind { typeMismatch, dataCorrupted };
    struct Context {
        /// Always empty: records are flat.
        std::vector<std::string> codingPath;
        std::string debugDescription;
    };

    static DecodingError typeMismatch(std::string type, Context context);
    static DecodingError dataCorrupted(Context context);

    Kind kind() const noexcept { return kind_; }
    /// The requested type of a type mismatch; empty for corrupted data.
    const std::string& type() const noexcept { return type_; }
    const Context& context() const noexcept { return context_; }
    const std::string& debugDescription() const noexcept { return context_.debugDescription; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    DecodingError(Kind kind, std::string type, Context context);

    Kind kind_;
    std::string type_;
    Context context_;
    std::string description_;
};

namespace detail {

template <class T> struct IsOptional : std::false_type {};
template <class T> struct IsOptional<std::optional<T>> : std::true_type {};

/// The integer kinds that records may not store: every signed integer narrower than 64 bits and every unsigned
/// one. (`char` is no number at all and does not compile.)
template <class T>
concept UnsupportedInteger = std::integral<T> && !std::same_as<T, bool> && !std::same_as<T, char> &&
                             (sizeof(T) < 8 || std::unsigned_integral<T>);

/// The name of an unsupported integer kind in error texts. `std::uint64_t` is UInt64; another 64-bit unsigned
/// type (`unsigned long long` where `std::uint64_t` is `unsigned long`) is the platform's UInt.
template <UnsupportedInteger T> constexpr const char* integerKindName()
{
    if constexpr (std::signed_integral<T>) {
        return sizeof(T) == 1 ? "Int8" : (sizeof(T) == 2 ? "Int16" : "Int32");
    } else if constexpr (sizeof(T) == 8) {
        return std::same_as<T, std::uint64_t> ? "UInt64" : "UInt";
    } else {
        return sizeof(T) == 1 ? "UInt8" : (sizeof(T) == 2 ? "UInt16" : "UInt32");
    }
}

template <class T>
concept JsonValue = requires(const T& value)
{
    nlohmann::json(value);
};

template <class T>
concept JsonDecodable = requires(const nlohmann::json& json)
{
    json.get<T>();
};

/// What is stored as an SQLite value of its own rather than as JSON text.
template <class T>
concept StoredKind = std::same_as<T, bool> ||(std::signed_integral<T> && sizeof(T) == 8) || std::floating_point<T> ||
                     std::same_as<T, std::string> || std::same_as<T, Blob> || std::same_as<T, std::vector<std::byte>> ||
                     std::same_as<T, Date> || std::same_as<T, Uuid>;

/// The JSON text of a nested value; nlohmann's errors (text that is not UTF-8) pass through. A NaN or an
/// infinity anywhere in it throws `EncodingError`, since JSON has no number for it.
std::string jsonText(const nlohmann::json& json);

/// The readable name of a type, for error texts.
std::string typeName(const std::type_info& type);

/// Throws `DecodingError` dataCorrupted "invalid utf8 data found" unless `text` is well-formed UTF-8.
void checkUTF8(std::string_view text);

} // namespace detail

class KeyedEncodingContainer;

/// Collects one setter per field that a record encodes, in the order of its calls.
class Encoder {
public:
    /// With `forcingNilValueSetters`, every absent optional field still gives a setter that binds NULL.
    explicit Encoder(UserInfo userInfo = {}, bool forcingNilValueSetters = false)
        : userInfo_(std::move(userInfo)), forcingNilValueSetters_(forcingNilValueSetters)
    {}

    /// Always empty: records are flat.
    std::vector<std::string> codingPath() const { return {}; }
    const UserInfo& userInfo() const { return userInfo_; }
    bool forcingNilValueSetters() const { return forcingNilValueSetters_; }

    /// A container writing into this encoder; any number may be asked for.
    KeyedEncodingContainer container();
    /// Records are keyed: these are fatal stops.
    [[noreturn]] void unkeyedContainer() const;
    [[noreturn]] void singleValueContainer() const;

    const std::vector<Setter>& setters() const { return setters_; }
    std::vector<Setter> takeSetters() { return std::move(setters_); }

private:
    friend class KeyedEncodingContainer;
    void append(std::string_view key, std::optional<Binding> value);

    std::vector<Setter> setters_;
    UserInfo userInfo_;
    bool forcingNilValueSetters_;
};

/// Writes fields of one record: each call appends at most one setter "key" = ?.
class KeyedEncodingContainer {
public:
    explicit KeyedEncodingContainer(Encoder& encoder)
        : encoder_(&encoder), forcingNilValueSetters_(encoder.forcingNilValueSetters())
    {}

    std::vector<std::string> codingPath() const { return {}; }

    /// A setter binding NULL, whatever the encoder's forcing says.
    void encodeNil(std::string_view key) { encoder_->append(key, std::nullopt); }

    /// Appends the value's setter. Throws `EncodingError` for an integer kind that is not stored (narrower than
    /// 64 bits, or unsigned) and for a nested value holding a NaN or an infinity, and nlohmann's error when a
    /// nested value cannot be written as JSON.
    template <class T> void encode(const T& value, std::string_view key)
    {
        static_assert(!detail::IsOptional<T>::value, "write an optional field with encodeIfPresent");
        static_assert(!std::same_as<T, char>, "a char is no number; store a std::string");
        if constexpr (std::same_as<T, bool>) {
            encoder_->append(key, Binding(std::int64_t{value ? 1 : 0}));
        } else if constexpr (detail::UnsupportedInteger<T>) {
            throw EncodingError::invalidValue(
                std::to_string(value),
                {{}, std::string("encoding an ") + detail::integerKindName<T>() + " is not supported"});
        } else if constexpr (std::signed_integral<T>) {
            encoder_->append(key, Binding(static_cast<std::int64_t>(value)));
        } else if constexpr (std::floating_point<T>) {
            // A float is widened exactly: 0.1f is stored as the double nearest to the float, not as 0.1.
            encoder_->append(key, Binding(static_cast<double>(value)));
        } else if constexpr (std::convertible_to<const T&, std::string_view>) {
            encoder_->append(key, Binding(std::string(std::string_view(value))));
        } else if constexpr (std::same_as<T, Blob> || std::same_as<T, std::vector<std::byte>> ||
                             std::same_as<T, Date> || std::same_as<T, Uuid>) {
            encoder_->append(key, toBinding(value));
        } else {
            static_assert(detail::JsonValue<T>, "a nested value needs nlohmann/json's to_json");
            encoder_->append(key, Binding(detail::jsonText(nlohmann::json(value))));
        }
    }

    /// A present value as `encode`. An absent one gives a NULL setter only when the encoder is forcing, and
    /// never for an integer kind that is not stored.
    template <class T> void encodeIfPresent(const std::optional<T>& value, std::string_view key)
    {
        if (value) {
            encode(*value, key);
        } else if (forcingNilValueSetters_ && !detail::UnsupportedInteger<T>) {
            encoder_->append(key, std::nullopt);
        }
    }

    /// A shared object as `encode` of the object's value; a null pointer as `encodeNil`.
    template <class T> void encodeConditional(const std::shared_ptr<T>& object, std::string_view key)
    {
        if (object) {
            encode(*object, key);
        } else {
            encodeNil(key);
        }
    }

    /// Records are flat: these are fatal stops.
    [[noreturn]] void nestedContainer(std::string_view key) const;
    [[noreturn]] void nestedUnkeyedContainer(std::string_view key) const;
    [[noreturn]] void superEncoder() const;
    [[noreturn]] void superEncoder(std::string_view key) const;

private:
    Encoder* encoder_;
    bool forcingNilValueSetters_;
};

inline KeyedEncodingContainer Encoder::container()
{
    return KeyedEncodingContainer(*this);
}

class KeyedDecodingContainer;

/// Reads one record from a row: the record's `static T decode(Decoder&)` asks for a keyed container and reads
/// each field by its key, which names the column. Holds its own copy of the row.
class Decoder {
public:
    explicit Decoder(Row row, UserInfo userInfo = {}) : row_(std::move(row)), userInfo_(std::move(userInfo)) {}

    /// Always empty: records are flat.
    std::vector<std::string> codingPath() const { return {}; }
    const UserInfo& userInfo() const { return userInfo_; }
    const Row& row() const { return row_; }

    /// A container over the row; any number may be asked for, all read the same row.
    KeyedDecodingContainer container() const;
    /// Records are keyed: these throw `DecodingError` dataCorrupted.
    [[noreturn]] void unkeyedContainer() const;
    [[noreturn]] void singleValueContainer() const;

private:
    Row row_;
    UserInfo userInfo_;
};

/// Reads fields of one record. A key names the column whose SQL text is the key in double quotes, or failing
/// that the one qualified column ending in "." and that text ("t"."name" for the key name).
class KeyedDecodingContainer {
public:
    explicit KeyedDecodingContainer(Row row) : row_(std::move(row)) {}

    std::vector<std::string> codingPath() const { return {}; }
    /// Every column name of the row as stored (quoted), in the map's own order.
    std::vector<std::string> allKeys() const;
    /// True when a column is named exactly by the key (no search among qualified names) and is not NULL.
    bool contains(std::string_view key) const;
    bool decodeNil(std::string_view key) const { return !contains(key); }

    /// The field's value. A missing column throws `QueryError` noSuchColumn or ambiguousColumn; a NULL, or a
    /// value stored as another kind (an integer read as text), throws `QueryError` unexpectedNullValue, but
    /// `DecodingError` typeMismatch for a nested (JSON) value. Unstored integer kinds throw `DecodingError`
    /// typeMismatch; a text that is not a date or a UUID, or not UTF-8, throws `DecodingError` dataCorrupted;
    /// nlohmann's errors of a nested value pass through.
    template <class T> T decode(std::string_view key) const
    {
        static_assert(!detail::IsOptional<T>::value, "read an optional field with decodeIfPresent");
        static_assert(!std::same_as<T, char>, "a char is no number; read a std::string");
        const std::string name = quoteSQL(key);
        if constexpr (detail::UnsupportedInteger<T>) {
            throw DecodingError::typeMismatch(
                detail::integerKindName<T>(),
                {{}, std::string("decoding an ") + detail::integerKindName<T>() + " is not supported"});
        } else if constexpr (detail::StoredKind<T>) {
            std::optional<T> value = read<T>(name);
            if (!value) {
                throw QueryError::unexpectedNullValue(name);
            }
            return std::move(*value);
        } else {
            static_assert(detail::JsonDecodable<T>, "a nested value needs nlohmann/json's from_json");
            const std::optional<std::string> text = stored<std::string>(name);
            if (!text) {
                throw DecodingError::typeMismatch(detail::typeName(typeid(T)), {{}, "an unsupported type was found"});
            }
            return fromJson<T>(*text);
        }
    }

    /// The field's value, or none. For the stored kinds none also stands for every lookup error; for unstored
    /// integer kinds none means that `contains` is false, else `decode` decides; for a nested value, lookup and
    /// JSON errors pass through and only a NULL gives none.
    template <class T> std::optional<T> decodeIfPresent(std::string_view key) const
    {
        if constexpr (detail::UnsupportedInteger<T>) {
            if (!contains(key)) {
                return std::nullopt;
            }
            return decode<T>(key);
        } else if constexpr (detail::StoredKind<T>) {
            try {
                return read<T>(quoteSQL(key));
            } catch (const QueryError&) {
                return std::nullopt;
            } catch (const DecodingError&) {
                return std::nullopt;
            }
        } else {
            const std::optional<std::string> text = stored<std::string>(quoteSQL(key));
            if (!text) {
                return std::nullopt;
            }
            return fromJson<T>(*text);
        }
    }

    /// Records are flat: these throw `DecodingError` dataCorrupted.
    [[noreturn]] void nestedContainer(std::string_view key) const;
    [[noreturn]] void nestedUnkeyedContainer(std::string_view key) const;
    [[noreturn]] void superDecoder() const;
    [[noreturn]] void superDecoder(std::string_view key) const;

private:
    /// The column's index by the row's lookup; throws `QueryError`.
    int indexOf(const std::string& name) const;

    /// The stored value when it is of kind D; none for NULL and for another kind.
    template <class D> std::optional<D> stored(const std::string& name) const
    {
        const std::optional<Binding>& value = row_.values().at(static_cast<std::size_t>(indexOf(name)));
        if (!value) {
            return std::nullopt;
        }
        if (const D* kind = std::get_if<D>(&*value)) {
            return *kind;
        }
        return std::nullopt;
    }

    template <class T> std::optional<T> read(const std::string& name) const
    {
        if constexpr (std::same_as<T, bool>) {
            const auto value = stored<std::int64_t>(name);
            return value ? std::optional<bool>(*value != 0) : std::nullopt;
        } else if constexpr (std::floating_point<T>) {
            // A float is read narrowed to the nearest float.
            const auto value = stored<double>(name);
            return value ? std::optional<T>(static_cast<T>(*value)) : std::nullopt;
        } else if constexpr (std::signed_integral<T>) {
            const auto value = stored<std::int64_t>(name);
            return value ? std::optional<T>(static_cast<T>(*value)) : std::nullopt;
        } else {
            using Datatype = typename ValueTraits<T>::Datatype;
            const auto value = stored<Datatype>(name);
            if (!value) {
                return std::nullopt;
            }
            try {
                return ValueTraits<T>::fromDatatypeValue(*value);
            } catch (const ValueError& error) {
                throw DecodingError::dataCorrupted({{}, error.what()});
            }
        }
    }

    template <class T> static T fromJson(const std::string& text)
    {
        detail::checkUTF8(text);
        return nlohmann::json::parse(text).get<T>();
    }

    Row row_;
};

inline KeyedDecodingContainer Decoder::container() const
{
    return KeyedDecodingContainer(row_);
}

/// The setters of one record, followed by `otherSetters`. Throws what the record's encoding throws.
std::vector<Setter> encodeSetters(const EncodableRef& record, const UserInfo& userInfo,
                                  const std::vector<Setter>& otherSetters, bool forcingNilValueSetters = false);

} // namespace sqlite
