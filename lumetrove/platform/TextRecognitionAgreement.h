#pragma once

// Settling the readings of one block: several readings of the same pixels (prepared, as it stands, rescaled)
// differ on some words, and each word is read as most of them read it.

#include "lumetrove/platform/TextRecognitionLines.h"

#include <QStringList>
#include <vector>

namespace lumetrove::recognition {

/// The words of `lines` in their order.
QStringList wordsOf(const std::vector<ReadLine>& lines);

/// The reading of one block that its readings agree on: the one worth most (the letters and figures of its words, each
/// counted by the word's confidence), each of its words read as most readings read the same word, or, where no two
/// agree, as the reading surest of it reads it; but a reading that sees an r and an n apart where others read an m is
/// kept (`partsTheRAndNOf`), as is one that sets apart a number and a word of letters that others run together. The
/// preparation makes most words clearer, but may join two letters ("rn" read as "m") that the block as it stands keeps
/// apart; the engine's confidence alone does not tell which reading is right ("A2" for "42" at 79 beside "42" at 77),
/// most readings alike mostly do.
std::vector<ReadLine> agreedReading(std::vector<std::vector<ReadLine>> readings);

} // namespace lumetrove::recognition
