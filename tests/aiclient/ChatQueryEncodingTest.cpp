#include "aiclient/ChatQuery.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

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

} // namespace
} // namespace aiclient
