#include "aiclient/ChatQuery.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace aiclient {
namespace {

using Kind = DecodingError::Kind;
using Message = ChatQuery::ChatCompletionMessageParam;
using Role = Message::Role;
using VisionContent = Message::VisionContent;
using TextPart = VisionContent::ChatCompletionContentPartTextParam;
using ImageURL = VisionContent::ChatCompletionContentPartImageParam::ImageURL;
using ToolChoice = ChatQuery::ChatCompletionFunctionCallOptionParam;
using FunctionParameters = ChatQuery::ChatCompletionToolParam::FunctionDefinition::FunctionParameters;
using Property = FunctionParameters::Property;

struct FailureCase {
    const char* name;
    const char* json;
    Kind kind;
    /// The missing key for key not found, else the expected description when not empty.
    std::string detail;
};

template <class T> void expectFailures(const std::vector<FailureCase>& cases)
{
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            decodeJson<T>(c.json);
            ADD_FAILURE() << "decoded";
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), c.kind) << error.what();
            if (c.kind == Kind::keyNotFound) {
                EXPECT_EQ(error.key()->stringValue, c.detail);
            } else if (!c.detail.empty()) {
                EXPECT_EQ(error.debugDescription(), c.detail);
            }
        }
    }
}

TEST(ChatQueryDecoding, ReadsRequiredFieldsAndTreatsNullOptionsAsAbsent)
{
    const auto query = decodeJson<ChatQuery>(R"({"messages": [], "model": "gpt-4o", "stream": false,
                                                "temperature": null, "unknown": 1})");
    EXPECT_EQ(query, (ChatQuery{.messages = {}, .model = "gpt-4o"}));

    const auto full = decodeJson<ChatQuery>(R"({"messages": [{"role": "system", "content": "s"}], "model": "m",
        "frequency_penalty": 1, "logit_bias": {"1": -5}, "logprobs": true, "max_tokens": 10, "n": 1,
        "presence_penalty": 0.5, "response_format": "json_object", "seed": 3, "stop": {"stringList": {"_0": ["a"]}},
        "temperature": 0.2, "tool_choice": {"name": {"_0": "f"}}, "tools": [{"function": {"name": "f"}, "type": "function"}],
        "top_logprobs": 2, "top_p": 1, "user": "u", "stream": true})");
    EXPECT_EQ(full.messages, std::vector<Message>{*Message::make(Role::system, "s")});
    EXPECT_EQ(full.logitBias->at("1"), -5);
    EXPECT_EQ(full.responseFormat, ChatQuery::ResponseFormat::jsonObject);
    EXPECT_EQ(full.stop, ChatQuery::Stop::stringList({"a"}));
    EXPECT_EQ(full.toolChoice, ToolChoice::function("f"));
    EXPECT_EQ(full.tools->at(0).function.name, "f");
    EXPECT_EQ(full.topP, 1.0);
    EXPECT_TRUE(full.stream);
}

TEST(ChatQueryDecoding, FailsAtTheFirstBadMemberWithItsKind)
{
    expectFailures<ChatQuery>({
        {"no stream", R"({"messages": [], "model": "m"})", Kind::keyNotFound, "stream"},
        {"null stream", R"({"messages": [], "model": "m", "stream": null})", Kind::valueNotFound, ""},
        {"text temperature", R"({"messages": [], "model": "m", "temperature": "1", "stream": false})",
         Kind::typeMismatch, ""},
        {"number as Boolean", R"({"messages": [], "model": "m", "stream": 0})", Kind::typeMismatch, ""},
        {"fractional max tokens", R"({"messages": [], "model": "m", "max_tokens": 1.5, "stream": false})",
         Kind::dataCorrupted, ""},
        {"first bad member wins", R"({"messages": [{"role": "x"}], "stream": 1})", Kind::dataCorrupted, ""},
        {"response format as written", R"({"messages": [], "model": "m", "response_format": {"type": "text"},
          "stream": false})",
         Kind::typeMismatch, ""},
        {"unknown response format", R"({"messages": [], "model": "m", "response_format": "xml", "stream": false})",
         Kind::dataCorrupted, ""},
    });
}

TEST(ChatMessageDecoding, ReadsTheRoleThenThePayloadOfThatRole)
{
    EXPECT_EQ(decodeJson<Message>(R"({"role": "assistant", "content": null})"),
              *Message::make(Role::assistant, std::nullopt));
    const auto withCall = decodeJson<Message>(R"({"role": "assistant", "content": "x", "tool_calls":
        [{"id": "c1", "type": "function", "function": {"name": "f", "arguments": "{}"}}]})");
    ASSERT_EQ(withCall.toolCalls()->size(), 1u);
    EXPECT_EQ(withCall.toolCalls()->at(0).function.name, "f");
    EXPECT_EQ(decodeJson<Message>(R"({"role": "system", "content": "s", "tool_call_id": "ignored"})"),
              *Message::make(Role::system, "s"));
    EXPECT_EQ(decodeJson<Message>(R"({"role": "user", "content": [{"chatCompletionContentPartTextParam":
                                      {"_0": {"text": "hi", "type": "text"}}}]})"),
              *Message::make(Role::user, std::vector<VisionContent>{TextPart{.text = "hi"}}));
    EXPECT_EQ(decodeJson<Message>(R"({"role": "tool", "content": "r", "tool_call_id": "c1"})").toolCallId(), "c1");
}

TEST(ChatMessageDecoding, RefusesMissingFieldsUnknownRolesAndUnreadableContent)
{
    expectFailures<Message>({
        {"system without content", R"({"role": "system"})", Kind::keyNotFound, "content"},
        {"tool without id", R"({"role": "tool", "content": "x"})", Kind::keyNotFound, "tool_call_id"},
        {"no role", R"({"content": "x"})", Kind::keyNotFound, "role"},
        {"unknown role before anything else", R"({"role": "function"})", Kind::dataCorrupted,
         "Cannot initialize Role from invalid String value function"},
        {"tool call of another type", R"({"role": "assistant", "tool_calls": [{"id": "c", "type": "code",
          "function": {"name": "f", "arguments": ""}}]})",
         Kind::dataCorrupted, ""},
        {"numeric user content", R"({"role": "user", "content": 5})", Kind::typeMismatch,
         "Content: expected String || Vision"},
        {"bare parts are not the read form", R"({"role": "user", "content": [{"text": "hi", "type": "text"}]})",
         Kind::typeMismatch, "Content: expected String || Vision"},
    });
    try {
        decodeJson<Message>(R"({"role": "user", "content": 5})");
    } catch (const DecodingError& error) {
        EXPECT_EQ(error.codingPath(), (CodingPath{CodingKey::key("string"), CodingKey::key("vision")}));
        EXPECT_EQ(error.type(), "Content");
    }
}

TEST(OneKeyFormDecoding, ReadsTheCaseFromItsOnlyKey)
{
    EXPECT_EQ(decodeJson<ChatQuery::Stop>(R"({"string": {"_0": "END"}})"), ChatQuery::Stop::string("END"));
    EXPECT_EQ(decodeJson<ToolChoice>(R"({"none": {}})"), ToolChoice::none());
    EXPECT_EQ(decodeJson<ToolChoice>(R"({"auto": {"x": 1}, "other": 2})"), ToolChoice::auto_());
    EXPECT_EQ(decodeJson<ToolChoice::ChatCompletionFunctionCallNameParam>(R"({"function": {}})"),
              ToolChoice::ChatCompletionFunctionCallNameParam::function);
    EXPECT_EQ(decodeJson<VisionContent>(R"({"chatCompletionContentPartImageParam": {"_0":
                  {"image_url": {"url": "u", "detail": "low"}, "type": "anything"}}})")
                  .imageUrl(),
              (ImageURL{"u", ImageURL::Detail::low}));

    const std::string invalidCount = "Invalid number of keys found, expected one.";
    expectFailures<ChatQuery::Stop>({
        {"bare string", R"("END")", Kind::typeMismatch, ""},
        {"two case keys", R"({"string": {"_0": "a"}, "stringList": {"_0": []}})", Kind::typeMismatch, invalidCount},
        {"payload not an object", R"({"string": "END"})", Kind::typeMismatch, ""},
        {"no payload", R"({"string": {}})", Kind::keyNotFound, "_0"},
    });
    expectFailures<ToolChoice>(
        {{"function is no case key", R"({"function": {"_0": "f"}})", Kind::typeMismatch, invalidCount}});
    expectFailures<VisionContent>(
        {{"bare part", R"({"text": "hi", "type": "text"})", Kind::typeMismatch, invalidCount}});
    expectFailures<ImageURL>({{"no detail", R"({"url": "u"})", Kind::keyNotFound, "detail"}});
}

TEST(ChatToolDecoding, ReadsSchemasStrictlyAndToAnyDepth)
{
    const auto property = decodeJson<Property>(R"({"type": "array", "minimum": 1.5,
        "items": {"type": "object", "properties": {"p": {"type": "string", "uniqueItems": false}}}})");
    EXPECT_EQ(property.minimum, 1.5);
    EXPECT_EQ(property.items->properties->at("p").uniqueItems, false);
    expectFailures<FunctionParameters>({
        {"fractional integer bound", R"({"type": "object", "minimum": 1.5})", Kind::dataCorrupted, ""},
        {"unknown JSON type", R"({"type": "float"})", Kind::dataCorrupted, ""},
        {"JSON null is not the type null", R"({"type": null})", Kind::valueNotFound, ""},
        {"bad nested property", R"({"type": "object", "properties": {"a": {"type": "string", "minItems": "1"}}})",
         Kind::typeMismatch, ""},
    });
}

TEST(ChatQueryEquality, ComparesAllEighteenFields)
{
    ChatQuery a{.messages = {*Message::make(Role::user, "a")}, .model = "m"};
    ChatQuery b = a;
    EXPECT_EQ(a, b);
    b.stream = true;
    EXPECT_NE(a, b);

    a.temperature = std::nan("");
    b = a;
    EXPECT_NE(a, b);
    EXPECT_NE(a, a); // NaN equals nothing, itself included

    ChatQuery c{.model = "m", .logitBias = std::map<std::string, std::int64_t>{{"caf\u00E9", 1}}};
    ChatQuery d{.model = "m", .logitBias = std::map<std::string, std::int64_t>{{"cafe\u0301", 1}}};
    EXPECT_EQ(c, d);
    EXPECT_NE(ChatQuery::Stop::string("a"), ChatQuery::Stop::stringList({"a"}));
    EXPECT_NE(ToolChoice::function("f"), ToolChoice::function("g"));
    EXPECT_NE(ToolChoice::none(), ToolChoice::auto_());
}

TEST(ChatQueryDecoding, ReadsBackWhatItWritesWhereBothFormsAgree)
{
    ChatQuery query{.messages = {*Message::make(Role::system, "s", "n"),
                                 *Message::make(Role::assistant, "a", std::nullopt,
                                                std::vector<Message::ToolCall>{{.id = "1", .function = {"{}", "f"}}}),
                                 *Message::make(Role::tool, "r", std::nullopt, std::nullopt, "1")},
                    .model = "m",
                    .maxTokens = 5,
                    .temperature = 0.25,
                    .stream = true};
    EXPECT_EQ(decodeJson<ChatQuery>(encodeJson(query)), query);
}

} // namespace
} // namespace aiclient
