#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace aiclient {

/// The AI client's settings; fixed once made.
class Configuration {
public:
    /// The service's API host, used when a client is made from a key alone.
    static constexpr const char* defaultHost = "api.openai.com";

    Configuration(std::string token, std::optional<std::string> organizationIdentifier, std::string host,
                  std::int64_t port, std::string scheme, double timeoutInterval);

    /// The standard settings for `token`: no organisation, the service's API host, port 443, "https", 60 s.
    static Configuration standard(std::string token);

    /// The API key, sent as the bearer token of every request.
    const std::string& token() const { return token_; }
    /// When present, sent in the "OpenAI-Organization" header.
    const std::optional<std::string>& organizationIdentifier() const { return organizationIdentifier_; }
    /// Host name only: no scheme, port or path.
    const std::string& host() const { return host_; }
    /// Always written into the URL.
    std::int64_t port() const { return port_; }
    const std::string& scheme() const { return scheme_; }
    /// Idle time-out of every request, in seconds.
    double timeoutInterval() const { return timeoutInterval_; }

private:
    std::string token_;
    std::optional<std::string> organizationIdentifier_;
    std::string host_;
    std::int64_t port_;
    std::string scheme_;
    double timeoutInterval_;
};

} // namespace aiclient
