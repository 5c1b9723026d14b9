#include "aiclient/OpenAI.h"

#include "aiclient/CurlSession.h"

#include <cctype>
#include <stdexcept>

namespace aiclient {

namespace {

constexpr const char* chatsPath = "/v1/chat/completions";

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

/// Percent-encodes what a URL path cannot hold as it is; "/" stays a separator.
std::string encodePath(const std::string& path)
{
    static constexpr std::string_view allowed = "-._~!$&'()*+,;=:@/";
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : path) {
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

std::shared_ptr<Session> makeCurlSession()
{
    return std::make_shared<CurlSession>();
}

} // namespace

OpenAI::OpenAI(std::string token) : OpenAI(Configuration::standard(std::move(token)))
{}

OpenAI::OpenAI(Configuration configuration) : OpenAI(std::move(configuration), CurlSession::shared())
{}

OpenAI::OpenAI(Configuration configuration, std::shared_ptr<Session> session, SessionFactory makeStreamingSession)
    : session_(std::move(session)), streamingSessions_(std::make_shared<SessionList>()),
      configuration_(std::move(configuration)),
      makeStreamingSession_(makeStreamingSession ? std::move(makeStreamingSession) : SessionFactory(makeCurlSession))
{}

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

void OpenAI::chats(const ChatQuery& query, Completion<ChatResult> completion)
{
    performRequest([&] { return JSONRequest<ChatResult>(query, buildURL(chatsPath), "POST"); }, std::move(completion));
}

void OpenAI::streamChats(const ChatQuery& query, Completion<ChatStreamResult> onResult, StreamCompletion completion)
{
    performStreamingRequest(
        [&] {
            ChatQuery streamed = query;
            streamed.stream = true;
            return JSONRequest<ChatStreamResult>(std::move(streamed), buildURL(chatsPath), "POST");
        },
        std::move(onResult), std::move(completion));
}

std::future<ChatResult> OpenAIProtocol::chats(const ChatQuery& query)
{
    auto promise = std::make_shared<std::promise<ChatResult>>();
    std::future<ChatResult> future = promise->get_future();
    chats(query, [promise](Outcome<ChatResult> result) {
        if (result.ok()) {
            promise->set_value(std::move(result).value());
        } else {
            promise->set_exception(result.error());
        }
    });
    return future;
}

ChunkStream<ChatStreamResult> OpenAIProtocol::streamChats(const ChatQuery& query)
{
    ChunkStream<ChatStreamResult> stream;
    auto continuation = stream.continuation();
    streamChats(
        query,
        [continuation](Outcome<ChatStreamResult> result) {
            if (result.ok()) {
                continuation->yield(std::move(result).value());
            } else {
                continuation->finish(result.error());
            }
        },
        [continuation](std::exception_ptr error) { continuation->finish(std::move(error)); });
    return stream;
}

} // namespace aiclient
