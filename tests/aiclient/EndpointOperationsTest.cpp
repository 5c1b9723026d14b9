#include "TestSupport.h"
#include "aiclient/OpenAI.h"

#include <atomic>
#include <cmath>
#include <gtest/gtest.h>
#include <map>

using namespace aiclient;
using aiclient::testing::FakeSession;
using aiclient::testing::LoopbackServer;
using aiclient::testing::waitFor;

namespace {

const std::string errorAnswer =
    R"({"error":{"message":"Incorrect API key provided.","type":"invalid_request_error","param":null,)"
    R"("code":"invalid_api_key"}})";

Configuration loopbackConfiguration(const LoopbackServer& server, double timeout = 10)
{
    return Configuration("sk-test", std::nullopt, "127.0.0.1", server.port(), "http", timeout);
}

std::string completionsChunk(const std::string& text)
{
    return R"({"id":"cmpl-2","object":"text_completion","created":1,"model":"m","choices":[{"text":")" + text +
           R"(","index":0,"finish_reason":null}]})";
}

/// One operation through its asynchronous form: the path it asks for, the answer served, and what of the
/// result shows that it was decoded.
struct OperationCase {
    const char* name;
    const char* method;
    std::string path;
    enum class Body { json, multipart, none } body;
    std::string answer;
    std::function<std::string(OpenAI&)> call;
    std::string expected;
};

std::vector<OperationCase> operationCases()
{
    using Body = OperationCase::Body;
    const std::string png("\x89PNG\x00", 5);
    return {
        {"completions", "POST", "/v1/completions", Body::json, completionsChunk("done"),
         [](OpenAI& c) { return c.completions(CompletionsQuery{.model = "m", .prompt = "p"}).get().choices[0].text; },
         "done"},
        {"images", "POST", "/v1/images/generations", Body::json, R"({"created":1,"data":[{"url":"u"}]})",
         [](OpenAI& c) { return *c.images(ImagesQuery{.prompt = "p"}).get().data[0].url; }, "u"},
        {"image edits", "POST", "/v1/images/edits", Body::multipart, R"({"created":1,"data":[{"b64_json":"e"}]})",
         [png](OpenAI& c) { return *c.imageEdits(ImageEditsQuery{.image = png, .prompt = "p"}).get().data[0].b64Json; },
         "e"},
        {"image variations", "POST", "/v1/images/variations", Body::multipart, R"({"created":1,"data":[{"url":"v"}]})",
         [png](OpenAI& c) { return *c.imageVariations(ImageVariationsQuery{.image = png}).get().data[0].url; }, "v"},
        {"embeddings", "POST", "/v1/embeddings", Body::json,
         R"({"object":"list","data":[{"object":"embedding","index":0,"embedding":[0.25]}],"model":"m",)"
         R"("usage":{"prompt_tokens":1,"total_tokens":1}})",
         [](OpenAI& c) {
             return std::to_string(
                 c.embeddings(EmbeddingsQuery{EmbeddingsQuery::Input::string("a"), "m"}).get().data[0].embedding[0]);
         },
         std::to_string(0.25)},
        {"edits", "POST", "/v1/edits", Body::json,
         R"({"object":"edit","created":1,"choices":[{"text":"e","index":0}],)"
         R"("usage":{"prompt_tokens":1,"completion_tokens":1,"total_tokens":2}})",
         [](OpenAI& c) { return c.edits(EditsQuery{.model = "m", .instruction = "i"}).get().choices[0].text; }, "e"},
        {"model", "GET", "/v1/models/gpt-4", Body::none,
         R"({"id":"gpt-4","created":1,"object":"model","owned_by":"openai"})",
         [](OpenAI& c) { return c.model(ModelQuery{"gpt-4"}).get().ownedBy; }, "openai"},
        {"models", "GET", "/v1/models", Body::none, R"({"object":"list","data":[]})",
         [](OpenAI& c) { return c.models().get().object; }, "list"},
        {"moderations", "POST", "/v1/moderations", Body::json, R"({"id":"modr","model":"m","results":[]})",
         [](OpenAI& c) { return c.moderations(ModerationsQuery{.input = "i"}).get().id; }, "modr"},
        {"speech", "POST", "/v1/audio/speech", Body::json, std::string("ID3\x00\x01", 5),
         [](OpenAI& c) {
             return c.audioCreateSpeech(AudioSpeechQuery("tts-1", "i", AudioSpeechQuery::AudioSpeechVoice::onyx))
                 .get()
                 .audio;
         },
         std::string("ID3\x00\x01", 5)},
        {"transcriptions", "POST", "/v1/audio/transcriptions", Body::multipart, R"({"text":"heard"})",
         [](OpenAI& c) {
             return c.audioTranscriptions(AudioTranscriptionQuery{.file = "a", .model = "whisper-1"}).get().text;
         },
         "heard"},
        {"transcriptions as text", "POST", "/v1/audio/transcriptions", Body::multipart, "heard\n",
         [](OpenAI& c) {
             return c
                 .audioTranscriptions(AudioTranscriptionQuery{
                     .file = "a", .model = "w", .responseFormat = AudioTranscriptionQuery::ResponseFormat::text})
                 .get()
                 .text;
         },
         "heard\n"},
        {"translations as subtitles", "POST", "/v1/audio/translations", Body::multipart,
         "WEBVTT\n\n00:00.000 --> 00:01.000\nHello\n",
         [](OpenAI& c) {
             return c
                 .audioTranslations(AudioTranslationQuery{
                     .file = "a", .model = "w", .responseFormat = AudioTranscriptionQuery::ResponseFormat::vtt})
                 .get()
                 .text;
         },
         "WEBVTT\n\n00:00.000 --> 00:01.000\nHello\n"},
    };
}

void serveEverything(LoopbackServer& server, const std::string& body, int status)
{
    auto handler = [body, status](const httplib::Request&, httplib::Response& response) {
        response.status = status;
        response.set_content(body, "application/json");
    };
    server.onPost("/v1/.*", handler);
    server.onGet("/v1/.*", handler);
}

std::string errorMessage(const std::function<void()>& call)
{
    try {
        call();
    } catch (const APIErrorResponse& error) {
        return error.error().message();
    } catch (const std::exception& other) {
        return std::string("other error: ") + other.what();
    }
    return "no error";
}

} // namespace

TEST(EndpointOperations, EachOperationAsksForItsPathAndDecodesItsAnswer)
{
    const std::vector<OperationCase> cases = operationCases();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackServer server;
        serveEverything(server, c.answer, 200);
        OpenAI client(loopbackConfiguration(server));
        EXPECT_EQ(c.call(client), c.expected);

        const auto sent = server.requests().at(0);
        EXPECT_EQ(sent.method, c.method);
        EXPECT_EQ(sent.path, c.path);
        const std::string contentType = sent.headers.find("Content-Type")->second;
        switch (c.body) {
        case OperationCase::Body::json:
            EXPECT_EQ(contentType, "application/json");
            EXPECT_NO_THROW(nlohmann::json::parse(sent.body));
            break;
        case OperationCase::Body::multipart: {
            const std::string boundary = contentType.substr(contentType.find("boundary=") + 9);
            EXPECT_EQ(contentType, "multipart/form-data; boundary=" + boundary);
            // The server could split the body at that boundary and found the uploaded file.
            std::string fileName;
            for (const auto& [name, part] : sent.parts)
                fileName += part.filename;
            EXPECT_TRUE(fileName == "image.png" || fileName == "speech.mp3") << fileName;
            // No "Expect: 100-continue" round trip: a server that ignores it would stall the upload.
            EXPECT_EQ(sent.headers.count("Expect"), 0u);
            break;
        }
        case OperationCase::Body::none:
            EXPECT_TRUE(sent.body.empty());
            break;
        }
    }
}

TEST(EndpointOperations, ServiceErrorsArriveAsTheServiceSentThem)
{
    // Also the speech and plain-text operations, whose successful answers are not JSON: an error status with
    // the service's error object is that error, never audio or a transcript.
    for (const auto& c : operationCases()) {
        SCOPED_TRACE(c.name);
        LoopbackServer server;
        serveEverything(server, errorAnswer, 401);
        OpenAI client(loopbackConfiguration(server));
        EXPECT_EQ(errorMessage([&] { c.call(client); }), "Incorrect API key provided.");
    }
}

TEST(EndpointOperations, SilentServerTimesOut)
{
    LoopbackServer server;
    server.onGet("/v1/models", [](const httplib::Request&, httplib::Response& response) {
        std::this_thread::sleep_for(std::chrono::seconds(2));
        response.set_content(R"({"object":"list","data":[]})", "application/json");
    });
    OpenAI client(loopbackConfiguration(server, 0.5));
    auto future = client.models();
    try {
        waitFor(future);
        FAIL() << "no time-out";
    } catch (const TransportError& error) {
        EXPECT_TRUE(error.isTimedOut());
    }
}

TEST(EndpointOperations, ModelIdIsOnePathSegment)
{
    struct Case {
        std::string id, path;
    };
    for (const Case& c : {Case{"gpt-4", "/v1/models/gpt-4"}, Case{"", "/v1/models/"},
                          Case{"ft:gpt-3.5-turbo:org:x", "/v1/models/ft:gpt-3.5-turbo:org:x"},
                          Case{"../chat/completions?x#y", "/v1/models/..%2Fchat%2Fcompletions%3Fx%23y"},
                          Case{"..", "/v1/models/%2E%2E"}, Case{"a b%", "/v1/models/a%20b%25"}}) {
        SCOPED_TRACE(c.id);
        auto fake = std::make_shared<FakeSession>();
        fake->synchronous = true;
        OpenAI client(Configuration("k", std::nullopt, "h.example", 443, "https", 60), fake);
        client.model(ModelQuery{c.id}, [](Outcome<ModelResult>) {});
        ASSERT_EQ(fake->requests().size(), 1u);
        EXPECT_EQ(fake->requests()[0].url, "https://h.example:443" + c.path);
        EXPECT_EQ(fake->requests()[0].method, "GET");
    }
}

TEST(EndpointOperations, StreamedCompletionsSendACopyWithStreamSet)
{
    LoopbackServer server;
    server.onPost("/v1/completions", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("data: " + completionsChunk("a") + "\n\ndata: " + completionsChunk("b") +
                                 "\n\ndata: " + completionsChunk("c") + "\n\ndata: [DONE]\n\n",
                             "text/event-stream");
    });
    OpenAI client(loopbackConfiguration(server));
    const CompletionsQuery query{.model = "m", .prompt = "p"};
    ChunkStream<CompletionsResult> stream = client.streamCompletions(query);
    std::string texts;
    while (auto chunk = stream.next())
        texts += chunk->choices.at(0).text;
    EXPECT_EQ(texts, "abc");
    EXPECT_FALSE(query.stream);
    EXPECT_TRUE(nlohmann::json::parse(server.requests().at(0).body)["stream"].get<bool>());
}

TEST(EndpointPublishers, OneShotOutcomeIsSentOnceAndKeptForEverySubscriber)
{
    LoopbackServer server;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<void> asked;
    server.onGet("/v1/models", [&, released](const httplib::Request&, httplib::Response& response) {
        asked.set_value();
        released.wait();
        response.set_content(R"({"object":"list","data":[]})", "application/json");
    });
    OpenAI client(loopbackConfiguration(server));
    OutcomePublisher<ModelsResult> publisher = client.modelsPublisher();
    // Sent although nobody has subscribed yet.
    auto askedFuture = asked.get_future();
    waitFor(askedFuture);

    std::promise<std::string> first;
    std::atomic<int> cancelledDeliveries{0};
    Cancellable kept =
        publisher.subscribe([&](Outcome<ModelsResult> outcome) { first.set_value(outcome.value().object); });
    Cancellable dropped = publisher.subscribe([&](Outcome<ModelsResult>) { ++cancelledDeliveries; });
    dropped.cancel();
    release.set_value();
    auto firstFuture = first.get_future();
    EXPECT_EQ(waitFor(firstFuture), "list");

    bool lateReceived = false;
    Cancellable late = publisher.subscribe([&](Outcome<ModelsResult> outcome) { lateReceived = outcome.ok(); });
    EXPECT_TRUE(lateReceived);
    EXPECT_EQ(cancelledDeliveries, 0);
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST(EndpointPublishers, StreamGoesToPresentSubscribersUntilTheyCancel)
{
    LoopbackServer server;
    std::promise<void> subscribed;
    std::shared_future<void> ready = subscribed.get_future().share();
    server.onPost("/v1/completions", [ready](const httplib::Request&, httplib::Response& response) {
        ready.wait();
        response.set_chunked_content_provider("text/event-stream", [](size_t, httplib::DataSink& sink) {
            for (const char* text : {"a", "b", "c"}) {
                const std::string event = "data: " + completionsChunk(text) + "\n\n";
                sink.write(event.data(), event.size());
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
            }
            sink.write("data: [DONE]\n\n", 14);
            sink.done();
            return true;
        });
    });
    OpenAI client(loopbackConfiguration(server));
    StreamPublisher<CompletionsResult> publisher = client.streamCompletionsPublisher({.model = "m", .prompt = "p"});

    std::mutex mutex;
    std::string whole, cancelled;
    std::promise<std::exception_ptr> finished;
    Cancellable stopsEarly;
    stopsEarly = publisher.subscribe([&](Outcome<CompletionsResult> element) {
        std::lock_guard lock(mutex);
        cancelled += element.value().choices.at(0).text;
        stopsEarly.cancel(); // from inside its own delivery
    });
    Cancellable listens = publisher.subscribe(
        [&](Outcome<CompletionsResult> element) {
            std::lock_guard lock(mutex);
            whole += element.value().choices.at(0).text;
        },
        [&](std::exception_ptr error) { finished.set_value(error); });
    subscribed.set_value();
    auto finishedFuture = finished.get_future();
    EXPECT_FALSE(waitFor(finishedFuture));
    std::lock_guard lock(mutex);
    EXPECT_EQ(cancelled, "a");
    EXPECT_EQ(whole, "abc");
}

TEST(EndpointPublishers, UnbuildableStreamHasEndedBeforeItIsReturned)
{
    auto fake = std::make_shared<FakeSession>();
    OpenAI client(Configuration("k", std::nullopt, "h", 443, "https", 60), fake, [fake] { return fake; });
    auto publisher = client.streamCompletionsPublisher({.model = "m", .prompt = "p", .temperature = std::nan("")});
    bool element = false;
    std::exception_ptr end;
    Cancellable subscription = publisher.subscribe([&](Outcome<CompletionsResult>) { element = true; },
                                                   [&](std::exception_ptr error) { end = error; });
    EXPECT_FALSE(element);
    EXPECT_THROW(std::rethrow_exception(end), EncodingError);
    EXPECT_TRUE(fake->requests().empty());
}
