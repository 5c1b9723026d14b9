#pragma once

#include <QImage>

class QWidget;

namespace lumetrove {

/// Renders `widget` (and its children) into an image of its size in points, at `devicePixelRatio`;
/// a null image when the widget has no area. Main thread, like every widget call.
QImage snapshotImage(QWidget& widget, qreal devicePixelRatio = 1.0);

} // namespace lumetrove
