#pragma once

#include <QString>
#include <optional>

namespace lumetrove {

// Where the library's files live: $XDG_DATA_HOME/Lumetrove (by default ~/.local/share/Lumetrove) with the
// database "db.sqlite3" and the directories "Screenshots" and "Thumbnails". Nothing is cached: every call
// looks again and creates a missing directory, so a directory deleted while the program runs comes back.
// Failures print one line on standard output and give none. Any thread.

/// Absolute path of the application data directory, created when missing. The directories made here (the
/// data directory, "Screenshots", "Thumbnails") are readable by their owner only (0700), and so is every file
/// the library writes (0600): screenshots and recognised text are nobody else's business.
std::optional<QString> appDataDirectory();

/// A data directory that others may enter (made by an earlier version) has every entry in it restricted to
/// its owner, once: directories 0700, files 0600, links left alone. Nothing happens when it is 0700 already.
void restrictDataDirectoryToOwner();

/// Absolute path of the database file; the file itself is neither created nor tested.
std::optional<QString> databaseFilePath();

/// Absolute path of the directory of screenshot image files, created when missing.
std::optional<QString> screenshotsDirectory();

/// Absolute path of the directory of thumbnail files, created when missing.
std::optional<QString> thumbnailsDirectory();

/// File name of the thumbnail of the screenshot with this database id: "thumbnail-<id>.png".
QString thumbnailFileName(qint64 screenshotId);

/// Absolute path of that thumbnail file in the thumbnails directory (created when missing); none without one.
std::optional<QString> thumbnailFilePath(qint64 screenshotId);

} // namespace lumetrove
