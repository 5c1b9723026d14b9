#pragma once

// The request body of the chat-completions operation.

#include "aiclient/ChatMessages.h"
#include "aiclient/ChatTools.h"
#include "aiclient/Coding.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace aiclient {

/// A chat-completions request: the model, the conversation and the options passed to the service unchanged.
/// Nothing is checked; an absent option is left out of the body. Only `stream` is meant to change after
/// construction (the streaming operation sets it on its own copy).
struct ChatQuery {
    using ChatCompletionMessageParam = aiclient::ChatCompletionMessageParam;
    using ChatCompletionToolParam = aiclient::ChatCompletionToolParam;

    /// One stop sequence or several. Written as the bare string or array; read from the one-key form.
    struct Stop {
        std::variant<std::string, std::vector<std::string>> value{};

        static Stop string(std::string text) { return Stop{std::move(text)}; }
        static Stop stringList(std::vector<std::string> texts) { return Stop{std::move(texts)}; }

        friend bool operator==(const Stop& a, const Stop& b);
    };

    /// Written as {"type": raw value}; read from the bare raw-value string.
    enum class ResponseFormat { jsonObject, text };

    /// The tool choice: no tool, the service's own choice, or one named function. Written as "none", "auto" or
    /// {"type": "function", "function": {"name": …}}; read from the one-key form with case keys "none", "auto"
    /// and "name".
    struct ChatCompletionFunctionCallOptionParam {
        enum class Case { none, auto_, function }; // "auto" is a C++ keyword

        /// The key enumeration of the written `function` case, readable in the one-key form.
        enum class ChatCompletionFunctionCallNameParam { type, function };

        Case kind = Case::none;
        /// The function's name; meaningful only for the `function` case.
        std::string functionName{};

        static ChatCompletionFunctionCallOptionParam none() { return {Case::none, {}}; }
        static ChatCompletionFunctionCallOptionParam auto_() { return {Case::auto_, {}}; }
        static ChatCompletionFunctionCallOptionParam function(std::string name)
        {
            return {Case::function, std::move(name)};
        }

        friend bool operator==(const ChatCompletionFunctionCallOptionParam& a,
                               const ChatCompletionFunctionCallOptionParam& b);
    };

    std::vector<ChatCompletionMessageParam> messages{};
    std::string model{};
    std::optional<double> frequencyPenalty{};
    std::optional<std::map<std::string, std::int64_t>> logitBias{};
    std::optional<bool> logprobs{};
    std::optional<std::int64_t> maxTokens{};
    std::optional<std::int64_t> n{};
    std::optional<double> presencePenalty{};
    std::optional<ResponseFormat> responseFormat{};
    std::optional<std::int64_t> seed{};
    std::optional<Stop> stop{};
    std::optional<double> temperature{};
    std::optional<ChatCompletionFunctionCallOptionParam> toolChoice{};
    std::optional<std::vector<ChatCompletionToolParam>> tools{};
    std::optional<std::int64_t> topLogprobs{};
    std::optional<double> topP{};
    std::optional<std::string> user{};
    bool stream = false;

    /// All eighteen fields in order; `stream` too, so two queries differing only in it are unequal.
    friend bool operator==(const ChatQuery& a, const ChatQuery& b);
};

template <> struct RawValueTraits<ChatQuery::ResponseFormat> {
    static constexpr std::string_view type = "ResponseFormat";
    static constexpr std::array<std::string_view, 2> rawValues{"json_object", "text"};
};

/// Throws EncodingError when a float option is NaN or infinite.
void to_json(OrderedJson& json, const ChatQuery& value);
void to_json(OrderedJson& json, const ChatQuery::Stop& value);
void to_json(OrderedJson& json, ChatQuery::ResponseFormat value);
void to_json(OrderedJson& json, const ChatQuery::ChatCompletionFunctionCallOptionParam& value);

void decodeValue(const Decoder& decoder, ChatQuery& value);
void decodeValue(const Decoder& decoder, ChatQuery::Stop& value);
void decodeValue(const Decoder& decoder, ChatQuery::ChatCompletionFunctionCallOptionParam& value);
void decodeValue(const Decoder& decoder,
                 ChatQuery::ChatCompletionFunctionCallOptionParam::ChatCompletionFunctionCallNameParam& value);

} // namespace aiclient
