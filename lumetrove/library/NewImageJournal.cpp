#include "lumetrove/library/NewImageJournal.h"

#include "lumetrove/library/FileOperations.h"
#include "lumetrove/library/ScreenshotsDB.h"

#include <QUrl>

namespace lumetrove {

std::shared_ptr<NewImageJournal> sharedNewImageJournal()
{
    return ScreenshotsDB::shared();
}

std::optional<QString> writeNewImage(NewImageJournal* journal, const QString& path, const QByteArray& bytes,
                                     const QString& name, bool wasImported)
{
    const QString url = QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
    if (journal) {
        if (const StoreResult<void> noted = journal->recordNewImage(url, name, wasImported); !noted) {
            return noted.error().plainDescription();
        }
    }
    std::optional<QString> error = writeNewFile(path, bytes);
    if (error && journal) {
        // The store logs a note it cannot forget; opening the library sorts out what is left.
        static_cast<void>(journal->forgetNewImage(url));
    }
    return error;
}

} // namespace lumetrove
