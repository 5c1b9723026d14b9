#include "lumetrove/library/DataDirectories.h"
#include "tests/lumetrove/library/LibraryTest.h"

#include <QDateTime>
#include <QDirIterator>
#include <QScopeGuard>
#include <set>
#include <sys/stat.h>

namespace lumetrove {
namespace {

using ::testing::ContainsRegex;
using ::testing::HasSubstr;

class DamagedLibraryTest : public testing::LibraryTest {
protected:
    /// A real library of `count` screenshots with long texts (so that its file spans many pages), their images
    /// written at known times, and a thumbnail each.
    void makeLibrary(int count)
    {
        auto store = openStore();
        const QDateTime first(QDate(2025, 3, 4), QTime(10, 20, 30), Qt::UTC);
        for (int i = 0; i < count; ++i) {
            const QString name = QStringLiteral("Shot %1").arg(i);
            const qint64 id = addScreenshot(*store, name, QStringLiteral("words of shot %1 ").arg(i).repeated(100));
            QFile image(libraryDirectory() + "/Screenshots/" + name + ".png");
            ASSERT_TRUE(image.open(QIODevice::ReadWrite));
            ASSERT_TRUE(image.setFileTime(first.addSecs(i * 60), QFileDevice::FileModificationTime));
            QFile thumbnail(*thumbnailFilePath(id));
            ASSERT_TRUE(thumbnail.open(QIODevice::WriteOnly));
            thumbnail.write("old thumbnail");
        }
    }

    QByteArray libraryBytes()
    {
        QFile file(databasePath());
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll();
    }

    void writeLibrary(const QByteArray& bytes)
    {
        QFile file(databasePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }

    /// The files beside the library that hold a damaged one.
    QStringList keptAside() const
    {
        return QDir(libraryDirectory()).entryList({QStringLiteral("db.sqlite3.damaged-*")}, QDir::Files);
    }
};

TEST_F(DamagedLibraryTest, ADamagedLibraryIsKeptAsideAndEveryImageStillThereIsListedAgain)
{
    struct Case {
        const char* what;
        std::function<QByteArray(const QByteArray&)> damage;
        const char* told;
    };
    const std::vector<Case> cases{
        {"cut in half", [](const QByteArray& good) { return good.left(good.size() / 2); }, "malformed|cut short"},
        {"not a database", [](const QByteArray& good) { return QByteArray(good.size(), 'x'); }, "not a database"},
    };
    // The usual umask, under which SQLite would make a new file readable by everyone.
    const mode_t savedUmask = ::umask(022);
    const auto restoreUmask = qScopeGuard([&] { ::umask(savedUmask); });
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        QDir(libraryDirectory()).removeRecursively();
        QDir().mkpath(libraryDirectory());
        makeLibrary(30);
        const QByteArray damaged = each.damage(libraryBytes());
        writeLibrary(damaged);
        // A journal that belongs to the damaged file goes aside with it.
        QFile journal(databasePath() + "-journal");
        ASSERT_TRUE(journal.open(QIODevice::WriteOnly));
        journal.close();
        QFile notes(libraryDirectory() + "/Screenshots/notes.txt");
        ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
        notes.close();

        ::testing::internal::CaptureStderr();
        auto store = openStore();
        const std::string logged = ::testing::internal::GetCapturedStderr();
        ASSERT_TRUE(store->db());
        ASSERT_TRUE(store->openProblem());
        EXPECT_THAT(store->openProblem()->details.toStdString(), ContainsRegex(each.told));
        EXPECT_THAT(store->openProblem()->details.toStdString(), HasSubstr("The 30 screenshots"));
        EXPECT_THAT(logged, HasSubstr("The library was damaged"));

        const QStringList kept = keptAside();
        ASSERT_EQ(kept.size(), 2) << kept.join(", ").toStdString();
        QFile keptFile(libraryDirectory() + "/" + kept[0]);
        ASSERT_TRUE(keptFile.open(QIODevice::ReadOnly));
        EXPECT_EQ(keptFile.readAll(), damaged) << "the damaged file is kept untouched";
        EXPECT_EQ(kept[1], kept[0] + "-journal");
        EXPECT_TRUE(kept[0].contains(QDate::currentDate().toString(Qt::ISODate)));
        EXPECT_THAT(store->openProblem()->details.toStdString(), HasSubstr(kept[0].toStdString()));
        EXPECT_FALSE(QFileInfo::exists(databasePath() + "-journal"));
        // The new library is its owner's alone, as a library made from nothing is.
        struct stat status {};
        ASSERT_EQ(::stat(QFile::encodeName(databasePath()).constData(), &status), 0);
        EXPECT_EQ(status.st_mode & 077, 0u) << std::oct << (status.st_mode & 0777);

        // Every image is listed again, under its file name and from the time of its file, its text to come.
        EXPECT_EQ(column("PRAGMA integrity_check"), std::vector<std::string>{"\"ok\""});
        EXPECT_EQ(count("SELECT user_version FROM pragma_user_version"), 2);
        std::set<std::string> names;
        for (const std::string& name : column("SELECT name FROM screenshots")) {
            names.insert(name);
        }
        std::set<std::string> expected;
        for (int i = 0; i < 30; ++i) {
            expected.insert("\"Shot " + std::to_string(i) + "\"");
        }
        EXPECT_EQ(names, expected);
        EXPECT_EQ(column("SELECT created_at FROM screenshots WHERE name = 'Shot 2'"),
                  std::vector<std::string>{"\"2025-03-04 10:22:30\""});
        EXPECT_EQ(column("SELECT name FROM screenshots ORDER BY id LIMIT 1"), std::vector<std::string>{"\"Shot 0\""});
        EXPECT_EQ(count("SELECT count(*) FROM pending_text_recognition"), 30);
        for (const std::string& path : column("SELECT path FROM screenshots")) {
            EXPECT_TRUE(QFileInfo::exists(QUrl(QString::fromStdString(path.substr(1, path.size() - 2))).toLocalFile()));
        }
        // The old thumbnails showed the rows of the old ids; they go.
        EXPECT_TRUE(QDir(libraryDirectory() + "/Thumbnails").isEmpty());

        ScreenshotsListManager manager(store);
        testing::waitForList(manager);
        EXPECT_EQ(manager.screenshots().size(), 30);
        // The next open finds a sound library.
        EXPECT_FALSE(openStore()->openProblem());
        EXPECT_EQ(keptAside().size(), 2);
    }
}

TEST_F(DamagedLibraryTest, AMissingLibraryFileIsStartedAnewWithTheImagesStillThereAndSaysSo)
{
    // Without a word the window would come up empty, every screenshot still in the Screenshots folder.
    makeLibrary(3);
    ASSERT_TRUE(QFile::remove(databasePath()));
    auto store = openStore();
    ASSERT_TRUE(store->openProblem());
    EXPECT_THAT(store->openProblem()->title.toStdString(), HasSubstr("missing"));
    EXPECT_THAT(store->openProblem()->details.toStdString(), HasSubstr("The 3 screenshots"));
    EXPECT_EQ(count("SELECT count(*) FROM screenshots"), 3);
    EXPECT_EQ(count("SELECT count(*) FROM pending_text_recognition"), 3);
    EXPECT_TRUE(QDir(libraryDirectory() + "/Thumbnails").isEmpty()) << "the old ids' thumbnails go";
    EXPECT_FALSE(openStore()->openProblem());
    EXPECT_EQ(count("SELECT count(*) FROM screenshots"), 3);
}

TEST_F(DamagedLibraryTest, AFolderOrAnUnreadableFileInTheLibrarysPlaceIsToldAndLeftAlone)
{
    ASSERT_TRUE(QDir().mkpath(databasePath()));
    auto store = openStore();
    EXPECT_FALSE(store->db());
    ASSERT_TRUE(store->openProblem());
    EXPECT_THAT(store->openProblem()->details.toStdString(), HasSubstr("is a folder"));
    EXPECT_TRUE(QFileInfo(databasePath()).isDir());
    EXPECT_TRUE(keptAside().isEmpty());

    ASSERT_TRUE(QDir().rmdir(databasePath()));
    ASSERT_TRUE(QFile::link(libraryDirectory() + "/nowhere", databasePath()));
    store = openStore();
    EXPECT_FALSE(store->db());
    ASSERT_TRUE(store->openProblem());
    EXPECT_THAT(store->openProblem()->details.toStdString(), HasSubstr("cannot be read"));
    EXPECT_TRUE(QFileInfo(databasePath()).isSymLink());
    EXPECT_FALSE(QFileInfo::exists(libraryDirectory() + "/nowhere"));
    EXPECT_TRUE(keptAside().isEmpty());
}

} // namespace
} // namespace lumetrove
