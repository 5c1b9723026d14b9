#pragma once

// The lines read from the blocks of an image joined into the lines that stand on screen.

#include "lumetrove/platform/TextRecognizer.h"

#include <cstddef>
#include <vector>

namespace lumetrove::recognition {

/// A line as read from its block, the block's index, and whether it was its block's only line: a label, a
/// button, a cell.
struct ReadLine {
    RecognizedLine line;
    size_t block = 0;
    bool alone = false;
    /// Where its baseline crosses the middle of the line, in the image's pixels.
    double baseline = 0;
};

/// Sets the text of `line` to its words' texts, one blank between them: after a word's text changed.
void spellFromWords(RecognizedLine& line);

/// The lines as they stand on screen, in reading order, from the lines read from an image's blocks (in the
/// blocks' order).
std::vector<RecognizedLine> assembleLines(std::vector<ReadLine> read);

} // namespace lumetrove::recognition
