#include "ChatSupport.h"
#include "TestSupport.h"
#include "aiclient/OpenAI.h"

#include <atomic>
#include <cmath>
#include <gtest/gtest.h>
#include <random>

using namespace aiclient;
using aiclient::testing::chatAnswer;
using aiclient::testing::chunk;
using aiclient::testing::contentOf;
using aiclient::testing::errorOf;
using aiclient::testing::FakeSession;
using aiclient::testing::key;
using aiclient::testing::loopbackConfiguration;
using aiclient::testing::LoopbackServer;
using aiclient::testing::query;
using aiclient::testing::StreamRecord;
using aiclient::testing::waitFor;

namespace {

/// Serves `events` as an event stream written in random pieces of 1 to 23 bytes; `cutAfter` stops the
/// transfer abruptly after that many bytes.
void serveStream(LoopbackServer& server, std::string stream, size_t cutAfter = std::string::npos)
{
    server.onPost("/v1/chat/completions", [stream, cutAfter](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider("text/event-stream", [stream, cutAfter](size_t, httplib::DataSink& sink) {
            std::mt19937 random(7);
            size_t position = 0;
            const size_t end = std::min(stream.size(), cutAfter);
            while (position < end) {
                const size_t length = std::min(end - position, std::uniform_int_distribution<size_t>(1, 23)(random));
                sink.write(stream.data() + position, length);
                position += length;
                std::this_thread::sleep_for(std::chrono::microseconds(300));
            }
            if (cutAfter != std::string::npos) {
                return false; // drops the connection mid-way
            }
            sink.done();
            return true;
        });
    });
}

} // namespace

TEST(OpenAIConfiguration, TokenOnlyClientUsesTheStandardSettings)
{
    OpenAI client("k");
    EXPECT_EQ(client.configuration().token(), "k");
    EXPECT_FALSE(client.configuration().organizationIdentifier());
    EXPECT_EQ(client.configuration().host(), Configuration::defaultHost);
    EXPECT_EQ(client.configuration().port(), 443);
    EXPECT_EQ(client.configuration().scheme(), "https");
    EXPECT_EQ(client.configuration().timeoutInterval(), 60.0);
    EXPECT_TRUE(client.streamingSessions().empty());
}

TEST(OpenAIConfiguration, URLsAlwaysCarryThePort)
{
    struct Case {
        std::string host, scheme, path, url;
    };
    for (const Case& c :
         {Case{"h.example", "https", "/v1/chat/completions", "https://h.example:443/v1/chat/completions"},
          Case{"h.example", "https", "/v1/models/", "https://h.example:443/v1/models/"},
          Case{"h.example", "https", "/v1/models/ft:a b/c?", "https://h.example:443/v1/models/ft:a%20b/c%3F"},
          Case{"::1", "http", "/v1/models", "http://[::1]:443/v1/models"}}) {
        SCOPED_TRACE(c.url);
        OpenAI client(Configuration("k", std::nullopt, c.host, 443, c.scheme, 60), std::make_shared<FakeSession>());
        EXPECT_EQ(client.buildURL(c.path), c.url);
    }
    for (const std::string host : {"", "evil.example/x", "user@host", "a b"}) {
        OpenAI client(Configuration("k", std::nullopt, host, 443, "https", 60), std::make_shared<FakeSession>());
        EXPECT_THROW(client.buildURL("/v1/models"), std::invalid_argument) << host;
    }
}

TEST(OpenAIChats, OneShotChatAgainstTheLoopbackServer)
{
    LoopbackServer server;
    server.onPost("/v1/chat/completions", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(chatAnswer, "application/json");
    });
    OpenAI client(loopbackConfiguration(server));
    std::promise<Outcome<ChatResult>> answered;
    const auto caller = std::this_thread::get_id();
    std::atomic<bool> onCallerThread{true};
    client.chats(query(), [&](Outcome<ChatResult> result) {
        onCallerThread = std::this_thread::get_id() == caller;
        answered.set_value(std::move(result));
    });
    auto future = answered.get_future();
    Outcome<ChatResult> result = waitFor(future);
    ASSERT_TRUE(result.ok());
    EXPECT_FALSE(onCallerThread);
    EXPECT_EQ(result.value().id, "chatcmpl-9x");
    ASSERT_EQ(result.value().choices.size(), 1u);
    EXPECT_EQ(result.value().choices[0].message.content()->text(), R"({"name":"Terminal session"})");

    const auto sent = server.requests().at(0);
    EXPECT_EQ(sent.method, "POST");
    EXPECT_EQ(sent.path, "/v1/chat/completions");
    EXPECT_EQ(sent.headers.find("Authorization")->second, "Bearer " + key);
    EXPECT_EQ(sent.headers.find("Content-Type")->second, "application/json");
    EXPECT_EQ(sent.headers.find("OpenAI-Organization")->second, "org-7");
    EXPECT_EQ(sent.body, encodeJson(query()));
    EXPECT_FALSE(nlohmann::json::parse(sent.body)["stream"].get<bool>());
}

TEST(OpenAIChats, ServiceAnswersBecomeResultsOrErrorsByTheirShape)
{
    LoopbackServer server;
    std::mutex mutex;
    int status = 200;
    std::string body;
    server.onPost("/v1/chat/completions", [&](const httplib::Request&, httplib::Response& response) {
        std::lock_guard lock(mutex);
        response.status = status;
        response.set_content(body, "application/json");
    });
    OpenAI client(loopbackConfiguration(server));
    auto ask = [&](int answerStatus, std::string answerBody) {
        {
            std::lock_guard lock(mutex);
            status = answerStatus;
            body = std::move(answerBody);
        }
        auto future = client.chats(query());
        if (future.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            throw std::runtime_error("no answer");
        }
        return future;
    };

    try {
        ask(429, R"({"error":{"message":"You exceeded your current quota.","type":"insufficient_quota",)"
                 R"("param":null,"code":"insufficient_quota"}})")
            .get();
        ADD_FAILURE() << "quota answer accepted";
    } catch (const APIErrorResponse& response) {
        EXPECT_EQ(response.error().message(), "You exceeded your current quota.");
        EXPECT_EQ(response.error().code(), "insufficient_quota");
        EXPECT_STREQ(response.what(), "You exceeded your current quota.");
    }
    // An error status whose body is neither a result nor a readable error object is reported by its status.
    const std::vector<std::pair<int, std::string>> unreadable = {
        {502, "<html><body>Bad Gateway</body></html>"},
        {503, ""},
        {500, R"({"error":{"message":"m","type":"server_error","code":500}})"},
    };
    for (const auto& [errorStatus, errorBody] : unreadable) {
        SCOPED_TRACE(errorStatus);
        try {
            ask(errorStatus, errorBody).get();
            ADD_FAILURE() << "error page accepted";
        } catch (const HTTPStatusError& error) {
            EXPECT_EQ(error.statusCode(), errorStatus);
            EXPECT_NE(std::string(error.what()).find(std::to_string(errorStatus)), std::string::npos) << error.what();
        }
    }
    // A successful status with a body that is not JSON stays the decoding error it is.
    EXPECT_THROW(ask(200, "<html><body>Welcome</body></html>").get(), DecodingError);
    // An answer that decodes is a result whatever the status.
    EXPECT_TRUE(ask(500, R"({"id":"c","object":"chat.completion","created":1,"model":"gpt-4o","choices":[]})")
                    .get()
                    .choices.empty());
}

TEST(OpenAIChats, SilentServerGivesARecognisableTimeOutWithoutTheKey)
{
    LoopbackServer server;
    server.onPost("/v1/chat/completions", [](const httplib::Request&, httplib::Response& response) {
        std::this_thread::sleep_for(std::chrono::seconds(3));
        response.set_content(chatAnswer, "application/json");
    });
    // Only the idle time-out can end the call before the answer comes: the deadline is far off, no rate is asked.
    OpenAI client(loopbackConfiguration(server, 0.5).withRequestBound(60, 0));
    auto future = client.chats(query());
    try {
        waitFor(future);
        FAIL() << "no time-out";
    } catch (const TransportError& error) {
        EXPECT_TRUE(error.isTimedOut());
        EXPECT_EQ(std::string(error.what()).find("SECRETKEY"), std::string::npos);
    }
}

TEST(OpenAIChats, UnbuildableRequestFailsAtOnceAndSendsNothing)
{
    struct Case {
        const char* name;
        std::string token;
        double temperature;
    };
    for (const Case& c :
         {Case{"line break in key", key + "\r\nX-Injected: 1", 1.0}, Case{"NaN temperature", key, std::nan("")}}) {
        SCOPED_TRACE(c.name);
        auto fake = std::make_shared<FakeSession>();
        OpenAI client(Configuration(c.token, std::nullopt, "h", 443, "https", 60), fake, [fake] { return fake; });
        ChatQuery q = query();
        q.temperature = c.temperature;

        std::exception_ptr oneShotError;
        client.chats(q, [&](Outcome<ChatResult> result) { oneShotError = result.error(); });
        ASSERT_TRUE(oneShotError) << "completion did not run before returning";

        std::exception_ptr streamError;
        bool chunkCallback = false;
        client.streamChats(
            q, [&](Outcome<ChatStreamResult>) { chunkCallback = true; },
            [&](std::exception_ptr error) { streamError = error; });
        ASSERT_TRUE(streamError);
        EXPECT_FALSE(chunkCallback);
        EXPECT_TRUE(fake->requests().empty());
        EXPECT_TRUE(client.streamingSessions().empty());
        try {
            std::rethrow_exception(oneShotError);
        } catch (const std::exception& error) {
            EXPECT_EQ(std::string(error.what()).find("SECRETKEY"), std::string::npos) << error.what();
        }
    }
}

TEST(OpenAIStreamChats, StreamSplitIntoArbitraryPiecesYieldsEveryChunk)
{
    LoopbackServer server;
    std::string stream;
    std::vector<std::string> expected;
    for (int i = 0; i < 30; ++i) {
        expected.push_back("part " + std::to_string(i) + " — data: ünïcödé 🙂");
        stream += "data: " + chunk(expected.back()) + "\n\n";
    }
    stream += "data: [DONE]\n\n";
    serveStream(server, stream);

    OpenAI client(loopbackConfiguration(server));
    const ChatQuery original = query();
    ChunkStream<ChatStreamResult> chunks = client.streamChats(original);
    std::vector<std::string> received;
    while (auto next = chunks.next()) {
        received.push_back(contentOf(*next));
    }
    EXPECT_EQ(received, expected);
    EXPECT_FALSE(original.stream);
    EXPECT_TRUE(nlohmann::json::parse(server.requests().at(0).body)["stream"].get<bool>());
    EXPECT_EQ(server.requests().at(0).headers.find("Authorization")->second, "Bearer " + key);
}

TEST(OpenAIStreamChats, StreamCutMidWayReportsTheTailAndTheTransportError)
{
    LoopbackServer server;
    const std::string stream = "data: " + chunk("one") + "\n\ndata: " + chunk("two") + "\n\ndata: " + chunk("three");
    serveStream(server, stream, stream.size() - 10);

    OpenAI client(loopbackConfiguration(server));
    StreamRecord record;
    client.streamChats(query(), record.onResult(), record.onComplete());
    auto completed = record.completed.get_future();
    std::exception_ptr transport = waitFor(completed);
    ASSERT_TRUE(transport);
    errorOf<TransportError>(transport);
    std::lock_guard lock(record.mutex);
    EXPECT_EQ(record.contents, (std::vector<std::string>{"one", "two"}));
    ASSERT_EQ(record.errors.size(), 1u);
    errorOf<DecodingError>(record.errors[0]);
    EXPECT_TRUE(client.streamingSessions().empty());
}

TEST(OpenAIStreamChats, RunningSessionIsListedUntilItEnds)
{
    LoopbackServer server;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    server.onPost("/v1/chat/completions", [released](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider("text/event-stream", [released](size_t, httplib::DataSink& sink) {
            const std::string first = "data: " + chunk("a") + "\n\n";
            sink.write(first.data(), first.size());
            released.wait_for(std::chrono::seconds(10));
            sink.done();
            return true;
        });
    });
    OpenAI client(loopbackConfiguration(server));
    StreamRecord record;
    client.streamChats(query(), record.onResult(), record.onComplete());
    EXPECT_EQ(client.streamingSessions().size(), 1u);
    release.set_value();
    auto completed = record.completed.get_future();
    EXPECT_FALSE(waitFor(completed));
    EXPECT_TRUE(client.streamingSessions().empty());
}

TEST(OpenAIStreamChats, StreamThatEndsAtOnceStillLeavesTheList)
{
    auto fake = std::make_shared<FakeSession>();
    fake->synchronous = true;
    fake->streamAnswer.deliveries = {"data: " + chunk("x") + "\n\n"};
    OpenAI client(Configuration::standard(key), fake, [fake] { return fake; });
    StreamRecord record;
    client.streamChats(query(), record.onResult(), record.onComplete());
    auto completed = record.completed.get_future();
    ASSERT_EQ(completed.wait_for(std::chrono::seconds(0)), std::future_status::ready);
    EXPECT_TRUE(client.streamingSessions().empty());
    EXPECT_EQ(record.contents, std::vector<std::string>{"x"});
}

TEST(OpenAIClient, DestroyingTheClientCancelsItsCallsAndWaitsForThem)
{
    LoopbackServer server;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> arrived = 0;
    server.onPost("/v1/chat/completions", [&arrived, released](const httplib::Request&, httplib::Response& response) {
        ++arrived;
        released.wait_for(std::chrono::seconds(20));
        response.set_content(chatAnswer, "application/json");
    });
    StreamRecord stream;
    std::promise<std::exception_ptr> oneShot;
    {
        OpenAI client(loopbackConfiguration(server));
        client.chats(query(), [&oneShot](Outcome<ChatResult> result) { oneShot.set_value(result.error()); });
        client.streamChats(query(), stream.onResult(), stream.onComplete());
        for (int i = 0; i < 2000 && arrived < 2; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_EQ(arrived, 2);
    }
    // Both callbacks ran before the client was gone, each with the cancellation.
    auto oneShotDone = oneShot.get_future();
    auto streamDone = stream.completed.get_future();
    ASSERT_EQ(oneShotDone.wait_for(std::chrono::seconds(0)), std::future_status::ready);
    ASSERT_EQ(streamDone.wait_for(std::chrono::seconds(0)), std::future_status::ready);
    EXPECT_EQ(errorOf<TransportError>(oneShotDone.get()).kind(), TransportError::Kind::cancelled);
    EXPECT_EQ(errorOf<TransportError>(streamDone.get()).kind(), TransportError::Kind::cancelled);
    release.set_value();
}

TEST(OpenAIClient, ClientLetGoByItsOwnCompletionEndsCleanly)
{
    LoopbackServer server;
    server.onPost("/v1/chat/completions", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(chatAnswer, "application/json");
    });
    std::promise<bool> answered;
    auto client = std::make_shared<OpenAI>(loopbackConfiguration(server));
    // The completion holds the last reference: the client and its session go on the transfer's own thread.
    client->chats(query(),
                  [client, &answered](Outcome<ChatResult> result) mutable { answered.set_value(result.ok()); });
    client.reset();
    auto future = answered.get_future();
    EXPECT_TRUE(waitFor(future));
}

TEST(OpenAIAsync, FirstUnusablePieceEndsTheStreamWithItsError)
{
    auto fake = std::make_shared<FakeSession>();
    fake->streamAnswer.deliveries = {R"(data: {"error":{"message":"overloaded","type":"server_error"}})"
                                     "\n\n",
                                     "data: " + chunk("late") + "\n\n"};
    OpenAI client(Configuration::standard(key), fake, [fake] { return fake; });
    ChunkStream<ChatStreamResult> chunks = client.streamChats(query());
    try {
        chunks.next();
        FAIL() << "no error";
    } catch (const APIErrorResponse& response) {
        EXPECT_EQ(response.error().message(), "overloaded");
    }
}

TEST(OpenAIAsync, FutureCarriesTheCompletionsErrorUnchanged)
{
    auto fake = std::make_shared<FakeSession>();
    fake->oneShotAnswer.error = std::make_exception_ptr(TransportError(TransportError::Kind::timedOut, "slow"));
    OpenAI client(Configuration::standard(key), fake);
    auto future = client.chats(query());
    try {
        waitFor(future);
        FAIL() << "no error";
    } catch (const TransportError& error) {
        EXPECT_TRUE(error.isTimedOut());
        EXPECT_STREQ(error.what(), "slow");
    }

    fake->oneShotAnswer = {};
    auto empty = client.chats(query());
    try {
        waitFor(empty);
        FAIL() << "no error";
    } catch (const OpenAIError& error) {
        EXPECT_EQ(error.kind(), OpenAIError::Kind::emptyData);
    }
}
