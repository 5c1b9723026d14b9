// The library holds screenshots and the text read from them: no other account on the machine may read it.
#include "lumetrove/library/DataDirectories.h"
#include "lumetrove/library/Screenshot.h"
#include "tests/lumetrove/library/LibraryTest.h"

#include <sys/stat.h>

namespace lumetrove {
namespace {

/// The permission bits of the entry at `path` (not following a link).
int modeOf(const QString& path)
{
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0) {
        return -1;
    }
    return static_cast<int>(status.st_mode & 07777);
}

/// The usual umask while a test runs, whatever the test runner had.
class UsualUmask {
public:
    UsualUmask() : saved_(::umask(022)) {}
    ~UsualUmask() { ::umask(saved_); }

private:
    mode_t saved_;
};

class PrivacyTest : public testing::SandboxTest {
protected:
    void writeFile(const QString& path, const QByteArray& bytes = "png")
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    UsualUmask umask;
};

TEST_F(PrivacyTest, EverythingANewLibraryHoldsIsItsOwnersAlone)
{
    auto store = std::make_shared<ScreenshotsDB>();
    ::testing::internal::CaptureStdout();
    store->openDatabase(); // the library of this (sandboxed) account
    ::testing::internal::GetCapturedStdout();
    ASSERT_TRUE(store->db());
    const QString library = libraryDirectory();
    const QString screenshots = *screenshotsDirectory();
    EXPECT_EQ(modeOf(library), 0700);
    EXPECT_EQ(modeOf(screenshots), 0700);
    EXPECT_EQ(modeOf(*thumbnailsDirectory()), 0700);
    EXPECT_EQ(modeOf(library + "/db.sqlite3"), 0600);
    // SQLite makes its journal as the database is.
    store->db()->transaction([&] {
        store->db()->runStatement("INSERT INTO folders (folder_name, sort_order) VALUES ('F', 0)");
        EXPECT_EQ(modeOf(library + "/db.sqlite3-journal"), 0600);
    });

    // A capture written as any program writes a file, then added: the image and its thumbnail.
    const QString image = screenshots + "/New Screenshot.png";
    writeFile(image);
    ASSERT_EQ(modeOf(image), 0644);
    ScreenshotsListManager manager(store);
    manager.addScreenshot({"New Screenshot.png", QUrl::fromLocalFile(image).toString(QUrl::FullyEncoded), "text",
                           QByteArray("thumbnail"), std::nullopt},
                          false);
    testing::waitForList(manager);
    const QStringList images = QDir(screenshots).entryList(QDir::Files);
    ASSERT_EQ(images.size(), 1); // renamed after its default name
    EXPECT_EQ(modeOf(screenshots + "/" + images.front()), 0600);
    ASSERT_EQ(manager.screenshots().size(), 1);
    const qint64 id = manager.screenshots().front()->id();
    EXPECT_EQ(modeOf(*thumbnailFilePath(id)), 0600);
    const ScreenshotPtr record = Screenshot::fromRow(*store->screenshotRow(id), store);
    record->setName("Invoice");
    EXPECT_EQ(QFileInfo(record->imageUrl()->toLocalFile()).fileName(), "Screenshot - Invoice.png");
    EXPECT_EQ(modeOf(record->imageUrl()->toLocalFile()), 0600);

    for (const QString& entry : QDir(library).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)) {
        SCOPED_TRACE(entry.toStdString());
        EXPECT_EQ(modeOf(library + "/" + entry) & 077, 0);
    }
}

TEST_F(PrivacyTest, ALibraryOthersCouldReadIsTightenedOnceOnOpen)
{
    const QString library = libraryDirectory();
    ASSERT_TRUE(QDir().mkpath(library + "/Screenshots/nested"));
    ASSERT_TRUE(QDir().mkpath(library + "/Thumbnails"));
    for (const QString& directory : {library, library + "/Screenshots", library + "/Screenshots/nested"}) {
        ::chmod(QFile::encodeName(directory).constData(), 0755);
    }
    sqlite::Connection::openPath((library + "/db.sqlite3").toStdString())->executeScript("CREATE TABLE t (x);");
    const QStringList files{library + "/db.sqlite3", library + "/Screenshots/a.png",
                            library + "/Screenshots/nested/b.png", library + "/Thumbnails/thumbnail-1.png"};
    for (const QString& file : files) {
        if (!QFileInfo::exists(file)) {
            writeFile(file);
        }
        ::chmod(QFile::encodeName(file).constData(), 0644);
    }
    // A link in the library is left alone, and what it points to is not the library's.
    const QString outside = dataHome() + "/elsewhere.txt";
    writeFile(outside);
    ::chmod(QFile::encodeName(outside).constData(), 0644);
    ASSERT_TRUE(QFile::link(outside, library + "/Screenshots/link.png"));

    auto store = std::make_shared<ScreenshotsDB>();
    ::testing::internal::CaptureStdout();
    store->openDatabase();
    ::testing::internal::GetCapturedStdout();

    for (const QString& directory :
         {library, library + "/Screenshots", library + "/Screenshots/nested", library + "/Thumbnails"}) {
        SCOPED_TRACE(directory.toStdString());
        EXPECT_EQ(modeOf(directory), 0700);
    }
    for (const QString& file : files) {
        SCOPED_TRACE(file.toStdString());
        EXPECT_EQ(modeOf(file), 0600);
    }
    EXPECT_EQ(modeOf(outside), 0644);

    // Once: a library that is its owner's already is not walked again.
    ::chmod(QFile::encodeName(files[1]).constData(), 0640);
    restrictDataDirectoryToOwner();
    EXPECT_EQ(modeOf(files[1]), 0640);
}

} // namespace
} // namespace lumetrove
