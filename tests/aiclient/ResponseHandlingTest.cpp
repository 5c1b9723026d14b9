#include "aiclient/ResponseHandling.h"

#include "TestSupport.h"
#include "aiclient/StreamingSession.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <unordered_set>

using namespace aiclient;
using aiclient::testing::errorOf;
using aiclient::testing::TestResult;

TEST(ResponseHandling, TransportErrorWinsOverBytes)
{
    auto transport = std::make_exception_ptr(TransportError(TransportError::Kind::timedOut, "timed out"));
    auto result = handleResponse<TestResult>(std::string(R"({"id":"x","count":1})"), transport);
    ASSERT_FALSE(result.ok());
    EXPECT_TRUE(errorOf<TransportError>(result.error()).isTimedOut());
}

TEST(ResponseHandling, NoBytesIsEmptyDataButZeroBytesIsADecodingError)
{
    EXPECT_EQ(errorOf<OpenAIError>(handleResponse<TestResult>(std::nullopt, nullptr).error()).kind(),
              OpenAIError::Kind::emptyData);
    EXPECT_EQ(errorOf<DecodingError>(handleResponse<TestResult>(std::string(), nullptr).error()).kind(),
              DecodingError::Kind::dataCorrupted);
}

TEST(ResponseHandling, ResultIsDecoded)
{
    auto result = handleResponse<TestResult>(std::string(R"({"id":"x","count":3,"extra":true})"), nullptr);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.value(), (TestResult{"x", 3}));
}

TEST(ResponseHandling, ErrorEnvelopeBecomesAPIErrorResponse)
{
    auto result = handleResponse<TestResult>(std::string(R"({"error":{"message":"m","type":"t"}})"), nullptr);
    const auto response = errorOf<APIErrorResponse>(result.error());
    EXPECT_EQ(response.error(), APIError("m", "t", std::nullopt, std::nullopt));
    EXPECT_STREQ(response.what(), "m");
}

TEST(ResponseHandling, MessageListIsJoinedWithLineFeeds)
{
    auto result = handleResponse<TestResult>(
        std::string(R"({"error":{"message":["a","b"],"type":"t","param":null,"code":"c"}})"), nullptr);
    const auto response = errorOf<APIErrorResponse>(result.error());
    EXPECT_EQ(response.error().message(), "a\nb");
    EXPECT_EQ(response.error().code(), "c");
    EXPECT_FALSE(response.error().param().has_value());
}

TEST(ResponseHandling, UnreadableEnvelopeGivesTheResultsOwnDecodingError)
{
    struct Case {
        const char* name;
        const char* body;
    };
    for (const Case& c : {Case{"numeric message", R"({"error":{"message":5,"type":"t"}})"},
                          Case{"numeric code", R"({"error":{"message":"m","type":"t","code":429}})"},
                          Case{"plain text", "Bad Gateway"}, Case{"no error member", R"({"id":"x"})"}}) {
        SCOPED_TRACE(c.name);
        auto error = errorOf<DecodingError>(handleResponse<TestResult>(std::string(c.body), nullptr).error());
        // The result's error, not the envelope's: its path never starts at "error".
        EXPECT_TRUE(error.codingPath().empty() || error.codingPath().front().stringValue != "error") << error.what();
    }
}

TEST(ServiceErrors, NumericMessageFailsTheEnvelopeWithItsOwnDescription)
{
    try {
        decodeAPIErrorResponse(R"({"error":{"message":5,"type":"t"}})");
        FAIL() << "decoded";
    } catch (const DecodingError& error) {
        EXPECT_EQ(error.kind(), DecodingError::Kind::typeMismatch);
        EXPECT_EQ(error.debugDescription(), "message: expected String or [String]");
        ASSERT_EQ(error.codingPath().size(), 1u);
        EXPECT_EQ(error.codingPath()[0].stringValue, "message");
        EXPECT_FALSE(error.context().underlyingError);
    }
}

TEST(ServiceErrors, EmptyMessageListGivesEmptyMessageAndEqualityComparesAllFields)
{
    auto response = decodeAPIErrorResponse(R"({"error":{"message":[],"type":"t","param":"p"}})");
    EXPECT_EQ(response.error().message(), "");
    EXPECT_EQ(response, APIErrorResponse(APIError("", "t", std::string("p"), std::nullopt)));
    EXPECT_FALSE(response == APIErrorResponse(APIError("", "t", std::nullopt, std::nullopt)));
    // Texts compare as the same characters, whatever their composition: precomposed "é" and "e" + U+0301.
    EXPECT_EQ(APIError("caf\u00e9", "t", std::string("\u00e9"), std::string("c")),
              APIError("cafe\u0301", "t", std::string("e\u0301"), std::string("c")));
}

TEST(ServiceErrors, ErrorKindsCompareAndHashByKind)
{
    using Kind = StreamingError::Kind;
    const std::unordered_set<StreamingError> seen = {
        StreamingError(Kind::unknownContent), StreamingError(Kind::unknownContent), StreamingError(Kind::emptyContent)};
    EXPECT_EQ(seen.size(), 2u);
    EXPECT_TRUE(seen.contains(StreamingError(Kind::emptyContent)));
    EXPECT_NE(StreamingError(Kind::unknownContent), StreamingError(Kind::emptyContent));

    EXPECT_EQ(errorOf<OpenAIError>(handleResponse<TestResult>(std::nullopt, nullptr).error()),
              OpenAIError::emptyData());
    EXPECT_EQ(std::unordered_set<OpenAIError>({OpenAIError::emptyData(), OpenAIError::emptyData()}).size(), 1u);
}

TEST(ResponseHandling, RawAnswerIsDeliveredUnexamined)
{
    const std::string errorBody = R"({"error":{"message":"m","type":"t"}})";
    auto result = handleRawResponse(errorBody, nullptr);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.value(), errorBody);
    EXPECT_FALSE(handleRawResponse(std::nullopt, nullptr).ok());
}

TEST(ResponseHandling, EveryFailureIsCaughtAsOneBaseAndToldApartByKind)
{
    struct Case {
        const char* name;
        Error::Kind kind;
        Outcome<TestResult> outcome;
    };
    const auto transport = std::make_exception_ptr(TransportError(TransportError::Kind::cannotConnect, "refused"));
    const std::vector<Case> cases{
        {"a failed transfer", Error::Kind::transport, handleResponse<TestResult>(std::nullopt, transport)},
        {"no answer", Error::Kind::emptyAnswer, handleResponse<TestResult>(std::nullopt, nullptr)},
        {"an answer of another shape", Error::Kind::decoding, handleResponse<TestResult>(std::string("[]"), nullptr)},
        {"the service's error object", Error::Kind::apiErrorResponse,
         handleResponse<TestResult>(std::string(R"({"error":{"message":"m","type":"t"}})"), nullptr)},
        {"an error status with a page", Error::Kind::httpStatus,
         handleResponse<TestResult>(std::string("<html>bad gateway</html>"), nullptr, HttpResponse{502, {}})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.outcome.ok());
        EXPECT_EQ(errorOf<Error>(c.outcome.error()).kind(), c.kind);
    }
}
