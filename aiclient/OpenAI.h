#pragma once

// The AI service's client: its configuration, the transport of its one-shot calls, the streaming sessions it
// keeps running, and the service operations.

#include "aiclient/ChatQuery.h"
#include "aiclient/ChatResult.h"
#include "aiclient/ChatStreamResult.h"
#include "aiclient/ChunkStream.h"
#include "aiclient/Configuration.h"
#include "aiclient/HttpSession.h"
#include "aiclient/Outcome.h"
#include "aiclient/RequestBuilding.h"
#include "aiclient/ResponseHandling.h"
#include "aiclient/StreamingSession.h"
#include "aiclient/ThreadSafeArray.h"

#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace aiclient {

template <class T> using Completion = std::function<void(Outcome<T>)>;
/// Called once when a stream ends, with the transport's error or none.
using StreamCompletion = std::function<void(std::exception_ptr)>;

/// The client's operations. The completion-handler forms are the requirements; the `std::future` and
/// `ChunkStream` forms are built from them alone and work for any implementation.
///
/// Callbacks run on the transport's worker thread, except when the request cannot be built (an unsendable
/// key, a body that cannot be encoded): then the completion runs at once on the calling thread, and nothing
/// is sent.
class OpenAIProtocol {
public:
    virtual ~OpenAIProtocol() = default;

    /// POST "/v1/chat/completions" with the query as it is; the completion receives the `ChatResult` or the
    /// error (transport, `OpenAIError`, `APIErrorResponse` or the result's `DecodingError`).
    virtual void chats(const ChatQuery& query, Completion<ChatResult> completion) = 0;

    /// The same with `stream` set on a copy of the query: `onResult` receives each chunk, or an error for each
    /// piece that cannot be used; `completion` (optional) runs once when the transfer ends.
    virtual void streamChats(const ChatQuery& query, Completion<ChatStreamResult> onResult,
                             StreamCompletion completion) = 0;

    /// Asynchronous form of `chats`: the future holds the result or the completion's error, unchanged.
    /// Neither dropping nor abandoning the future stops the request.
    std::future<ChatResult> chats(const ChatQuery& query);

    /// Asynchronous form of `streamChats`: the chunks in order; the first piece that cannot be used ends the
    /// stream with its error, and a transfer that fails ends it with the transport's error.
    ChunkStream<ChatStreamResult> streamChats(const ChatQuery& query);
};

class OpenAI final : public OpenAIProtocol {
public:
    /// Makes the session of each streamed call.
    using SessionFactory = std::function<std::shared_ptr<Session>()>;

    /// A client with the standard configuration for `token` and the shared libcurl session.
    explicit OpenAI(std::string token);
    /// A client with `configuration` and the shared libcurl session.
    explicit OpenAI(Configuration configuration);
    /// A client whose one-shot calls go through `session`. Each streamed call gets a session of its own, from
    /// `makeStreamingSession` (by default a new libcurl session).
    OpenAI(Configuration configuration, std::shared_ptr<Session> session, SessionFactory makeStreamingSession = {});

    const Configuration& configuration() const { return configuration_; }
    const std::shared_ptr<Session>& session() const { return session_; }
    /// The streaming sessions still running, as they are now.
    std::vector<std::shared_ptr<AnyStreamingSession>> streamingSessions() const
    {
        return streamingSessions_->snapshot();
    }

    /// scheme://host:port/path with the port always written and the path percent-encoded where needed.
    /// Throws std::invalid_argument for a scheme, host or port that cannot form a URL.
    std::string buildURL(const std::string& path) const;

    using OpenAIProtocol::chats;
    using OpenAIProtocol::streamChats;
    void chats(const ChatQuery& query, Completion<ChatResult> completion) override;
    void streamChats(const ChatQuery& query, Completion<ChatStreamResult> onResult,
                     StreamCompletion completion) override;

    /// The one-shot flow shared by every operation: `describe` makes the request description (a `JSONRequest`
    /// or a `MultipartFormDataRequest`); it is built with the configuration and sent through `session()`, and
    /// the answer is handled by `handleResponse`. A failure to describe or build goes to `completion` at once.
    template <class Describe>
    void performRequest(Describe describe, Completion<typename std::invoke_result_t<Describe>::ResultType> completion)
    {
        using ResultType = typename std::invoke_result_t<Describe>::ResultType;
        performOneShot(describe, std::move(completion), &handleResponse<ResultType>);
    }

    /// The one-shot flow for answers that are raw bytes (speech): the bytes are delivered undecoded.
    template <class Describe> void performRawRequest(Describe describe, Completion<std::string> completion)
    {
        performOneShot(describe, std::move(completion), &handleRawResponse);
    }

    /// The streamed flow: the request is built, a `StreamingSession` is made for it, registered among the
    /// running sessions and started. It leaves the list when its transfer ends, before `completion` runs.
    /// A failure to describe or build goes to `completion` alone, at once.
    template <class Describe>
    void performStreamingRequest(Describe describe,
                                 Completion<typename std::invoke_result_t<Describe>::ResultType> onResult,
                                 StreamCompletion completion)
    {
        using ResultType = typename std::invoke_result_t<Describe>::ResultType;
        if (!completion) {
            completion = [](std::exception_ptr) {};
        }
        HttpRequest request;
        try {
            request = build(describe());
        } catch (...) {
            completion(std::current_exception());
            return;
        }
        auto session = StreamingSession<ResultType>::create(std::move(request), makeStreamingSession_);
        if (onResult) {
            session->onReceiveContent = [onResult](auto&, const ResultType& chunk) {
                onResult(Outcome<ResultType>::success(chunk));
            };
            session->onProcessingError = [onResult](auto&, std::exception_ptr error) {
                onResult(Outcome<ResultType>::failure(std::move(error)));
            };
        }
        std::weak_ptr<SessionList> list = streamingSessions_;
        session->onComplete = [list, completion](StreamingSession<ResultType>& ended, std::exception_ptr error) {
            if (auto sessions = list.lock()) {
                sessions->removeAll([&](const auto& running) { return running.get() == &ended; });
            }
            completion(std::move(error));
        };
        // Registered before it starts, so that a stream that ends at once still leaves the list.
        streamingSessions_->append(session);
        try {
            session->start();
        } catch (...) {
            streamingSessions_->removeAll([&](const auto& running) { return running == session; });
            completion(std::current_exception());
        }
    }

private:
    using SessionList = ArrayWithThreadSafety<std::shared_ptr<AnyStreamingSession>>;

    template <URLRequestBuildable Request> HttpRequest build(const Request& request) const
    {
        return request.build(configuration_.token(), configuration_.organizationIdentifier(),
                             configuration_.timeoutInterval());
    }

    /// Sends the request that `describe` makes as one data task; `handle` turns the answer into the result.
    template <class Value, class Describe>
    void performOneShot(Describe& describe, Completion<Value> completion,
                        Outcome<Value> (*handle)(const std::optional<std::string>&, std::exception_ptr))
    {
        HttpRequest request;
        try {
            request = build(describe());
        } catch (...) {
            completion(Outcome<Value>::failure(std::current_exception()));
            return;
        }
        session_
            ->dataTask(std::move(request), [completion = std::move(completion),
                                            handle](std::optional<std::string> data, std::optional<HttpResponse>,
                                                    std::exception_ptr error) { completion(handle(data, error)); })
            ->resume();
    }

    std::shared_ptr<Session> session_;
    std::shared_ptr<SessionList> streamingSessions_;
    Configuration configuration_;
    SessionFactory makeStreamingSession_;
};

} // namespace aiclient
