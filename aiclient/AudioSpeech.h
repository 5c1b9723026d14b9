#pragma once

// The request and answer of the text-to-speech operation.

#include "aiclient/Coding.h"

#include <array>
#include <optional>
#include <string>

namespace aiclient {

/// A text-to-speech request. Made through the constructor, which corrects a model that is not a speech model
/// and a speed out of range (each with a warning line on standard output) and keeps the speed as text.
/// Decoding takes the JSON as it stands, without these corrections.
class AudioSpeechQuery {
public:
    enum class AudioSpeechVoice { alloy, echo, fable, onyx, nova, shimmer };
    enum class AudioSpeechResponseFormat { mp3, opus, aac, flac };
    /// The named speeds; their raw values are numbers.
    enum class Speed { normal, max, min };

    static constexpr double rawValue(Speed speed)
    {
        return speed == Speed::normal ? 1.0 : speed == Speed::max ? 4.0 : 0.25;
    }
    /// The speed whose raw value is exactly `value`, or none.
    static std::optional<Speed> speed(double value);

    /// A speed that is not a number counts as absent: it takes the default 1.0 rather than being sent as "nan".
    AudioSpeechQuery(std::string model, std::string input, AudioSpeechVoice voice,
                     std::optional<AudioSpeechResponseFormat> responseFormat = std::nullopt,
                     std::optional<double> speed = std::nullopt);

    const std::string& input() const { return input_; }
    const std::string& model() const { return model_; }
    AudioSpeechVoice voice() const { return voice_; }
    const std::optional<AudioSpeechResponseFormat>& responseFormat() const { return responseFormat_; }
    /// The speed as decimal text ("1.0", "0.25"); present after construction, maybe absent after decoding.
    const std::optional<std::string>& speed() const { return speed_; }

    /// An empty query for the decoder to fill.
    AudioSpeechQuery() = default;
    friend void decodeValue(const Decoder& decoder, AudioSpeechQuery& value);

private:
    std::string input_;
    std::string model_;
    AudioSpeechVoice voice_ = AudioSpeechVoice::alloy;
    std::optional<AudioSpeechResponseFormat> responseFormat_;
    std::optional<std::string> speed_;
};

/// The answer of the speech operation: the audio file exactly as the service sent it.
struct AudioSpeechResult {
    std::string audio{};

    friend bool operator==(const AudioSpeechResult&, const AudioSpeechResult&) = default;
};

template <> struct RawValueTraits<AudioSpeechQuery::AudioSpeechVoice> {
    static constexpr std::string_view type = "AudioSpeechVoice";
    static constexpr std::array<std::string_view, 6> rawValues{"alloy", "echo", "fable", "onyx", "nova", "shimmer"};
};

template <> struct RawValueTraits<AudioSpeechQuery::AudioSpeechResponseFormat> {
    static constexpr std::string_view type = "AudioSpeechResponseFormat";
    static constexpr std::array<std::string_view, 4> rawValues{"mp3", "opus", "aac", "flac"};
};

/// Keys in the order "model", "input", "voice", "response_format", "speed"; the speed as a JSON string.
void to_json(OrderedJson& json, const AudioSpeechQuery& value);
void to_json(OrderedJson& json, const AudioSpeechResult& value);
void decodeValue(const Decoder& decoder, AudioSpeechResult& value);

} // namespace aiclient
