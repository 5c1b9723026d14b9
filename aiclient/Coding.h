#pragma once

// JSON coding shared by every model of the AI client: the decoding and encoding errors, a strict reader that
// tracks the coding path of every value it reads, raw-value enumerations and field-by-field equality.
//
// Models write themselves with hand-written `to_json(nlohmann::ordered_json&, const T&)` (key order kept) and
// read themselves with `decodeValue(const Decoder&, T&)`; `from_json` is provided for every such type so that
// `json.get<T>()` works too and reports the same errors.

#include "aiclient/Error.h"

#include <array>
#include <cmath>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace aiclient {

using OrderedJson = nlohmann::ordered_json;

/// One step of a coding path: an object key, or a position in an array ("Index 3", with its integer).
struct CodingKey {
    std::string stringValue;
    std::optional<std::size_t> intValue;

    static CodingKey key(std::string name) { return CodingKey{std::move(name), std::nullopt}; }
    static CodingKey index(std::size_t position);

    friend bool operator==(const CodingKey&, const CodingKey&) = default;
};

/// The keys that lead from the document root to a value.
using CodingPath = std::vector<CodingKey>;

/// A coding path as text: "choices[0].message.role"; empty for the root.
std::string describeCodingPath(const CodingPath& path);

/// A failed read: one of the four kinds, with the coding path of the failing value and a debug description.
class DecodingError : public Error {
public:
    enum class Kind { typeMismatch, keyNotFound, valueNotFound, dataCorrupted };

    struct Context {
        CodingPath codingPath;
        std::string debugDescription;
        std::exception_ptr underlyingError;
    };

    /// A value of another JSON type than `type` expects.
    static DecodingError typeMismatch(std::string type, Context context);
    /// A required key is missing; the context's path is that of the object that lacks it.
    static DecodingError keyNotFound(CodingKey key, Context context);
    /// A required value of `type` is null.
    static DecodingError valueNotFound(std::string type, Context context);
    /// A value of the right JSON type that has no meaning (an unknown raw value, a number out of range, bad JSON).
    static DecodingError dataCorrupted(Context context);

    Kind kind() const noexcept { return kind_; }
    const Context& context() const noexcept { return context_; }
    const CodingPath& codingPath() const noexcept { return context_.codingPath; }
    const std::string& debugDescription() const noexcept { return context_.debugDescription; }
    /// The type being read, for a type mismatch or a missing value; empty for the other kinds.
    const std::string& type() const noexcept { return type_; }
    /// The missing key of a key-not-found error.
    const std::optional<CodingKey>& key() const noexcept { return key_; }

    const char* what() const noexcept override { return description_.c_str(); }

private:
    DecodingError(Kind kind, std::string type, std::optional<CodingKey> key, Context context);

    Kind kind_;
    std::string type_;
    std::optional<CodingKey> key_;
    Context context_;
    std::string description_;
};

/// A value that JSON cannot carry (NaN or an infinity, text that is not UTF-8): nothing is written.
class EncodingError : public Error {
public:
    struct Context {
        CodingPath codingPath;
        std::string debugDescription;
    };

    static EncodingError invalidValue(std::string value, Context context);

    /// A description of the refused value ("nan", "inf", "invalid UTF-8 text").
    const std::string& value() const noexcept { return value_; }
    const Context& context() const noexcept { return context_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    EncodingError(std::string value, Context context);

    std::string value_;
    Context context_;
    std::string description_;
};

class KeyedContainer;

/// A position in a JSON document being read: the value and its coding path. Cheap to copy; it refers to the
/// document, which must outlive it.
class Decoder {
public:
    explicit Decoder(const nlohmann::json& value, CodingPath codingPath = {});

    const nlohmann::json& json() const noexcept { return *value_; }
    const CodingPath& codingPath() const noexcept { return codingPath_; }

    /// Reads the value as `T`; throws DecodingError.
    template <class T> T decode() const;

    /// The value as an object; null gives value not found and any other JSON type a type mismatch for `type`.
    KeyedContainer container(std::string_view type) const;
    /// The elements of the value as an array, each with its index in the coding path; null or another JSON type
    /// fails as for `container`.
    std::vector<Decoder> elements(std::string_view type) const;

    /// The value as text; fails unless it is a JSON string.
    std::string decodeString() const;

    /// Fails unless the value has the JSON type that `type` is read from (`hasType`): null gives value not found,
    /// any other JSON type a type mismatch.
    void requireType(bool hasType, std::string_view type) const;
    [[noreturn]] void throwDataCorrupted(std::string description) const;

private:
    const nlohmann::json* value_;
    CodingPath codingPath_;
};

/// The members of a JSON object being read. Keys are matched exactly; members under other keys are ignored.
class KeyedContainer {
public:
    KeyedContainer(const nlohmann::json& object, CodingPath codingPath);

    const CodingPath& codingPath() const noexcept { return codingPath_; }
    bool contains(std::string_view key) const;
    /// True when the key is missing or holds null.
    bool isAbsent(std::string_view key) const;

    /// The decoder of a member that must be present (key not found otherwise).
    Decoder nested(std::string_view key) const;

    /// Reads a required member: missing gives key not found, null value not found, another type a mismatch.
    template <class T> T decode(std::string_view key) const { return nested(key).template decode<T>(); }

    /// Reads an optional member: missing or null gives none; another JSON type is still a mismatch.
    template <class T> std::optional<T> decodeIfPresent(std::string_view key) const
    {
        if (isAbsent(key))
            return std::nullopt;
        return nested(key).template decode<T>();
    }

private:
    const nlohmann::json* object_;
    CodingPath codingPath_;
};

// Readers of the plain values. Strict: a text refuses a number, a Boolean refuses a number, an integer refuses
// 1.5 (a whole number written as 2.0 is read as 2) and anything outside 64 bits.
void decodeValue(const Decoder& decoder, std::string& value);
void decodeValue(const Decoder& decoder, bool& value);
void decodeValue(const Decoder& decoder, std::int64_t& value);
void decodeValue(const Decoder& decoder, double& value);

template <class T> void decodeValue(const Decoder& decoder, std::vector<T>& value);
template <class T> void decodeValue(const Decoder& decoder, std::map<std::string, T>& value);

template <class T> T Decoder::decode() const
{
    T value{};
    decodeValue(*this, value);
    return value;
}

template <class T> void decodeValue(const Decoder& decoder, std::vector<T>& value)
{
    value.clear();
    if constexpr (std::is_same_v<T, double>) {
        // Vectors of numbers (embeddings) can hold millions of elements: read them in place and make an element's
        // coding path only when it fails.
        decoder.requireType(decoder.json().is_array(), "Array");
        value.reserve(decoder.json().size());
        for (const nlohmann::json& element : decoder.json()) {
            if (!element.is_number()) {
                CodingPath path = decoder.codingPath();
                path.push_back(CodingKey::index(value.size()));
                Decoder(element, std::move(path)).template decode<double>(); // throws the element's error
            }
            value.push_back(element.template get<double>());
        }
    } else {
        for (const Decoder& element : decoder.elements("Array"))
            value.push_back(element.template decode<T>());
    }
}

template <class T> void decodeValue(const Decoder& decoder, std::map<std::string, T>& value)
{
    decoder.container("Dictionary"); // type check only
    value.clear();
    for (const auto& [key, member] : decoder.json().items()) {
        CodingPath path = decoder.codingPath();
        path.push_back(CodingKey::key(key));
        value.emplace(key, Decoder(member, std::move(path)).template decode<T>());
    }
}

/// An enumeration "with payloads" read from an object naming its case: {"caseKey": {"_0": payload}}.
struct OneKeyCase {
    /// Position of the case key in the list given to `decodeOneKeyCase`.
    std::size_t caseIndex;
    /// The inner object; a case with a payload reads it under "_0".
    KeyedContainer payload;
};

/// Reads the one-key form: exactly one of `caseKeys` must be present (else a type mismatch for `type` with
/// "Invalid number of keys found, expected one."), and its value must be an object.
OneKeyCase decodeOneKeyCase(const Decoder& decoder, std::string_view type,
                            std::initializer_list<std::string_view> caseKeys);

/// Enumerations backed by strings specialise this with `type` (their name in errors) and `rawValues` (in case
/// order, so a case's underlying value is its position).
template <class E> struct RawValueTraits;

template <class E>
concept RawValueEnum = std::is_enum_v<E> && requires
{
    RawValueTraits<E>::type;
    RawValueTraits<E>::rawValues;
};

template <RawValueEnum E> constexpr std::string_view rawValue(E value)
{
    return RawValueTraits<E>::rawValues[static_cast<std::size_t>(value)];
}

/// The case whose raw value is `text`, or none.
template <RawValueEnum E> constexpr std::optional<E> fromRawValue(std::string_view text)
{
    const auto& values = RawValueTraits<E>::rawValues;
    for (std::size_t i = 0; i < values.size(); ++i)
        if (values[i] == text)
            return static_cast<E>(i);
    return std::nullopt;
}

/// Every case, in declaration order.
template <RawValueEnum E> std::vector<E> allCases()
{
    std::vector<E> cases;
    for (std::size_t i = 0; i < RawValueTraits<E>::rawValues.size(); ++i)
        cases.push_back(static_cast<E>(i));
    return cases;
}

/// Reads a bare JSON string that must be one of the raw values: another string is data corrupted.
template <RawValueEnum E> void decodeValue(const Decoder& decoder, E& value)
{
    const std::string text = decoder.decodeString();
    const std::optional<E> found = fromRawValue<E>(text);
    if (!found)
        decoder.throwDataCorrupted("Cannot initialize " + std::string(RawValueTraits<E>::type) +
                                   " from invalid String value " + text);
    value = *found;
}

template <RawValueEnum E> void to_json(OrderedJson& json, E value)
{
    json = std::string(rawValue(value));
}

/// Also for plain `nlohmann::json`, whose own enumeration conversion would write the case's number.
template <RawValueEnum E> void to_json(nlohmann::json& json, E value)
{
    json = std::string(rawValue(value));
}

template <class T>
concept Decodable = requires(const Decoder& decoder, T& value)
{
    decodeValue(decoder, value);
};

/// Lets `nlohmann::json::get<T>()` read the models; failures are DecodingError.
template <Decodable T> void from_json(const nlohmann::json& json, T& value)
{
    decodeValue(Decoder(json), value);
}

/// Parses JSON text and reads it as `T`. Text that is not JSON is data corrupted, with the parser's error as
/// the underlying error.
nlohmann::json parseJson(std::string_view text);

template <class T> T decodeJson(std::string_view text)
{
    const nlohmann::json document = parseJson(text);
    return Decoder(document).decode<T>();
}

/// Writes the value as compact JSON text with keys in their specified order. Throws EncodingError for NaN or
/// an infinity and for text that is not UTF-8.
std::string dumpJson(const OrderedJson& json);

template <class T> std::string encodeJson(const T& value)
{
    OrderedJson json;
    to_json(json, value);
    return dumpJson(json);
}

/// A JSON number for a float field; NaN and the infinities cannot be written in JSON and throw EncodingError.
OrderedJson encodeFloat(double value, std::string_view key);

/// Writes an optional member only when present: an absent value is left out, never written as null.
template <class T> void encodeIfPresent(OrderedJson& object, std::string_view key, const std::optional<T>& value)
{
    if (!value)
        return;
    if constexpr (std::is_same_v<T, double>)
        object[std::string(key)] = encodeFloat(*value, key);
    else
        object[std::string(key)] = *value;
}

// Field-by-field equality as the models define it: strings by Unicode canonical equivalence (precomposed "é"
// equals "e" plus a combining acute), floats numerically (NaN equals nothing), optionals equal when both are
// absent or both hold equal values, lists element by element, maps by key whatever the order.

/// Unicode canonical equivalence of two UTF-8 texts; text that is not UTF-8 compares byte by byte.
bool unicodeEquals(std::string_view a, std::string_view b);

inline bool same(const std::string& a, const std::string& b)
{
    return unicodeEquals(a, b);
}
template <class T> bool same(const T& a, const T& b);
template <class T> bool same(const std::optional<T>& a, const std::optional<T>& b);
template <class T> bool same(const std::vector<T>& a, const std::vector<T>& b);
template <class T> bool same(const std::map<std::string, T>& a, const std::map<std::string, T>& b);
template <class... T> bool same(const std::variant<T...>& a, const std::variant<T...>& b);

template <class T> bool same(const T& a, const T& b)
{
    return a == b;
}

template <class T> bool same(const std::optional<T>& a, const std::optional<T>& b)
{
    if (!a || !b)
        return !a && !b;
    return same(*a, *b);
}

template <class T> bool same(const std::vector<T>& a, const std::vector<T>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!same(a[i], b[i]))
            return false;
    return true;
}

template <class T> bool same(const std::map<std::string, T>& a, const std::map<std::string, T>& b)
{
    if (a.size() != b.size())
        return false;
    for (const auto& [key, value] : a) {
        auto match = b.find(key);
        if (match == b.end()) {
            // Keys that differ only in their Unicode composition name the same member.
            match = b.begin();
            while (match != b.end() && !unicodeEquals(match->first, key))
                ++match;
        }
        if (match == b.end() || !same(value, match->second))
            return false;
    }
    return true;
}

template <class... T> bool same(const std::variant<T...>& a, const std::variant<T...>& b)
{
    if (a.index() != b.index())
        return false;
    return std::visit(
        [](const auto& left, const auto& right) {
            if constexpr (std::is_same_v<decltype(left), decltype(right)>)
                return same(left, right);
            else
                return false;
        },
        a, b);
}

/// Standard Base64 (RFC 4648 alphabet, "=" padding, no line breaks).
std::string base64Encode(const unsigned char* bytes, std::size_t size);
/// The bytes of standard Base64 text (padding required, no line breaks), or none when it is not such text.
std::optional<std::string> base64Decode(std::string_view text);

/// Byte strings travel in JSON as Base64 text.
OrderedJson encodeBytes(std::string_view bytes);
/// Reads Base64 text into bytes; text that is not Base64 is data corrupted.
std::string decodeBytes(const Decoder& decoder);

/// The shortest decimal text that reads back as `value`, with at least one digit after the point when it would
/// otherwise have none: 1.0, 0.25, 4.0, 1e+20, nan.
std::string shortestDecimalText(double value);

} // namespace aiclient
