#include "aiclient/ServiceErrors.h"

namespace aiclient {

const char* OpenAIError::what() const noexcept
{
    return "The operation couldn't be completed: the AI service sent no data.";
}

HTTPStatusError::HTTPStatusError(long statusCode)
    : Error(Error::Kind::httpStatus), statusCode_(statusCode),
      description_("The AI service answered with HTTP status " + std::to_string(statusCode) +
                   (statusCode >= 300 && statusCode < 400 ? ", a redirect, which is not followed."
                                                          : " and no error description it could read."))
{}

APIError::APIError(std::string message, std::string type, std::optional<std::string> param,
                   std::optional<std::string> code)
    : Error(Error::Kind::apiError), message_(std::move(message)), type_(std::move(type)), param_(std::move(param)),
      code_(std::move(code))
{}

namespace {

std::string decodeMessage(const KeyedContainer& container)
{
    try {
        return container.decode<std::string>("message");
    } catch (const DecodingError&) {
    }
    try {
        std::string joined;
        const auto parts = container.decode<std::vector<std::string>>("message");
        for (size_t i = 0; i < parts.size(); ++i) {
            joined += (i == 0 ? "" : "\n") + parts[i];
        }
        return joined;
    } catch (const DecodingError&) {
    }
    throw DecodingError::typeMismatch(
        "String", DecodingError::Context{{CodingKey::key("message")}, "message: expected String or [String]", nullptr});
}

} // namespace

APIError decodeAPIError(const Decoder& decoder)
{
    const KeyedContainer container = decoder.container("APIError");
    std::string message = decodeMessage(container);
    std::string type = container.decode<std::string>("type");
    std::optional<std::string> param = container.decodeIfPresent<std::string>("param");
    std::optional<std::string> code = container.decodeIfPresent<std::string>("code");
    return APIError(std::move(message), std::move(type), std::move(param), std::move(code));
}

APIErrorResponse decodeAPIErrorResponse(const Decoder& decoder)
{
    return APIErrorResponse(decodeAPIError(decoder.container("APIErrorResponse").nested("error")));
}

APIErrorResponse decodeAPIErrorResponse(std::string_view bytes)
{
    const nlohmann::json document = parseJson(bytes);
    return decodeAPIErrorResponse(Decoder(document));
}

} // namespace aiclient
