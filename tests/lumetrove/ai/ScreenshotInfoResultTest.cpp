#include "lumetrove/ai/ScreenshotInfoResult.h"

#include "lumetrove/ai/ScreenshotInfoResultCoding.h"

#include <gmock/gmock.h>

namespace lumetrove {
namespace {

using aiclient::DecodingError;

std::optional<DecodingError::Kind> failureOf(const char* json)
{
    try {
        decodeScreenshotInfoResult(QString::fromUtf8(json));
    } catch (const DecodingError& error) {
        return error.kind();
    }
    return std::nullopt;
}

TEST(ScreenshotInfoResultTest, DecodesTheThreeRequiredTextsAndTheOptionalOnes)
{
    const ScreenshotInfoResult plain = decodeScreenshotInfoResult(
        R"({"name": "Build Log", "keywords": "build log", "description": "A log.", "extra": [1, 2]})");
    EXPECT_EQ(plain._name, "Build Log");
    EXPECT_EQ(plain._keywords, "build log");
    EXPECT_EQ(plain.description, "A log.");
    EXPECT_FALSE(plain.aiAssistantResults);
    EXPECT_FALSE(plain.aiAssistantTask);
    EXPECT_TRUE(plain.aiRawResult.isEmpty());

    const ScreenshotInfoResult assisted = decodeScreenshotInfoResult(
        R"({"name": "n", "keywords": "k", "description": "d", "aiAssistantResults": null, "aiAssistantTask": "Why?"})");
    EXPECT_FALSE(assisted.aiAssistantResults);
    EXPECT_EQ(assisted.aiAssistantTask, QStringLiteral("Why?"));
}

TEST(ScreenshotInfoResultTest, RefusesAnswersOfTheWrongShape)
{
    const struct {
        const char* json;
        DecodingError::Kind kind;
    } cases[] = {
        {R"({"name": "n", "description": "d"})", DecodingError::Kind::keyNotFound},
        {R"({"Name": "n", "keywords": "k", "description": "d"})", DecodingError::Kind::keyNotFound},
        {R"({"name": null, "keywords": "k", "description": "d"})", DecodingError::Kind::valueNotFound},
        {R"({"name": "n", "keywords": ["a", "b"], "description": "d"})", DecodingError::Kind::typeMismatch},
        {R"({"name": "n", "keywords": "k", "description": "d", "aiAssistantResults": ["x"]})",
         DecodingError::Kind::typeMismatch},
        {R"({"name": "n", "keywords": "k", "description": "d", "aiAssistantTask": {}})",
         DecodingError::Kind::typeMismatch},
        {R"(["name"])", DecodingError::Kind::typeMismatch},
        {"Here is your JSON: {", DecodingError::Kind::dataCorrupted},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        EXPECT_EQ(failureOf(c.json), c.kind);
    }
}

TEST(ScreenshotInfoResultTest, NormalizedKeywordsKeepWordsOfTwoCharactersThatAreNoNumbers)
{
    const struct {
        QString keywords;
        QString normalized;
    } cases[] = {
        {"Photo  Editor 2024 a X11 -5 +7", "photo editor x11"},
        {"", ""},
        {"   ", ""},
        {"a b 1 22 -3", ""},
        {"tab\tjoined line\nbreak", "tab\tjoined line\nbreak"},
        {"99999999999999999999 -", "99999999999999999999"},
        {QStringLiteral("É e\u0301 CAFÉ"), QStringLiteral("café")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keywords.toStdString());
        ScreenshotInfoResult result;
        result._keywords = c.keywords;
        EXPECT_EQ(result.normalizedKeywords(), c.normalized);
    }
}

TEST(ScreenshotInfoResultTest, EncodesTheRawKeywordsAndOnlyThePresentAssistantFields)
{
    ScreenshotInfoResult result;
    result._name = "Name";
    result._keywords = "Two  Words 7";
    result.description = "Description";
    result.aiRawResult = "raw";
    EXPECT_EQ(aiclient::encodeJson(result), R"({"name":"Name","keywords":"Two  Words 7","description":"Description"})");

    result.aiAssistantResults = "1. a";
    result.aiAssistantTask = "List items.";
    EXPECT_EQ(aiclient::encodeJson(result), R"({"name":"Name","keywords":"Two  Words 7","description":"Description",)"
                                            R"("aiAssistantResults":"1. a","aiAssistantTask":"List items."})");
}

TEST(ScreenshotInfoResultTest, EqualityComparesEveryFieldAsCanonicalText)
{
    ScreenshotInfoResult a;
    a._name = QStringLiteral("Caf\u00e9");
    ScreenshotInfoResult b;
    b._name = QStringLiteral("Cafe\u0301");
    EXPECT_EQ(a, b);

    b.aiRawResult = "{}";
    EXPECT_NE(a, b) << "the raw answer takes part";
    b.aiRawResult.clear();
    b.aiAssistantTask = QString();
    EXPECT_NE(a, b) << "an absent and a present empty text differ";
}

} // namespace
} // namespace lumetrove
