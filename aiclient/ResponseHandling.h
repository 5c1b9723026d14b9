#pragma once

// How the transport's answer becomes a result or an error. A service error is recognised by the shape of its
// body, and a body that decodes as the result counts as success whatever the status; the HTTP status is read
// only when the body is neither, so that a gateway's error page is reported by its status.

#include "aiclient/Coding.h"
#include "aiclient/HttpSession.h"
#include "aiclient/Outcome.h"
#include "aiclient/ServiceErrors.h"

#include <exception>
#include <optional>
#include <string>

namespace aiclient {

/// Whether `response` carries a status other than success (2xx).
inline bool hasErrorStatus(const std::optional<HttpResponse>& response)
{
    return response && (response->statusCode < 200 || response->statusCode >= 300);
}

/// What an answer with an error status stands for: the service's `APIErrorResponse` when `body` holds one, else
/// `HTTPStatusError` naming the status.
std::exception_ptr errorForStatus(const std::string& body, long statusCode);

/// The transport error if any; else `OpenAIError::emptyData` without bytes; else the bytes decoded as
/// `ResultType`; else the service's `APIErrorResponse`; else `HTTPStatusError` when the answer's status is not
/// success; else the result's own decoding error.
template <class ResultType>
Outcome<ResultType> handleResponse(const std::optional<std::string>& data, std::exception_ptr transportError,
                                   const std::optional<HttpResponse>& response = std::nullopt)
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
    if (hasErrorStatus(response)) {
        return Outcome<ResultType>::failure(std::make_exception_ptr(HTTPStatusError(response->statusCode)));
    }
    return Outcome<ResultType>::failure(decodingError);
}

/// For answers that are raw bytes (speech): the transport error if any; else the bytes unchanged, never
/// examined for an error body; else `OpenAIError::emptyData`.
/// The answer's head is not read.
Outcome<std::string> handleRawResponse(const std::optional<std::string>& data, std::exception_ptr transportError,
                                       const std::optional<HttpResponse>& response = std::nullopt);

} // namespace aiclient
