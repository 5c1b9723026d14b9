// The client's bounds against a service that misbehaves: answers that never end, answers that trickle, silence,
// and redirects elsewhere. Each call must end, within its bounds, with its own typed error; an answer that keeps
// coming is taken whole.

#include "ChatSupport.h"
#include "TestSupport.h"
#include "aiclient/CurlSession.h"
#include "aiclient/OpenAI.h"

#include <atomic>
#include <gtest/gtest.h>

using namespace aiclient;
using aiclient::testing::chatAnswer;
using aiclient::testing::chunk;
using aiclient::testing::errorOf;
using aiclient::testing::FakeSession;
using aiclient::testing::key;
using aiclient::testing::LoopbackServer;
using aiclient::testing::query;
using aiclient::testing::StreamRecord;
using aiclient::testing::waitFor;

namespace {

constexpr std::size_t mebibyte = 1024 * 1024;
const std::string chatPath = "/v1/chat/completions";
/// A type the server sends as it is written: it compresses JSON, holding back the bytes of a slow answer.
const char* const uncompressed = "application/octet-stream";

/// A service on loopback that misbehaves as each test asks. Its content providers end when the client goes
/// away or the test ends, so the server always stops.
class MisbehavingService {
public:
    explicit MisbehavingService(const std::string& address = "127.0.0.1") : server_(address) {}
    ~MisbehavingService() { stopping_ = true; }

    LoopbackServer& server() { return server_; }

    /// Answers every chat call by writing `piece` again and again, after `head` once, for as long as the client
    /// reads, waiting `pause` between pieces.
    void serveEndlessly(std::string head, std::string piece, std::chrono::milliseconds pause = {},
                        const char* contentType = "application/json")
    {
        server_.onPost(chatPath,
                       [this, head, piece, pause, contentType](const httplib::Request&, httplib::Response& response) {
                           response.set_chunked_content_provider(
                               contentType, [this, head, piece, pause](size_t offset, httplib::DataSink& sink) {
                                   if (offset == 0 && !head.empty() && !sink.write(head.data(), head.size())) {
                                       return false;
                                   }
                                   while (!stopping_ && sink.is_writable()) {
                                       if (!sink.write(piece.data(), piece.size())) {
                                           return false;
                                       }
                                       std::this_thread::sleep_for(pause);
                                   }
                                   return false;
                               });
                       });
    }

    /// Answers every chat call with `pieces`, one after the other, `pause` apart, then ends the answer.
    void serveInPieces(std::vector<std::string> pieces, std::chrono::milliseconds pause, const char* contentType)
    {
        server_.onPost(chatPath, [pieces, pause, contentType](const httplib::Request&, httplib::Response& response) {
            response.set_chunked_content_provider(contentType, [pieces, pause](size_t, httplib::DataSink& sink) {
                for (const std::string& piece : pieces) {
                    std::this_thread::sleep_for(pause);
                    if (!sink.write(piece.data(), piece.size())) {
                        return false;
                    }
                }
                sink.done();
                return true;
            });
        });
    }

    Configuration configuration(double timeout, std::size_t maxResponseBytes = Configuration::defaultMaxResponseBytes,
                                std::size_t maxEventBytes = Configuration::defaultMaxEventBytes) const
    {
        return Configuration(key, std::nullopt, "127.0.0.1", server_.port(), "http", timeout, maxResponseBytes,
                             maxEventBytes);
    }

private:
    // Declared first so that it outlives the server's handlers.
    std::atomic<bool> stopping_{false};
    LoopbackServer server_;
};

std::exception_ptr failureOf(std::future<ChatResult>& future)
{
    try {
        waitFor(future);
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

} // namespace

TEST(AnswerLimits, EveryRequestCarriesTheConfiguredLimit)
{
    struct Case {
        std::optional<std::size_t> configured;
        std::size_t carried;
    };
    for (const Case& c : {Case{std::nullopt, 16 * mebibyte}, Case{3 * mebibyte, 3 * mebibyte}}) {
        const Configuration configuration = c.configured
                                                ? Configuration(key, std::nullopt, "h", 443, "https", 60, *c.configured)
                                                : Configuration(key, std::nullopt, "h", 443, "https", 60);
        EXPECT_EQ(configuration.maxResponseBytes(), c.carried);
        auto fake = std::make_shared<FakeSession>();
        fake->synchronous = true;
        fake->oneShotAnswer.data = chatAnswer;
        OpenAI client(configuration, fake, [fake] { return fake; });
        client.chats(query(), [](Outcome<ChatResult>) {});
        client.streamChats(query(), {}, {});
        ASSERT_EQ(fake->requests().size(), 2u);
        for (const HttpRequest& request : fake->requests()) {
            EXPECT_EQ(request.maxResponseBytes, c.carried);
        }
    }
}

TEST(AnswerLimits, AnAnswerPastTheLimitFailsTypedAfterHoldingNoMoreThanIt)
{
    for (const bool announced : {false, true}) { // whether the answer states its length up front
        SCOPED_TRACE(announced ? "announced" : "endless");
        MisbehavingService service;
        if (announced) {
            service.server().onPost(chatPath, [](const httplib::Request&, httplib::Response& response) {
                response.set_content(std::string(2 * mebibyte, ' '), "application/json");
            });
        } else {
            service.serveEndlessly("", std::string(64 * 1024, ' '));
        }
        OpenAI client(service.configuration(20, mebibyte));
        auto future = client.chats(query());
        const std::exception_ptr failure = failureOf(future);
        ASSERT_TRUE(failure);
        const auto tooLarge = errorOf<ResponseTooLargeError>(failure);
        EXPECT_EQ(tooLarge.limit(), mebibyte);
        EXPECT_EQ(tooLarge.kind(), TransportError::Kind::responseTooLarge);

        // What the transport held of it stays within the limit.
        HttpRequest request;
        request.url = "http://127.0.0.1:" + std::to_string(service.server().port()) + chatPath;
        request.method = "POST";
        request.body = "{}";
        request.maxResponseBytes = mebibyte;
        std::promise<std::pair<std::optional<std::string>, std::exception_ptr>> held;
        auto heldFuture = held.get_future();
        auto session = std::make_shared<CurlSession>();
        session
            ->dataTask(request,
                       [&held](std::optional<std::string> data, std::optional<HttpResponse>, std::exception_ptr error) {
                           held.set_value({std::move(data), error});
                       })
            ->resume();
        const auto [data, error] = waitFor(heldFuture);
        errorOf<ResponseTooLargeError>(error);
        EXPECT_LE(data.value_or("").size(), mebibyte);
    }
}

TEST(AnswerLimits, AStreamIsBoundedPerEventAndInTotal)
{
    struct Case {
        const char* name;
        std::string head, piece;
        std::size_t expectedLimit;
    };
    const std::size_t eventLimit = 16 * 1024, totalLimit = 256 * 1024;
    const std::string event = "data: " + chunk("more") + "\n\n";
    for (const Case& c : {Case{"one endless event", "data: {\"id\":\"", std::string(4096, 'x'), eventLimit},
                          Case{"endless small events", "", event, totalLimit}}) {
        SCOPED_TRACE(c.name);
        MisbehavingService service;
        service.serveEndlessly(c.head, c.piece, {}, "text/event-stream");
        // Declared first so that it outlives the client, which stops the stream when it goes.
        StreamRecord record;
        OpenAI client(service.configuration(20, totalLimit, eventLimit));
        client.streamChats(query(), record.onResult(), record.onComplete());
        auto completed = record.completed.get_future();
        const std::exception_ptr end = waitFor(completed);
        ASSERT_TRUE(end);
        EXPECT_EQ(errorOf<ResponseTooLargeError>(end).limit(), c.expectedLimit);
        std::lock_guard lock(record.mutex);
        EXPECT_TRUE(record.errors.empty());
        EXPECT_LE(record.contents.size() * event.size(), totalLimit);
        if (c.expectedLimit == totalLimit) {
            EXPECT_FALSE(record.contents.empty());
        }
        EXPECT_TRUE(client.streamingSessions().empty());
    }
}

// The idle time-out and the bounds of the whole request, each on its own: the idle time-out is a fraction of
// a second here, and each test shows which bound ends the call by leaving the others far out of reach.

TEST(RequestBounds, AnAnswerThatKeepsComingOutlastsTheIdleTimeOut)
{
    // Twenty pieces 0.1 s apart: the answer takes three times the idle time-out and is taken whole. The gaps
    // stay well inside the time-out on a machine busy with other work.
    for (const bool streamed : {false, true}) {
        SCOPED_TRACE(streamed ? "streamed" : "one-shot");
        constexpr int pieceCount = 20;
        MisbehavingService service;
        std::vector<std::string> pieces;
        if (streamed) {
            for (int i = 0; i < pieceCount; ++i) {
                pieces.push_back("data: " + chunk(std::to_string(i)) + "\n\n");
            }
            pieces.push_back("data: [DONE]\n\n");
        } else {
            const std::size_t length = chatAnswer.size() / pieceCount + 1;
            for (std::size_t at = 0; at < chatAnswer.size(); at += length) {
                pieces.push_back(chatAnswer.substr(at, length));
            }
        }
        service.serveInPieces(pieces, std::chrono::milliseconds(100), streamed ? "text/event-stream" : uncompressed);
        StreamRecord record;
        OpenAI client(service.configuration(0.6));
        if (streamed) {
            client.streamChats(query(), record.onResult(), record.onComplete());
            auto completed = record.completed.get_future();
            EXPECT_FALSE(waitFor(completed));
            std::lock_guard lock(record.mutex);
            std::vector<std::string> sent;
            for (int i = 0; i < pieceCount; ++i) {
                sent.push_back(std::to_string(i));
            }
            EXPECT_EQ(record.contents, sent);
            EXPECT_TRUE(record.errors.empty());
        } else {
            auto future = client.chats(query());
            EXPECT_EQ(waitFor(future).choices.at(0).message.content()->text(), R"({"name":"Terminal session"})");
        }
    }
}

TEST(RequestBounds, ATrickleIsEndedByTheWholeRequestsBound)
{
    // A byte every 50 ms never leaves the connection idle for the 0.3 s time-out: only the deadline or the
    // minimum rate can end it, each with the other out of reach.
    struct Case {
        const char* name;
        double deadline, minimumBytesPerSecond;
    };
    for (const Case& c : {Case{"deadline", 1.0, 0}, Case{"minimum rate", 600, 1000}}) {
        SCOPED_TRACE(c.name);
        MisbehavingService service;
        service.serveEndlessly("", " ", std::chrono::milliseconds(50), uncompressed);
        OpenAI client(service.configuration(0.3).withRequestBound(c.deadline, c.minimumBytesPerSecond));
        auto future = client.chats(query());
        const std::exception_ptr end = failureOf(future);
        ASSERT_TRUE(end);
        const auto timedOut = errorOf<TransportError>(end);
        EXPECT_TRUE(timedOut.isTimedOut());
        EXPECT_EQ(std::string(timedOut.what()).find("SECRETKEY"), std::string::npos);
    }
}

TEST(AnswerRedirects, ARedirectIsAStatusErrorAndNothingReachesItsTarget)
{
    LoopbackServer target;
    target.onPost(chatPath, [](const httplib::Request&, httplib::Response& response) {
        response.set_content(chatAnswer, "application/json");
    });
    const std::string elsewhere = "http://127.0.0.1:" + std::to_string(target.port()) + chatPath;
    for (const int status : {301, 302, 303, 307, 308}) {
        SCOPED_TRACE(status);
        LoopbackServer service;
        // The redirect's own body is a well-formed answer: it must not be taken either.
        service.onPost(chatPath, [status, elsewhere](const httplib::Request&, httplib::Response& response) {
            response.status = status;
            response.set_header("Location", elsewhere);
            response.set_content(chatAnswer, "application/json");
        });
        StreamRecord record;
        OpenAI client(Configuration(key, std::nullopt, "127.0.0.1", service.port(), "http", 10));
        auto future = client.chats(query());
        const std::exception_ptr failure = failureOf(future);
        ASSERT_TRUE(failure);
        const auto statusError = errorOf<HTTPStatusError>(failure);
        EXPECT_EQ(statusError.statusCode(), status);
        EXPECT_NE(std::string(statusError.what()).find(std::to_string(status)), std::string::npos);

        client.streamChats(query(), record.onResult(), record.onComplete());
        auto completed = record.completed.get_future();
        EXPECT_EQ(errorOf<HTTPStatusError>(waitFor(completed)).statusCode(), status);
        std::lock_guard lock(record.mutex);
        EXPECT_TRUE(record.contents.empty());
        EXPECT_EQ(service.requests().size(), 2u);
    }
    EXPECT_TRUE(target.requests().empty());
}
