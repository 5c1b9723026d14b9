#pragma once

// Mending the engine's reading of single glyphs by the shape of their ink in the image it read.

#include "lumetrove/platform/TextRecognitionWords.h"

#include <QImage>
#include <vector>

namespace lumetrove::recognition {

/// `symbols`, one word as the engine read it in `gray` (dark text on white, the symbols' boxes in its pixels), with
/// the slashes of a path read as slashes where the engine read a letter. Without a glyph before it to weigh it by,
/// at the start of a line or after a space, the engine takes the slash of small text for the f or j it is most like
/// ("fusr/share" for "/usr/share", "~jwork" for "~/work"), however clearly it reads the later slashes; between
/// the letters of small text, for whatever narrow glyph rises above them ("/usrfshare", "/optilocal"). The glyph
/// tells: it reaches above the x-height, and below the baseline, which an f, an i or an l never does, less far than
/// a j; its ink runs unbroken from top to bottom, while a gap sets the dot of a j apart. Only words that hold a
/// slash elsewhere are weighed, and only their first glyph (after a tilde, the second) or a glyph after a letter or
/// figure, against the small letter after it: an f right after a slash is a letter of its name ("/usr/friend"),
/// and a glyph before a letter of any other height cannot be measured.
void readSlashesOfPaths(std::vector<Symbol>& symbols, const QImage& gray);

/// `symbols`, one word as the engine read it in `gray` (dark text on white, the symbols' boxes in its pixels, `scale`
/// of them to a pixel of the image), with each figure 3 and 5 of small text read as its shape shows. In figures a few
/// pixels high the engine takes one for the other ("1,553" for "1,353"), and more often still where it reads the
/// number alone and larger, as the enlargement blurs the few pixels that set them apart; it is sure of either. The
/// glyph tells: in the upper half of a 5 its stroke runs down the left side to the bowl, while the arc of a 3 comes
/// down on the right. The ink between a fifth and two fifths of the figure's height lies mostly in its left third or
/// mostly in its right one. Only figures that the engine's image shows ten rows high or more are weighed, and only
/// those at most nine pixels high in the image: larger ones it reads as drawn. A box far wider than the word's wide
/// glyphs takes in the glyph beside it, and is not weighed.
void readThreesAndFivesByTheirShape(std::vector<Symbol>& symbols, const QImage& gray, double scale);

} // namespace lumetrove::recognition
