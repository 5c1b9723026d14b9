#pragma once

// Where the text of a screen lies: the image cut into blocks of text, in reading order.

#include <QImage>
#include <QRect>
#include <vector>

namespace lumetrove::recognition {

/// A block of text lines and the height of its smallest line, which decides how much it is scaled up.
struct TextBlock {
    QRect area;
    int lineHeight = 0;
};

/// The leaves of a recursive XY cut of `gray` (of `colour` too, when it is not null: an RGB32 image of the
/// same size), in reading order: single lines, words standing apart, the labels of controls. `unit` is the
/// image's device pixels per point.
std::vector<QRect> cutIntoLeaves(const QImage& gray, const QImage& colour, int unit);

/// Joins the leaves that the cut separated back into paragraphs and columns.
std::vector<TextBlock> mergeIntoParagraphs(const QImage& gray, const std::vector<QRect>& leaves);

} // namespace lumetrove::recognition
