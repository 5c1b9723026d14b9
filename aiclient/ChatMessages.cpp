#include "aiclient/ChatMessages.h"

namespace aiclient {

using Message = ChatCompletionMessageParam;
using Role = Message::Role;
using SystemMessage = Message::ChatCompletionSystemMessageParam;
using UserMessage = Message::ChatCompletionUserMessageParam;
using AssistantMessage = Message::ChatCompletionAssistantMessageParam;
using ToolMessage = Message::ChatCompletionToolMessageParam;
using Content = Message::Content;
using VisionContent = Message::VisionContent;
using TextPart = VisionContent::ChatCompletionContentPartTextParam;
using ImagePart = VisionContent::ChatCompletionContentPartImageParam;
using ImageURL = ImagePart::ImageURL;
using ToolCall = Message::ToolCall;
using FunctionCall = ToolCall::FunctionCall;

// Construction and accessors

ImageURL ImageURL::fromJpegData(std::span<const std::uint8_t> jpegData, Detail detail)
{
    return ImageURL{"data:image/jpeg;base64," + base64Encode(jpegData.data(), jpegData.size()), detail};
}

ImageURL ImageURL::fromJpegData(std::string_view jpegData, Detail detail)
{
    return fromJpegData(
        std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(jpegData.data()), jpegData.size()), detail);
}

std::optional<std::string> VisionContent::text() const
{
    if (const auto* part = std::get_if<TextPart>(&value))
        return part->text;
    return std::nullopt;
}

std::optional<ImageURL> VisionContent::imageUrl() const
{
    if (const auto* part = std::get_if<ImagePart>(&value))
        return part->imageUrl;
    return std::nullopt;
}

std::optional<std::string> Content::text() const
{
    if (const auto* text = std::get_if<std::string>(&value))
        return *text;
    return std::nullopt;
}

std::optional<Message> Message::make(Role role, std::optional<std::string> content, std::optional<std::string> name,
                                     std::optional<std::vector<ToolCall>> toolCalls,
                                     std::optional<std::string> toolCallId)
{
    switch (role) {
    case Role::system:
        if (!content)
            return std::nullopt;
        return Message(SystemMessage{.content = std::move(*content), .name = std::move(name)});
    case Role::user:
        if (!content)
            return std::nullopt;
        return Message(UserMessage{.content = Content::string(std::move(*content)), .name = std::move(name)});
    case Role::assistant:
        return Message(AssistantMessage{
            .content = std::move(content), .name = std::move(name), .toolCalls = std::move(toolCalls)});
    case Role::tool:
        if (!content || !toolCallId)
            return std::nullopt;
        return Message(ToolMessage{.content = std::move(*content), .toolCallId = std::move(*toolCallId)});
    }
    return std::nullopt;
}

std::optional<Message> Message::make(Role role, std::vector<VisionContent> content, std::optional<std::string> name)
{
    if (role != Role::user)
        return std::nullopt;
    return Message(UserMessage{.content = Content::vision(std::move(content)), .name = std::move(name)});
}

std::optional<Content> Message::content() const
{
    return std::visit(
        [](const auto& payload) -> std::optional<Content> {
            using Payload = std::decay_t<decltype(payload)>;
            if constexpr (std::is_same_v<Payload, UserMessage>)
                return payload.content;
            else if constexpr (std::is_same_v<Payload, AssistantMessage>)
                return payload.content ? std::optional<Content>(Content::string(*payload.content)) : std::nullopt;
            else
                return Content::string(payload.content);
        },
        value);
}

Role Message::role() const
{
    return std::visit([](const auto& payload) { return payload.role; }, value);
}

std::optional<std::string> Message::name() const
{
    return std::visit(
        [](const auto& payload) -> std::optional<std::string> {
            if constexpr (std::is_same_v<std::decay_t<decltype(payload)>, ToolMessage>)
                return std::nullopt;
            else
                return payload.name;
        },
        value);
}

std::optional<std::string> Message::toolCallId() const
{
    if (const auto* tool = std::get_if<ToolMessage>(&value))
        return tool->toolCallId;
    return std::nullopt;
}

std::optional<std::vector<ToolCall>> Message::toolCalls() const
{
    if (const auto* assistant = std::get_if<AssistantMessage>(&value))
        return assistant->toolCalls;
    return std::nullopt;
}

// Equality, field by field in declaration order

bool operator==(const SystemMessage& a, const SystemMessage& b)
{
    return same(a.content, b.content) && a.role == b.role && same(a.name, b.name);
}

bool operator==(const TextPart& a, const TextPart& b)
{
    return same(a.text, b.text) && same(a.type, b.type);
}

bool operator==(const ImageURL& a, const ImageURL& b)
{
    return same(a.url, b.url) && a.detail == b.detail;
}

bool operator==(const ImagePart& a, const ImagePart& b)
{
    return a.imageUrl == b.imageUrl && same(a.type, b.type);
}

bool operator==(const VisionContent& a, const VisionContent& b)
{
    return same(a.value, b.value);
}

bool operator==(const Content& a, const Content& b)
{
    return same(a.value, b.value);
}

bool operator==(const UserMessage& a, const UserMessage& b)
{
    return a.content == b.content && a.role == b.role && same(a.name, b.name);
}

bool operator==(const FunctionCall& a, const FunctionCall& b)
{
    return same(a.arguments, b.arguments) && same(a.name, b.name);
}

bool operator==(const ToolCall& a, const ToolCall& b)
{
    return same(a.id, b.id) && a.function == b.function && a.type == b.type;
}

bool operator==(const AssistantMessage& a, const AssistantMessage& b)
{
    return a.role == b.role && same(a.content, b.content) && same(a.name, b.name) && same(a.toolCalls, b.toolCalls);
}

bool operator==(const ToolMessage& a, const ToolMessage& b)
{
    return same(a.content, b.content) && a.role == b.role && same(a.toolCallId, b.toolCallId);
}

bool operator==(const Message& a, const Message& b)
{
    return same(a.value, b.value);
}

// Encoding

void to_json(OrderedJson& json, const Message& value)
{
    std::visit([&json](const auto& payload) { to_json(json, payload); }, value.value);
}

void to_json(OrderedJson& json, const Message::RoleView& value)
{
    json = OrderedJson::object();
    json["role"] = value.role;
}

void to_json(OrderedJson& json, const SystemMessage& value)
{
    json = OrderedJson::object();
    json["content"] = value.content;
    json["role"] = value.role;
    encodeIfPresent(json, "name", value.name);
}

void to_json(OrderedJson& json, const UserMessage& value)
{
    json = OrderedJson::object();
    json["content"] = value.content;
    json["role"] = value.role;
    encodeIfPresent(json, "name", value.name);
}

void to_json(OrderedJson& json, const AssistantMessage& value)
{
    json = OrderedJson::object();
    encodeIfPresent(json, "name", value.name);
    json["role"] = value.role;
    encodeIfPresent(json, "content", value.content);
    encodeIfPresent(json, "tool_calls", value.toolCalls);
}

void to_json(OrderedJson& json, const ToolMessage& value)
{
    json = OrderedJson::object();
    json["content"] = value.content;
    json["role"] = value.role;
    json["tool_call_id"] = value.toolCallId;
}

void to_json(OrderedJson& json, const Content& value)
{
    if (const auto* text = std::get_if<std::string>(&value.value)) {
        json = *text;
        return;
    }
    json = OrderedJson::array();
    for (const VisionContent& part : std::get<std::vector<VisionContent>>(value.value))
        json.push_back(part);
}

void to_json(OrderedJson& json, const VisionContent& value)
{
    std::visit([&json](const auto& part) { to_json(json, part); }, value.value);
}

void to_json(OrderedJson& json, const TextPart& value)
{
    json = OrderedJson::object();
    json["text"] = value.text;
    json["type"] = value.type;
}

void to_json(OrderedJson& json, const ImagePart& value)
{
    json = OrderedJson::object();
    json["image_url"] = value.imageUrl;
    json["type"] = value.type;
}

void to_json(OrderedJson& json, const ImageURL& value)
{
    json = OrderedJson::object();
    json["url"] = value.url;
    json["detail"] = value.detail;
}

void to_json(OrderedJson& json, const ToolCall& value)
{
    json = OrderedJson::object();
    json["id"] = value.id;
    json["function"] = value.function;
    json["type"] = value.type;
}

void to_json(OrderedJson& json, const FunctionCall& value)
{
    json = OrderedJson::object();
    json["arguments"] = value.arguments;
    json["name"] = value.name;
}

// Decoding

void decodeValue(const Decoder& decoder, Message& value)
{
    const Role role = decoder.decode<Message::RoleView>().role;
    switch (role) {
    case Role::system:
        value = Message(decoder.decode<SystemMessage>());
        return;
    case Role::user:
        value = Message(decoder.decode<UserMessage>());
        return;
    case Role::assistant:
        value = Message(decoder.decode<AssistantMessage>());
        return;
    case Role::tool:
        value = Message(decoder.decode<ToolMessage>());
        return;
    }
}

void decodeValue(const Decoder& decoder, Message::RoleView& value)
{
    value.role = decoder.container("ChatCompletionMessageParam").decode<Role>("role");
}

void decodeValue(const Decoder& decoder, SystemMessage& value)
{
    const KeyedContainer c = decoder.container("ChatCompletionSystemMessageParam");
    value.content = c.decode<std::string>("content");
    value.name = c.decodeIfPresent<std::string>("name");
    value.role = Role::system;
}

void decodeValue(const Decoder& decoder, UserMessage& value)
{
    const KeyedContainer c = decoder.container("ChatCompletionUserMessageParam");
    value.content = c.decode<Content>("content");
    value.name = c.decodeIfPresent<std::string>("name");
    value.role = Role::user;
}

void decodeValue(const Decoder& decoder, AssistantMessage& value)
{
    const KeyedContainer c = decoder.container("ChatCompletionAssistantMessageParam");
    value.name = c.decodeIfPresent<std::string>("name");
    value.content = c.decodeIfPresent<std::string>("content");
    value.toolCalls = c.decodeIfPresent<std::vector<ToolCall>>("tool_calls");
    value.role = Role::assistant;
}

void decodeValue(const Decoder& decoder, ToolMessage& value)
{
    const KeyedContainer c = decoder.container("ChatCompletionToolMessageParam");
    value.content = c.decode<std::string>("content");
    value.toolCallId = c.decode<std::string>("tool_call_id");
    value.role = Role::tool;
}

void decodeValue(const Decoder& decoder, Content& value)
{
    // Each attempt's error is dropped; only the combined error below reaches the caller.
    try {
        value = Content::string(decoder.decode<std::string>());
        return;
    } catch (const DecodingError&) {
    }
    try {
        value = Content::vision(decoder.decode<std::vector<VisionContent>>());
        return;
    } catch (const DecodingError&) {
    }
    throw DecodingError::typeMismatch(
        "Content",
        {{CodingKey::key("string"), CodingKey::key("vision")}, "Content: expected String || Vision", nullptr});
}

void decodeValue(const Decoder& decoder, VisionContent& value)
{
    const OneKeyCase found = decodeOneKeyCase(
        decoder, "VisionContent", {"chatCompletionContentPartTextParam", "chatCompletionContentPartImageParam"});
    if (found.caseIndex == 0)
        value = VisionContent(found.payload.decode<TextPart>("_0"));
    else
        value = VisionContent(found.payload.decode<ImagePart>("_0"));
}

void decodeValue(const Decoder& decoder, TextPart& value)
{
    const KeyedContainer c = decoder.container("ChatCompletionContentPartTextParam");
    value.text = c.decode<std::string>("text");
    value.type = c.decode<std::string>("type");
}

void decodeValue(const Decoder& decoder, ImagePart& value)
{
    const KeyedContainer c = decoder.container("ChatCompletionContentPartImageParam");
    value.imageUrl = c.decode<ImageURL>("image_url");
    value.type = c.decode<std::string>("type");
}

void decodeValue(const Decoder& decoder, ImageURL& value)
{
    const KeyedContainer c = decoder.container("ImageURL");
    value.url = c.decode<std::string>("url");
    value.detail = c.decode<ImageURL::Detail>("detail");
}

void decodeValue(const Decoder& decoder, ToolCall& value)
{
    const KeyedContainer c = decoder.container("ChatCompletionMessageToolCallParam");
    value.id = c.decode<std::string>("id");
    value.function = c.decode<FunctionCall>("function");
    value.type = c.decode<ChatCompletionToolParam::ToolsType>("type");
}

void decodeValue(const Decoder& decoder, FunctionCall& value)
{
    const KeyedContainer c = decoder.container("FunctionCall");
    value.arguments = c.decode<std::string>("arguments");
    value.name = c.decode<std::string>("name");
}

} // namespace aiclient
