#pragma once

#include "lumetrove/ai/AIError.h"
#include "lumetrove/ai/AnalysisTask.h"
#include "lumetrove/ai/ScreenshotInfoResult.h"
#include "lumetrove/library/Screenshot.h"

#include <QImage>
#include <QObject>
#include <deque>
#include <memory>
#include <optional>

namespace lumetrove {

class AIVisionViewModel;

/// The AI processing of the detail pane, without its widgets: when an analysis is sent and with which image,
/// the answer applied to the screenshot it was asked for, and the state of the pane's two alerts (the API-key
/// alert and the "AI Error" alert). The pane owns one, hands it the shown screenshot when the user asks, and
/// shows what its signals tell.
///
/// One request runs at a time, since the view model publishes every request's outcome through the same
/// properties: a start for another screenshot waits behind the running request and is then sent with that
/// screenshot's own image, whatever is shown by then. Each answer is applied to the screenshot it was asked
/// for, shown or not; an answer the library refuses to store is not shown as saved. Main thread.
class AIProcessingController : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool showEnterOpenAIAPIKeyAlert READ showEnterOpenAIAPIKeyAlert WRITE setShowEnterOpenAIAPIKeyAlert
                   NOTIFY alertChanged)
    Q_PROPERTY(bool showingAlert READ showingAlert WRITE setShowingAlert NOTIFY alertChanged)

public:
    explicit AIProcessingController(QObject* parent = nullptr);
    /// Cancels the analyses not finished: their answers are never applied, and their screenshots are no longer
    /// processing.
    ~AIProcessingController() override;

    /// The request state the process button shows.
    AIVisionViewModel* model() const { return model_; }

    // Starting ------------------------------------------------------------------------------------------

    /// Whether a key is stored under "OpenAIAPIKey" (blanks count); raises the API-key alert when not.
    bool hasOpenAIAPIKey();
    /// Starts the analysis of `screenshot`, the one shown (none: nothing starts). Without a key it raises the
    /// API-key alert and clears the screenshot's `waitingForAIProcess` instead. `shownImage` is its image
    /// when the caller has it decoded already; otherwise its file is read off the main thread when its turn
    /// comes. A start of a screenshot whose analysis is running or waiting starts nothing: that analysis's
    /// answer is the one applied. The screenshot's `currentlyAIProcessing` holds from the start until its own
    /// outcome.
    void startAIProcessing(const ScreenshotPtr& screenshot, const QImage& shownImage = QImage());
    /// Writes an answer into `screenshot` and saves it (see `applyAIResultToScreenshot`), then tells
    /// `aiResultApplied`. None only ends the processing state.
    void applyAIResult(const ScreenshotPtr& screenshot, const std::optional<ScreenshotInfoResult>& result);

    /// The task of the analysis started last.
    const std::shared_ptr<AnalysisTask>& currentTask() const { return currentTask_; }
    /// The task of the analysis of `screenshot` that runs or waits for its turn; null when there is none.
    std::shared_ptr<AnalysisTask> taskOf(const ScreenshotPtr& screenshot) const;
    bool isAnalysing(const ScreenshotPtr& screenshot) const { return taskOf(screenshot) != nullptr; }
    /// The screenshot passed to the last start that had a key.
    const ScreenshotPtr& screenshotSelectedWhenAIProcessStarted() const
    {
        return screenshotSelectedWhenAIProcessStarted_;
    }

    // Alerts: at most one is up, the one raised last ------------------------------------------------------

    bool showEnterOpenAIAPIKeyAlert() const { return showEnterOpenAIAPIKeyAlert_; }
    void setShowEnterOpenAIAPIKeyAlert(bool show);
    bool showingAlert() const { return showingAlert_; }
    void setShowingAlert(bool show);
    /// The failure the "AI Error" alert presents, and the screenshot whose analysis failed; kept until the
    /// next failure.
    const std::optional<AIError>& alertError() const { return alertError_; }
    const ScreenshotPtr& failedScreenshot() const { return failedScreenshot_; }
    /// Whether the "AI Error" alert offers "Retry": the request timed out.
    bool alertOffersRetry() const { return alertError_ && alertError_->isTimedOut(); }
    /// The "AI Error" alert's message for `alertError`.
    QString alertMessage() const;
    /// "Retry" of the "AI Error" alert: starts the failed screenshot's analysis again, also when another one
    /// is shown by now (unless one for it runs already). The key is checked again.
    void retry();

signals:
    /// An alert was raised (also again, with new content) or put down.
    void alertChanged();
    /// The set of screenshots being analysed, or the request in flight, changed.
    void processingChanged();
    /// An answer was written into `screenshot`; `kept` is false when the library refused it, and the record
    /// then holds what the library holds.
    void aiResultApplied(const ScreenshotPtr& screenshot, const ScreenshotInfoResult& result, bool kept);

private:
    struct Analysis;

    void startAnalysisOf(const ScreenshotPtr& screenshot, const QImage& shownImage);
    /// Sends the next analysis when no request is in flight and its image is at hand.
    void launchAnalysis();
    void readImage(Analysis& analysis);
    void modelPublished();
    void failed(const ScreenshotPtr& screenshot, const AIError& error);
    /// Raises or puts down `alert`; raising it puts `otherAlert` down, as one alert is up at a time.
    void setAlert(bool& alert, bool& otherAlert, bool show);

    AIVisionViewModel* model_;
    std::shared_ptr<AnalysisTask> currentTask_;
    ScreenshotPtr screenshotSelectedWhenAIProcessStarted_;
    /// The analyses started and not yet sent, in order; the one whose request is in flight.
    std::deque<std::unique_ptr<Analysis>> queued_;
    std::unique_ptr<Analysis> running_;
    /// The model's published values as last seen, so that its handlers run only on real changes.
    bool lastHasResults_ = false;
    std::optional<AIError> lastError_;

    bool showEnterOpenAIAPIKeyAlert_ = false;
    bool showingAlert_ = false;
    std::optional<AIError> alertError_;
    ScreenshotPtr failedScreenshot_;
};

} // namespace lumetrove
