#pragma once

// The model-listing operations: one model's description, the list of models, and the catalogue of model
// identifiers that any request's `model` can take.

#include "aiclient/Coding.h"

#include <string>
#include <string_view>
#include <vector>

namespace aiclient {

/// Names the model whose description `OpenAI::model` fetches; sent in the path, never as a body.
struct ModelQuery {
    std::string model{};
    friend bool operator==(const ModelQuery& a, const ModelQuery& b) { return same(a.model, b.model); }
};

struct ModelResult {
    std::string id{};
    /// The creation time as the service reports it.
    double created = 0;
    std::string object{};
    std::string ownedBy{};

    friend bool operator==(const ModelResult& a, const ModelResult& b)
    {
        return same(a.id, b.id) && a.created == b.created && same(a.object, b.object) && same(a.ownedBy, b.ownedBy);
    }
};

struct ModelsResult {
    std::vector<ModelResult> data{};
    std::string object{};

    friend bool operator==(const ModelsResult& a, const ModelsResult& b)
    {
        return a.data == b.data && same(a.object, b.object);
    }
};

void to_json(OrderedJson& json, const ModelQuery& value);
void to_json(OrderedJson& json, const ModelResult& value);
void to_json(OrderedJson& json, const ModelsResult& value);
void decodeValue(const Decoder& decoder, ModelQuery& value);
void decodeValue(const Decoder& decoder, ModelResult& value);
void decodeValue(const Decoder& decoder, ModelsResult& value);

/// The service's model identifiers, as plain texts.
namespace ModelIdentifier {
inline constexpr std::string_view gpt4Turbo = "gpt-4-turbo";
inline constexpr std::string_view gpt4TurboPreview = "gpt-4-turbo-preview";
inline constexpr std::string_view gpt4VisionPreview = "gpt-4-vision-preview";
inline constexpr std::string_view gpt4_0125Preview = "gpt-4-0125-preview";
inline constexpr std::string_view gpt4_1106Preview = "gpt-4-1106-preview";
inline constexpr std::string_view gpt4 = "gpt-4";
inline constexpr std::string_view gpt4_0613 = "gpt-4-0613";
inline constexpr std::string_view gpt4_0314 = "gpt-4-0314";
inline constexpr std::string_view gpt4_32k = "gpt-4-32k";
inline constexpr std::string_view gpt4_32k0613 = "gpt-4-32k-0613";
inline constexpr std::string_view gpt4_32k0314 = "gpt-4-32k-0314";
inline constexpr std::string_view gpt3_5Turbo = "gpt-3.5-turbo";
inline constexpr std::string_view gpt3_5Turbo0125 = "gpt-3.5-turbo-0125";
inline constexpr std::string_view gpt3_5Turbo1106 = "gpt-3.5-turbo-1106";
inline constexpr std::string_view gpt3_5Turbo0613 = "gpt-3.5-turbo-0613";
inline constexpr std::string_view gpt3_5Turbo0301 = "gpt-3.5-turbo-0301";
inline constexpr std::string_view gpt3_5Turbo16k = "gpt-3.5-turbo-16k";
inline constexpr std::string_view gpt3_5Turbo16k0613 = "gpt-3.5-turbo-16k-0613";
inline constexpr std::string_view textDavinci003 = "text-davinci-003";
inline constexpr std::string_view textDavinci002 = "text-davinci-002";
inline constexpr std::string_view textCurie001 = "text-curie-001";
inline constexpr std::string_view textBabbage001 = "text-babbage-001";
inline constexpr std::string_view textAda001 = "text-ada-001";
inline constexpr std::string_view textDavinci001 = "text-davinci-001";
inline constexpr std::string_view codeDavinciEdit001 = "code-davinci-edit-001";
inline constexpr std::string_view tts1 = "tts-1";
inline constexpr std::string_view tts1Hd = "tts-1-hd";
inline constexpr std::string_view whisper1 = "whisper-1";
inline constexpr std::string_view dallE2 = "dall-e-2";
inline constexpr std::string_view dallE3 = "dall-e-3";
inline constexpr std::string_view davinci = "davinci";
inline constexpr std::string_view curie = "curie";
inline constexpr std::string_view babbage = "babbage";
inline constexpr std::string_view ada = "ada";
inline constexpr std::string_view textEmbeddingAda002 = "text-embedding-ada-002";
inline constexpr std::string_view textSearchAdaDoc001 = "text-search-ada-doc-001";
inline constexpr std::string_view textSearchBabbageDoc001 = "text-search-babbage-doc-001";
inline constexpr std::string_view textSearchBabbageQuery001 = "text-search-babbage-query-001";
inline constexpr std::string_view textEmbedding3Small = "text-embedding-3-small";
inline constexpr std::string_view textEmbedding3Large = "text-embedding-3-large";
inline constexpr std::string_view textModerationStable = "text-moderation-stable";
inline constexpr std::string_view textModerationLatest = "text-moderation-latest";
inline constexpr std::string_view textModeration007 = "text-moderation-007";
} // namespace ModelIdentifier

} // namespace aiclient
