#pragma once

#include <QImage>
#include <QRectF>

class QScreen;

namespace lumetrove {

// Linux stand-in for grabbing screen pixels: the X11 root window, read per screen.

/// The pixels of `area` (Qt's global logical coordinates) at the highest device pixel ratio of the screens
/// it touches; each screen gives its own part, and what lies on no screen stays black. A null image when
/// the area touches no screen or a screen gives nothing. Main thread.
QImage grabScreenArea(const QRectF& area);

/// The whole of one screen in physical pixels; null when it gives nothing. Main thread.
QImage grabWholeScreen(QScreen& screen);

} // namespace lumetrove
