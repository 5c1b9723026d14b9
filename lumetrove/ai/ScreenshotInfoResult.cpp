#include "lumetrove/ai/ScreenshotInfoResult.h"

#include "lumetrove/ai/ScreenshotInfoResultCoding.h"

#include <QStringList>
#include <QTextBoundaryFinder>

namespace lumetrove {
namespace {

int graphemeCount(const QString& text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() > 0) {
        ++count;
    }
    return count;
}

/// Decimal digits with an optional leading sign that fit in 64 bits; all-digit text beyond that range is not.
bool isInt64(const QString& word)
{
    qsizetype start = (word.startsWith(QLatin1Char('+')) || word.startsWith(QLatin1Char('-'))) ? 1 : 0;
    if (start == word.size()) {
        return false;
    }
    for (qsizetype i = start; i < word.size(); ++i) {
        if (word[i] < QLatin1Char('0') || word[i] > QLatin1Char('9')) {
            return false;
        }
    }
    bool fits = false;
    word.toLongLong(&fits, 10);
    return fits;
}

bool sameText(const QString& a, const QString& b)
{
    return a == b || a.normalized(QString::NormalizationForm_C) == b.normalized(QString::NormalizationForm_C);
}

bool sameText(const std::optional<QString>& a, const std::optional<QString>& b)
{
    return a.has_value() == b.has_value() && (!a || sameText(*a, *b));
}

std::optional<QString> optionalText(const aiclient::KeyedContainer& container, std::string_view key)
{
    const std::optional<std::string> text = container.decodeIfPresent<std::string>(key);
    if (!text) {
        return std::nullopt;
    }
    return QString::fromStdString(*text);
}

} // namespace

QString ScreenshotInfoResult::normalizedKeywords() const
{
    QStringList kept;
    for (const QString& word : _keywords.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (graphemeCount(word) >= 2 && !isInt64(word)) {
            kept << word.toLower();
        }
    }
    return kept.join(QLatin1Char(' '));
}

bool operator==(const ScreenshotInfoResult& a, const ScreenshotInfoResult& b)
{
    return sameText(a._name, b._name) && sameText(a._keywords, b._keywords) && sameText(a.description, b.description) &&
           sameText(a.aiRawResult, b.aiRawResult) && sameText(a.aiAssistantResults, b.aiAssistantResults) &&
           sameText(a.aiAssistantTask, b.aiAssistantTask);
}

void decodeValue(const aiclient::Decoder& decoder, ScreenshotInfoResult& value)
{
    const aiclient::KeyedContainer container = decoder.container("ScreenshotInfoResult");
    value._name = QString::fromStdString(container.decode<std::string>("name"));
    value._keywords = QString::fromStdString(container.decode<std::string>("keywords"));
    value.description = QString::fromStdString(container.decode<std::string>("description"));
    value.aiAssistantResults = optionalText(container, "aiAssistantResults");
    value.aiAssistantTask = optionalText(container, "aiAssistantTask");
    value.aiRawResult.clear();
}

void to_json(aiclient::OrderedJson& json, const ScreenshotInfoResult& value)
{
    json = aiclient::OrderedJson::object();
    json["name"] = value._name.toStdString();
    json["keywords"] = value._keywords.toStdString();
    json["description"] = value.description.toStdString();
    if (value.aiAssistantResults) {
        json["aiAssistantResults"] = value.aiAssistantResults->toStdString();
    }
    if (value.aiAssistantTask) {
        json["aiAssistantTask"] = value.aiAssistantTask->toStdString();
    }
}

ScreenshotInfoResult decodeScreenshotInfoResult(const QString& text)
{
    return aiclient::decodeJson<ScreenshotInfoResult>(text.toStdString());
}

} // namespace lumetrove
