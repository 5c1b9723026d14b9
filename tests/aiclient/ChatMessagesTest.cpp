#include "aiclient/ChatQuery.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace aiclient {
namespace {

using Message = ChatQuery::ChatCompletionMessageParam;
using Role = Message::Role;
using Content = Message::Content;
using VisionContent = Message::VisionContent;
using TextPart = VisionContent::ChatCompletionContentPartTextParam;
using ImagePart = VisionContent::ChatCompletionContentPartImageParam;
using ImageURL = ImagePart::ImageURL;
using ToolCall = Message::ToolCall;

ToolCall toolCall()
{
    return ToolCall{.id = "c1", .function = {.arguments = R"({"city":"Oslo"})", .name = "weather"}};
}

TEST(ChatMessageEncoding, EachKindWritesItsKeysInOrderAndLeavesAbsentOnesOut)
{
    struct Case {
        const char* name;
        Message message;
        const char* json;
    };
    const std::vector<Case> cases{
        {"system", *Message::make(Role::system, "s"), R"({"content":"s","role":"system"})"},
        {"system with name", *Message::make(Role::system, "s", "n"), R"({"content":"s","role":"system","name":"n"})"},
        {"user text", *Message::make(Role::user, "u"), R"({"content":"u","role":"user"})"},
        {"assistant bare", *Message::make(Role::assistant, std::nullopt), R"({"role":"assistant"})"},
        {"assistant full", *Message::make(Role::assistant, "a", "n", std::vector<ToolCall>{toolCall()}),
         R"({"name":"n","role":"assistant","content":"a","tool_calls":[{"id":"c1","function":)"
         R"({"arguments":"{\"city\":\"Oslo\"}","name":"weather"},"type":"function"}]})"},
        {"assistant empty tool calls",
         *Message::make(Role::assistant, std::nullopt, std::nullopt, std::vector<ToolCall>{}),
         R"({"role":"assistant","tool_calls":[]})"},
        {"tool", *Message::make(Role::tool, "t", std::nullopt, std::nullopt, "c1"),
         R"({"content":"t","role":"tool","tool_call_id":"c1"})"},
        {"user parts",
         *Message::make(Role::user,
                        std::vector<VisionContent>{TextPart{.text = "hi"},
                                                   ImagePart{.imageUrl = {"https://x/y.png", ImageURL::Detail::low}}}),
         R"({"content":[{"text":"hi","type":"text"},{"image_url":{"url":"https://x/y.png","detail":"low"},)"
         R"("type":"image_url"}],"role":"user"})"},
        {"user empty parts", *Message::make(Role::user, std::vector<VisionContent>{}),
         R"({"content":[],"role":"user"})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(encodeJson(c.message), c.json);
    }
}

TEST(ChatMessageEncoding, DetailWritesItsRawValue)
{
    EXPECT_EQ(encodeJson(ImageURL{"u", ImageURL::Detail::auto_}), R"({"url":"u","detail":"auto"})");
    EXPECT_EQ(encodeJson(ImageURL{"u", ImageURL::Detail::high}), R"({"url":"u","detail":"high"})");
    EXPECT_EQ(allCases<ImageURL::Detail>().size(), 3u);
}

TEST(ChatMessageConstruction, FailableInitialiserNeedsTheFieldsOfItsRole)
{
    EXPECT_FALSE(Message::make(Role::system, std::nullopt));
    EXPECT_FALSE(Message::make(Role::user, std::nullopt));
    EXPECT_FALSE(Message::make(Role::tool, "t"));
    EXPECT_FALSE(Message::make(Role::tool, std::nullopt, std::nullopt, std::nullopt, "c1"));
    EXPECT_TRUE(Message::make(Role::assistant, std::nullopt));
    for (const Role role : {Role::system, Role::assistant, Role::tool})
        EXPECT_FALSE(Message::make(role, std::vector<VisionContent>{}));

    // Fields the role does not carry are dropped silently.
    const auto system = Message::make(Role::system, "s", "n", std::vector<ToolCall>{toolCall()}, "c1");
    ASSERT_TRUE(system);
    EXPECT_EQ(system->role(), Role::system);
    EXPECT_FALSE(system->toolCalls());
    EXPECT_FALSE(system->toolCallId());
    EXPECT_EQ(system->name(), "n");
}

TEST(ChatMessageConstruction, AccessorsReadThroughEveryKind)
{
    const auto user = *Message::make(Role::user, "u", "me");
    EXPECT_EQ(user.content(), Content::string("u"));
    EXPECT_EQ(user.content()->text(), "u");

    const auto vision = *Message::make(Role::user, std::vector<VisionContent>{TextPart{.text = "t"}});
    ASSERT_TRUE(vision.content());
    EXPECT_FALSE(vision.content()->text());

    const auto tool = *Message::make(Role::tool, "t", std::nullopt, std::nullopt, "c1");
    EXPECT_EQ(tool.content()->text(), "t");
    EXPECT_EQ(tool.toolCallId(), "c1");
    EXPECT_FALSE(tool.name());

    const auto assistant = *Message::make(Role::assistant, std::nullopt, "bot", std::vector<ToolCall>{toolCall()});
    EXPECT_FALSE(assistant.content());
    EXPECT_EQ(assistant.name(), "bot");
    EXPECT_EQ(assistant.toolCalls()->size(), 1u);

    const VisionContent image = ImagePart{.imageUrl = {"u", ImageURL::Detail::low}};
    EXPECT_FALSE(image.text());
    EXPECT_EQ(image.imageUrl()->url, "u");
    EXPECT_EQ(VisionContent(TextPart{.text = "x"}).text(), "x");
}

TEST(ChatMessageConstruction, JpegDataBecomesABase64DataUrl)
{
    struct Case {
        std::vector<std::uint8_t> bytes;
        const char* url;
    };
    for (const Case& c : std::vector<Case>{{{}, "data:image/jpeg;base64,"},
                                           {{0xFF}, "data:image/jpeg;base64,/w=="},
                                           {{0xFF, 0xD8, 0xFF}, "data:image/jpeg;base64,/9j/"}}) {
        const ImageURL url = ImageURL::fromJpegData(c.bytes, ImageURL::Detail::high);
        EXPECT_EQ(url.url, c.url);
        EXPECT_EQ(url.detail, ImageURL::Detail::high);
    }
}

TEST(ChatMessageEquality, ComparesKindAndEveryField)
{
    EXPECT_EQ(*Message::make(Role::system, "caf\u00E9"), *Message::make(Role::system, "cafe\u0301"));
    EXPECT_NE(*Message::make(Role::system, "a"), *Message::make(Role::user, "a"));
    EXPECT_NE(*Message::make(Role::system, "a"), *Message::make(Role::system, "a", "n"));
    // Text content never equals a list of parts, even one holding the same text.
    EXPECT_NE(*Message::make(Role::user, "a"),
              *Message::make(Role::user, std::vector<VisionContent>{TextPart{.text = "a"}}));
    EXPECT_NE(Content::vision({TextPart{.text = "a"}}),
              Content::vision({TextPart{.text = "a"}, TextPart{.text = "a"}}));
    ToolCall other = toolCall();
    other.function.arguments = "{}";
    EXPECT_NE(*Message::make(Role::assistant, std::nullopt, std::nullopt, std::vector<ToolCall>{toolCall()}),
              *Message::make(Role::assistant, std::nullopt, std::nullopt, std::vector<ToolCall>{other}));
}

} // namespace
} // namespace aiclient
