#pragma once

// Request descriptions: what one call of the client sends, turned into an `HttpRequest` once the key, the
// organisation and the time-out are known.

#include "aiclient/Coding.h"
#include "aiclient/HttpSession.h"
#include "aiclient/MultipartFormData.h"

#include <concepts>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace aiclient {

/// A key or organisation identifier that cannot be sent as a header value (it holds CR, LF or NUL, which
/// would end the header line early and let the rest pass as headers of its own). The text never quotes the
/// value.
class InvalidHeaderValueError : public Error {
public:
    explicit InvalidHeaderValueError(std::string message)
        : Error(Error::Kind::invalidHeaderValue), message_(std::move(message))
    {}

    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

/// Something that can be built into an `HttpRequest` and whose answer decodes into `ResultType`.
template <class Request>
concept URLRequestBuildable = requires(const Request& request, const std::string& token,
                                       const std::optional<std::string>& organization, double timeout)
{
    typename Request::ResultType;
    {
        request.build(token, organization, timeout)
        } -> std::same_as<HttpRequest>;
};

namespace detail {

/// A request for `url` with the "Authorization" header and, when given, "OpenAI-Organization".
/// Throws `InvalidHeaderValueError` for a value holding CR, LF or NUL.
void addCredentials(HttpRequest& request, const std::string& token, const std::optional<std::string>& organization);

HttpRequest buildJSONRequest(const std::string& url, const std::string& method,
                             const std::function<std::string()>& encodeBody, const std::string& token,
                             const std::optional<std::string>& organization, double timeout);

HttpRequest buildMultipartRequest(const std::string& url, const std::string& method,
                                  const MultipartFormDataBodyEncodable& body, const std::string& token,
                                  const std::optional<std::string>& organization, double timeout);

} // namespace detail

/// A call whose body is the query as JSON, or that has no body (the GET operations).
template <class Result> class JSONRequest {
public:
    using ResultType = Result;

    /// A request without a body.
    JSONRequest(std::string url, std::string method) : url_(std::move(url)), method_(std::move(method)) {}

    /// A request whose body is `body` written as JSON; the body is encoded when the request is built.
    template <class Body>
    JSONRequest(Body body, std::string url, std::string method)
        : encodeBody_([body = std::move(body)] { return encodeJson(body); }), url_(std::move(url)),
          method_(std::move(method))
    {}

    const std::string& url() const { return url_; }
    const std::string& method() const { return method_; }
    bool hasBody() const { return static_cast<bool>(encodeBody_); }

    /// Throws `InvalidHeaderValueError` for an unsendable key or organisation, or the body's `EncodingError`.
    HttpRequest build(const std::string& token, const std::optional<std::string>& organization,
                      double timeoutInterval) const
    {
        return detail::buildJSONRequest(url_, method_, encodeBody_, token, organization, timeoutInterval);
    }

private:
    std::function<std::string()> encodeBody_;
    std::string url_;
    std::string method_;
};

/// An upload whose body is a multipart form written by the query itself, with a fresh boundary per build.
template <class Result> class MultipartFormDataRequest {
public:
    using ResultType = Result;

    MultipartFormDataRequest(std::shared_ptr<const MultipartFormDataBodyEncodable> body, std::string url,
                             std::string method = "POST")
        : body_(std::move(body)), url_(std::move(url)), method_(std::move(method))
    {}

    const std::string& url() const { return url_; }
    const std::string& method() const { return method_; }

    /// Throws only `InvalidHeaderValueError`, for an unsendable key or organisation.
    HttpRequest build(const std::string& token, const std::optional<std::string>& organization,
                      double timeoutInterval) const
    {
        return detail::buildMultipartRequest(url_, method_, *body_, token, organization, timeoutInterval);
    }

private:
    std::shared_ptr<const MultipartFormDataBodyEncodable> body_;
    std::string url_;
    std::string method_;
};

} // namespace aiclient
