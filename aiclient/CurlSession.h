#pragma once

#include "aiclient/HttpSession.h"

#include <memory>
#include <mutex>

namespace aiclient {

/// The libcurl transport. Every task runs on its own worker thread with its own easy handle, so the callbacks
/// of one task never overlap and a slow callback delays only its own transfer.
///
/// libcurl and the libraries under it are a module of their own, loaded on the session's first task (once for
/// the process): a program that never sends a request never maps them. When the module cannot be loaded, every
/// task completes as it is resumed with a `TransportError` of kind `other` that says so.
///
/// The session owns its transfers: destroying it cancels every transfer still running and waits for each to
/// end, so no callback runs after the destructor returns (except on the thread that destroys it, when a
/// callback of its own transfer lets the session go: that transfer just finishes). A task resumed after its
/// session is gone completes at once with a `cancelled` error.
///
/// The request's time-out is an idle time-out: no byte moving for that long, the connection included, ends the
/// transfer, however long it has run. The whole transfer is bounded apart from it: by the request's deadline,
/// from the start of the connection to the last byte, and by its minimum rate, kept up over each stretch as
/// long as the idle time-out. Each ends it with a `TransportError` of kind `timedOut`. An answer larger than the
/// request's `maxResponseBytes` (the deliveries of a streamed task together) stops the transfer with
/// `ResponseTooLargeError`. Redirects are never followed: an answer with a 3xx status ends the task with
/// `HTTPStatusError` naming that status, before its body is read.
class CurlSession final : public Session {
public:
    CurlSession();
    ~CurlSession() override;
    CurlSession(const CurlSession&) = delete;
    CurlSession& operator=(const CurlSession&) = delete;

    std::shared_ptr<DataTask> dataTask(HttpRequest request, DataTaskHandler handler) override;
    std::shared_ptr<DataTask> streamTask(HttpRequest request, DataReceivedHandler onData,
                                         TaskCompletedHandler onComplete) override;

private:
    /// The module's session, made on the first task; null when the module could not be loaded.
    Session* transport();

    std::once_flag made_;
    std::unique_ptr<Session> transport_;
};

} // namespace aiclient
