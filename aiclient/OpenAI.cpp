#include "aiclient/OpenAI.h"

#include "aiclient/CurlSession.h"

#include <cctype>
#include <stdexcept>

namespace aiclient {

namespace {

namespace paths {
constexpr const char* completions = "/v1/completions";
constexpr const char* images = "/v1/images/generations";
constexpr const char* imageEdits = "/v1/images/edits";
constexpr const char* imageVariations = "/v1/images/variations";
constexpr const char* embeddings = "/v1/embeddings";
constexpr const char* chats = "/v1/chat/completions";
constexpr const char* edits = "/v1/edits";
constexpr const char* models = "/v1/models";
constexpr const char* model = "/v1/models/";
constexpr const char* moderations = "/v1/moderations";
constexpr const char* audioSpeech = "/v1/audio/speech";
constexpr const char* audioTranscriptions = "/v1/audio/transcriptions";
constexpr const char* audioTranslations = "/v1/audio/translations";
} // namespace paths

bool isValidScheme(const std::string& scheme)
{
    if (scheme.empty() || !std::isalpha(static_cast<unsigned char>(scheme.front()))) {
        return false;
    }
    for (char c : scheme) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') {
            return false;
        }
    }
    return true;
}

/// A host name or address, with nothing that would move the URL elsewhere (user information, a path, a port).
bool isValidHost(const std::string& host)
{
    if (host.empty()) {
        return false;
    }
    for (char c : host) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F || std::string_view("/?#@\\[]%\"<>^`{|}").find(c) != std::string_view::npos) {
            // An IPv6 address keeps its colons; brackets are added when the URL is written.
            return false;
        }
    }
    return true;
}

/// Percent-encodes every character of `text` that is not alphanumeric or in `allowed`.
std::string percentEncode(const std::string& text, std::string_view allowed)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || allowed.find(c) != std::string_view::npos) {
            out += c;
        } else {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0x0F];
        }
    }
    return out;
}

/// Percent-encodes what a URL path cannot hold as it is; "/" stays a separator.
std::string encodePath(const std::string& path)
{
    return percentEncode(path, "-._~!$&'()*+,;=:@/");
}

/// Encodes text as one path segment: "/", "?" and "#" are encoded, and so are the dots of a "." or ".."
/// segment, which the transport would otherwise resolve against the path before it.
std::string encodePathSegment(const std::string& segment)
{
    if (segment == "." || segment == "..") {
        return segment == "." ? "%2E" : "%2E%2E";
    }
    return percentEncode(segment, "-._~!$&'()*+,;=:@");
}

std::shared_ptr<Session> makeCurlSession()
{
    return std::make_shared<CurlSession>();
}

} // namespace

OpenAI::OpenAI(std::string token) : OpenAI(Configuration::standard(std::move(token)))
{}

OpenAI::OpenAI(Configuration configuration) : OpenAI(std::move(configuration), std::make_shared<CurlSession>())
{}

OpenAI::OpenAI(Configuration configuration, std::shared_ptr<Session> session, SessionFactory makeStreamingSession)
    : session_(std::move(session)), streamingSessions_(std::make_shared<SessionList>()),
      configuration_(std::move(configuration)),
      makeStreamingSession_(makeStreamingSession ? std::move(makeStreamingSession) : SessionFactory(makeCurlSession))
{}

OpenAI::~OpenAI()
{
    // A snapshot: each cancelled stream removes itself from the list as it completes.
    for (const std::shared_ptr<AnyStreamingSession>& stream : streamingSessions_->snapshot()) {
        stream->cancel();
    }
}

std::string OpenAI::buildURL(const std::string& path, const std::string& segment) const
{
    return buildURL(path) + encodePathSegment(segment);
}

std::string OpenAI::buildURL(const std::string& path) const
{
    const std::string& host = configuration_.host();
    if (!isValidScheme(configuration_.scheme())) {
        throw std::invalid_argument("The configured scheme cannot form a URL.");
    }
    if (!isValidHost(host)) {
        throw std::invalid_argument("The configured host cannot form a URL.");
    }
    if (configuration_.port() < 0 || configuration_.port() > 65535) {
        throw std::invalid_argument("The configured port is out of range.");
    }
    const bool isIPv6 = host.find(':') != std::string::npos;
    return configuration_.scheme() + "://" + (isIPv6 ? "[" + host + "]" : host) + ":" +
           std::to_string(configuration_.port()) + encodePath(path);
}

namespace {

/// Speech answers are audio bytes, but not when the status says the request failed.
Outcome<AudioSpeechResult> handleSpeechResponse(const std::optional<std::string>& data,
                                                const std::optional<HttpResponse>& response,
                                                std::exception_ptr transportError)
{
    if (!transportError && data && hasErrorStatus(response)) {
        return Outcome<AudioSpeechResult>::failure(errorForStatus(*data, response->statusCode));
    }
    Outcome<std::string> raw = handleRawResponse(data, std::move(transportError));
    if (!raw.ok()) {
        return Outcome<AudioSpeechResult>::failure(raw.error());
    }
    return Outcome<AudioSpeechResult>::success(AudioSpeechResult{std::move(raw).value()});
}

/// A transcription or translation asked for as text, SRT or VTT is answered with that text, not JSON: a
/// successful answer is the result's text; the service's error object still comes as JSON.
template <class Result>
Outcome<Result> handleTextResponse(const std::optional<std::string>& data, const std::optional<HttpResponse>& response,
                                   std::exception_ptr transportError)
{
    if (transportError || !data) {
        return handleResponse<Result>(data, std::move(transportError));
    }
    try {
        return Outcome<Result>::failure(std::make_exception_ptr(decodeAPIErrorResponse(*data)));
    } catch (...) {
        // Not an error object: a transcript, unless the status says otherwise.
    }
    if (hasErrorStatus(response)) {
        return Outcome<Result>::failure(errorForStatus(*data, response->statusCode));
    }
    return Outcome<Result>::success(Result{*data});
}

template <class Query, class Result>
void performSpeechToText(OpenAI& client, const Query& query, const char* path, Completion<Result> completion)
{
    auto describe = [&] {
        return MultipartFormDataRequest<Result>(std::make_shared<MultipartFormDataBodyOf<Query>>(query),
                                                client.buildURL(path));
    };
    if (isPlainTextFormat(query.responseFormat)) {
        client.performRequest(describe, std::move(completion), &handleTextResponse<Result>);
    } else {
        client.performRequest(describe, std::move(completion));
    }
}

} // namespace

void OpenAI::completions(const CompletionsQuery& query, Completion<CompletionsResult> completion)
{
    performRequest([&] { return JSONRequest<CompletionsResult>(query, buildURL(paths::completions), "POST"); },
                   std::move(completion));
}

void OpenAI::streamCompletions(const CompletionsQuery& query, Completion<CompletionsResult> onResult,
                               StreamCompletion completion)
{
    performStreamingRequest(
        [&] { return JSONRequest<CompletionsResult>(streamedCopy(query), buildURL(paths::completions), "POST"); },
        std::move(onResult), std::move(completion));
}

void OpenAI::images(const ImagesQuery& query, Completion<ImagesResult> completion)
{
    performRequest([&] { return JSONRequest<ImagesResult>(query, buildURL(paths::images), "POST"); },
                   std::move(completion));
}

void OpenAI::imageEdits(const ImageEditsQuery& query, Completion<ImagesResult> completion)
{
    performRequest(
        [&] {
            return MultipartFormDataRequest<ImagesResult>(
                std::make_shared<MultipartFormDataBodyOf<ImageEditsQuery>>(query), buildURL(paths::imageEdits));
        },
        std::move(completion));
}

void OpenAI::imageVariations(const ImageVariationsQuery& query, Completion<ImagesResult> completion)
{
    performRequest(
        [&] {
            return MultipartFormDataRequest<ImagesResult>(
                std::make_shared<MultipartFormDataBodyOf<ImageVariationsQuery>>(query),
                buildURL(paths::imageVariations));
        },
        std::move(completion));
}

void OpenAI::embeddings(const EmbeddingsQuery& query, Completion<EmbeddingsResult> completion)
{
    performRequest([&] { return JSONRequest<EmbeddingsResult>(query, buildURL(paths::embeddings), "POST"); },
                   std::move(completion));
}

void OpenAI::chats(const ChatQuery& query, Completion<ChatResult> completion)
{
    performRequest([&] { return JSONRequest<ChatResult>(query, buildURL(paths::chats), "POST"); },
                   std::move(completion));
}

void OpenAI::streamChats(const ChatQuery& query, Completion<ChatStreamResult> onResult, StreamCompletion completion)
{
    performStreamingRequest(
        [&] { return JSONRequest<ChatStreamResult>(streamedCopy(query), buildURL(paths::chats), "POST"); },
        std::move(onResult), std::move(completion));
}

void OpenAI::edits(const EditsQuery& query, Completion<EditsResult> completion)
{
    performRequest([&] { return JSONRequest<EditsResult>(query, buildURL(paths::edits), "POST"); },
                   std::move(completion));
}

void OpenAI::model(const ModelQuery& query, Completion<ModelResult> completion)
{
    performRequest([&] { return JSONRequest<ModelResult>(buildURL(paths::model, query.model), "GET"); },
                   std::move(completion));
}

void OpenAI::models(Completion<ModelsResult> completion)
{
    performRequest([&] { return JSONRequest<ModelsResult>(buildURL(paths::models), "GET"); }, std::move(completion));
}

void OpenAI::moderations(const ModerationsQuery& query, Completion<ModerationsResult> completion)
{
    performRequest([&] { return JSONRequest<ModerationsResult>(query, buildURL(paths::moderations), "POST"); },
                   std::move(completion));
}

void OpenAI::audioCreateSpeech(const AudioSpeechQuery& query, Completion<AudioSpeechResult> completion)
{
    performRequest([&] { return JSONRequest<AudioSpeechResult>(query, buildURL(paths::audioSpeech), "POST"); },
                   std::move(completion), &handleSpeechResponse);
}

void OpenAI::audioTranscriptions(const AudioTranscriptionQuery& query, Completion<AudioTranscriptionResult> completion)
{
    performSpeechToText(*this, query, paths::audioTranscriptions, std::move(completion));
}

void OpenAI::audioTranslations(const AudioTranslationQuery& query, Completion<AudioTranslationResult> completion)
{
    performSpeechToText(*this, query, paths::audioTranslations, std::move(completion));
}

namespace {

template <class Query, class Result>
using OneShotRequirement = void (OpenAIProtocol::*)(const Query&, Completion<Result>);
template <class Query, class Chunk>
using StreamRequirement = void (OpenAIProtocol::*)(const Query&, Completion<Chunk>, StreamCompletion);

/// The asynchronous form of a one-shot call: `call` is handed the completion, and the future holds its outcome.
template <class Result, class Call> std::future<Result> awaitCall(Call call)
{
    auto promise = std::make_shared<std::promise<Result>>();
    std::future<Result> future = promise->get_future();
    call([promise](Outcome<Result> outcome) {
        if (outcome.ok()) {
            promise->set_value(std::move(outcome).value());
        } else {
            promise->set_exception(outcome.error());
        }
    });
    return future;
}

template <class Query, class Result>
std::future<Result> awaitOutcome(OpenAIProtocol& client, OneShotRequirement<Query, Result> requirement,
                                 const Query& query)
{
    return awaitCall<Result>(
        [&](Completion<Result> completion) { (client.*requirement)(query, std::move(completion)); });
}

/// The asynchronous form of a streamed requirement.
template <class Query, class Chunk>
ChunkStream<Chunk> streamOf(OpenAIProtocol& client, StreamRequirement<Query, Chunk> requirement, const Query& query)
{
    ChunkStream<Chunk> stream;
    auto continuation = stream.continuation();
    (client.*requirement)(
        query,
        [continuation](Outcome<Chunk> outcome) {
            if (outcome.ok()) {
                continuation->yield(std::move(outcome).value());
            } else {
                continuation->finish(outcome.error());
            }
        },
        [continuation](std::exception_ptr error) { continuation->finish(std::move(error)); });
    return stream;
}

template <class Result, class Call> OutcomePublisher<Result> publishCall(Call call)
{
    auto [publisher, settle] = OutcomePublisher<Result>::make();
    call(std::move(settle));
    return publisher;
}

template <class Query, class Result>
OutcomePublisher<Result> publishOutcome(OpenAIProtocol& client, OneShotRequirement<Query, Result> requirement,
                                        const Query& query)
{
    return publishCall<Result>(
        [&](Completion<Result> completion) { (client.*requirement)(query, std::move(completion)); });
}

template <class Query, class Chunk>
StreamPublisher<Chunk> publishStream(OpenAIProtocol& client, StreamRequirement<Query, Chunk> requirement,
                                     const Query& query)
{
    auto [publisher, sender] = StreamPublisher<Chunk>::make();
    (client.*requirement)(
        query, [sender](Outcome<Chunk> element) { sender.send(std::move(element)); },
        [sender](std::exception_ptr error) { sender.finish(std::move(error)); });
    return publisher;
}

} // namespace

std::future<CompletionsResult> OpenAIProtocol::completions(const CompletionsQuery& query)
{
    return awaitOutcome(*this, &OpenAIProtocol::completions, query);
}

OutcomePublisher<CompletionsResult> OpenAIProtocol::completionsPublisher(const CompletionsQuery& query)
{
    return publishOutcome(*this, &OpenAIProtocol::completions, query);
}

ChunkStream<CompletionsResult> OpenAIProtocol::streamCompletions(const CompletionsQuery& query)
{
    return streamOf(*this, &OpenAIProtocol::streamCompletions, query);
}

StreamPublisher<CompletionsResult> OpenAIProtocol::streamCompletionsPublisher(const CompletionsQuery& query)
{
    return publishStream(*this, &OpenAIProtocol::streamCompletions, query);
}

std::future<ImagesResult> OpenAIProtocol::images(const ImagesQuery& query)
{
    return awaitOutcome(*this, &OpenAIProtocol::images, query);
}

OutcomePublisher<ImagesResult> OpenAIProtocol::imagesPublisher(const ImagesQuery& query)
{
    return publishOutcome(*this, &OpenAIProtocol::images, query);
}

std::future<ImagesResult> OpenAIProtocol::imageEdits(const ImageEditsQuery& query)
{
    return awaitOutcome(*this, &OpenAIProtocol::imageEdits, query);
}

OutcomePublisher<ImagesResult> OpenAIProtocol::imageEditsPublisher(const ImageEditsQuery& query)
{
    return publishOutcome(*this, &OpenAIProtocol::imageEdits, query);
}

std::future<ImagesResult> OpenAIProtocol::imageVariations(const ImageVariationsQuery& query)
{
    return awaitOutcome(*this, &OpenAIProtocol::imageVariations, query);
}

OutcomePublisher<ImagesResult> OpenAIProtocol::imageVariationsPublisher(const ImageVariationsQuery& query)
{
    return publishOutcome(*this, &OpenAIProtocol::imageVariations, query);
}

std::future<EmbeddingsResult> OpenAIProtocol::embeddings(const EmbeddingsQuery& query)
{
    return awaitOutcome(*this, &OpenAIProtocol::embeddings, query);
}

OutcomePublisher<EmbeddingsResult> OpenAIProtocol::embeddingsPublisher(const EmbeddingsQuery& query)
{
    return publishOutcome(*this, &OpenAIProtocol::embeddings, query);
}

std::future<ChatResult> OpenAIProtocol::chats(const ChatQuery& query)
{
    return awaitOutcome(*this, &OpenAIProtocol::chats, query);
}

OutcomePublisher<ChatResult> OpenAIProtocol::chatsPublisher(const ChatQuery& query)
{
    return publishOutcome(*this, &OpenAIProtocol::chats, query);
}

ChunkStream<ChatStreamResult> OpenAIProtocol::streamChats(const ChatQuery& query)
{
    return streamOf(*this, &OpenAIProtocol::streamChats, query);
}

StreamPublisher<ChatStreamResult> OpenAIProtocol::streamChatsPublisher(const ChatQuery& query)
{
    return publishStream(*this, &OpenAIProtocol::streamChats, query);
}

std::future<EditsResult> OpenAIProtocol::edits(const EditsQuery& query)
{
    return awaitOutcome(*this, &OpenAIProtocol::edits, query);
}

OutcomePublisher<EditsResult> OpenAIProtocol::editsPublisher(const EditsQuery& query)
{
    return publishOutcome(*this, &OpenAIProtocol::edits, query);
}

std::future<ModelResult> OpenAIProtocol::model(const ModelQuery& query)
{
    return awaitOutcome(*this, &OpenAIProtocol::model, query);
}

OutcomePublisher<ModelResult> OpenAIProtocol::modelPublisher(const ModelQuery& query)
{
    return publishOutcome(*this, &OpenAIProtocol::model, query);
}

std::future<ModelsResult> OpenAIProtocol::models()
{
    return awaitCall<ModelsResult>([&](Completion<ModelsResult> completion) { models(std::move(completion)); });
}

OutcomePublisher<ModelsResult> OpenAIProtocol::modelsPublisher()
{
    return publishCall<ModelsResult>([&](Completion<ModelsResult> completion) { models(std::move(completion)); });
}

std::future<ModerationsResult> OpenAIProtocol::moderations(const ModerationsQuery& query)
{
    return awaitOutcome(*this, &OpenAIProtocol::moderations, query);
}

OutcomePublisher<ModerationsResult> OpenAIProtocol::moderationsPublisher(const ModerationsQuery& query)
{
    return publishOutcome(*this, &OpenAIProtocol::moderations, query);
}

std::future<AudioSpeechResult> OpenAIProtocol::audioCreateSpeech(const AudioSpeechQuery& query)
{
    return awaitOutcome(*this, &OpenAIProtocol::audioCreateSpeech, query);
}

OutcomePublisher<AudioSpeechResult> OpenAIProtocol::audioCreateSpeechPublisher(const AudioSpeechQuery& query)
{
    return publishOutcome(*this, &OpenAIProtocol::audioCreateSpeech, query);
}

std::future<AudioTranscriptionResult> OpenAIProtocol::audioTranscriptions(const AudioTranscriptionQuery& query)
{
    return awaitOutcome(*this, &OpenAIProtocol::audioTranscriptions, query);
}

OutcomePublisher<AudioTranscriptionResult>
OpenAIProtocol::audioTranscriptionsPublisher(const AudioTranscriptionQuery& query)
{
    return publishOutcome(*this, &OpenAIProtocol::audioTranscriptions, query);
}

std::future<AudioTranslationResult> OpenAIProtocol::audioTranslations(const AudioTranslationQuery& query)
{
    return awaitOutcome(*this, &OpenAIProtocol::audioTranslations, query);
}

OutcomePublisher<AudioTranslationResult> OpenAIProtocol::audioTranslationsPublisher(const AudioTranslationQuery& query)
{
    return publishOutcome(*this, &OpenAIProtocol::audioTranslations, query);
}

} // namespace aiclient
