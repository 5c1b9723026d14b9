#include "aiclient/RequestBuilding.h"

#include "TestSupport.h"
#include "aiclient/MultipartFormData.h"

#include <cmath>
#include <gtest/gtest.h>
#include <regex>

using namespace aiclient;
using aiclient::testing::TestQuery;
using aiclient::testing::TestResult;

namespace {

class StringBody final : public MultipartFormDataBodyEncodable {
public:
    std::string encode(const std::string& boundary) const override
    {
        return MultipartFormDataBodyBuilder(boundary, {MultipartFormDataEntry::string("model", std::string("x"))})
            .build();
    }
};

const std::string url = "https://example.test:443/v1/chat/completions";

} // namespace

TEST(JSONRequest, PostCarriesHeadersMethodAndBody)
{
    JSONRequest<TestResult> request(TestQuery{"m", 0.5, false}, url, "POST");
    HttpRequest built = request.build("sk-key", std::string("org-1"), 12.5);
    EXPECT_EQ(built.url, url);
    EXPECT_EQ(built.method, "POST");
    EXPECT_EQ(built.timeoutInterval, 12.5);
    EXPECT_EQ(built.header("Content-Type"), "application/json");
    EXPECT_EQ(built.header("Authorization"), "Bearer sk-key");
    EXPECT_EQ(built.header("OpenAI-Organization"), "org-1");
    EXPECT_EQ(built.body, R"({"model":"m","ratio":0.5,"stream":false})");
}

TEST(JSONRequest, GetWithoutBodyStillCarriesTheHeaders)
{
    JSONRequest<TestResult> request(url, "GET");
    HttpRequest built = request.build("k", std::nullopt, 60);
    EXPECT_EQ(built.method, "GET");
    EXPECT_FALSE(built.body.has_value());
    EXPECT_EQ(built.header("Content-Type"), "application/json");
    EXPECT_EQ(built.header("Authorization"), "Bearer k");
    EXPECT_FALSE(built.header("OpenAI-Organization").has_value());
}

TEST(JSONRequest, EmptyTokenAndEmptyOrganisationAreSentAsGiven)
{
    HttpRequest built = JSONRequest<TestResult>(url, "GET").build("", std::string(), 60);
    EXPECT_EQ(built.header("Authorization"), "Bearer ");
    EXPECT_EQ(built.header("OpenAI-Organization"), "");
}

TEST(JSONRequest, BodyThatCannotBeEncodedFailsTheBuild)
{
    JSONRequest<TestResult> request(TestQuery{"m", std::nan(""), false}, url, "POST");
    EXPECT_THROW(request.build("k", std::nullopt, 60), EncodingError);
}

TEST(RequestHeaders, LineBreaksAndNulInCredentialsAreRefusedWithoutQuotingThem)
{
    const std::string secret = "sk-SECRET";
    const std::vector<std::string> bad = {secret + "\r\nX-Injected: 1", secret + "\nX: y",
                                          secret + std::string(1, '\0'), secret + "\r"};
    for (const auto& value : bad) {
        SCOPED_TRACE(::testing::PrintToString(value));
        try {
            JSONRequest<TestResult>(url, "GET").build(value, std::nullopt, 60);
            ADD_FAILURE() << "token accepted";
        } catch (const InvalidHeaderValueError& error) {
            EXPECT_EQ(std::string(error.what()).find("SECRET"), std::string::npos);
        }
        EXPECT_THROW(JSONRequest<TestResult>(url, "GET").build("k", value, 60), InvalidHeaderValueError);
        auto body = std::make_shared<StringBody>();
        EXPECT_THROW(MultipartFormDataRequest<TestResult>(body, url).build(value, std::nullopt, 60),
                     InvalidHeaderValueError);
    }
}

TEST(MultipartFormDataRequest, BoundaryIsFreshEachBuildAndAgreesWithTheBody)
{
    MultipartFormDataRequest<TestResult> request(std::make_shared<StringBody>(), url);
    HttpRequest first = request.build("k", std::string("o"), 7);
    HttpRequest second = request.build("k", std::string("o"), 7);
    const std::regex contentType("multipart/form-data; boundary=([0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-"
                                 "[0-9A-F]{12})");
    std::smatch a, b;
    const std::string typeA = first.header("Content-Type").value(), typeB = second.header("Content-Type").value();
    ASSERT_TRUE(std::regex_match(typeA, a, contentType)) << typeA;
    ASSERT_TRUE(std::regex_match(typeB, b, contentType)) << typeB;
    EXPECT_NE(a[1].str(), b[1].str());
    EXPECT_EQ(first.body, "--" + a[1].str() + "\r\nContent-Disposition: form-data; name=\"model\"\r\n\r\nx\r\n--" +
                              a[1].str() + "--\r\n");
    EXPECT_EQ(first.method, "POST");
    EXPECT_EQ(first.timeoutInterval, 7);
    EXPECT_EQ(first.header("Authorization"), "Bearer k");
    EXPECT_EQ(first.header("OpenAI-Organization"), "o");
}
