#include "aiclient/ChatStreamResult.h"

#include "aiclient/ResultCoding.h"

namespace aiclient {

using Choice = ChatStreamResult::Choice;
using ChoiceDelta = Choice::ChoiceDelta;
using DeltaToolCall = ChoiceDelta::ChoiceDeltaToolCall;
using DeltaFunction = DeltaToolCall::ChoiceDeltaToolCallFunction;
using ChoiceLogprobs = Choice::ChoiceLogprobs;
using FinishReason = ChatResult::Choice::FinishReason;

bool operator==(const DeltaFunction& a, const DeltaFunction& b)
{
    return same(a.arguments, b.arguments) && same(a.name, b.name);
}

bool operator==(const DeltaToolCall& a, const DeltaToolCall& b)
{
    return a.index == b.index && same(a.id, b.id) && same(a.function, b.function) && same(a.type, b.type);
}

bool operator==(const ChoiceDelta& a, const ChoiceDelta& b)
{
    return same(a.content, b.content) && a.role == b.role && same(a.toolCalls, b.toolCalls);
}

bool operator==(const Choice& a, const Choice& b)
{
    return a.index == b.index && a.delta == b.delta && a.finishReason == b.finishReason && same(a.logprobs, b.logprobs);
}

bool operator==(const ChatStreamResult& a, const ChatStreamResult& b)
{
    return same(a.id, b.id) && same(a.object, b.object) && a.created == b.created && same(a.model, b.model) &&
           same(a.choices, b.choices) && same(a.systemFingerprint, b.systemFingerprint);
}

void to_json(OrderedJson& json, const DeltaFunction& value)
{
    json = OrderedJson::object();
    encodeIfPresent(json, "arguments", value.arguments);
    encodeIfPresent(json, "name", value.name);
}

void to_json(OrderedJson& json, const DeltaToolCall& value)
{
    json = OrderedJson::object();
    json["index"] = value.index;
    encodeIfPresent(json, "id", value.id);
    encodeIfPresent(json, "function", value.function);
    encodeIfPresent(json, "type", value.type);
}

void to_json(OrderedJson& json, const ChoiceDelta& value)
{
    json = OrderedJson::object();
    encodeIfPresent(json, "content", value.content);
    encodeIfPresent(json, "role", value.role);
    encodeIfPresent(json, "tool_calls", value.toolCalls);
}

void to_json(OrderedJson& json, const Choice& value)
{
    json = OrderedJson::object();
    json["index"] = value.index;
    json["delta"] = value.delta;
    encodeIfPresent(json, "finish_reason", value.finishReason);
    encodeIfPresent(json, "logprobs", value.logprobs);
}

void to_json(OrderedJson& json, const ChatStreamResult& value)
{
    encodeResultHead(json, value);
    encodeIfPresent(json, "system_fingerprint", value.systemFingerprint);
}

void decodeValue(const Decoder& decoder, DeltaFunction& value)
{
    const KeyedContainer c = decoder.container("ChoiceDeltaToolCallFunction");
    value.arguments = c.decodeIfPresent<std::string>("arguments");
    value.name = c.decodeIfPresent<std::string>("name");
}

void decodeValue(const Decoder& decoder, DeltaToolCall& value)
{
    const KeyedContainer c = decoder.container("ChoiceDeltaToolCall");
    value.index = c.decode<std::int64_t>("index");
    value.id = c.decodeIfPresent<std::string>("id");
    value.function = c.decodeIfPresent<DeltaFunction>("function");
    value.type = c.decodeIfPresent<std::string>("type");
}

void decodeValue(const Decoder& decoder, ChoiceDelta& value)
{
    const KeyedContainer c = decoder.container("ChoiceDelta");
    value.content = c.decodeIfPresent<std::string>("content");
    value.role = c.decodeIfPresent<ChatCompletionMessageParam::Role>("role");
    value.toolCalls = c.decodeIfPresent<std::vector<DeltaToolCall>>("tool_calls");
}

void decodeValue(const Decoder& decoder, Choice& value)
{
    const KeyedContainer c = decoder.container("Choice");
    value.index = c.decode<std::int64_t>("index");
    value.delta = c.decode<ChoiceDelta>("delta");
    value.finishReason = c.decodeIfPresent<FinishReason>("finish_reason");
    value.logprobs = c.decodeIfPresent<ChoiceLogprobs>("logprobs");
}

void decodeValue(const Decoder& decoder, ChatStreamResult& value)
{
    const KeyedContainer c = decoder.container("ChatStreamResult");
    decodeResultHead(c, value);
    value.systemFingerprint = c.decodeIfPresent<std::string>("system_fingerprint");
}

} // namespace aiclient
