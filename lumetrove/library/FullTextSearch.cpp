#include "lumetrove/library/FullTextSearch.h"

#include <QStringList>

namespace lumetrove {
namespace {

QString columnClause(QString text, bool prefix)
{
    // FTS5 reads a pattern as a C string, so a NUL would cut it inside a quoted phrase ("unterminated
    // string"). Control characters are dropped and the rest of the text is searched.
    text.removeIf([](QChar character) { return character.unicode() < 0x20 || character.unicode() == 0x7f; });
    text.replace(QLatin1Char('"'), QLatin1String("\"\""));
    QStringList pieces;
    for (const char* column : {"text", "name", "keywords", "description"}) {
        pieces << QLatin1String(column) + QLatin1String(":\"") + text + QLatin1Char('"') +
                      (prefix ? QLatin1String("*") : QLatin1String());
    }
    return pieces.join(QLatin1String(" OR\n"));
}

QString keywordClauses(const QString& keywordsFilter, bool prefix)
{
    QStringList clauses;
    for (const QString& word : keywordsFilter.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        clauses << columnClause(word, prefix);
    }
    return clauses.join(QLatin1String(" OR "));
}

} // namespace

std::optional<QString> ftsSearchQuery(const std::optional<QString>& keywordsFilter,
                                      const std::optional<QString>& searchText, bool prefixes)
{
    const bool hasKeywords = keywordsFilter && !keywordsFilter->isEmpty();
    if (!hasKeywords) {
        if (!searchText) {
            return std::nullopt;
        }
        return columnClause(*searchText, prefixes);
    }
    const QString keywords = keywordClauses(*keywordsFilter, prefixes);
    if (!searchText) {
        return keywords;
    }
    if (keywords.isEmpty()) {
        return columnClause(*searchText, prefixes);
    }
    return QLatin1Char('(') + keywords + QLatin1String(") AND (") + columnClause(*searchText, prefixes) +
           QLatin1Char(')');
}

} // namespace lumetrove
