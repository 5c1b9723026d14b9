#include "aiclient/ResponseHandling.h"

namespace aiclient {

Result<std::string> handleRawResponse(const std::optional<std::string>& data, std::exception_ptr transportError)
{
    if (transportError) {
        return Result<std::string>::failure(transportError);
    }
    if (!data) {
        return Result<std::string>::failure(std::make_exception_ptr(OpenAIError::emptyData()));
    }
    return Result<std::string>::success(*data);
}

} // namespace aiclient
