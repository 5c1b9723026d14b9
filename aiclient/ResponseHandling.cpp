#include "aiclient/ResponseHandling.h"

namespace aiclient {

Outcome<std::string> handleRawResponse(const std::optional<std::string>& data, std::exception_ptr transportError)
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
