#include "aiclient/AudioSpeech.h"
#include "aiclient/AudioTranscription.h"
#include "aiclient/Completions.h"
#include "aiclient/Embeddings.h"
#include "aiclient/Images.h"
#include "aiclient/Models.h"
#include "aiclient/Moderations.h"
#include "aiclient/Vector.h"

#include <cmath>
#include <functional>
#include <gtest/gtest.h>

using namespace aiclient;

namespace {

struct EncodingCase {
    const char* name;
    std::function<std::string()> encode;
    std::string json;
};

std::string categoriesJson(const std::string& value)
{
    std::string json = "{";
    for (std::string_view key : RawValueTraits<ModerationsResult::Moderation::CodingKeys>::rawValues)
        json += "\"" + std::string(key) + "\":" + value + ",";
    json.back() = '}';
    return json;
}

} // namespace

TEST(EndpointModelsEncoding, QueriesWriteTheirKeysInOrderAndLeaveOutWhatIsAbsent)
{
    const std::vector<EncodingCase> cases = {
        {"completions, options unset", [] { return encodeJson(CompletionsQuery{.model = "m", .prompt = "p"}); },
         R"({"model":"m","prompt":"p","stream":false})"},
        {"completions, every option",
         [] {
             return encodeJson(CompletionsQuery{.model = "m",
                                                .prompt = "p",
                                                .temperature = 0.5,
                                                .maxTokens = 16,
                                                .topP = 1,
                                                .frequencyPenalty = 0,
                                                .presencePenalty = -1,
                                                .stop = std::vector<std::string>{},
                                                .user = "u"});
         },
         R"({"model":"m","prompt":"p","stream":false,"temperature":0.5,"max_tokens":16,"top_p":1.0,)"
         R"("frequency_penalty":0.0,"presence_penalty":-1.0,"stop":[],"user":"u"})"},
        {"edits, topP in camel case",
         [] { return encodeJson(EditsQuery{.model = "m", .input = "", .instruction = "i", .n = 2, .topP = 0.5}); },
         R"({"model":"m","input":"","instruction":"i","n":2,"topP":0.5})"},
        {"edits, options unset", [] { return encodeJson(EditsQuery{.model = "m", .instruction = "i"}); },
         R"({"model":"m","instruction":"i"})"},
        {"embeddings, one text",
         [] { return encodeJson(EmbeddingsQuery{.input = EmbeddingsQuery::Input::string("a"), .model = "m"}); },
         R"({"input":"a","model":"m"})"},
        {"embeddings, token matrix with options",
         [] {
             return encodeJson(EmbeddingsQuery{.input = EmbeddingsQuery::Input::intMatrix({{1, 2}}),
                                               .model = "m",
                                               .encodingFormat = EmbeddingsQuery::EncodingFormat::float_,
                                               .user = "u"});
         },
         R"({"input":[[1,2]],"model":"m","encoding_format":"float","user":"u"})"},
        {"images, prompt only", [] { return encodeJson(ImagesQuery{.prompt = "p"}); }, R"({"prompt":"p"})"},
        {"images, every field",
         [] {
             return encodeJson(ImagesQuery{.prompt = "p",
                                           .model = "dall-e-3",
                                           .responseFormat = ImagesQuery::ResponseFormat::b64_json,
                                           .n = 0,
                                           .size = ImagesQuery::Size::_1792_1024,
                                           .user = "u",
                                           .style = ImagesQuery::Style::vivid,
                                           .quality = ImagesQuery::Quality::hd});
         },
         R"({"model":"dall-e-3","prompt":"p","n":0,"size":"1792x1024","user":"u","style":"vivid",)"
         R"("response_format":"b64_json","quality":"hd"})"},
        {"image edit with mask",
         [] {
             return encodeJson(
                 ImageEditsQuery{.image = "img", .mask = "m", .prompt = "p", .size = ImagesQuery::Size::_256});
         },
         R"({"image":"aW1n","mask":"bQ==","prompt":"p","size":"256x256"})"},
        {"image variation", [] { return encodeJson(ImageVariationsQuery{.image = "", .size = "any"}); },
         R"({"image":"","size":"any"})"},
        {"moderation without model", [] { return encodeJson(ModerationsQuery{.input = "text"}); },
         R"({"input":"text"})"},
        {"model query", [] { return encodeJson(ModelQuery{"gpt-4"}); }, R"({"model":"gpt-4"})"},
        {"speech, defaults",
         [] { return encodeJson(AudioSpeechQuery("tts-1", "hello", AudioSpeechQuery::AudioSpeechVoice::nova)); },
         R"({"model":"tts-1","input":"hello","voice":"nova","speed":"1.0"})"},
        {"speech, format and speed",
         [] {
             return encodeJson(AudioSpeechQuery("tts-1-hd", "hi", AudioSpeechQuery::AudioSpeechVoice::alloy,
                                                AudioSpeechQuery::AudioSpeechResponseFormat::opus, 1.5));
         },
         R"({"model":"tts-1-hd","input":"hi","voice":"alloy","response_format":"opus","speed":"1.5"})"},
        {"transcription, member names as keys",
         [] {
             return encodeJson(
                 AudioTranscriptionQuery{.file = "ab",
                                         .fileType = AudioTranscriptionQuery::FileType::mpga,
                                         .model = "whisper-1",
                                         .responseFormat = AudioTranscriptionQuery::ResponseFormat::verboseJson,
                                         .temperature = 0,
                                         .language = "de"});
         },
         R"({"file":"YWI=","fileType":"mpga","model":"whisper-1","responseFormat":"verbose_json",)"
         R"("temperature":0.0,"language":"de"})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.encode(), c.json);
    }
}

TEST(EndpointModelsDecoding, RealShapedAnswersDecode)
{
    const auto completions = decodeJson<CompletionsResult>(
        R"({"id":"cmpl-1","object":"text_completion","created":1700000000,"model":"gpt-3.5-turbo-instruct",)"
        R"("choices":[{"text":"\n\nHi","index":0,"logprobs":null,"finish_reason":null}],"usage":null})");
    EXPECT_EQ(completions.created, 1700000000.0);
    EXPECT_EQ(completions.choices.at(0).text, "\n\nHi");
    EXPECT_FALSE(completions.choices.at(0).finishReason);
    EXPECT_FALSE(completions.usage);
    EXPECT_EQ(encodeJson(completions), R"({"id":"cmpl-1","object":"text_completion","created":1700000000.0,)"
                                       R"("model":"gpt-3.5-turbo-instruct","choices":[{"text":"\n\nHi","index":0}]})");

    const auto edits = decodeJson<EditsResult>(
        R"({"object":"edit","created":1,"choices":[{"text":"t","index":0,"finish_reason":"stop"}],)"
        R"("usage":{"prompt_tokens":1,"completion_tokens":2,"total_tokens":3}})");
    EXPECT_EQ(edits, (EditsResult{"edit", 1, {{"t", 0}}, {1, 2, 3}}));

    const auto embeddings = decodeJson<EmbeddingsResult>(
        R"({"object":"list","data":[{"object":"embedding","index":0,"embedding":[0.5,-1,2e-3]}],)"
        R"("model":"text-embedding-3-small","usage":{"prompt_tokens":4,"total_tokens":4}})");
    EXPECT_EQ(embeddings.data.at(0).embedding, (std::vector<double>{0.5, -1, 0.002}));
    EXPECT_EQ(embeddings.usage.totalTokens, 4);

    const auto images = decodeJson<ImagesResult>(
        R"({"created":5,"data":[{},{"url":"https://x.example/a b.png","revised_prompt":"r"}]})");
    EXPECT_EQ(images.data.at(0), ImagesResult::Image{});
    EXPECT_EQ(images.data.at(1).url, "https://x.example/a b.png");

    const auto models = decodeJson<ModelsResult>(
        R"({"object":"list","data":[{"id":"gpt-4","object":"model","created":1687882411,"owned_by":"openai",)"
        R"("extra":true}]})");
    EXPECT_EQ(models, (ModelsResult{{{"gpt-4", 1687882411, "model", "openai"}}, "list"}));
    EXPECT_NE(models, (ModelsResult{{{"gpt-4", 1687882411, "model", "system"}}, "list"}));

    const auto speech = decodeJson<AudioSpeechQuery>(R"({"model":"whisper-1","input":"i","voice":"echo","speed":"9"})");
    EXPECT_EQ(speech.model(), "whisper-1");
    EXPECT_EQ(speech.speed(), "9");
    EXPECT_EQ(decodeJson<AudioSpeechResult>(R"({"audio":"AAH/"})").audio, std::string("\x00\x01\xff", 3));

    const auto input = decodeJson<EmbeddingsQuery>(R"({"input":{"intList":{"_0":[1,2]},"other":1},"model":"m"})");
    EXPECT_EQ(input.input, EmbeddingsQuery::Input::intList({1, 2}));
    EXPECT_NE(EmbeddingsQuery::Input::intList({}), EmbeddingsQuery::Input::stringList({}));
}

TEST(EndpointModelsDecoding, ModerationCategoriesWalkInTheirOwnOrder)
{
    // Keys reversed in the answer: the walk keeps the categories' order.
    std::string scores = "{";
    const auto& keys = RawValueTraits<ModerationsResult::Moderation::CodingKeys>::rawValues;
    for (std::size_t i = keys.size(); i-- > 0;)
        scores += "\"" + std::string(keys[i]) + "\":" + std::to_string(i) + (i ? "," : "}");
    const auto result = decodeJson<ModerationsResult>(R"({"id":"modr-1","model":"text-moderation-007","results":[)"
                                                      R"({"categories":)" +
                                                      categoriesJson("false") + R"(,"category_scores":)" + scores +
                                                      R"(,"flagged":false}]})");
    const auto& moderation = result.results.at(0);
    std::vector<std::string> flagNames;
    for (const auto& [name, flag] : moderation.categories.walk())
        flagNames.push_back(name);
    std::size_t position = 0;
    for (const auto& [name, score] : moderation.categoryScores.walk()) {
        EXPECT_EQ(name, flagNames.at(position));
        EXPECT_EQ(score, static_cast<double>(position));
        ++position;
    }
    EXPECT_EQ(position, 11u);
    EXPECT_EQ(flagNames.at(5), "self-harm/intent");

    auto zero = ModerationsResult::Moderation::CategoryScores{};
    auto negativeZero = zero;
    negativeZero.hate = -0.0;
    EXPECT_EQ(zero, negativeZero);
    auto notANumber = zero;
    notANumber.hate = std::nan("");
    EXPECT_NE(notANumber, notANumber);
    EXPECT_NE((ModerationsResult{"same", "a", {}}), (ModerationsResult{"same", "b", {}}));
}

TEST(EndpointModelsDecoding, StrictReadsFailWithTheirKindAndPath)
{
    using Kind = DecodingError::Kind;
    struct Case {
        const char* name;
        std::function<void()> decode;
        Kind kind;
        std::string path;
    };
    const std::string goodEmbedding = R"({"object":"embedding","index":0,"embedding":)";
    const std::string embeddingTail = R"(}],"model":"m","usage":{"prompt_tokens":1,"total_tokens":1}})";
    const std::vector<Case> cases = {
        {"edits without usage", [] { decodeJson<EditsResult>(R"({"object":"edit","created":1,"choices":[]})"); },
         Kind::keyNotFound, ""},
        {"completions query without stream", [] { decodeJson<CompletionsQuery>(R"({"model":"m","prompt":"p"})"); },
         Kind::keyNotFound, ""},
        {"embedding given as text",
         [&] {
             decodeJson<EmbeddingsResult>(R"({"object":"list","data":[)" + goodEmbedding + "\"AAAA\"" + embeddingTail);
         },
         Kind::typeMismatch, "data[0].embedding"},
        {"one element of an embedding is text",
         [&] {
             decodeJson<EmbeddingsResult>(R"({"object":"list","data":[)" + goodEmbedding + "[1,2,\"x\"]" +
                                          embeddingTail);
         },
         Kind::typeMismatch, "data[0].embedding[2]"},
        {"embedding result without object",
         [&] { decodeJson<EmbeddingsResult>(R"({"data":[)" + goodEmbedding + "[]" + embeddingTail); },
         Kind::keyNotFound, ""},
        {"embeddings input with two forms",
         [] { decodeJson<EmbeddingsQuery>(R"({"input":{"string":{"_0":"a"},"intList":{"_0":[1]}},"model":"m"})"); },
         Kind::typeMismatch, "input"},
        {"encoded embeddings query does not read back",
         [] {
             decodeJson<EmbeddingsQuery>(encodeJson(EmbeddingsQuery{EmbeddingsQuery::Input::string("a"), "m"}));
         },
         Kind::typeMismatch, "input"},
        {"unknown encoding format",
         [] { decodeJson<EmbeddingsQuery>(R"({"input":{"string":{"_0":"a"}},"model":"m","encoding_format":"f"})"); },
         Kind::dataCorrupted, "encoding_format"},
        {"moderation missing one category",
         [] {
             decodeJson<ModerationsResult>(R"({"id":"i","model":"m","results":[{"categories":{"hate":true},)"
                                           R"("category_scores":{},"flagged":true}]})");
         },
         Kind::keyNotFound, "results[0].categories"},
        {"image size in capitals", [] { decodeJson<ImagesQuery>(R"({"prompt":"p","size":"1024X1024"})"); },
         Kind::dataCorrupted, "size"},
        {"images answer without data", [] { decodeJson<ImagesResult>(R"({"created":1})"); }, Kind::keyNotFound, ""},
        {"model created as text",
         [] { decodeJson<ModelResult>(R"({"id":"i","created":"1","object":"model","owned_by":"o"})"); },
         Kind::typeMismatch, "created"},
        {"model list entry without owner",
         [] { decodeJson<ModelsResult>(R"({"object":"list","data":[{"id":"i","created":1,"object":"model"}]})"); },
         Kind::keyNotFound, "data[0]"},
        {"voice in capitals", [] { decodeJson<AudioSpeechQuery>(R"({"model":"m","input":"i","voice":"Alloy"})"); },
         Kind::dataCorrupted, "voice"},
        {"speed as a number",
         [] { decodeJson<AudioSpeechQuery>(R"({"model":"m","input":"i","voice":"alloy","speed":1})"); },
         Kind::typeMismatch, "speed"},
        {"audio that is not Base64", [] { decodeJson<AudioSpeechResult>(R"({"audio":"***"})"); }, Kind::dataCorrupted,
         "audio"},
        {"transcription result without text", [] { decodeJson<AudioTranscriptionResult>("{}"); }, Kind::keyNotFound,
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            c.decode();
            ADD_FAILURE() << "decoded";
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), c.kind) << error.what();
            EXPECT_EQ(describeCodingPath(error.codingPath()), c.path);
        }
    }
}

TEST(AudioSpeechQuery, ConstructionCorrectsModelAndSpeedAndSaysSo)
{
    const std::string modelWarning = "[AudioSpeech] 'AudioSpeechQuery' must have a valid Text-To-Speech model, "
                                     "'tts-1' or 'tts-1-hd'. Setting model to 'tts-1'.\n";
    const std::string speedWarning =
        "[AudioSpeech] Speed value must be between 0.25 and 4.0. Setting value to closest valid.\n";
    struct Case {
        std::string model;
        std::optional<double> speed;
        std::string storedModel, storedSpeed, printed;
    };
    for (const Case& c : {
             Case{"tts-1-hd", std::nullopt, "tts-1-hd", "1.0", ""},
             Case{"TTS-1", 1, "tts-1", "1.0", modelWarning},
             Case{"", 0.3, "tts-1", "0.3", modelWarning},
             Case{"tts-1", 3.99, "tts-1", "3.99", ""},
             Case{"tts-1", 0.25, "tts-1", "0.25", speedWarning},
             Case{"tts-1", -2, "tts-1", "0.25", speedWarning},
             Case{"tts-1", 4, "tts-1", "4.0", speedWarning},
             Case{"gpt-4", 10, "tts-1", "4.0", modelWarning + speedWarning},
             // Not a number: the default speed, never the text "nan".
             Case{"tts-1", std::nan(""), "tts-1", "1.0", ""},
         }) {
        SCOPED_TRACE(c.model + " " + (c.speed ? std::to_string(*c.speed) : "none"));
        ::testing::internal::CaptureStdout();
        AudioSpeechQuery query(c.model, "text", AudioSpeechQuery::AudioSpeechVoice::fable, std::nullopt, c.speed);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.printed);
        EXPECT_EQ(query.model(), c.storedModel);
        EXPECT_EQ(query.speed(), c.storedSpeed);
    }
    EXPECT_EQ(AudioSpeechQuery::speed(4.0), AudioSpeechQuery::Speed::max);
    EXPECT_FALSE(AudioSpeechQuery::speed(2.0));
}

TEST(Vector, CosineMeasures)
{
    struct Case {
        std::vector<double> a, b;
        double similarity;
    };
    for (const Case& c :
         {Case{{3, 4}, {3, 4}, 1.0}, Case{{1, 0}, {0, 1}, 0.0}, Case{{1, 1}, {1}, 1 / std::sqrt(2.0)}}) {
        EXPECT_NEAR(Vector::cosineSimilarity(c.a, c.b), c.similarity, 1e-12);
        EXPECT_NEAR(Vector::cosineDistance(c.a, c.b), 1 - c.similarity, 1e-12);
    }
    EXPECT_TRUE(std::isnan(Vector::cosineSimilarity({}, {})));
    EXPECT_TRUE(std::isnan(Vector::cosineDistance({0, 0}, {1, 2})));
    EXPECT_EQ(Vector::elementwiseProduct({1, 2, 3}, {4, 5}), (std::vector<double>{4, 10}));
}
