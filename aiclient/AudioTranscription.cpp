#include "aiclient/AudioTranscription.h"

#include "aiclient/MultipartFormData.h"

namespace aiclient {

using FileType = AudioTranscriptionQuery::FileType;
using ResponseFormat = AudioTranscriptionQuery::ResponseFormat;

std::string_view uploadExtension(FileType fileType)
{
    return fileType == FileType::mpga ? rawValue(FileType::mp3) : rawValue(fileType);
}

bool isPlainTextFormat(std::optional<ResponseFormat> format)
{
    return format == ResponseFormat::text || format == ResponseFormat::srt || format == ResponseFormat::vtt;
}

namespace {

MultipartFormDataEntry audioFile(const std::string& bytes, FileType fileType)
{
    const std::string extension(uploadExtension(fileType));
    return MultipartFormDataEntry::fileReference("file", "speech." + extension, bytes, "audio/" + extension);
}

std::optional<MultipartFormValue> text(const std::optional<std::string>& value)
{
    return value ? std::optional<MultipartFormValue>(*value) : std::nullopt;
}

std::optional<MultipartFormValue> number(const std::optional<double>& value)
{
    return value ? std::optional<MultipartFormValue>(*value) : std::nullopt;
}

std::optional<MultipartFormValue> format(const std::optional<ResponseFormat>& value)
{
    return value ? std::optional<MultipartFormValue>(std::string(rawValue(*value))) : std::nullopt;
}

/// The fields both queries share, in their JSON order; the translation has no language.
template <class Query> void encodeCommon(OrderedJson& json, const Query& value)
{
    json = OrderedJson::object();
    json["file"] = encodeBytes(value.file);
    json["fileType"] = value.fileType;
    json["model"] = value.model;
    encodeIfPresent(json, "responseFormat", value.responseFormat);
    encodeIfPresent(json, "prompt", value.prompt);
    encodeIfPresent(json, "temperature", value.temperature);
}

template <class Query> KeyedContainer decodeCommon(const Decoder& decoder, std::string_view type, Query& value)
{
    const KeyedContainer c = decoder.container(type);
    value.file = decodeBytes(c.nested("file"));
    value.fileType = c.decode<FileType>("fileType");
    value.model = c.decode<std::string>("model");
    value.responseFormat = c.decodeIfPresent<ResponseFormat>("responseFormat");
    value.prompt = c.decodeIfPresent<std::string>("prompt");
    value.temperature = c.decodeIfPresent<double>("temperature");
    return c;
}

} // namespace

std::string AudioTranscriptionQuery::encode(const std::string& boundary) const
{
    return MultipartFormDataBodyBuilder(boundary,
                                        {audioFile(file, fileType), MultipartFormDataEntry::string("model", model),
                                         MultipartFormDataEntry::string("prompt", text(prompt)),
                                         MultipartFormDataEntry::string("temperature", number(temperature)),
                                         MultipartFormDataEntry::string("language", text(language)),
                                         MultipartFormDataEntry::string("response_format", format(responseFormat))})
        .build();
}

std::string AudioTranslationQuery::encode(const std::string& boundary) const
{
    return MultipartFormDataBodyBuilder(boundary,
                                        {audioFile(file, fileType), MultipartFormDataEntry::string("model", model),
                                         MultipartFormDataEntry::string("prompt", text(prompt)),
                                         MultipartFormDataEntry::string("response_format", format(responseFormat)),
                                         MultipartFormDataEntry::string("temperature", number(temperature))})
        .build();
}

void to_json(OrderedJson& json, const AudioTranscriptionQuery& value)
{
    encodeCommon(json, value);
    encodeIfPresent(json, "language", value.language);
}

void to_json(OrderedJson& json, const AudioTranslationQuery& value)
{
    encodeCommon(json, value);
}

void to_json(OrderedJson& json, const AudioTranscriptionResult& value)
{
    json = OrderedJson::object();
    json["text"] = value.text;
}

void to_json(OrderedJson& json, const AudioTranslationResult& value)
{
    json = OrderedJson::object();
    json["text"] = value.text;
}

void decodeValue(const Decoder& decoder, AudioTranscriptionQuery& value)
{
    const KeyedContainer c = decodeCommon(decoder, "AudioTranscriptionQuery", value);
    value.language = c.decodeIfPresent<std::string>("language");
}

void decodeValue(const Decoder& decoder, AudioTranslationQuery& value)
{
    decodeCommon(decoder, "AudioTranslationQuery", value);
}

void decodeValue(const Decoder& decoder, AudioTranscriptionResult& value)
{
    value.text = decoder.container("AudioTranscriptionResult").decode<std::string>("text");
}

void decodeValue(const Decoder& decoder, AudioTranslationResult& value)
{
    value.text = decoder.container("AudioTranslationResult").decode<std::string>("text");
}

} // namespace aiclient
