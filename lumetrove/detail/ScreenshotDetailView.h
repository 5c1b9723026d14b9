#pragma once

#include "lumetrove/ai/AIVisionViewModel.h"
#include "lumetrove/library/FolderSection.h"
#include "lumetrove/library/Screenshot.h"
#include "lumetrove/platform/TextRecognizer.h"

#include <QImage>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <deque>
#include <memory>
class QSlider;
class QSplitter;

namespace settingsopener {
class OpenSettingsAction;
}

namespace lumetrove {

class AIAssistantResultsView;
class IconsToShowTick;
class KeywordEditorView;
class LiveTextImageView;
class ProcessButtonView;
class ScreenshotDescriptionView;
class ScreenshotNameView;
class ScreenshotsListManager;
class SettingsViewModel;

/// The main window's detail column: the selected screenshot in full — the "Process With AI" button, the
/// editable name with the zoom slider, and a vertical split of the zoomable live-text image, the assistant's
/// answer, the keyword editor and the AI summary. It owns the AI view model of the pane and applies answers
/// to the record, which renames the file and saves the row.
///
/// The root view hands it the selection and the sidebar selection through `setScreenshot` and
/// `setFolderSelection`; the pane only reads them. Main thread.
class ScreenshotDetailView : public QWidget {
    Q_OBJECT

public:
    /// What the window gives the pane. Null members take the process-wide ones (the settings opener's
    /// default action, the shared text recogniser).
    struct Environment {
        ScreenshotsListManager* screenshotsListManager = nullptr;
        SettingsViewModel* settingsViewModel = nullptr;
        settingsopener::OpenSettingsAction* openSettings = nullptr;
        std::shared_ptr<TextRecognizer> textRecognizer;
    };

    explicit ScreenshotDetailView(Environment environment, QWidget* parent = nullptr);
    ~ScreenshotDetailView() override;

    // The root view's interface ---------------------------------------------------------------------------

    const ScreenshotPtr& screenshot() const { return screenshot_; }
    /// The selection changed: loads the new image off the main thread, starts the analysis of a screenshot
    /// waiting for it, and shows the new name and keywords. An analysis of another screenshot goes on: its
    /// answer is that screenshot's. The same record again changes nothing.
    void setScreenshot(ScreenshotPtr screenshot);
    const std::optional<FolderSection>& folderSelection() const { return folderSelection_; }
    /// The sidebar selection changed: the name field shows the stored name again. Analyses go on.
    void setFolderSelection(const FolderSection& section);

    // The pane's state, readable for the window and for tests -------------------------------------------

    AIVisionViewModel* model() const { return model_; }
    /// The loaded image of the shown screenshot; null while none is loaded or when its file did not load.
    const QImage& image() const { return image_; }
    /// Whether the image of the shown screenshot has been decoded (or failed to).
    bool isImageCurrent() const;
    const QString& keywords() const { return keywords_; }
    void setKeywords(const QString& keywords);
    QString screenshotName() const;
    double imageZoom() const { return imageZoom_; }
    /// Stores the zoom under "ImageZoom" for every screenshot; the slider calls it.
    void setImageZoom(double imageZoom);
    /// The magnification the image is shown at: the zoom when the image is larger than its area, else 1.
    double effectiveImageZoom() const;
    /// The task of the analysis started last.
    const std::shared_ptr<AnalysisTask>& currentTask() const { return currentTask_; }
    /// Whether an analysis of `screenshot` is running or waiting for its turn.
    bool isAnalysing(const ScreenshotPtr& screenshot) const { return analysisOf(screenshot) != nullptr; }
    const ScreenshotPtr& screenshotSelectedWhenAIProcessStarted() const
    {
        return screenshotSelectedWhenAIProcessStarted_;
    }
    /// The alert shown now (the API-key alert or the "AI Error" alert), or null.
    QMessageBox* alert() const { return alert_; }
    LiveTextImageView* imageView() const { return imageView_; }
    KeywordEditorView* keywordEditor() const { return keywordEditor_; }
    IconsToShowTick* iconsToShowTick() const { return iconsToShowTick_; }

    // The AI road ----------------------------------------------------------------------------------------

    /// Starts the analysis of the shown screenshot with its own image. Without an API key it raises the
    /// API-key alert instead. One request runs at a time: an analysis of another screenshot still running
    /// goes on, and this one is sent after it, whatever is shown by then; its answer is applied to the
    /// screenshot it was asked for. A new start of a screenshot whose analysis is still running replaces it.
    /// The screenshot's `currentlyAIProcessing` holds from the start until its own outcome.
    void startAIProcessing();
    /// Whether a key is stored under "OpenAIAPIKey" (blanks count); raises the API-key alert when not.
    bool hasOpenAIAPIKey();
    /// Applies an answer to the shown screenshot. None only ends the processing state.
    void applyAIResult(const std::optional<ScreenshotInfoResult>& result);

signals:
    /// The image of the shown screenshot is decoded and on screen (or its file failed to load).
    void imageShown();

protected:
    void showEvent(QShowEvent* event) override;
    /// Out of sight (the window closed to the tray or minimised), the pane lets go of the decoded image and
    /// reads it again when it is shown.
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Analysis;

    void buildContent();
    /// Out of sight after having been shown, with no analysis waiting for the image: it is read when shown.
    bool imageNotWanted() const { return appeared_ && !isVisible() && !analysisWantsShownImage(); }
    /// The next analysis to send is of the shown screenshot and waits for its image.
    bool analysisWantsShownImage() const;
    void loadImage();
    void imageLoaded(quint64 ticket, const QImage& image, bool restoring);
    /// Starts the analysis of `screenshot` (checked for a key by the caller).
    void startAnalysisOf(const ScreenshotPtr& screenshot);
    /// Sends the next analysis when no request is in flight and its image is at hand.
    void launchAnalysis();
    /// Reads the image of an analysis whose screenshot is not shown.
    void decodeForAnalysis(Analysis& analysis);
    const Analysis* analysisOf(const ScreenshotPtr& screenshot) const;
    void modelPublished();
    void applyAIResultTo(const ScreenshotPtr& screenshot, const std::optional<ScreenshotInfoResult>& result);
    void errorHandler(const ScreenshotPtr& screenshot, const AIError& error);
    void keywordWriteBack();
    /// A save of the shown record failed: the name field and the keywords show what the record (and the
    /// library) holds again.
    void showStoredValues();
    void refreshSections();
    void updateZoom();
    void showAPIKeyAlert();
    /// The "AI Error" alert for a failed analysis of `screenshot`; "Retry" starts that screenshot's again.
    void showAIErrorAlert(const ScreenshotPtr& screenshot);
    void openAlert(QMessageBox* box);

    Environment environment_;
    ScreenshotPtr screenshot_;
    std::optional<FolderSection> folderSelection_;
    AIVisionViewModel* model_;
    double imageZoom_;
    QImage image_;
    /// The screenshot `image_` belongs to, and the ticket of the load that is current.
    ScreenshotPtr imageScreenshot_;
    quint64 imageTicket_ = 0;
    bool imageCurrent_ = false;
    /// The image of `imageScreenshot_` was let go of while the pane was hidden.
    bool imageReleased_ = false;
    QSize imageAreaSize_;
    QString keywords_;
    bool isSettingKeywordsViaAIResult_ = false;
    std::shared_ptr<AnalysisTask> currentTask_;
    ScreenshotPtr screenshotSelectedWhenAIProcessStarted_;
    /// The analyses started and not yet sent, in order; the one whose request is in flight.
    std::deque<std::unique_ptr<Analysis>> queued_;
    std::unique_ptr<Analysis> running_;
    /// The model's published values as last seen, so that its handlers run only on real changes.
    bool lastHasResults_ = false;
    std::optional<AIError> lastError_;
    bool appeared_ = false;
    QPointer<QMessageBox> alert_;

    IconsToShowTick* iconsToShowTick_;
    ProcessButtonView* processButton_;
    ScreenshotNameView* nameView_;
    QSlider* zoomSlider_;
    QSplitter* split_;
    QWidget* imageArea_;
    LiveTextImageView* imageView_;
    AIAssistantResultsView* assistantResults_;
    QWidget* keywordSection_;
    KeywordEditorView* keywordEditor_;
    ScreenshotDescriptionView* descriptionView_;
    QMetaObject::Connection descriptionConnection_, assistantConnection_, saveFailedConnection_;
};

/// Decodes a screenshot's image file ready for painting; a null image when it does not load. Any thread.
QImage decodeScreenshotImage(const QString& path);

} // namespace lumetrove
