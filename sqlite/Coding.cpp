#include "sqlite/Coding.h"

#include "sqlite/Fatal.h"
#include "sqlite/Helpers.h"
#include "sqlite/Query.h"

#include <algorithm>

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
    : value_(std::move(value)), context_(std::move(context))
{
    description_ = "Invalid value " + value_ + ": " + context_.debugDescription;
}

EncodingError EncodingError::invalidValue(std::string value, Context context)
{
    return EncodingError(std::move(value), std::move(context));
}

DecodingError::DecodingError(Kind kind, std::string type, Context context)
    : kind_(kind), type_(std::move(type)), context_(std::move(context))
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

void to_json(nlohmann::json& json, const Url& url)
{
    json = url.absoluteString();
}

void from_json(const nlohmann::json& json, Url& url)
{
    auto parsed = Url::parse(json.get<std::string>());
    if (!parsed) {
        throw DecodingError::dataCorrupted({{}, "invalid URL: " + json.get<std::string>()});
    }
    url = std::move(*parsed);
}

std::string detail::jsonText(const nlohmann::json& json)
{
    return json.dump();
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
