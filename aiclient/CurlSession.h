#pragma once

#include "aiclient/HttpSession.h"

#include <memory>

namespace aiclient {

/// The libcurl transport. Every task runs on its own worker thread with its own easy handle, so the callbacks
/// of one task never overlap and a slow callback delays only its own transfer.
///
/// The request's time-out is an idle time-out: it bounds the wait for the connection and, through libcurl's
/// low-speed limit, every stretch without bytes; a transfer may take longer as long as bytes keep coming.
/// Expiry is reported as a `TransportError` of kind `timedOut`.
class CurlSession final : public Session {
public:
    CurlSession();

    /// The process-wide session used by clients that are given none. Never destroyed.
    static std::shared_ptr<CurlSession> shared();

    std::shared_ptr<DataTask> dataTask(HttpRequest request, DataTaskHandler handler) override;
    std::shared_ptr<DataTask> streamTask(HttpRequest request, DataReceivedHandler onData,
                                         TaskCompletedHandler onComplete) override;
};

} // namespace aiclient
