#include "lumetrove/library/TextRecognitionBacklog.h"

#include "lumetrove/library/DataDirectories.h"
#include "lumetrove/library/FileOperations.h"
#include "lumetrove/library/ScreenshotsDB.h"
#include "lumetrove/library/ScreenshotsListManager.h"
#include "lumetrove/platform/ImageUtilities.h"
#include "lumetrove/platform/Log.h"
#include "lumetrove/platform/TextRecognizer.h"

#include <QFile>
#include <QMetaObject>
#include <QPointer>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>
#include <atomic>

namespace lumetrove {

TextRecognitionBacklog::TextRecognitionBacklog(ScreenshotsListManager& manager, std::shared_ptr<ScreenshotsDB> store,
                                               std::shared_ptr<TextRecognizer> recognizer, QObject* parent)
    : QObject(parent), manager_(manager), store_(std::move(store)),
      recognizer_(recognizer ? std::move(recognizer) : sharedTextRecognizer())
{
    worker_.setMaxThreadCount(1);
}

TextRecognitionBacklog::~TextRecognitionBacklog()
{
    *stopping_ = true; // the rest waits for the next run
    worker_.waitForDone();
}

namespace {

QImage readUpright(const QString& url)
{
    return readUprightImageFile(QUrl(url).toLocalFile());
}

} // namespace

void TextRecognitionBacklog::start()
{
    // The worker ends before this object does (the destructor waits for it), so it may post to it; what it
    // posts is dropped when the object is gone by then.
    const QPointer<TextRecognitionBacklog> self(this);
    worker_.start([this, self, stopping = stopping_, store = store_, recognizer = recognizer_] {
        const auto deliver = [&](auto work) { QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection); };
        const std::vector<std::pair<qint64, QString>> awaiting =
            store->screenshotsAwaitingText().value_or(std::vector<std::pair<qint64, QString>>());
        // Thumbnails first, which are quick to draw: the list shows every screenshot with its picture long
        // before all texts are read. Their thumbnails went with the library they were listed in, or were never
        // written.
        bool drawn = false;
        for (const auto& [id, path] : awaiting) {
            if (*stopping) {
                return;
            }
            const std::optional<QString> thumbnail = thumbnailFilePath(id);
            if (thumbnail && !entryExists(*thumbnail)) {
                const QImage image = readUpright(path);
                if (!image.isNull() && !writeNewFile(*thumbnail, pngData(renderThumbnail(image)))) {
                    drawn = true;
                }
            }
        }
        if (drawn) {
            deliver([self] {
                if (self) {
                    self->manager_.thumbnailsRedrawn();
                }
            });
        }
        for (const auto& [id, path] : awaiting) {
            if (*stopping) {
                return;
            }
            const QImage image = readUpright(path);
            QString text;
            if (!image.isNull()) {
                try {
                    text = recognizer->recognize(image).joinedLines();
                } catch (const std::exception& error) {
                    printLine(QStringLiteral("Error recognizing text: ") + QString::fromUtf8(error.what()));
                }
            }
            deliver([self, id, text] {
                if (self) {
                    self->manager_.setRecognizedText(id, text);
                }
            });
        }
        deliver([self] {
            if (self) {
                emit self->finished();
            }
        });
    });
}

} // namespace lumetrove
