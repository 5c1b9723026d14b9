#pragma once

#include <QString>
#include <optional>

namespace lumetrove {

// File moves of the library's images. None of them follows a symbolic link or replaces an existing entry
// of any kind (file, directory, link, dangling link): a library image is never written through a link to
// somewhere else, and never over another file.

/// True when anything at all is at `path`, a dangling symbolic link included.
bool entryExists(const QString& path);

/// Moves the entry at `from` to `to`, which must not exist. Within one file system a rename that refuses to
/// replace; across file systems a copy into a newly created file (never through a link), then the source
/// is removed. The error's description on failure, none on success.
std::optional<QString> moveWithoutReplacing(const QString& from, const QString& to);

/// Makes the regular file at `path` readable and writable by its owner only (0600). A link, or anything but a
/// regular file, is left alone; opening never blocks (a FIFO). The error's description on failure.
std::optional<QString> restrictFileToOwner(const QString& path);

} // namespace lumetrove
