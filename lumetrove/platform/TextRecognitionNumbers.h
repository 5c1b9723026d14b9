#pragma once

// Numbers the engine doubts, read once more each on its own.

#include "lumetrove/platform/TextRecognitionEngine.h"
#include "lumetrove/platform/TextRecognitionPreparation.h"

#include <QString>
#include <optional>
#include <vector>

namespace tesseract {
class ETEXT_DESC;
}

namespace lumetrove::recognition {

/// `read`, a number's digits read alone, set against `digits`, the line's reading of it: the figures the two
/// differ on are the reading alone's, the rest the line's (a letter it read in the line, or a figure where it now
/// reads a letter, it read no worse than alone). Where the reading alone lost one glyph or gained one (small glyphs
/// enlarged run together or fall apart: the 6 of a small serif "A6" lost beside the A), the glyph lost is the line's
/// and one gained is left out, each where the rest of the two readings agree best. Nothing where two places fit as
/// well and give other figures, or where the readings differ by more than a glyph.
std::optional<QString> alignedFigures(const QString& read, const QString& digits);

/// Rereads the small numbers of `lines` that the engine doubts, each on its own (see `numberReadAlone`): in a
/// line of small figures the engine weighs each glyph against its neighbours and reads the dotted zero of a
/// monospaced font as a 6 or an 8, a 0 beside a 6 as a 6; the number alone and larger it mostly reads as drawn.
/// A reading alone is kept where two of them, enlarged by different factors, agree on figures other than the
/// line's; their errors fall on different glyphs. Only the figures change: the narrow margin of a word read
/// alone shows the edges of its neighbours, which the engine reads as a bracket or a quote mark. Words holding
/// a letter keep their reading ("16GB", "l0gin"): read alone, they lose as many letters as they gain; but the "v"
/// of a version stands outside its number, whose dotted zeros are misread as any other's ("v1.16.72").
/// Hexadecimal numbers are read alone, of hexadecimal glyphs only, where they are small whatever the engine's
/// confidence, larger where it is unsure of them: in them it takes one figure for another, a dotted 0 for a 6,
/// a 3 for a 5, and is sure of it. Where two readings alone disagree, a third settles it. A colour whose figures
/// the line read as the capitals they look like ("#AGB1F3") is read as figures where it is no dictionary word.
void rereadDoubtfulNumbers(const BorrowedEngine& engine, tesseract::ETEXT_DESC& monitor, const BlockImage& block,
                           int resolution, BlockQueue& queue, std::vector<ReadLine>& lines);

} // namespace lumetrove::recognition
