#pragma once

// The AI service's client: its configuration, the transport of its one-shot calls, the streaming sessions it
// keeps running, and the service operations.

#include "aiclient/ArrayWithThreadSafety.h"
#include "aiclient/AudioSpeech.h"
#include "aiclient/AudioTranscription.h"
#include "aiclient/ChatQuery.h"
#include "aiclient/ChatResult.h"
#include "aiclient/ChatStreamResult.h"
#include "aiclient/ChunkStream.h"
#include "aiclient/Completions.h"
#include "aiclient/Configuration.h"
#include "aiclient/Embeddings.h"
#include "aiclient/HttpSession.h"
#include "aiclient/Images.h"
#include "aiclient/Models.h"
#include "aiclient/Moderations.h"
#include "aiclient/Outcome.h"
#include "aiclient/Publisher.h"
#include "aiclient/RequestBuilding.h"
#include "aiclient/ResponseHandling.h"
#include "aiclient/StreamingSession.h"

#include <concepts>
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

/// A request that can be streamed: it carries the flag that asks the service for an event stream.
template <class Query>
concept Streamable = std::copyable<Query> && requires(Query query)
{
    query.stream = true;
};

/// The copy of `query` that a streamed operation sends; the caller's own value keeps its flag.
template <Streamable Query> Query streamedCopy(const Query& query)
{
    Query copy = query;
    copy.stream = true;
    return copy;
}

/// The client's operations. The completion-handler forms are the requirements, in the service's order; the
/// `std::future`, `ChunkStream` and publisher forms are built from them alone and work for any implementation.
/// Those forms pass every error on unchanged, and neither dropping them nor cancelling a subscription stops
/// the request.
///
/// Callbacks run on the transport's worker thread, except when the request cannot be built (an unsendable
/// key, a body that cannot be encoded): then the completion runs at once on the calling thread, and nothing
/// is sent. A one-shot completion receives the result or the error (transport, `OpenAIError`,
/// `APIErrorResponse` or the result's `DecodingError`).
class OpenAIProtocol {
public:
    virtual ~OpenAIProtocol() = default;

    /// POST "/v1/completions" with the query as it is.
    virtual void completions(const CompletionsQuery& query, Completion<CompletionsResult> completion) = 0;
    /// The same with `stream` set on a copy of the query: `onResult` receives each chunk, or an error for each
    /// piece that cannot be used; `completion` (optional) runs once when the transfer ends.
    virtual void streamCompletions(const CompletionsQuery& query, Completion<CompletionsResult> onResult,
                                   StreamCompletion completion) = 0;
    /// POST "/v1/images/generations".
    virtual void images(const ImagesQuery& query, Completion<ImagesResult> completion) = 0;
    /// POST "/v1/images/edits", a multipart upload.
    virtual void imageEdits(const ImageEditsQuery& query, Completion<ImagesResult> completion) = 0;
    /// POST "/v1/images/variations", a multipart upload.
    virtual void imageVariations(const ImageVariationsQuery& query, Completion<ImagesResult> completion) = 0;
    /// POST "/v1/embeddings".
    virtual void embeddings(const EmbeddingsQuery& query, Completion<EmbeddingsResult> completion) = 0;
    /// POST "/v1/chat/completions" with the query as it is.
    virtual void chats(const ChatQuery& query, Completion<ChatResult> completion) = 0;
    /// The same with `stream` set on a copy of the query, chunk by chunk as for `streamCompletions`.
    virtual void streamChats(const ChatQuery& query, Completion<ChatStreamResult> onResult,
                             StreamCompletion completion) = 0;
    /// POST "/v1/edits".
    virtual void edits(const EditsQuery& query, Completion<EditsResult> completion) = 0;
    /// GET "/v1/models/" followed by the model identifier as one path segment.
    virtual void model(const ModelQuery& query, Completion<ModelResult> completion) = 0;
    /// GET "/v1/models".
    virtual void models(Completion<ModelsResult> completion) = 0;
    /// POST "/v1/moderations".
    virtual void moderations(const ModerationsQuery& query, Completion<ModerationsResult> completion) = 0;
    /// POST "/v1/audio/speech": the answer's bytes are the audio, undecoded; an answer with an error status is
    /// the service's error, never audio.
    virtual void audioCreateSpeech(const AudioSpeechQuery& query, Completion<AudioSpeechResult> completion) = 0;
    /// POST "/v1/audio/transcriptions", a multipart upload. Asked for as text, SRT or VTT, the answer's text is
    /// the result's text.
    virtual void audioTranscriptions(const AudioTranscriptionQuery& query,
                                     Completion<AudioTranscriptionResult> completion) = 0;
    /// POST "/v1/audio/translations", as for transcriptions.
    virtual void audioTranslations(const AudioTranslationQuery& query,
                                   Completion<AudioTranslationResult> completion) = 0;

    // Asynchronous forms: the future holds the result or the completion's error, unchanged; a stream gives the
    // chunks in order, and the first piece that cannot be used ends it with its error, as does a failed
    // transfer.
    std::future<CompletionsResult> completions(const CompletionsQuery& query);
    ChunkStream<CompletionsResult> streamCompletions(const CompletionsQuery& query);
    std::future<ImagesResult> images(const ImagesQuery& query);
    std::future<ImagesResult> imageEdits(const ImageEditsQuery& query);
    std::future<ImagesResult> imageVariations(const ImageVariationsQuery& query);
    std::future<EmbeddingsResult> embeddings(const EmbeddingsQuery& query);
    std::future<ChatResult> chats(const ChatQuery& query);
    ChunkStream<ChatStreamResult> streamChats(const ChatQuery& query);
    std::future<EditsResult> edits(const EditsQuery& query);
    std::future<ModelResult> model(const ModelQuery& query);
    std::future<ModelsResult> models();
    std::future<ModerationsResult> moderations(const ModerationsQuery& query);
    std::future<AudioSpeechResult> audioCreateSpeech(const AudioSpeechQuery& query);
    std::future<AudioTranscriptionResult> audioTranscriptions(const AudioTranscriptionQuery& query);
    std::future<AudioTranslationResult> audioTranslations(const AudioTranslationQuery& query);

    // Publisher forms: the request is sent when called, once however many subscribe. A stream's failed piece is
    // an element holding its error; the error that ends the transfer is the stream's end.
    OutcomePublisher<CompletionsResult> completionsPublisher(const CompletionsQuery& query);
    StreamPublisher<CompletionsResult> streamCompletionsPublisher(const CompletionsQuery& query);
    OutcomePublisher<ImagesResult> imagesPublisher(const ImagesQuery& query);
    OutcomePublisher<ImagesResult> imageEditsPublisher(const ImageEditsQuery& query);
    OutcomePublisher<ImagesResult> imageVariationsPublisher(const ImageVariationsQuery& query);
    OutcomePublisher<EmbeddingsResult> embeddingsPublisher(const EmbeddingsQuery& query);
    OutcomePublisher<ChatResult> chatsPublisher(const ChatQuery& query);
    StreamPublisher<ChatStreamResult> streamChatsPublisher(const ChatQuery& query);
    OutcomePublisher<EditsResult> editsPublisher(const EditsQuery& query);
    OutcomePublisher<ModelResult> modelPublisher(const ModelQuery& query);
    OutcomePublisher<ModelsResult> modelsPublisher();
    OutcomePublisher<ModerationsResult> moderationsPublisher(const ModerationsQuery& query);
    OutcomePublisher<AudioSpeechResult> audioCreateSpeechPublisher(const AudioSpeechQuery& query);
    OutcomePublisher<AudioTranscriptionResult> audioTranscriptionsPublisher(const AudioTranscriptionQuery& query);
    OutcomePublisher<AudioTranslationResult> audioTranslationsPublisher(const AudioTranslationQuery& query);
};

class OpenAI final : public OpenAIProtocol {
public:
    /// Makes the session of each streamed call.
    using SessionFactory = std::function<std::shared_ptr<Session>()>;

    /// A client with the standard configuration for `token` and a libcurl session of its own.
    explicit OpenAI(std::string token);
    /// A client with `configuration` and a libcurl session of its own.
    explicit OpenAI(Configuration configuration);
    /// A client whose one-shot calls go through `session`. Each streamed call gets a session of its own, from
    /// `makeStreamingSession` (by default a new libcurl session).
    OpenAI(Configuration configuration, std::shared_ptr<Session> session, SessionFactory makeStreamingSession = {});
    /// Cancels the streams still running and waits for them to end; one-shot calls still running on a libcurl
    /// session of the client's own are cancelled and waited for as that session goes. Their callbacks run with
    /// a `cancelled` transport error before the destructor returns.
    ~OpenAI() override;
    OpenAI(const OpenAI&) = delete;
    OpenAI& operator=(const OpenAI&) = delete;

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
    /// The same for `path` followed by `segment` as one path segment: every character that could end it or
    /// climb out of it ("/", "?", "#", a "." or ".." segment) is percent-encoded.
    std::string buildURL(const std::string& path, const std::string& segment) const;

    using OpenAIProtocol::audioCreateSpeech;
    using OpenAIProtocol::audioTranscriptions;
    using OpenAIProtocol::audioTranslations;
    using OpenAIProtocol::chats;
    using OpenAIProtocol::completions;
    using OpenAIProtocol::edits;
    using OpenAIProtocol::embeddings;
    using OpenAIProtocol::imageEdits;
    using OpenAIProtocol::images;
    using OpenAIProtocol::imageVariations;
    using OpenAIProtocol::model;
    using OpenAIProtocol::models;
    using OpenAIProtocol::moderations;
    using OpenAIProtocol::streamChats;
    using OpenAIProtocol::streamCompletions;

    void completions(const CompletionsQuery& query, Completion<CompletionsResult> completion) override;
    void streamCompletions(const CompletionsQuery& query, Completion<CompletionsResult> onResult,
                           StreamCompletion completion) override;
    void images(const ImagesQuery& query, Completion<ImagesResult> completion) override;
    void imageEdits(const ImageEditsQuery& query, Completion<ImagesResult> completion) override;
    void imageVariations(const ImageVariationsQuery& query, Completion<ImagesResult> completion) override;
    void embeddings(const EmbeddingsQuery& query, Completion<EmbeddingsResult> completion) override;
    void chats(const ChatQuery& query, Completion<ChatResult> completion) override;
    void streamChats(const ChatQuery& query, Completion<ChatStreamResult> onResult,
                     StreamCompletion completion) override;
    void edits(const EditsQuery& query, Completion<EditsResult> completion) override;
    void model(const ModelQuery& query, Completion<ModelResult> completion) override;
    void models(Completion<ModelsResult> completion) override;
    void moderations(const ModerationsQuery& query, Completion<ModerationsResult> completion) override;
    void audioCreateSpeech(const AudioSpeechQuery& query, Completion<AudioSpeechResult> completion) override;
    void audioTranscriptions(const AudioTranscriptionQuery& query,
                             Completion<AudioTranscriptionResult> completion) override;
    void audioTranslations(const AudioTranslationQuery& query, Completion<AudioTranslationResult> completion) override;

    /// The one-shot flow shared by every operation: `describe` makes the request description (a `JSONRequest`
    /// or a `MultipartFormDataRequest`); it is built with the configuration and sent through `session()`, and
    /// the answer is handled by `handleResponse`. A failure to describe or build goes to `completion` at once.
    template <class Describe>
    void performRequest(Describe describe, Completion<typename std::invoke_result_t<Describe>::ResultType> completion)
    {
        using ResultType = typename std::invoke_result_t<Describe>::ResultType;
        performOneShot(describe, std::move(completion),
                       [](const std::optional<std::string>& data, const std::optional<HttpResponse>& response,
                          std::exception_ptr error) { return handleResponse<ResultType>(data, error, response); });
    }

    /// The one-shot flow for answers that are raw bytes (speech): the bytes are delivered undecoded.
    template <class Describe> void performRawRequest(Describe describe, Completion<std::string> completion)
    {
        performOneShot(describe, std::move(completion),
                       [](const std::optional<std::string>& data, const std::optional<HttpResponse>&,
                          std::exception_ptr error) { return handleRawResponse(data, error); });
    }

    /// The one-shot flow with an answer handler of the operation's own, which also sees the answer's head:
    /// `handle(data, response, transportError)` gives the outcome.
    template <class Value, class Describe, class Handle>
    void performRequest(Describe describe, Completion<Value> completion, Handle handle)
    {
        performOneShot(describe, std::move(completion), std::move(handle));
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
        session->setMaxEventBytes(configuration_.maxEventBytes());
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
        HttpRequest built = request.build(configuration_.token(), configuration_.organizationIdentifier(),
                                          configuration_.timeoutInterval());
        built.maxResponseBytes = configuration_.maxResponseBytes();
        built.deadline = configuration_.requestDeadline();
        built.minimumBytesPerSecond = configuration_.minimumBytesPerSecond();
        return built;
    }

    /// Sends the request that `describe` makes as one data task; `handle` turns the answer into the result.
    template <class Value, class Describe, class Handle>
    void performOneShot(Describe& describe, Completion<Value> completion, Handle handle)
    {
        HttpRequest request;
        try {
            request = build(describe());
        } catch (...) {
            completion(Outcome<Value>::failure(std::current_exception()));
            return;
        }
        session_
            ->dataTask(std::move(request), [completion = std::move(completion), handle = std::move(handle)](
                                               std::optional<std::string> data, std::optional<HttpResponse> response,
                                               std::exception_ptr error) { completion(handle(data, response, error)); })
            ->resume();
    }

    std::shared_ptr<Session> session_;
    std::shared_ptr<SessionList> streamingSessions_;
    Configuration configuration_;
    SessionFactory makeStreamingSession_;
};

} // namespace aiclient
