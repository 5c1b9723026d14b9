#pragma once

// How the transport's answer becomes a result or an error. The HTTP status is never read: a service error is
// recognised by the shape of its body, and a body that decodes as the result counts as success.

#include "aiclient/Coding.h"
#include "aiclient/HttpSession.h"
#include "aiclient/Outcome.h"
#include "aiclient/ServiceErrors.h"

#include <exception>
#include <optional>
#include <string>

namespace aiclient {

/// The transport error if any; else `OpenAIError::emptyData` without bytes; else the bytes decoded as
/// `ResultType`; else the service's `APIErrorResponse`; else the result's own decoding error.
template <class ResultType>
Outcome<ResultType> handleResponse(const std::optional<std::string>& data, std::exception_ptr transportError)
{
    if (transportError) {
        return Outcome<ResultType>::failure(transportError);
    }
    if (!data) {
        return Outcome<ResultType>::failure(std::make_exception_ptr(OpenAIError::emptyData()));
    }
    std::exception_ptr decodingError;
    try {
        return Outcome<ResultType>::success(decodeJson<ResultType>(*data));
    } catch (...) {
        decodingError = std::current_exception();
    }
    try {
        return Outcome<ResultType>::failure(std::make_exception_ptr(decodeAPIErrorResponse(*data)));
    } catch (...) {
        // Not an error envelope either: the caller learns why the answer is not a result.
    }
    return Outcome<ResultType>::failure(decodingError);
}

/// For answers that are raw bytes (speech): the transport error if any; else the bytes unchanged, never
/// examined for an error body; else `OpenAIError::emptyData`.
Outcome<std::string> handleRawResponse(const std::optional<std::string>& data, std::exception_ptr transportError);

} // namespace aiclient
