#pragma once

#include "lumetrove/capture/CaptureResult.h"
#include "lumetrove/capture/CapturedScreenshotInfo.h"
#include "lumetrove/capture/ScreenAreaSelectionView.h"
#include "lumetrove/capture/WindowDetails.h"
#include "lumetrove/platform/DesktopImage.h"

#include <QDBusConnection>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QThreadPool>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

class QWidget;

namespace lumetrove {

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

/// The one object that runs captures and imports. An area capture hides the main window (the window titled
/// "Screenshots"), covers every screen with a selection overlay, grabs the selected area 0.1 s after the
/// overlays close and saves it as a PNG file in the screenshots directory. In a Wayland session the desktop
/// portal first takes one screenshot of the whole desktop, the overlays show that still image, one full-screen
/// window per screen, and the selection is cut from it: a refusal ends the capture as cancelled, and where
/// there is no portal with screenshot support the permission window says so; an import copies PNG and JPEG
/// files there. Every image is then saved and given a thumbnail, one after the other in capture order, on a
/// worker thread, so the main thread never waits. When the last image is saved the completion handler is
/// called, once, on the main thread, and the main window comes back; the records' text is still being
/// recognised then, on a thread of its own in the same order, and each record carries it as a future
/// (`CapturedScreenshotInfo::pendingRecognizedText`). Only a capture with an assistant task, which acts on
/// the text at once, waits for its text before it reports.
///
/// Starting a capture or an import drops whatever the previous one still had to save; text recognition
/// that was handed on with a record always runs to its end.
class ScreenshotCapture : public QObject, public ScreenAreaSelectionViewDelegate {
    Q_OBJECT

public:
    enum class CaptureSource { screen = 0, file = 1 };

    /// The level of every overlay window, and the key by which `closeShadeWindows` finds them.
    static constexpr int screenshotWindowOverlayWindowLevel = 3003;
    /// The title by which the main window is found.
    static constexpr const char* mainWindowTitle = "Screenshots";

    /// `recognizer` null means the shared Tesseract recogniser.
    explicit ScreenshotCapture(std::shared_ptr<TextRecognizer> recognizer = nullptr, QObject* parent = nullptr);
    ~ScreenshotCapture() override;

    /// The process-wide instance, made on first use. Main thread.
    static ScreenshotCapture& shared();

    /// Begins an area capture; `isAssistant` asks for the assistant panel after the drag. Returns at once.
    void startAreaCapture(bool isAssistant, CaptureCompletionHandler completionHandler);

    /// Imports PNG and JPEG files into the screenshots directory (others are logged and skipped) and reports
    /// one record per imported file. Returns at once; the files are read off the main thread.
    void performCaptureFromFileURLs(const QList<QUrl>& urls, CaptureCompletionHandler completionHandler);

    void didSelectArea(ScreenAreaSelectionView& view, QRectF area, std::optional<WindowDetails> details) override;
    void endCapture(CaptureResult result) override;

    /// Grabs `area` (Qt's global logical coordinates) and queues it to be saved and recognised.
    void captureAndSaveArea(QRectF area);
    /// Grabs nothing: queues an image as if it had been grabbed (what a grab hands on).
    void saveGrabbedImage(const QImage& image);
    /// Works off the next queued image, or finishes the capture when none is left.
    void processNextPendingImage();
    /// Closes every overlay window of the application.
    void closeShadeWindows();

    /// PNG data of the thumbnail of the image file at `url` (200 wide, in a 200 x 140 frame); none when the
    /// file cannot be read. Any thread.
    static std::optional<QByteArray> makeThumbnail(const QUrl& url, qreal devicePixelRatio = 1.0);

    /// The bus on which the desktop portal is asked for screenshots (the session bus unless set).
    void setPortalBus(const QDBusConnection& bus) { portalBus_ = bus; }

    /// The overlay windows of the capture under way.
    const QList<QPointer<QWidget>>& shadeWindows() const { return shadeWindows_; }
    CaptureSource currentCaptureSource() const { return currentCaptureSource_; }

signals:
    /// Every overlay of the capture under way is on screen.
    void overlaysShown();

private:
    struct Outcome;
    void reset(CaptureCompletionHandler completionHandler, CaptureSource source);
    void openOverlays(bool isAssistant);
    void portalAnswered(bool isAssistant, const PortalScreenshotOutcome& outcome);
    void cutFromFrozenDesktop(const QRectF& area);
    void finishWithResults();
    /// Ends the main window's part in a capture that stored nothing: shown again when it was shown at the
    /// start, otherwise left hidden.
    void giveMainWindowBack();
    void handleOutcome(const Outcome& outcome, const QImage& image);
    /// The text of `image`, recognised on the recognition thread after the images handed to it before.
    QFuture<QString> recognizeText(const QImage& image);

    std::shared_ptr<TextRecognizer> recognizer_;
    CaptureCompletionHandler completionHandler_;
    QList<QPointer<QWidget>> shadeWindows_;
    QList<CapturedScreenshotInfo> captureInfo_;
    std::optional<WindowDetails> windowDetails_;
    CaptureSource currentCaptureSource_ = CaptureSource::screen;
    struct QueuedImage;
    QList<std::shared_ptr<QueuedImage>> pendingRecognizeTextImages_;
    bool wasAppActiveWhenStartedCapture_ = false;
    /// Whether the main window was on screen when the area capture started: a capture that stores nothing
    /// gives it back as it was, shown or not.
    bool mainWindowWasVisible_ = false;
    /// The capture under way goes through the desktop portal.
    bool portalCapture_ = false;
    /// The whole desktop as the portal showed it when the capture began; the selection is cut from it.
    std::optional<DesktopImage> frozenDesktop_;
    /// A selection made before the portal's image was read, cut once it is.
    std::optional<QRectF> pendingSelection_;
    std::optional<QDBusConnection> portalBus_;
    /// Each capture or import takes the next number; work of an earlier one is dropped when it comes back.
    quint64 generation_ = 0;
    bool processing_ = false;
    /// Saving and thumbnails run here, one image at a time, in capture order.
    QThreadPool worker_;
    /// Text recognition runs here, one image at a time, in the order the images were saved.
    QThreadPool recognition_;
};

} // namespace lumetrove
