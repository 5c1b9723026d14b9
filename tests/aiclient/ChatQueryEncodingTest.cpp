#include "aiclient/ChatQuery.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <string>
#include <vector>

namespace aiclient {
namespace {

using Message = ChatQuery::ChatCompletionMessageParam;
using Role = Message::Role;
using VisionContent = Message::VisionContent;
using ImagePart = VisionContent::ChatCompletionContentPartImageParam;
using ImageURL = ImagePart::ImageURL;
using TextPart = VisionContent::ChatCompletionContentPartTextParam;
using ToolChoice = ChatQuery::ChatCompletionFunctionCallOptionParam;
using Tool = ChatQuery::ChatCompletionToolParam;
using FunctionDefinition = Tool::FunctionDefinition;
using FunctionParameters = FunctionDefinition::FunctionParameters;
using Property = FunctionParameters::Property;
using JSONType = FunctionParameters::JSONType;

ChatQuery minimalQuery()
{
    return ChatQuery{.messages = {}, .model = "gpt-4o"};
}

TEST(ChatQueryEncoding, ScreenshotAnalysisRequestHasTheExactShape)
{
    const std::string jpeg("\xFF\xD8\xFF", 3);
    std::vector<Message> messages{*Message::make(Role::system, "Name the screenshot."),
                                  *Message::make(Role::system, "Summarise it.")};
    messages.push_back(*Message::make(
        Role::user,
        std::vector<VisionContent>{ImagePart{.imageUrl = ImageURL::fromJpegData(jpeg, ImageURL::Detail::auto_)}}));
    const ChatQuery query{.messages = messages,
                          .model = "gpt-4o",
                          .maxTokens = 2000,
                          .responseFormat = ChatQuery::ResponseFormat::jsonObject,
                          .temperature = 1.0,
                          .stream = false};

    EXPECT_EQ(encodeJson(query),
              R"({"messages":[{"content":"Name the screenshot.","role":"system"},)"
              R"({"content":"Summarise it.","role":"system"},)"
              R"({"content":[{"image_url":{"url":"data:image/jpeg;base64,/9j/","detail":"auto"},"type":"image_url"}],)"
              R"("role":"user"}],"model":"gpt-4o","max_tokens":2000,"response_format":{"type":"json_object"},)"
              R"("temperature":1.0,"stream":false})");
}

TEST(ChatQueryEncoding, MinimalQueryWritesOnlyRequiredMembers)
{
    EXPECT_EQ(encodeJson(minimalQuery()), R"({"messages":[],"model":"gpt-4o","stream":false})");
}

TEST(ChatQueryEncoding, NonFiniteFloatOptionMakesEncodingFail)
{
    for (const double bad : {std::nan(""), std::numeric_limits<double>::infinity()}) {
        ChatQuery query = minimalQuery();
        query.topP = bad;
        EXPECT_THROW(encodeJson(query), EncodingError);
    }
}

TEST(ChatQueryEncoding, OptionsWriteInFieldOrderInTheirOwnForms)
{
    ChatQuery query = minimalQuery();
    query.frequencyPenalty = 0.5;
    query.logitBias = std::map<std::string, std::int64_t>{};
    query.logprobs = true;
    query.n = 2;
    query.presencePenalty = -1.25;
    query.responseFormat = ChatQuery::ResponseFormat::text;
    query.seed = 7;
    query.stop = ChatQuery::Stop::string("END");
    query.toolChoice = ToolChoice::auto_();
    query.tools = std::vector<Tool>{};
    query.topLogprobs = 3;
    query.topP = 0.9;
    query.user = "u1";
    query.stream = true;
    EXPECT_EQ(encodeJson(query), R"({"messages":[],"model":"gpt-4o","frequency_penalty":0.5,"logit_bias":{},)"
                                 R"("logprobs":true,"n":2,"presence_penalty":-1.25,"response_format":{"type":"text"},)"
                                 R"("seed":7,"stop":"END","tool_choice":"auto","tools":[],"top_logprobs":3,)"
                                 R"("top_p":0.9,"user":"u1","stream":true})");
}

TEST(ChatQueryEncoding, EnumerationsWithPayloadsWriteThePayloadAlone)
{
    struct Case {
        const char* name;
        OrderedJson json;
        const char* text;
    };
    const std::vector<Case> cases{
        {"stop string", ChatQuery::Stop::string("END"), R"("END")"},
        {"stop list", ChatQuery::Stop::stringList({"a", "b"}), R"(["a","b"])"},
        {"stop empty list", ChatQuery::Stop::stringList({}), "[]"},
        {"tool choice none", ToolChoice::none(), R"("none")"},
        {"tool choice auto", ToolChoice::auto_(), R"("auto")"},
        {"tool choice function", ToolChoice::function("f"), R"({"type":"function","function":{"name":"f"}})"},
        {"response format", ChatQuery::ResponseFormat::jsonObject, R"({"type":"json_object"})"},
        {"logit bias", std::map<std::string, std::int64_t>{{"50256", -100}}, R"({"50256":-100})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.json.dump(), c.text);
    }
}

TEST(ChatToolEncoding, WritesDefinitionsWithOnlyThePresentSchemaFields)
{
    EXPECT_EQ(encodeJson(Tool{.function = {.name = "f"}}), R"({"function":{"name":"f"},"type":"function"})");
    EXPECT_EQ(encodeJson(FunctionDefinition{.name = "f", .parameters = FunctionParameters{.type = JSONType::object}}),
              R"({"name":"f","parameters":{"type":"object"}})");
    EXPECT_EQ(encodeJson(Property{.type = JSONType::null, .minimum = 0.5}), R"({"type":"null","minimum":0.5})");
    EXPECT_EQ(encodeJson(FunctionParameters{.type = JSONType::object,
                                            .properties = std::map<std::string, Property>{},
                                            .required = std::vector<std::string>{},
                                            .const_ = "c",
                                            .enum_ = std::vector<std::string>{"x"},
                                            .multipleOf = 2,
                                            .minimum = 1,
                                            .maximum = 9}),
              R"({"type":"object","properties":{},"required":[],"const":"c","enum":["x"],"multipleOf":2,)"
              R"("minimum":1,"maximum":9})");
}

TEST(ChatToolEncoding, NestedSchemasAreWrittenToFullDepth)
{
    Property::Items items{
        .type = JSONType::object,
        .properties =
            std::map<std::string, Property>{
                {"tags",
                 Property{.type = JSONType::array, .items = Property::Items{.type = JSONType::string, .minItems = 1}}}},
        .uniqueItems = true};
    const FunctionParameters parameters{.type = JSONType::object,
                                        .properties = std::map<std::string, Property>{
                                            {"rows", Property{.type = JSONType::array,
                                                              .description = "Rows",
                                                              .items = items,
                                                              .required = std::vector<std::string>{"tags"}}}}};
    EXPECT_EQ(encodeJson(parameters),
              R"({"type":"object","properties":{"rows":{"type":"array","description":"Rows","items":{"type":"object",)"
              R"("properties":{"tags":{"type":"array","items":{"type":"string","minItems":1}}},"uniqueItems":true},)"
              R"("required":["tags"]}}})");
}

TEST(ChatToolEquality, ComparesEveryFieldAndMapsWhateverTheirOrder)
{
    std::map<std::string, Property> a{{"x", Property{.type = JSONType::string}},
                                      {"y", Property{.type = JSONType::number}}};
    std::map<std::string, Property> b;
    b.emplace("y", Property{.type = JSONType::number});
    b.emplace("x", Property{.type = JSONType::string});
    const auto withProperties = [](std::map<std::string, Property> properties) {
        return FunctionParameters{.type = JSONType::object, .properties = std::move(properties)};
    };
    EXPECT_EQ(withProperties(a), withProperties(b));
    b["x"].format = "date";
    EXPECT_NE(withProperties(a), withProperties(b));
    EXPECT_NE(Property{.minimum = 1.0}, Property{});
    EXPECT_EQ(Property{.minimum = 0.0}, Property{.minimum = -0.0});
    EXPECT_EQ(fromRawValue<JSONType>("null"), JSONType::null);
    EXPECT_FALSE(fromRawValue<JSONType>("Null"));
}

} // namespace
} // namespace aiclient
