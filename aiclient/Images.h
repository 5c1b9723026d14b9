#pragma once

// The image operations: generation (JSON), edits and variations (multipart uploads), and the answer all three
// share.

#include "aiclient/Coding.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace aiclient {

struct ImagesQuery {
    enum class ResponseFormat { url, b64_json };
    enum class Size { _256, _512, _1024, _1792_1024, _1024_1792 };
    enum class Style { natural, vivid };
    enum class Quality { standard, hd };

    std::string prompt{};
    std::optional<std::string> model{};
    std::optional<ResponseFormat> responseFormat{};
    /// The number of images; sent as given, not range-checked.
    std::optional<std::int64_t> n{};
    std::optional<Size> size{};
    std::optional<std::string> user{};
    std::optional<Style> style{};
    std::optional<Quality> quality{};
};

struct ImagesResult {
    struct Image {
        std::optional<std::string> b64Json{};
        std::optional<std::string> revisedPrompt{};
        /// Kept as the text received.
        std::optional<std::string> url{};

        friend bool operator==(const Image& a, const Image& b)
        {
            return same(a.b64Json, b.b64Json) && same(a.revisedPrompt, b.revisedPrompt) && same(a.url, b.url);
        }
    };

    double created = 0;
    std::vector<Image> data{};

    friend bool operator==(const ImagesResult& a, const ImagesResult& b)
    {
        return a.created == b.created && a.data == b.data;
    }
};

/// Edits an image, within the transparent area of `mask` when given, as `prompt` says. Every image travels as
/// a PNG file part, whatever its bytes.
struct ImageEditsQuery {
    std::string image{};
    std::optional<std::string> mask{};
    std::string prompt{};
    std::optional<std::string> model{};
    std::optional<std::int64_t> n{};
    std::optional<ImagesQuery::ResponseFormat> responseFormat{};
    std::optional<ImagesQuery::Size> size{};
    std::optional<std::string> user{};

    /// The form body under `boundary`: image, mask, model, response_format, user, prompt, n, size.
    std::string encode(const std::string& boundary) const;
};

/// Makes variations of an image. Its size is free text, sent unchanged.
struct ImageVariationsQuery {
    std::string image{};
    std::optional<std::string> model{};
    std::optional<std::int64_t> n{};
    std::optional<ImagesQuery::ResponseFormat> responseFormat{};
    std::optional<std::string> size{};
    std::optional<std::string> user{};

    /// The form body under `boundary`: image, model, response_format, user, n, size.
    std::string encode(const std::string& boundary) const;
};

template <> struct RawValueTraits<ImagesQuery::ResponseFormat> {
    static constexpr std::string_view type = "ResponseFormat";
    static constexpr std::array<std::string_view, 2> rawValues{"url", "b64_json"};
};
template <> struct RawValueTraits<ImagesQuery::Size> {
    static constexpr std::string_view type = "Size";
    static constexpr std::array<std::string_view, 5> rawValues{"256x256", "512x512", "1024x1024", "1792x1024",
                                                               "1024x1792"};
};
template <> struct RawValueTraits<ImagesQuery::Style> {
    static constexpr std::string_view type = "Style";
    static constexpr std::array<std::string_view, 2> rawValues{"natural", "vivid"};
};
template <> struct RawValueTraits<ImagesQuery::Quality> {
    static constexpr std::string_view type = "Quality";
    static constexpr std::array<std::string_view, 2> rawValues{"standard", "hd"};
};

/// Keys in the order "model", "prompt", "n", "size", "user", "style", "response_format", "quality".
void to_json(OrderedJson& json, const ImagesQuery& value);
void to_json(OrderedJson& json, const ImagesResult& value);
void to_json(OrderedJson& json, const ImagesResult::Image& value);
/// The images as Base64 text.
void to_json(OrderedJson& json, const ImageEditsQuery& value);
void to_json(OrderedJson& json, const ImageVariationsQuery& value);

void decodeValue(const Decoder& decoder, ImagesQuery& value);
void decodeValue(const Decoder& decoder, ImagesResult& value);
void decodeValue(const Decoder& decoder, ImagesResult::Image& value);
void decodeValue(const Decoder& decoder, ImageEditsQuery& value);
void decodeValue(const Decoder& decoder, ImageVariationsQuery& value);

} // namespace aiclient
