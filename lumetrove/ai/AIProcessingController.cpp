#include "lumetrove/ai/AIProcessingController.h"

#include "lumetrove/ai/AIResultApplication.h"
#include "lumetrove/ai/AIVisionViewModel.h"
#include "lumetrove/platform/ImageUtilities.h"
#include "lumetrove/platform/UserDefaults.h"

#include <QFutureWatcher>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>
#include <stdexcept>
#include <utility>

namespace lumetrove {

/// An analysis: the screenshot it was asked for, its task handle, and, until it is sent, that screenshot's
/// own image.
struct AIProcessingController::Analysis {
    ScreenshotPtr screenshot;
    std::shared_ptr<AnalysisTask> task;
    QImage image;
    /// Why `image` is null once it was read: told to the user instead of sending nothing.
    QString imageProblem;
    bool imageReady = false;
    bool imageReading = false;
};

AIProcessingController::AIProcessingController(QObject* parent) : QObject(parent), model_(new AIVisionViewModel(this))
{
    // The view model publishes an outcome as several assignments in a row (loading, results, answer, error);
    // they are looked at once they are all made, as a change handler would.
    for (auto signal : {&AIVisionViewModel::hasResultsChanged, &AIVisionViewModel::receivedErrorChanged,
                        &AIVisionViewModel::isLoadingChanged}) {
        connect(model_, signal, this, &AIProcessingController::modelPublished, Qt::QueuedConnection);
    }
}

AIProcessingController::~AIProcessingController()
{
    // An answer that comes after the controller is gone is never applied (its view model goes with it).
    if (running_) {
        queued_.push_front(std::move(running_));
    }
    for (const std::unique_ptr<Analysis>& analysis : queued_) {
        analysis->task->cancel();
        analysis->screenshot->setCurrentlyAIProcessing(false);
    }
}

bool AIProcessingController::hasOpenAIAPIKey()
{
    const std::optional<QString> key = UserDefaults::string(QString::fromLatin1(UserDefaults::openAIAPIKey));
    if (key && !key->isEmpty()) {
        return true;
    }
    setShowEnterOpenAIAPIKeyAlert(true);
    return false;
}

void AIProcessingController::startAIProcessing(const ScreenshotPtr& screenshot, const QImage& shownImage)
{
    if (!hasOpenAIAPIKey()) {
        if (screenshot) {
            screenshot->setWaitingForAIProcess(false);
        }
        return;
    }
    screenshotSelectedWhenAIProcessStarted_ = screenshot;
    if (screenshot) {
        startAnalysisOf(screenshot, shownImage);
    }
}

void AIProcessingController::retry()
{
    if (failedScreenshot_ && hasOpenAIAPIKey()) {
        startAnalysisOf(failedScreenshot_, QImage());
    }
}

void AIProcessingController::startAnalysisOf(const ScreenshotPtr& screenshot, const QImage& shownImage)
{
    // Each request is paid for: while one for this screenshot runs or waits for its turn, whatever route asks
    // again (a press on the indicator, a retry, a selection of it while it waits) gets that one's answer.
    screenshot->setWaitingForAIProcess(false);
    if (taskOf(screenshot)) {
        return;
    }
    auto analysis = std::make_unique<Analysis>();
    analysis->screenshot = screenshot;
    analysis->task = std::make_shared<AnalysisTask>();
    if (!shownImage.isNull()) {
        analysis->image = shownImage;
        analysis->imageReady = true;
    }
    queued_.push_back(std::move(analysis));
    currentTask_ = queued_.back()->task;
    screenshot->setCurrentlyAIProcessing(true);
    emit processingChanged();
    QTimer::singleShot(0, this, &AIProcessingController::launchAnalysis);
}

std::shared_ptr<AnalysisTask> AIProcessingController::taskOf(const ScreenshotPtr& screenshot) const
{
    if (!screenshot) {
        return nullptr;
    }
    if (running_ && running_->screenshot == screenshot && !running_->task->isCancelled()) {
        return running_->task;
    }
    for (const std::unique_ptr<Analysis>& analysis : queued_) {
        if (analysis->screenshot == screenshot) {
            return analysis->task;
        }
    }
    return nullptr;
}

void AIProcessingController::launchAnalysis()
{
    while (!running_ && !queued_.empty()) {
        Analysis& next = *queued_.front();
        // The analysis describes the screenshot's own picture only, never the one shown before it.
        if (!next.imageReady) {
            readImage(next);
            return;
        }
        if (!next.screenshot->hasDetails()) {
            // The request carries the earlier answers, and the answer is added to them: both need them read.
            next.screenshot->loadDetails();
            connect(next.screenshot.get(), &Screenshot::detailsLoaded, this, &AIProcessingController::launchAnalysis,
                    Qt::SingleShotConnection);
            return;
        }
        std::unique_ptr<Analysis> launching = std::move(queued_.front());
        queued_.pop_front();
        const ScreenshotPtr asked = launching->screenshot;
        const QImage image = std::exchange(launching->image, QImage());
        if (image.isNull()) {
            // A file that did not load sends nothing, and says why, so that the press is not met with silence.
            failed(asked, AIError::make(std::make_exception_ptr(std::runtime_error(
                              launching->imageProblem.isEmpty() ? std::string("The image could not be read.")
                                                                : launching->imageProblem.toStdString()))));
            continue;
        }
        const std::shared_ptr<AnalysisTask> sent =
            model_->analyzeScreenshot(asked->aiResults(), asked->capturedAppName(), asked->aiAssistantTask(), image);
        // The reset at the start is no outcome.
        lastHasResults_ = model_->hasResults();
        lastError_ = model_->receivedError();
        if (!sent || !model_->isLoading()) {
            // Nothing was sent (the image could not be encoded): no outcome will come.
            asked->setCurrentlyAIProcessing(false);
            continue;
        }
        running_ = std::move(launching);
    }
    emit processingChanged();
}

void AIProcessingController::readImage(Analysis& analysis)
{
    if (analysis.imageReading) {
        return;
    }
    analysis.imageReading = true;
    auto* watcher = new QFutureWatcher<ScreenshotImage>(this);
    connect(watcher, &QFutureWatcher<ScreenshotImage>::finished, this, [this, watcher, task = analysis.task] {
        watcher->deleteLater();
        for (const std::unique_ptr<Analysis>& queued : queued_) {
            if (queued->task == task) {
                ScreenshotImage read = watcher->result();
                queued->image = std::move(read.image);
                queued->imageProblem = std::move(read.problem);
                queued->imageReady = true;
            }
        }
        launchAnalysis();
    });
    const std::optional<QUrl>& url = analysis.screenshot->imageUrl();
    watcher->setFuture(
        QtConcurrent::run(QThreadPool::globalInstance(), readScreenshotImage, url ? url->toLocalFile() : QString()));
}

void AIProcessingController::modelPublished()
{
    const bool hasResults = model_->hasResults();
    const std::optional<AIError> error = model_->receivedError();
    const bool newResults = hasResults && !lastHasResults_;
    const bool newError = error && error != lastError_;
    lastHasResults_ = hasResults;
    lastError_ = error;
    if (!running_ || model_->isLoading() || (!newResults && !newError)) {
        return;
    }
    const std::unique_ptr<Analysis> finished = std::move(running_);
    const ScreenshotPtr asked = finished->screenshot;
    if (finished->task->isCancelled()) {
        // Cancelled by its holder: the answer is dropped. A start made since keeps the processing state.
        if (!taskOf(asked)) {
            asked->setCurrentlyAIProcessing(false);
        }
    } else if (newError) {
        failed(asked, *error);
    } else {
        applyAIResult(asked, model_->response());
    }
    launchAnalysis();
}

void AIProcessingController::applyAIResult(const ScreenshotPtr& screenshot,
                                           const std::optional<ScreenshotInfoResult>& result)
{
    if (!screenshot) {
        return;
    }
    if (result) {
        const bool kept = applyAIResultToScreenshot(*screenshot, *result);
        emit aiResultApplied(screenshot, *result, kept);
    }
    screenshot->setCurrentlyAIProcessing(false);
}

void AIProcessingController::failed(const ScreenshotPtr& screenshot, const AIError& error)
{
    if (!error.isCancellation()) {
        alertError_ = error;
        failedScreenshot_ = screenshot;
        setShowingAlert(true);
    }
    screenshot->setCurrentlyAIProcessing(false);
}

// Alerts -------------------------------------------------------------------------------------------------

void AIProcessingController::setShowEnterOpenAIAPIKeyAlert(bool show)
{
    setAlert(showEnterOpenAIAPIKeyAlert_, showingAlert_, show);
}

void AIProcessingController::setShowingAlert(bool show)
{
    setAlert(showingAlert_, showEnterOpenAIAPIKeyAlert_, show);
}

void AIProcessingController::setAlert(bool& alert, bool& otherAlert, bool show)
{
    // Raising an alert again presents it again; putting down one that is down changes nothing.
    if (!show && !alert) {
        return;
    }
    alert = show;
    if (show) {
        otherAlert = false;
    }
    emit alertChanged();
}

QString AIProcessingController::alertMessage() const
{
    if (alertOffersRetry()) {
        return QStringLiteral("The request timed out. Often retrying your request can resolve this.\n\nIf the issue "
                              "persists then try again later.");
    }
    return QStringLiteral("There was an issue processing your image. This may be a temporary technical problem or "
                          "be due to the content of your image.\n\nDetails: ") +
           (alertError_ ? alertError_->description() : QString());
}

} // namespace lumetrove
