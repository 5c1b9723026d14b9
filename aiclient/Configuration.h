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
    /// The whole request's deadline taken by default, in seconds: room for a long streamed answer, and an end
    /// for one that never stops.
    static constexpr double defaultRequestDeadline = 600.0;
    /// The slowest rate taken by default, in bytes a second: far below any answer that is really being sent,
    /// far above a connection kept open by a byte now and then.
    static constexpr double defaultMinimumBytesPerSecond = 32.0;

    Configuration(std::string token, std::optional<std::string> organizationIdentifier, std::string host,
                  std::int64_t port, std::string scheme, double timeoutInterval,
                  std::size_t maxResponseBytes = defaultMaxResponseBytes,
                  std::size_t maxEventBytes = defaultMaxEventBytes);

    /// The standard settings for `token`: no organisation, the service's API host, port 443, "https", 60 s.
    static Configuration standard(std::string token);

    /// This configuration with the whole request bounded by `requestDeadline` seconds and
    /// `minimumBytesPerSecond` instead (see their accessors).
    Configuration withRequestBound(double requestDeadline, double minimumBytesPerSecond) const;

    /// The API key, sent as the bearer token of every request.
    const std::string& token() const { return token_; }
    /// When present, sent in the "OpenAI-Organization" header.
    const std::optional<std::string>& organizationIdentifier() const { return organizationIdentifier_; }
    /// Host name only: no scheme, port or path.
    const std::string& host() const { return host_; }
    /// Always written into the URL.
    std::int64_t port() const { return port_; }
    const std::string& scheme() const { return scheme_; }
    /// Idle time-out of every request, in seconds: when no byte moves, in either direction, for this long (the
    /// connection included), the request ends with a time-out. An answer that keeps coming is never cut by it.
    double timeoutInterval() const { return timeoutInterval_; }
    /// Deadline of every request as a whole, in seconds, from the start of the connection to the last byte of
    /// the answer, however steadily the bytes come; past it the request ends with a time-out.
    double requestDeadline() const { return requestDeadline_; }
    /// The slowest a request may move its bytes (both directions together), in bytes a second: a request
    /// slower than this for longer than `timeoutInterval` ends with a time-out, so that an answer trickling in
    /// a byte now and then does not hold on until the deadline. 0 leaves only the idle time-out and the deadline.
    double minimumBytesPerSecond() const { return minimumBytesPerSecond_; }
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
    double requestDeadline_ = defaultRequestDeadline;
    double minimumBytesPerSecond_ = defaultMinimumBytesPerSecond;
    std::size_t maxResponseBytes_;
    std::size_t maxEventBytes_;
};

} // namespace aiclient
