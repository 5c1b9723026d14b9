#pragma once

// The messages of a chat-completions request, also found in every choice of the answer. Reached as
// `ChatQuery::ChatCompletionMessageParam` and its nested types.

#include "aiclient/ChatTools.h"
#include "aiclient/Coding.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace aiclient {

/// One chat message: a system, user, assistant or tool message. Written as its payload's object alone, so the
/// kind shows only in "role"; read by first reading "role", then the payload of that role.
struct ChatCompletionMessageParam {
    enum class Role { system, user, assistant, tool };

    /// The message seen through its "role" key alone; renamed because a member cannot share its class's name.
    struct RoleView {
        Role role = Role::system;

        friend bool operator==(const RoleView&, const RoleView&) = default;
    };

    struct ChatCompletionSystemMessageParam {
        std::string content{};
        Role role = Role::system;
        std::optional<std::string> name{};

        friend bool operator==(const ChatCompletionSystemMessageParam& a, const ChatCompletionSystemMessageParam& b);
    };

    struct ChatCompletionUserMessageParam {
        /// Plain text, or a list of text and image parts.
        struct Content {
            /// One part of a user message: a text or an image given by URL.
            struct VisionContent {
                struct ChatCompletionContentPartTextParam {
                    std::string text{};
                    std::string type = "text";

                    friend bool operator==(const ChatCompletionContentPartTextParam& a,
                                           const ChatCompletionContentPartTextParam& b);
                };

                struct ChatCompletionContentPartImageParam {
                    struct ImageURL {
                        enum class Detail { auto_, low, high }; // "auto" is a C++ keyword

                        std::string url{};
                        Detail detail = Detail::auto_;

                        /// A "data:image/jpeg;base64," URL of the bytes, which are not inspected.
                        static ImageURL fromJpegData(std::span<const std::uint8_t> jpegData, Detail detail);
                        static ImageURL fromJpegData(std::string_view jpegData, Detail detail);

                        friend bool operator==(const ImageURL& a, const ImageURL& b);
                    };

                    ImageURL imageUrl{};
                    std::string type = "image_url";

                    friend bool operator==(const ChatCompletionContentPartImageParam& a,
                                           const ChatCompletionContentPartImageParam& b);
                };

                std::variant<ChatCompletionContentPartTextParam, ChatCompletionContentPartImageParam> value{
                    ChatCompletionContentPartTextParam{}};

                VisionContent() : value(ChatCompletionContentPartTextParam{}) {}
                VisionContent(ChatCompletionContentPartTextParam part) : value(std::move(part)) {}
                VisionContent(ChatCompletionContentPartImageParam part) : value(std::move(part)) {}

                /// The text of a text part; none for an image part.
                std::optional<std::string> text() const;
                /// The image URL of an image part; none for a text part.
                std::optional<ChatCompletionContentPartImageParam::ImageURL> imageUrl() const;

                friend bool operator==(const VisionContent& a, const VisionContent& b);
            };

            std::variant<std::string, std::vector<VisionContent>> value{};

            static Content string(std::string text) { return Content{std::move(text)}; }
            static Content vision(std::vector<VisionContent> parts) { return Content{std::move(parts)}; }

            /// The text of plain-text content; none for a list of parts.
            std::optional<std::string> text() const;

            friend bool operator==(const Content& a, const Content& b);
        };

        Content content{};
        Role role = Role::user;
        std::optional<std::string> name{};

        friend bool operator==(const ChatCompletionUserMessageParam& a, const ChatCompletionUserMessageParam& b);
    };

    struct ChatCompletionAssistantMessageParam {
        struct ChatCompletionMessageToolCallParam {
            struct FunctionCall {
                /// The function's arguments as JSON text, passed through unparsed.
                std::string arguments{};
                std::string name{};

                friend bool operator==(const FunctionCall& a, const FunctionCall& b);
            };

            std::string id{};
            FunctionCall function{};
            ChatCompletionToolParam::ToolsType type = ChatCompletionToolParam::ToolsType::function;

            friend bool operator==(const ChatCompletionMessageToolCallParam& a,
                                   const ChatCompletionMessageToolCallParam& b);
        };

        Role role = Role::assistant;
        std::optional<std::string> content{};
        std::optional<std::string> name{};
        std::optional<std::vector<ChatCompletionMessageToolCallParam>> toolCalls{};

        friend bool operator==(const ChatCompletionAssistantMessageParam& a,
                               const ChatCompletionAssistantMessageParam& b);
    };

    struct ChatCompletionToolMessageParam {
        std::string content{};
        Role role = Role::tool;
        std::string toolCallId{};

        friend bool operator==(const ChatCompletionToolMessageParam& a, const ChatCompletionToolMessageParam& b);
    };

    using Content = ChatCompletionUserMessageParam::Content;
    using VisionContent = Content::VisionContent;
    using ToolCall = ChatCompletionAssistantMessageParam::ChatCompletionMessageToolCallParam;

    std::variant<ChatCompletionSystemMessageParam, ChatCompletionUserMessageParam, ChatCompletionAssistantMessageParam,
                 ChatCompletionToolMessageParam>
        value{ChatCompletionSystemMessageParam{}};

    ChatCompletionMessageParam() : value(ChatCompletionSystemMessageParam{}) {}
    ChatCompletionMessageParam(ChatCompletionSystemMessageParam payload) : value(std::move(payload)) {}
    ChatCompletionMessageParam(ChatCompletionUserMessageParam payload) : value(std::move(payload)) {}
    ChatCompletionMessageParam(ChatCompletionAssistantMessageParam payload) : value(std::move(payload)) {}
    ChatCompletionMessageParam(ChatCompletionToolMessageParam payload) : value(std::move(payload)) {}

    /// A message of `role` from plain text, or none when the role needs a field that is missing: system and
    /// user need content, tool needs content and a tool-call id; an assistant message is always made. Fields
    /// that the role does not carry are dropped.
    static std::optional<ChatCompletionMessageParam> make(Role role, std::optional<std::string> content,
                                                          std::optional<std::string> name = std::nullopt,
                                                          std::optional<std::vector<ToolCall>> toolCalls = std::nullopt,
                                                          std::optional<std::string> toolCallId = std::nullopt);
    /// A user message whose content is a list of parts; none for any other role.
    static std::optional<ChatCompletionMessageParam> make(Role role, std::vector<VisionContent> content,
                                                          std::optional<std::string> name = std::nullopt);

    /// System and tool content as text, user content as stored, assistant content as text when present.
    std::optional<Content> content() const;
    Role role() const;
    /// The name of a system, user or assistant message; none for a tool message.
    std::optional<std::string> name() const;
    /// The id of a tool message; none otherwise.
    std::optional<std::string> toolCallId() const;
    /// The tool calls of an assistant message; none otherwise.
    std::optional<std::vector<ToolCall>> toolCalls() const;

    friend bool operator==(const ChatCompletionMessageParam& a, const ChatCompletionMessageParam& b);
};

template <> struct RawValueTraits<ChatCompletionMessageParam::Role> {
    static constexpr std::string_view type = "Role";
    static constexpr std::array<std::string_view, 4> rawValues{"system", "user", "assistant", "tool"};
};

template <>
struct RawValueTraits<
    ChatCompletionMessageParam::Content::VisionContent::ChatCompletionContentPartImageParam::ImageURL::Detail> {
    static constexpr std::string_view type = "Detail";
    static constexpr std::array<std::string_view, 3> rawValues{"auto", "low", "high"};
};

void to_json(OrderedJson& json, const ChatCompletionMessageParam& value);
void to_json(OrderedJson& json, const ChatCompletionMessageParam::RoleView& value);
void to_json(OrderedJson& json, const ChatCompletionMessageParam::ChatCompletionSystemMessageParam& value);
void to_json(OrderedJson& json, const ChatCompletionMessageParam::ChatCompletionUserMessageParam& value);
void to_json(OrderedJson& json, const ChatCompletionMessageParam::ChatCompletionAssistantMessageParam& value);
void to_json(OrderedJson& json, const ChatCompletionMessageParam::ChatCompletionToolMessageParam& value);
void to_json(OrderedJson& json, const ChatCompletionMessageParam::Content& value);
void to_json(OrderedJson& json, const ChatCompletionMessageParam::VisionContent& value);
void to_json(OrderedJson& json,
             const ChatCompletionMessageParam::VisionContent::ChatCompletionContentPartTextParam& value);
void to_json(OrderedJson& json,
             const ChatCompletionMessageParam::VisionContent::ChatCompletionContentPartImageParam& value);
void to_json(OrderedJson& json,
             const ChatCompletionMessageParam::VisionContent::ChatCompletionContentPartImageParam::ImageURL& value);
void to_json(OrderedJson& json, const ChatCompletionMessageParam::ToolCall& value);
void to_json(OrderedJson& json, const ChatCompletionMessageParam::ToolCall::FunctionCall& value);

/// Reads "role", then the payload of that role from the same object. An unknown role is data corrupted and
/// fails before any other key is read.
void decodeValue(const Decoder& decoder, ChatCompletionMessageParam& value);
void decodeValue(const Decoder& decoder, ChatCompletionMessageParam::RoleView& value);
// The per-role readers: each reads its own keys and sets `role` to its own kind without reading "role".
void decodeValue(const Decoder& decoder, ChatCompletionMessageParam::ChatCompletionSystemMessageParam& value);
void decodeValue(const Decoder& decoder, ChatCompletionMessageParam::ChatCompletionUserMessageParam& value);
void decodeValue(const Decoder& decoder, ChatCompletionMessageParam::ChatCompletionAssistantMessageParam& value);
void decodeValue(const Decoder& decoder, ChatCompletionMessageParam::ChatCompletionToolMessageParam& value);
/// Text, else a list of parts (each in the one-key form); when neither reads, a type mismatch "Content:
/// expected String || Vision" whose coding path is the two case keys "string", "vision".
void decodeValue(const Decoder& decoder, ChatCompletionMessageParam::Content& value);
/// The one-key form {"chatCompletionContentPartTextParam": {"_0": part}} (or the image case key).
void decodeValue(const Decoder& decoder, ChatCompletionMessageParam::VisionContent& value);
void decodeValue(const Decoder& decoder,
                 ChatCompletionMessageParam::VisionContent::ChatCompletionContentPartTextParam& value);
void decodeValue(const Decoder& decoder,
                 ChatCompletionMessageParam::VisionContent::ChatCompletionContentPartImageParam& value);
void decodeValue(const Decoder& decoder,
                 ChatCompletionMessageParam::VisionContent::ChatCompletionContentPartImageParam::ImageURL& value);
void decodeValue(const Decoder& decoder, ChatCompletionMessageParam::ToolCall& value);
void decodeValue(const Decoder& decoder, ChatCompletionMessageParam::ToolCall::FunctionCall& value);

} // namespace aiclient
