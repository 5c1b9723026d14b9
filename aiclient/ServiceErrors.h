#pragma once

// The AI client's own errors: an answer without any bytes, and the service's error object with its envelope.

#include "aiclient/Coding.h"
#include "aiclient/Error.h"

#include <exception>
#include <functional>
#include <optional>
#include <string>

namespace aiclient {

/// The transport reported neither an error nor any answer bytes.
class OpenAIError : public Error {
public:
    enum class Kind { emptyData };

    static OpenAIError emptyData() { return OpenAIError(Kind::emptyData); }

    Kind kind() const noexcept { return kind_; }
    const char* what() const noexcept override;

    // Written out: a defaulted comparison would be deleted, since std::exception has none.
    friend bool operator==(const OpenAIError& a, const OpenAIError& b) noexcept { return a.kind_ == b.kind_; }

private:
    explicit OpenAIError(Kind kind) : Error(Error::Kind::emptyAnswer), kind_(kind) {}
    Kind kind_;
};

} // namespace aiclient

template <> struct std::hash<aiclient::OpenAIError> {
    size_t operator()(const aiclient::OpenAIError& error) const noexcept
    {
        return std::hash<aiclient::OpenAIError::Kind>()(error.kind());
    }
};

namespace aiclient {

/// The service's description of a failure. Its description is its message.
class APIError : public Error {
public:
    APIError(std::string message, std::string type, std::optional<std::string> param, std::optional<std::string> code);

    const std::string& message() const noexcept { return message_; }
    const std::string& type() const noexcept { return type_; }
    const std::optional<std::string>& param() const noexcept { return param_; }
    const std::optional<std::string>& code() const noexcept { return code_; }

    const char* what() const noexcept override { return message_.c_str(); }

    /// All four fields, texts by Unicode canonical equivalence like every other model of the client.
    friend bool operator==(const APIError& a, const APIError& b)
    {
        return same(a.message_, b.message_) && same(a.type_, b.type_) && same(a.param_, b.param_) &&
               same(a.code_, b.code_);
    }

private:
    std::string message_;
    std::string type_;
    std::optional<std::string> param_;
    std::optional<std::string> code_;
};

/// The envelope {"error": {...}} in which the service sends an `APIError`. Its description is the message.
class APIErrorResponse : public Error {
public:
    explicit APIErrorResponse(APIError error) : Error(Error::Kind::apiErrorResponse), error_(std::move(error)) {}

    const APIError& error() const noexcept { return error_; }
    const char* what() const noexcept override { return error_.what(); }

    friend bool operator==(const APIErrorResponse& a, const APIErrorResponse& b) { return a.error_ == b.error_; }

private:
    APIError error_;
};

/// The service answered with an HTTP error status and a body that is neither the expected result nor its error
/// object: a gateway's HTML page, a plain-text error, an empty body; or with a redirect (3xx), which the client
/// never follows, whatever its body. Its description names the status.
class HTTPStatusError : public Error {
public:
    explicit HTTPStatusError(long statusCode);

    long statusCode() const noexcept { return statusCode_; }
    const char* what() const noexcept override { return description_.c_str(); }

    friend bool operator==(const HTTPStatusError& a, const HTTPStatusError& b) noexcept
    {
        return a.statusCode_ == b.statusCode_;
    }

private:
    long statusCode_;
    std::string description_;
};

/// Reads "message" (a text, or a list of texts joined by line feeds), "type", and the optional "param" and
/// "code"; other members are ignored. Throws DecodingError.
APIError decodeAPIError(const Decoder& decoder);
/// Reads the one member "error". Throws DecodingError.
APIErrorResponse decodeAPIErrorResponse(const Decoder& decoder);

/// Decodes an error envelope from answer bytes. Throws DecodingError when they are not one.
APIErrorResponse decodeAPIErrorResponse(std::string_view bytes);

} // namespace aiclient
