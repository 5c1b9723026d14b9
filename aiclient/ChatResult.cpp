#include "aiclient/ChatResult.h"

#include "aiclient/ResultCoding.h"

namespace aiclient {

using Choice = ChatResult::Choice;
using ChoiceLogprobs = Choice::ChoiceLogprobs;
using CompletionUsage = ChatResult::CompletionUsage;

bool operator==(const Choice& a, const Choice& b)
{
    return a.index == b.index && same(a.logprobs, b.logprobs) && a.message == b.message &&
           same(a.finishReason, b.finishReason);
}

bool operator==(const ChatResult& a, const ChatResult& b)
{
    return same(a.id, b.id) && same(a.object, b.object) && a.created == b.created && same(a.model, b.model) &&
           same(a.choices, b.choices) && a.usage == b.usage && same(a.systemFingerprint, b.systemFingerprint);
}

void to_json(OrderedJson& json, const Choice& value)
{
    json = OrderedJson::object();
    json["index"] = value.index;
    encodeIfPresent(json, "logprobs", value.logprobs);
    json["message"] = value.message;
    encodeIfPresent(json, "finish_reason", value.finishReason);
}

void to_json(OrderedJson& json, const CompletionUsage& value)
{
    json = OrderedJson::object();
    json["completion_tokens"] = value.completionTokens;
    json["prompt_tokens"] = value.promptTokens;
    json["total_tokens"] = value.totalTokens;
}

void to_json(OrderedJson& json, const ChatResult& value)
{
    encodeResultHead(json, value);
    encodeIfPresent(json, "usage", value.usage);
    encodeIfPresent(json, "system_fingerprint", value.systemFingerprint);
}

void decodeValue(const Decoder& decoder, Choice& value)
{
    const KeyedContainer c = decoder.container("Choice");
    value.index = c.decode<std::int64_t>("index");
    value.logprobs = c.decodeIfPresent<ChoiceLogprobs>("logprobs");
    value.message = c.decode<ChatCompletionMessageParam>("message");
    value.finishReason = c.decodeIfPresent<std::string>("finish_reason");
}

void decodeValue(const Decoder& decoder, CompletionUsage& value)
{
    const KeyedContainer c = decoder.container("CompletionUsage");
    value.completionTokens = c.decode<std::int64_t>("completion_tokens");
    value.promptTokens = c.decode<std::int64_t>("prompt_tokens");
    value.totalTokens = c.decode<std::int64_t>("total_tokens");
}

void decodeValue(const Decoder& decoder, ChatResult& value)
{
    const KeyedContainer c = decoder.container("ChatResult");
    decodeResultHead(c, value);
    value.usage = c.decodeIfPresent<CompletionUsage>("usage");
    value.systemFingerprint = c.decodeIfPresent<std::string>("system_fingerprint");
}

} // namespace aiclient
