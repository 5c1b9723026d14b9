#pragma once

// The requests and answers of the speech-to-text operations: transcription and translation. Both requests are
// uploaded as multipart forms; their JSON form exists for callers that store them.

#include "aiclient/Coding.h"

#include <array>
#include <optional>
#include <string>

namespace aiclient {

struct AudioTranscriptionQuery {
    enum class ResponseFormat { json, text, verboseJson, srt, vtt };
    enum class FileType { flac, mp3, mpga, mp4, m4a, mpeg, ogg, wav, webm };

    /// The audio file's bytes.
    std::string file{};
    FileType fileType = FileType::mp3;
    std::string model{};
    std::optional<ResponseFormat> responseFormat{};
    std::optional<std::string> prompt{};
    std::optional<double> temperature{};
    std::optional<std::string> language{};

    /// The form body under `boundary`: file, model, prompt, temperature, language, response_format.
    std::string encode(const std::string& boundary) const;
};

/// Asks for the audio to be translated into English; no language field, and its form fields come in another
/// order than the transcription's.
struct AudioTranslationQuery {
    using FileType = AudioTranscriptionQuery::FileType;
    using ResponseFormat = AudioTranscriptionQuery::ResponseFormat;

    std::string file{};
    FileType fileType = FileType::mp3;
    std::string model{};
    std::optional<ResponseFormat> responseFormat{};
    std::optional<std::string> prompt{};
    std::optional<double> temperature{};

    /// The form body under `boundary`: file, model, prompt, response_format, temperature.
    std::string encode(const std::string& boundary) const;
};

/// The extension under which a file type is uploaded: its raw text, but "mp3" for `mpga`.
std::string_view uploadExtension(AudioTranscriptionQuery::FileType fileType);

/// Whether the service answers `format` with plain text rather than a JSON object.
bool isPlainTextFormat(std::optional<AudioTranscriptionQuery::ResponseFormat> format);

struct AudioTranscriptionResult {
    std::string text{};
    friend bool operator==(const AudioTranscriptionResult& a, const AudioTranscriptionResult& b)
    {
        return same(a.text, b.text);
    }
};

struct AudioTranslationResult {
    std::string text{};
    friend bool operator==(const AudioTranslationResult& a, const AudioTranslationResult& b)
    {
        return same(a.text, b.text);
    }
};

template <> struct RawValueTraits<AudioTranscriptionQuery::ResponseFormat> {
    static constexpr std::string_view type = "ResponseFormat";
    static constexpr std::array<std::string_view, 5> rawValues{"json", "text", "verbose_json", "srt", "vtt"};
};

template <> struct RawValueTraits<AudioTranscriptionQuery::FileType> {
    static constexpr std::string_view type = "FileType";
    static constexpr std::array<std::string_view, 9> rawValues{"flac", "mp3", "mpga", "mp4", "m4a",
                                                               "mpeg", "ogg", "wav",  "webm"};
};

/// The JSON keys are the member names ("fileType", "responseFormat"); the file travels as Base64.
void to_json(OrderedJson& json, const AudioTranscriptionQuery& value);
void to_json(OrderedJson& json, const AudioTranslationQuery& value);
void to_json(OrderedJson& json, const AudioTranscriptionResult& value);
void to_json(OrderedJson& json, const AudioTranslationResult& value);
void decodeValue(const Decoder& decoder, AudioTranscriptionQuery& value);
void decodeValue(const Decoder& decoder, AudioTranslationQuery& value);
void decodeValue(const Decoder& decoder, AudioTranscriptionResult& value);
void decodeValue(const Decoder& decoder, AudioTranslationResult& value);

} // namespace aiclient
