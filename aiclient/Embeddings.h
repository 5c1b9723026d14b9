#pragma once

// The embeddings operation: texts or tokens in, one vector of numbers per input out.

#include "aiclient/Coding.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace aiclient {

struct EmbeddingsQuery {
    /// What to embed: one text, several texts, one token list or several. Written as the bare value; read from
    /// the one-key form ({"string": {"_0": …}}), so an encoded query does not read back.
    struct Input {
        std::variant<std::string, std::vector<std::string>, std::vector<std::int64_t>,
                     std::vector<std::vector<std::int64_t>>>
            value{};

        static Input string(std::string text) { return Input{std::move(text)}; }
        static Input stringList(std::vector<std::string> texts) { return Input{std::move(texts)}; }
        static Input intList(std::vector<std::int64_t> tokens) { return Input{std::move(tokens)}; }
        static Input intMatrix(std::vector<std::vector<std::int64_t>> tokens) { return Input{std::move(tokens)}; }

        friend bool operator==(const Input& a, const Input& b) { return same(a.value, b.value); }
    };

    enum class EncodingFormat { float_, base64 }; // "float" is a C++ keyword

    Input input{};
    std::string model{};
    std::optional<EncodingFormat> encodingFormat{};
    std::optional<std::string> user{};
};

struct EmbeddingsResult {
    struct Embedding {
        std::string object{};
        std::vector<double> embedding{};
        std::int64_t index = 0;

        friend bool operator==(const Embedding& a, const Embedding& b)
        {
            return same(a.object, b.object) && a.embedding == b.embedding && a.index == b.index;
        }
    };

    struct Usage {
        std::int64_t promptTokens = 0;
        std::int64_t totalTokens = 0;

        friend bool operator==(const Usage&, const Usage&) = default;
    };

    std::vector<Embedding> data{};
    std::string model{};
    Usage usage{};
    std::string object{};

    friend bool operator==(const EmbeddingsResult& a, const EmbeddingsResult& b)
    {
        return a.data == b.data && same(a.model, b.model) && a.usage == b.usage && same(a.object, b.object);
    }
};

template <> struct RawValueTraits<EmbeddingsQuery::EncodingFormat> {
    static constexpr std::string_view type = "EncodingFormat";
    static constexpr std::array<std::string_view, 2> rawValues{"float", "base64"};
};

void to_json(OrderedJson& json, const EmbeddingsQuery& value);
void to_json(OrderedJson& json, const EmbeddingsQuery::Input& value);
void to_json(OrderedJson& json, const EmbeddingsResult& value);
void to_json(OrderedJson& json, const EmbeddingsResult::Embedding& value);
void to_json(OrderedJson& json, const EmbeddingsResult::Usage& value);

void decodeValue(const Decoder& decoder, EmbeddingsQuery& value);
void decodeValue(const Decoder& decoder, EmbeddingsQuery::Input& value);
void decodeValue(const Decoder& decoder, EmbeddingsResult& value);
void decodeValue(const Decoder& decoder, EmbeddingsResult::Embedding& value);
void decodeValue(const Decoder& decoder, EmbeddingsResult::Usage& value);

} // namespace aiclient
