#include "lumetrove/library/Screenshot.h"

#include "lumetrove/library/DataDirectories.h"
#include "lumetrove/library/FileOperations.h"
#include "lumetrove/library/LibraryProblems.h"
#include "lumetrove/library/ScreenshotsDB.h"
#include "lumetrove/platform/DesktopApplications.h"
#include "lumetrove/platform/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QImage>
#include <QJsonObject>
#include <QJsonValue>
#include <QLocale>
#include <QThreadPool>
#include <QTimeZone>
#include <QtConcurrent/QtConcurrentRun>

namespace lumetrove {
namespace {

/// Longest file base name in UTF-8 bytes: with "-<number>.png" it stays well inside NAME_MAX (255).
constexpr qsizetype maximumBaseNameBytes = 200;

QString pathIn(const QString& directory, const QString& fileName)
{
    return directory + QLatin1Char('/') + fileName;
}

QString urlText(const QUrl& url)
{
    return url.toString(QUrl::FullyEncoded);
}

void reportFileNotRenamed(const std::optional<QString>& name, const QString& failure)
{
    reportLibraryProblem(QStringLiteral("The file of “%1” could not be renamed: %2")
                             .arg(name.value_or(QStringLiteral("a screenshot")), failure));
}

} // namespace

QString screenshotFileBaseName(const QString& name)
{
    QString base;
    base.reserve(name.size());
    for (const QChar character : name) {
        if (character == QLatin1Char('/')) {
            base += QLatin1Char('-');
        } else if (character.unicode() >= 0x20 && character.unicode() != 0x7f) {
            base += character;
        }
    }
    if (base.toUtf8().size() > maximumBaseNameBytes) {
        qsizetype length = 0;
        qsizetype bytes = 0;
        while (length < base.size()) {
            const qsizetype step = base.at(length).isHighSurrogate() && length + 1 < base.size() ? 2 : 1;
            const qsizetype stepBytes = base.mid(length, step).toUtf8().size();
            if (bytes + stepBytes > maximumBaseNameBytes) {
                break;
            }
            bytes += stepBytes;
            length += step;
        }
        base.truncate(length);
    }
    return base.isEmpty() ? QStringLiteral("Screenshot") : base;
}

namespace {

std::optional<QUrl> parseUrl(const QString& text)
{
    QUrl url(text, QUrl::StrictMode);
    return url.isValid() ? std::optional<QUrl>(std::move(url)) : std::nullopt;
}

} // namespace

Screenshot::Screenshot(ScreenshotRow row, std::shared_ptr<ScreenshotsDB> store, QObject* parent)
    : QObject(parent), id_(row.id), folderId_(row.folderId), imageUrl_(parseUrl(row.path)), text_(std::move(row.text)),
      createdAt_(std::move(row.createdAt)), name_(std::move(row.name)), keywords_(std::move(row.keywords)),
      description_(std::move(row.description)), aiResults_(std::move(row.aiResults)),
      aiAssistantTask_(std::move(row.aiAssistantTask)), aiAssistantResults_(std::move(row.aiAssistantResults)),
      capturedAppName_(std::move(row.capturedAppName)), capturedAppBundleId_(std::move(row.capturedAppBundleId)),
      store_(std::move(store)), detailsRead_(row.detailsRead), wasImported_(row.wasImported),
      isAIAssistantTask_(row.isAIAssistantTask)
{
    if (!detailsRead_ && row.textSnippet) {
        textSnippet_ = std::move(*row.textSnippet);
    }
}

Screenshot::~Screenshot() = default;

template <typename T, typename Signal> void Screenshot::publish(T& field, T value, Signal signal)
{
    field = std::move(value);
    emit(this->*signal)(field);
    emit changed();
}

std::shared_ptr<Screenshot> Screenshot::fromRow(ScreenshotRow row, std::shared_ptr<ScreenshotsDB> store)
{
    return std::make_shared<Screenshot>(std::move(row), std::move(store));
}

ScreenshotsDB& Screenshot::store() const
{
    return store_ ? *store_ : *ScreenshotsDB::shared();
}

std::shared_ptr<ScreenshotsDB> Screenshot::sharedStore() const
{
    return store_ ? store_ : ScreenshotsDB::shared();
}

QString Screenshot::textSnippet() const
{
    if (detailsRead_ || textAssigned_) {
        return text().value_or(QString()).left(screenshotTextSnippetLength);
    }
    return textSnippet_;
}

void Screenshot::loadDetails()
{
    if (detailsRead_ || detailsLoading_) {
        return;
    }
    detailsLoading_ = true;
    // The watcher is the record's: a record that is gone by then takes nothing.
    auto* watcher = new QFutureWatcher<std::optional<ScreenshotDetails>>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        watcher->deleteLater();
        takeDetails(watcher->result());
    });
    watcher->setFuture(QtConcurrent::run(QThreadPool::globalInstance(), [store = sharedStore(), id = id_] {
        return std::optional<ScreenshotDetails>(store->screenshotDetails(id));
    }));
}

void Screenshot::takeDetails(const std::optional<ScreenshotDetails>& details)
{
    detailsLoading_ = false;
    detailsRead_ = true;
    textSnippet_ = QString();
    if (details) {
        if (!textAssigned_) {
            text_ = details->text;
        }
        if (!aiResultsAssigned_ && details->aiResults) {
            publish(aiResults_, details->aiResults, &Screenshot::aiResultsChanged);
        }
        if (!aiAssistantResultsAssigned_ && details->aiAssistantResults) {
            publish(aiAssistantResults_, details->aiAssistantResults, &Screenshot::aiAssistantResultsChanged);
        }
    }
    emit detailsLoaded();
    emit changed();
}

void Screenshot::loadThumbnailImage()
{
    if (thumbnailLoading_) {
        return;
    }
    thumbnailLoading_ = true;
    auto* watcher = new QFutureWatcher<std::shared_ptr<const QImage>>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        watcher->deleteLater();
        thumbnailLoading_ = false;
        thumbnailImage_ = watcher->result();
        emit thumbnailImageLoaded();
    });
    watcher->setFuture(QtConcurrent::run(QThreadPool::globalInstance(), [id = id_]() -> std::shared_ptr<const QImage> {
        const std::optional<QString> path = thumbnailFilePath(id);
        if (!path) {
            return nullptr;
        }
        return std::make_shared<const QImage>(*path);
    }));
}

// Published fields -----------------------------------------------------------------------------------------

void Screenshot::setUnconfirmedAIName(std::optional<QString> value)
{
    publish(unconfirmedAIName_, std::move(value), &Screenshot::unconfirmedAINameChanged);
}

void Screenshot::setUnconfirmedAIDescription(std::optional<QString> value)
{
    publish(unconfirmedAIDescription_, std::move(value), &Screenshot::unconfirmedAIDescriptionChanged);
}

void Screenshot::setUnconfirmedAIKeywords(std::optional<QString> value)
{
    publish(unconfirmedAIKeywords_, std::move(value), &Screenshot::unconfirmedAIKeywordsChanged);
}

void Screenshot::setUnconfirmedAIRawResult(std::optional<QString> value)
{
    publish(unconfirmedAIRawResult_, std::move(value), &Screenshot::unconfirmedAIRawResultChanged);
}

void Screenshot::setCurrentlyAIProcessing(bool value)
{
    publish(currentlyAIProcessing_, value, &Screenshot::currentlyAIProcessingChanged);
}

void Screenshot::setDescription(std::optional<QString> value)
{
    publish(description_, std::move(value), &Screenshot::descriptionChanged);
}

void Screenshot::setAiResults(std::optional<QString> value)
{
    aiResultsAssigned_ = !detailsRead_; // a later load must not replace the value set here
    publish(aiResults_, std::move(value), &Screenshot::aiResultsChanged);
}

void Screenshot::takeRecognizedText(QString text)
{
    textAssigned_ = !detailsRead_; // a later load must not replace the value set here
    text_ = std::move(text);
    emit changed();
}

void Screenshot::setAiAssistantTask(std::optional<QString> value)
{
    publish(aiAssistantTask_, std::move(value), &Screenshot::aiAssistantTaskChanged);
}

void Screenshot::setAiAssistantResults(std::optional<QString> value)
{
    aiAssistantResultsAssigned_ = !detailsRead_;
    publish(aiAssistantResults_, std::move(value), &Screenshot::aiAssistantResultsChanged);
}

void Screenshot::setKeywords(std::optional<QString> value)
{
    const std::optional<QString> old = keywords_;
    publish(keywords_, std::move(value), &Screenshot::keywordsChanged);
    if (keywords_ != old) {
        save();
    }
}

void Screenshot::setName(std::optional<QString> value)
{
    const std::optional<QString> old = name_;
    storeName(std::move(value));
    nameDidChange(old);
}

void Screenshot::storeName(std::optional<QString> value)
{
    publish(name_, std::move(value), &Screenshot::nameChanged);
}

void Screenshot::nameDidChange(const std::optional<QString>& old)
{
    if (name_ && name_->trimmed().isEmpty()) {
        const std::optional<QString> blank = name_;
        storeName(defaultName());
        nameDidChange(blank);
    }
    if (name_ == old) {
        return;
    }
    const bool rename = !noRename_;
    noRename_ = false;
    edit([&] { renamePending_ = renamePending_ || rename; });
}

// Derived values -------------------------------------------------------------------------------------------

std::optional<QDateTime> screenshotCreatedDate(const std::optional<QString>& createdAt)
{
    if (!createdAt || createdAt->size() != 19 || createdAt->at(10) != QLatin1Char(' ')) {
        return std::nullopt;
    }
    const QDate date = QDate::fromString(createdAt->left(10), QStringLiteral("yyyy-MM-dd"));
    const QTime time = QTime::fromString(createdAt->mid(11), QStringLiteral("HH:mm:ss"));
    if (!date.isValid() || !time.isValid()) {
        return std::nullopt;
    }
    return QDateTime(date, time, QTimeZone::utc());
}

QString screenshotDisplayDate(const std::optional<QDateTime>& created)
{
    if (!created) {
        return QString();
    }
    const QDateTime local = created->toLocalTime();
    const QLocale locale = QLocale::system();
    if (local.date() == QDate::currentDate()) {
        return locale.toString(local.time(), QLocale::ShortFormat);
    }
    return locale.toString(local.date(), QLocale::ShortFormat);
}

QString screenshotDefaultName(const std::optional<QDateTime>& created)
{
    if (!created) {
        return QStringLiteral("Screenshot");
    }
    return QStringLiteral("Screen Shot ") +
           QLocale::system().toString(created->toLocalTime(), QStringLiteral("yyyy-MM-dd 'at' hh.mm.ss AP"));
}

std::optional<QDateTime> Screenshot::createdDate() const
{
    return screenshotCreatedDate(createdAt_);
}

QString Screenshot::displayDate() const
{
    return screenshotDisplayDate(createdDate());
}

QString Screenshot::defaultName() const
{
    return screenshotDefaultName(createdDate());
}

// Operations -----------------------------------------------------------------------------------------------

void Screenshot::renameScreenshotFile(bool useDefaultName)
{
    edit([&] {
        renamePending_ = true;
        if (useDefaultName) {
            // The name takes the default name without a rename of its own: the one above covers it.
            noRename_ = true;
            const std::optional<QString> previous = name_;
            storeName(defaultName());
            nameDidChange(previous);
        }
    });
}

std::optional<QString> Screenshot::renameTarget() const
{
    const std::optional<QString> directory = screenshotsDirectory();
    const std::optional<QUrl>& url = imageUrl();
    if (!directory || !url) {
        return std::nullopt;
    }
    const QString defaultBase = defaultName();
    QString base;
    if (!name_ || *name_ == defaultBase) {
        base = defaultBase;
    } else if (wasImported_) {
        base = *name_;
    } else {
        base = QStringLiteral("Screenshot - ") + *name_;
    }
    base = screenshotFileBaseName(base);
    const QString current = QDir::cleanPath(url->toLocalFile());
    QString target = pathIn(*directory, base + QLatin1String(".png"));
    if (QDir::cleanPath(target) == current) {
        return std::nullopt;
    }
    for (int number = 1; entryExists(target); ++number) {
        target = pathIn(*directory, base + QLatin1Char('-') + QString::number(number) + QLatin1String(".png"));
    }
    return target;
}

void Screenshot::moveKeptImage(const QString& from, const QString& to)
{
    std::optional<QString> placed = to;
    if (const std::optional<QString> error = moveWithoutReplacing(from, to)) {
        systemLog(QStringLiteral("An error occurred while renaming in renameScreenshotFile : ") + *error);
        placed.reset();
        if (const std::optional<QString> directory = screenshotsDirectory()) {
            const QString fallback = pathIn(*directory, screenshotFileBaseName(defaultName()) + QLatin1String(".png"));
            if (const std::optional<QString> fallbackError = moveWithoutReplacing(from, fallback)) {
                systemLog(QStringLiteral("Last ditch effort to rename file failed in renameScreenshotFile : ") +
                          *fallbackError);
                reportFileNotRenamed(name_, *fallbackError);
            } else {
                placed = fallback;
            }
        }
    }
    const QString at = placed.value_or(from);
    imageUrl_ = QUrl::fromLocalFile(at);
    if (at != to) {
        // The row names where the image was to go: it is told where the image is. Should that fail too, the
        // record of the move points the row at the image on the next open.
        (void)store().updateScreenshot(id_, ScreenshotEdits{.path = urlText(*imageUrl_), .writeTexts = false});
    }
    store().noteFileMoved(id_);
}

void Screenshot::deleteFiles()
{
    if (const std::optional<QUrl>& url = imageUrl()) {
        QFile image(url->toLocalFile());
        if (!image.moveToTrash()) {
            systemLog(QStringLiteral("Failed to move screenshot to trash: ") + image.errorString());
            reportLibraryProblem(QStringLiteral("“%1” could not be moved to the Trash: %2")
                                     .arg(name_.value_or(defaultName()), image.errorString()));
        }
    }
    const std::optional<QString> path = thumbnailFilePath(id_);
    if (!path) {
        return;
    }
    QFile thumbnail(*path);
    if (!thumbnail.remove()) {
        printLine(QStringLiteral("Could not delete screenshot or thumbnail: ") + thumbnail.errorString());
    }
}

bool Screenshot::save()
{
    return edit([] {});
}

bool Screenshot::edit(const std::function<void()>& assignments)
{
    ++editDepth_;
    assignments();
    if (--editDepth_ > 0) {
        return true; // the outermost edit writes
    }
    const bool rename = std::exchange(renamePending_, false);
    const std::optional<QString> target = rename ? renameTarget() : std::nullopt;
    const QString source = imageUrl() ? imageUrl()->toLocalFile() : QString();
    const std::optional<QUrl>& url = imageUrl();
    // An AI answer not loaded yet (nor assigned) is left as the row holds it.
    const StoreResult<ScreenshotRow> written = store().updateScreenshot(
        id_, ScreenshotEdits{.name = name_,
                             .description = description_,
                             .keywords = keywords_,
                             .path = target ? std::optional<QString>(urlText(QUrl::fromLocalFile(*target)))
                                     : url  ? std::optional<QString>(urlText(*url))
                                            : std::nullopt,
                             .aiResults = aiResults(),
                             .aiAssistantTask = aiAssistantTask(),
                             .aiAssistantResults = aiAssistantResults(),
                             .writeAIResults = detailsRead_ || aiResultsAssigned_,
                             .writeAIAssistantResults = detailsRead_ || aiAssistantResultsAssigned_});
    if (!written) {
        revertToStored();
        return false;
    }
    ScreenshotRow row = *written;
    if (target) {
        // Moved only once the row that names the new file is kept: a failed write moves nothing.
        moveKeptImage(source, *target);
        row.path = urlText(*imageUrl_);
    }
    emit stored(row);
    return true;
}

bool Screenshot::moveToFolder(std::optional<qint64> folderId)
{
    const StoreResult<ScreenshotRow> written =
        store().updateScreenshot(id_, ScreenshotEdits{.writeTexts = false, .folder = folderId});
    if (!written) {
        return false;
    }
    folderId_ = written->folderId;
    emit changed();
    emit stored(*written);
    return true;
}

void Screenshot::revertToStored()
{
    // Nothing was moved for the write that failed: only the fields go back to what the row holds. A library
    // that refuses writes still answers reads; one that answers neither leaves the record as it is.
    if (const std::optional<ScreenshotRow> row = store().screenshotRow(id_)) {
        if (name_ != row->name) {
            storeName(row->name);
        }
        if (description_ != row->description) {
            publish(description_, row->description, &Screenshot::descriptionChanged);
        }
        if (keywords_ != row->keywords) {
            publish(keywords_, row->keywords, &Screenshot::keywordsChanged);
        }
        if (aiAssistantTask() != row->aiAssistantTask) {
            publish(aiAssistantTask_, row->aiAssistantTask, &Screenshot::aiAssistantTaskChanged);
        }
    }
    if (const std::optional<ScreenshotDetails> details = store().screenshotDetails(id_)) {
        if (aiResults() != details->aiResults) {
            publish(aiResults_, details->aiResults, &Screenshot::aiResultsChanged);
        }
        if (aiAssistantResults() != details->aiAssistantResults) {
            publish(aiAssistantResults_, details->aiAssistantResults, &Screenshot::aiAssistantResultsChanged);
        }
    }
    emit saveFailed();
}

QJsonObject Screenshot::encode() const
{
    QJsonObject object;
    object.insert(QStringLiteral("id"), id_);
    if (folderId_) {
        object.insert(QStringLiteral("folderId"), *folderId_);
    }
    if (const std::optional<QUrl>& url = imageUrl()) {
        object.insert(QStringLiteral("imageUrl"), urlText(*url));
    }
    if (const std::optional<QString>& recognized = text()) {
        object.insert(QStringLiteral("text"), *recognized);
    }
    if (capturedAppName_) {
        object.insert(QStringLiteral("capturedAppName"), *capturedAppName_);
    }
    if (capturedAppBundleId_) {
        object.insert(QStringLiteral("capturedAppBundleId"), *capturedAppBundleId_);
    }
    return object;
}

namespace {

qint64 decodeInteger(const QJsonValue& value, const char* key)
{
    const double number = value.toDouble();
    if (!value.isDouble() || number != static_cast<double>(static_cast<qint64>(number))) {
        throw ScreenshotDecodingError(std::string("Expected an integer for \"") + key + "\"");
    }
    return static_cast<qint64>(number);
}

std::optional<QString> decodeText(const QJsonObject& object, const char* key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull()) {
        return std::nullopt;
    }
    if (!value.isString()) {
        throw ScreenshotDecodingError(std::string("Expected a text for \"") + key + "\"");
    }
    return value.toString();
}

} // namespace

std::shared_ptr<Screenshot> Screenshot::decode(const QJsonObject& object)
{
    const QJsonValue id = object.value(QStringLiteral("id"));
    if (id.isUndefined()) {
        throw ScreenshotDecodingError("No value for the key \"id\"");
    }
    const QJsonValue folder = object.value(QStringLiteral("folderId"));
    std::optional<qint64> folderId;
    if (!folder.isUndefined() && !folder.isNull()) {
        folderId = decodeInteger(folder, "folderId");
    }
    ScreenshotRow row;
    row.id = decodeInteger(id, "id");
    row.folderId = folderId;
    if (const std::optional<QString> url = decodeText(object, "imageUrl")) {
        if (!parseUrl(*url)) {
            throw ScreenshotDecodingError("Invalid URL for \"imageUrl\"");
        }
        row.path = *url;
    }
    row.text = decodeText(object, "text");
    row.capturedAppName = decodeText(object, "capturedAppName");
    row.capturedAppBundleId = decodeText(object, "capturedAppBundleId");
    return fromRow(std::move(row), nullptr);
}

} // namespace lumetrove
