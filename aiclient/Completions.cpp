#include "aiclient/Completions.h"

#include "aiclient/ResultCoding.h"

namespace aiclient {

void to_json(OrderedJson& json, const CompletionsQuery& value)
{
    json = OrderedJson::object();
    json["model"] = value.model;
    json["prompt"] = value.prompt;
    json["stream"] = value.stream;
    encodeIfPresent(json, "temperature", value.temperature);
    encodeIfPresent(json, "max_tokens", value.maxTokens);
    encodeIfPresent(json, "top_p", value.topP);
    encodeIfPresent(json, "frequency_penalty", value.frequencyPenalty);
    encodeIfPresent(json, "presence_penalty", value.presencePenalty);
    encodeIfPresent(json, "stop", value.stop);
    encodeIfPresent(json, "user", value.user);
}

void decodeValue(const Decoder& decoder, CompletionsQuery& value)
{
    const KeyedContainer c = decoder.container("CompletionsQuery");
    value.model = c.decode<std::string>("model");
    value.prompt = c.decode<std::string>("prompt");
    value.stream = c.decode<bool>("stream");
    value.temperature = c.decodeIfPresent<double>("temperature");
    value.maxTokens = c.decodeIfPresent<std::int64_t>("max_tokens");
    value.topP = c.decodeIfPresent<double>("top_p");
    value.frequencyPenalty = c.decodeIfPresent<double>("frequency_penalty");
    value.presencePenalty = c.decodeIfPresent<double>("presence_penalty");
    value.stop = c.decodeIfPresent<std::vector<std::string>>("stop");
    value.user = c.decodeIfPresent<std::string>("user");
}

void to_json(OrderedJson& json, const CompletionsResult::Choice& value)
{
    json = OrderedJson::object();
    json["text"] = value.text;
    json["index"] = value.index;
    encodeIfPresent(json, "finish_reason", value.finishReason);
}

void to_json(OrderedJson& json, const CompletionsResult::Usage& value)
{
    json = OrderedJson::object();
    json["prompt_tokens"] = value.promptTokens;
    json["completion_tokens"] = value.completionTokens;
    json["total_tokens"] = value.totalTokens;
}

void to_json(OrderedJson& json, const CompletionsResult& value)
{
    encodeResultHead(json, value);
    encodeIfPresent(json, "usage", value.usage);
}

void decodeValue(const Decoder& decoder, CompletionsResult::Choice& value)
{
    const KeyedContainer c = decoder.container("Choice");
    value.text = c.decode<std::string>("text");
    value.index = c.decode<std::int64_t>("index");
    value.finishReason = c.decodeIfPresent<std::string>("finish_reason");
}

void decodeValue(const Decoder& decoder, CompletionsResult::Usage& value)
{
    const KeyedContainer c = decoder.container("Usage");
    value.promptTokens = c.decode<std::int64_t>("prompt_tokens");
    value.completionTokens = c.decode<std::int64_t>("completion_tokens");
    value.totalTokens = c.decode<std::int64_t>("total_tokens");
}

void decodeValue(const Decoder& decoder, CompletionsResult& value)
{
    const KeyedContainer c = decoder.container("CompletionsResult");
    decodeResultHead(c, value);
    value.usage = c.decodeIfPresent<CompletionsResult::Usage>("usage");
}

void to_json(OrderedJson& json, const EditsQuery& value)
{
    json = OrderedJson::object();
    json["model"] = value.model;
    encodeIfPresent(json, "input", value.input);
    json["instruction"] = value.instruction;
    encodeIfPresent(json, "n", value.n);
    encodeIfPresent(json, "temperature", value.temperature);
    encodeIfPresent(json, "topP", value.topP);
}

void decodeValue(const Decoder& decoder, EditsQuery& value)
{
    const KeyedContainer c = decoder.container("EditsQuery");
    value.model = c.decode<std::string>("model");
    value.input = c.decodeIfPresent<std::string>("input");
    value.instruction = c.decode<std::string>("instruction");
    value.n = c.decodeIfPresent<std::int64_t>("n");
    value.temperature = c.decodeIfPresent<double>("temperature");
    value.topP = c.decodeIfPresent<double>("topP");
}

void to_json(OrderedJson& json, const EditsResult::Choice& value)
{
    json = OrderedJson::object();
    json["text"] = value.text;
    json["index"] = value.index;
}

void to_json(OrderedJson& json, const EditsResult& value)
{
    json = OrderedJson::object();
    json["object"] = value.object;
    json["created"] = encodeFloat(value.created, "created");
    json["choices"] = value.choices;
    json["usage"] = value.usage;
}

void decodeValue(const Decoder& decoder, EditsResult::Choice& value)
{
    const KeyedContainer c = decoder.container("Choice");
    value.text = c.decode<std::string>("text");
    value.index = c.decode<std::int64_t>("index");
}

void decodeValue(const Decoder& decoder, EditsResult& value)
{
    const KeyedContainer c = decoder.container("EditsResult");
    value.object = c.decode<std::string>("object");
    value.created = c.decode<double>("created");
    value.choices = c.decode<std::vector<EditsResult::Choice>>("choices");
    value.usage = c.decode<EditsResult::Usage>("usage");
}

} // namespace aiclient
