#include "lumetrove/library/FullTextSearch.h"

#include <algorithm>

namespace lumetrove {
namespace {

/// FTS5 reads a pattern as a C string, so a NUL would cut it inside a quoted phrase ("unterminated string").
/// Control characters are dropped and the rest of the text is searched.
QString withoutControlCharacters(QString text)
{
    text.removeIf([](QChar character) { return character.unicode() < 0x20 || character.unicode() == 0x7f; });
    return text;
}

/// The first `length` characters of `text`, one fewer where the cut would split a surrogate pair.
QString leftCharacters(const QString& text, qsizetype length)
{
    if (text.size() <= length) {
        return text;
    }
    if (text.at(length - 1).isHighSurrogate()) {
        --length;
    }
    return text.left(length);
}

/// The text as an FTS5 string: in double quotes, its own doubled, followed by an asterisk for a prefix.
QString quoted(QString text, bool prefix)
{
    text = withoutControlCharacters(std::move(text));
    text.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + text + QLatin1Char('"') + (prefix ? QLatin1String("*") : QLatin1String());
}

QString columnClause(const QString& text, bool prefix)
{
    const QString phrase = quoted(text, prefix);
    QStringList pieces;
    for (const char* column : {"text", "name", "keywords", "description"}) {
        pieces << QLatin1String(column) + QLatin1Char(':') + phrase;
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

QString parenthesised(const QString& clause)
{
    return QLatin1Char('(') + clause + QLatin1Char(')');
}

/// The one word of a search text that has at most one: that word, also when the text repeats it (the text
/// as a phrase would ask for the repeats side by side), or the text as it is when it holds no word, so that
/// blanks are searched as blanks.
QString singleWord(const QString& searchText, const QStringList& words)
{
    if (words.isEmpty()) {
        return leftCharacters(searchText, maximumSearchWordLength);
    }
    return words.front();
}

/// The phrases joined by `join`, each in any of the searched columns, with one column filter over them all:
/// FTS5 reads each phrase's entries once, where a clause per column would read them four times. A column
/// filter over a phrase matches where a clause per column does.
QString inSearchedColumns(const QStringList& phrases, QLatin1String join)
{
    return QLatin1String("{text name keywords description} : (") + phrases.join(join) + QLatin1Char(')');
}

/// Every word in any of the searched columns; only the last word may be a prefix.
QString allWordsClause(const QStringList& words, bool lastIsPrefix)
{
    QStringList phrases;
    for (qsizetype index = 0; index < words.size(); ++index) {
        phrases << quoted(words[index], lastIsPrefix && index + 1 == words.size());
    }
    return inSearchedColumns(phrases, QLatin1String(" AND "));
}

/// `keywordClauses` with one column filter: any of the keywords in any of the searched columns.
QString anyKeywordClause(const QString& keywordsFilter, bool prefix)
{
    QStringList phrases;
    for (const QString& word : keywordsFilter.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        phrases << quoted(word, prefix);
    }
    return phrases.isEmpty() ? QString() : inSearchedColumns(phrases, QLatin1String(" OR "));
}

/// `singleClause` with one column filter.
QString singleWordClause(const QString& searchText, const QStringList& words, bool prefix)
{
    return inSearchedColumns({quoted(singleWord(searchText, words), prefix)}, QLatin1String());
}

QString singleClause(const QString& searchText, const QStringList& words, bool prefix)
{
    return columnClause(singleWord(searchText, words), prefix);
}

QString searchClause(const QString& searchText, bool prefix)
{
    const QStringList words = searchWords(searchText);
    if (words.size() <= 1) {
        return singleClause(searchText, words, prefix);
    }
    return allWordsClause(words, prefix);
}

} // namespace

QStringList searchWords(const QString& searchText)
{
    QStringList words;
    qsizetype start = -1;
    const auto take = [&](qsizetype end) {
        if (start < 0) {
            return;
        }
        const QString word = withoutControlCharacters(searchText.mid(start, end - start));
        start = -1;
        const bool indexed = std::any_of(word.cbegin(), word.cend(), [](QChar c) { return c.isLetterOrNumber(); });
        const QString cut = leftCharacters(word, maximumSearchWordLength);
        if (indexed && !words.contains(cut)) {
            words << cut;
        }
    };
    // One pass that stops at the last word it needs: a pasted text is never split whole.
    for (qsizetype index = 0; index < searchText.size() && words.size() < maximumSearchWords; ++index) {
        const QChar character = searchText.at(index);
        const bool control = character.unicode() < 0x20 || character.unicode() == 0x7f;
        if (character.isSpace() && !control) {
            take(index);
        } else if (start < 0) {
            start = index;
        }
    }
    if (words.size() < maximumSearchWords) {
        take(searchText.size());
    }
    return words;
}

std::optional<QString> ftsSearchQuery(const std::optional<QString>& keywordsFilter,
                                      const std::optional<QString>& searchText, bool prefixes)
{
    const bool hasKeywords = keywordsFilter && !keywordsFilter->isEmpty();
    if (!hasKeywords) {
        if (!searchText) {
            return std::nullopt;
        }
        return searchClause(*searchText, prefixes);
    }
    const QString keywords = keywordClauses(*keywordsFilter, prefixes);
    if (!searchText) {
        return keywords;
    }
    if (keywords.isEmpty()) {
        return searchClause(*searchText, prefixes);
    }
    return parenthesised(keywords) + QLatin1String(" AND ") + parenthesised(searchClause(*searchText, prefixes));
}

std::vector<MatchPatterns> ftsSearchConditions(const std::optional<QString>& keywordsFilter,
                                               const std::optional<QString>& searchText)
{
    std::vector<MatchPatterns> conditions;
    // The patterns find what those of `ftsSearchQuery` find, with one column filter per pattern.
    if (keywordsFilter && !keywordsFilter->isEmpty()) {
        const QString whole = anyKeywordClause(*keywordsFilter, false);
        // A filter of blanks restricts nothing beside a search; alone, it is the empty pattern, as the query.
        if (!whole.isEmpty() || !searchText) {
            conditions.push_back({whole, anyKeywordClause(*keywordsFilter, true)});
        }
    }
    if (!searchText) {
        return conditions;
    }
    QStringList words = searchWords(*searchText);
    if (words.size() <= 1) {
        conditions.push_back({singleWordClause(*searchText, words, false), singleWordClause(*searchText, words, true)});
        return conditions;
    }
    // The words before the last are whole words: the porter index answers them, stems and all, at once. The
    // last one, perhaps still being typed, is matched as a word and as a prefix.
    const QString last = words.takeLast();
    conditions.push_back({allWordsClause(words, false), std::nullopt});
    conditions.push_back({allWordsClause({last}, false), allWordsClause({last}, true)});
    return conditions;
}

} // namespace lumetrove
