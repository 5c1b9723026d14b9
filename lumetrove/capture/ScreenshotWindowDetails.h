#pragma once

#include "lumetrove/library/WindowDetails.h"
#include "lumetrove/platform/WindowList.h"

#include <QPointF>
#include <optional>
#include <vector>

namespace lumetrove {

/// The name the window list gives this application's own windows; they are never a capture's subject.
inline constexpr const char* ownApplicationName = "Lumetrove";

/// The details of one listed window: its frame in Qt's logical coordinates, its application's name (the
/// class part of WM_CLASS) and process id; no assistant task.
WindowDetails initFromWindowInfo(const WindowRecord& window, const std::vector<ScreenGeometry>& screens);

/// The windows that can be a capture's subject, front-most first: normal and dialog windows that are shown
/// on the current desktop (or on all of them), excluding this application's own (by process id or by the
/// name "Lumetrove").
std::vector<WindowDetails> onScreenWindows(const WindowStack& stack, qint64 ownProcessId,
                                           const std::vector<ScreenGeometry>& screens);

/// The front-most window whose frame contains `point` (left and top edges inside, right and bottom edges
/// outside); none when no frame does.
std::optional<WindowDetails> windowDetailsAtPoint(const std::vector<WindowDetails>& windows, QPointF point);

/// The same over the live window list; `point` in Qt's global logical coordinates. Main thread.
std::optional<WindowDetails> windowDetailsAtPoint(QPointF point);

} // namespace lumetrove
