#pragma once

// The text-completions operation (plain and streamed) and the edits operation.

#include "aiclient/Coding.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace aiclient {

/// A text-completions request. Nothing is checked; an absent option is left out of the body. Only `stream` is
/// meant to change after construction (the streaming operation sets it on its own copy).
struct CompletionsQuery {
    std::string model{};
    std::string prompt{};
    std::optional<double> temperature{};
    std::optional<std::int64_t> maxTokens{};
    std::optional<double> topP{};
    std::optional<double> frequencyPenalty{};
    std::optional<double> presencePenalty{};
    std::optional<std::vector<std::string>> stop{};
    std::optional<std::string> user{};
    bool stream = false;
};

/// The answer of a completions request, and each chunk of a streamed one.
struct CompletionsResult {
    struct Choice {
        std::string text{};
        std::int64_t index = 0;
        std::optional<std::string> finishReason{};

        friend bool operator==(const Choice& a, const Choice& b)
        {
            return same(a.text, b.text) && a.index == b.index && same(a.finishReason, b.finishReason);
        }
    };

    struct Usage {
        std::int64_t promptTokens = 0;
        std::int64_t completionTokens = 0;
        std::int64_t totalTokens = 0;

        friend bool operator==(const Usage&, const Usage&) = default;
    };

    std::string id{};
    std::string object{};
    /// The service's time stamp, kept as a number.
    double created = 0;
    std::string model{};
    std::vector<Choice> choices{};
    std::optional<Usage> usage{};

    friend bool operator==(const CompletionsResult& a, const CompletionsResult& b)
    {
        return same(a.id, b.id) && same(a.object, b.object) && a.created == b.created && same(a.model, b.model) &&
               a.choices == b.choices && a.usage == b.usage;
    }
};

/// An edits request: the model rewrites `input` as `instruction` says. Unlike the completions request, its
/// nucleus-sampling key is written "topP".
struct EditsQuery {
    std::string model{};
    std::optional<std::string> input{};
    std::string instruction{};
    std::optional<std::int64_t> n{};
    std::optional<double> temperature{};
    std::optional<double> topP{};
};

struct EditsResult {
    struct Choice {
        std::string text{};
        std::int64_t index = 0;

        friend bool operator==(const Choice& a, const Choice& b) { return same(a.text, b.text) && a.index == b.index; }
    };

    using Usage = CompletionsResult::Usage;

    std::string object{};
    double created = 0;
    std::vector<Choice> choices{};
    /// Required here, unlike in a completions answer.
    Usage usage{};

    friend bool operator==(const EditsResult& a, const EditsResult& b)
    {
        return same(a.object, b.object) && a.created == b.created && a.choices == b.choices && a.usage == b.usage;
    }
};

/// Throws EncodingError when a float option is NaN or infinite.
void to_json(OrderedJson& json, const CompletionsQuery& value);
void to_json(OrderedJson& json, const CompletionsResult& value);
void to_json(OrderedJson& json, const CompletionsResult::Choice& value);
void to_json(OrderedJson& json, const CompletionsResult::Usage& value);
void to_json(OrderedJson& json, const EditsQuery& value);
void to_json(OrderedJson& json, const EditsResult& value);
void to_json(OrderedJson& json, const EditsResult::Choice& value);

void decodeValue(const Decoder& decoder, CompletionsQuery& value);
void decodeValue(const Decoder& decoder, CompletionsResult& value);
void decodeValue(const Decoder& decoder, CompletionsResult::Choice& value);
void decodeValue(const Decoder& decoder, CompletionsResult::Usage& value);
void decodeValue(const Decoder& decoder, EditsQuery& value);
void decodeValue(const Decoder& decoder, EditsResult& value);
void decodeValue(const Decoder& decoder, EditsResult::Choice& value);

} // namespace aiclient
