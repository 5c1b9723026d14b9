#include "lumetrove/capture/ScreenshotCapture.h"

#include "lumetrove/capture/ImageImport.h"
#include "lumetrove/library/DataDirectories.h"
#include "lumetrove/library/DateRange.h"
#include "lumetrove/library/FileOperations.h"
#include "lumetrove/library/LibraryProblems.h"
#include "lumetrove/library/NewImageJournal.h"
#include "lumetrove/library/Screenshot.h"
#include "lumetrove/platform/DesktopSession.h"
#include "lumetrove/platform/ImageUtilities.h"
#include "lumetrove/platform/Log.h"
#include "lumetrove/platform/Memory.h"
#include "lumetrove/platform/PortalScreenshot.h"
#include "lumetrove/platform/ScreenGrab.h"
#include "lumetrove/platform/ScreenUncover.h"
#include "lumetrove/platform/TextRecognizer.h"
#include "lumetrove/platform/WindowList.h"

#include <QBuffer>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QImageReader>
#include <QMetaObject>
#include <QScreen>
#include <QTimeZone>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>
#include <variant>

namespace lumetrove {

struct ScreenshotCapture::QueuedImage {
    PendingRecognizeTextImage pending;
    qreal thumbnailPixelRatio = 1;
    /// A grab's creation time ("yyyy-MM-dd HH:mm:ss", UTC): its file is named after the default name of that
    /// time (`pending.filename` holds it) in the first free place, found where the file is written.
    std::optional<QString> createdAt;
};

/// One image saved (or not) by a worker.
struct ScreenshotCapture::Outcome {
    QUrl screenshotPath;
    QString filename;
    std::optional<QString> createdAt;
    bool saved = false;
    /// Why it was not saved.
    QString error;
    std::optional<QByteArray> thumbnail;
    /// The image to recognise: `image`, or for an import the file's bytes, decoded when its turn comes.
    QImage image;
    QByteArray encoded;
};

/// A capture or an import under way.
struct ScreenshotCapture::Job {
    CaptureSource source = CaptureSource::screen;
    CaptureCompletionHandler completionHandler;
    SkippedImportsHandler skippedHandler;
    ImportStepHandler stepHandler;
    std::optional<WindowDetails> windowDetails;
    bool wasAppActiveWhenStartedCapture = false;
    /// Whether the main window was on screen when the area capture started: a capture that stores nothing
    /// gives it back as it was, shown or not.
    bool mainWindowWasVisible = false;
    /// An area capture whose area the user has not chosen yet.
    bool selecting = false;
    /// An import whose files are still being read.
    bool importing = false;
    /// An image of this job is being saved, or its record waits for its text.
    bool processing = false;
    bool over = false;
    QList<std::shared_ptr<QueuedImage>> pendingRecognizeTextImages;
    QList<CapturedScreenshotInfo> captureInfo;
    QList<SkippedImport> skipped;
};

namespace {

// The main window is made invisible, never closed, while the user selects. Window opacity needs a
// compositing manager; without one the window is unmapped instead and mapped again afterwards.
bool mainWindowUnmappedForCapture = false;

void makeMainWindowInvisible(CaptureMainWindow& window, bool compositorDrawsTranslucency)
{
    // The portal's screenshot shows what is mapped, whatever its opacity; Wayland lets no program make its
    // window transparent anyway: there the window is unmapped.
    if (capturesThroughPortal()) {
        if (window.isVisible()) {
            window.hide();
            mainWindowUnmappedForCapture = true;
        }
    } else if (compositorDrawsTranslucency || QGuiApplication::platformName() != QLatin1String("xcb")) {
        window.setOpacity(0);
    } else if (window.isVisible()) {
        window.hide();
        mainWindowUnmappedForCapture = true;
    }
}

void makeMainWindowVisibleAgain(CaptureMainWindow* window)
{
    if (window) {
        window->setOpacity(1);
        if (mainWindowUnmappedForCapture) {
            window->show();
        }
    }
    mainWindowUnmappedForCapture = false;
}

void orderMainWindowOut(CaptureMainWindow* window)
{
    if (window) {
        window->hide();
    }
    mainWindowUnmappedForCapture = false;
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

ScreenshotCapture::ScreenshotCapture(std::shared_ptr<TextRecognizer> recognizer,
                                     std::shared_ptr<NewImageJournal> journal, QObject* parent)
    : QObject(parent), recognizer_(std::move(recognizer)), journal_(std::move(journal))
{
    // One image at a time keeps the capture order; the recognition thread is kept so its engine is too.
    worker_.setMaxThreadCount(1);
    importWorker_.setMaxThreadCount(1);
    recognition_.setMaxThreadCount(1);
    recognition_.setExpiryTimeout(-1);
}

ScreenshotCapture::~ScreenshotCapture()
{
    worker_.waitForDone();
    importWorker_.waitForDone();
    recognition_.waitForDone();
}

ScreenshotCapture& ScreenshotCapture::shared()
{
    static ScreenshotCapture* instance = new ScreenshotCapture(sharedTextRecognizer(), sharedNewImageJournal());
    return *instance;
}

bool ScreenshotCapture::otherAreaCaptureSelecting(const JobPtr& job) const
{
    return areaCapture_ && areaCapture_ != job && areaCapture_->selecting;
}

void ScreenshotCapture::retire(const JobPtr& job)
{
    job->over = true;
    job->pendingRecognizeTextImages.clear();
    std::erase(jobs_, job);
    if (job == areaCapture_) {
        areaCapture_.reset();
        dropSelection();
    }
}

void ScreenshotCapture::dropSelection()
{
    ++generation_; // what is still on its way to the area capture belongs to one that is over
    portalCapture_ = false;
    frozenDesktop_.reset();
    pendingSelection_.reset();
    screenStills_.clear();
    uncoverWatch_.reset();
}

void ScreenshotCapture::startAreaCapture(bool isAssistant, CaptureCompletionHandler completionHandler)
{
    // An earlier capture whose area is still being chosen is replaced; one that has its image goes on.
    if (areaCapture_ && areaCapture_->selecting) {
        retire(areaCapture_);
    }
    dropSelection();
    auto job = std::make_shared<Job>();
    job->completionHandler = std::move(completionHandler);
    job->selecting = true;
    job->wasAppActiveWhenStartedCapture = QGuiApplication::applicationState() == Qt::ApplicationActive;
    areaCapture_ = job;
    jobs_.push_back(job);
    mainWindowHeld_ = true;
    currentCaptureSource_ = CaptureSource::screen;
    closeShadeWindows();

    portalCapture_ = capturesThroughPortal();
    compositorDrawsTranslucency_ =
        !portalCapture_ && QGuiApplication::platformName() == QLatin1String("xcb") && compositingManagerRunning();
    const quint64 generation = generation_;
    const auto begin = [this, isAssistant, generation] {
        if (generation != generation_) {
            return;
        }
        // Called by the watch itself: it goes once it is done.
        if (uncoverWatch_) {
            uncoverWatch_.release()->deleteLater();
        }
        if (portalCapture_) {
            takePortalScreenshot(isAssistant);
        } else {
            openOverlays(isAssistant);
        }
    };
    hideMainWindow(*job, begin);
}

void ScreenshotCapture::hideMainWindow(Job& job, const std::function<void()>& begin)
{
    CaptureMainWindow* window = mainWindow_.get();
    // A window still unmapped for the previous capture counts as shown: that capture never gave it back.
    job.mainWindowWasVisible =
        window != nullptr && ((window->isVisible() && !window->isMinimized()) || mainWindowUnmappedForCapture);
    if (window != nullptr && window->isFullScreen()) {
        // Out of full screen first; the window goes on the next turn of the event loop, and the overlays come
        // once it has gone, so that no still image shows it.
        window->showNormal();
        QTimer::singleShot(0, this, [this, begin, generation = generation_] {
            if (generation == generation_) {
                hideThenBegin(begin);
            }
        });
        return;
    }
    hideThenBegin(begin);
}

void ScreenshotCapture::hideThenBegin(const std::function<void()>& begin)
{
    CaptureMainWindow* window = mainWindow_.get();
    if (window == nullptr) {
        begin();
        return;
    }
    const bool shown = window->isVisible() && !window->isMinimized();
    // The screen is read (or pictured by the portal) only once it shows what lay below the window: on X11 the
    // server's damage reports tell when everything the window covered has been drawn again, after its frame
    // left; a program that never repaints holds the capture up for a moment at most.
    if (shown && !portalCapture_) {
        uncoverWatch_ = ScreenUncoverWatch::start(window->nativeWindow(), !compositorDrawsTranslucency_);
    }
    makeMainWindowInvisible(*window, compositorDrawsTranslucency_);
    if (uncoverWatch_) {
        uncoverWatch_->whenUncovered(std::chrono::milliseconds(300), begin);
        return;
    }
    if (shown && portalCapture_) {
        // Once the display server has answered a round trip it has taken the window off; the portal pictures
        // the desktop after that.
        QGuiApplication::sync();
    }
    begin();
}

void ScreenshotCapture::takePortalScreenshot(bool isAssistant)
{
    // The overlays come up as soon as the picture is taken, translucent over the desktop it shows, while its
    // large file is read; they show the still image from then on.
    const quint64 generation = generation_;
    PortalScreenshotRequest::take(
        portalBus_.value_or(QDBusConnection::sessionBus()), this,
        [this, isAssistant, generation](const PortalScreenshotOutcome& outcome) {
            if (generation == generation_) {
                portalAnswered(isAssistant, outcome);
            }
        },
        [this, isAssistant, generation] {
            if (generation == generation_ && !(overlays_ && overlays_->isOpen())) {
                openOverlays(isAssistant);
            }
        });
}

void ScreenshotCapture::portalAnswered(bool isAssistant, const PortalScreenshotOutcome& outcome)
{
    switch (outcome.status) {
    case PortalScreenshotOutcome::Status::taken: {
        frozenDesktop_.emplace(outcome.image, screenLayouts());
        if (pendingSelection_) {
            cutFromFrozenDesktop(*std::exchange(pendingSelection_, std::nullopt));
        } else if (!(overlays_ && overlays_->isOpen())) {
            openOverlays(isAssistant);
        } else {
            overlays_->showStills(*frozenDesktop_);
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
        if (overlays_) {
            overlays_->showPermissionWindow();
        }
        return;
    }
}

void ScreenshotCapture::openOverlays(bool isAssistant)
{
    // The selection is cut from the screens as they are now, before any overlay covers them: what the user
    // saw when the overlays came up, not what changed below them since. Without a compositor a translucent
    // window shows black: each overlay shows its screen's still image. The portal's still image is what every
    // overlay shows in a Wayland session.
    if (!portalCapture_) {
        screenStills_ = grabScreenStills();
    }
    const bool frozen =
        !portalCapture_ && QGuiApplication::platformName() == QLatin1String("xcb") && !compositorDrawsTranslucency_;
    std::vector<std::pair<QScreen*, QImage>> screens;
    const QList<QScreen*> all = QGuiApplication::screens();
    for (qsizetype index = 0; index < all.size(); ++index) {
        QScreen* screen = all[index];
        QImage still;
        if (frozenDesktop_) {
            still = frozenDesktop_->part(screen->geometry());
        } else if (frozen && std::size_t(index) < screenStills_.size()) {
            still = screenStills_[std::size_t(index)].image;
        }
        screens.emplace_back(screen, still);
    }
    if (!overlays_) {
        return;
    }
    // A report from overlays of an earlier capture is dropped.
    const quint64 generation = generation_;
    CaptureOverlays::Handlers handlers;
    handlers.selected = [self = QPointer<ScreenshotCapture>(this), generation](QRectF area,
                                                                               std::optional<WindowDetails> details) {
        if (self && generation == self->generation_) {
            self->didSelectArea(area, std::move(details));
        }
    };
    handlers.ended = [self = QPointer<ScreenshotCapture>(this), generation](CaptureResult result) {
        if (self && generation == self->generation_) {
            self->endCapture(result);
        }
    };
    overlays_->open(screens, isAssistant, portalCapture_, std::move(handlers));
    emit overlaysShown();
}

void ScreenshotCapture::performCaptureFromFileURLs(const QList<QUrl>& urls, ImportCompletionHandler completionHandler,
                                                   SkippedImportsHandler skipped, ImportStepHandler step)
{
    auto job = std::make_shared<Job>();
    job->source = CaptureSource::file;
    job->completionHandler = [handler = std::move(completionHandler)](const auto& results, CaptureResult result) {
        handler(results, result);
        return CaptureFollowUp::returnToPreviousWindow; // not asked: an import leaves the window alone
    };
    job->skippedHandler = std::move(skipped);
    job->stepHandler = std::move(step);
    job->wasAppActiveWhenStartedCapture = QGuiApplication::applicationState() == Qt::ApplicationActive;
    jobs_.push_back(job);
    currentCaptureSource_ = CaptureSource::file;
    const std::optional<QString> directory = screenshotsDirectory();
    if (!directory) {
        endJob(job, CaptureResult::cancelled);
        return;
    }
    job->importing = true;
    // Each file is read, decoded, saved and given its thumbnail before the next is read: one decoded image
    // at a time. What goes on to recognition is the file's bytes, decoded again when its turn comes.
    const QPointer<ScreenshotCapture> self(this);
    importWorker_.start([self, job, urls, directory = *directory, ratio = primaryPixelRatio(), journal = journal_] {
        const auto deliver = [&](auto work) {
            QMetaObject::invokeMethod(self.data(), std::move(work), Qt::QueuedConnection);
        };
        for (const QUrl& url : urls) {
            std::variant<ImportedImage, SkippedImport> imported = importImageFile(url, directory, journal.get(), ratio);
            deliver([self, job, imported = std::move(imported)]() mutable {
                if (!self) {
                    return;
                }
                if (auto* skipped = std::get_if<SkippedImport>(&imported)) {
                    job->skipped.append(std::move(*skipped));
                    if (job->stepHandler && !job->over) {
                        job->stepHandler(std::nullopt);
                    }
                    return;
                }
                auto& image = std::get<ImportedImage>(imported);
                Outcome outcome;
                outcome.screenshotPath = image.screenshotPath;
                outcome.filename = image.filename;
                outcome.saved = true;
                outcome.thumbnail = std::move(image.thumbnail);
                outcome.encoded = std::move(image.encoded);
                self->handleOutcome(job, std::move(outcome));
            });
        }
        deliver([self, job] {
            if (self) {
                job->importing = false;
                self->processNext(job);
            }
        });
    });
}

void ScreenshotCapture::didSelectArea(QRectF area, std::optional<WindowDetails> details)
{
    const JobPtr job = areaCapture_;
    if (!job || !job->selecting) {
        return;
    }
    if (portalCapture_) {
        job->windowDetails = std::move(details);
        closeShadeWindows();
        if (frozenDesktop_) {
            cutFromFrozenDesktop(area);
        } else {
            pendingSelection_ = area;
        }
        return;
    }
    job->windowDetails = std::move(details);
    closeShadeWindows();
    if (QGuiApplication::screens().isEmpty()) {
        endCapture(CaptureResult::cancelled);
        return;
    }
    if (screenStills_.empty()) {
        // No still image (a screen gave nothing when the overlays opened): the screen is read as it is, once
        // the server has taken the overlays off.
        QGuiApplication::sync();
        captureAndSaveArea(area);
        return;
    }
    // No pause: the overlays are not in the still images.
    const QImage image = cutScreenArea(area, std::exchange(screenStills_, {}));
    if (image.isNull()) {
        logGrabFailure(area);
        endCapture(CaptureResult::cancelled);
        return;
    }
    saveGrabbedImage(image);
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
    if (areaCapture_) {
        endJob(areaCapture_, result);
    }
}

void ScreenshotCapture::endJob(JobPtr job, CaptureResult result)
{
    if (job->over || !job->completionHandler) {
        return;
    }
    const bool wasSelecting = job == areaCapture_;
    retire(job);
    // An import leaves the window and the overlays of a capture under way alone; so does a capture whose
    // image was being saved while another one's area is chosen.
    if (job->source == CaptureSource::screen) {
        if (wasSelecting) {
            closeShadeWindows();
        }
        if (!otherAreaCaptureSelecting(job)) {
            giveMainWindowBack(*job);
        }
    }
    const CaptureCompletionHandler handler = std::exchange(job->completionHandler, nullptr);
    handler(std::nullopt, result);
}

void ScreenshotCapture::giveMainWindowBack(const Job& job)
{
    // A window that was hidden in the tray stays there; one that was shown comes back, in front when the
    // capture was started from it.
    afterKeyboardHandOver(
        [this, wasVisible = job.mainWindowWasVisible, wasActive = job.wasAppActiveWhenStartedCapture] {
            if (!wasVisible) {
                orderMainWindowOut(mainWindow_.get());
            }
            makeMainWindowVisibleAgain(mainWindow_.get());
            if (wasVisible && wasActive && mainWindow_) {
                mainWindow_->bringToFront();
            }
            releaseMainWindow();
        });
}

void ScreenshotCapture::releaseMainWindow()
{
    if (!std::exchange(mainWindowHeld_, false)) {
        return;
    }
    emit mainWindowGivenBack();
}

void ScreenshotCapture::afterMainWindowGivenBack(QObject* context, std::function<void()> then)
{
    if (!mainWindowHeld_) {
        then();
        return;
    }
    connect(this, &ScreenshotCapture::mainWindowGivenBack, context, std::move(then), Qt::SingleShotConnection);
}

void ScreenshotCapture::afterKeyboardHandOver(const std::function<void()>& then)
{
    if (!overlays_) {
        then();
        return;
    }
    // A window mapped over the overlay that waits for the keyboard would keep it from getting it. A capture
    // started meanwhile hides the window again and gives it back itself.
    overlays_->afterKeyboardHandOver(this, [this, then] {
        if (!(areaCapture_ && areaCapture_->selecting)) {
            then();
        }
    });
}

void ScreenshotCapture::closeShadeWindows()
{
    if (overlays_) {
        // The window hidden for the capture comes back on its own screen, which is to have the keyboard then.
        overlays_->close(mainWindowUnmappedForCapture && mainWindow_ ? mainWindow_->screen() : nullptr);
    }
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
    const JobPtr job = areaCapture_;
    if (!job) {
        return;
    }
    const std::optional<QString> directory = screenshotsDirectory();
    if (!directory) {
        endCapture(CaptureResult::cancelled);
        return;
    }
    job->selecting = false;
    // Named after its default name from the start, with the time its row is given: the row is inserted once,
    // under its name and file, and nothing is renamed after it.
    const QDateTime created = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), QTimeZone::utc());
    const QUrl directoryUrl = QUrl::fromLocalFile(*directory + QLatin1Char('/'));
    job->pendingRecognizeTextImages.append(std::make_shared<QueuedImage>(
        QueuedImage{PendingRecognizeTextImage{image, directoryUrl, screenshotDefaultName(created)}, primaryPixelRatio(),
                    databaseTimestamp(created)}));
    processNext(job);
}

void ScreenshotCapture::processNextPendingImage()
{
    for (const JobPtr& job : std::vector<JobPtr>(jobs_)) {
        processNext(job);
    }
}

void ScreenshotCapture::processNext(const JobPtr& job)
{
    if (job->over || job->processing || job->selecting) {
        return; // the image being worked on goes on with the queue when it is done
    }
    if (job->pendingRecognizeTextImages.isEmpty()) {
        if (!job->importing) {
            finish(job);
        }
        return;
    }
    const std::shared_ptr<QueuedImage> next = job->pendingRecognizeTextImages.takeFirst();
    job->processing = true;
    auto* watcher = new QFutureWatcher<Outcome>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, job] {
        watcher->deleteLater();
        job->processing = false;
        handleOutcome(job, watcher->future().takeResult());
    });
    watcher->setFuture(QtConcurrent::run(&worker_, [next, journal = journal_] { return save(*next, journal.get()); }));
}

ScreenshotCapture::Outcome ScreenshotCapture::save(const QueuedImage& queued, NewImageJournal* journal)
{
    PendingRecognizeTextImage pending = queued.pending;
    if (queued.createdAt) {
        // The first free file of the default name, as a rename would choose it: one worker writes every grab,
        // so no other grab takes it in between.
        const QString directory = pending.screenshotPath.toLocalFile();
        const QString base = screenshotFileBaseName(pending.filename);
        QString target = directory + base + QStringLiteral(".png");
        for (int number = 1; entryExists(target); ++number) {
            target = directory + base + QLatin1Char('-') + QString::number(number) + QStringLiteral(".png");
        }
        pending.screenshotPath = QUrl::fromLocalFile(target);
        pending.filename = QFileInfo(target).fileName();
    }
    Outcome outcome;
    outcome.createdAt = queued.createdAt;
    outcome.screenshotPath = pending.screenshotPath;
    outcome.filename = pending.filename;
    outcome.image = pending.image;
    const QByteArray png = pngData(pending.image);
    // Noted under the name its row is given, should the run end before the row is inserted.
    const std::optional<QString> error =
        png.isEmpty() ? QStringLiteral("the image could not be encoded as PNG")
                      : writeNewImage(journal, pending.screenshotPath.toLocalFile(), png,
                                      queued.createdAt ? queued.pending.filename : pending.filename, false);
    if (error) {
        printLine(QStringLiteral("Could not save screenshot: ") + *error);
        outcome.error = *error;
        return outcome;
    }
    printLine(QStringLiteral("Screenshot saved at ") + pending.screenshotPath.toString());
    outcome.saved = true;
    // Drawn from the image in memory: once its row exists the file is the library's, which may rename it.
    const QByteArray thumbnail =
        pngData(renderThumbnail(pending.image, 200, QSizeF(200, 140), queued.thumbnailPixelRatio));
    if (!thumbnail.isEmpty()) {
        outcome.thumbnail = thumbnail;
    }
    return outcome;
}

QFuture<QString> ScreenshotCapture::recognizeText(const QImage& image, const QByteArray& encoded)
{
    ++recognitionsPending_;
    return QtConcurrent::run(&recognition_, [this, image, encoded, recognizer = recognizer_] {
        QString text;
        try {
            text = recognizer->recognize(image.isNull() ? decodeUprightImage(encoded) : image).joinedLines();
            printLine(QStringLiteral("Finished recognizing text"));
        } catch (const std::exception& error) {
            // The image is kept, with no text.
            printLine(QStringLiteral("Error recognizing text: ") + QString::fromUtf8(error.what()));
        }
        // The last image of a run of captures is read: the memory their images, encodings and thumbnails took
        // on the threads that made them goes back to the system, so a program at rest in the tray shrinks
        // back. Here, not on the main thread: it takes a few milliseconds.
        if (--recognitionsPending_ == 0) {
            returnFreedMemoryToSystem();
        }
        return text;
    });
}

void ScreenshotCapture::handleOutcome(const JobPtr& job, Outcome outcome)
{
    if (job->over) {
        return;
    }
    // An image whose file could not be written gives no record: nothing would point at a file. The user is
    // told that the capture was lost (an import tells its files left out in one message of its own).
    if (!outcome.saved) {
        if (job->source == CaptureSource::screen) {
            reportLibraryProblem(QStringLiteral("The screenshot could not be saved: ") + outcome.error);
        }
        processNext(job);
        return;
    }
    CapturedScreenshotInfo info{outcome.filename, outcome.screenshotPath.toString(QUrl::FullyEncoded), QString(),
                                outcome.thumbnail, job->windowDetails};
    info.createdAt = outcome.createdAt;
    // Recognition runs on its own thread, one image after the other in the order they were saved. Its text
    // is handed on with the record, which goes on at once, so that the row is in the list while the text is
    // still being read; once a record is handed on, its recognition runs to the end, whatever capture follows.
    const QFuture<QString> text = recognizeText(outcome.image, outcome.encoded);
    const bool taskNeedsText = job->windowDetails && job->windowDetails->aiAssistantTask;
    if (!taskNeedsText) {
        info.pendingRecognizedText = text;
        job->captureInfo.append(std::move(info));
        if (job->stepHandler) {
            job->stepHandler(job->captureInfo.back());
        }
        processNext(job);
        return;
    }
    // An assistant task acts on the text at once (copies it, searches for it, asks about it): its record waits.
    job->processing = true;
    auto* watcher = new QFutureWatcher<QString>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, job, info]() mutable {
        watcher->deleteLater();
        job->processing = false;
        if (job->over) {
            return;
        }
        info.recognizedText = watcher->result();
        job->captureInfo.append(std::move(info));
        processNext(job);
    });
    watcher->setFuture(text);
}

void ScreenshotCapture::finish(JobPtr job)
{
    if (job->over || !job->completionHandler) {
        return;
    }
    // A capture that produced nothing ends as cancelled, as a cancel does.
    if (job->source == CaptureSource::screen && job->captureInfo.isEmpty()) {
        endJob(job, CaptureResult::cancelled);
        return;
    }
    retire(job);
    if (!job->skipped.isEmpty() && job->skippedHandler) {
        job->skippedHandler(job->skipped);
    }
    const QList<CapturedScreenshotInfo> results = job->captureInfo;
    const CaptureCompletionHandler handler = std::exchange(job->completionHandler, nullptr);
    const CaptureFollowUp followUp = handler(results, CaptureResult::success);
    // An import leaves the window alone. While another capture waits for the user's selection its overlays
    // stay in front and the window hidden.
    if (job->source != CaptureSource::screen || otherAreaCaptureSelecting(job)) {
        return;
    }
    if (followUp == CaptureFollowUp::returnToPreviousWindow) {
        giveMainWindowBack(*job);
        return;
    }
    afterKeyboardHandOver([this, detailed = results.front().windowDetails.has_value()] {
        makeMainWindowVisibleAgain(mainWindow_.get());
        // A grab handed over without a selection has no window details and brings nothing forward.
        if (detailed && mainWindow_) {
            mainWindow_->show();
            mainWindow_->bringToFront();
        }
        releaseMainWindow();
    });
}

std::optional<QByteArray> ScreenshotCapture::makeThumbnail(const QUrl& url, qreal devicePixelRatio)
{
    QImage image = readUprightImage(url.toLocalFile());
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
