#include "aiclient/Models.h"

namespace aiclient {

void to_json(OrderedJson& json, const ModelQuery& value)
{
    json = OrderedJson::object();
    json["model"] = value.model;
}

void to_json(OrderedJson& json, const ModelResult& value)
{
    json = OrderedJson::object();
    json["id"] = value.id;
    json["created"] = encodeFloat(value.created, "created");
    json["object"] = value.object;
    json["owned_by"] = value.ownedBy;
}

void to_json(OrderedJson& json, const ModelsResult& value)
{
    json = OrderedJson::object();
    json["data"] = value.data;
    json["object"] = value.object;
}

void decodeValue(const Decoder& decoder, ModelQuery& value)
{
    value.model = decoder.container("ModelQuery").decode<std::string>("model");
}

void decodeValue(const Decoder& decoder, ModelResult& value)
{
    const KeyedContainer c = decoder.container("ModelResult");
    value.id = c.decode<std::string>("id");
    value.created = c.decode<double>("created");
    value.object = c.decode<std::string>("object");
    value.ownedBy = c.decode<std::string>("owned_by");
}

void decodeValue(const Decoder& decoder, ModelsResult& value)
{
    const KeyedContainer c = decoder.container("ModelsResult");
    value.data = c.decode<std::vector<ModelResult>>("data");
    value.object = c.decode<std::string>("object");
}

} // namespace aiclient
