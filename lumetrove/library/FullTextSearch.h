#pragma once

#include <QString>
#include <optional>

namespace lumetrove {

/// The FTS5 MATCH pattern for a smart folder's keywords and a search text; none when neither restricts
/// the list.
///
/// A text S becomes four prefix queries, one per column, joined by " OR" and a line feed:
///     text:"S"* OR
///     name:"S"* OR
///     keywords:"S"* OR
///     description:"S"*
/// with every double quote of S doubled. The asterisk stands after the closing quote, where FTS5 reads it
/// as a prefix query, so a search finds words as they are being typed. A keywords filter gives one such
/// clause per space-separated word, joined by " OR "; a filter of spaces alone gives the empty text. With
/// both a filter and a search text, the result is the screenshots of the smart folder that match the
/// search: "(" keyword clauses ") AND (" search clause ")".
///
/// With `prefixes` false the pieces have no asterisk: each matches whole words, which is what the porter
/// index is asked (it holds stems, so a whole word finds the forms that share its stem, while prefixes are
/// matched in the word index, which holds the words as they are).
std::optional<QString> ftsSearchQuery(const std::optional<QString>& keywordsFilter,
                                      const std::optional<QString>& searchText, bool prefixes = true);

} // namespace lumetrove
