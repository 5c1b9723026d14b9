#pragma once

// The answer of the chat-completions operation when it is not streamed.

#include "aiclient/ChatMessages.h"
#include "aiclient/Coding.h"

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace aiclient {

/// Whether each token's "top_logprobs" must be present: the answer always sends it, a streamed chunk may not.
enum class TopLogprobsPresence { required, optional };

/// The log probabilities of a choice's tokens, alike in the answer and in a streamed chunk but for the one rule
/// that `presence` names. Reached as `ChatResult::Choice::ChoiceLogprobs` and
/// `ChatStreamResult::Choice::ChoiceLogprobs`.
template <TopLogprobsPresence presence> struct BasicChoiceLogprobs {
    struct ChatCompletionTokenLogprob {
        struct TopLogprob {
            std::string token{};
            std::optional<std::vector<std::int64_t>> bytes{};
            double logprob = 0;

            friend bool operator==(const TopLogprob& a, const TopLogprob& b)
            {
                return same(a.token, b.token) && a.bytes == b.bytes && a.logprob == b.logprob;
            }
            friend void to_json(OrderedJson& json, const TopLogprob& value)
            {
                json = OrderedJson::object();
                json["token"] = value.token;
                encodeIfPresent(json, "bytes", value.bytes);
                json["logprob"] = encodeFloat(value.logprob, "logprob");
            }
            friend void decodeValue(const Decoder& decoder, TopLogprob& value)
            {
                const KeyedContainer c = decoder.container("TopLogprob");
                value.token = c.decode<std::string>("token");
                value.bytes = c.decodeIfPresent<std::vector<std::int64_t>>("bytes");
                value.logprob = c.decode<double>("logprob");
            }
        };

        static constexpr bool topLogprobsRequired = presence == TopLogprobsPresence::required;

        std::string token{};
        std::optional<std::vector<std::int64_t>> bytes{};
        double logprob = 0;
        /// When required, the list itself and not only its elements.
        std::conditional_t<topLogprobsRequired, std::vector<TopLogprob>, std::optional<std::vector<TopLogprob>>>
            topLogprobs{};

        friend bool operator==(const ChatCompletionTokenLogprob& a, const ChatCompletionTokenLogprob& b)
        {
            return same(a.token, b.token) && a.bytes == b.bytes && a.logprob == b.logprob &&
                   same(a.topLogprobs, b.topLogprobs);
        }
        friend void to_json(OrderedJson& json, const ChatCompletionTokenLogprob& value)
        {
            json = OrderedJson::object();
            json["token"] = value.token;
            encodeIfPresent(json, "bytes", value.bytes);
            json["logprob"] = encodeFloat(value.logprob, "logprob");
            if constexpr (topLogprobsRequired)
                json["top_logprobs"] = value.topLogprobs;
            else
                encodeIfPresent(json, "top_logprobs", value.topLogprobs);
        }
        friend void decodeValue(const Decoder& decoder, ChatCompletionTokenLogprob& value)
        {
            const KeyedContainer c = decoder.container("ChatCompletionTokenLogprob");
            value.token = c.decode<std::string>("token");
            value.bytes = c.decodeIfPresent<std::vector<std::int64_t>>("bytes");
            value.logprob = c.decode<double>("logprob");
            if constexpr (topLogprobsRequired)
                value.topLogprobs = c.decode<std::vector<TopLogprob>>("top_logprobs");
            else
                value.topLogprobs = c.decodeIfPresent<std::vector<TopLogprob>>("top_logprobs");
        }
    };

    std::optional<std::vector<ChatCompletionTokenLogprob>> content{};

    friend bool operator==(const BasicChoiceLogprobs& a, const BasicChoiceLogprobs& b)
    {
        return same(a.content, b.content);
    }
    friend void to_json(OrderedJson& json, const BasicChoiceLogprobs& value)
    {
        json = OrderedJson::object();
        encodeIfPresent(json, "content", value.content);
    }
    friend void decodeValue(const Decoder& decoder, BasicChoiceLogprobs& value)
    {
        const KeyedContainer c = decoder.container("ChoiceLogprobs");
        value.content = c.decodeIfPresent<std::vector<ChatCompletionTokenLogprob>>("content");
    }
};

/// A chat-completions answer. Read strictly: a required key that is missing, null or of the wrong JSON type
/// fails the whole answer; extra keys are ignored.
struct ChatResult {
    struct Choice {
        /// Why a choice ended. The answer's "finish_reason" is kept as text; this reads one when asked.
        enum class FinishReason { stop, length, toolCalls, contentFilter, functionCall };

        using ChoiceLogprobs = BasicChoiceLogprobs<TopLogprobsPresence::required>;

        std::int64_t index = 0;
        std::optional<ChoiceLogprobs> logprobs{};
        /// The reply; the model's text is the content of an assistant message and may be absent.
        ChatCompletionMessageParam message{};
        /// Stored as sent, also when it is none of the `FinishReason` texts.
        std::optional<std::string> finishReason{};

        friend bool operator==(const Choice& a, const Choice& b);
    };

    struct CompletionUsage {
        std::int64_t completionTokens = 0;
        std::int64_t promptTokens = 0;
        std::int64_t totalTokens = 0;

        friend bool operator==(const CompletionUsage&, const CompletionUsage&) = default;
    };

    std::string id{};
    std::string object{};
    /// The service's integer time stamp, kept as a double.
    double created = 0;
    std::string model{};
    /// In the order of the answer; may be empty.
    std::vector<Choice> choices{};
    std::optional<CompletionUsage> usage{};
    std::optional<std::string> systemFingerprint{};

    friend bool operator==(const ChatResult& a, const ChatResult& b);
};

template <> struct RawValueTraits<ChatResult::Choice::FinishReason> {
    static constexpr std::string_view type = "FinishReason";
    static constexpr std::array<std::string_view, 5> rawValues{"stop", "length", "tool_calls", "content_filter",
                                                               "function_call"};
};

void to_json(OrderedJson& json, const ChatResult& value);
void to_json(OrderedJson& json, const ChatResult::Choice& value);
void to_json(OrderedJson& json, const ChatResult::CompletionUsage& value);

void decodeValue(const Decoder& decoder, ChatResult& value);
void decodeValue(const Decoder& decoder, ChatResult::Choice& value);
void decodeValue(const Decoder& decoder, ChatResult::CompletionUsage& value);

} // namespace aiclient
