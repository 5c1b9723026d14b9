#include "aiclient/AudioTranscription.h"
#include "aiclient/Images.h"

#include <functional>
#include <gtest/gtest.h>

using namespace aiclient;

namespace {

std::string field(const std::string& name, const std::string& value)
{
    return "--B\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
}

std::string file(const std::string& name, const std::string& fileName, const std::string& type,
                 const std::string& bytes)
{
    return "--B\r\nContent-Disposition: form-data; name=\"" + name + "\"; filename=\"" + fileName +
           "\"\r\nContent-Type: " + type + "\r\n\r\n" + bytes + "\r\n";
}

const std::string end = "--B--\r\n";
const std::string bytes("\x89PNG\r\n\x00\xff", 8);

} // namespace

TEST(EndpointForms, UploadQueriesWriteTheirPartsInTheirOwnOrder)
{
    using Format = AudioTranscriptionQuery::ResponseFormat;
    using FileType = AudioTranscriptionQuery::FileType;
    struct Case {
        const char* name;
        std::function<std::string()> encode;
        std::string body;
    };
    const std::vector<Case> cases = {
        {"transcription, required fields",
         [] {
             return AudioTranscriptionQuery{.file = bytes, .fileType = FileType::wav, .model = "whisper-1"}.encode("B");
         },
         file("file", "speech.wav", "audio/wav", bytes) + field("model", "whisper-1") + end},
        {"transcription, every field",
         [] {
             return AudioTranscriptionQuery{.file = "a",
                                            .fileType = FileType::mpga,
                                            .model = "w",
                                            .responseFormat = Format::verboseJson,
                                            .prompt = "",
                                            .temperature = 0,
                                            .language = "en"}
                 .encode("B");
         },
         file("file", "speech.mp3", "audio/mp3", "a") + field("model", "w") + field("prompt", "") +
             field("temperature", "0.0") + field("language", "en") + field("response_format", "verbose_json") + end},
        {"translation, every field",
         [] {
             return AudioTranslationQuery{.file = "a",
                                          .fileType = FileType::m4a,
                                          .model = "w",
                                          .responseFormat = Format::srt,
                                          .prompt = "p",
                                          .temperature = 1}
                 .encode("B");
         },
         file("file", "speech.m4a", "audio/m4a", "a") + field("model", "w") + field("prompt", "p") +
             field("response_format", "srt") + field("temperature", "1.0") + end},
        {"image edit, image and prompt", [] { return ImageEditsQuery{.image = "", .prompt = "p"}.encode("B"); },
         file("image", "image.png", "image/png", "") + field("prompt", "p") + end},
        {"image edit, every field",
         [] {
             return ImageEditsQuery{.image = bytes,
                                    .mask = "m",
                                    .prompt = "p",
                                    .model = "dall-e-2",
                                    .n = -1,
                                    .responseFormat = ImagesQuery::ResponseFormat::url,
                                    .size = ImagesQuery::Size::_1024_1792,
                                    .user = "u"}
                 .encode("B");
         },
         file("image", "image.png", "image/png", bytes) + file("mask", "mask.png", "image/png", "m") +
             field("model", "dall-e-2") + field("response_format", "url") + field("user", "u") + field("prompt", "p") +
             field("n", "-1") + field("size", "1024x1792") + end},
        {"image variation, size free text",
         [] {
             return ImageVariationsQuery{.image = "i",
                                         .model = "m",
                                         .n = 0,
                                         .responseFormat = ImagesQuery::ResponseFormat::b64_json,
                                         .size = "",
                                         .user = "u"}
                 .encode("B");
         },
         file("image", "image.png", "image/png", "i") + field("model", "m") + field("response_format", "b64_json") +
             field("user", "u") + field("n", "0") + field("size", "") + end},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.encode(), c.body);
    }
}

TEST(EndpointForms, UploadExtensionsAndBoundaries)
{
    using FileType = AudioTranscriptionQuery::FileType;
    for (FileType type : allCases<FileType>()) {
        const std::string expected = type == FileType::mpga ? "mp3" : std::string(rawValue(type));
        EXPECT_EQ(uploadExtension(type), expected);
    }
    const ImageVariationsQuery query{.image = "i", .n = 2};
    std::string other = query.encode("OTHER");
    for (std::size_t at; (at = other.find("OTHER")) != std::string::npos;)
        other.replace(at, 5, "B");
    EXPECT_EQ(other, query.encode("B"));
}
