// The library store's reads: lists, full-text search, counts and folders.
#include "lumetrove/library/DateRange.h"
#include "lumetrove/library/FullTextSearch.h"
#include "lumetrove/library/ScreenshotsDBParts.h"
#include "lumetrove/platform/Log.h"

#include <QHash>
#include <algorithm>
#include <iterator>

namespace lumetrove {

using namespace store;

bool loadRebuildingIndexOnce(ScreenshotsDB& store, const std::function<void()>& load)
{
    return loadAfterRebuildingIndex(store, load).has_value();
}

// Reads -----------------------------------------------------------------------------------------------------

namespace {

/// The first column of every row, as a set: ascending, each once.
std::vector<qint64> readIds(sqlite::Connection& db, const std::string& sql, const sqlite::Bindings& values)
{
    const std::shared_ptr<sqlite::Statement> statement = db.prepare(sql, values);
    std::vector<qint64> ids;
    while (statement->step()) {
        ids.push_back(statement->row().int64At(0));
    }
    // A full-text index gives its rows in id order already; only other queries need sorting.
    if (!std::is_sorted(ids.begin(), ids.end())) {
        std::sort(ids.begin(), ids.end());
    }
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
}

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

StoreResult<void> ScreenshotsDB::queryScreenshots(const std::optional<QString>& searchText,
                                                  const std::optional<Folder>& folder,
                                                  const std::optional<FolderSection>& period,
                                                  const std::function<void(ScreenshotRow&&)>& take)
{
    return run(*this, loadRead, [&](sqlite::Connection& db) {
        sqlite::Table query = listColumnsQuery();
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
        // Each row's folder, from one query over the links rather than one query per row.
        const QHash<qint64, qint64> folders = readFolderIdsOfScreenshots(db);
        sqlite::RowIterator rows = db.prepareRowIterator(query);
        const ScreenshotRowReader reader(*rows.sharedColumnNames());
        while (const std::optional<sqlite::Row> values = rows.failableNext()) {
            if (std::optional<ScreenshotRow> row = reader.read(*values)) {
                const auto found = folders.constFind(row->id);
                row->folderId = found == folders.constEnd() ? std::nullopt : std::optional<qint64>(*found);
                take(std::move(*row));
            }
        }
    });
}

StoreResult<QHash<qint64, qint64>> ScreenshotsDB::folderIdsOfScreenshots()
{
    return run(*this, loadRead, [](sqlite::Connection& db) { return readFolderIdsOfScreenshots(db); });
}

StoreResult<std::optional<std::vector<qint64>>>
ScreenshotsDB::filteredScreenshotIds(const std::optional<QString>& searchText, const std::optional<Folder>& folder,
                                     const std::optional<FolderSection>& period)
{
    return run(*this, loadRead, [&](sqlite::Connection& db) { return filteredIds(db, searchText, folder, period); });
}

std::optional<std::vector<qint64>> ScreenshotsDB::filteredIds(sqlite::Connection& db,
                                                              const std::optional<QString>& searchText,
                                                              const std::optional<Folder>& folder,
                                                              const std::optional<FolderSection>& period) const
{
    std::optional<std::vector<qint64>> ids;
    const auto restrict = [&](std::vector<qint64> next) {
        if (ids) {
            std::vector<qint64> both;
            std::set_intersection(ids->begin(), ids->end(), next.begin(), next.end(), std::back_inserter(both));
            next = std::move(both);
        }
        ids = std::move(next);
    };
    const std::optional<QString> keywords = folder ? folder->keywordsFilter : std::nullopt;
    // Each index is asked on its own and the answers merged here: the matches come out of FTS5 in id order,
    // which spares SQLite a temporary table of them and a look-up of every matching row.
    constexpr const char* porter = "SELECT rowid FROM screenshots_fts WHERE screenshots_fts MATCH ?";
    for (const MatchPatterns& condition : ftsSearchConditions(keywords, searchText)) {
        if (!wordIndex_) {
            restrict(readIds(db, porter, {utf8(condition.prefixes.value_or(condition.whole))}));
            continue;
        }
        std::vector<qint64> matching = readIds(db, porter, {utf8(condition.whole)});
        if (condition.prefixes) {
            const std::vector<qint64> starts = readIds(
                db, "SELECT rowid FROM screenshots_words WHERE screenshots_words MATCH ?", {utf8(*condition.prefixes)});
            std::vector<qint64> either;
            either.reserve(matching.size() + starts.size());
            std::set_union(matching.begin(), matching.end(), starts.begin(), starts.end(), std::back_inserter(either));
            matching = std::move(either);
        }
        restrict(std::move(matching));
    }
    if (const std::optional<DateRange> range = dateRangeFilter(period)) {
        restrict(readIds(db, "SELECT id FROM screenshots WHERE created_at >= ? AND created_at <= ?",
                         {utf8(range->lower), utf8(range->upper)}));
    }
    if (folder && !folder->isSmartFolder) {
        restrict(readIds(db, "SELECT screenshot_id FROM folders_screenshots WHERE folder_id = ?",
                         {std::int64_t(folder->id)}));
    }
    if (ids) {
        std::reverse(ids->begin(), ids->end());
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
