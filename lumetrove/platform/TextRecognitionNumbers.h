#pragma once

// Numbers the engine doubts, read once more each on its own.

#include "lumetrove/platform/TextRecognitionEngine.h"
#include "lumetrove/platform/TextRecognitionPreparation.h"

#include <vector>

namespace tesseract {
class ETEXT_DESC;
}

namespace lumetrove::recognition {

/// Rereads the small numbers of `lines` that the engine doubts, each on its own (see `numberReadAlone`): in a
/// line of small figures the engine weighs each glyph against its neighbours and reads the dotted zero of a
/// monospaced font as a 6 or an 8, a 0 beside a 6 as a 6; the number alone and larger it mostly reads as drawn.
/// A reading alone is kept where two of them, enlarged by different factors, agree on figures other than the
/// line's; their errors fall on different glyphs. Only the figures change: the narrow margin of a word read
/// alone shows the edges of its neighbours, which the engine reads as a bracket or a quote mark. Words holding
/// a letter keep their reading ("16GB", "l0gin"): read alone, they lose as many letters as they gain; but the "v"
/// of a version stands outside its number, whose dotted zeros are misread as any other's ("v1.16.72").
/// Small hexadecimal numbers are read alone whatever the engine's confidence, of hexadecimal glyphs only (see
/// `hexadecimalReadAlone`): in them it takes one figure for another, a dotted 0 for a 6, a 3 for a 5, and is
/// sure of it. Where the two readings alone disagree, a third, enlarged three times, settles it.
void rereadDoubtfulNumbers(const BorrowedEngine& engine, tesseract::ETEXT_DESC& monitor, const BlockImage& block,
                           int resolution, BlockQueue& queue, std::vector<ReadLine>& lines);

} // namespace lumetrove::recognition
