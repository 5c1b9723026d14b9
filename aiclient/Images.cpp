#include "aiclient/Images.h"

#include "aiclient/MultipartFormData.h"

namespace aiclient {

using Image = ImagesResult::Image;

void to_json(OrderedJson& json, const ImagesQuery& value)
{
    json = OrderedJson::object();
    encodeIfPresent(json, "model", value.model);
    json["prompt"] = value.prompt;
    encodeIfPresent(json, "n", value.n);
    encodeIfPresent(json, "size", value.size);
    encodeIfPresent(json, "user", value.user);
    encodeIfPresent(json, "style", value.style);
    encodeIfPresent(json, "response_format", value.responseFormat);
    encodeIfPresent(json, "quality", value.quality);
}

void decodeValue(const Decoder& decoder, ImagesQuery& value)
{
    const KeyedContainer c = decoder.container("ImagesQuery");
    value.model = c.decodeIfPresent<std::string>("model");
    value.prompt = c.decode<std::string>("prompt");
    value.n = c.decodeIfPresent<std::int64_t>("n");
    value.size = c.decodeIfPresent<ImagesQuery::Size>("size");
    value.user = c.decodeIfPresent<std::string>("user");
    value.style = c.decodeIfPresent<ImagesQuery::Style>("style");
    value.responseFormat = c.decodeIfPresent<ImagesQuery::ResponseFormat>("response_format");
    value.quality = c.decodeIfPresent<ImagesQuery::Quality>("quality");
}

void to_json(OrderedJson& json, const Image& value)
{
    json = OrderedJson::object();
    encodeIfPresent(json, "b64_json", value.b64Json);
    encodeIfPresent(json, "revised_prompt", value.revisedPrompt);
    encodeIfPresent(json, "url", value.url);
}

void to_json(OrderedJson& json, const ImagesResult& value)
{
    json = OrderedJson::object();
    json["created"] = encodeFloat(value.created, "created");
    json["data"] = value.data;
}

void decodeValue(const Decoder& decoder, Image& value)
{
    const KeyedContainer c = decoder.container("Image");
    value.b64Json = c.decodeIfPresent<std::string>("b64_json");
    value.revisedPrompt = c.decodeIfPresent<std::string>("revised_prompt");
    value.url = c.decodeIfPresent<std::string>("url");
}

void decodeValue(const Decoder& decoder, ImagesResult& value)
{
    const KeyedContainer c = decoder.container("ImagesResult");
    value.created = c.decode<double>("created");
    value.data = c.decode<std::vector<Image>>("data");
}

namespace {

std::optional<MultipartFormValue> field(const std::optional<std::string>& value)
{
    return value ? std::optional<MultipartFormValue>(*value) : std::nullopt;
}

std::optional<MultipartFormValue> field(const std::optional<std::int64_t>& value)
{
    return value ? std::optional<MultipartFormValue>(*value) : std::nullopt;
}

template <RawValueEnum E> std::optional<MultipartFormValue> field(const std::optional<E>& value)
{
    return value ? std::optional<MultipartFormValue>(std::string(rawValue(*value))) : std::nullopt;
}

MultipartFormDataEntry png(const char* name, const std::optional<std::string>& bytes)
{
    return MultipartFormDataEntry::fileReference(name, std::string(name) + ".png", bytes, "image/png");
}

std::optional<std::string> optionalBytes(const KeyedContainer& c, std::string_view key)
{
    if (c.isAbsent(key))
        return std::nullopt;
    return decodeBytes(c.nested(key));
}

} // namespace

std::string ImageEditsQuery::encode(const std::string& boundary) const
{
    return MultipartFormDataBodyBuilder(
               boundary,
               {MultipartFormDataEntry::fileReference("image", "image.png", image, "image/png"), png("mask", mask),
                MultipartFormDataEntry::string("model", field(model)),
                MultipartFormDataEntry::string("response_format", field(responseFormat)),
                MultipartFormDataEntry::string("user", field(user)), MultipartFormDataEntry::string("prompt", prompt),
                MultipartFormDataEntry::string("n", field(n)), MultipartFormDataEntry::string("size", field(size))})
        .build();
}

std::string ImageVariationsQuery::encode(const std::string& boundary) const
{
    return MultipartFormDataBodyBuilder(
               boundary,
               {MultipartFormDataEntry::fileReference("image", "image.png", image, "image/png"),
                MultipartFormDataEntry::string("model", field(model)),
                MultipartFormDataEntry::string("response_format", field(responseFormat)),
                MultipartFormDataEntry::string("user", field(user)), MultipartFormDataEntry::string("n", field(n)),
                MultipartFormDataEntry::string("size", field(size))})
        .build();
}

void to_json(OrderedJson& json, const ImageEditsQuery& value)
{
    json = OrderedJson::object();
    json["image"] = encodeBytes(value.image);
    if (value.mask)
        json["mask"] = encodeBytes(*value.mask);
    json["prompt"] = value.prompt;
    encodeIfPresent(json, "model", value.model);
    encodeIfPresent(json, "n", value.n);
    encodeIfPresent(json, "response_format", value.responseFormat);
    encodeIfPresent(json, "size", value.size);
    encodeIfPresent(json, "user", value.user);
}

void to_json(OrderedJson& json, const ImageVariationsQuery& value)
{
    json = OrderedJson::object();
    json["image"] = encodeBytes(value.image);
    encodeIfPresent(json, "model", value.model);
    encodeIfPresent(json, "n", value.n);
    encodeIfPresent(json, "response_format", value.responseFormat);
    encodeIfPresent(json, "size", value.size);
    encodeIfPresent(json, "user", value.user);
}

void decodeValue(const Decoder& decoder, ImageEditsQuery& value)
{
    const KeyedContainer c = decoder.container("ImageEditsQuery");
    value.image = decodeBytes(c.nested("image"));
    value.mask = optionalBytes(c, "mask");
    value.prompt = c.decode<std::string>("prompt");
    value.model = c.decodeIfPresent<std::string>("model");
    value.n = c.decodeIfPresent<std::int64_t>("n");
    value.responseFormat = c.decodeIfPresent<ImagesQuery::ResponseFormat>("response_format");
    value.size = c.decodeIfPresent<ImagesQuery::Size>("size");
    value.user = c.decodeIfPresent<std::string>("user");
}

void decodeValue(const Decoder& decoder, ImageVariationsQuery& value)
{
    const KeyedContainer c = decoder.container("ImageVariationsQuery");
    value.image = decodeBytes(c.nested("image"));
    value.model = c.decodeIfPresent<std::string>("model");
    value.n = c.decodeIfPresent<std::int64_t>("n");
    value.responseFormat = c.decodeIfPresent<ImagesQuery::ResponseFormat>("response_format");
    value.size = c.decodeIfPresent<std::string>("size");
    value.user = c.decodeIfPresent<std::string>("user");
}

} // namespace aiclient
