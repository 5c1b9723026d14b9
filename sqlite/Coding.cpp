#include "sqlite/Coding.h"

#include "sqlite/Fatal.h"
#include "sqlite/Query.h"
#include "sqlite/QuoteSQL.h"

#include <algorithm>
#include <cmath>
#include <cxxabi.h>
#include <memory>

namespace sqlite {

namespace {

constexpr const char* unit = "SQLite/Coding";

bool sameColumns(const std::vector<Setter>& a, const std::vector<Setter>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const Setter& x, const Setter& y) { return x.column() == y.column(); });
}

// The same columns, in any order.
bool sameColumnSet(const std::vector<Setter>& a, const std::vector<Setter>& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    std::vector<std::string> left;
    std::vector<std::string> right;
    for (std::size_t i = 0; i < a.size(); ++i) {
        left.push_back(a[i].column().expression().template_);
        right.push_back(b[i].column().expression().template_);
    }
    std::sort(left.begin(), left.end());
    std::sort(right.begin(), right.end());
    return left == right;
}

std::vector<std::vector<Setter>> encodeAll(const EncodableList& records, const UserInfo& userInfo,
                                           const std::vector<Setter>& otherSetters, bool forcing)
{
    std::vector<std::vector<Setter>> rows;
    rows.reserve(records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        Encoder encoder(userInfo, forcing);
        records.encode(i, encoder);
        std::vector<Setter> setters = encoder.takeSetters();
        setters.insert(setters.end(), otherSetters.begin(), otherSetters.end());
        rows.push_back(std::move(setters));
    }
    return rows;
}

} // namespace

// Errors ----------------------------------------------------------------------------------------------

EncodingError::EncodingError(std::string value, Context context)
    : Error(Error::Kind::encoding), value_(std::move(value)), context_(std::move(context))
{
    description_ = "Invalid value " + value_ + ": " + context_.debugDescription;
}

EncodingError EncodingError::invalidValue(std::string value, Context context)
{
    return EncodingError(std::move(value), std::move(context));
}

DecodingError::DecodingError(Kind kind, std::string type, Context context)
    : Error(Error::Kind::decoding), kind_(kind), type_(std::move(type)), context_(std::move(context))
{
    description_ = kind_ == Kind::typeMismatch ? "Type mismatch for " + type_ + ": " : "Data corrupted: ";
    description_ += context_.debugDescription;
}

DecodingError DecodingError::typeMismatch(std::string type, Context context)
{
    return DecodingError(Kind::typeMismatch, std::move(type), std::move(context));
}

DecodingError DecodingError::dataCorrupted(Context context)
{
    return DecodingError(Kind::dataCorrupted, {}, std::move(context));
}

namespace {

// nlohmann writes NaN and infinity as null, which reads back as no number at all: refuse them instead.
void checkFiniteNumbers(const nlohmann::json& json)
{
    if (json.is_number_float()) {
        const double number = json.get<double>();
        if (!std::isfinite(number)) {
            throw EncodingError::invalidValue(std::to_string(number),
                                              {{}, "a nested value holds a number that JSON cannot represent"});
        }
    } else if (json.is_structured()) {
        for (const auto& element : json) {
            checkFiniteNumbers(element);
        }
    }
}

} // namespace

std::string detail::jsonText(const nlohmann::json& json)
{
    checkFiniteNumbers(json);
    return json.dump();
}

std::string detail::typeName(const std::type_info& type)
{
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> name(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status),
                                                     &std::free);
    return status == 0 && name ? name.get() : type.name();
}

void detail::checkUTF8(std::string_view text)
{
    // Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    const auto fail = [] { throw DecodingError::dataCorrupted({{}, "invalid utf8 data found"}); };
    while (p < end) {
        const unsigned char c = *p++;
        if (c < 0x80) {
            continue;
        }
        int length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xbf;
        if (c >= 0xc2 && c <= 0xdf) {
            length = 1;
        } else if (c >= 0xe0 && c <= 0xef) {
            length = 2;
            low = c == 0xe0 ? 0xa0 : 0x80;
            high = c == 0xed ? 0x9f : 0xbf;
        } else if (c >= 0xf0 && c <= 0xf4) {
            length = 3;
            low = c == 0xf0 ? 0x90 : 0x80;
            high = c == 0xf4 ? 0x8f : 0xbf;
        } else {
            fail();
        }
        if (end - p < length || *p < low || *p > high) {
            fail();
        }
        ++p;
        for (int i = 1; i < length; ++i, ++p) {
            if (*p < 0x80 || *p > 0xbf) {
                fail();
            }
        }
    }
}

// Decoding --------------------------------------------------------------------------------------------

void Decoder::unkeyedContainer() const
{
    throw DecodingError::dataCorrupted({{}, "decoding an unkeyed container is not supported"});
}

void Decoder::singleValueContainer() const
{
    throw DecodingError::dataCorrupted({{}, "decoding a single value container is not supported"});
}

std::vector<std::string> KeyedDecodingContainer::allKeys() const
{
    std::vector<std::string> keys;
    for (const auto& [name, index] : row_.columnNames()) {
        keys.push_back(name);
    }
    return keys;
}

bool KeyedDecodingContainer::contains(std::string_view key) const
{
    const auto& names = row_.columnNames();
    const auto found = names.find(quoteSQL(key));
    if (found == names.end()) {
        return false;
    }
    const auto index = static_cast<std::size_t>(found->second);
    return index < row_.values().size() && row_.values()[index].has_value();
}

int KeyedDecodingContainer::indexOf(const std::string& name) const
{
    return row_.sharedColumnNames()->indexOf(name);
}

void KeyedDecodingContainer::nestedContainer(std::string_view) const
{
    throw DecodingError::dataCorrupted({{}, "decoding nested containers is not supported"});
}

void KeyedDecodingContainer::nestedUnkeyedContainer(std::string_view) const
{
    throw DecodingError::dataCorrupted({{}, "decoding unkeyed containers is not supported"});
}

void KeyedDecodingContainer::superDecoder() const
{
    throw DecodingError::dataCorrupted({{}, "decoding super encoders containers is not supported"});
}

void KeyedDecodingContainer::superDecoder(std::string_view) const
{
    throw DecodingError::dataCorrupted({{}, "decoding super decoders is not supported"});
}

// Encoding --------------------------------------------------------------------------------------------

void Encoder::append(std::string_view key, std::optional<Binding> value)
{
    // The column is the key alone, quoted, never qualified with a table.
    setters_.emplace_back(Expression<void>(quoteSQL(key)), Expression<void>("?", Bindings{std::move(value)}));
}

void Encoder::unkeyedContainer() const
{
    SQLITE_FATAL(unit, "not supported");
}

void Encoder::singleValueContainer() const
{
    SQLITE_FATAL(unit, "not supported");
}

void KeyedEncodingContainer::nestedContainer(std::string_view) const
{
    SQLITE_FATAL(unit, "encoding a nested container is not supported");
}

void KeyedEncodingContainer::nestedUnkeyedContainer(std::string_view) const
{
    SQLITE_FATAL(unit, "encoding nested values is not supported");
}

void KeyedEncodingContainer::superEncoder() const
{
    SQLITE_FATAL(unit, "SQLiteEncoding does not support super encoders");
}

void KeyedEncodingContainer::superEncoder(std::string_view) const
{
    SQLITE_FATAL(unit, "SQLiteEncoding does not support super encoders");
}

std::vector<Setter> encodeSetters(const EncodableRef& record, const UserInfo& userInfo,
                                  const std::vector<Setter>& otherSetters, bool forcingNilValueSetters)
{
    Encoder encoder(userInfo, forcingNilValueSetters);
    record.encode(encoder);
    std::vector<Setter> setters = encoder.takeSetters();
    setters.insert(setters.end(), otherSetters.begin(), otherSetters.end());
    return setters;
}

// Statements of records -------------------------------------------------------------------------------

Insert QueryType::insertEncodable(const EncodableRef& record, const UserInfo& userInfo,
                                  const std::vector<Setter>& otherSetters, std::optional<OnConflict> onConflict) const
{
    return compileInsert(onConflict, encodeSetters(record, userInfo, otherSetters));
}

Insert QueryType::insertManyEncodables(const EncodableList& records, const UserInfo& userInfo,
                                       const std::vector<Setter>& otherSetters) const
{
    std::vector<std::vector<Setter>> rows = encodeAll(records, userInfo, otherSetters, false);
    // The multi-row INSERT takes its columns from the first row, so the rows must name the same columns, not
    // only as many of them: a record whose absent field differs in place from another's would otherwise put its
    // values under the wrong columns. When they differ, encode again with a NULL setter for every absent field.
    const bool uniform = !rows.empty() && std::all_of(rows.begin(), rows.end(), [&](const std::vector<Setter>& row) {
        return sameColumns(row, rows.front());
    });
    if (!uniform) {
        rows = encodeAll(records, userInfo, otherSetters, true);
        for (std::size_t i = 1; i < rows.size(); ++i) {
            if (!sameColumnSet(rows[i], rows.front())) {
                throw EncodingError::invalidValue(
                    "record " + std::to_string(i),
                    {{}, "the records encode different columns, even with every absent field written as NULL"});
            }
        }
    }
    return insertManyRows(std::nullopt, rows);
}

Insert QueryType::upsertEncodable(const EncodableRef& record, const Expressible& conflictTarget,
                                  const UserInfo& userInfo, const std::vector<Setter>& otherSetters) const
{
    return compileUpsert(encodeSetters(record, userInfo, otherSetters), conflictTarget);
}

Update QueryType::updateEncodable(const EncodableRef& record, const UserInfo& userInfo,
                                  const std::vector<Setter>& otherSetters) const
{
    return compileUpdate(encodeSetters(record, userInfo, otherSetters));
}

} // namespace sqlite

void nlohmann::adl_serializer<sqlite::Url>::to_json(nlohmann::json& json, const sqlite::Url& url)
{
    json = url.absoluteString();
}

sqlite::Url nlohmann::adl_serializer<sqlite::Url>::from_json(const nlohmann::json& json)
{
    const auto text = json.get<std::string>();
    auto parsed = sqlite::Url::parse(text);
    if (!parsed) {
        throw sqlite::DecodingError::dataCorrupted({{}, "invalid URL: " + text});
    }
    return std::move(*parsed);
}
