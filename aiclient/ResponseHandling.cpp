#include "aiclient/ResponseHandling.h"

namespace aiclient {

std::exception_ptr errorForStatus(const std::string& body, long statusCode)
{
    try {
        return std::make_exception_ptr(decodeAPIErrorResponse(body));
    } catch (...) {
        return std::make_exception_ptr(HTTPStatusError(statusCode));
    }
}

Outcome<std::string> handleRawResponse(const std::optional<std::string>& data, std::exception_ptr transportError,
                                       const std::optional<HttpResponse>&)
{
    if (transportError) {
        return Outcome<std::string>::failure(transportError);
    }
    if (!data) {
        return Outcome<std::string>::failure(std::make_exception_ptr(OpenAIError::emptyData()));
    }
    return Outcome<std::string>::success(*data);
}

} // namespace aiclient
