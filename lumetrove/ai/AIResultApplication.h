#pragma once

#include "lumetrove/ai/ScreenshotInfoResult.h"

#include <QString>

namespace lumetrove {

class Screenshot;

/// The first `length` characters of `text`, one fewer where the cut would split a surrogate pair.
QString leftCharacters(const QString& text, qsizetype length);

/// What an assistant capture stores when the model gave no answer to its task.
const QString& unableToProcessText();

/// The model's name made readable: every "_" becomes a blank, and so does every hyphen that stands between
/// two word characters.
QString cleanedAIName(const QString& name);

/// The most characters an answer's name keeps; a longer one is cut (never inside a surrogate pair).
constexpr qsizetype maximumAINameLength = 200;
/// The most keywords an answer gives a screenshot, and the most characters each keeps.
constexpr qsizetype maximumAIKeywordCount = 50;
constexpr qsizetype maximumAIKeywordLength = 50;
/// The most characters an answer's summary, assistant answer and assistant task each keep. The request asks
/// for at most 2000 tokens, so no real answer comes near this; a longer text is cut (never inside a surrogate
/// pair), since laying out megabytes, or one unbroken word of a few hundred thousand characters, would hold
/// up the window for minutes.
constexpr qsizetype maximumAITextLength = 20'000;

/// `text` without the characters that have no place in a one-line name or keyword: line breaks, tabs and the
/// other white-space controls become a blank; every other control character (NUL included) and the
/// bidirectional formatting characters, which can make a name read backwards, are dropped.
QString withoutControlCharacters(const QString& text);

/// The name an answer gives a screenshot: at most `maximumAINameLength` characters of the model's name,
/// without control and bidirectional formatting characters, made readable by `cleanedAIName`.
QString appliedAIName(const ScreenshotInfoResult& result);
/// The keywords an answer gives a screenshot: the normalised keywords, cleaned as a name is (a keyword that a
/// line break held together becomes two) and with list commas and semicolons read as blanks, the first
/// `maximumAIKeywordCount` of them, each cut to `maximumAIKeywordLength` characters, joined by single blanks.
QString appliedAIKeywords(const ScreenshotInfoResult& result);

/// Writes an answer into the record as one edit (`Screenshot::edit`): the applied name (with the file's
/// rename when it changed), the summary, the applied keywords, the raw reply appended to the earlier ones,
/// and the assistant's answer and task where the record has none yet (the three texts bounded by
/// `maximumAITextLength`), kept in one write. False when the write failed: the record then holds what the
/// library holds, not any part of the answer.
bool applyAIResultToScreenshot(Screenshot& screenshot, const ScreenshotInfoResult& result);

} // namespace lumetrove
