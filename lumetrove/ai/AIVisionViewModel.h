#pragma once

#include "aiclient/ChatMessages.h"
#include "aiclient/Configuration.h"
#include "lumetrove/ai/AIError.h"
#include "lumetrove/ai/AnalysisTask.h"
#include "lumetrove/ai/ScreenshotInfoResult.h"

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

namespace aiclient {
class OpenAIProtocol;
struct ChatQuery;
} // namespace aiclient

namespace lumetrove {

/// The observable state of the AI analysis of one screenshot: the last decoded answer, whether the service
/// answered, whether a request is in flight, and the last failure. Every property changes on the main thread
/// only; each assignment emits its signal, also when the value stays the same. Answers that arrive after the
/// view model is gone are dropped.
class AIVisionViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool hasResults READ hasResults NOTIFY hasResultsChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)

public:
    /// Makes the client of one request from its configuration.
    using ClientFactory = std::function<std::shared_ptr<aiclient::OpenAIProtocol>(aiclient::Configuration)>;

    explicit AIVisionViewModel(QObject* parent = nullptr);

    const std::optional<ScreenshotInfoResult>& response() const { return response_; }
    bool hasResults() const { return hasResults_; }
    bool isLoading() const { return isLoading_; }
    const std::optional<AIError>& receivedError() const { return receivedError_; }

    /// Sends the image with the analysis prompts to the chat-completions service under the stored API key and
    /// publishes the outcome. Without a stored key it logs "authorizationToken nil in AIViewModel" and changes
    /// nothing. A null image (or one that cannot be encoded) ends it silently after the reset. A key holding a
    /// control character is never sent: the analysis fails with the service's bad-key error. Returns at once,
    /// with the handle through which the caller may cancel. Main thread.
    std::shared_ptr<AnalysisTask> analyzeScreenshot(const std::optional<QString>& aiResults,
                                                    const std::optional<QString>& capturedAppName,
                                                    const std::optional<QString>& aiAssistantTask, const QImage& image);

    /// Replaces how each request's client is made (by default an `aiclient::OpenAI` for the configuration).
    void setClientFactory(ClientFactory factory) { clientFactory_ = std::move(factory); }

    /// The service settings of a request with `apiKey`: the service's host, port 443, "https", 20 s; or, for
    /// local testing, the loopback service that LUMETROVE_AI_SERVICE_URL names (http or https, 127.0.0.0/8,
    /// localhost or [::1], with or without a port). Any other value set there is refused with a line in the
    /// system log and `AIServiceURLRefusedError`: the key then goes to no host at all, not even the service's.
    static aiclient::Configuration configuration(const std::string& apiKey);

signals:
    void responseChanged();
    void hasResultsChanged();
    void isLoadingChanged();
    void receivedErrorChanged();

private:
    void setResponse(std::optional<ScreenshotInfoResult> response);
    void setHasResults(bool hasResults);
    void setIsLoading(bool isLoading);
    void setReceivedError(std::optional<AIError> error);

    /// Sends `query` under `apiKey` and publishes the outcome of the request for `task`.
    void send(const aiclient::ChatQuery& query, const QString& apiKey, const std::shared_ptr<AnalysisTask>& task);
    /// Prints the failure, publishes it and ends loading.
    void fail(AIError error);
    /// Uses the first choice's text of an answer that arrived.
    void publishAnswer(const AnalysisTask& task, const std::vector<aiclient::ChatCompletionMessageParam>& choices);

    std::optional<ScreenshotInfoResult> response_;
    bool hasResults_ = false;
    bool isLoading_ = false;
    std::optional<AIError> receivedError_;
    ClientFactory clientFactory_;
};

/// LUMETROVE_AI_SERVICE_URL is set to something other than a loopback http or https URL. The text never
/// quotes the value.
class AIServiceURLRefusedError : public std::runtime_error {
public:
    AIServiceURLRefusedError();
};

/// The service's answer holds no choice, or its first choice holds no text: nothing to apply.
class EmptyAnswerError : public std::runtime_error {
public:
    EmptyAnswerError();
};

/// The system messages of an analysis: the fixed instructions and summary rule, the application and the task
/// when given, then the last four earlier answers, each trimmed, cut to `maximumAITextLength` characters and
/// left out when its text is already among the messages. The record keeps every reply whole; only what is
/// sent back is cut, since one reply of megabytes would otherwise go with every later request of its
/// screenshot, and a service refuses a request that large every time.
std::vector<aiclient::ChatCompletionMessageParam> analysisMessages(const std::optional<QString>& aiResults,
                                                                   const std::optional<QString>& capturedAppName,
                                                                   const std::optional<QString>& aiAssistantTask);

/// JPEG bytes of the image at `compressionFactor` (0 smallest … 1 best); none when it cannot be encoded.
std::optional<QByteArray> encodeJPEGForAI(const QImage& image, double compressionFactor);

/// Whether the API key holds a character that cannot stand in an HTTP header: CR, LF or any other control
/// character.
bool isUnsendableAPIKey(const QString& key);

} // namespace lumetrove
