#include "aiclient/RequestBuilding.h"

namespace aiclient::detail {

void addCredentials(HttpRequest& request, const std::string& token, const std::optional<std::string>& organization)
{
    if (!isSendableHeaderText(token)) {
        throw InvalidHeaderValueError("The API key holds a line break or NUL character and cannot be sent.");
    }
    request.headers.emplace_back("Authorization", "Bearer " + token);
    if (organization) {
        if (!isSendableHeaderText(*organization)) {
            throw InvalidHeaderValueError(
                "The organization identifier holds a line break or NUL character and cannot be sent.");
        }
        request.headers.emplace_back("OpenAI-Organization", *organization);
    }
}

HttpRequest buildJSONRequest(const std::string& url, const std::string& method,
                             const std::function<std::string()>& encodeBody, const std::string& token,
                             const std::optional<std::string>& organization, double timeout)
{
    HttpRequest request;
    request.url = url;
    request.timeoutInterval = timeout;
    request.headers.emplace_back("Content-Type", "application/json");
    addCredentials(request, token, organization);
    request.method = method;
    if (encodeBody) {
        request.body = encodeBody();
    }
    return request;
}

HttpRequest buildMultipartRequest(const std::string& url, const std::string& method,
                                  const MultipartFormDataBodyEncodable& body, const std::string& token,
                                  const std::optional<std::string>& organization, double timeout)
{
    HttpRequest request;
    request.url = url;
    request.timeoutInterval = timeout;
    const std::string boundary = makeBoundary();
    request.method = method;
    addCredentials(request, token, organization);
    request.headers.emplace_back("Content-Type", "multipart/form-data; boundary=" + boundary);
    request.body = body.encode(boundary);
    return request;
}

} // namespace aiclient::detail
