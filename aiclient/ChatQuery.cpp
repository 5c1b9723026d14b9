#include "aiclient/ChatQuery.h"

namespace aiclient {

using Stop = ChatQuery::Stop;
using ResponseFormat = ChatQuery::ResponseFormat;
using ToolChoice = ChatQuery::ChatCompletionFunctionCallOptionParam;

bool operator==(const Stop& a, const Stop& b)
{
    return same(a.value, b.value);
}

bool operator==(const ToolChoice& a, const ToolChoice& b)
{
    if (a.kind != b.kind)
        return false;
    return a.kind != ToolChoice::Case::function || same(a.functionName, b.functionName);
}

bool operator==(const ChatQuery& a, const ChatQuery& b)
{
    return same(a.messages, b.messages) && same(a.model, b.model) && same(a.frequencyPenalty, b.frequencyPenalty) &&
           same(a.logitBias, b.logitBias) && a.logprobs == b.logprobs && a.maxTokens == b.maxTokens && a.n == b.n &&
           same(a.presencePenalty, b.presencePenalty) && a.responseFormat == b.responseFormat && a.seed == b.seed &&
           same(a.stop, b.stop) && same(a.temperature, b.temperature) && same(a.toolChoice, b.toolChoice) &&
           same(a.tools, b.tools) && a.topLogprobs == b.topLogprobs && same(a.topP, b.topP) && same(a.user, b.user) &&
           a.stream == b.stream;
}

void to_json(OrderedJson& json, const ChatQuery& value)
{
    json = OrderedJson::object();
    json["messages"] = value.messages;
    json["model"] = value.model;
    encodeIfPresent(json, "frequency_penalty", value.frequencyPenalty);
    encodeIfPresent(json, "logit_bias", value.logitBias);
    encodeIfPresent(json, "logprobs", value.logprobs);
    encodeIfPresent(json, "max_tokens", value.maxTokens);
    encodeIfPresent(json, "n", value.n);
    encodeIfPresent(json, "presence_penalty", value.presencePenalty);
    encodeIfPresent(json, "response_format", value.responseFormat);
    encodeIfPresent(json, "seed", value.seed);
    encodeIfPresent(json, "stop", value.stop);
    encodeIfPresent(json, "temperature", value.temperature);
    encodeIfPresent(json, "tool_choice", value.toolChoice);
    encodeIfPresent(json, "tools", value.tools);
    encodeIfPresent(json, "top_logprobs", value.topLogprobs);
    encodeIfPresent(json, "top_p", value.topP);
    encodeIfPresent(json, "user", value.user);
    json["stream"] = value.stream;
}

void to_json(OrderedJson& json, const Stop& value)
{
    if (const auto* text = std::get_if<std::string>(&value.value))
        json = *text;
    else
        json = std::get<std::vector<std::string>>(value.value);
}

void to_json(OrderedJson& json, ResponseFormat value)
{
    json = OrderedJson::object();
    json["type"] = std::string(rawValue(value));
}

void to_json(OrderedJson& json, const ToolChoice& value)
{
    switch (value.kind) {
    case ToolChoice::Case::none:
        json = "none";
        return;
    case ToolChoice::Case::auto_:
        json = "auto";
        return;
    case ToolChoice::Case::function:
        json = OrderedJson::object();
        json["type"] = "function";
        json["function"] = OrderedJson::object({{"name", value.functionName}});
        return;
    }
}

void decodeValue(const Decoder& decoder, ChatQuery& value)
{
    const KeyedContainer c = decoder.container("ChatQuery");
    value.messages = c.decode<std::vector<ChatCompletionMessageParam>>("messages");
    value.model = c.decode<std::string>("model");
    value.frequencyPenalty = c.decodeIfPresent<double>("frequency_penalty");
    value.logitBias = c.decodeIfPresent<std::map<std::string, std::int64_t>>("logit_bias");
    value.logprobs = c.decodeIfPresent<bool>("logprobs");
    value.maxTokens = c.decodeIfPresent<std::int64_t>("max_tokens");
    value.n = c.decodeIfPresent<std::int64_t>("n");
    value.presencePenalty = c.decodeIfPresent<double>("presence_penalty");
    value.responseFormat = c.decodeIfPresent<ResponseFormat>("response_format");
    value.seed = c.decodeIfPresent<std::int64_t>("seed");
    value.stop = c.decodeIfPresent<Stop>("stop");
    value.temperature = c.decodeIfPresent<double>("temperature");
    value.toolChoice = c.decodeIfPresent<ToolChoice>("tool_choice");
    value.tools = c.decodeIfPresent<std::vector<ChatCompletionToolParam>>("tools");
    value.topLogprobs = c.decodeIfPresent<std::int64_t>("top_logprobs");
    value.topP = c.decodeIfPresent<double>("top_p");
    value.user = c.decodeIfPresent<std::string>("user");
    value.stream = c.decode<bool>("stream");
}

void decodeValue(const Decoder& decoder, Stop& value)
{
    const OneKeyCase found = decodeOneKeyCase(decoder, "Stop", {"string", "stringList"});
    if (found.caseIndex == 0)
        value = Stop::string(found.payload.decode<std::string>("_0"));
    else
        value = Stop::stringList(found.payload.decode<std::vector<std::string>>("_0"));
}

void decodeValue(const Decoder& decoder, ToolChoice& value)
{
    const OneKeyCase found =
        decodeOneKeyCase(decoder, "ChatCompletionFunctionCallOptionParam", {"none", "auto", "name"});
    switch (found.caseIndex) {
    case 0:
        value = ToolChoice::none();
        return;
    case 1:
        value = ToolChoice::auto_();
        return;
    default:
        value = ToolChoice::function(found.payload.decode<std::string>("_0"));
        return;
    }
}

void decodeValue(const Decoder& decoder, ToolChoice::ChatCompletionFunctionCallNameParam& value)
{
    const OneKeyCase found = decodeOneKeyCase(decoder, "ChatCompletionFunctionCallNameParam", {"type", "function"});
    value = found.caseIndex == 0 ? ToolChoice::ChatCompletionFunctionCallNameParam::type
                                 : ToolChoice::ChatCompletionFunctionCallNameParam::function;
}

} // namespace aiclient
