#include "aiclient/Embeddings.h"

namespace aiclient {

using Input = EmbeddingsQuery::Input;
using Embedding = EmbeddingsResult::Embedding;
using Usage = EmbeddingsResult::Usage;

void to_json(OrderedJson& json, const Input& value)
{
    std::visit([&](const auto& payload) { json = payload; }, value.value);
}

void decodeValue(const Decoder& decoder, Input& value)
{
    const OneKeyCase found =
        decodeOneKeyCase(decoder, "EmbeddingsQuery.Input", {"string", "stringList", "intList", "intMatrix"});
    switch (found.caseIndex) {
    case 0:
        value = Input::string(found.payload.decode<std::string>("_0"));
        break;
    case 1:
        value = Input::stringList(found.payload.decode<std::vector<std::string>>("_0"));
        break;
    case 2:
        value = Input::intList(found.payload.decode<std::vector<std::int64_t>>("_0"));
        break;
    default:
        value = Input::intMatrix(found.payload.decode<std::vector<std::vector<std::int64_t>>>("_0"));
        break;
    }
}

void to_json(OrderedJson& json, const EmbeddingsQuery& value)
{
    json = OrderedJson::object();
    json["input"] = value.input;
    json["model"] = value.model;
    encodeIfPresent(json, "encoding_format", value.encodingFormat);
    encodeIfPresent(json, "user", value.user);
}

void decodeValue(const Decoder& decoder, EmbeddingsQuery& value)
{
    const KeyedContainer c = decoder.container("EmbeddingsQuery");
    value.input = c.decode<Input>("input");
    value.model = c.decode<std::string>("model");
    value.encodingFormat = c.decodeIfPresent<EmbeddingsQuery::EncodingFormat>("encoding_format");
    value.user = c.decodeIfPresent<std::string>("user");
}

void to_json(OrderedJson& json, const Embedding& value)
{
    json = OrderedJson::object();
    json["object"] = value.object;
    OrderedJson numbers = OrderedJson::array();
    for (double number : value.embedding)
        numbers.push_back(encodeFloat(number, "embedding"));
    json["embedding"] = std::move(numbers);
    json["index"] = value.index;
}

void to_json(OrderedJson& json, const Usage& value)
{
    json = OrderedJson::object();
    json["prompt_tokens"] = value.promptTokens;
    json["total_tokens"] = value.totalTokens;
}

void to_json(OrderedJson& json, const EmbeddingsResult& value)
{
    json = OrderedJson::object();
    json["data"] = value.data;
    json["model"] = value.model;
    json["usage"] = value.usage;
    json["object"] = value.object;
}

void decodeValue(const Decoder& decoder, Embedding& value)
{
    const KeyedContainer c = decoder.container("Embedding");
    value.object = c.decode<std::string>("object");
    value.embedding = c.decode<std::vector<double>>("embedding");
    value.index = c.decode<std::int64_t>("index");
}

void decodeValue(const Decoder& decoder, Usage& value)
{
    const KeyedContainer c = decoder.container("Usage");
    value.promptTokens = c.decode<std::int64_t>("prompt_tokens");
    value.totalTokens = c.decode<std::int64_t>("total_tokens");
}

void decodeValue(const Decoder& decoder, EmbeddingsResult& value)
{
    const KeyedContainer c = decoder.container("EmbeddingsResult");
    value.data = c.decode<std::vector<Embedding>>("data");
    value.model = c.decode<std::string>("model");
    value.usage = c.decode<Usage>("usage");
    value.object = c.decode<std::string>("object");
}

} // namespace aiclient
