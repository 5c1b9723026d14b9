#include "aiclient/ChatTools.h"

namespace aiclient {

using FunctionDefinition = ChatCompletionToolParam::FunctionDefinition;
using FunctionParameters = FunctionDefinition::FunctionParameters;
using Property = FunctionParameters::Property;
using Items = Property::Items;

namespace {

// The value constraints that the arguments' schema, a property and an array's items share, from "pattern" on,
// in the order they are written. The element counts belong to properties and items only.
template <class S>
concept CountsItems = requires(const S& s)
{
    s.minItems;
};

template <class S> bool sameConstraints(const S& a, const S& b)
{
    bool equal = same(a.pattern, b.pattern) && same(a.const_, b.const_) && same(a.enum_, b.enum_) &&
                 a.multipleOf == b.multipleOf && a.minimum == b.minimum && a.maximum == b.maximum;
    if constexpr (CountsItems<S>) {
        equal = equal && a.minItems == b.minItems && a.maxItems == b.maxItems && a.uniqueItems == b.uniqueItems;
    }
    return equal;
}

template <class S> void encodeConstraints(OrderedJson& json, const S& value)
{
    encodeIfPresent(json, "pattern", value.pattern);
    encodeIfPresent(json, "const", value.const_);
    encodeIfPresent(json, "enum", value.enum_);
    encodeIfPresent(json, "multipleOf", value.multipleOf);
    encodeIfPresent(json, "minimum", value.minimum);
    encodeIfPresent(json, "maximum", value.maximum);
    if constexpr (CountsItems<S>) {
        encodeIfPresent(json, "minItems", value.minItems);
        encodeIfPresent(json, "maxItems", value.maxItems);
        encodeIfPresent(json, "uniqueItems", value.uniqueItems);
    }
}

template <class S> void decodeConstraints(const KeyedContainer& c, S& value)
{
    using Bound = typename decltype(value.minimum)::value_type;
    value.pattern = c.decodeIfPresent<std::string>("pattern");
    value.const_ = c.decodeIfPresent<std::string>("const");
    value.enum_ = c.decodeIfPresent<std::vector<std::string>>("enum");
    value.multipleOf = c.decodeIfPresent<std::int64_t>("multipleOf");
    value.minimum = c.decodeIfPresent<Bound>("minimum");
    value.maximum = c.decodeIfPresent<Bound>("maximum");
    if constexpr (CountsItems<S>) {
        value.minItems = c.decodeIfPresent<std::int64_t>("minItems");
        value.maxItems = c.decodeIfPresent<std::int64_t>("maxItems");
        value.uniqueItems = c.decodeIfPresent<bool>("uniqueItems");
    }
}

} // namespace

bool operator==(const Items& a, const Items& b)
{
    return a.type == b.type && same(a.properties, b.properties) && sameConstraints(a, b);
}

bool operator==(const Property& a, const Property& b)
{
    return a.type == b.type && same(a.description, b.description) && same(a.format, b.format) &&
           same(a.items, b.items) && same(a.required, b.required) && sameConstraints(a, b);
}

bool operator==(const FunctionParameters& a, const FunctionParameters& b)
{
    return a.type == b.type && same(a.properties, b.properties) && same(a.required, b.required) &&
           sameConstraints(a, b);
}

bool operator==(const FunctionDefinition& a, const FunctionDefinition& b)
{
    return same(a.name, b.name) && same(a.description, b.description) && same(a.parameters, b.parameters);
}

bool operator==(const ChatCompletionToolParam& a, const ChatCompletionToolParam& b)
{
    return a.function == b.function && a.type == b.type;
}

void to_json(OrderedJson& json, const Items& value)
{
    json = OrderedJson::object();
    json["type"] = value.type;
    encodeIfPresent(json, "properties", value.properties);
    encodeConstraints(json, value);
}

void to_json(OrderedJson& json, const Property& value)
{
    json = OrderedJson::object();
    json["type"] = value.type;
    encodeIfPresent(json, "description", value.description);
    encodeIfPresent(json, "format", value.format);
    encodeIfPresent(json, "items", value.items);
    encodeIfPresent(json, "required", value.required);
    encodeConstraints(json, value);
}

void to_json(OrderedJson& json, const FunctionParameters& value)
{
    json = OrderedJson::object();
    json["type"] = value.type;
    encodeIfPresent(json, "properties", value.properties);
    encodeIfPresent(json, "required", value.required);
    encodeConstraints(json, value);
}

void to_json(OrderedJson& json, const FunctionDefinition& value)
{
    json = OrderedJson::object();
    json["name"] = value.name;
    encodeIfPresent(json, "description", value.description);
    encodeIfPresent(json, "parameters", value.parameters);
}

void to_json(OrderedJson& json, const ChatCompletionToolParam& value)
{
    json = OrderedJson::object();
    json["function"] = value.function;
    json["type"] = value.type;
}

void decodeValue(const Decoder& decoder, Items& value)
{
    const KeyedContainer c = decoder.container("Items");
    value.type = c.decode<FunctionParameters::JSONType>("type");
    value.properties = c.decodeIfPresent<std::map<std::string, Property>>("properties");
    decodeConstraints(c, value);
}

void decodeValue(const Decoder& decoder, Property& value)
{
    const KeyedContainer c = decoder.container("Property");
    value.type = c.decode<FunctionParameters::JSONType>("type");
    value.description = c.decodeIfPresent<std::string>("description");
    value.format = c.decodeIfPresent<std::string>("format");
    value.items = c.decodeIfPresent<Items>("items");
    value.required = c.decodeIfPresent<std::vector<std::string>>("required");
    decodeConstraints(c, value);
}

void decodeValue(const Decoder& decoder, FunctionParameters& value)
{
    const KeyedContainer c = decoder.container("FunctionParameters");
    value.type = c.decode<FunctionParameters::JSONType>("type");
    value.properties = c.decodeIfPresent<std::map<std::string, Property>>("properties");
    value.required = c.decodeIfPresent<std::vector<std::string>>("required");
    decodeConstraints(c, value);
}

void decodeValue(const Decoder& decoder, FunctionDefinition& value)
{
    const KeyedContainer c = decoder.container("FunctionDefinition");
    value.name = c.decode<std::string>("name");
    value.description = c.decodeIfPresent<std::string>("description");
    value.parameters = c.decodeIfPresent<FunctionParameters>("parameters");
}

void decodeValue(const Decoder& decoder, ChatCompletionToolParam& value)
{
    const KeyedContainer c = decoder.container("ChatCompletionToolParam");
    value.function = c.decode<FunctionDefinition>("function");
    value.type = c.decode<ChatCompletionToolParam::ToolsType>("type");
}

} // namespace aiclient
