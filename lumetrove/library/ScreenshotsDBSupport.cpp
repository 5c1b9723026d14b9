// What the parts of the library store share: the failure log, the index rebuild of a load, the row reader.
#include "lumetrove/library/LibraryProblems.h"
#include "lumetrove/library/ScreenshotsDBParts.h"
#include "lumetrove/platform/Log.h"

namespace lumetrove {

using namespace store;

void store::logFailure(const StoreError& error, const FailureLog& log)
{
    if (!log.logged || error.kind() == StoreError::Kind::noConnection || error.kind() == StoreError::Kind::absent) {
        return;
    }
    const QString line = QString::fromUtf8(log.prefix) + error.description();
    if (log.toSystemLog) {
        systemLog(line);
    } else {
        printLine(line);
    }
    if (log.notKept != nullptr) {
        reportLibraryProblem(QString::fromUtf8(log.notKept) + error.plainDescription());
    }
}

StoreResult<void> store::loadAfterRebuildingIndex(ScreenshotsDB& store, const std::function<void()>& load)
{
    bool mayRebuild = true;
    bool mayRepair = true;
    while (true) {
        const int repairs = store.repairCount();
        StoreResult<void> loaded = attempt(load);
        const bool damaged = !loaded && loaded.error().kind() == StoreError::Kind::corruption;
        if (damaged && mayRebuild) {
            mayRebuild = false;
            (void)store.rebuildIndex();
            continue;
        }
        // Not an index alone, or one that cannot be rebuilt: the library is mended, and the load tried again.
        if (damaged && mayRepair) {
            mayRepair = false;
            if (store.repairAfterDamage(loaded.error().description(), repairs)) {
                continue;
            }
        }
        if (!loaded) {
            logFailure(loaded.error(), screenshotsNotLoaded);
        }
        return loaded;
    }
}

ScreenshotRowReader::ScreenshotRowReader(const sqlite::ColumnNames& columns, bool withSnippet)
{
    const Schema& s = schema();
    const auto index = [&](const sqlite::Expression<void>& column) { return columns.indexOf(column.template_); };
    id_ = index(s.id);
    name_ = index(s.name);
    createdAt_ = index(s.createdAt);
    description_ = index(s.description);
    keywords_ = index(s.keywords);
    path_ = index(s.path);
    capturedAppName_ = index(s.capturedAppName);
    capturedAppBundleId_ = index(s.capturedAppBundleId);
    isAIAssistantTask_ = index(s.isAIAssistantTask);
    aiAssistantTask_ = index(s.aiAssistantTask);
    wasImported_ = index(s.wasImported);
    textSnippet_ = withSnippet ? index(s.textSnippet) : -1;
}

std::optional<ScreenshotRow> ScreenshotRowReader::read(const sqlite::Row& values) const
{
    const sqlite::Bindings& v = values.values();
    const std::optional<std::int64_t> id = readInteger(v, id_);
    std::optional<QString> path = readText(v, path_);
    if (!id || !path) {
        return std::nullopt;
    }
    ScreenshotRow row;
    row.id = *id;
    row.path = std::move(*path);
    row.name = readText(v, name_);
    row.createdAt = readText(v, createdAt_);
    row.description = readText(v, description_);
    row.keywords = readText(v, keywords_);
    row.detailsRead = false;
    row.capturedAppName = readText(v, capturedAppName_);
    row.capturedAppBundleId = readText(v, capturedAppBundleId_);
    row.isAIAssistantTask = readInteger(v, isAIAssistantTask_).value_or(0) != 0;
    row.aiAssistantTask = readText(v, aiAssistantTask_);
    row.wasImported = readInteger(v, wasImported_).value_or(0) != 0;
    row.textSnippet = readText(v, textSnippet_);
    return row;
}

sqlite::Table store::listColumnsQuery(bool withSnippet)
{
    const Schema& s = schema();
    const auto column = [&](const auto& expression) { return s.screenshots.qualifiedColumn(expression); };
    const sqlite::Table ordered = s.screenshots.orderQuery(column(s.id).desc());
    if (!withSnippet) {
        return ordered.selectColumns(column(s.id), column(s.name), column(s.createdAt), column(s.description),
                                     column(s.keywords), column(s.path), column(s.capturedAppBundleId),
                                     column(s.capturedAppName), column(s.isAIAssistantTask), column(s.aiAssistantTask),
                                     column(s.wasImported));
    }
    return ordered.selectColumns(column(s.id), column(s.name), column(s.createdAt), column(s.description),
                                 column(s.keywords), column(s.path), column(s.capturedAppBundleId),
                                 column(s.capturedAppName), column(s.isAIAssistantTask), column(s.aiAssistantTask),
                                 column(s.wasImported), s.textSnippet);
}

std::optional<ScreenshotRow> store::readScreenshotRow(sqlite::Connection& db, qint64 screenshotId)
{
    const Schema& s = schema();
    const std::optional<sqlite::Row> values = db.pluck(listColumnsQuery().filterQuery(
        sqlite::equalsValue(s.screenshots.qualifiedColumn(s.id), std::int64_t(screenshotId))));
    std::optional<ScreenshotRow> row =
        values ? ScreenshotRowReader(*values->sharedColumnNames()).read(*values) : std::nullopt;
    if (row) {
        const std::optional<sqlite::Binding> folder = db.scalar(
            "SELECT folder_id FROM folders_screenshots WHERE screenshot_id = ? LIMIT 1", std::int64_t(screenshotId));
        if (folder) {
            if (const auto* id = std::get_if<std::int64_t>(&*folder)) {
                row->folderId = *id;
            }
        }
    }
    return row;
}

} // namespace lumetrove
