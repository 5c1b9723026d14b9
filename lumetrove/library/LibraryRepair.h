#pragma once

#include <QSet>
#include <QString>
#include <chrono>
#include <optional>
#include <string>

namespace sqlite {
class Connection;
} // namespace sqlite

namespace lumetrove {

// Finding and mending a library file that SQLite reads as damaged: pages overwritten, cut off, or a full-text
// index that no longer opens. The store (`ScreenshotsDB`) looks for damage when it opens the library and mends
// it then, or when an operation reports it; these are its steps.

/// What a bounded look for damage found.
struct DamageFound {
    /// SQLite's description of the first damage; none when nothing was found.
    std::optional<QString> damage;
    /// Every check ran to its end within the time; false when the time ran out first.
    bool complete = false;
    /// How many checks ran to their end.
    int checksDone = 0;
    /// The full-text index whose own check found it out of step with its content while its pages read well:
    /// rebuilding it mends it. Empty for any other damage.
    std::string staleIndex;
};

/// Looks for damage in the library behind `db` for at most `budget`: the schema, each table with its indexes
/// (SQLite's quick check, the small tables first), then each full-text index opened and checked by itself. A
/// check that the time cuts short finds nothing; whatever it did not reach is found by the operation that
/// reads it. Any thread; takes the connection for the whole look.
DamageFound findDamage(sqlite::Connection& db, std::chrono::milliseconds budget);

/// What a repair read out of a damaged library.
struct SalvagedLibrary {
    /// Screenshots whose row was read whole.
    int screenshots = 0;
    /// Screenshots whose row was read from the list index, without their recognised text (it is to be
    /// recognised again).
    int withoutText = 0;
    /// Screenshots known to have been there (linked to a folder, awaiting text, in an index) whose row could not
    /// be read at all.
    int unreadable = 0;
    int folders = 0;
    /// Folders that screenshots were linked to but whose row could not be read.
    int foldersUnreadable = 0;
    /// Some folder links could not be read.
    bool linksDamaged = false;
    /// The ids of the screenshots read, whole or without text.
    QSet<qint64> ids;
    /// The local paths of the images that recovered rows (or notes of new images in flight) name.
    QSet<QString> listedImages;
};

/// Copies what can still be read of the library behind `damaged` (rows of every table, read around pages that
/// cannot be, and the screenshots' list columns from their index where their row is lost) into `fresh`, a new,
/// empty library at the current version, keeping every id. A failure to read is worked around; a failure to
/// write `fresh` throws `sqlite::Error`. Takes both connections.
SalvagedLibrary salvage(sqlite::Connection& damaged, sqlite::Connection& fresh);

/// Replaces the whole content of `db`'s database with that of `from`, in place: the connection stays open and
/// every holder of it sees the new content. A file whose first page is damaged too is emptied first. Neither
/// may be in a transaction. Throws `sqlite::Error`.
void replaceContent(sqlite::Connection& db, sqlite::Connection& from);

/// A path beside the library file `path` under which its damaged file is kept: ".damaged-" with the date and
/// time appended, and a number after that when a file of that name exists, so that no earlier one is replaced.
QString damagedFilePath(const QString& path);

} // namespace lumetrove
