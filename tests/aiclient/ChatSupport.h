#pragma once

// Chat answers, chunks and a stream recorder shared by the tests that call the client's chat operations.

#include "LoopbackServer.h"
#include "aiclient/OpenAI.h"

#include <future>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace aiclient::testing {

/// A key whose text no log line or error may carry.
inline const std::string key = "sk-test-SECRETKEY";

/// A complete chat answer whose one choice holds a short JSON text.
inline const std::string chatAnswer =
    R"({"id":"chatcmpl-9x","object":"chat.completion","created":1717000000,"model":"gpt-4o-2024-05-13",)"
    R"("choices":[{"index":0,"message":{"role":"assistant","content":"{\"name\":\"Terminal session\"}"},)"
    R"("logprobs":null,"finish_reason":"stop"}],"usage":{"prompt_tokens":812,"completion_tokens":21,)"
    R"("total_tokens":833},"system_fingerprint":"fp_3aa7262c27"})";

/// One chunk of a streamed chat answer whose delta holds `text`.
inline std::string chunk(const std::string& text)
{
    nlohmann::json json = {{"id", "chatcmpl-9y"},
                           {"object", "chat.completion.chunk"},
                           {"created", 1717000001},
                           {"model", "gpt-4o"},
                           {"choices", {{{"index", 0}, {"delta", {{"content", text}}}, {"finish_reason", nullptr}}}}};
    return json.dump();
}

inline ChatQuery query()
{
    return ChatQuery{.messages = {*ChatCompletionMessageParam::make(ChatCompletionMessageParam::Role::user, "hi")},
                     .model = "gpt-4o"};
}

inline Configuration loopbackConfiguration(const LoopbackServer& server, double timeout = 10)
{
    return Configuration(key, std::string("org-7"), "127.0.0.1", server.port(), "http", timeout);
}

inline std::string contentOf(const ChatStreamResult& result)
{
    return result.choices.at(0).delta.content.value_or("");
}

/// Collects everything a streamed call reports, and waits for its end.
struct StreamRecord {
    std::mutex mutex;
    std::vector<std::string> contents;
    std::vector<std::exception_ptr> errors;
    std::promise<std::exception_ptr> completed;

    Completion<ChatStreamResult> onResult()
    {
        return [this](Outcome<ChatStreamResult> result) {
            std::lock_guard lock(mutex);
            if (result.ok()) {
                contents.push_back(contentOf(result.value()));
            } else {
                errors.push_back(result.error());
            }
        };
    }
    StreamCompletion onComplete()
    {
        return [this](std::exception_ptr error) { completed.set_value(error); };
    }
};

} // namespace aiclient::testing
