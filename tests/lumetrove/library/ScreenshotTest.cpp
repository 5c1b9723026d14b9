#include "lumetrove/library/Screenshot.h"

#include "lumetrove/ai/AIResultApplication.h"
#include "lumetrove/ai/ScreenshotInfoResult.h"
#include "lumetrove/library/DataDirectories.h"
#include "tests/lumetrove/library/LibraryTest.h"

#include <QDirIterator>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTimeZone>
#include <functional>

namespace lumetrove {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;

class ScreenshotTest : public testing::OpenLibraryTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(OpenLibraryTest::SetUp());
        directory = *screenshotsDirectory();
    }

    /// A stored screenshot whose image file has the capture's temporary name.
    ScreenshotPtr make(std::optional<QString> name, bool imported = false,
                       std::optional<QString> createdAt = QString("2024-03-05 14:07:09"))
    {
        const QString file = directory + "/New Screenshot " + QString::number(++files) + ".png";
        writeFile(file);
        const QString url = QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded);
        const qint64 id =
            *store->insertScreenshot({.name = name, .path = url, .text = "text", .wasImported = imported});
        return Screenshot::fromRow(
            {.id = id, .name = name, .createdAt = createdAt, .path = url, .text = "text", .wasImported = imported},
            store);
    }

    static void writeFile(const QString& path)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("image bytes");
    }

    QStringList filesInScreenshots() const { return QDir(directory).entryList(QDir::Files); }

    std::string storedName(qint64 id)
    {
        return column("SELECT ifnull(name, 'NULL') FROM screenshots WHERE id = " + std::to_string(id)).at(0);
    }
    std::string storedPath(qint64 id)
    {
        return column("SELECT path FROM screenshots WHERE id = " + std::to_string(id)).at(0);
    }

    QString directory;
    int files = 0;
};

TEST_F(ScreenshotTest, SettingTheSameNameWritesAndRenamesNothing)
{
    const ScreenshotPtr shot = make("Invoice");
    QSignalSpy spy(shot.get(), &Screenshot::nameChanged);
    shot->setName("Invoice");
    EXPECT_EQ(spy.count(), 1); // observers hear every assignment
    EXPECT_THAT(filesInScreenshots(), ElementsAre("New Screenshot 1.png"));
    EXPECT_EQ(storedName(shot->id()), "\"Invoice\"");
}

TEST_F(ScreenshotTest, ACapturedScreenshotIsRenamedWithAPrefixAndAnImportedOneWithout)
{
    const ScreenshotPtr captured = make("first");
    captured->setName("Invoice");
    EXPECT_EQ(captured->imageUrl()->toLocalFile(), directory + "/Screenshot - Invoice.png");
    EXPECT_EQ(storedName(captured->id()), "\"Invoice\"");
    EXPECT_EQ(
        storedPath(captured->id()),
        "\"" + QUrl::fromLocalFile(directory + "/Screenshot - Invoice.png").toString(QUrl::FullyEncoded).toStdString() +
            "\"");

    const ScreenshotPtr imported = make("photo", true);
    imported->setName("Invoice");
    EXPECT_EQ(imported->imageUrl()->toLocalFile(), directory + "/Invoice.png");
}

TEST_F(ScreenshotTest, TakenFileNamesGetTheNextFreeNumber)
{
    writeFile(directory + "/Screenshot - Invoice.png");
    writeFile(directory + "/Screenshot - Invoice-1.png");
    const ScreenshotPtr shot = make("x");
    shot->setName("Invoice");
    EXPECT_EQ(shot->imageUrl()->toLocalFile(), directory + "/Screenshot - Invoice-2.png");
    EXPECT_EQ(filesInScreenshots().size(), 3);
}

TEST_F(ScreenshotTest, NamesFromOutsideNeverLeaveTheScreenshotsDirectory)
{
    struct Case {
        QString name;
        QString fileName;
    };
    const std::vector<Case> cases{
        {"../../x", "Screenshot - ..-..-x.png"},
        {"a/b", "Screenshot - a-b.png"},
        {QString("nul") + QChar(0) + "byte\nline", "Screenshot - nulbyteline.png"},
        {QString(300, QChar('y')), "Screenshot - " + QString(187, QChar('y')) + ".png"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name.toStdString());
        const ScreenshotPtr shot = make("x");
        shot->setName(test.name);
        EXPECT_EQ(shot->imageUrl()->toLocalFile(), directory + "/" + test.fileName);
        EXPECT_TRUE(QFileInfo::exists(directory + "/" + test.fileName));
        EXPECT_EQ(storedName(shot->id()), "\"" + test.name.toStdString() + "\"");
    }
    // Nothing was written anywhere else under the data directory.
    QDirIterator it(dataHome(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        EXPECT_TRUE(path.startsWith(directory + "/") || path.endsWith("db.sqlite3") || path.contains("db.sqlite3-"))
            << path.toStdString();
    }
}

TEST_F(ScreenshotTest, ALinkAtTheTargetIsNeverFollowedOrReplaced)
{
    const QString outside = dataHome() + "/outside.png";
    for (const bool dangling : {true, false}) {
        SCOPED_TRACE(dangling ? "dangling link" : "link to a file");
        QFile::remove(outside);
        if (!dangling) {
            writeFile(outside);
        }
        const QString link = directory + "/Screenshot - Invoice.png";
        QFile::remove(link);
        ASSERT_TRUE(QFile::link(outside, link));
        const ScreenshotPtr shot = make("x");
        const QString before = shot->imageUrl()->toLocalFile();

        shot->setName("Invoice");
        EXPECT_EQ(shot->imageUrl()->toLocalFile(), directory + "/Screenshot - Invoice-1.png");
        EXPECT_FALSE(QFileInfo::exists(before));
        EXPECT_EQ(QFileInfo(link).symLinkTarget(), outside); // the link is still a link, to where it was
        EXPECT_EQ(QFileInfo::exists(outside), !dangling);
        if (!dangling) {
            QFile file(outside);
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            EXPECT_EQ(file.readAll(), "image bytes");
        }
        QFile::remove(shot->imageUrl()->toLocalFile());
    }
}

TEST_F(ScreenshotTest, AFailedMoveNeverReplacesTheDefaultNamedFile)
{
    const ScreenshotPtr shot = make("x");
    const QString source = shot->imageUrl()->toLocalFile();
    QFile::remove(source); // the move fails: the file is gone
    writeFile(directory + "/" + shot->defaultName() + ".png");
    ::testing::internal::CaptureStderr();
    shot->setName("Anything");
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_THAT(log, HasSubstr("An error occurred while renaming in renameScreenshotFile : "));
    EXPECT_THAT(log, HasSubstr("Last ditch effort to rename file failed in renameScreenshotFile : "));
    EXPECT_EQ(shot->imageUrl()->toLocalFile(), source);
    EXPECT_EQ(storedName(shot->id()), "\"Anything\""); // the name is still saved
}

TEST_F(ScreenshotTest, ABlankNameBecomesTheDefaultName)
{
    const ScreenshotPtr shot = make("Invoice");
    shot->setName(" \n\t");
    EXPECT_EQ(shot->name(), shot->defaultName());
    EXPECT_EQ(shot->imageUrl()->toLocalFile(), directory + "/" + shot->defaultName() + ".png");
    EXPECT_EQ(storedName(shot->id()), "\"" + shot->defaultName().toStdString() + "\"");
}

TEST_F(ScreenshotTest, NoNameRenamesAfterTheDefaultNameAndStoresNull)
{
    const ScreenshotPtr shot = make("Invoice");
    shot->setName(std::nullopt);
    EXPECT_EQ(shot->name(), std::nullopt);
    EXPECT_EQ(shot->imageUrl()->toLocalFile(), directory + "/" + shot->defaultName() + ".png");
    EXPECT_EQ(storedName(shot->id()), "\"NULL\"");
}

TEST_F(ScreenshotTest, RenamingAfterTheDefaultNameSetsTheNameWithoutRenamingTwice)
{
    const ScreenshotPtr shot = make("New Screenshot 1.png");
    shot->renameScreenshotFile(true);
    EXPECT_EQ(shot->name(), shot->defaultName());
    EXPECT_EQ(shot->imageUrl()->toLocalFile(), directory + "/" + shot->defaultName() + ".png");
    EXPECT_FALSE(shot->noRename());
    EXPECT_EQ(storedName(shot->id()), "\"" + shot->defaultName().toStdString() + "\"");
    // A second call finds the name already in place: the one-shot flag stays set.
    shot->renameScreenshotFile(true);
    EXPECT_TRUE(shot->noRename());
}

TEST_F(ScreenshotTest, AFailedSaveMovesTheRenamedFileBackToThePathTheRowHolds)
{
    struct Case {
        const char* what;
        std::function<void(Screenshot&)> rename;
    };
    const std::vector<Case> cases{
        {"name change", [](Screenshot& shot) { shot.setName("Invoice"); }},
        {"blank name", [](Screenshot& shot) { shot.setName(" "); }},
        // After a capture the list renames after the default name and saves once more.
        {"capture",
         [](Screenshot& shot) {
             shot.renameScreenshotFile(true);
             shot.save();
         }},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        const ScreenshotPtr shot = make("New Screenshot.png");
        const QUrl before = *shot->imageUrl();
        const std::string beforeRow = storedPath(shot->id());
        const QStringList filesBefore = filesInScreenshots();

        rawConnection()->executeScript(
            "CREATE TRIGGER refuse BEFORE UPDATE ON screenshots BEGIN SELECT RAISE(ABORT, 'refused'); END;");
        ::testing::internal::CaptureStdout();
        test.rename(*shot);
        EXPECT_THAT(::testing::internal::GetCapturedStdout(), HasSubstr("refused"));
        EXPECT_EQ(shot->imageUrl(), before);
        EXPECT_TRUE(QFileInfo::exists(before.toLocalFile()));
        EXPECT_EQ(filesInScreenshots(), filesBefore);
        EXPECT_EQ(storedPath(shot->id()), beforeRow);
        EXPECT_EQ(shot->name(), "New Screenshot.png"); // the record shows what the row holds

        rawConnection()->executeScript("DROP TRIGGER refuse;");
        shot->setName("Receipt");
        const QString renamed = directory + "/Screenshot - Receipt.png";
        EXPECT_EQ(shot->imageUrl()->toLocalFile(), renamed);
        EXPECT_TRUE(QFileInfo::exists(renamed));
        EXPECT_FALSE(QFileInfo::exists(before.toLocalFile()));
        EXPECT_EQ(storedPath(shot->id()),
                  "\"" + QUrl::fromLocalFile(renamed).toString(QUrl::FullyEncoded).toStdString() + "\"");
        EXPECT_EQ(storedName(shot->id()), "\"Receipt\"");
        QFile::remove(renamed);
    }
}

TEST_F(ScreenshotTest, AFailedSaveAfterASuccessfulOneMovesBackToTheLastStoredFile)
{
    const ScreenshotPtr shot = make("x");
    shot->setName("Invoice");
    const QUrl saved = *shot->imageUrl();
    rawConnection()->executeScript(
        "CREATE TRIGGER refuse BEFORE UPDATE ON screenshots BEGIN SELECT RAISE(ABORT, 'refused'); END;");
    ::testing::internal::CaptureStdout();
    shot->setName("Receipt");
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(shot->imageUrl(), saved);
    EXPECT_THAT(filesInScreenshots(), ElementsAre("Screenshot - Invoice.png"));
}

TEST_F(ScreenshotTest, AnAIAnswerIsKeptWholeInOneTransactionOrNotAtAll)
{
    const ScreenshotPtr shot = make("New Screenshot.png");
    const QString before = shot->imageUrl()->toLocalFile();
    const std::string beforeRow = column("SELECT name || '|' || ifnull(description, '') || '|' || ifnull(keywords, '') "
                                         "|| '|' || ifnull(ai_results, '') || '|' || path FROM screenshots")
                                      .at(0);
    ScreenshotInfoResult answer;
    answer._name = "Invoice total";
    answer.description = "An invoice";
    answer._keywords = "bill paper";
    answer.aiRawResult = "raw";
    int commits = 0;
    store->db()->setCommitHook([&] { ++commits; });

    // The keywords come after the name in the answer; their refusal keeps the name from the row too.
    rawConnection()->executeScript("CREATE TRIGGER refuse BEFORE UPDATE OF keywords ON screenshots WHEN "
                                   "new.keywords = 'bill paper' BEGIN SELECT RAISE(ABORT, 'refused'); END;");
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(applyAIResultToScreenshot(*shot, answer));
    EXPECT_THAT(::testing::internal::GetCapturedStdout(), HasSubstr("refused"));
    EXPECT_EQ(column("SELECT name || '|' || ifnull(description, '') || '|' || ifnull(keywords, '') || '|' || "
                     "ifnull(ai_results, '') || '|' || path FROM screenshots")
                  .at(0),
              beforeRow);
    EXPECT_EQ(commits, 0);
    EXPECT_THAT(filesInScreenshots(), ElementsAre("New Screenshot 1.png"));
    EXPECT_EQ(shot->imageUrl()->toLocalFile(), before);
    EXPECT_EQ(shot->name(), "New Screenshot.png");
    EXPECT_EQ(shot->keywords(), std::nullopt);
    EXPECT_EQ(count("SELECT count(*) FROM pending_file_changes"), 0);

    rawConnection()->executeScript("DROP TRIGGER refuse;");
    EXPECT_TRUE(applyAIResultToScreenshot(*shot, answer));
    EXPECT_EQ(commits, 1);
    const QString renamed = directory + "/Screenshot - Invoice total.png";
    EXPECT_THAT(filesInScreenshots(), ElementsAre("Screenshot - Invoice total.png"));
    EXPECT_EQ(column("SELECT name || '|' || description || '|' || keywords || '|' || ai_results || '|' || path "
                     "FROM screenshots")
                  .at(0),
              "\"Invoice total|An invoice|bill paper|raw\n\n|" +
                  QUrl::fromLocalFile(renamed).toString(QUrl::FullyEncoded).toStdString() + "\"");
    store->db()->setCommitHook(nullptr);
}

TEST_F(ScreenshotTest, ADropLeavesTheScreenshotInExactlyOneFolderInOneTransaction)
{
    const ScreenshotPtr shot = make("x");
    const qint64 a = *store->insertFolder("A", false, std::nullopt);
    const qint64 b = *store->insertFolder("B", false, std::nullopt);
    const auto links = [&] { return column("SELECT folder_id FROM folders_screenshots"); };
    ASSERT_TRUE(shot->moveToFolder(a));
    int commits = 0;
    store->db()->setCommitHook([&] { ++commits; });

    // The link to the new folder is refused after the old one was taken away: the old one stays.
    rawConnection()->executeScript("CREATE TRIGGER refuse BEFORE INSERT ON folders_screenshots BEGIN "
                                   "SELECT RAISE(ABORT, 'refused'); END;");
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(shot->moveToFolder(b));
    ::testing::internal::GetCapturedStdout();
    EXPECT_THAT(links(), ElementsAre(std::to_string(a)));
    EXPECT_EQ(shot->folderId(), a);

    rawConnection()->executeScript("DROP TRIGGER refuse;");
    QSignalSpy stored(shot.get(), &Screenshot::stored);
    EXPECT_TRUE(shot->moveToFolder(b));
    EXPECT_EQ(commits, 1);
    EXPECT_THAT(links(), ElementsAre(std::to_string(b)));
    EXPECT_EQ(shot->folderId(), b);
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored.at(0).at(0).value<ScreenshotRow>().folderId, b); // the row the list takes
    EXPECT_TRUE(shot->moveToFolder(std::nullopt));
    EXPECT_THAT(links(), ::testing::IsEmpty());
    store->db()->setCommitHook(nullptr);
}

TEST_F(ScreenshotTest, KeywordsAreSavedOnlyWhenTheyChange)
{
    const ScreenshotPtr shot = make("x");
    shot->setKeywords("cat dog");
    EXPECT_THAT(column("SELECT keywords FROM screenshots"), ElementsAre("\"cat dog\""));
    rawConnection()->executeScript("UPDATE screenshots SET keywords = 'elsewhere';");
    shot->setKeywords("cat dog");
    EXPECT_THAT(column("SELECT keywords FROM screenshots"), ElementsAre("\"elsewhere\""));
    EXPECT_THAT(filesInScreenshots(), ElementsAre("New Screenshot 1.png"));
}

TEST_F(ScreenshotTest, DatesAndTheDefaultName)
{
    const ScreenshotPtr shot = make("x", false, QString("2024-03-05 14:07:09"));
    ASSERT_TRUE(shot->createdDate());
    EXPECT_EQ(*shot->createdDate(), QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9), QTimeZone::utc()));
    EXPECT_TRUE(shot->defaultName().startsWith("Screen Shot 2024-03-0"));
    EXPECT_FALSE(shot->displayDate().isEmpty());

    for (const std::optional<QString>& createdAt : {std::optional<QString>(), std::optional<QString>("yesterday")}) {
        const ScreenshotPtr undated = make("y", false, createdAt);
        EXPECT_EQ(undated->createdDate(), std::nullopt);
        EXPECT_EQ(undated->defaultName(), "Screenshot");
        EXPECT_EQ(undated->displayDate(), "");
    }
}

TEST_F(ScreenshotTest, ACreationTimeReadsBackAsStoredAndAsTheTimeItNames)
{
    const auto utc = [](int y, int mo, int d, int h, int mi, int s) {
        return std::optional<QDateTime>(QDateTime(QDate(y, mo, d), QTime(h, mi, s), QTimeZone::utc()));
    };
    const struct {
        std::optional<QString> stored;
        std::optional<QDateTime> date;
    } cases[] = {
        {"2024-03-05 14:07:09", utc(2024, 3, 5, 14, 7, 9)},
        {"2024-02-29 23:59:59", utc(2024, 2, 29, 23, 59, 59)},
        {"1969-12-31 23:59:59", utc(1969, 12, 31, 23, 59, 59)},
        {"0999-01-01 00:00:00", utc(999, 1, 1, 0, 0, 0)},
        {"2023-02-29 10:00:00", std::nullopt},
        {"2024-03-05 24:00:00", std::nullopt},
        {"2024-03-05T14:07:09", std::nullopt},
        {"2024-3-5 14:07:09", std::nullopt},
        {"", std::nullopt},
        {std::nullopt, std::nullopt},
    };
    for (const auto& [stored, date] : cases) {
        SCOPED_TRACE(stored.value_or("(none)").toStdString());
        const ScreenshotPtr record =
            Screenshot::fromRow({.id = 1, .createdAt = stored, .path = "file:///a.png"}, store);
        EXPECT_EQ(record->createdDate(), date);
        EXPECT_EQ(record->createdAt(), stored);
    }
}

TEST_F(ScreenshotTest, DefaultNameUsesTheTwelveHourClock)
{
    const QByteArray saved = qgetenv("TZ");
    qputenv("TZ", "UTC");
    tzset();
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const ScreenshotPtr shot = make("x", false, QString("2024-03-05 14:07:09"));
    const QString name = shot->defaultName();
    QLocale::setDefault(QLocale::system());
    qputenv("TZ", saved);
    tzset();
    // QLocale::system() is not affected by setDefault, so check the clock part only.
    EXPECT_TRUE(name.startsWith("Screen Shot 2024-03-05 at 02.07.09 ")) << name.toStdString();
}

TEST_F(ScreenshotTest, DeleteFilesMovesTheImageToTheTrashAndRemovesTheThumbnail)
{
    const ScreenshotPtr shot = make("x");
    const QString image = shot->imageUrl()->toLocalFile();
    const QString thumbnail = *thumbnailsDirectory() + "/" + thumbnailFileName(shot->id());
    writeFile(thumbnail);
    shot->deleteFiles();
    EXPECT_FALSE(QFileInfo::exists(image));
    EXPECT_FALSE(QFileInfo::exists(thumbnail));
    QDirIterator trash(dataHome() + "/Trash/files", QDir::Files);
    ASSERT_TRUE(trash.hasNext());
    EXPECT_EQ(QFileInfo(trash.next()).fileName(), "New Screenshot 1.png");

    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    shot->deleteFiles(); // both are gone now: each failure is reported, neither stops the other
    EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("Failed to move screenshot to trash: "));
    EXPECT_THAT(::testing::internal::GetCapturedStdout(), HasSubstr("Could not delete screenshot or thumbnail: "));
}

TEST_F(ScreenshotTest, TheThumbnailIsReadOnlyWhenAskedAndAMissingOneIsAnEmptyImage)
{
    const ScreenshotPtr shot = make("x");
    QImage picture(4, 3, QImage::Format_ARGB32);
    picture.fill(Qt::green);
    ASSERT_TRUE(picture.save(*thumbnailFilePath(shot->id()), "PNG"));
    EXPECT_EQ(shot->thumbnailImage(), nullptr); // a getter reads no file
    QSignalSpy loaded(shot.get(), &Screenshot::thumbnailImageLoaded);
    shot->loadThumbnailImage();
    ASSERT_TRUE(loaded.wait(5000));
    ASSERT_TRUE(shot->thumbnailImage());
    EXPECT_EQ(shot->thumbnailImage()->pixelColor(0, 0), QColor(Qt::green));

    QFile::remove(*thumbnailFilePath(shot->id()));
    shot->loadThumbnailImage();
    ASSERT_TRUE(loaded.wait(5000));
    ASSERT_TRUE(shot->thumbnailImage());
    EXPECT_TRUE(shot->thumbnailImage()->isNull());
}

TEST_F(ScreenshotTest, EachTextPropertyHoldsWhatItWasLastAssignedAndNoOtherDoes)
{
    using Getter = const std::optional<QString>& (Screenshot::*)() const;
    using Setter = void (Screenshot::*)(std::optional<QString>);
    const struct {
        const char* name;
        Getter get;
        Setter set;
    } properties[] = {
        {"unconfirmedAIName", &Screenshot::unconfirmedAIName, &Screenshot::setUnconfirmedAIName},
        {"unconfirmedAIDescription", &Screenshot::unconfirmedAIDescription, &Screenshot::setUnconfirmedAIDescription},
        {"unconfirmedAIKeywords", &Screenshot::unconfirmedAIKeywords, &Screenshot::setUnconfirmedAIKeywords},
        {"unconfirmedAIRawResult", &Screenshot::unconfirmedAIRawResult, &Screenshot::setUnconfirmedAIRawResult},
        {"description", &Screenshot::description, &Screenshot::setDescription},
        {"aiResults", &Screenshot::aiResults, &Screenshot::setAiResults},
        {"aiAssistantTask", &Screenshot::aiAssistantTask, &Screenshot::setAiAssistantTask},
        {"aiAssistantResults", &Screenshot::aiAssistantResults, &Screenshot::setAiAssistantResults},
    };
    for (const auto& property : properties) {
        SCOPED_TRACE(property.name);
        const ScreenshotPtr record = Screenshot::fromRow({.id = 1, .path = "file:///a.png"}, store);
        QSignalSpy changed(record.get(), &Screenshot::changed);
        for (const std::optional<QString>& value : {std::optional<QString>("value"), std::optional<QString>(),
                                                    std::optional<QString>(""), std::optional<QString>()}) {
            ((*record).*property.set)(value);
            EXPECT_EQ(((*record).*property.get)(), value);
        }
        ((*record).*property.set)("last");
        EXPECT_EQ(changed.count(), 5);
        for (const auto& other : properties) {
            if (other.get != property.get) {
                EXPECT_EQ(((*record).*other.get)(), std::nullopt) << other.name;
            }
        }
        EXPECT_EQ(record->imageUrl(), QUrl("file:///a.png"));
        EXPECT_EQ(record->text(), std::nullopt);
    }
}

TEST_F(ScreenshotTest, AStoredPathOutsideAsciiIsParsedUnchanged)
{
    const ScreenshotRow row{.id = 1, .path = "file:///tmp/Bildä😀.png"};
    const ScreenshotPtr record = Screenshot::fromRow(row, store);
    ASSERT_TRUE(record->imageUrl());
    EXPECT_EQ(record->imageUrl()->toLocalFile(), "/tmp/Bildä😀.png");
}

TEST_F(ScreenshotTest, EqualityLooksAtIdAndFolderOnly)
{
    auto record = [](qint64 id, std::optional<qint64> folder, QString name) {
        return Screenshot({.id = id, .name = name, .folderId = folder});
    };
    EXPECT_TRUE(record(1, 2, "a") == record(1, 2, "b"));
    EXPECT_FALSE(record(1, 2, "a") == record(1, 3, "a"));
    EXPECT_FALSE(record(1, std::nullopt, "a") == record(1, 3, "a"));
    EXPECT_TRUE(record(1, std::nullopt, "a") == record(1, std::nullopt, "a"));
}

TEST_F(ScreenshotTest, TransferFormCarriesTheIdentityFields)
{
    Screenshot record({7, "name", "2024-01-01 00:00:00", "d", "k", "r", "file:///tmp/a%20b.png", "text", std::nullopt,
                       "App", "org.example.App", true, "t", "a", false});
    const QJsonObject object = record.encode();
    EXPECT_EQ(QJsonDocument(object).toJson(QJsonDocument::Compact),
              R"({"capturedAppBundleId":"org.example.App","capturedAppName":"App","id":7,)"
              R"("imageUrl":"file:///tmp/a%20b.png","text":"text"})");

    const std::shared_ptr<Screenshot> decoded = Screenshot::decode(object);
    EXPECT_EQ(decoded->id(), 7);
    EXPECT_EQ(decoded->folderId(), std::nullopt);
    EXPECT_EQ(decoded->name(), std::nullopt);
    EXPECT_EQ(decoded->imageUrl(), QUrl("file:///tmp/a%20b.png"));
    EXPECT_EQ(decoded->capturedAppBundleId(), "org.example.App");

    EXPECT_THROW(Screenshot::decode(QJsonObject{{"folderId", 1}}), ScreenshotDecodingError);
    EXPECT_THROW(Screenshot::decode(QJsonObject{{"id", 1.5}}), ScreenshotDecodingError);
    EXPECT_THROW(Screenshot::decode(QJsonObject{{"id", 1}, {"text", 3}}), ScreenshotDecodingError);
}

} // namespace
} // namespace lumetrove
