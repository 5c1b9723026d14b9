#include "aiclient/Moderations.h"

namespace aiclient {

using Moderation = ModerationsResult::Moderation;

namespace {

/// Visits the eleven fields with their keys, in order; shared by the writers and readers of both records.
template <class Record, class Visit> void eachCategory(Record& record, Visit visit)
{
    const auto& keys = RawValueTraits<Moderation::CodingKeys>::rawValues;
    visit(keys[0], record.harassment);
    visit(keys[1], record.harassmentThreatening);
    visit(keys[2], record.hate);
    visit(keys[3], record.hateThreatening);
    visit(keys[4], record.selfHarm);
    visit(keys[5], record.selfHarmIntent);
    visit(keys[6], record.selfHarmInstructions);
    visit(keys[7], record.sexual);
    visit(keys[8], record.sexualMinors);
    visit(keys[9], record.violence);
    visit(keys[10], record.violenceGraphic);
}

template <class T> void encodeCategories(OrderedJson& json, const Moderation::PerCategory<T>& value)
{
    json = OrderedJson::object();
    eachCategory(value, [&](std::string_view key, const T& field) {
        if constexpr (std::is_same_v<T, double>)
            json[std::string(key)] = encodeFloat(field, key);
        else
            json[std::string(key)] = field;
    });
}

template <class T>
void decodeCategories(const Decoder& decoder, std::string_view type, Moderation::PerCategory<T>& value)
{
    const KeyedContainer c = decoder.container(type);
    eachCategory(value, [&](std::string_view key, T& field) { field = c.decode<T>(key); });
}

} // namespace

void to_json(OrderedJson& json, const ModerationsQuery& value)
{
    json = OrderedJson::object();
    json["input"] = value.input;
    encodeIfPresent(json, "model", value.model);
}

void decodeValue(const Decoder& decoder, ModerationsQuery& value)
{
    const KeyedContainer c = decoder.container("ModerationsQuery");
    value.input = c.decode<std::string>("input");
    value.model = c.decodeIfPresent<std::string>("model");
}

void to_json(OrderedJson& json, const Moderation::Categories& value)
{
    encodeCategories(json, value);
}

void to_json(OrderedJson& json, const Moderation::CategoryScores& value)
{
    encodeCategories(json, value);
}

void decodeValue(const Decoder& decoder, Moderation::Categories& value)
{
    decodeCategories(decoder, "Categories", value);
}

void decodeValue(const Decoder& decoder, Moderation::CategoryScores& value)
{
    decodeCategories(decoder, "CategoryScores", value);
}

void to_json(OrderedJson& json, const Moderation& value)
{
    json = OrderedJson::object();
    json["categories"] = value.categories;
    json["category_scores"] = value.categoryScores;
    json["flagged"] = value.flagged;
}

void decodeValue(const Decoder& decoder, Moderation& value)
{
    const KeyedContainer c = decoder.container("Moderation");
    value.categories = c.decode<Moderation::Categories>("categories");
    value.categoryScores = c.decode<Moderation::CategoryScores>("category_scores");
    value.flagged = c.decode<bool>("flagged");
}

void to_json(OrderedJson& json, const ModerationsResult& value)
{
    json = OrderedJson::object();
    json["id"] = value.id;
    json["model"] = value.model;
    json["results"] = value.results;
}

void decodeValue(const Decoder& decoder, ModerationsResult& value)
{
    const KeyedContainer c = decoder.container("ModerationsResult");
    value.id = c.decode<std::string>("id");
    value.model = c.decode<std::string>("model");
    value.results = c.decode<std::vector<Moderation>>("results");
}

} // namespace aiclient
