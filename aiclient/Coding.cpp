#include "aiclient/Coding.h"

#include <charconv>
#include <limits>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>

namespace aiclient {

namespace {

std::string describeJsonType(const nlohmann::json& value)
{
    switch (value.type()) {
    case nlohmann::json::value_t::null:
        return "null";
    case nlohmann::json::value_t::boolean:
        return "a boolean";
    case nlohmann::json::value_t::string:
        return "a string";
    case nlohmann::json::value_t::array:
        return "an array";
    case nlohmann::json::value_t::object:
        return "an object";
    case nlohmann::json::value_t::number_integer:
    case nlohmann::json::value_t::number_unsigned:
    case nlohmann::json::value_t::number_float:
        return "a number";
    default:
        return "an unknown value";
    }
}

std::string kindName(DecodingError::Kind kind)
{
    switch (kind) {
    case DecodingError::Kind::typeMismatch:
        return "Type mismatch";
    case DecodingError::Kind::keyNotFound:
        return "Key not found";
    case DecodingError::Kind::valueNotFound:
        return "Value not found";
    case DecodingError::Kind::dataCorrupted:
        return "Data corrupted";
    }
    return "Decoding error";
}

CodingPath appending(const CodingPath& path, CodingKey key)
{
    CodingPath result = path;
    result.push_back(std::move(key));
    return result;
}

} // namespace

CodingKey CodingKey::index(std::size_t position)
{
    return CodingKey{"Index " + std::to_string(position), position};
}

std::string describeCodingPath(const CodingPath& path)
{
    std::string text;
    for (const CodingKey& key : path) {
        if (key.intValue) {
            // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) about "[" + std::string when optimising.
            text += '[';
            text += std::to_string(*key.intValue);
            text += ']';
        } else {
            if (!text.empty())
                text += '.';
            text += key.stringValue;
        }
    }
    return text;
}

DecodingError::DecodingError(Kind kind, std::string type, std::optional<CodingKey> key, Context context)
    : Error(Error::Kind::decoding), kind_(kind), type_(std::move(type)), key_(std::move(key)),
      context_(std::move(context))
{
    description_ = kindName(kind_);
    if (!context_.codingPath.empty())
        description_ += " at \"" + describeCodingPath(context_.codingPath) + "\"";
    description_ += ": " + context_.debugDescription;
}

DecodingError DecodingError::typeMismatch(std::string type, Context context)
{
    return DecodingError(Kind::typeMismatch, std::move(type), std::nullopt, std::move(context));
}

DecodingError DecodingError::keyNotFound(CodingKey key, Context context)
{
    return DecodingError(Kind::keyNotFound, std::string(), std::move(key), std::move(context));
}

DecodingError DecodingError::valueNotFound(std::string type, Context context)
{
    return DecodingError(Kind::valueNotFound, std::move(type), std::nullopt, std::move(context));
}

DecodingError DecodingError::dataCorrupted(Context context)
{
    return DecodingError(Kind::dataCorrupted, std::string(), std::nullopt, std::move(context));
}

EncodingError::EncodingError(std::string value, Context context)
    : Error(Error::Kind::encoding), value_(std::move(value)), context_(std::move(context))
{
    description_ = "Invalid value";
    if (!context_.codingPath.empty())
        description_ += " at \"" + describeCodingPath(context_.codingPath) + "\"";
    description_ += ": " + context_.debugDescription;
}

EncodingError EncodingError::invalidValue(std::string value, Context context)
{
    return EncodingError(std::move(value), std::move(context));
}

Decoder::Decoder(const nlohmann::json& value, CodingPath codingPath)
    : value_(&value), codingPath_(std::move(codingPath))
{}

void Decoder::requireType(bool hasType, std::string_view type) const
{
    if (value_->is_null())
        throw DecodingError::valueNotFound(
            std::string(type),
            {codingPath_, "Expected " + std::string(type) + " value but found null instead.", nullptr});
    if (!hasType)
        throw DecodingError::typeMismatch(
            std::string(type),
            {codingPath_,
             "Expected to decode " + std::string(type) + " but found " + describeJsonType(*value_) + " instead.",
             nullptr});
}

void Decoder::throwDataCorrupted(std::string description) const
{
    throw DecodingError::dataCorrupted({codingPath_, std::move(description), nullptr});
}

KeyedContainer Decoder::container(std::string_view type) const
{
    requireType(value_->is_object(), type);
    return KeyedContainer(*value_, codingPath_);
}

std::vector<Decoder> Decoder::elements(std::string_view type) const
{
    requireType(value_->is_array(), type);
    std::vector<Decoder> result;
    result.reserve(value_->size());
    for (std::size_t i = 0; i < value_->size(); ++i)
        result.emplace_back((*value_)[i], appending(codingPath_, CodingKey::index(i)));
    return result;
}

std::string Decoder::decodeString() const
{
    requireType(value_->is_string(), "String");
    return value_->get<std::string>();
}

KeyedContainer::KeyedContainer(const nlohmann::json& object, CodingPath codingPath)
    : object_(&object), codingPath_(std::move(codingPath))
{}

bool KeyedContainer::contains(std::string_view key) const
{
    return object_->find(key) != object_->end();
}

bool KeyedContainer::isAbsent(std::string_view key) const
{
    const auto found = object_->find(key);
    return found == object_->end() || found->is_null();
}

Decoder KeyedContainer::nested(std::string_view key) const
{
    const auto found = object_->find(key);
    if (found == object_->end())
        throw DecodingError::keyNotFound(
            CodingKey::key(std::string(key)),
            {codingPath_, "No value associated with key \"" + std::string(key) + "\".", nullptr});
    return Decoder(*found, appending(codingPath_, CodingKey::key(std::string(key))));
}

void decodeValue(const Decoder& decoder, std::string& value)
{
    value = decoder.decodeString();
}

void decodeValue(const Decoder& decoder, bool& value)
{
    const nlohmann::json& json = decoder.json();
    decoder.requireType(json.is_boolean(), "Bool");
    value = json.get<bool>();
}

void decodeValue(const Decoder& decoder, std::int64_t& value)
{
    const nlohmann::json& json = decoder.json();
    decoder.requireType(json.is_number(), "Int64");
    if (json.is_number_integer() && !json.is_number_unsigned()) {
        value = json.get<std::int64_t>();
        return;
    }
    if (json.is_number_unsigned()) {
        const auto number = json.get<std::uint64_t>();
        if (number <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            value = static_cast<std::int64_t>(number);
            return;
        }
    } else {
        // A float is accepted only when it is a whole number that fits: 2.0 reads as 2, 1.5 does not read.
        const double number = json.get<double>();
        if (std::trunc(number) == number && number >= -9223372036854775808.0 && number < 9223372036854775808.0) {
            value = static_cast<std::int64_t>(number);
            return;
        }
    }
    decoder.throwDataCorrupted("Parsed JSON number <" + json.dump() + "> does not fit in Int64.");
}

void decodeValue(const Decoder& decoder, double& value)
{
    const nlohmann::json& json = decoder.json();
    decoder.requireType(json.is_number(), "Double");
    value = json.get<double>();
}

OneKeyCase decodeOneKeyCase(const Decoder& decoder, std::string_view type,
                            std::initializer_list<std::string_view> caseKeys)
{
    const KeyedContainer object = decoder.container(type);
    std::size_t found = 0;
    std::size_t count = 0;
    std::size_t position = 0;
    for (std::string_view key : caseKeys) {
        if (object.contains(key)) {
            found = position;
            ++count;
        }
        ++position;
    }
    if (count != 1)
        throw DecodingError::typeMismatch(
            std::string(type), {decoder.codingPath(), "Invalid number of keys found, expected one.", nullptr});
    const Decoder inner = object.nested(*(caseKeys.begin() + found));
    return OneKeyCase{found, inner.container("Dictionary")};
}

nlohmann::json parseJson(std::string_view text)
{
    try {
        return nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception& error) {
        throw DecodingError::dataCorrupted({{}, "The given data was not valid JSON.", std::current_exception()});
    }
}

std::string dumpJson(const OrderedJson& json)
{
    try {
        return json.dump();
    } catch (const nlohmann::json::type_error&) {
        // The writer refuses strings that are not UTF-8 rather than send mangled text.
        throw EncodingError::invalidValue("invalid UTF-8 text", {{}, "A string is not valid UTF-8 text."});
    }
}

OrderedJson encodeFloat(double value, std::string_view key)
{
    if (!std::isfinite(value)) {
        const std::string text = std::isnan(value) ? "nan" : (value > 0 ? "inf" : "-inf");
        throw EncodingError::invalidValue(
            text, {{CodingKey::key(std::string(key))}, "Cannot write " + text + " as a JSON number."});
    }
    return OrderedJson(value);
}

namespace {

bool isAscii(std::string_view text)
{
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

/// The canonical decomposition (NFD) of UTF-8 text as UTF-16, or none when the text is not UTF-8.
std::optional<std::u16string> canonicalDecomposition(std::string_view text)
{
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8(nullptr, 0, &length, text.data(), static_cast<int32_t>(text.size()), &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status))
        return std::nullopt;
    std::u16string utf16(static_cast<std::size_t>(length), u'\0');
    status = U_ZERO_ERROR;
    u_strFromUTF8(utf16.data(), length, &length, text.data(), static_cast<int32_t>(text.size()), &status);
    if (U_FAILURE(status))
        return std::nullopt;

    status = U_ZERO_ERROR;
    const UNormalizer2* nfd = unorm2_getNFDInstance(&status);
    if (U_FAILURE(status))
        return std::nullopt;
    int32_t normalizedLength = unorm2_normalize(nfd, utf16.data(), length, nullptr, 0, &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status))
        return std::nullopt;
    std::u16string normalized(static_cast<std::size_t>(normalizedLength), u'\0');
    status = U_ZERO_ERROR;
    unorm2_normalize(nfd, utf16.data(), length, normalized.data(), normalizedLength, &status);
    if (U_FAILURE(status))
        return std::nullopt;
    return normalized;
}

} // namespace

bool unicodeEquals(std::string_view a, std::string_view b)
{
    if (a == b)
        return true;
    if (isAscii(a) && isAscii(b))
        return false;
    const auto left = canonicalDecomposition(a);
    const auto right = canonicalDecomposition(b);
    if (!left || !right)
        return false; // not UTF-8: the bytes differ, so the texts do
    return *left == *right;
}

std::string base64Encode(const unsigned char* bytes, std::size_t size)
{
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((size + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < size; i += 3) {
        const std::uint32_t group = (std::uint32_t(bytes[i]) << 16) | (std::uint32_t(bytes[i + 1]) << 8) | bytes[i + 2];
        text += alphabet[(group >> 18) & 63];
        text += alphabet[(group >> 12) & 63];
        text += alphabet[(group >> 6) & 63];
        text += alphabet[group & 63];
    }
    if (const std::size_t rest = size - i; rest > 0) {
        std::uint32_t group = std::uint32_t(bytes[i]) << 16;
        if (rest == 2)
            group |= std::uint32_t(bytes[i + 1]) << 8;
        text += alphabet[(group >> 18) & 63];
        text += alphabet[(group >> 12) & 63];
        text += rest == 2 ? alphabet[(group >> 6) & 63] : '=';
        text += '=';
    }
    return text;
}

} // namespace aiclient

namespace aiclient {

std::optional<std::string> base64Decode(std::string_view text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    auto sextet = [](char c) -> int {
        if (c >= 'A' && c <= 'Z')
            return c - 'A';
        if (c >= 'a' && c <= 'z')
            return c - 'a' + 26;
        if (c >= '0' && c <= '9')
            return c - '0' + 52;
        if (c == '+')
            return 62;
        if (c == '/')
            return 63;
        return -1;
    };
    std::string bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        const int padding = last ? (text[i + 3] == '=') + (text[i + 2] == '=' && text[i + 3] == '=') : 0;
        std::uint32_t group = 0;
        for (std::size_t j = 0; j < 4; ++j) {
            const int value = j >= 4 - static_cast<std::size_t>(padding) ? 0 : sextet(text[i + j]);
            if (value < 0)
                return std::nullopt;
            group = (group << 6) | static_cast<std::uint32_t>(value);
        }
        bytes += static_cast<char>(group >> 16);
        if (padding < 2)
            bytes += static_cast<char>((group >> 8) & 0xFF);
        if (padding < 1)
            bytes += static_cast<char>(group & 0xFF);
    }
    return bytes;
}

OrderedJson encodeBytes(std::string_view bytes)
{
    return OrderedJson(base64Encode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()));
}

std::string decodeBytes(const Decoder& decoder)
{
    std::optional<std::string> bytes = base64Decode(decoder.decodeString());
    if (!bytes)
        decoder.throwDataCorrupted("Encountered Data is not valid Base64.");
    return std::move(*bytes);
}

std::string shortestDecimalText(double value)
{
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value > 0 ? "inf" : "-inf";
    std::array<char, 64> buffer{};
    const auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    std::string text(buffer.data(), error == std::errc() ? end : buffer.data());
    if (text.find_first_of(".e") == std::string::npos)
        text += ".0";
    return text;
}

} // namespace aiclient
