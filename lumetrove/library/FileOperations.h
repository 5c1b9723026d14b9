#pragma once

#include <QByteArray>
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

/// The name under which `writeNewFile` writes `path` before it is complete: a hidden file beside it.
QString partialFilePath(const QString& path);

/// Writes `bytes` as a new file at `path` (owner read and write only), all or nothing: they go to
/// `partialFilePath(path)` first, which is then renamed to `path` without replacing anything. A file at `path`
/// is therefore always whole, and a run killed part-way leaves at most the partial file. The error's
/// description on failure (then neither file is left), none on success; `path` existing is a failure too.
std::optional<QString> writeNewFile(const QString& path, const QByteArray& bytes);

} // namespace lumetrove
