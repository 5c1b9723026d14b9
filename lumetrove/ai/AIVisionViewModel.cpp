#include "lumetrove/ai/AIVisionViewModel.h"

#include "aiclient/OpenAI.h"
#include "aiclient/ServiceErrors.h"
#include "lumetrove/ai/AIResultApplication.h"
#include "lumetrove/platform/ImageUtilities.h"
#include "lumetrove/platform/Log.h"
#include "lumetrove/platform/UserDefaults.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QPointer>
#include <QStringList>
#include <QUrl>
#include <arpa/inet.h>

namespace lumetrove {
namespace {

/// `text`, an address as a URL's host holds it, in its canonical written form when it is a loopback address
/// (127.0.0.0/8, ::1, or an IPv4 loopback address mapped into IPv6), the form the transport reads the same way;
/// none for any other text.
std::optional<QString> loopbackAddressText(const QString& text)
{
    const QByteArray written = text.toLatin1();
    char canonical[INET6_ADDRSTRLEN] = {};
    in_addr v4{};
    if (inet_pton(AF_INET, written.constData(), &v4) == 1) {
        if ((ntohl(v4.s_addr) >> 24) != 127 || inet_ntop(AF_INET, &v4, canonical, sizeof canonical) == nullptr) {
            return std::nullopt;
        }
        return QString::fromLatin1(canonical);
    }
    in6_addr v6{};
    if (inet_pton(AF_INET6, written.constData(), &v6) == 1) {
        const bool mappedLoopback = IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
        if ((!IN6_IS_ADDR_LOOPBACK(&v6) && !mappedLoopback) ||
            inet_ntop(AF_INET6, &v6, canonical, sizeof canonical) == nullptr) {
            return std::nullopt;
        }
        return QString::fromLatin1(canonical);
    }
    return std::nullopt;
}

using Message = aiclient::ChatCompletionMessageParam;
using Role = Message::Role;
using ImagePart = Message::VisionContent::ChatCompletionContentPartImageParam;

const char* const instructions =
    "Your job is to look at an image and determine suitable name for a screenshot. The name does not need to be "
    "formatted like a filename and should not contain underscores. The name should always capitalize the first "
    "letter of each word except for function words like 'or', 'and', 'of', 'the'. Keep the name as short as "
    "possible and never longer than 200 characters. You will also produce a short (less than 100 word summary) of "
    "what the screenshot is of. Also provide 4 words that will be used when searching for the screenshot. The "
    "keywords will be a string of lowercase words with no numbers or other characters and each word seperated by a "
    "space. The JSON will always use the field name for the name, description for the summary and keywords for the "
    "keywords. The JSON may also include a aiAssistantResults field. You may also be provided with past JSON "
    "responses before the text to process. You should generate something substantially different from any past "
    "JSON responses that are provided. THERE MUST NEVER BE MORE THAN 6 SEPERATE WORDS IN THE keywords FIELD.";

const char* const summaryRule =
    "For the summary: Only state what the screenshot is as fact. Never start the summary with 'the screenshot may "
    "be' or 'the screenshot is' or 'a screenshot of' or 'the screenshot is likely' JUST PROVIDE THE SUMMARY AND "
    "NOTHING ELSE.";

constexpr double imageMaxWidth = 500;
constexpr double jpegCompressionFactor = 0.3;

Message systemMessage(const QString& text)
{
    return *Message::make(Role::system, text.toStdString());
}

QString messageText(const Message& message)
{
    if (const auto content = message.content()) {
        if (const auto text = content->text()) {
            return QString::fromStdString(*text);
        }
    }
    return QString();
}

/// The error the service gives for a wrong key, so a key that cannot be sent reads like one the service refused.
std::exception_ptr unsendableKeyError()
{
    return std::make_exception_ptr(aiclient::APIErrorResponse(aiclient::APIError(
        "Incorrect API key provided: the key holds a line break or another control character. Paste the key "
        "again in Settings.",
        "invalid_request_error", std::nullopt, "invalid_api_key")));
}

/// The request for one analysis: the prompts, then the image, made smaller and sent as a JPEG. Empty for a
/// null image or one that cannot be encoded.
std::optional<aiclient::ChatQuery> analysisQuery(std::vector<Message> messages, const QImage& image)
{
    if (image.isNull()) {
        return std::nullopt;
    }
    const std::optional<QByteArray> jpeg = encodeJPEGForAI(resizeImage(imageMaxWidth, image), jpegCompressionFactor);
    if (!jpeg) {
        return std::nullopt;
    }
    messages.push_back(*Message::make(
        Role::user, std::vector<Message::VisionContent>{ImagePart{ImagePart::ImageURL::fromJpegData(
                        std::string_view(jpeg->constData(), jpeg->size()), ImagePart::ImageURL::Detail::auto_)}}));

    aiclient::ChatQuery query;
    query.messages = std::move(messages);
    query.model = "gpt-4o";
    query.maxTokens = 2000;
    query.temperature = 1.0;
    query.responseFormat = aiclient::ChatQuery::ResponseFormat::jsonObject;
    query.stream = false;
    return query;
}

} // namespace

std::vector<aiclient::ChatCompletionMessageParam> analysisMessages(const std::optional<QString>& aiResults,
                                                                   const std::optional<QString>& capturedAppName,
                                                                   const std::optional<QString>& aiAssistantTask)
{
    std::vector<Message> messages{systemMessage(QString::fromUtf8(instructions)),
                                  systemMessage(QString::fromUtf8(summaryRule))};
    if (capturedAppName) {
        messages.push_back(systemMessage(
            QStringLiteral("The desktop application that the screenshot was taken of is ") + *capturedAppName +
            QStringLiteral(". When writing the name, summary and keywords take this desktop application name into "
                           "consideration along with the provided text to improve the name, summary and keywords. Do "
                           "not include the application name in the name for the screenshot unless it is essential "
                           "to understand what the screenshot is of.")));
    }
    if (aiAssistantTask) {
        messages.push_back(systemMessage(
            QStringLiteral("You must also provide a result for the following task or question: \"") + *aiAssistantTask +
            QStringLiteral("\" The result for this should be provided in a JSON field called aiAssistantResults. The "
                           "aiAssistantResults field should only ever contain a string response, not JSON. It can have "
                           "carriage returns. You should also provide the task or question back in a JSON field called "
                           "aiAssistantTask but you should format it nicely for display by adding capitalization and "
                           "punctuation where necessary and fixing any obviously wrong spelling. If the task is to "
                           "list items, you must put a carriage return between each item and number each item.")));
    }
    if (aiResults) {
        const QStringList pieces = aiResults->split(QStringLiteral("\n\n"), Qt::SkipEmptyParts);
        for (qsizetype i = std::max<qsizetype>(0, pieces.size() - 4); i < pieces.size(); ++i) {
            const QString piece = leftCharacters(pieces[i].trimmed(), maximumAITextLength).trimmed();
            const bool repeated = std::any_of(messages.begin(), messages.end(), [&](const Message& message) {
                return messageText(message).trimmed() == piece;
            });
            if (!repeated) {
                messages.push_back(systemMessage(piece));
            }
        }
    }
    return messages;
}

std::optional<QByteArray> encodeJPEGForAI(const QImage& image, double compressionFactor)
{
    if (image.isNull()) {
        return std::nullopt;
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    const int quality = qBound(0, qRound(compressionFactor * 100), 100);
    if (!image.save(&buffer, "JPEG", quality) || bytes.isEmpty()) {
        return std::nullopt;
    }
    return bytes;
}

bool isUnsendableAPIKey(const QString& key)
{
    return std::any_of(key.begin(), key.end(), [](QChar c) { return c.category() == QChar::Other_Control; });
}

AIVisionViewModel::AIVisionViewModel(QObject* parent)
    : QObject(parent), clientFactory_([](aiclient::Configuration configuration) {
          return std::make_shared<aiclient::OpenAI>(std::move(configuration));
      })
{}

AIServiceURLRefusedError::AIServiceURLRefusedError()
    : std::runtime_error("LUMETROVE_AI_SERVICE_URL was refused: only an http or https URL of this machine's loopback "
                         "service (127.0.0.0/8, localhost or [::1], with or without a port, no path) is taken. The "
                         "request was not sent.")
{}

EmptyAnswerError::EmptyAnswerError() : std::runtime_error("The AI service's answer holds no text.")
{}

aiclient::Configuration AIVisionViewModel::configuration(const std::string& apiKey)
{
    // No byte for 20 s ends the request; apart from that, the whole request ends after two minutes, or when it
    // moves fewer than 64 bytes a second over 20 s: an image is sent in one go and the answer comes in one go,
    // so a request that crawls like that will not finish.
    constexpr double timeout = 20.0;
    constexpr double requestDeadline = 120.0;
    constexpr double minimumBytesPerSecond = 64.0;
    // For local testing: LUMETROVE_AI_SERVICE_URL (e.g. "http://127.0.0.1:8080") sends the requests to a stand-in
    // service on this machine. Only a loopback service is taken, so the key never goes to a host the user did not
    // choose; anything else stops the request rather than falling back to the real service, which the user did
    // not ask for either.
    const QString value = qEnvironmentVariable("LUMETROVE_AI_SERVICE_URL");
    if (value.isEmpty()) {
        return aiclient::Configuration(apiKey, std::nullopt, aiclient::Configuration::defaultHost, 443, "https",
                                       timeout)
            .withRequestBound(requestDeadline, minimumBytesPerSecond);
    }
    const QUrl local(value, QUrl::StrictMode);
    const QString scheme = local.scheme();
    const bool web = scheme == QLatin1String("http") || scheme == QLatin1String("https");
    const bool plain = local.isValid() && local.userInfo().isEmpty() && !local.hasQuery() && !local.hasFragment() &&
                       (local.path().isEmpty() || local.path() == QLatin1String("/"));
    QString host;
    if (local.host() == QLatin1String("localhost")) {
        host = local.host();
    } else if (const std::optional<QString> loopback = loopbackAddressText(local.host())) {
        host = *loopback;
    }
    if (!web || !plain || host.isEmpty()) {
        const AIServiceURLRefusedError refused;
        systemLog(QString::fromUtf8(refused.what()));
        throw refused;
    }
    const int port = local.port(scheme == QLatin1String("https") ? 443 : 80);
    return aiclient::Configuration(apiKey, std::nullopt, host.toStdString(), port, scheme.toStdString(), timeout)
        .withRequestBound(requestDeadline, minimumBytesPerSecond);
}

std::shared_ptr<AnalysisTask> AIVisionViewModel::analyzeScreenshot(const std::optional<QString>& aiResults,
                                                                   const std::optional<QString>& capturedAppName,
                                                                   const std::optional<QString>& aiAssistantTask,
                                                                   const QImage& image)
{
    auto task = std::make_shared<AnalysisTask>();
    const std::optional<QString> apiKey = UserDefaults::string(UserDefaults::openAIAPIKey);
    if (!apiKey) {
        systemLog(QStringLiteral("authorizationToken nil in AIViewModel"));
        return task;
    }
    std::vector<Message> messages = analysisMessages(aiResults, capturedAppName, aiAssistantTask);

    setReceivedError(std::nullopt);
    setResponse(std::nullopt);
    setHasResults(false);

    const std::optional<aiclient::ChatQuery> query = analysisQuery(std::move(messages), image);
    if (!query) {
        return task;
    }
    setIsLoading(true);
    send(*query, *apiKey, task);
    return task;
}

void AIVisionViewModel::send(const aiclient::ChatQuery& query, const QString& apiKey,
                             const std::shared_ptr<AnalysisTask>& task)
{
    QPointer<AIVisionViewModel> self(this);
    // Every outcome is published from the event loop, as a service answer would be: never inside this call.
    auto publish = [self, task](std::function<void(AIVisionViewModel&)> use) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, use = std::move(use)] {
                if (self) {
                    use(*self);
                }
            },
            Qt::QueuedConnection);
    };
    if (isUnsendableAPIKey(apiKey)) {
        publish([](AIVisionViewModel& model) { model.fail(AIError::make(unsendableKeyError())); });
        return;
    }
    std::optional<aiclient::Configuration> settings;
    try {
        settings = configuration(apiKey.toStdString());
    } catch (const AIServiceURLRefusedError&) {
        publish([error = std::current_exception()](AIVisionViewModel& model) { model.fail(AIError::make(error)); });
        return;
    }
    std::shared_ptr<aiclient::OpenAIProtocol> client = clientFactory_(std::move(*settings));
    // The client stays alive until its answer arrives; the answer reaches the view model on the main thread.
    client->chats(query, [client, task, publish](auto outcome) {
        if (!outcome.ok()) {
            publish([error = outcome.error()](AIVisionViewModel& model) { model.fail(AIError::make(error)); });
            return;
        }
        publish([task, choices = outcome.value().choices](AIVisionViewModel& model) {
            std::vector<Message> messages;
            for (const auto& choice : choices) {
                messages.push_back(choice.message);
            }
            model.publishAnswer(*task, messages);
        });
    });
}

void AIVisionViewModel::publishAnswer(const AnalysisTask& task, const std::vector<Message>& choices)
{
    setIsLoading(false);
    if (task.isCancelled()) {
        fail(AIError::cancelled());
        return;
    }
    setHasResults(true);
    // An answer without text (no choice, or "content": null) is paid for and yet gives nothing: the user is told,
    // as for an answer that cannot be read.
    const auto content = choices.empty() ? std::nullopt : choices.front().content();
    const auto text = content ? content->text() : std::nullopt;
    if (!text) {
        const std::exception_ptr error = std::make_exception_ptr(EmptyAnswerError());
        printLine(describeError(error));
        setReceivedError(AIError::make(error));
        return;
    }
    try {
        ScreenshotInfoResult result = decodeScreenshotInfoResult(QString::fromStdString(*text));
        result.aiRawResult = QString::fromStdString(*text);
        setResponse(std::move(result));
    } catch (const std::exception& error) {
        printLine(QStringLiteral("Error decoding JSON: ") + QString::fromUtf8(error.what()));
        setReceivedError(AIError::make(std::current_exception()));
    }
}

void AIVisionViewModel::fail(AIError error)
{
    printLine(error.description());
    setReceivedError(std::move(error));
    setIsLoading(false);
}

void AIVisionViewModel::setResponse(std::optional<ScreenshotInfoResult> response)
{
    response_ = std::move(response);
    emit responseChanged();
}

void AIVisionViewModel::setHasResults(bool hasResults)
{
    hasResults_ = hasResults;
    emit hasResultsChanged();
}

void AIVisionViewModel::setIsLoading(bool isLoading)
{
    isLoading_ = isLoading;
    emit isLoadingChanged();
}

void AIVisionViewModel::setReceivedError(std::optional<AIError> error)
{
    receivedError_ = std::move(error);
    emit receivedErrorChanged();
}

} // namespace lumetrove
