#include "lumetrove/library/ScreenshotsListManager.h"

#include "lumetrove/library/DataDirectories.h"
#include "lumetrove/library/FullTextSearch.h"
#include "lumetrove/library/LibraryProblems.h"
#include "lumetrove/platform/NotificationCenter.h"
#include "tests/lumetrove/library/LibraryTest.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPromise>
#include <QSemaphore>
#include <QSignalSpy>
#include <QThreadPool>
#include <atomic>
#include <functional>
#include <map>
#include <random>
#include <set>

namespace lumetrove {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class ScreenshotsListManagerTest : public testing::OpenLibraryTest {
protected:
    static std::vector<qint64> ids(const ScreenshotList& list) { return list.ids(); }

    /// A capture as the capture code hands it over: a PNG under its temporary name.
    CapturedScreenshotInfo capture(const QString& text, std::optional<WindowDetails> details = std::nullopt)
    {
        const QString name = QString("New Screenshot %1.png").arg(++captures);
        const QString file = *screenshotsDirectory() + "/" + name;
        QFile image(file);
        image.open(QIODevice::WriteOnly);
        image.write("png");
        return CapturedScreenshotInfo{name, QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded), text,
                                      QByteArray("thumbnail"), std::move(details)};
    }

    /// Waits until the manager has sent its folder subject `count` times.
    static void waitForSubject(QSignalSpy& spy, int count)
    {
        ASSERT_TRUE(testing::processEventsUntil([&] { return spy.count() >= count; }));
    }

    int captures = 0;
};

TEST_F(ScreenshotsListManagerTest, TheFirstListIsLoadedOnThePoolAndPublished)
{
    const qint64 a = addScreenshot(*store, "a"), b = addScreenshot(*store, "b");
    ScreenshotsListManager manager(store);
    EXPECT_FALSE(manager.listLoaded()); // nothing is published before the event loop runs
    EXPECT_THAT(manager.screenshots(), IsEmpty());
    QSignalSpy published(&manager, &ScreenshotsListManager::screenshotsChanged);
    ASSERT_TRUE(testing::processEventsUntil([&] { return published.count() == 1; }));
    EXPECT_THAT(ids(manager.screenshots()), ElementsAre(b, a));
    EXPECT_EQ(manager.screenshots()[0]->thread(), manager.thread());
    EXPECT_EQ(manager.totalScreenshotCount(), 2);
}

TEST_F(ScreenshotsListManagerTest, AnEmptyLibrarysFirstListIsPublishedToo)
{
    ScreenshotsListManager manager(store);
    QSignalSpy published(&manager, &ScreenshotsListManager::screenshotsChanged);
    ASSERT_TRUE(testing::processEventsUntil([&] { return published.count() == 1; }));
    EXPECT_TRUE(manager.listLoaded());
    EXPECT_THAT(manager.screenshots(), IsEmpty());
}

TEST_F(ScreenshotsListManagerTest, ListedRecordsRunNoSQLInTheirGettersAndLoadTheirLongTextsWhenAsked)
{
    const QString text = QString("recognised words ").repeated(100); // longer than a row shows
    const qint64 id = addScreenshot(*store, "a", text);
    (void)store->updateScreenshot(id, {.name = "a", .aiResults = "raw answer", .aiAssistantResults = "the answer"});
    ScreenshotsListManager manager(store);
    testing::waitForList(manager);
    const ScreenshotPtr record = manager.screenshots().at(0);

    std::vector<std::string> statements;
    store->db()->setTrace([&](const std::string& sql) { statements.push_back(sql); });
    EXPECT_FALSE(record->hasDetails());
    EXPECT_EQ(record->text(), std::nullopt);
    EXPECT_EQ(record->aiResults(), std::nullopt);
    EXPECT_EQ(record->aiAssistantResults(), std::nullopt);
    EXPECT_EQ(record->thumbnailImage(), nullptr);
    // A list holds no text start of its own: those of its first rows are read with it.
    EXPECT_EQ(record->textSnippet(), QString());
    EXPECT_EQ(manager.listedTextSnippet(id), text.left(screenshotTextSnippetLength));
    EXPECT_FALSE(record->encode().contains("text"));
    store->db()->setTrace(nullptr);
    EXPECT_THAT(statements, IsEmpty());

    record->setName("b"); // a save leaves the answers it has not read as they are
    EXPECT_THAT(column("SELECT name || '|' || ai_results || '|' || ai_assistant_results FROM screenshots"),
                ElementsAre("\"b|raw answer|the answer\""));

    QSignalSpy loaded(record.get(), &Screenshot::detailsLoaded);
    QSignalSpy answer(record.get(), &Screenshot::aiAssistantResultsChanged);
    record->loadDetails();
    record->loadDetails(); // once is enough
    ASSERT_TRUE(testing::processEventsUntil([&] { return loaded.count() == 1; }));
    EXPECT_TRUE(record->hasDetails());
    EXPECT_EQ(record->text(), text);
    EXPECT_EQ(record->aiResults(), "raw answer");
    EXPECT_EQ(record->aiAssistantResults(), "the answer");
    EXPECT_EQ(answer.count(), 1); // the detail pane shows what came in
    EXPECT_EQ(record->encode().value("text").toString(), text);
    testing::processEventsUntil([] { return false; }, 50);
    EXPECT_EQ(loaded.count(), 1);
}

TEST_F(ScreenshotsListManagerTest, AFieldAssignedWhileTheLongTextsLoadKeepsItsValueAndIsSaved)
{
    const qint64 id = addScreenshot(*store, "a", "stored words");
    (void)store->updateScreenshot(id, {.name = "a", .aiResults = "old raw", .aiAssistantResults = "old answer"});
    ScreenshotsListManager manager(store);
    testing::waitForList(manager);
    const ScreenshotPtr record = manager.screenshots().at(0);
    record->setAiResults("new raw"); // before the load
    record->save();
    EXPECT_THAT(column("SELECT ai_results || '|' || ai_assistant_results FROM screenshots"),
                ElementsAre("\"new raw|old answer\""));
    QSignalSpy loaded(record.get(), &Screenshot::detailsLoaded);
    record->loadDetails();
    record->takeRecognizedText("newer words"); // while it loads
    ASSERT_TRUE(testing::processEventsUntil([&] { return loaded.count() == 1; }));
    EXPECT_EQ(record->aiResults(), "new raw");
    EXPECT_EQ(record->text(), "newer words");
    EXPECT_EQ(record->aiAssistantResults(), "old answer");
}

TEST_F(ScreenshotsListManagerTest, ARowChangedWithTheSameIdsIsPublishedAnew)
{
    // As a capture is: inserted under its temporary name, listed, then renamed once it is named.
    const qint64 id = addScreenshot(*store, "New Screenshot 1.png");
    ScreenshotsListManager manager(store);
    testing::waitForList(manager);
    (void)store->updateScreenshot(id, {.name = "Screen Shot 2026-01-01 at 10.00.00 AM"});
    QSignalSpy published(&manager, &ScreenshotsListManager::screenshotsChanged);
    manager.reload();
    ASSERT_TRUE(testing::processEventsUntil([&] { return published.count() == 1; }));
    ASSERT_THAT(ids(manager.screenshots()), ElementsAre(id));
    EXPECT_EQ(manager.screenshots()[0]->name(), "Screen Shot 2026-01-01 at 10.00.00 AM");
}

TEST_F(ScreenshotsListManagerTest, AListIsRowsAndARecordIsMadeOnlyWhenAskedForAndSharedWhileHeld)
{
    const qint64 a = addScreenshot(*store, "a"), b = addScreenshot(*store, "b");
    ScreenshotsListManager manager(store);
    testing::waitForList(manager);
    const ScreenshotList first = manager.loadScreenshots();
    ASSERT_THAT(ids(first), ElementsAre(b, a));
    EXPECT_EQ(first.row(1).name, "a");
    EXPECT_EQ(manager.heldScreenshot(a), nullptr) << "a listed row has no record until one is asked for";

    const ScreenshotPtr held = first.at(1);
    EXPECT_EQ(manager.heldScreenshot(a), held);
    EXPECT_EQ(manager.screenshotAt(1), held) << "one record per screenshot while it is held";
    EXPECT_EQ(held->thread(), manager.thread());

    (void)store->updateScreenshot(a, {.name = "changed elsewhere"});
    const ScreenshotList second = manager.loadScreenshots();
    EXPECT_EQ(second.row(1).name, "changed elsewhere");
    EXPECT_EQ(second.at(1), held);

    const ScreenshotPtr other = first.at(0);
    EXPECT_NE(other, held);
}

TEST_F(ScreenshotsListManagerTest, ALetGoRecordLeavesNothingAndTheNextIsMadeFromTheRow)
{
    addScreenshot(*store, "a");
    ScreenshotsListManager manager(store);
    testing::waitForList(manager);
    std::weak_ptr<Screenshot> gone;
    {
        const ScreenshotPtr record = manager.screenshotAt(0);
        record->setDescription("not saved");
        gone = record;
    }
    // Edited, it is held until a list read after the edit is out: the row still shows the stored value.
    EXPECT_FALSE(gone.expired());
    EXPECT_EQ(manager.screenshots().row(0).description, std::nullopt);
    QSignalSpy repaint(&manager, &ScreenshotsListManager::screenshotChanged);
    manager.reload();
    testing::waitForList(manager);
    EXPECT_TRUE(gone.expired());
    EXPECT_GE(repaint.count(), 1); // the row shows its own values again
    EXPECT_EQ(manager.screenshotAt(0)->description(), std::nullopt);
}

TEST_F(ScreenshotsListManagerTest, ARowEditedThroughItsRecordIsPublishedWithItsSavedValues)
{
    const qint64 a = addScreenshot(*store, "a");
    ScreenshotsListManager manager(store);
    testing::waitForList(manager);
    QSignalSpy changed(&manager, &ScreenshotsListManager::screenshotChanged);
    manager.screenshotAt(0)->setKeywords("saved"); // a real change saves
    ASSERT_GE(changed.count(), 1);
    EXPECT_EQ(changed.first().at(0).toLongLong(), a);
    const qint64 b = addScreenshot(*store, "b");
    QSignalSpy published(&manager, &ScreenshotsListManager::screenshotsChanged);
    manager.setSearchFilter("");
    ASSERT_TRUE(testing::processEventsUntil([&] { return published.count() == 1; }));
    ASSERT_THAT(ids(manager.screenshots()), ElementsAre(b, a));
    EXPECT_EQ(manager.screenshots().row(1).keywords, "saved");
}

TEST_F(ScreenshotsListManagerTest, RowsChangedThroughAnotherConnectionAreReadAgain)
{
    const qint64 a = addScreenshot(*store, "a");
    ScreenshotsListManager manager(store);
    testing::waitForList(manager);
    rawConnection()->runStatement("UPDATE screenshots SET name = 'elsewhere' WHERE id = ?", std::int64_t(a));
    EXPECT_EQ(manager.loadScreenshots().row(0).name, "elsewhere");
    rawConnection()->runStatement("DELETE FROM screenshots WHERE id = ?", std::int64_t(a));
    EXPECT_THAT(manager.loadScreenshots(), IsEmpty());
}

TEST_F(ScreenshotsListManagerTest, AChangeToAnyListedValueIsInTheNextList)
{
    const qint64 a = addScreenshot(*store, "a");
    const qint64 folder = *store->insertFolder("F", false, std::nullopt);
    const std::string link = "INSERT INTO folders_screenshots (folder_id, screenshot_id) VALUES (" +
                             std::to_string(folder) + ", " + std::to_string(a) + ")";
    const struct {
        std::string change;
        std::function<bool(const Screenshot&)> shows;
    } cases[] = {
        {"UPDATE screenshots SET name = 'b'", [](const Screenshot& s) { return s.name() == "b"; }},
        {"UPDATE screenshots SET description = ''", [](const Screenshot& s) { return s.description() == ""; }},
        {"UPDATE screenshots SET keywords = 'k'", [](const Screenshot& s) { return s.keywords() == "k"; }},
        {"UPDATE screenshots SET path = 'file:///elsewhere.png'",
         [](const Screenshot& s) { return s.imageUrl() == QUrl("file:///elsewhere.png"); }},
        {"UPDATE screenshots SET created_at = '2020-01-02 03:04:05'",
         [](const Screenshot& s) { return s.createdAt() == "2020-01-02 03:04:05"; }},
        {"UPDATE screenshots SET captured_app_name = 'Editor'",
         [](const Screenshot& s) { return s.capturedAppName() == "Editor"; }},
        {"UPDATE screenshots SET captured_app_bundle_id = 'editor'",
         [](const Screenshot& s) { return s.capturedAppBundleId() == "editor"; }},
        {"UPDATE screenshots SET ai_assistant_task = 'why?'",
         [](const Screenshot& s) { return s.aiAssistantTask() == "why?"; }},
        {"UPDATE screenshots SET is_ai_assistant_task = 1", [](const Screenshot& s) { return s.isAIAssistantTask(); }},
        {"UPDATE screenshots SET was_imported = 1", [](const Screenshot& s) { return s.wasImported(); }},
        {link, [folder](const Screenshot& s) { return s.folderId() == folder; }},
    };
    ScreenshotsListManager manager(store);
    testing::waitForList(manager);
    for (const bool sameConnection : {false, true}) {
        for (const auto& [change, shows] : cases) {
            SCOPED_TRACE(change + (sameConnection ? " (the store's connection)" : " (another connection)"));
            manager.loadScreenshots();
            if (sameConnection) {
                store->db()->runStatement(change);
            } else {
                rawConnection()->runStatement(change);
            }
            // A record made from the row as it is now.
            EXPECT_TRUE(shows(*Screenshot::fromRow(manager.loadScreenshots().row(0), store)));
        }
        rawConnection()->executeScript("UPDATE screenshots SET name = 'a', description = NULL, keywords = NULL, "
                                       "created_at = '2000-01-01 00:00:00', captured_app_name = NULL, "
                                       "captured_app_bundle_id = NULL, ai_assistant_task = NULL, "
                                       "is_ai_assistant_task = 0, was_imported = 0; DELETE FROM folders_screenshots;");
    }
}

TEST_F(ScreenshotsListManagerTest, ADeletedScreenshotsRecordIsNeverReusedForItsId)
{
    addScreenshot(*store, "a");
    const qint64 b = addScreenshot(*store, "b");
    ScreenshotsListManager manager(store);
    testing::waitForList(manager);
    const ScreenshotPtr deleted = manager.screenshots().at(0);
    manager.deleteScreenshots({0});
    // SQLite gives the next row the id of the deleted one, which was the largest; its name and path may match.
    addScreenshot(*store, "b");
    const ScreenshotList list = manager.loadScreenshots();
    ASSERT_EQ(list.at(0)->id(), b);
    EXPECT_NE(list.at(0), deleted);
}

TEST_F(ScreenshotsListManagerTest, RowsCarryTheirFolderFromOneLookup)
{
    const qint64 a = addScreenshot(*store, "a"), b = addScreenshot(*store, "b");
    const qint64 folder = *store->insertFolder("F", false, std::nullopt);
    (void)store->insertFolderScreenshot(a, folder);
    ScreenshotsListManager manager(store);
    testing::waitForList(manager);
    ASSERT_EQ(manager.screenshots().size(), 2);
    EXPECT_EQ(manager.screenshots()[0]->id(), b);
    EXPECT_EQ(manager.screenshots()[0]->folderId(), std::nullopt);
    EXPECT_EQ(manager.screenshots()[1]->folderId(), folder);
}

TEST_F(ScreenshotsListManagerTest, ALoadRunsTheSameNumberOfStatementsForAnyNumberOfRows)
{
    const qint64 folder = *store->insertFolder("F", false, std::nullopt);
    for (int index = 0; index < 20; ++index) {
        (void)store->insertFolderScreenshot(addScreenshot(*store, QString("s%1").arg(index)), folder);
    }
    std::vector<std::string> statements;
    store->db()->setTrace([&](const std::string& sql) { statements.push_back(sql); });
    const std::vector<ScreenshotRow> rows =
        ScreenshotsListManager::loadScreenshotRows(*store, std::nullopt, std::nullopt, std::nullopt);
    store->db()->setTrace(nullptr);
    ASSERT_EQ(rows.size(), 20u);
    EXPECT_EQ(rows.front().folderId, folder);
    EXPECT_EQ(statements.size(), 2u); // the list, and all folder links at once
}

TEST_F(ScreenshotsListManagerTest, AfterAWriteALoadReadsTheChangedRowsAloneNotTheTable)
{
    std::vector<qint64> ids;
    for (int index = 0; index < 30; ++index) {
        ids.push_back(addScreenshot(*store, QString("s%1").arg(index)));
    }
    ScreenshotsListManager manager(store);
    testing::waitForList(manager);
    (void)store->updateScreenshot(ids[3], {.name = "renamed"});
    (void)store->deleteScreenshot(ids[5]);
    const qint64 added = addScreenshot(*store, "new");
    std::vector<std::string> statements;
    store->db()->setTrace([&](const std::string& sql) { statements.push_back(sql); });
    const ScreenshotList list = manager.loadScreenshots();
    store->db()->setTrace(nullptr);
    int rowReads = 0;
    for (const std::string& sql : statements) {
        if (sql.find("substr(\"screenshots\".\"text\"") != std::string::npos) {
            ++rowReads;
            EXPECT_THAT(sql, HasSubstr("WHERE (\"screenshots\".\"id\" = ")) << "the whole table was read again";
        }
    }
    EXPECT_EQ(rowReads, 3); // the renamed, the deleted and the new screenshot
    ASSERT_EQ(list.size(), 30);
    EXPECT_EQ(list.row(0).id, added);
    EXPECT_EQ(list.row(*list.indexOf(ids[3])).name, "renamed");
    EXPECT_EQ(list.indexOf(ids[5]), std::nullopt);
    EXPECT_EQ(list.row(29).name, "s0");
}

TEST_F(ScreenshotsListManagerTest, AGrabNamedBeforeItsInsertIsInsertedOnceAndNeverRenamed)
{
    ScreenshotsListManager manager(store);
    testing::waitForList(manager);
    const QString createdAt = "2026-03-05 14:07:09";
    const QString name = screenshotDefaultName(screenshotCreatedDate(createdAt));
    const QString file = *screenshotsDirectory() + "/" + name + ".png";
    QFile image(file);
    ASSERT_TRUE(image.open(QIODevice::WriteOnly));
    image.write("png");
    image.close();
    CapturedScreenshotInfo info{name + ".png", QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded), QString(),
                                QByteArray("thumbnail"), std::nullopt};
    info.createdAt = createdAt;

    std::set<std::string> writes; // SQLite traces each statement again for the triggers it runs
    store->db()->setTrace([&](const std::string& sql) {
        if (sql.find("UPDATE") != std::string::npos || sql.find("pending_file_changes") != std::string::npos ||
            sql.starts_with("INSERT INTO \"screenshots\"")) {
            writes.insert(sql);
        }
    });
    QSignalSpy thumbnails(&manager, &ScreenshotsListManager::thumbnailWritten);
    manager.addScreenshot(info, false);
    testing::waitForList(manager);
    store->db()->setTrace(nullptr);
    EXPECT_EQ(writes.size(), 1u) << "one insert, no rename and no second save: " << ::testing::PrintToString(writes);
    ASSERT_EQ(manager.screenshots().size(), 1);
    EXPECT_EQ(manager.screenshots().row(0).name, name);
    EXPECT_EQ(manager.screenshots().row(0).createdAt, createdAt);
    EXPECT_EQ(manager.screenshotAt(0)->imageUrl()->toLocalFile(), file);
    EXPECT_TRUE(QFileInfo::exists(file));
    ASSERT_TRUE(testing::processEventsUntil([&] { return thumbnails.count() == 1; }));
    EXPECT_EQ(thumbnails.at(0).at(0).toLongLong(), manager.screenshots().row(0).id);
    QFile thumbnail(*thumbnailFilePath(manager.screenshots().row(0).id));
    ASSERT_TRUE(thumbnail.open(QIODevice::ReadOnly));
    EXPECT_EQ(thumbnail.readAll(), "thumbnail");
}

TEST_F(ScreenshotsListManagerTest, AFilterChangeReloadsInTheBackgroundAndPublishes)
{
    const qint64 invoice = addScreenshot(*store, "Invoice", "amount due");
    addScreenshot(*store, "Beach", "sunshine");
    ScreenshotsListManager manager(store);
    testing::waitForList(manager);
    QSignalSpy published(&manager, &ScreenshotsListManager::screenshotsChanged);
    manager.setSearchFilter("amou");
    EXPECT_EQ(published.count(), 0); // nothing is published before the event loop runs
    ASSERT_TRUE(testing::processEventsUntil([&] { return published.count() == 1; }));
    EXPECT_THAT(ids(manager.screenshots()), ElementsAre(invoice));

    manager.setSearchFilter("");
    ASSERT_TRUE(testing::processEventsUntil([&] { return published.count() == 2; }));
    EXPECT_EQ(manager.screenshots().size(), 2);
}

TEST_F(ScreenshotsListManagerTest, TheSameFolderAgainStillReloadsAndSendsTheSubjectButPublishesNothing)
{
    addScreenshot(*store, "a");
    const Folder smart{1, 0, "All", true, std::nullopt};
    ScreenshotsListManager manager(store);
    testing::waitForList(manager);
    const ScreenshotList before = manager.screenshots();
    QSignalSpy published(&manager, &ScreenshotsListManager::screenshotsChanged);
    QSignalSpy subject(&manager, &ScreenshotsListManager::folderFilterSubjectChanged);
    manager.setFolderFilter(smart);
    waitForSubject(subject, 1);
    manager.setFolderFilter(smart);
    waitForSubject(subject, 2);
    EXPECT_EQ(published.count(), 0);
    EXPECT_TRUE(manager.screenshots() == before); // the same rows are kept
    EXPECT_EQ(manager.folderFilterSubject(), smart);
}

TEST_F(ScreenshotsListManagerTest, TheTimePeriodSubjectFollowsItsReload)
{
    addScreenshot(*store, "a");
    ScreenshotsListManager manager(store);
    testing::waitForList(manager);
    QSignalSpy subject(&manager, &ScreenshotsListManager::timePeriodSubjectChanged);
    manager.setTimePeriod(FolderSection::yesterday());
    waitForSubject(subject, 1);
    EXPECT_THAT(manager.screenshots(), IsEmpty());
    EXPECT_EQ(manager.timePeriodSubject(), FolderSection::yesterday());
    manager.setTimePeriod(FolderSection::today());
    waitForSubject(subject, 2);
    EXPECT_EQ(manager.screenshots().size(), 1);
}

TEST_F(ScreenshotsListManagerTest, AReloadStartedEarlierNeverReplacesALaterList)
{
    const qint64 a = addScreenshot(*store, "a", "apple");
    addScreenshot(*store, "b", "banana");
    ScreenshotsListManager manager(store);
    testing::waitForList(manager);
    QSignalSpy subject(&manager, &ScreenshotsListManager::folderFilterSubjectChanged);

    // The reload starts, then a later list is set before its result can be published.
    manager.setFolderFilter(Folder{1, 0, "Apples", true, "apple"});
    manager.setScreenshots({});
    waitForSubject(subject, 1); // the subject is still sent
    EXPECT_THAT(manager.screenshots(), IsEmpty());

    // Two quick changes: whichever load finishes first, the list ends as the second one's.
    QSignalSpy published(&manager, &ScreenshotsListManager::screenshotsChanged);
    manager.setFolderFilter(Folder{2, 0, "Bananas", true, "banana"});
    manager.setFolderFilter(Folder{1, 0, "Apples", true, "apple"});
    waitForSubject(subject, 3);
    EXPECT_THAT(ids(manager.screenshots()), ElementsAre(a));
    ASSERT_GE(published.count(), 1);
    EXPECT_THAT(ids(published.last().at(0).value<ScreenshotList>()), ElementsAre(a));
}

/// Every list the manager publishes, checked as a view follows it: newest first with each row once, and its
/// change, applied to the list before, gives it.
struct FollowedLists {
    explicit FollowedLists(ScreenshotsListManager& manager)
    {
        QObject::connect(&manager, &ScreenshotsListManager::screenshotsChanged,
                         [this](const ScreenshotList& list, const ScreenshotListChange& change) {
                             const std::vector<qint64> now = list.ids();
                             EXPECT_TRUE(std::is_sorted(now.begin(), now.end(), std::greater_equal<>()) &&
                                         std::adjacent_find(now.begin(), now.end()) == now.end())
                                 << "a row shown twice, or out of order";
                             std::vector<qint64> followed;
                             std::size_t old = 0;
                             for (const ScreenshotListChange::Run& run : change.runs) {
                                 const auto count = std::size_t(run.count);
                                 if (run.kind == ScreenshotListChange::Run::Kind::kept) {
                                     ASSERT_LE(old + count, shown.size());
                                     followed.insert(followed.end(), shown.begin() + qsizetype(old),
                                                     shown.begin() + qsizetype(old + count));
                                     old += count;
                                 } else if (run.kind == ScreenshotListChange::Run::Kind::removed) {
                                     old += count;
                                 } else {
                                     ASSERT_LE(followed.size() + count, now.size());
                                     followed.insert(followed.end(), now.begin() + qsizetype(followed.size()),
                                                     now.begin() + qsizetype(followed.size() + count));
                                 }
                             }
                             EXPECT_EQ(old, shown.size());
                             EXPECT_EQ(followed, now) << "the change does not lead from the list before to this one";
                             shown = now;
                             lists.push_back(now);
                         });
    }

    std::vector<qint64> shown;
    std::vector<std::vector<qint64>> lists;
};

TEST_F(ScreenshotsListManagerTest, ListsShownInPartsNeverShowARowTwiceOrMissOneWhileTheLibraryChanges)
{
    const QStringList words{"alpha", "beta", "gamma", "delta", "epsilon", "Omega"};
    std::mt19937 random(20261211);
    const auto pick = [&](int count) { return int(random() % unsigned(count)); };
    const auto text = [&] {
        QStringList chosen;
        for (int index = 0; index < 4; ++index) {
            chosen << words[pick(int(words.size()))];
        }
        return chosen.join(' ');
    };
    const QString directory = *screenshotsDirectory();
    store->db()->transaction([&] {
        const auto insert = store->db()->prepare("INSERT INTO screenshots (name, path, text, was_imported) "
                                                 "VALUES (?, ?, ?, 0)");
        for (int index = 0; index < 4 * ScreenshotsListManager::firstPageRows; ++index) {
            const QString file = directory + QString("/s%1.png").arg(index);
            QFile image(file);
            image.open(QIODevice::WriteOnly);
            insert->runToEnd(QString("s%1").arg(index).toStdString(),
                             QUrl::fromLocalFile(file).toString().toStdString(), text().toStdString());
        }
    });
    // The complete list of a search, from SQLite's own set operations over both indexes.
    const auto expected = [&](const std::optional<QString>& search) {
        std::string sql = "SELECT id, name FROM screenshots WHERE 1";
        sqlite::Bindings values;
        for (const MatchPatterns& condition : ftsSearchConditions(std::nullopt, search)) {
            sql += " AND id IN (SELECT rowid FROM screenshots_fts WHERE screenshots_fts MATCH ? UNION SELECT rowid "
                   "FROM screenshots_words WHERE screenshots_words MATCH ?)";
            values.push_back(condition.whole.toStdString());
            values.push_back(condition.prefixes.value_or(condition.whole).toStdString());
        }
        std::vector<std::pair<qint64, std::string>> rows;
        const auto statement = rawConnection()->prepare(sql + " ORDER BY id DESC", values);
        while (statement->step()) {
            rows.emplace_back(statement->row().int64At(0), statement->row().stringAt(1));
        }
        return rows;
    };

    const std::vector<std::optional<QString>> searches{std::nullopt, "gamma",       "beta gam",
                                                       "g",          "delta alpha", std::nullopt};
    int edits = 0;
    // No write, captures alone, edits alone, and all of them with deletes: each list is followed from the one
    // before, its first part or another list.
    for (const std::vector<int>& writes : std::vector<std::vector<int>>{{}, {0}, {1}, {0, 1, 2}}) {
        ScreenshotsListManager manager(store);
        FollowedLists followed(manager);
        for (const std::optional<QString>& search : searches) {
            SCOPED_TRACE(search.value_or("(no search)").toStdString());
            const std::size_t before = followed.lists.size();
            if (before > 0) {
                manager.setSearchFilter(search.value_or(QString()));
            }
            // Writes land while the rest of the list is read.
            ASSERT_TRUE(testing::processEventsUntil([&] { return followed.lists.size() > before; }));
            const std::vector<qint64> firstShown = followed.lists[before];
            for (int write = 0; !writes.empty() && write < 4; ++write) {
                const qsizetype listed = manager.screenshots().size();
                const int kind = writes[std::size_t(pick(int(writes.size())))];
                if (kind == 0) {
                    manager.addScreenshot(capture(text()), false);
                } else if (kind == 1 && listed > 0) {
                    const ScreenshotPtr record = manager.screenshotAt(pick(int(listed)));
                    record->setName(QString("edited %1").arg(++edits));
                    record->setDescription(text());
                    record->save();
                } else if (listed > 0) {
                    manager.deleteScreenshots({qsizetype(pick(int(listed)))});
                }
            }
            testing::waitForList(manager);
            std::vector<std::pair<qint64, std::string>> shown;
            for (qsizetype position = 0; position < manager.screenshots().size(); ++position) {
                const ScreenshotPtr record = manager.screenshotAt(position);
                shown.emplace_back(record->id(), record->name().value_or(QString()).toStdString());
            }
            const std::vector<std::pair<qint64, std::string>> complete = expected(search);
            EXPECT_EQ(shown, complete);
            EXPECT_EQ(followed.shown, manager.screenshots().ids());
            if (!search || search == "g") { // enough matches for a list in two parts
                EXPECT_EQ(firstShown.size(), std::size_t(ScreenshotsListManager::firstPageRows)) << "not in parts";
            }
            if (writes.empty()) { // the first part is the beginning of the whole list
                std::vector<qint64> beginning;
                for (std::size_t index = 0; index < std::min(firstShown.size(), complete.size()); ++index) {
                    beginning.push_back(complete[index].first);
                }
                EXPECT_EQ(firstShown, beginning);
            }
        }
    }
}

TEST_F(ScreenshotsListManagerTest, ReloadsOvertakenWhileQueuedReadNothingAndTheLatestIsShown)
{
    const qint64 apple = addScreenshot(*store, "a", "apple");
    addScreenshot(*store, "b", "banana");
    ScreenshotsListManager manager(store);
    testing::waitForList(manager);
    QSignalSpy subject(&manager, &ScreenshotsListManager::folderFilterSubjectChanged);
    std::atomic<int> searches{0};
    store->db()->setTrace([&](const std::string& sql) {
        if (sql.find("MATCH") != std::string::npos) {
            ++searches;
        }
    });

    // Every thread of the pool is busy while a user types: the reloads queue up behind them.
    QThreadPool& pool = *QThreadPool::globalInstance();
    QSemaphore release;
    std::atomic<int> busy{0};
    for (int index = 0; index < pool.maxThreadCount(); ++index) {
        pool.start([&] {
            ++busy;
            release.acquire();
            --busy;
        });
    }
    ASSERT_TRUE(testing::processEventsUntil([&] { return busy == pool.maxThreadCount(); }));
    const QString typed = "banana apple";
    for (qsizetype length = 1; length <= typed.size(); ++length) {
        manager.setSearchFilter(typed.left(length));
    }
    manager.setFolderFilter(Folder{1, 0, "Fruit", true, "fruit apple"});
    manager.setSearchFilter("appl");
    release.release(pool.maxThreadCount());

    testing::waitForList(manager);
    waitForSubject(subject, 1);
    store->db()->setTrace(nullptr);
    EXPECT_THAT(ids(manager.screenshots()), ElementsAre(apple));
    // One load asked the indexes: the keywords and the search, each of both indexes.
    EXPECT_EQ(searches, 4);
    // The blocking tasks use the semaphore and the count until they return: both outlive them.
    EXPECT_TRUE(testing::processEventsUntil([&] { return busy == 0; }));
}

TEST_F(ScreenshotsListManagerTest, AddingACaptureLinksItToAPlainFolderAndRenamesItsFile)
{
    const qint64 folder = *store->insertFolder("F", false, std::nullopt);
    ScreenshotsListManager manager(store);
    testing::waitForList(manager);
    manager.setFolderFilter(Folder{folder, 0, "F", false, std::nullopt});
    QSignalSpy subject(&manager, &ScreenshotsListManager::folderFilterSubjectChanged);
    waitForSubject(subject, 1);

    manager.addScreenshot(capture("hello", WindowDetails{std::nullopt, "Editor", std::nullopt, "What is this?"}),
                          false);
    testing::waitForList(manager);
    ASSERT_EQ(manager.screenshots().size(), 1);
    const ScreenshotPtr added = manager.screenshots()[0];
    EXPECT_EQ(added->folderId(), folder);
    EXPECT_EQ(added->name(), added->defaultName());
    EXPECT_EQ(added->imageUrl()->toLocalFile(), *screenshotsDirectory() + "/" + added->defaultName() + ".png");
    EXPECT_EQ(added->capturedAppName(), "Editor");
    EXPECT_TRUE(added->isAIAssistantTask());
    EXPECT_EQ(added->aiAssistantTask(), "What is this?");
    EXPECT_THAT(column("SELECT name FROM screenshots"), ElementsAre("\"" + added->defaultName().toStdString() + "\""));
    QFile thumbnail(*thumbnailsDirectory() + "/" + thumbnailFileName(added->id()));
    ASSERT_TRUE(thumbnail.open(QIODevice::ReadOnly));
    EXPECT_EQ(thumbnail.readAll(), "thumbnail");
}

TEST_F(ScreenshotsListManagerTest, AnAddedScreenshotIsListedFromThePoolAndWhenListedWaitsForTheNewestList)
{
    ScreenshotsListManager manager(store);
    testing::waitForList(manager);
    manager.addScreenshot(capture("invoice"), false);
    EXPECT_THAT(manager.screenshots(), IsEmpty()) << "the list is not made on the calling thread";

    // A search started after the add: the list waited for is the search's, which leaves the new row out.
    manager.setSearchFilter("nothing");
    const auto listed = std::make_shared<std::optional<qsizetype>>();
    manager.whenListed([&manager, listed] { *listed = manager.screenshots().size(); });
    ASSERT_TRUE(testing::processEventsUntil([&] { return listed->has_value(); }));
    EXPECT_EQ(**listed, 0);
    manager.setSearchFilter("invoice");
    testing::waitForList(manager);
    ASSERT_EQ(manager.screenshots().size(), 1);
    EXPECT_EQ(manager.screenshots()[0]->name(), manager.screenshots()[0]->defaultName());
}

TEST_F(ScreenshotsListManagerTest, AddingWithASmartFolderMakesNoLinkAndAnImportKeepsItsName)
{
    ScreenshotsListManager manager(store);
    testing::waitForList(manager);
    manager.setFolderFilter(Folder{7, 0, "Smart", true, "hello"});
    QSignalSpy subject(&manager, &ScreenshotsListManager::folderFilterSubjectChanged);
    waitForSubject(subject, 1);
    CapturedScreenshotInfo info = capture("hello");
    info.screenshotFilename = "holiday photo";
    manager.addScreenshot(info, true);
    testing::waitForList(manager);
    EXPECT_EQ(count("SELECT count(*) FROM folders_screenshots"), 0);
    ASSERT_EQ(manager.screenshots().size(), 1);
    EXPECT_EQ(manager.screenshots()[0]->name(), "holiday photo");
    EXPECT_EQ(manager.screenshots()[0]->imageUrl()->toString(QUrl::FullyEncoded), info.screenshotPath);
}

TEST_F(ScreenshotsListManagerTest, ImportedRowsAreEachKeptOnceWithFolderAndTextAndARefusedOneIsToldAndKeepsNoOtherOut)
{
    // Made before the manager reads the library: a second connection that writes meanwhile would be refused.
    rawConnection()->executeScript("CREATE TRIGGER refuse BEFORE INSERT ON screenshots WHEN new.name = 'refused' "
                                   "BEGIN SELECT RAISE(ABORT, 'refused here'); END;");
    const qint64 folder = *store->insertFolder("Receipts", false, std::nullopt);
    ScreenshotsListManager manager(store);
    testing::waitForList(manager);
    manager.setFolderFilter(Folder{folder, 0, "Receipts", false, std::nullopt});
    QObject observer;
    QStringList problems;
    NotificationCenter::defaultCenter().addObserver(
        libraryProblemNotification, &observer, [&](const Notification& notification) {
            problems << notification.userInfo.value(libraryProblemMessageKey).toString();
        });

    // One file at a time, as an import hands them over, each with its text still to come.
    constexpr int files = 150;
    std::vector<QPromise<QString>> texts(files);
    int stored = 0;
    QList<SkippedImport> notKept;
    QString refusedPath;
    std::set<std::string> expected;
    ::testing::internal::CaptureStdout();
    for (int i = 0; i < files; ++i) {
        CapturedScreenshotInfo info = capture(QString());
        info.screenshotFilename = i == 70 ? QString("refused") : QString("photo %1").arg(i);
        if (i != 70) {
            expected.insert('"' + info.screenshotFilename.toStdString() + '"');
        } else {
            refusedPath = QUrl(info.screenshotPath).toLocalFile();
        }
        texts[i].start();
        info.pendingRecognizedText = texts[i].future();
        manager.addImportedScreenshots(
            {info}, [&] { ++stored; }, [&](const SkippedImport& skipped) { notKept << skipped; });
    }
    ASSERT_TRUE(testing::processEventsUntil([&] { return stored == files; }));
    (void)::testing::internal::GetCapturedStdout();
    for (int i = 0; i < files; ++i) {
        texts[i].addResult(QString("invoice %1").arg(i));
        texts[i].finish();
    }
    ASSERT_TRUE(testing::processEventsUntil([&] { return store->screenshotsAwaitingText()->empty(); }));
    testing::waitForList(manager);

    // Every other row is there once, in the folder, with its text; the refused one is told.
    std::set<std::string> names;
    for (const std::string& name : column("SELECT name FROM screenshots")) {
        EXPECT_TRUE(names.insert(name).second) << name << " twice";
    }
    EXPECT_EQ(names, expected);
    EXPECT_EQ(count("SELECT count(*) FROM folders_screenshots WHERE folder_id = " + std::to_string(folder)), files - 1);
    EXPECT_EQ(count("SELECT count(*) FROM screenshots WHERE text LIKE 'invoice %'"), files - 1);
    EXPECT_EQ(manager.screenshots().size(), files - 1);
    ASSERT_TRUE(testing::processEventsUntil([&] { return !problems.isEmpty(); }));
    EXPECT_THAT(problems.join("\n").toStdString(), HasSubstr("could not be added to the library"));
    EXPECT_THAT(problems.join("\n").toStdString(), HasSubstr("refused here"));
    EXPECT_EQ(problems.size(), 1) << "the rows of the batch that were kept are not told as lost";
    // The import's report names the one file written without a row, and why.
    ASSERT_EQ(notKept.size(), 1);
    EXPECT_EQ(notKept[0].fileName, QFileInfo(refusedPath).fileName());
    EXPECT_THAT(notKept[0].reason.toStdString(), HasSubstr("refused here"));
    EXPECT_THAT(notKept[0].reason.toStdString(), HasSubstr("listed at the next start once there is room"));
}

TEST_F(ScreenshotsListManagerTest, TheBundleIdentifierComesFromTheCapturedProcess)
{
    QDir().mkpath(dataHome() + "/applications");
    QFile entry(dataHome() + "/applications/org.example.Tests.desktop");
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    entry.write("[Desktop Entry]\nExec=" + QCoreApplication::applicationFilePath().toUtf8() + "\n");
    entry.close();
    ScreenshotsListManager manager(store);
    testing::waitForList(manager);
    manager.addScreenshot(
        capture("x", WindowDetails{std::nullopt, "Me", static_cast<qint32>(QCoreApplication::applicationPid()),
                                   std::nullopt}),
        true);
    manager.addScreenshot(capture("y", WindowDetails{std::nullopt, "Gone", 999999999, std::nullopt}), true);
    testing::waitForList(manager);
    ASSERT_EQ(manager.screenshots().size(), 2);
    EXPECT_EQ(manager.screenshots()[0]->capturedAppBundleId(), std::nullopt);
    EXPECT_EQ(manager.screenshots()[1]->capturedAppBundleId(), "org.example.Tests");
}

TEST_F(ScreenshotsListManagerTest, DeletingPositionsDeletesThoseRecordsAndIgnoresOthers)
{
    std::vector<qint64> added;
    for (int index = 0; index < 7; ++index) {
        added.push_back(addScreenshot(*store, QString("s%1").arg(index)));
    }
    ScreenshotsListManager manager(store);
    testing::waitForList(manager);
    const ScreenshotList before = manager.screenshots();
    const ScreenshotPtr deleted = before[2], kept = before[3];
    manager.deleteScreenshots({2, 5, 7, -1});
    std::vector<qint64> expected;
    for (qsizetype index = 0; index < before.size(); ++index) {
        if (index != 2 && index != 5) {
            expected.push_back(before.row(index).id);
        }
    }
    EXPECT_THAT(ids(manager.screenshots()), ElementsAreArray(expected));
    EXPECT_EQ(count("SELECT count(*) FROM screenshots"), 5);
    EXPECT_FALSE(QFileInfo::exists(deleted->imageUrl()->toLocalFile()));
    EXPECT_TRUE(QFileInfo::exists(kept->imageUrl()->toLocalFile()));
}

TEST_F(ScreenshotsListManagerTest, ACorruptIndexIsRebuiltAndTheLoadTriedAgain)
{
    const qint64 a = addScreenshot(*store, "a", "cat");
    store = openStore();
    ScreenshotsListManager manager(store);
    testing::waitForList(manager);
    // Spoilt while the library is open (opening finds such an index out of step and rebuilds it).
    rawConnection()->executeScript(
        "UPDATE screenshots_fts_data SET block = x'0000ffffffffffffffffffffffffffffff' WHERE id > 10;");
    QSignalSpy subject(&manager, &ScreenshotsListManager::folderFilterSubjectChanged);
    ::testing::internal::CaptureStderr();
    manager.setFolderFilter(Folder{1, 0, "Cats", true, "cat"});
    const bool done = testing::processEventsUntil([&] { return subject.count() == 1; });
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Rebuilding index\n");
    ASSERT_TRUE(done);
    EXPECT_THAT(ids(manager.screenshots()), ElementsAre(a));
}

TEST_F(ScreenshotsListManagerTest, WithoutADatabaseEverythingIsEmpty)
{
    auto closed = std::make_shared<ScreenshotsDB>();
    ScreenshotsListManager manager(closed);
    EXPECT_THAT(manager.screenshots(), IsEmpty());
    EXPECT_EQ(manager.totalScreenshotCount(), std::nullopt);
    manager.addScreenshot(capture("x"), false);
    testing::waitForList(manager);
    EXPECT_THAT(manager.screenshots(), IsEmpty());
}

} // namespace
} // namespace lumetrove
