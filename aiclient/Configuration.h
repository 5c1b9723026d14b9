#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace aiclient {

/// The AI client's settings; fixed once made.
class Configuration {
public:
    /// The service's API host, used when a client is made from a key alone.
    static constexpr const char* defaultHost = "api.openai.com";
    /// The largest answer body taken by default: far above any JSON answer of the service, far below what
    /// would strain the machine.
    static constexpr std::size_t defaultMaxResponseBytes = 16 * 1024 * 1024;
    /// The largest single event of a streamed answer taken by default.
    static constexpr std::size_t defaultMaxEventBytes = 1024 * 1024;

    Configuration(std::string token, std::optional<std::string> organizationIdentifier, std::string host,
                  std::int64_t port, std::string scheme, double timeoutInterval,
                  std::size_t maxResponseBytes = defaultMaxResponseBytes,
                  std::size_t maxEventBytes = defaultMaxEventBytes);

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
    /// Deadline of every request, in seconds: from the start of the connection to the last byte of the answer.
    double timeoutInterval() const { return timeoutInterval_; }
    /// The most bytes an answer body may have (a streamed answer in total); past it the request fails with
    /// `ResponseTooLargeError`.
    std::size_t maxResponseBytes() const { return maxResponseBytes_; }
    /// The most bytes one event of a streamed answer may have; past it the stream fails with
    /// `ResponseTooLargeError`.
    std::size_t maxEventBytes() const { return maxEventBytes_; }

private:
    std::string token_;
    std::optional<std::string> organizationIdentifier_;
    std::string host_;
    std::int64_t port_;
    std::string scheme_;
    double timeoutInterval_;
    std::size_t maxResponseBytes_;
    std::size_t maxEventBytes_;
};

} // namespace aiclient
