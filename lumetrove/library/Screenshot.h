#pragma once

#include "lumetrove/library/ScreenshotRow.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

class QImage;
class QJsonObject;

namespace lumetrove {

class ScreenshotsDB;

/// Transfer data of a screenshot that cannot be read back (no "id", or a field of the wrong type).
class ScreenshotDecodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// The observable record of one screenshot: a row of `screenshots` with its image and thumbnail files.
/// Shared (through `ScreenshotPtr`) by the list, the detail pane and the drag source; used on the main
/// thread. Every published property emits its signal and `changed` on every assignment. Setting `name`
/// renames the image file and saves, setting `keywords` saves, but only when the value really changes;
/// whoever sets the other fields calls `save`.
///
/// Two records are equal when their ids and folder ids are; no other field counts.
class Screenshot : public QObject {
    Q_OBJECT
    Q_PROPERTY(std::optional<QString> unconfirmedAIName READ unconfirmedAIName WRITE setUnconfirmedAIName NOTIFY
                   unconfirmedAINameChanged)
    Q_PROPERTY(std::optional<QString> unconfirmedAIDescription READ unconfirmedAIDescription WRITE
                   setUnconfirmedAIDescription NOTIFY unconfirmedAIDescriptionChanged)
    Q_PROPERTY(std::optional<QString> unconfirmedAIKeywords READ unconfirmedAIKeywords WRITE setUnconfirmedAIKeywords
                   NOTIFY unconfirmedAIKeywordsChanged)
    Q_PROPERTY(std::optional<QString> unconfirmedAIRawResult READ unconfirmedAIRawResult WRITE setUnconfirmedAIRawResult
                   NOTIFY unconfirmedAIRawResultChanged)
    Q_PROPERTY(bool currentlyAIProcessing READ currentlyAIProcessing WRITE setCurrentlyAIProcessing NOTIFY
                   currentlyAIProcessingChanged)
    Q_PROPERTY(std::optional<QString> name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(std::optional<QString> keywords READ keywords WRITE setKeywords NOTIFY keywordsChanged)
    Q_PROPERTY(std::optional<QString> description READ description WRITE setDescription NOTIFY descriptionChanged)
    Q_PROPERTY(std::optional<QString> aiResults READ aiResults WRITE setAiResults NOTIFY aiResultsChanged)
    Q_PROPERTY(std::optional<QString> aiAssistantTask READ aiAssistantTask WRITE setAiAssistantTask NOTIFY
                   aiAssistantTaskChanged)
    Q_PROPERTY(std::optional<QString> aiAssistantResults READ aiAssistantResults WRITE setAiAssistantResults NOTIFY
                   aiAssistantResultsChanged)

public:
    /// A record of these stored values, made without running a change handler; the "file://" path text is
    /// parsed into `imageUrl` (none when it does not parse). `store` is the database that `save` writes to;
    /// null means `ScreenshotsDB::shared()`.
    explicit Screenshot(ScreenshotRow row, std::shared_ptr<ScreenshotsDB> store = nullptr, QObject* parent = nullptr);
    /// The shared record of a loaded row.
    static std::shared_ptr<Screenshot> fromRow(ScreenshotRow row, std::shared_ptr<ScreenshotsDB> store);
    ~Screenshot() override;

    // Constant and plain fields ----------------------------------------------------------------------------

    qint64 id() const { return id_; }
    const std::optional<qint64>& folderId() const { return folderId_; }
    const std::optional<QUrl>& imageUrl() const { return imageUrl_; }
    /// What is loaded: for a record of a list load, none until `loadDetails` has read it (see `textSnippet`).
    const std::optional<QString>& text() const { return text_; }
    /// The start of the recognised text, as a list row shows it: `text` cut to `screenshotTextSnippetLength`
    /// once loaded, else what the list load read (nothing for a row with a description).
    QString textSnippet() const;
    bool waitingForAIProcess() const { return waitingForAIProcess_; }
    void setWaitingForAIProcess(bool waiting) { waitingForAIProcess_ = waiting; }
    const std::optional<QString>& createdAt() const { return createdAt_; }
    /// One-shot: the next change of `name` does not rename the file.
    bool noRename() const { return noRename_; }
    void setNoRename(bool noRename) { noRename_ = noRename; }
    bool wasImported() const { return wasImported_; }
    bool isAIAssistantTask() const { return isAIAssistantTask_; }
    const std::optional<QString>& capturedAppName() const { return capturedAppName_; }
    const std::optional<QString>& capturedAppBundleId() const { return capturedAppBundleId_; }

    // Published fields -------------------------------------------------------------------------------------

    const std::optional<QString>& unconfirmedAIName() const { return unconfirmedAIName_; }
    void setUnconfirmedAIName(std::optional<QString> value);
    const std::optional<QString>& unconfirmedAIDescription() const { return unconfirmedAIDescription_; }
    void setUnconfirmedAIDescription(std::optional<QString> value);
    const std::optional<QString>& unconfirmedAIKeywords() const { return unconfirmedAIKeywords_; }
    void setUnconfirmedAIKeywords(std::optional<QString> value);
    const std::optional<QString>& unconfirmedAIRawResult() const { return unconfirmedAIRawResult_; }
    void setUnconfirmedAIRawResult(std::optional<QString> value);
    bool currentlyAIProcessing() const { return currentlyAIProcessing_; }
    void setCurrentlyAIProcessing(bool value);
    const std::optional<QString>& name() const { return name_; }
    /// A real change renames the file (unless `noRename`) and saves; a blank name becomes `defaultName`.
    void setName(std::optional<QString> value);
    const std::optional<QString>& keywords() const { return keywords_; }
    /// A real change saves.
    void setKeywords(std::optional<QString> value);
    const std::optional<QString>& description() const { return description_; }
    void setDescription(std::optional<QString> value);
    /// What is loaded, as `text`.
    const std::optional<QString>& aiResults() const { return aiResults_; }
    void setAiResults(std::optional<QString> value);
    const std::optional<QString>& aiAssistantTask() const { return aiAssistantTask_; }
    void setAiAssistantTask(std::optional<QString> value);
    /// What is loaded, as `text`.
    const std::optional<QString>& aiAssistantResults() const { return aiAssistantResults_; }

    /// True when `text`, `aiResults` and `aiAssistantResults` hold the stored values (or later assignments):
    /// always for a record not made by a list load.
    bool hasDetails() const { return detailsRead_; }
    /// Reads the long texts that a list load leaves out, on the thread pool; `detailsLoaded` tells when they
    /// are in. A field assigned in the meantime keeps its assigned value. Does nothing when they are loaded
    /// or loading.
    void loadDetails();
    void setAiAssistantResults(std::optional<QString> value);

    // Derived values, computed on every read ---------------------------------------------------------------

    /// The thumbnail file's image as `loadThumbnailImage` read it (a null image when it cannot be read); null
    /// without a thumbnails directory, and until it has been read.
    const std::shared_ptr<const QImage>& thumbnailImage() const { return thumbnailImage_; }
    /// Reads the thumbnail file on the thread pool; `thumbnailImageLoaded` tells when `thumbnailImage` holds it.
    void loadThumbnailImage();
    /// `createdAt` read as a UTC time; none when absent or not of the form "yyyy-MM-dd HH:mm:ss".
    std::optional<QDateTime> createdDate() const;
    /// The local time of day for a screenshot of today, else the local date; "" without a date.
    QString displayDate() const;
    /// "Screen Shot yyyy-MM-dd at hh.mm.ss AP" in local time, or "Screenshot" without a date.
    QString defaultName() const;

    // Operations -------------------------------------------------------------------------------------------

    /// Moves the image file to a name made from the current name (or the default name, which `useDefaultName`
    /// also makes the name), inside the screenshots directory, never over an existing file, and saves. A file
    /// that cannot be moved is told to the user (`reportLibraryProblem`).
    void renameScreenshotFile(bool useDefaultName);
    /// Moves the image file to the Trash and removes the thumbnail file; the database row stays. An image that
    /// cannot be moved to the Trash is told to the user.
    void deleteFiles();
    /// Takes the text recognised after the row was made, which the list manager has stored; sends `changed`.
    void takeRecognizedText(QString text);
    /// Writes the editable fields to the database, in one transaction with the image's move when the name
    /// changed since; true when the row holds them. The file moves only once the row that names it is kept.
    /// When the write fails (a full disk, a read-only library: the store tells the user), nothing is moved and
    /// the record goes back to what the row holds, so that nothing shows a change the library did not keep:
    /// the editable fields take the stored values again (each publishing its signal), after which
    /// `saveFailed` is sent.
    bool save();
    /// Runs `assignments` (setters, whose change handlers would rename and save) and then saves once: every
    /// field they set, and the file move of a new name, is kept in one write or not at all. Inside another
    /// edit, the outer one writes.
    bool edit(const std::function<void()>& assignments);
    /// Puts the screenshot in this folder alone (none: in no folder), in one write; false when it was not kept
    /// (the store tells the user).
    bool moveToFolder(std::optional<qint64> folderId);

    /// The transfer form: "id" and, when present, "folderId", "imageUrl", "text", "capturedAppName",
    /// "capturedAppBundleId".
    QJsonObject encode() const;
    /// A standalone record from the transfer form. Throws `ScreenshotDecodingError`.
    static std::shared_ptr<Screenshot> decode(const QJsonObject& object);

    friend bool operator==(const Screenshot& a, const Screenshot& b)
    {
        return a.id_ == b.id_ && a.folderId_ == b.folderId_;
    }

signals:
    /// Any published field was assigned.
    void changed();
    /// `loadDetails` is done: the long texts are in.
    void detailsLoaded();
    /// `loadThumbnailImage` is done.
    void thumbnailImageLoaded();
    /// A save failed and the record holds the stored values again: views that keep a copy of a field (an
    /// editor's text) show the record's.
    void saveFailed();
    /// A write was kept: `row` is the screenshot's row as the library now holds it.
    void stored(const lumetrove::ScreenshotRow& row);
    void unconfirmedAINameChanged(const std::optional<QString>& value);
    void unconfirmedAIDescriptionChanged(const std::optional<QString>& value);
    void unconfirmedAIKeywordsChanged(const std::optional<QString>& value);
    void unconfirmedAIRawResultChanged(const std::optional<QString>& value);
    void currentlyAIProcessingChanged(bool value);
    void nameChanged(const std::optional<QString>& value);
    void keywordsChanged(const std::optional<QString>& value);
    void descriptionChanged(const std::optional<QString>& value);
    void aiResultsChanged(const std::optional<QString>& value);
    void aiAssistantTaskChanged(const std::optional<QString>& value);
    void aiAssistantResultsChanged(const std::optional<QString>& value);

private:
    template <typename T, typename Signal> void publish(T& field, T value, Signal signal);
    void storeName(std::optional<QString> value);
    /// Where a rename puts the image: a free path in the screenshots directory, named after the name; none
    /// when the image is there already.
    std::optional<QString> renameTarget() const;
    /// After the row that names `to` was kept: moves the image there, else to the default name, else leaves
    /// it and points the row back at it.
    void moveKeptImage(const QString& from, const QString& to);
    void nameDidChange(const std::optional<QString>& old);
    /// After a failed save: the editable fields as the row holds them.
    void revertToStored();
    ScreenshotsDB& store() const;
    /// Stores the loaded long texts, except those assigned since the record was made.
    void takeDetails(const std::optional<ScreenshotDetails>& details);
    std::shared_ptr<ScreenshotsDB> sharedStore() const;

    qint64 id_;
    std::optional<qint64> folderId_;
    std::optional<QUrl> imageUrl_;
    std::optional<QString> text_;
    /// The start of the recognised text that a list load read, until the text itself is loaded.
    QString textSnippet_;
    std::optional<QString> createdAt_;
    std::optional<QString> name_;
    std::optional<QString> keywords_;
    std::optional<QString> description_;
    std::optional<QString> aiResults_;
    std::optional<QString> aiAssistantTask_;
    std::optional<QString> aiAssistantResults_;
    std::optional<QString> unconfirmedAIName_;
    std::optional<QString> unconfirmedAIDescription_;
    std::optional<QString> unconfirmedAIKeywords_;
    std::optional<QString> unconfirmedAIRawResult_;
    std::optional<QString> capturedAppName_;
    std::optional<QString> capturedAppBundleId_;
    std::shared_ptr<const QImage> thumbnailImage_;
    std::shared_ptr<ScreenshotsDB> store_;
    /// False until the text and the AI answers hold the stored values.
    bool detailsRead_ = true;
    bool detailsLoading_ = false;
    /// Assigned before the stored values were loaded: the loaded value of the field is not taken.
    bool textAssigned_ = false;
    bool aiResultsAssigned_ = false;
    bool aiAssistantResultsAssigned_ = false;
    bool thumbnailLoading_ = false;
    bool waitingForAIProcess_ = false;
    bool noRename_ = false;
    /// Edits under way (`edit`), and whether the write at the end of the outermost one renames the file.
    int editDepth_ = 0;
    bool renamePending_ = false;
    bool wasImported_ = false;
    bool isAIAssistantTask_ = false;
    bool currentlyAIProcessing_ = false;
};

using ScreenshotPtr = std::shared_ptr<Screenshot>;

/// `Screenshot::createdDate` of a stored creation time.
std::optional<QDateTime> screenshotCreatedDate(const std::optional<QString>& createdAt);
/// `Screenshot::displayDate` of a creation date.
QString screenshotDisplayDate(const std::optional<QDateTime>& created);
/// `Screenshot::defaultName` of a creation date.
QString screenshotDefaultName(const std::optional<QDateTime>& created);

/// The file name (without ".png") made from a screenshot's name: path separators become "-", control
/// characters and NUL are dropped, and the result is cut to a length that leaves room for a collision
/// number and the extension. The name itself, as the user or the model gave it, is kept in the database.
QString screenshotFileBaseName(const QString& name);

} // namespace lumetrove

Q_DECLARE_METATYPE(lumetrove::ScreenshotPtr)
