#pragma once

// Tools that a chat query offers the model: functions with a JSON Schema description of their arguments.
// Reached as `ChatQuery::ChatCompletionToolParam` and its nested types.

#include "aiclient/Coding.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace aiclient {

/// One tool: a function that the model may ask the caller to run. Built as `{definition}`; `type` is always
/// `function`.
struct ChatCompletionToolParam {
    enum class ToolsType { function };

    struct FunctionDefinition {
        /// The schema of the function's arguments as a whole (a subset of JSON Schema; keys in its camel case).
        struct FunctionParameters {
            enum class JSONType { integer, string, boolean, array, object, number, null };

            /// The schema of one named argument.
            struct Property {
                /// The schema of the elements of an array-typed property.
                struct Items {
                    JSONType type = JSONType::object;
                    std::optional<std::map<std::string, Property>> properties{};
                    std::optional<std::string> pattern{};
                    std::optional<std::string> const_{};             // "const" is a C++ keyword
                    std::optional<std::vector<std::string>> enum_{}; // "enum" is a C++ keyword
                    std::optional<std::int64_t> multipleOf{};
                    std::optional<double> minimum{};
                    std::optional<double> maximum{};
                    std::optional<std::int64_t> minItems{};
                    std::optional<std::int64_t> maxItems{};
                    std::optional<bool> uniqueItems{};

                    friend bool operator==(const Items& a, const Items& b);
                };

                JSONType type = JSONType::object;
                std::optional<std::string> description{};
                std::optional<std::string> format{};
                std::optional<Items> items{};
                std::optional<std::vector<std::string>> required{};
                std::optional<std::string> pattern{};
                std::optional<std::string> const_{};             // "const" is a C++ keyword
                std::optional<std::vector<std::string>> enum_{}; // "enum" is a C++ keyword
                std::optional<std::int64_t> multipleOf{};
                std::optional<double> minimum{};
                std::optional<double> maximum{};
                std::optional<std::int64_t> minItems{};
                std::optional<std::int64_t> maxItems{};
                std::optional<bool> uniqueItems{};

                friend bool operator==(const Property& a, const Property& b);
            };

            JSONType type = JSONType::object;
            std::optional<std::map<std::string, Property>> properties{};
            std::optional<std::vector<std::string>> required{};
            std::optional<std::string> pattern{};
            std::optional<std::string> const_{};             // "const" is a C++ keyword
            std::optional<std::vector<std::string>> enum_{}; // "enum" is a C++ keyword
            std::optional<std::int64_t> multipleOf{};
            // Whole numbers here, unlike the float bounds of Property and Items.
            std::optional<std::int64_t> minimum{};
            std::optional<std::int64_t> maximum{};

            friend bool operator==(const FunctionParameters& a, const FunctionParameters& b);
        };

        std::string name{};
        std::optional<std::string> description{};
        std::optional<FunctionParameters> parameters{};

        friend bool operator==(const FunctionDefinition& a, const FunctionDefinition& b);
    };

    FunctionDefinition function{};
    ToolsType type = ToolsType::function;

    friend bool operator==(const ChatCompletionToolParam& a, const ChatCompletionToolParam& b);
};

template <> struct RawValueTraits<ChatCompletionToolParam::ToolsType> {
    static constexpr std::string_view type = "ToolsType";
    static constexpr std::array<std::string_view, 1> rawValues{"function"};
};

template <> struct RawValueTraits<ChatCompletionToolParam::FunctionDefinition::FunctionParameters::JSONType> {
    static constexpr std::string_view type = "JSONType";
    static constexpr std::array<std::string_view, 7> rawValues{"integer", "string", "boolean", "array",
                                                               "object",  "number", "null"};
};

void to_json(OrderedJson& json, const ChatCompletionToolParam& value);
void to_json(OrderedJson& json, const ChatCompletionToolParam::FunctionDefinition& value);
void to_json(OrderedJson& json, const ChatCompletionToolParam::FunctionDefinition::FunctionParameters& value);
void to_json(OrderedJson& json, const ChatCompletionToolParam::FunctionDefinition::FunctionParameters::Property& value);
void to_json(OrderedJson& json,
             const ChatCompletionToolParam::FunctionDefinition::FunctionParameters::Property::Items& value);

void decodeValue(const Decoder& decoder, ChatCompletionToolParam& value);
void decodeValue(const Decoder& decoder, ChatCompletionToolParam::FunctionDefinition& value);
void decodeValue(const Decoder& decoder, ChatCompletionToolParam::FunctionDefinition::FunctionParameters& value);
void decodeValue(const Decoder& decoder,
                 ChatCompletionToolParam::FunctionDefinition::FunctionParameters::Property& value);
void decodeValue(const Decoder& decoder,
                 ChatCompletionToolParam::FunctionDefinition::FunctionParameters::Property::Items& value);

} // namespace aiclient
