#pragma once

#include "lumetrove/library/CaptureResult.h"
#include "lumetrove/library/WindowDetails.h"

#include <QImage>
#include <QList>
#include <QRectF>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

class QObject;
class QScreen;

namespace lumetrove {

class DesktopImage;

/// The windows an area capture shows: a selection overlay over every screen and, when the screen cannot be
/// read, the window that says why. The capture's window part implements it, so the capture engine holds no
/// widget. Main thread.
class CaptureOverlays {
public:
    /// What the user did on the overlays, told to the capture engine.
    struct Handlers {
        /// The chosen area in Qt's global logical coordinates, with the window under it and the assistant's
        /// question.
        std::function<void(QRectF area, std::optional<WindowDetails> details)> selected;
        std::function<void(CaptureResult result)> ended;
    };

    virtual ~CaptureOverlays() = default;
    /// Opens one overlay per screen, each showing its image (a null image: the desktop through it), and gives
    /// the keyboard to the one under the mouse. `throughPortal`: the desktop portal took the picture, so no
    /// other program's windows are known and each overlay's place is its screen's.
    virtual void open(const std::vector<std::pair<QScreen*, QImage>>& screens, bool isAssistant, bool throughPortal,
                      Handlers handlers) = 0;
    /// An overlay of the capture under way is open.
    virtual bool isOpen() const = 0;
    /// Each open overlay shows its screen's part of `desktop` from now on.
    virtual void showStills(const DesktopImage& desktop) = 0;
    /// Closes every overlay window of the application, also ones left over from an earlier capture.
    /// `keyboardTo` (may be null) is the screen where the main window comes back. Where the display server
    /// gives a window it maps the keyboard only on the screen that has it, the keyboard is moved there first:
    /// the overlays that hand it over stay until it has moved.
    virtual void close(QScreen* keyboardTo) = 0;
    /// Calls `then` (while `context` lives) once no overlay is left waiting for the keyboard that `close`
    /// handed over; at once when none waits.
    virtual void afterKeyboardHandOver(QObject* context, std::function<void()> then) = 0;
    /// Tells the user why the screen cannot be read.
    virtual void showPermissionWindow() = 0;
};

} // namespace lumetrove
