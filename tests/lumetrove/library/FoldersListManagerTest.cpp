#include "lumetrove/library/FoldersListManager.h"

#include "lumetrove/library/LibraryProblems.h"
#include "lumetrove/platform/NotificationCenter.h"
#include "tests/lumetrove/library/LibraryTest.h"

#include <QSignalSpy>

namespace lumetrove {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class FoldersListManagerTest : public testing::OpenLibraryTest {
protected:
    qint64 insert(const QString& name, qint64 sortOrder)
    {
        const qint64 id = *store->insertFolder(name, false, std::nullopt);
        (void)store->updateFolder(Folder{id, sortOrder, name, false, std::nullopt});
        return id;
    }

    static std::vector<std::string> namesAndOrders(const QList<Folder>& folders)
    {
        std::vector<std::string> result;
        for (const Folder& folder : folders) {
            result.push_back(folder.name.toStdString() + ":" + std::to_string(folder.sort_order));
        }
        return result;
    }

    std::vector<std::string> stored()
    {
        return column("SELECT folder_name || ':' || sort_order FROM folders ORDER BY sort_order, id");
    }
};

TEST_F(FoldersListManagerTest, LoadsInStoredOrderAndKeepsTheValuesUntilRenumbered)
{
    insert("A", 5);
    insert("B", 2);
    insert("C", 9);
    FoldersListManager manager(store);
    EXPECT_THAT(namesAndOrders(manager.folders()), ElementsAre("B:2", "A:5", "C:9"));
    manager.renumberFolders();
    EXPECT_THAT(namesAndOrders(manager.folders()), ElementsAre("B:0", "A:1", "C:2"));
    EXPECT_THAT(stored(), ElementsAre("\"B:0\"", "\"A:1\"", "\"C:2\""));
}

TEST_F(FoldersListManagerTest, AnAddedFolderGoesLast)
{
    insert("A", 0);
    insert("B", 1);
    insert("C", 2);
    FoldersListManager manager(store);
    const std::optional<Folder> added = manager.addFolder("Pets", true, "cat dog");
    ASSERT_TRUE(added);
    EXPECT_EQ(added->sort_order, 3);
    EXPECT_EQ(added->keywordsFilter, "cat dog");
    EXPECT_TRUE(added->isSmartFolder);
    EXPECT_THAT(namesAndOrders(manager.folders()), ElementsAre("A:0", "B:1", "C:2", "Pets:3"));
    EXPECT_THAT(stored(), ElementsAre("\"A:0\"", "\"B:1\"", "\"C:2\"", "\"Pets:3\""));
}

TEST_F(FoldersListManagerTest, DeletingPositionsRemovesThoseFoldersAndTheirLinksAndRenumbers)
{
    const qint64 a = insert("A", 0);
    insert("B", 1);
    insert("C", 2);
    (void)store->insertFolderScreenshot(addScreenshot(*store, "s"), a);
    FoldersListManager manager(store);
    manager.deleteFolders({0, 2, 3});
    EXPECT_THAT(namesAndOrders(manager.folders()), ElementsAre("B:0"));
    EXPECT_THAT(stored(), ElementsAre("\"B:0\""));
    EXPECT_EQ(count("SELECT count(*) FROM folders_screenshots"), 0);
    EXPECT_EQ(count("SELECT count(*) FROM screenshots"), 1);
}

TEST_F(FoldersListManagerTest, AFolderThatTheLibraryKeepsStaysListedAndTheUserIsTold)
{
    insert("A", 0);
    insert("B", 1);
    FoldersListManager manager(store);
    QObject observer;
    QStringList problems;
    NotificationCenter::defaultCenter().addObserver(
        libraryProblemNotification, &observer, [&](const Notification& notification) {
            problems << notification.userInfo.value(libraryProblemMessageKey).toString();
        });
    rawConnection()->executeScript(
        "CREATE TRIGGER keep_folders BEFORE DELETE ON folders BEGIN SELECT RAISE(ABORT, 'kept'); END;");

    ::testing::internal::CaptureStdout();
    manager.deleteFolders({0});
    EXPECT_THAT(::testing::internal::GetCapturedStdout(), HasSubstr("kept"));

    EXPECT_THAT(namesAndOrders(manager.folders()), ElementsAre("A:0", "B:1"));
    EXPECT_THAT(stored(), ElementsAre("\"A:0\"", "\"B:1\""));
    ASSERT_EQ(problems.size(), 1);
    EXPECT_THAT(problems.front().toStdString(), HasSubstr("The folder could not be deleted: kept"));
}

TEST_F(FoldersListManagerTest, AFolderListThatCannotBeReadIsLoggedAndEmpty)
{
    insert("A", 0);
    rawConnection()->executeScript("ALTER TABLE folders RENAME TO old_folders;");
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    FoldersListManager manager(store);
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), ""); // the load's line alone tells it
    EXPECT_THAT(manager.folders(), IsEmpty());
    EXPECT_THAT(log, HasSubstr("Error loading folders from DB: no such table: folders"));
}

TEST_F(FoldersListManagerTest, UpdateReplacesTheFolderWithTheSameId)
{
    const qint64 a = insert("A", 0);
    FoldersListManager manager(store);
    manager.updateFolder(Folder{a, 0, "Renamed", true, "x"});
    EXPECT_EQ(manager.folders()[0].name, "Renamed");
    EXPECT_THAT(stored(), ElementsAre("\"Renamed:0\""));

    ::testing::internal::CaptureStderr();
    manager.updateFolder(Folder{99, 0, "Ghost", false, std::nullopt});
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Folder with ID 99 not found.\n");
    EXPECT_EQ(manager.folders().size(), 1);
}

TEST_F(FoldersListManagerTest, EveryAssignmentSavesTheWholeList)
{
    insert("A", 0);
    FoldersListManager manager(store);
    QSignalSpy changed(&manager, &FoldersListManager::foldersChanged);
    rawConnection()->executeScript("UPDATE folders SET folder_name = 'changed elsewhere';");
    manager.setFolders(manager.folders());
    EXPECT_EQ(changed.count(), 1);
    EXPECT_THAT(stored(), ElementsAre("\"A:0\""));
}

TEST_F(FoldersListManagerTest, FoldersThatTheDatabaseNoLongerHoldsAreSkipped)
{
    insert("A", 0);
    FoldersListManager manager(store);
    QList<Folder> folders = manager.folders();
    folders.append(Folder{42, 1, "Unknown", false, std::nullopt});
    manager.setFolders(folders);
    EXPECT_THAT(stored(), ElementsAre("\"A:0\""));
}

TEST_F(FoldersListManagerTest, WithoutADatabaseTheListIsEmpty)
{
    FoldersListManager manager(std::make_shared<ScreenshotsDB>());
    EXPECT_THAT(manager.folders(), IsEmpty());
    EXPECT_FALSE(manager.addFolder("A", false, std::nullopt));
}

} // namespace
} // namespace lumetrove
