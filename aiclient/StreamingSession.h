#pragma once

// One streamed call: its own transfer, the incoming bytes cut into "data:" pieces, each piece decoded as one
// chunk of `ResultType` and reported through three callbacks.

#include "aiclient/Coding.h"
#include "aiclient/Configuration.h"
#include "aiclient/EventStreamParser.h"
#include "aiclient/HttpSession.h"
#include "aiclient/ServiceErrors.h"

#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

namespace aiclient {

/// A delivery or a piece of a stream that cannot be used.
class StreamingError : public Error {
public:
    enum class Kind {
        unknownContent, ///< bytes that are not UTF-8 text
        emptyContent,   ///< declared for completeness; not raised
    };

    explicit StreamingError(Kind kind) : Error(Error::Kind::streaming), kind_(kind) {}
    Kind kind() const noexcept { return kind_; }
    const char* what() const noexcept override
    {
        return kind_ == Kind::unknownContent ? "The stream sent content that is not UTF-8 text."
                                             : "The stream sent empty content.";
    }

    // Written out: a defaulted comparison would be deleted, since std::exception has none.
    friend bool operator==(const StreamingError& a, const StreamingError& b) noexcept { return a.kind_ == b.kind_; }

private:
    Kind kind_;
};

} // namespace aiclient

template <> struct std::hash<aiclient::StreamingError> {
    size_t operator()(const aiclient::StreamingError& error) const noexcept
    {
        return std::hash<aiclient::StreamingError::Kind>()(error.kind());
    }
};

namespace aiclient {

/// The part of a streaming session that does not depend on its chunk type, so a client can keep sessions of
/// several kinds in one list.
class AnyStreamingSession {
public:
    virtual ~AnyStreamingSession() = default;
    /// Stops the transfer and lets go of its transport; a transport of the session's own waits there for the
    /// transfer to end, after `onComplete` has run with a `cancelled` error.
    virtual void cancel() = 0;
};

template <class ResultType>
class StreamingSession final : public AnyStreamingSession,
                               public std::enable_shared_from_this<StreamingSession<ResultType>> {
public:
    using StreamingError = aiclient::StreamingError;
    using SessionFactory = std::function<std::shared_ptr<Session>()>;

    /// Called once per decoded chunk.
    std::function<void(StreamingSession&, const ResultType&)> onReceiveContent;
    /// Called for each delivery or piece that cannot be used: `StreamingError`, `APIErrorResponse` or the
    /// chunk's decoding error. The stream goes on.
    std::function<void(StreamingSession&, std::exception_ptr)> onProcessingError;
    /// Called once when the transfer ends, with the transport's error if any.
    std::function<void(StreamingSession&, std::exception_ptr)> onComplete;

    /// A session for `request` whose transfer runs on a session made by `makeSession` when it starts.
    /// Set the callbacks before `start`; they are not changed afterwards.
    static std::shared_ptr<StreamingSession> create(HttpRequest request, SessionFactory makeSession)
    {
        return std::shared_ptr<StreamingSession>(new StreamingSession(std::move(request), std::move(makeSession)));
    }

    const HttpRequest& urlRequest() const { return urlRequest_; }
    /// The most bytes one event may have while it is still arriving; a longer one stops the stream, which then
    /// completes with `ResponseTooLargeError`. Set it before `start`.
    void setMaxEventBytes(std::size_t limit) { maxEventBytes_ = limit; }
    std::size_t maxEventBytes() const { return maxEventBytes_; }
    const std::string& streamingCompletionMarker() const { return marker_; }

    /// Starts the transfer. Deliveries and the completion then arrive on the transfer's worker thread.
    void start()
    {
        std::shared_ptr<Session> transport;
        {
            std::lock_guard lock(transferMutex_);
            if (!urlSession_) {
                urlSession_ = makeSession_();
            }
            transport = urlSession_;
        }
        auto self = this->shared_from_this();
        std::shared_ptr<DataTask> task = transport->streamTask(
            urlRequest_, [self](std::string_view bytes) { self->didReceiveData(bytes); },
            [self](std::exception_ptr error) { self->didComplete(error); });
        {
            std::lock_guard lock(transferMutex_);
            task_ = task;
        }
        task->resume();
    }

    void cancel() override
    {
        std::shared_ptr<DataTask> task;
        std::shared_ptr<Session> transport;
        {
            std::lock_guard lock(transferMutex_);
            task = std::move(task_);
            transport = std::move(urlSession_);
        }
        if (task) {
            task->cancel();
        }
        // `transport` goes here: when it was this session's own, its destructor waits for the transfer.
    }

    /// One delivery of bytes (called by the transfer; public so a test can feed a session directly). Throws
    /// `ResponseTooLargeError` when the event still arriving has grown past `maxEventBytes`, which makes the
    /// transport stop the transfer; nothing of that event is reported.
    void didReceiveData(std::string_view bytes)
    {
        const EventStreamParser::FeedOutcome outcome = parser_.feed(bytes, pieceHandler());
        if (parser_.keptText().size() > maxEventBytes_) {
            parser_ = EventStreamParser(marker_);
            throw ResponseTooLargeError(maxEventBytes_);
        }
        if (outcome == EventStreamParser::FeedOutcome::invalidText) {
            reportError(std::make_exception_ptr(StreamingError(StreamingError::Kind::unknownContent)));
        }
    }

    /// The end of the transfer. Whatever is still kept is reported first: a piece that never became a chunk
    /// and the bytes of an unfinished character are errors, not silently dropped.
    void didComplete(std::exception_ptr error)
    {
        if (parser_.finish(pieceHandler()) == EventStreamParser::FeedOutcome::invalidText) {
            reportError(std::make_exception_ptr(StreamingError(StreamingError::Kind::unknownContent)));
        }
        {
            // The ended task holds this session through its callbacks; holding it back would keep both alive.
            std::lock_guard lock(transferMutex_);
            task_.reset();
        }
        if (onComplete) {
            onComplete(*this, error);
        }
    }

private:
    StreamingSession(HttpRequest request, SessionFactory makeSession)
        : urlRequest_(std::move(request)), makeSession_(std::move(makeSession))
    {}

    void reportError(std::exception_ptr error)
    {
        if (onProcessingError) {
            onProcessingError(*this, std::move(error));
        }
    }

    EventStreamParser::PieceHandler pieceHandler()
    {
        return [this](const std::string& piece, bool isLast) {
            std::exception_ptr chunkError;
            std::optional<ResultType> chunk;
            try {
                chunk.emplace(decodeJson<ResultType>(piece));
            } catch (...) {
                chunkError = std::current_exception();
            }
            if (chunk) {
                if (onReceiveContent) {
                    onReceiveContent(*this, *chunk);
                }
                return EventStreamParser::PieceOutcome::used;
            }
            std::exception_ptr envelope;
            try {
                envelope = std::make_exception_ptr(decodeAPIErrorResponse(piece));
            } catch (...) {
            }
            if (envelope) {
                reportError(envelope);
                return EventStreamParser::PieceOutcome::used;
            }
            if (isLast) {
                // Most likely the start of a chunk whose rest comes with the next delivery.
                return EventStreamParser::PieceOutcome::awaitingMore;
            }
            reportError(chunkError);
            return EventStreamParser::PieceOutcome::used;
        };
    }

    HttpRequest urlRequest_;
    SessionFactory makeSession_;
    std::mutex transferMutex_; // guards the transfer and its transport, which `cancel` takes from any thread
    std::shared_ptr<Session> urlSession_;
    std::shared_ptr<DataTask> task_;
    std::string marker_ = "[DONE]";
    EventStreamParser parser_{marker_};
    std::size_t maxEventBytes_ = Configuration::defaultMaxEventBytes;
};

} // namespace aiclient
