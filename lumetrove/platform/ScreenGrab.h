#pragma once

#include <QImage>
#include <QRect>
#include <QRectF>
#include <vector>

class QScreen;

namespace lumetrove {

// Linux stand-in for grabbing screen pixels: the X11 root window, read per screen.

/// The pixels of `area` (Qt's global logical coordinates) at the highest device pixel ratio of the screens
/// it touches; each screen gives its own part, and what lies on no screen stays black. A null image when
/// the area touches no screen or a screen gives nothing. Main thread.
QImage grabScreenArea(const QRectF& area);

/// The whole of one screen in physical pixels; null when it gives nothing. Main thread.
QImage grabWholeScreen(QScreen& screen);

/// One screen's pixels at one moment, for areas to be cut from later.
struct ScreenStill {
    /// The screen's logical geometry.
    QRect geometry;
    /// Its physical pixels, with the screen's device pixel ratio.
    QImage image;
};

/// Every screen as it is now, in Qt's order; empty when a screen gives nothing. Main thread.
std::vector<ScreenStill> grabScreenStills();

/// The pixels of `area` cut from `stills`, as `grabScreenArea` would have grabbed them when they were taken.
/// Any thread.
QImage cutScreenArea(const QRectF& area, const std::vector<ScreenStill>& stills);

} // namespace lumetrove
