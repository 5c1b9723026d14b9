#include "lumetrove/capture/ScreenshotCapture.h"

#include "lumetrove/library/DataDirectories.h"
#include "lumetrove/library/DateRange.h"
#include "lumetrove/library/FileOperations.h"
#include "lumetrove/library/LibraryProblems.h"
#include "lumetrove/library/Screenshot.h"
#include "lumetrove/library/ScreenshotsDB.h"
#include "lumetrove/platform/DesktopSession.h"
#include "lumetrove/platform/ImageUtilities.h"
#include "lumetrove/platform/Log.h"
#include "lumetrove/platform/PortalScreenshot.h"
#include "lumetrove/platform/ScreenGrab.h"
#include "lumetrove/platform/TextRecognizer.h"
#include "lumetrove/platform/WindowList.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QImageReader>
#include <QImageWriter>
#include <QMetaObject>
#include <QSaveFile>
#include <QScreen>
#include <QTimeZone>
#include <QTimer>
#include <QUuid>
#include <QtConcurrent/QtConcurrentRun>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
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

void makeMainWindowInvisible(CaptureMainWindow& window)
{
    // The portal's screenshot shows what is mapped, whatever its opacity; Wayland lets no program make its
    // window transparent anyway: there the window is unmapped.
    if (capturesThroughPortal()) {
        if (window.isVisible()) {
            window.hide();
            mainWindowUnmappedForCapture = true;
        }
    } else if (compositingManagerRunning() || QGuiApplication::platformName() != QLatin1String("xcb")) {
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

/// Decodes image bytes upright by their EXIF orientation; null when they hold no readable image.
QImage decodeImage(const QByteArray& bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    reader.setAllocationLimit(0);
    return reader.read();
}

// What an import accepts: a file no larger than this, holding an image of no more pixels than this (a photo
// of a large camera fits; a few bytes that claim a huge image are refused before anything is decoded).
constexpr qint64 maxImportBytes = 256LL * 1024 * 1024;
constexpr qint64 maxImportPixels = 8192LL * 8192;

quint32 bigEndian32(const QByteArray& bytes, qsizetype at)
{
    const auto byte = [&](qsizetype i) { return quint32(static_cast<unsigned char>(bytes[at + i])); };
    return (byte(0) << 24) | (byte(1) << 16) | (byte(2) << 8) | byte(3);
}

/// A PNG stream whose chunks run whole up to its end chunk. A cut-short file may still decode, with the
/// missing rows left blank.
bool pngComplete(const QByteArray& bytes)
{
    for (qsizetype at = 8; at + 8 <= bytes.size();) {
        const qint64 next = qint64(at) + 12 + bigEndian32(bytes, at);
        if (next > bytes.size()) {
            return false;
        }
        if (bytes.mid(at + 4, 4) == "IEND") {
            return true;
        }
        at = static_cast<qsizetype>(next);
    }
    return false;
}

/// A JPEG stream whose last scan is followed by its end marker. The decoder pads a cut-short scan with grey
/// and calls that a success. Inside a scan a 0xFF byte is always escaped, so the marker cannot occur there.
bool jpegComplete(const QByteArray& bytes)
{
    const qsizetype lastScan = bytes.lastIndexOf(QByteArrayView("\xFF\xDA", 2));
    return lastScan >= 0 && bytes.indexOf(QByteArrayView("\xFF\xD9", 2), lastScan) >= 0;
}

/// A source file read whole and decoded: its bytes, their format ("png" or "jpeg") and the upright image.
struct ImportSource {
    QByteArray bytes;
    QByteArray format;
    QImage image;
};

/// Reads and decodes the file at `path`, or says why it cannot become a screenshot. Only a regular file is
/// read, and it is opened without waiting: a FIFO or a device named like an image never blocks the import.
std::variant<ImportSource, QString> readImportSource(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return QStringLiteral("it could not be read (%1)").arg(QString::fromLocal8Bit(std::strerror(errno)));
    }
    struct stat status {};
    const bool statted = ::fstat(fd, &status) == 0;
    if (!statted || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return QStringLiteral("it is not a regular file");
    }
    if (status.st_size == 0) {
        ::close(fd);
        return QStringLiteral("it is empty");
    }
    if (status.st_size > maxImportBytes) {
        ::close(fd);
        return QStringLiteral("it is too large (%1 MB)").arg(status.st_size / (1024 * 1024));
    }
    QByteArray bytes(static_cast<qsizetype>(status.st_size), Qt::Uninitialized);
    qsizetype read = 0;
    while (read < bytes.size()) {
        const ssize_t step = ::read(fd, bytes.data() + read, static_cast<size_t>(bytes.size() - read));
        if (step < 0 && errno == EINTR) {
            continue;
        }
        if (step < 0) {
            const int error = errno;
            ::close(fd);
            return QStringLiteral("it could not be read (%1)").arg(QString::fromLocal8Bit(std::strerror(error)));
        }
        if (step == 0) {
            break; // the file shrank meanwhile: what was read is checked below
        }
        read += step;
    }
    ::close(fd);
    bytes.truncate(read);

    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QByteArray format = reader.format();
    if (format != "png" && format != "jpeg") {
        return QStringLiteral("it is not a PNG or JPEG image");
    }
    const QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * size.height() > maxImportPixels) {
        return QStringLiteral("the image is too large (%1 × %2 pixels)").arg(size.width()).arg(size.height());
    }
    if (format == "png" ? !pngComplete(bytes) : !jpegComplete(bytes)) {
        return QStringLiteral("the image is incomplete (the file is cut short)");
    }
    reader.setAutoTransform(true);
    reader.setAllocationLimit(0); // the size was checked above
    QImage image = reader.read();
    if (image.isNull()) {
        return QStringLiteral("the image could not be decoded (%1)").arg(reader.errorString());
    }
    return ImportSource{std::move(bytes), format, std::move(image)};
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

ScreenshotCapture::ScreenshotCapture(std::shared_ptr<TextRecognizer> recognizer, std::shared_ptr<ScreenshotsDB> store,
                                     QObject* parent)
    : QObject(parent), recognizer_(recognizer ? std::move(recognizer) : sharedTextRecognizer()),
      store_(std::move(store))
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
    static ScreenshotCapture* instance = new ScreenshotCapture(nullptr, ScreenshotsDB::shared());
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
    currentCaptureSource_ = CaptureSource::screen;
    closeShadeWindows();

    bool waitForUnmap = false;
    CaptureMainWindow* mainWindow = mainWindow_.get();
    // A window still unmapped for the previous capture counts as shown: that capture never gave it back.
    job->mainWindowWasVisible = mainWindow != nullptr && ((mainWindow->isVisible() && !mainWindow->isMinimized()) ||
                                                          mainWindowUnmappedForCapture);
    if (CaptureMainWindow* window = mainWindow) {
        if (window->isFullScreen()) {
            window->showNormal();
            QTimer::singleShot(0, this, [again = mainWindow_] { makeMainWindowInvisible(*again); });
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
                    if (generation == generation_ && !(overlays_ && overlays_->isOpen())) {
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

void ScreenshotCapture::performCaptureFromFileURLs(const QList<QUrl>& urls, CaptureCompletionHandler completionHandler,
                                                   SkippedImportsHandler skipped)
{
    auto job = std::make_shared<Job>();
    job->source = CaptureSource::file;
    job->completionHandler = std::move(completionHandler);
    job->skippedHandler = std::move(skipped);
    job->wasAppActiveWhenStartedCapture = QGuiApplication::applicationState() == Qt::ApplicationActive;
    jobs_.push_back(job);
    currentCaptureSource_ = CaptureSource::file;
    const std::optional<QString> directory = screenshotsDirectory();
    if (!directory) {
        endJob(job, CaptureResult::cancelled);
        return;
    }
    job->importing = true;
    const qreal ratio = primaryPixelRatio();
    // Each file is read, decoded, saved and given its thumbnail before the next is read: one decoded image
    // at a time. What goes on to recognition is the file's bytes, decoded again when its turn comes.
    const QPointer<ScreenshotCapture> self(this);
    importWorker_.start([self, job, urls, directory = *directory, ratio, store = store_] {
        const auto deliver = [&](auto work) {
            QMetaObject::invokeMethod(self.data(), std::move(work), Qt::QueuedConnection);
        };
        for (const QUrl& url : urls) {
            const QString source = url.toLocalFile();
            const QFileInfo info(source);
            const QString shownName = info.fileName().isEmpty() ? url.toDisplayString() : info.fileName();
            const auto skip = [&](const QString& reason) {
                deliver([self, job, skipped = SkippedImport{shownName, reason}] {
                    if (self) {
                        job->skipped.append(skipped);
                    }
                });
            };
            const QString base = info.completeBaseName();
            const QString extension = info.suffix().toLower();
            const bool jpegName = extension == QLatin1String("jpg") || extension == QLatin1String("jpeg");
            if (!url.isLocalFile() || (!jpegName && extension != QLatin1String("png"))) {
                systemLog(QStringLiteral("Only JPG or PNG are supported for import"));
                skip(QStringLiteral("only PNG and JPEG files can be imported"));
                continue;
            }
            std::variant<ImportSource, QString> read = readImportSource(source);
            if (const QString* reason = std::get_if<QString>(&read)) {
                systemLog(QStringLiteral("Skipping ") + source + QStringLiteral(": ") + *reason);
                skip(*reason);
                continue;
            }
            ImportSource& image = std::get<ImportSource>(read);
            // A PNG file is copied as it is; a JPEG becomes a PNG file, upright as it is shown.
            const QByteArray bytes = image.format == "png" ? image.bytes : pngData(image.image);
            if (bytes.isEmpty()) {
                skip(QStringLiteral("it could not be converted to PNG"));
                continue;
            }
            Outcome outcome;
            outcome.filename = base;
            std::optional<QString> error;
            for (int n = 0; !outcome.saved && !error; ++n) {
                const QString name = n == 0 ? (jpegName ? base + QStringLiteral(".png") : info.fileName())
                                            : base + QLatin1Char('-') + QString::number(n) + QStringLiteral(".png");
                const QString target = directory + QLatin1Char('/') + name;
                if (entryExists(target)) {
                    continue;
                }
                const QUrl targetUrl = QUrl::fromLocalFile(target);
                const QString urlText = targetUrl.toString(QUrl::FullyEncoded);
                if (const StoreResult<void> recorded =
                        store ? store->recordNewImage(urlText, base, true) : StoreResult<void>();
                    !recorded) {
                    error = recorded.error().description();
                    break;
                }
                error = writeNewFile(target, bytes);
                if (!error) {
                    outcome.saved = true;
                    outcome.screenshotPath = targetUrl;
                } else if (store) {
                    store->forgetNewImage(urlText);
                }
                if (error && entryExists(target)) {
                    error.reset(); // another capture or import took the name meanwhile: the next one
                }
            }
            if (error) {
                systemLog(QStringLiteral("Error copying in performCaptureFromFileURLs: ") + *error);
                skip(QStringLiteral("it could not be saved (%1)").arg(*error));
                continue;
            }
            const QByteArray thumbnail = pngData(renderThumbnail(image.image, 200, QSizeF(200, 140), ratio));
            if (!thumbnail.isEmpty()) {
                outcome.thumbnail = thumbnail;
            }
            outcome.encoded = std::move(image.bytes);
            image = ImportSource{};
            deliver([self, job, outcome = std::move(outcome)]() mutable {
                if (self) {
                    self->handleOutcome(job, std::move(outcome));
                }
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
    const QRectF global = area;
    job->windowDetails = std::move(details);
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
    if (!job.mainWindowWasVisible) {
        orderMainWindowOut(mainWindow_.get());
    }
    makeMainWindowVisibleAgain(mainWindow_.get());
    if (job.mainWindowWasVisible && job.wasAppActiveWhenStartedCapture && mainWindow_) {
        mainWindow_->bringToFront();
    }
}

void ScreenshotCapture::closeShadeWindows()
{
    if (overlays_) {
        overlays_->close();
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
    watcher->setFuture(QtConcurrent::run(&worker_, [next, store = store_] {
        PendingRecognizeTextImage pending = next->pending;
        if (next->createdAt) {
            // The first free file of the default name, as a rename would choose it: one worker writes every
            // grab, so no other grab takes it in between.
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
        outcome.createdAt = next->createdAt;
        outcome.screenshotPath = pending.screenshotPath;
        outcome.filename = pending.filename;
        outcome.image = pending.image;
        const QString urlText = pending.screenshotPath.toString(QUrl::FullyEncoded);
        std::optional<QString> error;
        const QByteArray png = pngData(pending.image);
        if (png.isEmpty()) {
            error = QStringLiteral("the image could not be encoded as PNG");
        } else if (const StoreResult<void> recorded =
                       // Listed under the name its row is given, should the run end before the row is inserted.
                   store ? store->recordNewImage(urlText, next->createdAt ? next->pending.filename : pending.filename,
                                                 false)
                         : StoreResult<void>();
                   !recorded) {
            error = recorded.error().description();
        }
        if (!error) {
            error = writeNewFile(pending.screenshotPath.toLocalFile(), png);
            if (error && store) {
                store->forgetNewImage(urlText);
            }
        }
        if (error) {
            printLine(QStringLiteral("Could not save screenshot: ") + *error);
            outcome.error = *error;
            return outcome;
        }
        printLine(QStringLiteral("Screenshot saved at ") + pending.screenshotPath.toString());
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

QFuture<QString> ScreenshotCapture::recognizeText(const QImage& image, const QByteArray& encoded)
{
    return QtConcurrent::run(&recognition_, [image, encoded, recognizer = recognizer_] {
        try {
            QString text = recognizer->recognize(image.isNull() ? decodeImage(encoded) : image).joinedLines();
            printLine(QStringLiteral("Finished recognizing text"));
            return text;
        } catch (const std::exception& error) {
            // The image is kept, with no text.
            printLine(QStringLiteral("Error recognizing text: ") + QString::fromUtf8(error.what()));
            return QString();
        }
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
    handler(results, CaptureResult::success);
    // An import leaves the window alone. While another capture waits for the user's selection its overlays
    // stay in front and the window hidden.
    if (job->source != CaptureSource::screen || otherAreaCaptureSelecting(job)) {
        return;
    }
    const std::optional<QString> task =
        results.front().windowDetails ? results.front().windowDetails->aiAssistantTask : std::nullopt;
    if (task == QLatin1String("Copy text") || task == QLatin1String("Web search")) {
        // Nothing was stored: the user goes back to where they were, the main window shown only if it was.
        giveMainWindowBack(*job);
        return;
    }
    makeMainWindowVisibleAgain(mainWindow_.get());
    if (!results.front().windowDetails) {
        return;
    }
    // A stored screenshot is shown: the main window comes forward.
    if (mainWindow_) {
        mainWindow_->show();
        mainWindow_->bringToFront();
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
