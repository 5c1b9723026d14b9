#pragma once

#include <exception>

namespace aiclient {

/// The base of every error this client throws or hands to a completion, so that a caller can catch them in one
/// place and tell them apart by `kind()` instead of trying each type in turn. Each error type keeps its own
/// finer `kind()` where it has cases; through a reference to this base, `kind()` names the error type.
class Error : public std::exception {
public:
    enum class Kind {
        decoding,           ///< `DecodingError`: an answer that does not decode as expected
        encoding,           ///< `EncodingError`: a request value JSON cannot carry
        transport,          ///< `TransportError`: no connection, a broken transfer, a time-out
        invalidHeaderValue, ///< `InvalidHeaderValueError`: a key that cannot be sent as a header
        emptyAnswer,        ///< `OpenAIError`: an answer without any bytes
        apiError,           ///< `APIError`: the service's description of a failure
        apiErrorResponse,   ///< `APIErrorResponse`: that description in its envelope
        httpStatus,         ///< `HTTPStatusError`: an HTTP error status without the service's error object
        streaming,          ///< `StreamingError`: a delivery of a stream that cannot be used
    };

    Kind kind() const noexcept { return kind_; }

protected:
    explicit Error(Kind kind) noexcept : kind_(kind) {}

private:
    Kind kind_;
};

} // namespace aiclient
