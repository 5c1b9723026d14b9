#pragma once

#include "lumetrove/ai/ScreenshotInfoResult.h"

#include <QString>
#include <QStringList>

namespace lumetrove {

class Screenshot;

/// Assistant tasks that, asked of a screenshot in which no text was recognised, store "No text found."
const QStringList& presetAssistantTasksNeedingText();
/// What an assistant capture stores when the model gave no answer to its task.
const QString& unableToProcessText();

/// The model's name made readable: every "_" becomes a blank, and so does every hyphen that stands between
/// two word characters.
QString cleanedAIName(const QString& name);

/// Writes an answer into the record: the cleaned name (which renames the file and saves when it changed),
/// the summary, the normalised keywords (saved when they changed), the raw reply appended to the earlier
/// ones, and the assistant's answer and task where the record has none yet; then saves the row.
void applyAIResultToScreenshot(Screenshot& screenshot, const ScreenshotInfoResult& result);

} // namespace lumetrove
