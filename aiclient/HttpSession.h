#pragma once

// The transport under the AI client: a request value, a data task and the session that makes tasks.
// The client talks to the network only through `Session`, so tests and other transports can stand in.

#include "aiclient/Configuration.h"
#include "aiclient/Error.h"

#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace aiclient {

/// One HTTP request as the client builds it. `body` holds raw bytes; absent means no body at all.
struct HttpRequest {
    std::string url;
    std::string method = "GET";
    std::vector<std::pair<std::string, std::string>> headers;
    std::optional<std::string> body;
    /// Idle time-out in seconds: no byte moving in either direction for this long ends the transfer.
    double timeoutInterval = 60.0;
    /// Deadline in seconds: the whole transfer, from the start of the connection to the last byte, ends by then.
    double deadline = Configuration::defaultRequestDeadline;
    /// A transfer moving fewer bytes a second than this (both directions together) for longer than the idle
    /// time-out ends; 0 turns this bound off.
    double minimumBytesPerSecond = Configuration::defaultMinimumBytesPerSecond;
    /// The most answer bytes taken (all deliveries of a streamed task together); past it the transfer stops with
    /// `ResponseTooLargeError`.
    std::size_t maxResponseBytes = Configuration::defaultMaxResponseBytes;

    /// The value of the first header named `name` (compared without regard to case), if any.
    std::optional<std::string> header(const std::string& name) const;
};

/// Whether text can stand in a header line: a CR, LF or NUL would end the line early.
bool isSendableHeaderText(std::string_view text);

/// The head of an answer. The client itself never reads it; it is handed on for completeness.
struct HttpResponse {
    long statusCode = 0;
    std::vector<std::pair<std::string, std::string>> headers;
};

/// A failure of the transport itself: no connection, a broken transfer, or a time-out.
/// The text names the URL's host at most, never a header or the key.
class TransportError : public Error {
public:
    enum class Kind {
        timedOut,         ///< idle for the request's time-out, slower than its minimum rate, or past its deadline
        cannotConnect,    ///< host not found or connection refused
        cancelled,        ///< the task was cancelled
        responseTooLarge, ///< the answer was larger than the request allows (`ResponseTooLargeError`)
        other,            ///< any other failure of the transfer
    };

    TransportError(Kind kind, std::string message)
        : Error(Error::Kind::transport), kind_(kind), message_(std::move(message))
    {}

    Kind kind() const noexcept { return kind_; }
    bool isTimedOut() const noexcept { return kind_ == Kind::timedOut; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    Kind kind_;
    std::string message_;
};

/// The answer, or one event of a streamed answer, was larger than allowed; the transfer was stopped there, so no
/// more than about `limit` bytes of it were ever held.
class ResponseTooLargeError : public TransportError {
public:
    explicit ResponseTooLargeError(std::size_t limit);

    /// The limit that was passed, in bytes.
    std::size_t limit() const noexcept { return limit_; }

private:
    std::size_t limit_;
};

/// A task made by a session; nothing happens until `resume`.
class DataTask {
public:
    virtual ~DataTask() = default;
    /// Starts the transfer. Calling it a second time does nothing.
    virtual void resume() = 0;
    /// Asks a running transfer to stop; it then completes with a `cancelled` transport error.
    virtual void cancel() = 0;
};

/// Receives the whole answer of a one-shot task exactly once, on the session's worker thread:
/// the body bytes (absent only when the transport produced none), the answer's head, and the transport error.
using DataTaskHandler = std::function<void(std::optional<std::string> data, std::optional<HttpResponse> response,
                                           std::exception_ptr error)>;

/// Receives each delivery of bytes of a streamed task, in order, on that task's worker thread. When it throws,
/// the transfer stops and the task completes with what it threw.
using DataReceivedHandler = std::function<void(std::string_view bytes)>;
/// Called once when a streamed task ends, after its last delivery, with the transport error if any.
using TaskCompletedHandler = std::function<void(std::exception_ptr error)>;

/// Makes tasks for requests. Each task's callbacks run on a worker thread of the session, one at a time.
class Session {
public:
    virtual ~Session() = default;

    /// A task that collects the whole answer and hands it to `handler`.
    virtual std::shared_ptr<DataTask> dataTask(HttpRequest request, DataTaskHandler handler) = 0;

    /// A task that hands each delivery of bytes to `onData` as it arrives and then calls `onComplete`.
    virtual std::shared_ptr<DataTask> streamTask(HttpRequest request, DataReceivedHandler onData,
                                                 TaskCompletedHandler onComplete) = 0;
};

} // namespace aiclient
