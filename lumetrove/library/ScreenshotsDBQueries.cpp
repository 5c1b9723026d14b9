// The library store's reads: lists, full-text search, counts and folders.
#include "lumetrove/library/DateRange.h"
#include "lumetrove/library/FullTextSearch.h"
#include "lumetrove/library/ScreenshotsDBParts.h"
#include "lumetrove/platform/Log.h"

#include <QHash>
#include <QSet>
#include <algorithm>
#include <iterator>
#include <string_view>

namespace lumetrove {

using namespace store;

bool loadRebuildingIndexOnce(ScreenshotsDB& store, const std::function<void()>& load)
{
    return loadAfterRebuildingIndex(store, load).has_value();
}

// Reads -----------------------------------------------------------------------------------------------------

namespace {

/// The ids that one statement gives, highest first (its SQL orders them so), each once, read one by one as
/// they are asked for.
class IdStream {
public:
    IdStream(sqlite::Connection& db, const std::string& sql, const sqlite::Bindings& values)
        : statement_(db.prepare(sql, values))
    {
        advance();
    }

    /// The ids of `sql` read at once, in any order: for a condition that SQLite would have to sort.
    static IdStream sorted(sqlite::Connection& db, const std::string& sql, const sqlite::Bindings& values)
    {
        const std::shared_ptr<sqlite::Statement> statement = db.prepare(sql, values);
        std::vector<qint64> ids;
        while (statement->step()) {
            ids.push_back(statement->row().int64At(0));
        }
        // A full-text index gives its rows in ascending id order already.
        if (std::is_sorted(ids.begin(), ids.end())) {
            std::reverse(ids.begin(), ids.end());
        } else {
            std::sort(ids.begin(), ids.end(), std::greater<>());
        }
        ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
        return IdStream(std::move(ids));
    }

    /// The ids not yet reached, highest first, when they were read at once (`sorted`); none for a statement.
    std::optional<std::vector<qint64>> takeRead() &&
    {
        if (statement_) {
            return std::nullopt;
        }
        read_.erase(read_.begin(), read_.begin() + qsizetype(next_ - (current_ ? 1 : 0)));
        return std::move(read_);
    }

    bool done() const { return !current_; }
    qint64 id() const { return *current_; }
    void advance()
    {
        const std::optional<qint64> last = current_;
        do {
            if (statement_) {
                current_ = statement_->step() ? std::optional<qint64>(statement_->row().int64At(0)) : std::nullopt;
            } else {
                current_ = next_ < read_.size() ? std::optional<qint64>(read_[next_++]) : std::nullopt;
            }
        } while (current_ && last && *current_ >= *last);
    }

private:
    explicit IdStream(std::vector<qint64> read) : read_(std::move(read)) { advance(); }

    std::shared_ptr<sqlite::Statement> statement_;
    /// Without a statement: the ids, highest first.
    std::vector<qint64> read_;
    std::size_t next_ = 0;
    std::optional<qint64> current_;
};

/// The ids of any of its streams, highest first, each once.
class AnyOf {
public:
    explicit AnyOf(std::vector<IdStream> streams) : streams_(std::move(streams)) {}

    bool done() const
    {
        return std::all_of(streams_.cbegin(), streams_.cend(), [](const IdStream& stream) { return stream.done(); });
    }
    /// The highest id of the streams that are not done; only when not `done`.
    qint64 id() const
    {
        std::optional<qint64> highest;
        for (const IdStream& stream : streams_) {
            if (!stream.done() && (!highest || stream.id() > *highest)) {
                highest = stream.id();
            }
        }
        return *highest;
    }
    /// Past the ids above `bound`.
    void skipAbove(qint64 bound)
    {
        for (IdStream& stream : streams_) {
            while (!stream.done() && stream.id() > bound) {
                stream.advance();
            }
        }
    }

    /// Every id not yet reached, highest first, when each stream was read at once; none otherwise.
    std::optional<std::vector<qint64>> takeRead() &&
    {
        std::optional<std::vector<qint64>> all;
        for (IdStream& stream : streams_) {
            std::optional<std::vector<qint64>> read = std::move(stream).takeRead();
            if (!read) {
                return std::nullopt;
            }
            if (!all) {
                all = std::move(read);
                continue;
            }
            std::vector<qint64> either;
            either.reserve(all->size() + read->size());
            std::set_union(all->begin(), all->end(), read->begin(), read->end(), std::back_inserter(either),
                           std::greater<>());
            all = std::move(either);
        }
        return all;
    }

private:
    std::vector<IdStream> streams_;
};

/// The ids that every condition gives, highest first: each condition is read only as far as the next common
/// id, so the newest matches come without reading the rest.
class AllOf {
public:
    explicit AllOf(std::vector<AnyOf> conditions) : conditions_(std::move(conditions)) {}

    std::optional<qint64> next()
    {
        for (;;) {
            std::optional<qint64> lowest;
            for (const AnyOf& condition : conditions_) {
                if (condition.done()) {
                    return std::nullopt;
                }
                lowest = lowest ? std::min(*lowest, condition.id()) : condition.id();
            }
            // No id above the lowest head is in every condition.
            bool common = true;
            for (AnyOf& condition : conditions_) {
                condition.skipAbove(*lowest);
                if (condition.done()) {
                    return std::nullopt;
                }
                common = common && condition.id() == *lowest;
            }
            if (common) {
                for (AnyOf& condition : conditions_) {
                    condition.skipAbove(*lowest - 1);
                }
                return lowest;
            }
        }
    }

private:
    std::vector<AnyOf> conditions_;
};

/// Every screenshot's folder (its first link), in one query.
QHash<qint64, qint64> readFolderIdsOfScreenshots(sqlite::Connection& db)
{
    const Schema& s = schema();
    QHash<qint64, qint64> folders;
    sqlite::RowIterator rows = db.prepareRowIterator(s.foldersScreenshots.selectColumns(s.screenshotId, s.folderId));
    while (const std::optional<sqlite::Row> row = rows.failableNext()) {
        const std::optional<std::int64_t> screenshotId = row->getValue(nullable(s.screenshotId));
        const std::optional<std::int64_t> folderId = row->getValue(nullable(s.folderId));
        if (screenshotId && folderId && !folders.contains(*screenshotId)) {
            folders.insert(*screenshotId, *folderId);
        }
    }
    return folders;
}

} // namespace

namespace {

/// Hands `take` the rows of `query` (the list columns), each with its folder from one query over the links
/// rather than one query per row; `rowsRead` is called once `firstRows` of them have been handed over.
void readListRows(sqlite::Connection& db, const sqlite::Table& query, const std::function<void(ScreenshotRow&&)>& take,
                  qsizetype firstRows = 0, const std::function<void()>& rowsRead = {})
{
    const QHash<qint64, qint64> folders = readFolderIdsOfScreenshots(db);
    sqlite::RowIterator rows = db.prepareRowIterator(query);
    const ScreenshotRowReader reader(*rows.sharedColumnNames(), false);
    // The few applications that made the screenshots, each held once and shared by the rows that name it.
    QSet<QString> applications;
    const auto shared = [&](std::optional<QString>& text, std::optional<QString>& before) {
        if (text && before && *text == *before) {
            text = before; // most rows come from the application of the row before
        } else if (text) {
            text = *applications.insert(*text);
        }
        before = text;
    };
    std::optional<QString> appName;
    std::optional<QString> appBundleId;
    qsizetype handed = 0;
    while (const std::optional<sqlite::Row> values = rows.failableNext()) {
        if (std::optional<ScreenshotRow> row = reader.read(*values)) {
            shared(row->capturedAppName, appName);
            shared(row->capturedAppBundleId, appBundleId);
            const auto found = folders.constFind(row->id);
            row->folderId = found == folders.constEnd() ? std::nullopt : std::optional<qint64>(*found);
            take(std::move(*row));
            if (++handed == firstRows && rowsRead) {
                rowsRead();
            }
        }
    }
}

} // namespace

StoreResult<void> ScreenshotsDB::queryScreenshots(const std::optional<QString>& searchText,
                                                  const std::optional<Folder>& folder,
                                                  const std::optional<FolderSection>& period,
                                                  const std::function<void(ScreenshotRow&&)>& take)
{
    return run(*this, loadRead, [&](sqlite::Connection& db) {
        sqlite::Table query = listColumnsQuery(false);
        if (const std::optional<std::vector<qint64>> ids = filteredIds(db, searchText, folder, period)) {
            // The filter's ids as one JSON array: any number of them in one bound value.
            std::string array = "[";
            for (const qint64 id : *ids) {
                if (array.size() > 1) {
                    array += ',';
                }
                array += std::to_string(id);
            }
            array += ']';
            query = std::move(query).filterQuery(
                Column<bool>("\"screenshots\".\"id\" IN (SELECT value FROM json_each(?))", {std::move(array)}));
        }
        readListRows(db, query, take);
    });
}

StoreResult<void> ScreenshotsDB::readScreenshotRows(const std::function<void(ScreenshotRow&&)>& take,
                                                    qsizetype firstRows, const std::function<void()>& firstRowsRead)
{
    return run(*this, loadRead, [&](sqlite::Connection& db) {
        readListRows(db, listColumnsQuery(false), take, firstRows, firstRowsRead);
    });
}

StoreResult<QHash<qint64, QString>> ScreenshotsDB::screenshotTextSnippets(const std::vector<qint64>& ids)
{
    const Schema& s = schema();
    std::string array = "[";
    for (const qint64 id : ids) {
        if (array.size() > 1) {
            array += ',';
        }
        array += std::to_string(id);
    }
    array += ']';
    return run(*this, printed, [&](sqlite::Connection& db) {
        QHash<qint64, QString> snippets;
        const std::shared_ptr<sqlite::Statement> statement = db.prepare(
            "SELECT id, " + s.textSnippet.template_ + " FROM screenshots WHERE id IN (SELECT value FROM json_each(?))",
            sqlite::Bindings{std::move(array)});
        while (statement->step()) {
            const std::string snippet = statement->row().stringAt(1); // empty for NULL
            snippets.insert(statement->row().int64At(0), QString::fromUtf8(snippet.data(), qsizetype(snippet.size())));
        }
        return snippets;
    });
}

StoreResult<QHash<qint64, qint64>> ScreenshotsDB::folderIdsOfScreenshots()
{
    return run(*this, loadRead, [](sqlite::Connection& db) { return readFolderIdsOfScreenshots(db); });
}

StoreResult<std::optional<std::vector<qint64>>>
ScreenshotsDB::filteredScreenshotIds(const std::optional<QString>& searchText, const std::optional<Folder>& folder,
                                     const std::optional<FolderSection>& period, qsizetype firstIds,
                                     const std::function<void(const std::vector<qint64>&)>& firstIdsFound)
{
    return run(*this, loadRead, [&](sqlite::Connection& db) {
        return filteredIds(db, searchText, folder, period, firstIds, firstIdsFound);
    });
}

namespace {

/// The last word of a search text when the word index may be spared for it: made of ASCII letters and digits
/// alone (which FTS5 reads as one word, in lower case), in lower case; none otherwise.
std::optional<std::string> plainLastWord(const std::optional<QString>& searchText)
{
    if (!searchText) {
        return std::nullopt;
    }
    const QStringList words = searchWords(*searchText);
    // A text of one word is searched as it is: only the word with blanks around it is that word.
    if (words.isEmpty() || (words.size() == 1 && searchText->trimmed() != words.front())) {
        return std::nullopt;
    }
    std::string word;
    for (const QChar character : words.back()) {
        const char16_t unit = character.unicode();
        const bool plain =
            (unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z') || (unit >= u'0' && unit <= u'9');
        if (!plain) {
            return std::nullopt;
        }
        word += char(unit >= u'A' && unit <= u'Z' ? unit - u'A' + u'a' : unit);
    }
    return word;
}

bool plainCharacter(char character)
{
    return (character >= 'a' && character <= 'z') || (character >= 'A' && character <= 'Z') ||
           (character >= '0' && character <= '9');
}

/// Whether a word of `text` begins with `prefix` (ASCII lower case letters and digits), as the word index
/// splits and folds ASCII text: runs of letters and digits, in lower case. None when a character beyond ASCII
/// comes first, whose words this does not tell.
std::optional<bool> hasWordStartingWith(std::string_view text, std::string_view prefix)
{
    bool wordStart = true;
    for (std::size_t index = 0; index < text.size(); ++index) {
        const char character = text[index];
        if (static_cast<unsigned char>(character) >= 0x80) {
            return std::nullopt;
        }
        if (!plainCharacter(character)) {
            wordStart = true;
            continue;
        }
        if (wordStart && text.size() - index >= prefix.size()) {
            bool starts = true;
            for (std::size_t offset = 0; offset < prefix.size() && starts; ++offset) {
                const char letter = text[index + offset];
                starts = (letter >= 'A' && letter <= 'Z' ? char(letter - 'A' + 'a') : letter) == prefix[offset];
            }
            if (starts) {
                return true;
            }
        }
        wordStart = false;
    }
    return false;
}

/// The conditions of a filtered list, each the ids that meet it: a pattern of the search or of the folder's
/// keywords (in either full-text index), the period and the plain folder.
class IdConditions {
public:
    /// `newestFirst`: each index is asked newest match first, for the answers to be merged as they come; FTS5
    /// gives its matches in id order, which spares SQLite a temporary table of them and a look-up of every
    /// matching row, and the newest are known before the index has been read to its end. Otherwise each index is
    /// read whole in its own order, which costs least.
    IdConditions(sqlite::Connection& db, const std::vector<MatchPatterns>& patterns,
                 const std::optional<Folder>& folder, const std::optional<FolderSection>& period, bool wordIndex,
                 bool newestFirst)
        : db_(db), patterns_(patterns), folder_(folder), period_(period), wordIndex_(wordIndex),
          newestFirst_(newestFirst),
          porter_("SELECT rowid FROM screenshots_fts WHERE screenshots_fts MATCH ?" + order()),
          words_("SELECT rowid FROM screenshots_words WHERE screenshots_words MATCH ?" + order())
    {}

    /// The conditions in the order of the patterns, then the period's and the folder's; without `lastPrefix`,
    /// the last pattern is asked of the porter index alone.
    std::vector<AnyOf> make(bool lastPrefix) const
    {
        std::vector<AnyOf> conditions;
        const auto restrict = [&](IdStream stream) {
            std::vector<IdStream> streams;
            streams.push_back(std::move(stream));
            conditions.emplace_back(std::move(streams));
        };
        for (std::size_t index = 0; index < patterns_.size(); ++index) {
            const MatchPatterns& condition = patterns_[index];
            if (!wordIndex_) {
                restrict(stream(porter_, {utf8(condition.prefixes.value_or(condition.whole))}));
                continue;
            }
            std::vector<IdStream> either;
            either.push_back(stream(porter_, {utf8(condition.whole)}));
            if (condition.prefixes && (lastPrefix || index + 1 < patterns_.size())) {
                either.push_back(stream(words_, {utf8(*condition.prefixes)}));
            }
            conditions.emplace_back(std::move(either));
        }
        if (const std::optional<DateRange> range = dateRangeFilter(period_)) {
            // Read from the index of creation times, which holds them in another order.
            restrict(IdStream::sorted(db_, "SELECT id FROM screenshots WHERE created_at >= ? AND created_at <= ?",
                                      {utf8(range->lower), utf8(range->upper)}));
        }
        if (folder_ && !folder_->isSmartFolder) {
            restrict(stream("SELECT screenshot_id FROM folders_screenshots WHERE folder_id = ?" +
                                std::string(newestFirst_ ? " ORDER BY screenshot_id DESC" : ""),
                            {std::int64_t(folder_->id)}));
        }
        return conditions;
    }

private:
    std::string order() const { return newestFirst_ ? " ORDER BY rowid DESC" : ""; }
    IdStream stream(const std::string& sql, const sqlite::Bindings& values) const
    {
        return newestFirst_ ? IdStream(db_, sql, values) : IdStream::sorted(db_, sql, values);
    }

    sqlite::Connection& db_;
    const std::vector<MatchPatterns>& patterns_;
    const std::optional<Folder>& folder_;
    const std::optional<FolderSection>& period_;
    bool wordIndex_;
    bool newestFirst_;
    std::string porter_;
    std::string words_;
};

/// Whether the library holds at least `count` screenshots.
bool holdsScreenshots(sqlite::Connection& db, qsizetype count)
{
    return db
        .prepare("SELECT id FROM screenshots ORDER BY id DESC LIMIT 1 OFFSET ?",
                 sqlite::Bindings{std::int64_t(count - 1)})
        ->step();
}

/// Whether a word of the screenshot's text, name, keywords or description begins with `prefix`; none when one
/// of them does not tell. A screenshot gone has none.
std::optional<bool> rowHasWordStartingWith(sqlite::Connection& db, qint64 id, std::string_view prefix)
{
    const std::shared_ptr<sqlite::Statement> row = db.prepare(
        "SELECT text, name, keywords, description FROM screenshots WHERE id = ?", sqlite::Bindings{std::int64_t(id)});
    if (!row->step()) {
        return false;
    }
    for (int column = 0; column < 4; ++column) {
        const std::optional<bool> found = hasWordStartingWith(row->row().stringAt(column), prefix);
        if (!found || *found) {
            return found;
        }
    }
    return false;
}

/// The newest `count` screenshots that meet `conditions`, the one at `prefixed` (the last pattern, asked of the
/// porter index alone) or else a word that begins with `prefix`, looked at one by one; none when they are not
/// found so: fewer matches than `count` (the whole answer is as quick), too rare ones, or a text that does not
/// tell.
std::optional<std::vector<qint64>> newestLookedAt(sqlite::Connection& db, std::vector<AnyOf> conditions,
                                                  std::size_t prefixed, std::string_view prefix, qsizetype count)
{
    AnyOf last = std::move(conditions[prefixed]);
    conditions.erase(conditions.begin() + qsizetype(prefixed));
    if (conditions.empty()) {
        std::vector<IdStream> every;
        every.emplace_back(db, "SELECT id FROM screenshots ORDER BY id DESC", sqlite::Bindings{});
        conditions.emplace_back(std::move(every));
    }
    AllOf candidates(std::move(conditions));
    std::vector<qint64> newest;
    // Beyond this many looked at, the matches are too rare to be found so: the indexes answer.
    const qsizetype mostLookedAt = 10 * count;
    for (qsizetype lookedAt = 0; lookedAt < mostLookedAt && qsizetype(newest.size()) < count; ++lookedAt) {
        const std::optional<qint64> id = candidates.next();
        if (!id) {
            return std::nullopt;
        }
        last.skipAbove(*id);
        bool matches = !last.done() && last.id() == *id;
        if (!matches) {
            const std::optional<bool> found = rowHasWordStartingWith(db, *id, prefix);
            if (!found) {
                return std::nullopt;
            }
            matches = *found;
        }
        if (matches) {
            newest.push_back(*id);
        }
    }
    return qsizetype(newest.size()) == count ? std::optional(std::move(newest)) : std::nullopt;
}

/// The ids that meet every condition, each read at once (as every stream is, without a first part to find),
/// merged as sets without stepping through them one by one; none without a condition that was read so.
std::optional<std::vector<qint64>> idsOfAll(std::vector<AnyOf> conditions)
{
    std::optional<std::vector<qint64>> ids;
    for (AnyOf& condition : conditions) {
        std::optional<std::vector<qint64>> next = std::move(condition).takeRead();
        if (ids && next) {
            std::vector<qint64> both;
            std::set_intersection(ids->begin(), ids->end(), next->begin(), next->end(), std::back_inserter(both),
                                  std::greater<>());
            next = std::move(both);
        }
        ids = std::move(next);
    }
    return ids;
}

} // namespace

std::optional<std::vector<qint64>>
ScreenshotsDB::filteredIds(sqlite::Connection& db, const std::optional<QString>& searchText,
                           const std::optional<Folder>& folder, const std::optional<FolderSection>& period,
                           qsizetype firstIds,
                           const std::function<void(const std::vector<qint64>&)>& firstIdsFound) const
{
    const std::optional<QString> keywords = folder ? folder->keywordsFilter : std::nullopt;
    const std::vector<MatchPatterns> patterns = ftsSearchConditions(keywords, searchText);
    // Each index is asked on its own and the answers merged here; newest match first when a first part is to be
    // found.
    const IdConditions conditionsOf(db, patterns, folder, period, wordIndex_, bool(firstIdsFound));
    bool firstFound = false;
    // FTS5 merges the entries of every word that a prefix begins before it gives the first match, unless its
    // prefix index holds that length: a short or common prefix costs as much as all its matches. The newest
    // screenshots that meet the other conditions are looked at one by one instead, as long as their text tells.
    // A library of fewer screenshots than a first part has none.
    if (firstIdsFound && firstIds > 0 && wordIndex_ && !patterns.empty() && holdsScreenshots(db, firstIds)) {
        if (const std::optional<std::string> prefix = plainLastWord(searchText)) {
            if (const std::optional<std::vector<qint64>> newest =
                    newestLookedAt(db, conditionsOf.make(false), patterns.size() - 1, *prefix, firstIds)) {
                firstFound = true;
                firstIdsFound(*newest);
            }
        }
    }
    std::vector<AnyOf> conditions = conditionsOf.make(true);
    if (conditions.empty()) {
        return std::nullopt;
    }
    if (!firstIdsFound) {
        return idsOfAll(std::move(conditions));
    }
    std::vector<qint64> ids;
    AllOf matching(std::move(conditions));
    while (const std::optional<qint64> id = matching.next()) {
        ids.push_back(*id);
        if (qsizetype(ids.size()) == firstIds && firstIdsFound && !firstFound) {
            firstIdsFound(ids);
        }
    }
    return ids;
}

StoreResult<std::pair<qint64, qint64>> ScreenshotsDB::changeStamp()
{
    return run(*this, printed, [](sqlite::Connection& db) {
        const std::optional<sqlite::Binding> version = db.scalar("PRAGMA data_version");
        return std::pair<qint64, qint64>(db.totalChanges(),
                                         version ? std::get<std::int64_t>(*version) : std::int64_t(0));
    });
}

StoreResult<qint64> ScreenshotsDB::folderIdForScreenshot(qint64 screenshotId)
{
    const Schema& s = schema();
    const sqlite::Table query =
        s.foldersScreenshots.filterQuery(sqlite::equalsValue(s.screenshotId, std::int64_t(screenshotId)));
    return found(run(*this, printed, [&](sqlite::Connection& db) -> std::optional<qint64> {
        sqlite::RowIterator rows = db.prepareQuery(query);
        const std::optional<sqlite::Row> row = rows.failableNext();
        return row ? row->getValue(nullable(s.folderId)) : std::nullopt;
    }));
}

StoreResult<ScreenshotRow> ScreenshotsDB::screenshotRow(qint64 screenshotId)
{
    return found(run(*this, printed, [&](sqlite::Connection& db) { return readScreenshotRow(db, screenshotId); }));
}

StoreResult<ScreenshotDetails> ScreenshotsDB::screenshotDetails(qint64 screenshotId)
{
    const Schema& s = schema();
    const sqlite::Table query = s.screenshots.filterQuery(sqlite::equalsValue(s.id, std::int64_t(screenshotId)))
                                    .selectColumns(s.text, s.aiResults, s.aiAssistantResults);
    return found(run(*this, printed, [&](sqlite::Connection& db) -> std::optional<ScreenshotDetails> {
        const std::optional<sqlite::Row> row = db.pluck(query);
        if (!row) {
            return std::nullopt;
        }
        return ScreenshotDetails{fromUtf8(row->getValue(s.text)), fromUtf8(row->getValue(s.aiResults)),
                                 fromUtf8(row->getValue(s.aiAssistantResults))};
    }));
}

StoreResult<qint64> ScreenshotsDB::countScreenshotsInFolder(const std::optional<Folder>& folder)
{
    if (!folder) {
        return StoreError::absent();
    }
    if (folder->isSmartFolder) {
        const std::optional<QString> pattern = ftsSearchQuery(folder->keywordsFilter, std::nullopt);
        if (!pattern || pattern->isEmpty()) {
            return StoreError::absent();
        }
    }
    if (!db_) {
        return StoreError::noConnection();
    }
    // Counted from the indexes' answers alone, without a look-up of each matching row. The count is read as a
    // list is loaded: a corrupt index is rebuilt once.
    std::optional<std::vector<qint64>> ids;
    const StoreResult<void> counted =
        loadAfterRebuildingIndex(*this, [&] { ids = filteredIds(*db_, std::nullopt, folder, std::nullopt); });
    if (!counted) {
        return counted.error();
    }
    return ids ? StoreResult<qint64>(static_cast<qint64>(ids->size())) : StoreError::absent();
}

StoreResult<qint64> ScreenshotsDB::countScreenshotsInPeriod(const FolderSection& section)
{
    return found(run(*this, printed, [&](sqlite::Connection& db) -> std::optional<qint64> {
        const std::optional<std::vector<qint64>> ids = filteredIds(db, std::nullopt, std::nullopt, section);
        return ids ? std::optional<qint64>(static_cast<qint64>(ids->size())) : std::nullopt;
    }));
}

StoreResult<qint64> ScreenshotsDB::countScreenshots()
{
    return run(*this, printed,
               [](sqlite::Connection& db) -> qint64 { return db.queryScalar(schema().screenshots.count()); });
}

StoreResult<std::vector<Folder>> ScreenshotsDB::queryFolders()
{
    const Schema& s = schema();
    return run(*this, leftToCaller, [&](sqlite::Connection& db) {
        std::vector<Folder> folders;
        sqlite::RowIterator rows = db.prepareQuery(s.folders.orderQuery(s.sortOrder.asc()));
        while (const std::optional<sqlite::Row> row = rows.failableNext()) {
            const std::optional<std::int64_t> id = row->getValue(nullable(s.id));
            if (!id) {
                continue; // the store's own writes never leave a folder without id
            }
            folders.push_back(Folder{*id, row->getValue(nullable(s.sortOrder)).value_or(0),
                                     fromUtf8(row->getValue(nullable(s.folderName))).value_or(QString()),
                                     row->getValue(nullable(s.isSmartFolder)).value_or(false),
                                     fromUtf8(row->getValue(s.keywordsFilter))});
        }
        return folders;
    });
}

StoreResult<void> ScreenshotsDB::rebuildIndex()
{
    systemLog(QStringLiteral("Rebuilding index"));
    return run(*this, printed, [&](sqlite::Connection& db) {
        db.executeScript(porterIndex.rebuildStatement());
        if (wordIndex_) {
            db.executeScript(wordIndex.rebuildStatement());
        }
    });
}

} // namespace lumetrove
