#pragma once

// Grey levels of an image as the recogniser reads it: the image made opaque grey, and the ground its text
// stands on.

#include <QImage>
#include <QRect>
#include <array>
#include <vector>

namespace lumetrove::recognition {

/// Levels a block's text stands out from its ground by.
constexpr int inkContrast = 24;

/// The image as opaque grey levels, in its own pixels whatever its device pixel ratio.
QImage opaqueGray(const QImage& image);

/// `image` (grey or RGB32) inside a margin of `margin` pixels of its edge's most common value: text that the
/// image's edge cuts has ground beside it there, as everywhere else, and is not taken for the edge of a
/// control around it.
QImage withMargin(const QImage& image, int margin);

/// How many pixels of `area` have each grey level.
std::array<int, 256> histogramOf(const QImage& gray, const QRect& area);

/// The ground of a histogram: its most common level within the most common band of nearby levels.
int groundOf(const std::array<int, 256>& histogram);

/// The ground of `area`: the background of the text in it.
int backgroundLevel(const QImage& gray, const QRect& area);

/// Whether `ground` is a ground of `area`: its most common level, or a level that reaches from the area's
/// border over a fifth of it or more.
bool showsGround(const QImage& gray, const QRect& area, int ground);

/// The most common level of the border of `padded`.
int marginLevel(const QImage& gray, const QRect& padded);

/// The ground of the text in `area`, which `padded` holds with a margin of ground around it, its lowest line
/// `lineHeight` high: the area's most common level, unless that is the ink of large bold text, whose strokes
/// may fill most of a tight box. Then it is the margin's level, when that is a ground of the area too (see
/// `showsGround`). Around the label of a control the margin is the page, the control's fill the ground.
int textGround(const QImage& gray, const QRect& area, const QRect& padded, int lineHeight);

/// The pixels of `gray` that lie in a stipple, one byte each, row by row: the trough of a scroll bar or a
/// disabled area filled with a pattern of single pixels, every other one unlike its neighbours (a
/// checkerboard), or one in four, or all but one in four. Its dots are not 4-connected, so no flood from an
/// edge takes them, and beside a line the engine reads them as part of its first letter ("fort" for "Port").
/// A pixel is stipple where it lies in a patch six pixels square, or four pixels wide and eight long either way (the
/// strip of a scroll bar's trough that the edge of a capture leaves), that repeats every second pixel both ways, its
/// neighbours differing by more than `inkContrast` both ways: no letter holds one, as even a bitmap font's "m" is a row
/// of bars that does not vary downwards. Empty when there is none.
std::vector<quint8> stippleOf(const QImage& gray);

/// Fills from the border of `area` inwards: `visit(x, y)` is called for every border pixel and for the four
/// neighbours of every pixel it pushed onto `pending`; it decides itself what is taken and what lies outside.
template <typename Visit> void floodFromBorder(const QRect& area, std::vector<QPoint>& pending, Visit&& visit)
{
    for (int x = area.left(); x <= area.right(); ++x) {
        visit(x, area.top());
        visit(x, area.bottom());
    }
    for (int y = area.top(); y <= area.bottom(); ++y) {
        visit(area.left(), y);
        visit(area.right(), y);
    }
    while (!pending.empty()) {
        const QPoint point = pending.back();
        pending.pop_back();
        visit(point.x() + 1, point.y());
        visit(point.x() - 1, point.y());
        visit(point.x(), point.y() + 1);
        visit(point.x(), point.y() - 1);
    }
}

} // namespace lumetrove::recognition
