#include "aiclient/ChatResult.h"

#include "aiclient/ChatStreamResult.h"

#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

namespace aiclient {
namespace {

using Kind = DecodingError::Kind;
using Role = ChatCompletionMessageParam::Role;
using FinishReason = ChatResult::Choice::FinishReason;

// An answer of the service to the screenshot analysis, with the members it sends today.
constexpr const char* serviceAnswer = R"({
  "id": "chatcmpl-9xYz", "object": "chat.completion", "created": 1718000000, "model": "gpt-4o-2024-05-13",
  "choices": [{"index": 0, "message": {"role": "assistant",
      "content": "{\"name\": \"Build Log\", \"description\": \"A failing build.\", \"keywords\": \"build log ci error\"}",
      "refusal": null}, "logprobs": null, "finish_reason": "stop"}],
  "usage": {"prompt_tokens": 812, "completion_tokens": 31, "total_tokens": 843},
  "system_fingerprint": "fp_3aa7262c27"})";

DecodingError::Kind failureKind(const std::string& json, bool stream = false)
{
    try {
        if (stream)
            decodeJson<ChatStreamResult>(json);
        else
            decodeJson<ChatResult>(json);
    } catch (const DecodingError& error) {
        return error.kind();
    }
    ADD_FAILURE() << "decoded: " << json;
    return Kind::dataCorrupted;
}

std::string resultWithChoice(const std::string& choice)
{
    return R"({"id": "i", "object": "o", "created": 1, "model": "m", "choices": [)" + choice + "]}";
}

TEST(ChatResultDecoding, ReadsARealAnswer)
{
    const auto result = decodeJson<ChatResult>(serviceAnswer);
    EXPECT_EQ(result.id, "chatcmpl-9xYz");
    EXPECT_EQ(result.created, 1718000000.0);
    ASSERT_EQ(result.choices.size(), 1u);
    const ChatResult::Choice& choice = result.choices[0];
    EXPECT_EQ(choice.message.role(), Role::assistant);
    EXPECT_EQ(choice.message.content()->text()->substr(0, 9), R"({"name": )");
    EXPECT_EQ(choice.finishReason, "stop");
    EXPECT_FALSE(choice.logprobs);
    EXPECT_EQ(result.usage, (ChatResult::CompletionUsage{31, 812, 843}));
    EXPECT_EQ(result.systemFingerprint, "fp_3aa7262c27");
}

TEST(ChatResultDecoding, KeepsOptionalPartsAbsentAndUnknownFinishReasonsAsText)
{
    const auto empty = decodeJson<ChatResult>(R"({"id": "i", "object": "o", "created": 1.5, "model": "m",
                                                  "choices": [], "usage": null})");
    EXPECT_TRUE(empty.choices.empty());
    EXPECT_FALSE(empty.usage);
    EXPECT_FALSE(empty.systemFingerprint);

    const auto odd = decodeJson<ChatResult>(
        resultWithChoice(R"({"index": 0, "message": {"role": "assistant"}, "finish_reason": "eos"})"));
    EXPECT_EQ(odd.choices[0].finishReason, "eos");
    EXPECT_FALSE(fromRawValue<FinishReason>("eos"));
    EXPECT_EQ(fromRawValue<FinishReason>("tool_calls"), FinishReason::toolCalls);
    EXPECT_THROW(decodeJson<FinishReason>(R"("eos")"), DecodingError);

    const auto logprobs = decodeJson<ChatResult>(resultWithChoice(
        R"({"index": 0, "message": {"role": "assistant"}, "logprobs": {"content": [{"token": "a", "logprob": -0.5,
            "bytes": [97], "top_logprobs": [{"token": "a", "logprob": -0.5}]}]}})"));
    EXPECT_EQ(logprobs.choices[0].logprobs->content->at(0).topLogprobs.at(0).token, "a");
    EXPECT_FALSE(decodeJson<ChatResult>(resultWithChoice(R"({"index": 0, "message": {"role": "assistant"},
                                                             "logprobs": {"content": null}})"))
                     .choices[0]
                     .logprobs->content);
}

TEST(ChatResultDecoding, FailsTheWholeAnswerAtAnyBadMember)
{
    struct Case {
        const char* name;
        std::string json;
        Kind kind;
    };
    const std::vector<Case> cases{
        {"error envelope", R"({"error": {"message": "Incorrect API key provided.", "type": "invalid_request_error",
                              "param": null, "code": "invalid_api_key"}})",
         Kind::keyNotFound},
        {"no choices", R"({"id": "i", "object": "o", "created": 1, "model": "m"})", Kind::keyNotFound},
        {"null model", R"({"id": "i", "object": "o", "created": 1, "model": null, "choices": []})",
         Kind::valueNotFound},
        {"created as text", R"({"id": "i", "object": "o", "created": "1", "model": "m", "choices": []})",
         Kind::typeMismatch},
        {"usage without total", R"({"id": "i", "object": "o", "created": 1, "model": "m", "choices": [],
                                    "usage": {"prompt_tokens": 1, "completion_tokens": 1}})",
         Kind::keyNotFound},
        {"unknown role", resultWithChoice(R"({"index": 0, "message": {"role": "developer", "content": "x"}})"),
         Kind::dataCorrupted},
        {"no message", resultWithChoice(R"({"index": 0})"), Kind::keyNotFound},
        {"token without top logprobs", resultWithChoice(R"({"index": 0, "message": {"role": "assistant"},
                                           "logprobs": {"content": [{"token": "a", "logprob": -1}]}})"),
         Kind::keyNotFound},
        {"numeric user content", resultWithChoice(R"({"index": 0, "message": {"role": "user", "content": 3}})"),
         Kind::typeMismatch},
        {"cut off", std::string(serviceAnswer).substr(0, 120), Kind::dataCorrupted},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(failureKind(c.json), c.kind);
    }
}

TEST(ChatResultEncoding, WritesDeclaredOrderAndLeavesAbsentFieldsOut)
{
    auto result =
        decodeJson<ChatResult>(resultWithChoice(R"({"index": 0, "message": {"role": "assistant", "content": "hi"}})"));
    EXPECT_EQ(encodeJson(result), R"({"id":"i","object":"o","created":1.0,"model":"m","choices":[{"index":0,)"
                                  R"("message":{"role":"assistant","content":"hi"}}]})");
    const auto full = decodeJson<ChatResult>(serviceAnswer);
    EXPECT_EQ(decodeJson<ChatResult>(encodeJson(full)), full);
    result.created = std::numeric_limits<double>::infinity();
    EXPECT_THROW(encodeJson(result), EncodingError);
}

// Chunks as the service streams them: a role, then tool-call fragments, then the end of the choice.
constexpr const char* roleChunk =
    R"({"id":"chatcmpl-1","object":"chat.completion.chunk","created":1718000001,"model":"gpt-4o",)"
    R"("system_fingerprint":null,"choices":[{"index":0,"delta":{"role":"assistant","content":null},)"
    R"("logprobs":null,"finish_reason":null}]})";
constexpr const char* toolCallChunk =
    R"({"id":"chatcmpl-1","object":"chat.completion.chunk","created":1718000001,"model":"gpt-4o",)"
    R"("choices":[{"index":0,"delta":{"tool_calls":[{"index":0,"id":"call_abc","type":"function",)"
    R"("function":{"name":"get_weather","arguments":""}}]},"finish_reason":null}]})";
constexpr const char* argumentsChunk =
    R"({"id":"chatcmpl-1","object":"chat.completion.chunk","created":1718000001,"model":"gpt-4o",)"
    R"("choices":[{"index":0,"delta":{"tool_calls":[{"index":0,"function":{"arguments":"{\"city\":"}}]}}]})";
constexpr const char* finalChunk =
    R"({"id":"chatcmpl-1","object":"chat.completion.chunk","created":1718000001,"model":"gpt-4o",)"
    R"("choices":[{"index":0,"delta":{},"logprobs":{},"finish_reason":"tool_calls"}]})";

TEST(ChatStreamResultDecoding, ReadsRoleToolCallFragmentsAndTheEnd)
{
    const auto role = decodeJson<ChatStreamResult>(roleChunk);
    EXPECT_EQ(role.choices.at(0).delta.role, Role::assistant);
    EXPECT_FALSE(role.choices[0].delta.content);
    EXPECT_FALSE(role.systemFingerprint);
    EXPECT_FALSE(role.choices[0].finishReason);

    const auto call = decodeJson<ChatStreamResult>(toolCallChunk).choices.at(0).delta.toolCalls->at(0);
    EXPECT_EQ(call.id, "call_abc");
    EXPECT_EQ(call.type, "function");
    EXPECT_EQ(call.function->name, "get_weather");
    EXPECT_EQ(call.function->arguments, "");

    const auto fragment = decodeJson<ChatStreamResult>(argumentsChunk).choices.at(0).delta.toolCalls->at(0);
    EXPECT_FALSE(fragment.id);
    EXPECT_FALSE(fragment.function->name);
    EXPECT_EQ(fragment.function->arguments, R"({"city":)");

    const auto last = decodeJson<ChatStreamResult>(finalChunk).choices.at(0);
    EXPECT_EQ(last.finishReason, FinishReason::toolCalls);
    ASSERT_TRUE(last.logprobs);
    EXPECT_FALSE(last.logprobs->content);
    EXPECT_EQ(last.delta, ChatStreamResult::Choice::ChoiceDelta{});
}

TEST(ChatStreamResultDecoding, FailsTheChunkAtAnyBadMember)
{
    const std::string head = R"({"id":"c","object":"chat.completion.chunk","created":1,"model":"m","choices":)";
    struct Case {
        const char* name;
        std::string json;
        Kind kind;
    };
    const std::vector<Case> cases{
        {"error object", R"({"error": {"message": "Rate limit reached", "type": "requests"}})", Kind::keyNotFound},
        {"no choices", R"({"id":"c","object":"o","created":1,"model":"m"})", Kind::keyNotFound},
        {"no delta", head + R"([{"index":0}]})", Kind::keyNotFound},
        {"unknown finish reason", head + R"([{"index":0,"delta":{},"finish_reason":"eos"}]})", Kind::dataCorrupted},
        {"unknown role", head + R"([{"index":0,"delta":{"role":"developer"}}]})", Kind::dataCorrupted},
        {"tool call without index", head + R"([{"index":0,"delta":{"tool_calls":[{"id":"x"}]}}]})", Kind::keyNotFound},
        {"cut off", std::string(toolCallChunk).substr(0, 90), Kind::dataCorrupted},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(failureKind(c.json, true), c.kind);
    }
    try {
        decodeJson<ChatStreamResult>(cases[0].json);
    } catch (const DecodingError& error) {
        EXPECT_EQ(error.key(), CodingKey::key("id"));
    }
    const auto ignored = decodeJson<ChatStreamResult>(head + R"([{"index":0,"delta":{},"logprobs":{"content":[
        {"token":"a","logprob":-1,"top_logprobs":[{"token":"a","logprob":-1,"top_logprobs":5}]}]}}]})");
    EXPECT_EQ(ignored.choices[0].logprobs->content->at(0).topLogprobs->size(), 1u);
    EXPECT_EQ(decodeJson<ChatStreamResult>(head + R"([{"index":0,"delta":{"tool_calls":[{"index":1,"type":"x"}]}}]})")
                  .choices[0]
                  .delta.toolCalls->at(0)
                  .type,
              "x");
}

TEST(ChatStreamResultEncoding, RoundTripsAndLeavesAbsentFieldsOut)
{
    for (const char* chunk : {roleChunk, toolCallChunk, argumentsChunk, finalChunk}) {
        const auto decoded = decodeJson<ChatStreamResult>(chunk);
        EXPECT_EQ(decodeJson<ChatStreamResult>(encodeJson(decoded)), decoded);
    }
    EXPECT_EQ(encodeJson(decodeJson<ChatStreamResult>(argumentsChunk)),
              R"({"id":"chatcmpl-1","object":"chat.completion.chunk","created":1718000001.0,"model":"gpt-4o",)"
              R"("choices":[{"index":0,"delta":{"tool_calls":[{"index":0,"function":{"arguments":"{\"city\":"}}]}}]})");
    EXPECT_NE(decodeJson<ChatStreamResult>(roleChunk), decodeJson<ChatStreamResult>(finalChunk));
}

} // namespace
} // namespace aiclient
