#include "lumetrove/detail/AIResultApplication.h"

#include "lumetrove/library/Screenshot.h"

#include <QRegularExpression>

namespace lumetrove {

const QStringList& presetAssistantTasksNeedingText()
{
    static const QStringList tasks = {QStringLiteral("Summarize this"), QStringLiteral("Write a reply to this"),
                                      QStringLiteral("Translate text in this image to English")};
    return tasks;
}

const QString& unableToProcessText()
{
    static const QString text = QStringLiteral(
        "Lumetrove Assistant was unable to process this. This could be due to an invalid query or due to "
        "processing text of excessive length.\n\nTry a different query or selection or retry your request.");
    return text;
}

QString cleanedAIName(const QString& name)
{
    static const QRegularExpression innerHyphen(QStringLiteral("(?<=\\w)-(?=\\w)"),
                                                QRegularExpression::UseUnicodePropertiesOption);
    QString cleaned = name;
    cleaned.replace(QLatin1Char('_'), QLatin1Char(' '));
    cleaned.replace(innerHyphen, QStringLiteral(" "));
    return cleaned;
}

void applyAIResultToScreenshot(Screenshot& screenshot, const ScreenshotInfoResult& result)
{
    screenshot.setName(cleanedAIName(result._name));
    screenshot.setDescription(result.description);
    screenshot.setKeywords(result.normalizedKeywords());
    screenshot.setAiResults(screenshot.aiResults().value_or(QString()) + result.aiRawResult + QStringLiteral("\n\n"));

    bool noTextFound = false;
    if (screenshot.text() && screenshot.text()->isEmpty() &&
        presetAssistantTasksNeedingText().contains(screenshot.aiAssistantTask().value_or(QString()))) {
        screenshot.setAiAssistantResults(QStringLiteral("No text found."));
        noTextFound = true;
    }
    // An answer stored by an earlier run is never replaced: a repeated analysis renews name, summary,
    // keywords and raw replies only.
    if (screenshot.aiAssistantTask() && !screenshot.aiAssistantResults() && !result.aiAssistantResults) {
        screenshot.setAiAssistantResults(unableToProcessText());
    }
    if (!screenshot.aiAssistantResults() && !noTextFound) {
        if (result.aiAssistantResults) {
            screenshot.setAiAssistantResults(result.aiAssistantResults);
        }
        if (result.aiAssistantTask) {
            screenshot.setAiAssistantTask(result.aiAssistantTask);
        }
    }
    screenshot.save();
}

} // namespace lumetrove
