#include "aiclient/Coding.h"

#include "aiclient/ChatMessages.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace aiclient {
namespace {

using Kind = DecodingError::Kind;

/// Runs `read` and returns the decoding error it throws; fails the test when it throws none.
template <class Read> DecodingError decodingErrorOf(Read read)
{
    try {
        read();
    } catch (const DecodingError& error) {
        return error;
    }
    ADD_FAILURE() << "no decoding error";
    return DecodingError::dataCorrupted({});
}

struct PlainCase {
    const char* name;
    const char* json;
    Kind kind;
};

template <class T> void expectRefused(const std::vector<PlainCase>& cases)
{
    for (const PlainCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decodingErrorOf([&] { decodeJson<T>(c.json); }).kind(), c.kind);
    }
}

TEST(StrictReading, IntegerRefusesFractionsTextsAndOutOfRangeNumbers)
{
    EXPECT_EQ(decodeJson<std::int64_t>("42"), 42);
    EXPECT_EQ(decodeJson<std::int64_t>("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(decodeJson<std::int64_t>("2.0"), 2);
    expectRefused<std::int64_t>({{"fraction", "1.5", Kind::dataCorrupted},
                                 {"too large", "9223372036854775808", Kind::dataCorrupted},
                                 {"text", "\"1\"", Kind::typeMismatch},
                                 {"Boolean", "true", Kind::typeMismatch},
                                 {"null", "null", Kind::valueNotFound}});
}

TEST(StrictReading, BooleanTextAndFloatRefuseOtherJsonTypes)
{
    EXPECT_TRUE(decodeJson<bool>("true"));
    EXPECT_EQ(decodeJson<std::string>("\"é\""), "é");
    EXPECT_EQ(decodeJson<double>("3"), 3.0);
    expectRefused<bool>({{"number", "1", Kind::typeMismatch}, {"text", "\"true\"", Kind::typeMismatch}});
    expectRefused<std::string>({{"number", "1", Kind::typeMismatch}, {"object", "{}", Kind::typeMismatch}});
    expectRefused<double>({{"text", "\"1.0\"", Kind::typeMismatch}, {"null", "null", Kind::valueNotFound}});
}

TEST(StrictReading, TextThatIsNotJsonIsDataCorruptedWithTheParserErrorUnderneath)
{
    const DecodingError error = decodingErrorOf([] { decodeJson<std::string>("{\"id\": "); });
    EXPECT_EQ(error.kind(), Kind::dataCorrupted);
    EXPECT_TRUE(error.codingPath().empty());
    EXPECT_NE(error.context().underlyingError, nullptr);
}

TEST(StrictReading, ErrorsCarryTheCodingPathOfTheFailingValue)
{
    const DecodingError mismatch =
        decodingErrorOf([] { decodeJson<std::map<std::string, std::vector<std::int64_t>>>(R"({"a": [1, "x"]})"); });
    EXPECT_EQ(mismatch.kind(), Kind::typeMismatch);
    EXPECT_EQ(mismatch.type(), "Int64");
    EXPECT_EQ(mismatch.codingPath(), (CodingPath{CodingKey::key("a"), CodingKey::index(1)}));
    EXPECT_EQ(describeCodingPath(mismatch.codingPath()), "a[1]");
    EXPECT_NE(std::string(mismatch.what()).find("a[1]"), std::string::npos);

    // A missing key names the key; the path is that of the object lacking it.
    const DecodingError missing = decodingErrorOf(
        [] { decodeJson<std::vector<ChatCompletionMessageParam>>(R"([{"role": "tool", "content": "x"}])"); });
    EXPECT_EQ(missing.kind(), Kind::keyNotFound);
    ASSERT_TRUE(missing.key());
    EXPECT_EQ(missing.key()->stringValue, "tool_call_id");
    EXPECT_EQ(missing.codingPath(), CodingPath{CodingKey::index(0)});
}

TEST(StrictReading, NlohmannGetReportsTheSameErrors)
{
    using Role = ChatCompletionMessageParam::Role;
    EXPECT_EQ(nlohmann::json("assistant").get<Role>(), Role::assistant);
    EXPECT_THROW(nlohmann::json(3).get<Role>(), DecodingError);
    EXPECT_EQ(OrderedJson(Role::tool).dump(), "\"tool\"");
    EXPECT_EQ(nlohmann::json(Role::tool).dump(), "\"tool\"");
}

TEST(Encoding, TextThatIsNotUtf8IsRefusedRatherThanSentMangled)
{
    const auto message = ChatCompletionMessageParam::make(ChatCompletionMessageParam::Role::system, "caf\xE9");
    ASSERT_TRUE(message);
    EXPECT_THROW(encodeJson(*message), EncodingError);
}

TEST(Base64, PadsAndUsesTheStandardAlphabet)
{
    struct Case {
        std::string bytes;
        std::string text;
    };
    for (const Case& c : std::vector<Case>{{"", ""},
                                           {"f", "Zg=="},
                                           {"fo", "Zm8="},
                                           {"foo", "Zm9v"},
                                           {"foobar", "Zm9vYmFy"},
                                           {std::string("\xFB\xFF\xBF", 3), "+/+/"}}) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(base64Encode(reinterpret_cast<const unsigned char*>(c.bytes.data()), c.bytes.size()), c.text);
    }
}

TEST(UnicodeEquality, ComparesCanonicalEquivalents)
{
    EXPECT_TRUE(unicodeEquals("caf\u00E9", "cafe\u0301"));
    EXPECT_TRUE(unicodeEquals("\uAC00", "\u1100\u1161")); // Hangul syllable and its jamo
    EXPECT_FALSE(unicodeEquals("cafe", "caf\u00E9"));
    EXPECT_FALSE(unicodeEquals("\uFB01", "fi")); // a compatibility ligature is not canonically equal
    EXPECT_FALSE(unicodeEquals("\xFF", "\xFE"));
    EXPECT_TRUE(unicodeEquals("\xFF", "\xFF"));
}

} // namespace
} // namespace aiclient
