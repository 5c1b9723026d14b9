#include "aiclient/AudioSpeech.h"

#include <cmath>
#include <iostream>

namespace aiclient {

std::optional<AudioSpeechQuery::Speed> AudioSpeechQuery::speed(double value)
{
    for (Speed speed : {Speed::normal, Speed::max, Speed::min})
        if (rawValue(speed) == value)
            return speed;
    return std::nullopt;
}

namespace {

std::string checkedModel(std::string model)
{
    if (model == "tts-1" || model == "tts-1-hd")
        return model;
    std::cout << "[AudioSpeech] 'AudioSpeechQuery' must have a valid Text-To-Speech model, 'tts-1' or 'tts-1-hd'. "
                 "Setting model to 'tts-1'."
              << std::endl;
    return "tts-1";
}

std::string normalizedSpeed(std::optional<double> speed)
{
    using Speed = AudioSpeechQuery::Speed;
    if (!speed || std::isnan(*speed))
        return shortestDecimalText(AudioSpeechQuery::rawValue(Speed::normal));
    double value = *speed;
    const double min = AudioSpeechQuery::rawValue(Speed::min);
    const double max = AudioSpeechQuery::rawValue(Speed::max);
    if (value <= min || value >= max) {
        std::cout << "[AudioSpeech] Speed value must be between 0.25 and 4.0. Setting value to closest valid."
                  << std::endl;
        value = value <= min ? min : max;
    }
    return shortestDecimalText(value);
}

} // namespace

AudioSpeechQuery::AudioSpeechQuery(std::string model, std::string input, AudioSpeechVoice voice,
                                   std::optional<AudioSpeechResponseFormat> responseFormat, std::optional<double> speed)
    : input_(std::move(input)), model_(checkedModel(std::move(model))), voice_(voice), responseFormat_(responseFormat),
      speed_(normalizedSpeed(speed))
{}

void to_json(OrderedJson& json, const AudioSpeechQuery& value)
{
    json = OrderedJson::object();
    json["model"] = value.model();
    json["input"] = value.input();
    json["voice"] = value.voice();
    encodeIfPresent(json, "response_format", value.responseFormat());
    encodeIfPresent(json, "speed", value.speed());
}

void decodeValue(const Decoder& decoder, AudioSpeechQuery& value)
{
    const KeyedContainer c = decoder.container("AudioSpeechQuery");
    value.model_ = c.decode<std::string>("model");
    value.input_ = c.decode<std::string>("input");
    value.voice_ = c.decode<AudioSpeechQuery::AudioSpeechVoice>("voice");
    value.responseFormat_ = c.decodeIfPresent<AudioSpeechQuery::AudioSpeechResponseFormat>("response_format");
    value.speed_ = c.decodeIfPresent<std::string>("speed");
}

void to_json(OrderedJson& json, const AudioSpeechResult& value)
{
    json = OrderedJson::object();
    json["audio"] = encodeBytes(value.audio);
}

void decodeValue(const Decoder& decoder, AudioSpeechResult& value)
{
    const KeyedContainer c = decoder.container("AudioSpeechResult");
    value.audio = decodeBytes(c.nested("audio"));
}

} // namespace aiclient
