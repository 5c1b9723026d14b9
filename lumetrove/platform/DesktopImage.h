#pragma once

#include <QImage>
#include <QRect>
#include <QRectF>
#include <vector>

namespace lumetrove {

/// One screen as Qt lays it out: its logical geometry and its device pixel ratio, 0 when Qt cannot tell it.
struct ScreenLayout {
    QRect geometry;
    qreal devicePixelRatio = 1;
};

/// The application's screens. A program running through XWayland is told every screen's scale as 1, whatever
/// the output's own: there each ratio is unknown (0). Main thread.
std::vector<ScreenLayout> screenLayouts();

/// A still image of the whole desktop in one picture, as the desktop portal hands it over: the screens' layout
/// (the union of their logical geometries) scaled by one factor, the image's width over the layout's width,
/// which is the highest scale among the screens. A screen of a lower scale is shown enlarged in it.
class DesktopImage {
public:
    DesktopImage(QImage image, std::vector<ScreenLayout> screens);

    const QImage& image() const { return image_; }
    /// The union of the screens' logical geometries.
    QRect layout() const { return layout_; }
    /// Image pixels per logical unit; 0 when there is no screen or no image.
    qreal scale() const { return scale_; }

    /// The image's pixels of a logical rectangle (for an overlay to show its screen), at the image's scale.
    QImage part(const QRect& logical) const;

    /// The pixels of `area` (logical coordinates) at the highest device pixel ratio of the screens it touches
    /// (never above the image's scale): one logical unit is that many pixels on each screen's part. A screen
    /// whose ratio is unknown counts at the image's scale, so its part keeps the image's own pixels. What lies
    /// on no screen is black. Null when the area is empty or touches no screen.
    QImage grab(const QRectF& area) const;

private:
    /// The image's pixel rectangle of a logical one, rounded to whole pixels.
    QRect pixelRect(const QRectF& logical) const;

    QImage image_;
    std::vector<ScreenLayout> screens_;
    QRect layout_;
    qreal scale_ = 0;
};

} // namespace lumetrove
