#pragma once

// The answer of the chat-completions operation when it is not streamed.

#include "aiclient/ChatMessages.h"
#include "aiclient/Coding.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace aiclient {

/// A chat-completions answer. Read strictly: a required key that is missing, null or of the wrong JSON type
/// fails the whole answer; extra keys are ignored.
struct ChatResult {
    struct Choice {
        /// Why a choice ended. The answer's "finish_reason" is kept as text; this reads one when asked.
        enum class FinishReason { stop, length, toolCalls, contentFilter, functionCall };

        struct ChoiceLogprobs {
            struct ChatCompletionTokenLogprob {
                struct TopLogprob {
                    std::string token{};
                    std::optional<std::vector<std::int64_t>> bytes{};
                    double logprob = 0;

                    friend bool operator==(const TopLogprob& a, const TopLogprob& b);
                };

                std::string token{};
                std::optional<std::vector<std::int64_t>> bytes{};
                double logprob = 0;
                /// Required in the answer, the list itself and not only its elements.
                std::vector<TopLogprob> topLogprobs{};

                friend bool operator==(const ChatCompletionTokenLogprob& a, const ChatCompletionTokenLogprob& b);
            };

            std::optional<std::vector<ChatCompletionTokenLogprob>> content{};

            friend bool operator==(const ChoiceLogprobs& a, const ChoiceLogprobs& b);
        };

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
void to_json(OrderedJson& json, const ChatResult::Choice::ChoiceLogprobs& value);
void to_json(OrderedJson& json, const ChatResult::Choice::ChoiceLogprobs::ChatCompletionTokenLogprob& value);
void to_json(OrderedJson& json,
             const ChatResult::Choice::ChoiceLogprobs::ChatCompletionTokenLogprob::TopLogprob& value);
void to_json(OrderedJson& json, const ChatResult::CompletionUsage& value);

void decodeValue(const Decoder& decoder, ChatResult& value);
void decodeValue(const Decoder& decoder, ChatResult::Choice& value);
void decodeValue(const Decoder& decoder, ChatResult::Choice::ChoiceLogprobs& value);
void decodeValue(const Decoder& decoder, ChatResult::Choice::ChoiceLogprobs::ChatCompletionTokenLogprob& value);
void decodeValue(const Decoder& decoder,
                 ChatResult::Choice::ChoiceLogprobs::ChatCompletionTokenLogprob::TopLogprob& value);
void decodeValue(const Decoder& decoder, ChatResult::CompletionUsage& value);

} // namespace aiclient
