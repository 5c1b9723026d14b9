#pragma once

#include "lumetrove/capture/CaptureMainWindow.h"
#include "lumetrove/capture/CaptureOverlays.h"
#include "lumetrove/library/CaptureResult.h"
#include "lumetrove/library/CapturedScreenshotInfo.h"
#include "lumetrove/library/WindowDetails.h"
#include "lumetrove/platform/DesktopImage.h"

#include <QDBusConnection>
#include <QImage>
#include <QList>
#include <QObject>
#include <QThreadPool>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace lumetrove {

class ScreenshotsDB;
class TextRecognizer;
struct PortalScreenshotOutcome;

/// Called once per capture on the main thread: the records with `success`, or no list with `cancelled`.
using CaptureCompletionHandler =
    std::function<void(const std::optional<QList<CapturedScreenshotInfo>>& results, CaptureResult result)>;

/// A saved image waiting for text recognition.
struct PendingRecognizeTextImage {
    QImage image;
    /// The saved PNG file.
    QUrl screenshotPath;
    /// With its extension for a grab, without it for an import.
    QString filename;
};

/// Turns JPEG files into PNG files.
class ImageConversion {
public:
    /// Rewrites the image file at `url` as PNG, upright by its EXIF orientation; false (and a log line) when
    /// it cannot be read or written.
    static bool convertJPGtoPNG(const QUrl& url);
};

/// The one object that runs captures and imports. An area capture hides the main window (the one the shell
/// hands over), covers every screen with a selection overlay, grabs the selected area 0.1 s after the
/// overlays close and saves it as a PNG file in the screenshots directory. In a Wayland session the desktop
/// portal first takes one screenshot of the whole desktop, the overlays show that still image, one full-screen
/// window per screen, and the selection is cut from it: a refusal ends the capture as cancelled, and where
/// there is no portal with screenshot support the permission window says so. An import reads PNG and JPEG
/// files and saves them there. Each image is saved and given a thumbnail on a worker thread, so the main
/// thread never waits: captures on one worker, imports on another, so that a slow file being imported never
/// holds up a capture. When the last image of a capture or an import is saved its completion handler is
/// called, once, on the main thread, and after a capture the main window comes back; the records' text is
/// still being recognised then, on a thread of its own in the order the images were saved, and each record
/// carries it as a future (`CapturedScreenshotInfo::pendingRecognizedText`). Only a capture with an assistant
/// task, which acts on the text at once, waits for its text before it reports.
///
/// Captures and imports run side by side and each reports on its own: an import never ends a capture, nor a
/// capture an import. A new area capture replaces only an earlier one whose area is still being chosen.
///
/// With a store, every new image is noted in it before its file is written (`ScreenshotsDB::recordNewImage`),
/// so that an image whose row a killed run never inserted is listed when the library is next opened.
class ScreenshotCapture : public QObject {
    Q_OBJECT

public:
    enum class CaptureSource { screen = 0, file = 1 };

    /// The level of every overlay window, and the key by which the overlays find each other.
    static constexpr int screenshotWindowOverlayWindowLevel = 3003;

    /// `recognizer` null means the shared Tesseract recogniser; `store` null means that new images are noted
    /// nowhere (`shared()` notes them in `ScreenshotsDB::shared()`).
    explicit ScreenshotCapture(std::shared_ptr<TextRecognizer> recognizer = nullptr,
                               std::shared_ptr<ScreenshotsDB> store = nullptr, QObject* parent = nullptr);
    ~ScreenshotCapture() override;

    /// The process-wide instance, made on first use. Main thread.
    static ScreenshotCapture& shared();

    /// Begins an area capture; `isAssistant` asks for the assistant panel after the drag. Returns at once.
    void startAreaCapture(bool isAssistant, CaptureCompletionHandler completionHandler);

    /// Imports PNG and JPEG files into the screenshots directory and reports one record per imported file.
    /// Each file is read (regular files only, never blocking on one) and decoded before anything is written,
    /// one at a time; a file that cannot become a screenshot leaves nothing behind and is told to `skipped`
    /// with the reason, all of them in one call before the completion. Returns at once.
    void performCaptureFromFileURLs(const QList<QUrl>& urls, CaptureCompletionHandler completionHandler,
                                    SkippedImportsHandler skipped = nullptr);

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

signals:
    /// Every overlay of the capture under way is on screen.
    void overlaysShown();

private:
    struct Outcome;
    struct QueuedImage;
    struct Job;
    using JobPtr = std::shared_ptr<Job>;

    void openOverlays(bool isAssistant);
    void portalAnswered(bool isAssistant, const PortalScreenshotOutcome& outcome);
    void cutFromFrozenDesktop(const QRectF& area);
    void processNext(const JobPtr& job);
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
    /// The text of an image, recognised on the recognition thread after the images handed to it before:
    /// `image`, or when it is null the image that `encoded` holds, decoded only when its turn comes.
    QFuture<QString> recognizeText(const QImage& image, const QByteArray& encoded = QByteArray());

    std::shared_ptr<TextRecognizer> recognizer_;
    std::shared_ptr<ScreenshotsDB> store_;
    std::shared_ptr<CaptureMainWindow> mainWindow_;
    std::shared_ptr<CaptureOverlays> overlays_;
    CaptureSource currentCaptureSource_ = CaptureSource::screen;
    /// Every capture and import under way, in the order they started.
    std::vector<JobPtr> jobs_;
    /// The area capture started last, until it ends; the selection state below is its.
    JobPtr areaCapture_;
    /// The capture under way goes through the desktop portal.
    bool portalCapture_ = false;
    /// The whole desktop as the portal showed it when the capture began; the selection is cut from it.
    std::optional<DesktopImage> frozenDesktop_;
    /// A selection made before the portal's image was read, cut once it is.
    std::optional<QRectF> pendingSelection_;
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
};

} // namespace lumetrove
