#include "lumetrove/capture/ScreenshotCapture.h"

#include "lumetrove/capture/ImageUtilities.h"
#include "lumetrove/capture/ScreenCapturePermissions.h"
#include "lumetrove/library/DataDirectories.h"
#include "lumetrove/platform/DesktopSession.h"
#include "lumetrove/platform/Log.h"
#include "lumetrove/platform/OverlayWindow.h"
#include "lumetrove/platform/PortalScreenshot.h"
#include "lumetrove/platform/ScreenGrab.h"
#include "lumetrove/platform/TextRecognizer.h"
#include "lumetrove/platform/WindowList.h"

#include <QApplication>
#include <QCursor>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>
#include <QScreen>
#include <QTimer>
#include <QUuid>
#include <QWidget>
#include <QtConcurrent/QtConcurrentRun>

namespace lumetrove {

struct ScreenshotCapture::QueuedImage {
    PendingRecognizeTextImage pending;
    /// A grab is written by the worker; an import was copied before it was queued.
    bool needsWriting = false;
    qreal thumbnailPixelRatio = 1;
};

struct ScreenshotCapture::Outcome {
    quint64 generation = 0;
    QUrl screenshotPath;
    QString filename;
    bool saved = false;
    std::optional<QByteArray> thumbnail;
};

namespace {

QWidget* findMainWindow()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->windowTitle() == QLatin1String(ScreenshotCapture::mainWindowTitle) &&
            !widget->property(OverlayWindow::levelProperty).isValid()) {
            return widget;
        }
    }
    return nullptr;
}

// The main window is made invisible, never closed, while the user selects. Window opacity needs a
// compositing manager; without one the window is unmapped instead and mapped again afterwards.
bool mainWindowUnmappedForCapture = false;

void makeMainWindowInvisible(QWidget& window)
{
    // The portal's screenshot shows what is mapped, whatever its opacity; Wayland lets no program make its
    // window transparent anyway: there the window is unmapped.
    if (capturesThroughPortal()) {
        if (window.isVisible()) {
            window.hide();
            mainWindowUnmappedForCapture = true;
        }
    } else if (compositingManagerRunning() || QGuiApplication::platformName() != QLatin1String("xcb")) {
        window.setWindowOpacity(0);
    } else if (window.isVisible()) {
        window.hide();
        mainWindowUnmappedForCapture = true;
    }
}

void makeMainWindowVisibleAgain()
{
    if (QWidget* window = findMainWindow()) {
        window->setWindowOpacity(1);
        if (mainWindowUnmappedForCapture) {
            window->show();
        }
    }
    mainWindowUnmappedForCapture = false;
}

void orderMainWindowOut()
{
    if (QWidget* window = findMainWindow()) {
        window->hide();
    }
    mainWindowUnmappedForCapture = false;
}

/// Writes `image` as a PNG file, all or nothing: a failed write leaves no partial file. The error's
/// description, or none on success.
std::optional<QString> writePng(const QImage& image, const QString& path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return file.errorString();
    }
    QImageWriter writer(&file, "png");
    if (!writer.write(image)) {
        file.cancelWriting();
        return writer.errorString();
    }
    if (!file.commit()) {
        return file.errorString();
    }
    return std::nullopt;
}

/// Reads an image file upright by its EXIF orientation; null when it cannot be read.
QImage readImage(const QString& path)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    return reader.read();
}

/// Copies the importable files among `urls` into `directory`, each under a free name; the images to
/// recognise, in the order given. Runs on the worker.
QList<PendingRecognizeTextImage> copyImports(const QList<QUrl>& urls, const QString& directory)
{
    QList<PendingRecognizeTextImage> imported;
    for (const QUrl& url : urls) {
        const QString source = url.toLocalFile();
        const QFileInfo info(source);
        const QString base = info.completeBaseName();
        const QString extension = info.suffix().toLower();
        const bool jpeg = extension == QLatin1String("jpg") || extension == QLatin1String("jpeg");
        if (!jpeg && extension != QLatin1String("png")) {
            systemLog(QStringLiteral("Only JPG or PNG are supported for import"));
            continue;
        }
        QString target = directory + QLatin1Char('/') + (jpeg ? base + QStringLiteral(".png") : info.fileName());
        for (int n = 1; QFileInfo::exists(target); ++n) {
            target =
                directory + QLatin1Char('/') + base + QLatin1Char('-') + QString::number(n) + QStringLiteral(".png");
        }
        QFile file(source);
        if (!file.copy(target)) {
            // This file is skipped; the import goes on and reports once, at its end.
            systemLog(QStringLiteral("Error copying in performCaptureFromFileURLs: ") + file.errorString());
            continue;
        }
        const QUrl targetUrl = QUrl::fromLocalFile(target);
        if (jpeg && !ImageConversion::convertJPGtoPNG(targetUrl)) {
            systemLog(QStringLiteral("Skipping to next file to import due to convertJPGtoPNG failiure"));
            continue;
        }
        const QImage image = readImage(source);
        if (image.isNull()) {
            continue;
        }
        imported.append(PendingRecognizeTextImage{image, targetUrl, base});
    }
    return imported;
}

void logGrabFailure(const QRectF& area)
{
    systemLog(QStringLiteral("Could not grab the selected area of the screen (%1, %2, %3 x %4): it is empty "
                             "or lies on no screen")
                  .arg(area.x())
                  .arg(area.y())
                  .arg(area.width())
                  .arg(area.height()));
}

qreal primaryPixelRatio()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->devicePixelRatio() : 1.0;
}

} // namespace

bool ImageConversion::convertJPGtoPNG(const QUrl& url)
{
    const QImage image = readImage(url.toLocalFile());
    if (image.isNull()) {
        systemLog(QStringLiteral("convertJPGtoPNG: Failed to load the image at ") + url.toString());
        return false;
    }
    if (const std::optional<QString> error = writePng(image, url.toLocalFile())) {
        systemLog(QStringLiteral("convertJPGtoPNG: Failed to write png data to ") + url.toString() +
                  QStringLiteral(": ") + *error);
        return false;
    }
    return true;
}

ScreenshotCapture::ScreenshotCapture(std::shared_ptr<TextRecognizer> recognizer, QObject* parent)
    : QObject(parent), recognizer_(recognizer ? std::move(recognizer) : sharedTextRecognizer())
{
    // One image at a time keeps the capture order; the recognition thread is kept so its engine is too.
    worker_.setMaxThreadCount(1);
    recognition_.setMaxThreadCount(1);
    recognition_.setExpiryTimeout(-1);
}

ScreenshotCapture::~ScreenshotCapture()
{
    worker_.waitForDone();
    recognition_.waitForDone();
}

ScreenshotCapture& ScreenshotCapture::shared()
{
    static ScreenshotCapture* instance = new ScreenshotCapture;
    return *instance;
}

void ScreenshotCapture::reset(CaptureCompletionHandler completionHandler, CaptureSource source)
{
    ++generation_;
    processing_ = false;
    pendingRecognizeTextImages_.clear();
    captureInfo_.clear();
    completionHandler_ = std::move(completionHandler);
    windowDetails_.reset();
    portalCapture_ = false;
    frozenDesktop_.reset();
    pendingSelection_.reset();
    currentCaptureSource_ = source;
}

void ScreenshotCapture::startAreaCapture(bool isAssistant, CaptureCompletionHandler completionHandler)
{
    reset(std::move(completionHandler), CaptureSource::screen);
    wasAppActiveWhenStartedCapture_ = QGuiApplication::applicationState() == Qt::ApplicationActive;
    closeShadeWindows();

    bool waitForUnmap = false;
    QWidget* mainWindow = findMainWindow();
    // A window still unmapped for the previous capture counts as shown: that capture never gave it back.
    mainWindowWasVisible_ = mainWindow != nullptr &&
                            ((mainWindow->isVisible() && !mainWindow->isMinimized()) || mainWindowUnmappedForCapture);
    if (QWidget* window = mainWindow) {
        if (window->isFullScreen()) {
            window->showNormal();
            QTimer::singleShot(0, this, [] {
                if (QWidget* again = findMainWindow()) {
                    makeMainWindowInvisible(*again);
                }
            });
        } else {
            makeMainWindowInvisible(*window);
            waitForUnmap = mainWindowUnmappedForCapture;
        }
    }

    const quint64 generation = generation_;
    if (capturesThroughPortal()) {
        portalCapture_ = true;
        // The portal pictures the desktop as it is at that moment: the main window has gone first. The
        // overlays come up as soon as the picture is taken, translucent over the desktop it shows, while
        // its large file is read; they show the still image from then on.
        const auto takeScreenshot = [this, isAssistant, generation] {
            if (generation != generation_) {
                return;
            }
            PortalScreenshotRequest::take(
                portalBus_.value_or(QDBusConnection::sessionBus()), this,
                [this, isAssistant, generation](const PortalScreenshotOutcome& outcome) {
                    if (generation == generation_) {
                        portalAnswered(isAssistant, outcome);
                    }
                },
                [this, isAssistant, generation] {
                    if (generation == generation_ && shadeWindows_.isEmpty()) {
                        openOverlays(isAssistant);
                    }
                });
        };
        if (waitForUnmap) {
            QTimer::singleShot(100, this, takeScreenshot);
        } else {
            takeScreenshot();
        }
        return;
    }
    const auto open = [this, isAssistant, generation] {
        if (generation == generation_) {
            openOverlays(isAssistant);
        }
    };
    // An unmapped main window takes the X server a moment to uncover what lay below it.
    if (waitForUnmap) {
        QTimer::singleShot(100, this, open);
    } else {
        open();
    }
}

void ScreenshotCapture::portalAnswered(bool isAssistant, const PortalScreenshotOutcome& outcome)
{
    switch (outcome.status) {
    case PortalScreenshotOutcome::Status::taken: {
        std::vector<ScreenLayout> screens;
        for (const QScreen* screen : QGuiApplication::screens()) {
            screens.push_back(ScreenLayout{screen->geometry(), screen->devicePixelRatio()});
        }
        frozenDesktop_.emplace(outcome.image, std::move(screens));
        if (pendingSelection_) {
            cutFromFrozenDesktop(*std::exchange(pendingSelection_, std::nullopt));
        } else if (shadeWindows_.isEmpty()) {
            openOverlays(isAssistant);
        } else {
            for (const QPointer<QWidget>& window : shadeWindows_) {
                if (auto* overlay = qobject_cast<OverlayWindow*>(window.data())) {
                    overlay->setFrozenScreen(frozenDesktop_->part(overlay->screen()->geometry()));
                }
            }
        }
        return;
    }
    case PortalScreenshotOutcome::Status::refused:
        printLine(QStringLiteral("The desktop portal refused the screenshot"));
        endCapture(CaptureResult::cancelled);
        return;
    case PortalScreenshotOutcome::Status::unavailable:
        systemLog(QStringLiteral("No screenshot from the desktop portal: ") + outcome.detail);
        endCapture(CaptureResult::cancelled);
        ScreenCapturePermissions::shared().showGetScreenRecordingPermissionsWindow();
        return;
    }
}

void ScreenshotCapture::openOverlays(bool isAssistant)
{
    // Without a compositor a translucent window shows black: each overlay shows its screen as it was. The
    // portal's still image is what every overlay shows in a Wayland session.
    const bool frozen =
        !portalCapture_ && QGuiApplication::platformName() == QLatin1String("xcb") && !compositingManagerRunning();
    std::vector<std::pair<QScreen*, QImage>> screens;
    for (QScreen* screen : QGuiApplication::screens()) {
        screens.emplace_back(screen, frozenDesktop_ ? frozenDesktop_->part(screen->geometry())
                                     : frozen       ? grabWholeScreen(*screen)
                                                    : QImage());
    }
    OverlayWindow* underMouse = nullptr;
    for (auto& [screen, still] : screens) {
        auto* view = new ScreenAreaSelectionView;
        view->isAssistant = isAssistant;
        view->delegate = this;
        if (portalCapture_) {
            // Wayland names no other program's window: the details stay empty.
            view->windowLookup = [](QPointF) { return std::optional<WindowDetails>(); };
        }
        auto* overlay = new OverlayWindow(*screen, screenshotWindowOverlayWindowLevel, view, std::move(still));
        shadeWindows_.append(overlay);
        overlay->showOverScreen();
        if (screen->geometry().contains(QCursor::pos())) {
            underMouse = overlay;
        }
    }
    // The keyboard goes to the screen the user is looking at.
    if (underMouse) {
        underMouse->activateWindow();
    }
    emit overlaysShown();
}

void ScreenshotCapture::performCaptureFromFileURLs(const QList<QUrl>& urls, CaptureCompletionHandler completionHandler)
{
    reset(std::move(completionHandler), CaptureSource::file);
    const std::optional<QString> directory = screenshotsDirectory();
    if (!directory) {
        endCapture(CaptureResult::cancelled);
        return;
    }
    processing_ = true;
    const quint64 generation = generation_;
    const qreal ratio = primaryPixelRatio();
    auto* watcher = new QFutureWatcher<QList<PendingRecognizeTextImage>>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, generation, ratio] {
        watcher->deleteLater();
        if (generation != generation_) {
            return;
        }
        processing_ = false;
        for (const PendingRecognizeTextImage& image : watcher->result()) {
            pendingRecognizeTextImages_.append(std::make_shared<QueuedImage>(QueuedImage{image, false, ratio}));
        }
        processNextPendingImage();
    });
    watcher->setFuture(
        QtConcurrent::run(&worker_, [urls, directory = *directory] { return copyImports(urls, directory); }));
}

void ScreenshotCapture::didSelectArea(ScreenAreaSelectionView& view, QRectF area, std::optional<WindowDetails> details)
{
    if (portalCapture_) {
        // Each overlay covers its screen exactly, and Wayland tells no program where its windows are: the
        // screen's place is the overlay's.
        const QWidget* overlay = view.window();
        const QPoint origin = overlay->screen()->geometry().topLeft() + view.mapTo(overlay, QPoint(0, 0));
        windowDetails_ = std::move(details);
        closeShadeWindows();
        if (frozenDesktop_) {
            cutFromFrozenDesktop(area.translated(origin));
        } else {
            pendingSelection_ = area.translated(origin);
        }
        return;
    }
    const QRectF global = area.translated(view.mapToGlobal(QPointF(0, 0)));
    windowDetails_ = std::move(details);
    closeShadeWindows();
    if (QGuiApplication::screens().isEmpty()) {
        endCapture(CaptureResult::cancelled);
        return;
    }
    // The overlays need a moment to leave the screen before its pixels are read.
    const quint64 generation = generation_;
    QTimer::singleShot(100, this, [this, global, generation] {
        if (generation == generation_) {
            captureAndSaveArea(global);
        }
    });
}

void ScreenshotCapture::cutFromFrozenDesktop(const QRectF& area)
{
    const QImage image = frozenDesktop_->grab(area);
    frozenDesktop_.reset();
    if (image.isNull()) {
        logGrabFailure(area);
        endCapture(CaptureResult::cancelled);
        return;
    }
    // No pause: the still image holds no overlay.
    saveGrabbedImage(image);
}

void ScreenshotCapture::endCapture(CaptureResult result)
{
    if (!completionHandler_) {
        return;
    }
    ++generation_; // whatever is still being worked on belongs to a capture that is over
    processing_ = false;
    frozenDesktop_.reset();
    pendingSelection_.reset();
    pendingRecognizeTextImages_.clear();
    closeShadeWindows();
    giveMainWindowBack();
    const CaptureCompletionHandler handler = std::exchange(completionHandler_, nullptr);
    handler(std::nullopt, result);
}

void ScreenshotCapture::giveMainWindowBack()
{
    // A window that was hidden in the tray stays there; one that was shown comes back, in front when the
    // capture was started from it. An import leaves the window alone.
    if (currentCaptureSource_ == CaptureSource::screen && !mainWindowWasVisible_) {
        orderMainWindowOut();
    }
    makeMainWindowVisibleAgain();
    if (currentCaptureSource_ == CaptureSource::screen && mainWindowWasVisible_ && wasAppActiveWhenStartedCapture_) {
        if (QWidget* window = findMainWindow()) {
            window->raise();
            window->activateWindow();
        }
    }
}

void ScreenshotCapture::closeShadeWindows()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->property(OverlayWindow::levelProperty).toInt() == screenshotWindowOverlayWindowLevel) {
            widget->close();
        }
    }
    shadeWindows_.clear();
}

void ScreenshotCapture::captureAndSaveArea(QRectF area)
{
    const QImage image = grabScreenArea(area);
    if (image.isNull()) {
        // An empty selection, or one that lies on no screen: nothing is saved, and the capture ends.
        logGrabFailure(area);
        endCapture(CaptureResult::cancelled);
        return;
    }
    saveGrabbedImage(image);
}

void ScreenshotCapture::saveGrabbedImage(const QImage& image)
{
    const std::optional<QString> directory = screenshotsDirectory();
    if (!directory) {
        endCapture(CaptureResult::cancelled);
        return;
    }
    const QString filename = QStringLiteral("New Screenshot ") +
                             QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QStringLiteral(".png");
    const QUrl url = QUrl::fromLocalFile(*directory + QLatin1Char('/') + filename);
    pendingRecognizeTextImages_.append(std::make_shared<QueuedImage>(
        QueuedImage{PendingRecognizeTextImage{image, url, filename}, true, primaryPixelRatio()}));
    processNextPendingImage();
}

void ScreenshotCapture::processNextPendingImage()
{
    if (processing_) {
        return; // the image being worked on goes on with the queue when it is done
    }
    if (pendingRecognizeTextImages_.isEmpty()) {
        finishWithResults();
        return;
    }
    const std::shared_ptr<QueuedImage> next = pendingRecognizeTextImages_.takeFirst();
    processing_ = true;
    const quint64 generation = generation_;
    auto* watcher = new QFutureWatcher<Outcome>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, next] {
        watcher->deleteLater();
        handleOutcome(watcher->result(), next->pending.image);
    });
    watcher->setFuture(QtConcurrent::run(&worker_, [next, generation] {
        const PendingRecognizeTextImage& pending = next->pending;
        Outcome outcome{generation, pending.screenshotPath, pending.filename, false, std::nullopt};
        if (next->needsWriting) {
            if (const std::optional<QString> error = writePng(pending.image, pending.screenshotPath.toLocalFile())) {
                printLine(QStringLiteral("Could not save screenshot: ") + *error);
                return outcome;
            }
            printLine(QStringLiteral("Screenshot saved at ") + pending.screenshotPath.toString());
        }
        outcome.saved = true;
        // Drawn from the image in memory: once its row exists the file is the library's, which may rename it.
        const QByteArray thumbnail =
            pngData(renderThumbnail(pending.image, 200, QSizeF(200, 140), next->thumbnailPixelRatio));
        if (!thumbnail.isEmpty()) {
            outcome.thumbnail = thumbnail;
        }
        return outcome;
    }));
}

QFuture<QString> ScreenshotCapture::recognizeText(const QImage& image)
{
    return QtConcurrent::run(&recognition_, [image, recognizer = recognizer_] {
        try {
            QString text = recognizer->recognize(image).joinedLines();
            printLine(QStringLiteral("Finished recognizing text"));
            return text;
        } catch (const std::exception& error) {
            // The image is kept, with no text.
            printLine(QStringLiteral("Error recognizing text: ") + QString::fromUtf8(error.what()));
            return QString();
        }
    });
}

void ScreenshotCapture::handleOutcome(const Outcome& outcome, const QImage& image)
{
    if (outcome.generation != generation_) {
        return;
    }
    // An image whose file could not be written gives no record: nothing would point at a file.
    if (!outcome.saved) {
        processing_ = false;
        processNextPendingImage();
        return;
    }
    CapturedScreenshotInfo info{outcome.filename, outcome.screenshotPath.toString(QUrl::FullyEncoded), QString(),
                                outcome.thumbnail, windowDetails_};
    // Recognition runs on its own thread, one image after the other in the order they were saved. Its text
    // is handed on with the record, which goes on at once, so that the row is in the list while the text is
    // still being read; once a record is handed on, its recognition runs to the end, whatever capture follows.
    const QFuture<QString> text = recognizeText(image);
    const bool taskNeedsText = windowDetails_ && windowDetails_->aiAssistantTask;
    if (!taskNeedsText) {
        info.pendingRecognizedText = text;
        processing_ = false;
        captureInfo_.append(std::move(info));
        processNextPendingImage();
        return;
    }
    // An assistant task acts on the text at once (copies it, searches for it, asks about it): its record waits.
    auto* watcher = new QFutureWatcher<QString>(this);
    const quint64 generation = generation_;
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, generation, info]() mutable {
        watcher->deleteLater();
        if (generation != generation_) {
            return;
        }
        info.recognizedText = watcher->result();
        processing_ = false;
        captureInfo_.append(std::move(info));
        processNextPendingImage();
    });
    watcher->setFuture(text);
}

void ScreenshotCapture::finishWithResults()
{
    if (!completionHandler_) {
        return;
    }
    // A capture that produced nothing ends as cancelled, as a cancel does.
    if (currentCaptureSource_ == CaptureSource::screen && captureInfo_.isEmpty()) {
        endCapture(CaptureResult::cancelled);
        return;
    }
    const QList<CapturedScreenshotInfo> results = captureInfo_;
    const CaptureCompletionHandler handler = std::exchange(completionHandler_, nullptr);
    handler(results, CaptureResult::success);
    const std::optional<QString> task = results.isEmpty() || !results.front().windowDetails
                                            ? std::nullopt
                                            : results.front().windowDetails->aiAssistantTask;
    if (currentCaptureSource_ == CaptureSource::screen &&
        (task == QLatin1String("Copy text") || task == QLatin1String("Web search"))) {
        // Nothing was stored: the user goes back to where they were, the main window shown only if it was.
        giveMainWindowBack();
        return;
    }
    makeMainWindowVisibleAgain();
    if (results.isEmpty() || !results.front().windowDetails) {
        return;
    }
    // A stored screenshot is shown: the main window comes forward.
    if (QWidget* window = findMainWindow()) {
        window->show();
        window->raise();
        window->activateWindow();
    }
}

std::optional<QByteArray> ScreenshotCapture::makeThumbnail(const QUrl& url, qreal devicePixelRatio)
{
    QImage image = readImage(url.toLocalFile());
    if (image.isNull()) {
        return std::nullopt;
    }
    const QByteArray png = pngData(renderThumbnail(image, 200, QSizeF(200, 140), devicePixelRatio));
    if (png.isEmpty()) {
        return std::nullopt;
    }
    return png;
}

} // namespace lumetrove
