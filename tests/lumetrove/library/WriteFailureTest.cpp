// A library that refuses writes (a full disk, a read-only file) loses nothing silently: every write that
// fails is told to the user, and a record shows what the library holds, not a change it did not keep.
#include "lumetrove/library/DataDirectories.h"
#include "lumetrove/library/FoldersListManager.h"
#include "lumetrove/library/LibraryProblems.h"
#include "lumetrove/platform/NotificationCenter.h"
#include "tests/lumetrove/library/LibraryTest.h"

#include <QSignalSpy>
#include <sys/stat.h>
#include <unistd.h>

namespace lumetrove {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::SizeIs;

enum class Refusal {
    /// The file may not grow (SQLite's page limit stands in for a full disk).
    fullDisk,
    /// The connection may only read, as on a read-only file, also for root.
    readOnlyConnection,
    /// The file and its directory are read-only on disk: only an account that permissions bind sees it.
    readOnlyFile,
};

std::string refusalName(const ::testing::TestParamInfo<Refusal>& info)
{
    switch (info.param) {
    case Refusal::fullDisk:
        return "FullDisk";
    case Refusal::readOnlyConnection:
        return "ReadOnlyConnection";
    case Refusal::readOnlyFile:
        return "ReadOnlyFile";
    }
    return "";
}

class WriteFailureTest : public testing::OpenLibraryTest, public ::testing::WithParamInterface<Refusal> {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(OpenLibraryTest::SetUp());
        if (GetParam() == Refusal::readOnlyFile && ::geteuid() == 0) {
            GTEST_SKIP() << "root writes to read-only files; the read-only connection covers this for root";
        }
        NotificationCenter::defaultCenter().addObserver(
            libraryProblemNotification, &observer, [this](const Notification& notification) {
                problems << notification.userInfo.value(libraryProblemMessageKey).toString();
            });
    }

    void TearDown() override
    {
        if (GetParam() == Refusal::readOnlyFile) {
            ::chmod(libraryDirectory().toUtf8().constData(), 0700);
            ::chmod(databasePath().toUtf8().constData(), 0600);
        }
        OpenLibraryTest::TearDown();
    }

    /// From now on the library refuses every write that needs room.
    void refuseWrites()
    {
        switch (GetParam()) {
        case Refusal::fullDisk: {
            const auto pages = std::get<std::int64_t>(*store->db()->scalar("PRAGMA page_count"));
            store->db()->executeScript("PRAGMA max_page_count = " + std::to_string(pages) + ";");
            break;
        }
        case Refusal::readOnlyConnection:
            store->db()->executeScript("PRAGMA query_only = 1;");
            break;
        case Refusal::readOnlyFile:
            ASSERT_EQ(::chmod(databasePath().toUtf8().constData(), 0400), 0);
            ASSERT_EQ(::chmod(libraryDirectory().toUtf8().constData(), 0500), 0);
            store = openStore();
            ASSERT_TRUE(store->db());
            break;
        }
    }

    /// What SQLite says when it refuses.
    std::string reason() const
    {
        return GetParam() == Refusal::fullDisk ? "database or disk is full" : "readonly database";
    }

    /// A text long enough that storing it needs new pages.
    static QString longText(const QString& word) { return word.repeated(8000 / word.size() + 1); }

    ScreenshotPtr listed(ScreenshotsListManager& manager, qint64 id)
    {
        testing::waitForList(manager);
        for (const ScreenshotPtr& record : manager.screenshots()) {
            if (record->id() == id) {
                return record;
            }
        }
        return nullptr;
    }

    QObject observer;
    QStringList problems;
};

TEST_P(WriteFailureTest, ARenameThatIsNotSavedIsNotShownAndIsTold)
{
    const qint64 id = addScreenshot(*store, "Invoice", "total due");
    (void)store->updateScreenshot(id, {.name = "Invoice", .keywords = "bill"});
    ScreenshotsListManager manager(store);
    const ScreenshotPtr record = listed(manager, id);
    ASSERT_TRUE(record);
    const QUrl image = *record->imageUrl();
    ASSERT_NO_FATAL_FAILURE(refuseWrites());
    QSignalSpy reverted(record.get(), &Screenshot::saveFailed);
    QSignalSpy names(record.get(), &Screenshot::nameChanged);

    ::testing::internal::CaptureStdout();
    record->setName(longText("Receipt "));
    record->setKeywords(longText("paid "));
    ::testing::internal::GetCapturedStdout();

    EXPECT_EQ(record->name(), "Invoice");
    EXPECT_EQ(record->keywords(), "bill");
    EXPECT_EQ(names.last().at(0).value<std::optional<QString>>(), "Invoice"); // the views were told
    EXPECT_EQ(reverted.count(), 2);
    EXPECT_EQ(record->imageUrl(), image);
    EXPECT_TRUE(QFileInfo::exists(image.toLocalFile()));
    EXPECT_THAT(QDir(libraryDirectory() + "/Screenshots").entryList(QDir::Files), ElementsAre("Invoice.png"));
    EXPECT_THAT(column("SELECT name || '|' || keywords FROM screenshots"), ElementsAre("\"Invoice|bill\""));
    ASSERT_THAT(problems, SizeIs(2)); // one for each change
    for (const QString& problem : problems) {
        EXPECT_THAT(problem.toStdString(), HasSubstr("could not be saved"));
        EXPECT_THAT(problem.toStdString(), HasSubstr(reason()));
    }
}

TEST_P(WriteFailureTest, ACaptureThatIsNotAddedIsTold)
{
    ScreenshotsListManager manager(store);
    testing::waitForList(manager);
    const QString file = *screenshotsDirectory() + "/New Screenshot.png";
    QFile image(file);
    ASSERT_TRUE(image.open(QIODevice::WriteOnly));
    image.write("png");
    image.close();
    ASSERT_NO_FATAL_FAILURE(refuseWrites());

    ::testing::internal::CaptureStdout();
    manager.addScreenshot({"New Screenshot.png", QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded),
                           longText("receipt "), QByteArray("thumbnail"), std::nullopt},
                          false);
    testing::waitForList(manager);
    ::testing::internal::GetCapturedStdout();

    EXPECT_TRUE(manager.screenshots().isEmpty());
    EXPECT_EQ(count("SELECT count(*) FROM screenshots"), 0);
    ASSERT_THAT(problems, SizeIs(1));
    EXPECT_THAT(problems.front().toStdString(), HasSubstr("could not be added to the library"));
    EXPECT_THAT(problems.front().toStdString(), HasSubstr(reason()));
}

TEST_P(WriteFailureTest, ARecognisedTextThatIsNotSavedIsTold)
{
    const qint64 id = addScreenshot(*store, "Invoice", "");
    ScreenshotsListManager manager(store);
    const ScreenshotPtr record = listed(manager, id);
    ASSERT_TRUE(record);
    ASSERT_NO_FATAL_FAILURE(refuseWrites());

    ::testing::internal::CaptureStdout();
    manager.setRecognizedText(id, longText("saffron "));
    ::testing::internal::GetCapturedStdout();

    QSignalSpy loaded(record.get(), &Screenshot::detailsLoaded);
    record->loadDetails();
    ASSERT_TRUE(loaded.wait(5000));
    EXPECT_EQ(record->text(), ""); // what the row holds
    EXPECT_THAT(column("SELECT text FROM screenshots"), ElementsAre("\"\""));
    ASSERT_THAT(problems, SizeIs(1));
    EXPECT_THAT(problems.front().toStdString(), HasSubstr("text recognised"));
    EXPECT_THAT(problems.front().toStdString(), HasSubstr(reason()));
}

TEST_P(WriteFailureTest, ANewFolderThatIsNotSavedIsToldAndNotListed)
{
    FoldersListManager manager(store);
    ASSERT_TRUE(manager.addFolder("Receipts", false, std::nullopt));
    ASSERT_NO_FATAL_FAILURE(refuseWrites());

    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(manager.addFolder(longText("Invoices "), false, std::nullopt));
    EXPECT_THAT(::testing::internal::GetCapturedStdout(), HasSubstr(reason()));

    ASSERT_THAT(manager.folders(), SizeIs(1));
    EXPECT_EQ(manager.folders().front().name, "Receipts");
    EXPECT_EQ(count("SELECT count(*) FROM folders"), 1);
    ASSERT_THAT(problems, SizeIs(1));
    EXPECT_THAT(problems.front().toStdString(), HasSubstr("new folder could not be saved"));
    EXPECT_THAT(problems.front().toStdString(), HasSubstr(reason()));
}

INSTANTIATE_TEST_SUITE_P(Refusals, WriteFailureTest,
                         ::testing::Values(Refusal::fullDisk, Refusal::readOnlyConnection, Refusal::readOnlyFile),
                         refusalName);

} // namespace
} // namespace lumetrove
