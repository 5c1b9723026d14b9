#include "lumetrove/ai/AIResultApplication.h"

#include "lumetrove/library/AssistantTask.h"
#include "lumetrove/library/Screenshot.h"

#include <QRegularExpression>
#include <QStringList>

namespace lumetrove {

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

QString leftCharacters(const QString& text, qsizetype length)
{
    if (text.size() <= length) {
        return text;
    }
    if (length > 0 && text.at(length - 1).isHighSurrogate()) {
        --length;
    }
    return text.left(length);
}

namespace {

bool isBidirectionalFormatting(char16_t unit)
{
    return unit == 0x061c                         // arabic letter mark
           || unit == 0x200e || unit == 0x200f    // left-to-right and right-to-left marks
           || (unit >= 0x202a && unit <= 0x202e)  // embeddings, pop and overrides
           || (unit >= 0x2066 && unit <= 0x2069); // isolates
}

/// A text of the answer as it is kept: cut, and without the control characters a summary or an answer has no use
/// for. A NUL would end the text for SQLite's own functions and for whatever reads it as a C string; line breaks
/// and tabs stay.
std::optional<QString> boundedText(const std::optional<QString>& text)
{
    if (!text) {
        return std::nullopt;
    }
    QString kept = leftCharacters(*text, maximumAITextLength);
    kept.removeIf([](QChar character) {
        return character.category() == QChar::Other_Control && character != QLatin1Char('\n') &&
               character != QLatin1Char('\t');
    });
    return kept;
}

/// The commas and semicolons by which lists are written, the full-width and ideographic ones too.
bool isKeywordSeparator(char16_t unit)
{
    return unit == u',' || unit == u';' || unit == u'\uFF0C' || unit == u'\uFF1B' || unit == u'\u3001';
}

} // namespace

QString withoutControlCharacters(const QString& text)
{
    QString kept;
    kept.reserve(text.size());
    for (const QChar character : text) {
        const char16_t unit = character.unicode();
        const QChar::Category category = character.category();
        if (category == QChar::Separator_Line || category == QChar::Separator_Paragraph ||
            (category == QChar::Other_Control && character.isSpace())) {
            kept += QLatin1Char(' ');
        } else if (category != QChar::Other_Control && !isBidirectionalFormatting(unit)) {
            kept += character;
        }
    }
    return kept;
}

QString appliedAIName(const ScreenshotInfoResult& result)
{
    // Cut before the expression runs: a name of megabytes costs no more than one of the longest kept.
    QString name = withoutControlCharacters(leftCharacters(result._name, maximumAINameLength * 2));
    return cleanedAIName(leftCharacters(name, maximumAINameLength));
}

QString appliedAIKeywords(const ScreenshotInfoResult& result)
{
    // More than the kept keywords could fill is never read: an answer of megabytes is cut at a blank first.
    constexpr qsizetype readLength = maximumAIKeywordCount * (maximumAIKeywordLength + 1) * 4;
    const QString& raw = result._keywords;
    qsizetype end = raw.size();
    if (end > readLength) {
        const qsizetype blank = raw.lastIndexOf(QLatin1Char(' '), readLength);
        end = blank > 0 ? blank : readLength;
    }
    ScreenshotInfoResult cleaned;
    cleaned._keywords = withoutControlCharacters(leftCharacters(raw, end));
    // Asked for words between blanks, a model still often lists them as "invoice, receipt, tax": the commas
    // would stay on the chips ("invoice,") and make each a keyword of its own beside the plain word.
    for (QChar& character : cleaned._keywords) {
        if (isKeywordSeparator(character.unicode())) {
            character = QLatin1Char(' ');
        }
    }
    QStringList kept;
    for (const QString& word : cleaned.normalizedKeywords().split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (kept.size() == maximumAIKeywordCount) {
            break;
        }
        kept << leftCharacters(word, maximumAIKeywordLength);
    }
    return kept.join(QLatin1Char(' '));
}

bool applyAIResultToScreenshot(Screenshot& screenshot, const ScreenshotInfoResult& result)
{
    // One write for the whole answer: a failure keeps none of it, the file's rename included.
    return screenshot.edit([&] {
        screenshot.setName(appliedAIName(result));
        screenshot.setDescription(boundedText(result.description));
        screenshot.setKeywords(appliedAIKeywords(result));
        screenshot.setAiResults(screenshot.aiResults().value_or(QString()) + result.aiRawResult +
                                QStringLiteral("\n\n"));

        bool noTextFound = false;
        if (screenshot.text() && screenshot.text()->isEmpty() &&
            needsRecognizedText(assistantTaskForText(screenshot.aiAssistantTask().value_or(QString())))) {
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
                screenshot.setAiAssistantResults(boundedText(result.aiAssistantResults));
            }
            if (result.aiAssistantTask) {
                screenshot.setAiAssistantTask(boundedText(result.aiAssistantTask));
            }
        }
    });
}

} // namespace lumetrove
