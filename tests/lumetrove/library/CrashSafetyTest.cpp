#include "lumetrove/library/DataDirectories.h"
#include "lumetrove/library/ScreenshotsListManager.h"
#include "tests/lumetrove/library/KilledChild.h"
#include "tests/lumetrove/library/LibraryTest.h"

#include <QDirIterator>
#include <QSignalSpy>
#include <fcntl.h>
#include <random>
#include <set>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace lumetrove {
namespace {

class CrashSafetyTest : public testing::LibraryTest {
protected:
    /// What the child runs until it is killed: captures added (and renamed after their default name),
    /// screenshots renamed and deleted, in a random order. Every image holds a text of its own.
    /// A byte goes to `progress` when the store is open and after each finished step.
    [[noreturn]] void runWorkload(unsigned seed, int progress)
    {
        auto store = std::make_shared<ScreenshotsDB>();
        store->openDatabase(databasePath());
        ScreenshotsListManager manager(store);
        manager.setScreenshots(manager.loadScreenshots()); // this child runs no event loop but for captures
        QSignalSpy thumbnails(&manager, &ScreenshotsListManager::thumbnailWritten);
        const char done = 1;
        (void)!write(progress, &done, 1);
        std::mt19937 random(seed);
        const QString directory = *screenshotsDirectory();
        for (int step = 0;; ++step) {
            const int size = static_cast<int>(manager.screenshots().size());
            const int choice = static_cast<int>(random() % 4);
            if (size < 3 || choice < 2) {
                const qsizetype thumbnailsBefore = thumbnails.count();
                const QString file = QString("%1/New Screenshot %2-%3.png").arg(directory).arg(seed).arg(step);
                QFile image(file);
                image.open(QIODevice::WriteOnly);
                image.write(QString("image %1-%2").arg(seed).arg(step).toUtf8());
                image.close();
                manager.addScreenshot(CapturedScreenshotInfo{QFileInfo(file).fileName(),
                                                             QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded),
                                                             "some words", QByteArray("thumbnail"), std::nullopt},
                                      false);
                // Written (and renamed) by the manager's writer thread, told on this one with its thumbnail.
                (void)testing::processEventsUntil([&] { return thumbnails.count() > thumbnailsBefore; });
                manager.setScreenshots(manager.loadScreenshots());
            } else if (choice == 2) {
                manager.screenshots()[random() % size]->setName(QString("Name %1").arg(random() % 5));
            } else {
                manager.deleteScreenshots({static_cast<qsizetype>(random() % size)});
            }
            (void)!write(progress, &done, 1);
        }
    }

    /// The texts of the image files under `directory`.
    static std::set<QByteArray> imagesIn(const QString& directory)
    {
        std::set<QByteArray> images;
        QDirIterator it(directory, QDir::Files);
        while (it.hasNext()) {
            QFile file(it.next());
            if (file.open(QIODevice::ReadOnly)) {
                images.insert(file.readAll());
            }
        }
        return images;
    }
};

TEST_F(CrashSafetyTest, AKillAtAnyMomentLosesNoImageAndLeavesNoRowWithoutOne)
{
    openStore();
    std::mt19937 random(20261209);
    std::set<QByteArray> everStored; // images that a row held after some reopen
    int deletedSeen = 0;
    for (unsigned kill = 0; kill < 25; ++kill) {
        SCOPED_TRACE(kill);
        testing::KilledChild child([&](int progress) { runWorkload(kill, progress); });
        // Counted in finished steps, so that the workload gets somewhere however slow the machine; then a
        // random moment, which mostly falls inside the next step.
        for (unsigned steps = 1 + random() % 4; steps > 0; --steps) {
            child.waitForProgress();
        }
        usleep(random() % 20000);
        child.kill();

        // The next open finishes what the kill cut short.
        auto store = openStore();
        ASSERT_TRUE(store->db());
        EXPECT_EQ(column("PRAGMA integrity_check"), std::vector<std::string>{"\"ok\""});
        EXPECT_NO_THROW(checkIndexIntegrity());
        EXPECT_NO_THROW(rawConnection()->executeScript(
            "INSERT INTO screenshots_words(screenshots_words, rank) VALUES('integrity-check', 1);"));
        EXPECT_EQ(count("SELECT count(*) FROM pending_file_changes"), 0);

        for (const std::string& path : column("SELECT path FROM screenshots")) {
            const QString file = QUrl(QString::fromStdString(path.substr(1, path.size() - 2))).toLocalFile();
            QFile image(file);
            EXPECT_TRUE(image.open(QIODevice::ReadOnly)) << "no image at " << path;
            everStored.insert(image.readAll());
        }
        const std::set<QByteArray> library = imagesIn(*screenshotsDirectory());
        const std::set<QByteArray> trash = imagesIn(dataHome() + "/Trash/files");
        for (const QByteArray& image : everStored) {
            EXPECT_TRUE(library.contains(image) || trash.contains(image)) << "lost " << image.toStdString();
        }
        deletedSeen = static_cast<int>(trash.size());
    }
    // The workload got far enough to add, rename and delete.
    EXPECT_GT(everStored.size(), 8u);
    EXPECT_GT(deletedSeen, 2);
    EXPECT_GT(count("SELECT count(*) FROM screenshots WHERE path LIKE '%Name%'"), 0);
}

} // namespace
} // namespace lumetrove
