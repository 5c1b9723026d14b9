#pragma once

// Settling the readings of one block: several readings of the same pixels (prepared, as it stands, rescaled)
// differ on some words, and each word is read as most of them read it.

#include "lumetrove/platform/TextRecognitionLines.h"

#include <QStringList>
#include <functional>
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
/// most readings alike mostly do. Yet the readings of an enlarged block are alike in their errors too: enlarged, the
/// one-pixel bar of a bitmap font's t is lost and both read "porl" where the block as it stands reads "port". So
/// where readings spell a word alike but for a letter or two, one spelling the engine's dictionary knows (`isWord`)
/// is chosen before one it does not know.
std::vector<ReadLine> agreedReading(std::vector<std::vector<ReadLine>> readings,
                                    const std::function<bool(const QString&)>& isWord = {});

} // namespace lumetrove::recognition
