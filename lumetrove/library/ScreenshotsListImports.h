#pragma once

// An import or capture on its way to the list manager's writer thread: for the manager's own .cpp files only.

#include "lumetrove/library/ScreenshotRow.h"
#include "lumetrove/library/ScreenshotsListManager.h"

#include <QByteArray>
#include <QFuture>
#include <QString>
#include <functional>
#include <optional>

namespace lumetrove {

/// An imported row waiting for the writer thread.
struct ScreenshotsListManager::ImportWrite {
    NewScreenshot row{};
    std::optional<qint64> folderId{};
    std::optional<QByteArray> thumbnail{};
    std::optional<QFuture<QString>> text{};
    std::function<void()> stored{};
    /// The process that owned the captured window: the writer looks its application up.
    std::optional<qint64> ownerPid{};
    /// A capture: written without waiting for a batch to fill, waited for by `whenListed`.
    bool captured = false;
    /// A capture saved under a name of its own: its file is renamed after the default name once stored.
    bool renamed = false;
    /// Told the id of a capture's row once it is stored.
    std::function<void(qint64)> kept{};
    /// Told, for an imported image, that its row could not be kept, and why.
    std::function<void(const SkippedImport&)> notKept{};
};

} // namespace lumetrove
