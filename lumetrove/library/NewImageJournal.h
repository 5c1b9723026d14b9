#pragma once

#include "lumetrove/library/StoreResult.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>

namespace lumetrove {

/// Where a new image is noted before its file is written, so that an image whose row a killed run never
/// inserted is still listed when the library is next opened. The library store keeps it; the capture and the
/// import write through it and know nothing else of the store. Any thread.
class NewImageJournal {
public:
    virtual ~NewImageJournal() = default;

    /// Notes that a new image is about to be written at the "file://" URL text `path`, to be listed under
    /// `name`. When it cannot be noted, the file must not be written.
    virtual StoreResult<void> recordNewImage(const QString& path, const QString& name, bool wasImported) = 0;
    /// Forgets the note of a new image that gets no row (its file was removed, or never written).
    virtual StoreResult<void> forgetNewImage(const QString& path) = 0;
};

/// The journal of the process-wide library store.
std::shared_ptr<NewImageJournal> sharedNewImageJournal();

/// Writes `bytes` as the new image file at `path` (as `writeNewFile` does), noted in `journal` first to be
/// listed under `name`, and forgotten again when the write fails; a null journal notes nothing. The error's
/// description on failure, when no file was written; none on success. Any thread.
std::optional<QString> writeNewImage(NewImageJournal* journal, const QString& path, const QByteArray& bytes,
                                     const QString& name, bool wasImported);

} // namespace lumetrove
