#pragma once

#include "lumetrove/ai/AIProcessingController.h"
#include "lumetrove/library/FolderSection.h"
#include "lumetrove/library/Screenshot.h"
#include "lumetrove/platform/TextRecognizer.h"

#include <QImage>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <atomic>
#include <memory>
class QHBoxLayout;
class QLabel;
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
struct ScreenshotImage;
class ScreenshotNameView;
class ScreenshotsListManager;
class SettingsViewModel;

/// The main window's detail column: the selected screenshot in full — the "Process With AI" button, the
/// editable name with the zoom slider, and a vertical split of the zoomable live-text image, the assistant's
/// answer, the keyword editor and the AI summary. It owns the pane's `AIProcessingController`, which sends the
/// analyses and applies their answers to the records; the pane shows what the controller tells (the button's
/// face, the answer of the shown screenshot, the alerts).
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

    /// The pane's AI processing: the requests, the answers applied, the alerts' state.
    AIProcessingController* controller() const { return controller_; }
    AIVisionViewModel* model() const { return controller_->model(); }
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
    /// The alert shown now (the API-key alert or the "AI Error" alert), or null.
    QMessageBox* alert() const { return alert_; }
    LiveTextImageView* imageView() const { return imageView_; }

    /// Starts the analysis of the shown screenshot (see `AIProcessingController::startAIProcessing`), with the
    /// image shown when it is that screenshot's. The "Process With AI" button calls it.
    void startAIProcessing();

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
    void buildContent();
    /// The button that starts the AI analysis, centred in its row.
    QWidget* buildProcessButtonArea();
    /// The name field and the zoom slider.
    QHBoxLayout* buildNameRow();
    /// The image, the assistant's answer, the keywords and the description, one above the other.
    QSplitter* buildSections();
    QWidget* buildKeywordSection();
    /// Out of sight after having been shown: the image is read when the pane is shown again.
    bool imageNotWanted() const { return appeared_ && !isVisible(); }
    void loadImage();
    void imageLoaded(quint64 ticket, const ScreenshotImage& read, bool restoring);
    /// An answer was written into a record: the shown one's name field and keywords follow it.
    void aiResultApplied(const ScreenshotPtr& screenshot, const ScreenshotInfoResult& result, bool kept);
    void keywordWriteBack();
    /// A save of the shown record failed: the name field and the keywords show what the record (and the
    /// library) holds again.
    void showStoredValues();
    void refreshSections();
    void updateZoom();
    /// Shows the alert the controller holds up, in place of the one shown; closes it when none is up.
    void showAlert();
    /// Opens the alert held up, once the window is on screen.
    void openAlertOnScreen();
    QMessageBox* makeAPIKeyAlert();
    QMessageBox* makeAIErrorAlert();

    Environment environment_;
    ScreenshotPtr screenshot_;
    std::optional<FolderSection> folderSelection_;
    AIProcessingController* controller_;
    double imageZoom_;
    QImage image_;
    /// The screenshot `image_` belongs to, and the ticket of the load that is current.
    ScreenshotPtr imageScreenshot_;
    /// Shared with the loads under way, which skip their read once another load is current.
    std::shared_ptr<std::atomic<quint64>> imageTicket_ = std::make_shared<std::atomic<quint64>>(0);
    bool imageCurrent_ = false;
    /// The image of `imageScreenshot_` was let go of while the pane was hidden.
    bool imageReleased_ = false;
    QSize imageAreaSize_;
    QString keywords_;
    bool isSettingKeywordsViaAIResult_ = false;
    bool appeared_ = false;
    QPointer<QMessageBox> alert_;
    /// The window, out of sight, whose return the alert waits for.
    QPointer<QWidget> alertHost_;

    IconsToShowTick* iconsToShowTick_;
    ProcessButtonView* processButton_;
    ScreenshotNameView* nameView_;
    QSlider* zoomSlider_;
    QSplitter* split_;
    QWidget* imageArea_;
    LiveTextImageView* imageView_;
    /// Why the shown screenshot has no image, in the image's place.
    QLabel* imageProblem_;
    AIAssistantResultsView* assistantResults_;
    QWidget* keywordSection_;
    KeywordEditorView* keywordEditor_;
    ScreenshotDescriptionView* descriptionView_;
    QMetaObject::Connection descriptionConnection_, assistantConnection_, saveFailedConnection_;
};

} // namespace lumetrove
