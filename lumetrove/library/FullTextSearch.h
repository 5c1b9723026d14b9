#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace lumetrove {

/// The most words of a search text that a search looks for, and the most characters it reads of each word.
/// A pasted page of text is searched by its first words: the time a search takes grows with the words it
/// asks the indexes for, never with the length of the text.
constexpr qsizetype maximumSearchWords = 8;
constexpr qsizetype maximumSearchWordLength = 64;

/// The words of a search text: control characters dropped, the rest split at white space, pieces without a
/// letter or digit (which the index holds nothing for) left out, each word once, the first
/// `maximumSearchWords` of them, each cut to `maximumSearchWordLength` characters.
QStringList searchWords(const QString& searchText);

/// The FTS5 MATCH pattern for a smart folder's keywords and a search text; none when neither restricts
/// the list.
///
/// A text of one word S (given once or more; a text of none, blanks alone, is searched as it is) becomes four
/// prefix queries, one per column, joined by " OR" and a line feed:
///     text:"S"* OR
///     name:"S"* OR
///     keywords:"S"* OR
///     description:"S"*
/// with every double quote of S doubled. The asterisk stands after the closing quote, where FTS5 reads it
/// as a prefix query, so a search finds words as they are being typed. A text of several words finds the
/// screenshots that hold every one of them, each in any of the four columns, the last one as a prefix, with
/// one column filter: {text name keywords description} : ("W1" AND "W2" AND "W3"*).
///
/// A keywords filter gives one clause per space-separated word, joined by " OR "; a filter of spaces alone
/// gives the empty text. With both a filter and a search text, the result is the screenshots of the smart
/// folder that match the search: "(" keyword clauses ") AND (" search clauses ")".
///
/// With `prefixes` false the pieces have no asterisk: each matches whole words, which is what the porter
/// index is asked (it holds stems, so a whole word finds the forms that share its stem, while prefixes are
/// matched in the word index, which holds the words as they are).
std::optional<QString> ftsSearchQuery(const std::optional<QString>& keywordsFilter,
                                      const std::optional<QString>& searchText, bool prefixes = true);

/// One condition of a search: met by the screenshots that the porter index finds for `whole`, and by those
/// that the word index finds for `prefixes`, when there is such a pattern. Without the word index, the
/// porter index is asked for `prefixes` (or `whole` when there is none).
struct MatchPatterns {
    QString whole;
    std::optional<QString> prefixes;

    friend bool operator==(const MatchPatterns&, const MatchPatterns&) = default;
};

/// The conditions that a screenshot meets when it matches `ftsSearchQuery` of the same filter and text, split
/// so that each can be asked of both indexes: the keywords filter, the words of the search text before the
/// last (whole words only), and the last word (as a whole word and as a prefix). Empty when neither
/// restricts the list.
std::vector<MatchPatterns> ftsSearchConditions(const std::optional<QString>& keywordsFilter,
                                               const std::optional<QString>& searchText);

} // namespace lumetrove
