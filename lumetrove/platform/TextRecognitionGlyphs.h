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

} // namespace lumetrove::recognition
