#pragma once

#include "lumetrove/capture/CaptureMainWindow.h"
#include "lumetrove/capture/CaptureOverlays.h"
#include "lumetrove/library/CaptureResult.h"
#include "lumetrove/library/CapturedScreenshotInfo.h"
#include "lumetrove/library/WindowDetails.h"
#include "lumetrove/platform/DesktopImage.h"
#include "lumetrove/platform/ScreenGrab.h"

#include <QDBusConnection>
#include <QImage>
#include <QList>
#include <QObject>
#include <QThreadPool>
#include <QUrl>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace lumetrove {

class NewImageJournal;
class ScreenUncoverWatch;
class TextRecognizer;
struct PortalScreenshotOutcome;

/// Called once per area capture on the main thread: the records with `success`, or no list with `cancelled`.
/// What it answers after `success` decides what the main window does next.
using CaptureCompletionHandler =
    std::function<CaptureFollowUp(const std::optional<QList<CapturedScreenshotInfo>>& results, CaptureResult result)>;
/// Called once per import on the main thread, as an area capture's handler; an import leaves the window alone.
using ImportCompletionHandler =
    std::function<void(const std::optional<QList<CapturedScreenshotInfo>>& results, CaptureResult result)>;

/// A saved image waiting for text recognition.
struct PendingRecognizeTextImage {
    QImage image;
    /// The saved PNG file.
    QUrl screenshotPath;
    /// With its extension for a grab, without it for an import.
    QString filename;
};

/// Runs area captures and imports and hands their records up; it shows no window of its own. An area capture
/// hides the main window, opens the overlays, grabs the chosen area (in a Wayland session, cuts it from the
/// desktop portal's still image) and saves it. Saving, thumbnails and text recognition run on worker threads:
/// the completion is called once the images are saved, each record's text still to come
/// (`CapturedScreenshotInfo::pendingRecognizedText`) unless an assistant task waits for it. Captures and
/// imports run side by side, each reporting on its own; a new area capture replaces only one whose area is
/// still being chosen. Main thread.
class ScreenshotCapture : public QObject {
    Q_OBJECT

public:
    enum class CaptureSource { screen = 0, file = 1 };

    /// The level of every overlay window, and the key by which the overlays find each other.
    static constexpr int screenshotWindowOverlayWindowLevel = 3003;

    /// Images are read by `recognizer` and noted in `journal` before their files are written; a null journal
    /// notes them nowhere.
    ScreenshotCapture(std::shared_ptr<TextRecognizer> recognizer, std::shared_ptr<NewImageJournal> journal,
                      QObject* parent = nullptr);
    ~ScreenshotCapture() override;

    /// The process-wide instance over the shared recogniser and library store, made on first use. Main thread.
    static ScreenshotCapture& shared();

    /// Begins an area capture; `isAssistant` asks for the assistant panel after the drag. Returns at once.
    void startAreaCapture(bool isAssistant, CaptureCompletionHandler completionHandler);

    /// Imports PNG and JPEG files into the screenshots directory and reports one record per imported file.
    /// Each file is read (regular files only, never blocking on one) and decoded before anything is written,
    /// one at a time; a file that cannot become a screenshot leaves nothing behind and is told to `skipped`
    /// with the reason, all of them in one call before the completion. `step` is told each file as soon as it
    /// is done; the completion then holds every record it was told. Returns at once.
    void performCaptureFromFileURLs(const QList<QUrl>& urls, ImportCompletionHandler completionHandler,
                                    SkippedImportsHandler skipped = nullptr, ImportStepHandler step = nullptr);

    /// The user chose `area` (Qt's global logical coordinates) for the area capture under way.
    void didSelectArea(QRectF area, std::optional<WindowDetails> details);
    /// Ends the area capture under way.
    void endCapture(CaptureResult result);

    /// Grabs `area` (Qt's global logical coordinates) and queues it to be saved and recognised.
    void captureAndSaveArea(QRectF area);
    /// Grabs nothing: queues an image for the area capture under way as if it had been grabbed (what a grab
    /// hands on).
    void saveGrabbedImage(const QImage& image);
    /// Works off the next queued image of each capture, or finishes a capture when none is left.
    void processNextPendingImage();
    /// Closes every overlay window of the application.
    void closeShadeWindows();

    /// The windows an area capture shows. Without them nothing is shown: the area comes only from
    /// `didSelectArea` or a grab handed to `saveGrabbedImage`.
    void setOverlays(std::shared_ptr<CaptureOverlays> overlays) { overlays_ = std::move(overlays); }
    CaptureOverlays* overlays() const { return overlays_.get(); }

    /// PNG data of the thumbnail of the image file at `url` (200 wide, in a 200 x 140 frame); none when the
    /// file cannot be read. Any thread.
    static std::optional<QByteArray> makeThumbnail(const QUrl& url, qreal devicePixelRatio = 1.0);

    /// The main window that a capture hides and gives back; none leaves every window alone.
    void setMainWindow(std::shared_ptr<CaptureMainWindow> window) { mainWindow_ = std::move(window); }
    CaptureMainWindow* mainWindow() const { return mainWindow_.get(); }

    /// The bus on which the desktop portal is asked for screenshots (the session bus unless set).
    void setPortalBus(const QDBusConnection& bus) { portalBus_ = bus; }

    /// Where the images of the capture or import started last come from.
    CaptureSource currentCaptureSource() const { return currentCaptureSource_; }

    /// Calls `then` (while `context` lives) once no area capture holds the main window: at once when none
    /// does, otherwise after the capture has given the window back (or left it in the tray), once the overlays
    /// have handed the keyboard over.
    void afterMainWindowGivenBack(QObject* context, std::function<void()> then);

signals:
    /// Every overlay of the capture under way is on screen.
    void overlaysShown();
    /// The area captures are over and the main window is back as they leave it, shown or in the tray.
    void mainWindowGivenBack();

private:
    struct Outcome;
    struct QueuedImage;
    struct Job;
    using JobPtr = std::shared_ptr<Job>;

    /// Makes the main window invisible for the area capture `job` and notes how it was; calls `begin` once
    /// the screen shows what lay below it (at once when it was not shown).
    void hideMainWindow(Job& job, const std::function<void()>& begin);
    /// Makes the shown main window invisible, then calls `begin` once the screen no longer shows it.
    void hideThenBegin(const std::function<void()>& begin);
    /// Asks the desktop portal for the still image that the area capture under way is cut from.
    void takePortalScreenshot(bool isAssistant);
    void openOverlays(bool isAssistant);
    void portalAnswered(bool isAssistant, const PortalScreenshotOutcome& outcome);
    void cutFromFrozenDesktop(const QRectF& area);
    void processNext(const JobPtr& job);
    /// Writes a grab under its first free name and draws its thumbnail. On the grab worker.
    static Outcome save(const QueuedImage& queued, NewImageJournal* journal);
    void handleOutcome(const JobPtr& job, Outcome outcome);
    // By value: the job may be the one `areaCapture_` holds, which they reset.
    void finish(JobPtr job);
    /// Ends a capture or an import without results.
    void endJob(JobPtr job, CaptureResult result);
    /// Takes `job` off the list of work under way; the area capture's selection state goes with it.
    void retire(const JobPtr& job);
    /// Forgets the portal's answer and the selection of the area capture, and drops what is on its way to it.
    void dropSelection();
    /// An area capture other than `job` is waiting for the user's selection (the main window stays hidden).
    bool otherAreaCaptureSelecting(const JobPtr& job) const;
    /// Ends the main window's part in a capture that stored nothing: shown again when it was shown at the
    /// start, otherwise left hidden.
    void giveMainWindowBack(const Job& job);
    /// Runs `then`, which shows the main window, once no overlay waits for the keyboard; not when an area
    /// capture has started meanwhile.
    void afterKeyboardHandOver(const std::function<void()>& then);
    /// The main window is back as the area capture leaves it: no capture holds it any more.
    void releaseMainWindow();
    /// The text of an image, recognised on the recognition thread after the images handed to it before:
    /// `image`, or when it is null the image that `encoded` holds, decoded only when its turn comes.
    QFuture<QString> recognizeText(const QImage& image, const QByteArray& encoded = QByteArray());

    std::shared_ptr<TextRecognizer> recognizer_;
    std::shared_ptr<NewImageJournal> journal_;
    std::shared_ptr<CaptureMainWindow> mainWindow_;
    std::shared_ptr<CaptureOverlays> overlays_;
    CaptureSource currentCaptureSource_ = CaptureSource::screen;
    /// Every capture and import under way, in the order they started.
    std::vector<JobPtr> jobs_;
    /// The area capture started last, until it ends; the selection state below is its.
    JobPtr areaCapture_;
    /// The capture under way goes through the desktop portal.
    bool portalCapture_ = false;
    /// From the start of an area capture until the main window is given back.
    bool mainWindowHeld_ = false;
    /// The whole desktop as the portal showed it when the capture began; the selection is cut from it.
    std::optional<DesktopImage> frozenDesktop_;
    /// A selection made before the portal's image was read, cut once it is.
    std::optional<QRectF> pendingSelection_;
    /// Every screen as it was when the overlays of the area capture under way opened (outside the portal's
    /// road): the selection is cut from them, so it shows what the user saw when the overlays came up.
    std::vector<ScreenStill> screenStills_;
    /// Whether a compositing manager draws translucent windows translucent (X11): then the overlays show the
    /// live desktop through them, otherwise each shows its screen's still image.
    bool compositorDrawsTranslucency_ = false;
    /// Watches the main window leave the screen before the stills are taken.
    std::unique_ptr<ScreenUncoverWatch> uncoverWatch_;
    std::optional<QDBusConnection> portalBus_;
    /// Each area capture takes the next number, and so does its end: a portal answer, an overlay or a grab
    /// meant for an earlier one is dropped when it comes.
    quint64 generation_ = 0;
    /// Grabs are saved here, one image at a time, in capture order.
    QThreadPool worker_;
    /// Imports read, decode and save their files here, one file at a time.
    QThreadPool importWorker_;
    /// Text recognition runs here, one image at a time, in the order the images were saved.
    QThreadPool recognition_;
    /// Recognitions handed to `recognition_` and not done yet.
    std::atomic<int> recognitionsPending_{0};
};

} // namespace lumetrove
