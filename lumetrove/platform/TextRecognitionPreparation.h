#pragma once

// A block of a screen made ready for the engine: dark text on white, scaled to a size the engine reads well.

#include "lumetrove/platform/TextRecognitionBlocks.h"

#include <QImage>
#include <QPointF>
#include <optional>

namespace lumetrove::recognition {

/// One block made ready for the engine: dark on light, scaled, in a margin of its ground.
struct BlockImage {
    QImage gray;
    QPointF origin; // where the block's (0, 0) lies in the source image
    double scale = 1;
    /// Whether it holds a single line of text: a label, a button, a cell, read as one line. The engine's
    /// layout analysis drops some single words as noise that it reads well as a line.
    bool singleLine = false;
    /// Whether its text is drawn without smoothing, as a bitmap font is: every pixel of the glyphs at the ink's
    /// level. Enlarged, such glyphs gain strokes and lose them (the bar of a t, the gap between an r and an n)
    /// wherever the enlargement weighs a pixel against its neighbours.
    bool aliased = false;
};

/// The block ready for the engine, or nothing when it holds no text. `unit` is the image's device pixels per
/// point; `shown` is the part of `gray` that the image shows, inside the margin it is read in.
std::optional<BlockImage> prepareBlock(const QImage& gray, const TextBlock& block, int unit, const QRect& shown);

/// The block nearly as it stands, for a second reading where the prepared one is in doubt: its own levels in
/// a margin of its ground, only turned dark on light; neither cleared nor stretched nor scaled. Nothing when
/// it holds no text. It is read as a single line where `prepared`, the block prepared, is: its lines are counted
/// once what surrounds the text is cleared. Counted in the block as it stands, the frame around a message or
/// the border of a window beside a terminal's lines holds ink in every row, and its lines would be read as one,
/// which reads nothing.
std::optional<BlockImage> plainBlock(const QImage& gray, const TextBlock& block, const BlockImage& prepared);

/// `plain` (see `plainBlock`) scaled up smoothly so that the lowest line of `block` stands about twice as high
/// as the engine reads lines best, or, where its lines are far higher than that, scaled down below the
/// prepared block's size: a third reading where the prepared and the plain one disagree. Its errors fall
/// elsewhere than theirs.
BlockImage rescaledBlock(const BlockImage& plain, const TextBlock& block);

} // namespace lumetrove::recognition
