#pragma once

// One chunk of a streamed chat completion: each choice carries the fragment (delta) that the chunk adds.

#include "aiclient/ChatMessages.h"
#include "aiclient/ChatResult.h"
#include "aiclient/Coding.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace aiclient {

/// One streamed chunk, made only by decoding. Read strictly like `ChatResult`, so the service's error object
/// and a chunk cut off mid-way both fail to read.
struct ChatStreamResult {
    struct Choice {
        struct ChoiceDelta {
            struct ChoiceDeltaToolCall {
                struct ChoiceDeltaToolCallFunction {
                    std::optional<std::string> arguments{};
                    std::optional<std::string> name{};

                    friend bool operator==(const ChoiceDeltaToolCallFunction& a, const ChoiceDeltaToolCallFunction& b);
                };

                std::int64_t index = 0;
                std::optional<std::string> id{};
                std::optional<ChoiceDeltaToolCallFunction> function{};
                /// Any text is accepted.
                std::optional<std::string> type{};

                friend bool operator==(const ChoiceDeltaToolCall& a, const ChoiceDeltaToolCall& b);
            };

            std::optional<std::string> content{};
            std::optional<ChatCompletionMessageParam::Role> role{};
            std::optional<std::vector<ChoiceDeltaToolCall>> toolCalls{};

            friend bool operator==(const ChoiceDelta& a, const ChoiceDelta& b);
        };

        using ChoiceLogprobs = BasicChoiceLogprobs<TopLogprobsPresence::optional>;

        std::int64_t index = 0;
        ChoiceDelta delta{};
        /// Unlike `ChatResult`, an unknown reason fails the chunk.
        std::optional<ChatResult::Choice::FinishReason> finishReason{};
        std::optional<ChoiceLogprobs> logprobs{};

        friend bool operator==(const Choice& a, const Choice& b);
    };

    std::string id{};
    std::string object{};
    double created = 0;
    std::string model{};
    std::vector<Choice> choices{};
    std::optional<std::string> systemFingerprint{};

    friend bool operator==(const ChatStreamResult& a, const ChatStreamResult& b);
};

void to_json(OrderedJson& json, const ChatStreamResult& value);
void to_json(OrderedJson& json, const ChatStreamResult::Choice& value);
void to_json(OrderedJson& json, const ChatStreamResult::Choice::ChoiceDelta& value);
void to_json(OrderedJson& json, const ChatStreamResult::Choice::ChoiceDelta::ChoiceDeltaToolCall& value);
void to_json(OrderedJson& json,
             const ChatStreamResult::Choice::ChoiceDelta::ChoiceDeltaToolCall::ChoiceDeltaToolCallFunction& value);

void decodeValue(const Decoder& decoder, ChatStreamResult& value);
void decodeValue(const Decoder& decoder, ChatStreamResult::Choice& value);
void decodeValue(const Decoder& decoder, ChatStreamResult::Choice::ChoiceDelta& value);
void decodeValue(const Decoder& decoder, ChatStreamResult::Choice::ChoiceDelta::ChoiceDeltaToolCall& value);
void decodeValue(const Decoder& decoder,
                 ChatStreamResult::Choice::ChoiceDelta::ChoiceDeltaToolCall::ChoiceDeltaToolCallFunction& value);

} // namespace aiclient
