#include "aiclient/StreamingSession.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace aiclient;
using aiclient::testing::errorOf;
using aiclient::testing::TestResult;

namespace {

/// What the three callbacks of a session saw, in order.
struct Seen {
    std::vector<TestResult> chunks;
    std::vector<std::exception_ptr> errors;
    std::vector<std::string> order;
    bool completed = false;
};

std::shared_ptr<StreamingSession<TestResult>> makeSession(Seen& seen, std::shared_ptr<Session> transport = nullptr)
{
    auto session = StreamingSession<TestResult>::create(HttpRequest{}, [transport] { return transport; });
    session->onReceiveContent = [&seen](auto&, const TestResult& chunk) {
        seen.chunks.push_back(chunk);
        seen.order.push_back("chunk");
    };
    session->onProcessingError = [&seen](auto&, std::exception_ptr error) {
        seen.errors.push_back(error);
        seen.order.push_back("error");
    };
    session->onComplete = [&seen](auto&, std::exception_ptr) {
        seen.completed = true;
        seen.order.push_back("complete");
    };
    return session;
}

template <class Error> bool holds(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const Error&) {
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace

TEST(StreamingSession, ErrorEnvelopeWithoutDataPrefixIsAProcessingError)
{
    Seen seen;
    auto session = makeSession(seen);
    session->didReceiveData(R"({"error":{"message":"quota","type":"insufficient_quota"}})");
    ASSERT_EQ(seen.errors.size(), 1u);
    EXPECT_EQ(errorOf<APIErrorResponse>(seen.errors[0]).error().message(), "quota");
}

TEST(StreamingSession, InvalidUtf8IsUnknownContentAndTheStreamGoesOn)
{
    Seen seen;
    auto session = makeSession(seen);
    session->didReceiveData("data: {\"id\":\"a\",\"count\":1}\n\n");
    session->didReceiveData("\xc3\x28");
    session->didReceiveData("data: {\"id\":\"b\",\"count\":2}\n\n");
    ASSERT_EQ(seen.errors.size(), 1u);
    EXPECT_EQ(errorOf<StreamingError>(seen.errors[0]).kind(), StreamingError::Kind::unknownContent);
    EXPECT_EQ(seen.chunks, (std::vector<TestResult>{{"a", 1}, {"b", 2}}));
}

TEST(StreamingSession, UndecodablePieceInTheMiddleGivesItsDecodingError)
{
    Seen seen;
    auto session = makeSession(seen);
    session->didReceiveData("data: {\"id\":\"a\",\"count\":1.5}\n\ndata: {\"id\":\"b\",\"count\":2}\n\n");
    ASSERT_EQ(seen.errors.size(), 1u);
    EXPECT_TRUE(holds<DecodingError>(seen.errors[0]));
    EXPECT_EQ(seen.chunks, (std::vector<TestResult>{{"b", 2}}));
}

TEST(StreamingSession, LeftoversAreReportedBeforeCompletion)
{
    Seen seen;
    auto session = makeSession(seen);
    session->didReceiveData("data: {\"id\":\"a\",\"count\":1}\n\ndata: {\"id\":\"cut");
    session->didComplete(nullptr);
    EXPECT_EQ(seen.order, (std::vector<std::string>{"chunk", "error", "complete"}));
    EXPECT_TRUE(holds<DecodingError>(seen.errors.at(0)));

    Seen partial;
    auto other = makeSession(partial);
    other->didReceiveData("data: {\"id\":\"\xE2\x82");
    other->didComplete(nullptr);
    ASSERT_EQ(partial.order.back(), "complete");
    EXPECT_TRUE(std::any_of(partial.errors.begin(), partial.errors.end(), holds<StreamingError>));
}
