#include "lumetrove/library/ScreenshotsDB.h"
#include "lumetrove/platform/Log.h"
#include "sqlite/Connection.h"
#include "sqlite/Error.h"

#include <mutex>
#include <string_view>
#include <unordered_map>

namespace lumetrove {

/// The rows of `screenshots` and `folders_screenshots` that the connection changed, told by SQLite's update hook
/// (which also sees the changes of triggers and of statements run straight on the connection), each with the
/// generation of its last change.
struct ScreenshotsDB::ChangeLog {
    /// Beyond this many changed screenshots a reader reads everything again rather than each one.
    static constexpr std::size_t remembered = 20'000;

    std::mutex mutex;
    /// The connection whose changes are logged.
    const void* connection = nullptr;
    quint64 generation = 1;
    /// Changes up to this generation are no longer known one by one.
    quint64 forgottenUpTo = 0;
    std::unordered_map<qint64, quint64> screenshots;
    quint64 linksChangedAt = 0;

    void note(std::string_view table, qint64 rowid)
    {
        const std::lock_guard lock(mutex);
        if (table == "screenshots") {
            ++generation;
            if (screenshots.size() >= remembered) {
                screenshots.clear();
                forgottenUpTo = generation;
            }
            screenshots[rowid] = generation;
        } else if (table == "folders_screenshots") {
            linksChangedAt = ++generation;
        }
    }
};

std::shared_ptr<ScreenshotsDB::ChangeLog> ScreenshotsDB::newChangeLog()
{
    return std::make_shared<ChangeLog>();
}

void ScreenshotsDB::forgetChanges()
{
    const std::lock_guard lock(changeLog_->mutex);
    changeLog_->forgottenUpTo = ++changeLog_->generation;
}

LibraryChanges ScreenshotsDB::changesSince(std::optional<LibraryChangeCursor>& cursor)
{
    const std::shared_ptr<sqlite::Connection> db = db_;
    if (!db) {
        cursor.reset();
        return LibraryChanges{};
    }
    const std::shared_ptr<ChangeLog> log = changeLog_;
    bool watching = false;
    {
        const std::lock_guard lock(log->mutex);
        watching = log->connection == db.get();
    }
    if (!watching) {
        // Not under the log's lock: the hook takes it while the connection is held.
        db->setUpdateHook([log](sqlite::Connection::Operation, std::string_view, std::string_view table,
                                std::int64_t rowid) { log->note(table, rowid); });
        const std::lock_guard lock(log->mutex);
        log->connection = db.get();
        log->forgottenUpTo = ++log->generation; // nothing before the hook is known
    }
    qint64 dataVersion = -1;
    try {
        const std::optional<sqlite::Binding> version = db->scalar("PRAGMA data_version");
        dataVersion = version ? std::get<std::int64_t>(*version) : 0;
    } catch (const sqlite::Error& error) {
        printLine(QString::fromStdString(error.what()));
    }

    LibraryChanges changes;
    const std::lock_guard lock(log->mutex);
    if (cursor && cursor->connection == db.get() && cursor->dataVersion == dataVersion && dataVersion >= 0 &&
        cursor->generation >= log->forgottenUpTo) {
        changes.everything = false;
        for (const auto& [id, generation] : log->screenshots) {
            if (generation > cursor->generation) {
                changes.screenshots.push_back(id);
            }
        }
        changes.links = log->linksChangedAt > cursor->generation;
    }
    cursor = LibraryChangeCursor{db.get(), log->generation, dataVersion};
    return changes;
}

} // namespace lumetrove
