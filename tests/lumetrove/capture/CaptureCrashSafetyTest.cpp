#include "lumetrove/capture/ScreenshotCapture.h"
#include "lumetrove/library/DataDirectories.h"
#include "lumetrove/library/LibraryProblems.h"
#include "lumetrove/library/TextRecognitionBacklog.h"
#include "lumetrove/platform/NotificationCenter.h"
#include "lumetrove/platform/TextRecognizer.h"
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

/// Reads "text <width>" from every image.
class WidthRecognizer : public TextRecognizer {
public:
    RecognizedText recognize(const QImage& image) const override
    {
        RecognizedText text;
        text.lines.push_back(RecognizedLine{QStringLiteral("text %1").arg(image.width()), {}, {}});
        return text;
    }
};

class CaptureCrashSafetyTest : public testing::LibraryTest {
protected:
    /// Image files to import, each `width + i` pixels wide.
    QList<QUrl> sourceImages(int count, int width)
    {
        QList<QUrl> urls;
        for (int i = 0; i < count; ++i) {
            QImage image(width + i, 40, QImage::Format_RGB32);
            image.fill(QColor(i * 7 % 256, 100, 200));
            const QString path = sources_.filePath(QStringLiteral("source %1.png").arg(width + i));
            EXPECT_TRUE(image.save(path));
            urls << QUrl::fromLocalFile(path);
        }
        return urls;
    }

    /// Forks a child that runs `work` on a store of its own over the library and is killed once it has
    /// written a byte to its pipe, after `delay` microseconds more. Its output is silenced.
    template <class Work> void runAndKill(Work work, useconds_t delay)
    {
        testing::KilledChild child([&](int progress) {
            auto store = std::make_shared<ScreenshotsDB>();
            store->openDatabase(databasePath());
            work(store, progress);
        });
        child.waitForProgress();
        usleep(delay);
        child.kill();
    }

    /// The names of what lies in the screenshots directory, hidden files included.
    QStringList filesInLibrary() const
    {
        return QDir(libraryDirectory() + "/Screenshots")
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    /// The file names that the rows list, each once.
    std::multiset<QString> listedFiles()
    {
        std::multiset<QString> listed;
        for (const std::string& path : column("SELECT path FROM screenshots")) {
            listed.insert(QUrl(QString::fromStdString(path.substr(1, path.size() - 2))).fileName());
        }
        return listed;
    }

    QTemporaryDir sources_;
};

TEST_F(CaptureCrashSafetyTest, ImagesWhoseRowsAKillKeptOutAreListedOnTheNextOpenAndTheirTextIsRecognisedAgain)
{
    openStore();
    const QList<QUrl> imports = sourceImages(12, 100);
    // The child imports twelve files and captures one image, and is killed when both have reported: every
    // image is written, no row is inserted yet.
    runAndKill(
        [&](const std::shared_ptr<ScreenshotsDB>& store, int progress) {
            ScreenshotCapture capture(std::make_shared<WidthRecognizer>(), store);
            int reported = 0;
            capture.performCaptureFromFileURLs(imports, [&](const auto&, CaptureResult) { ++reported; });
            testing::processEventsUntil([&] { return reported == 1; }, 60000);
            capture.startAreaCapture(false, [&](const auto&, CaptureResult) {
                ++reported;
                return CaptureFollowUp::showMainWindow;
            });
            capture.closeShadeWindows();
            QImage grabbed(321, 40, QImage::Format_RGB32);
            grabbed.fill(Qt::white);
            capture.saveGrabbedImage(grabbed);
            testing::processEventsUntil([&] { return reported == 2; }, 60000);
            const char done = 1;
            (void)!write(progress, &done, 1);
        },
        0);

    auto store = openStore();
    ASSERT_TRUE(store->db());
    EXPECT_EQ(count("SELECT count(*) FROM pending_new_images"), 0);
    ASSERT_EQ(count("SELECT count(*) FROM screenshots"), 13);
    const QStringList files = filesInLibrary();
    EXPECT_EQ(files.size(), 13) << files.join(", ").toStdString();
    EXPECT_EQ(listedFiles(), std::multiset<QString>(files.begin(), files.end()));
    EXPECT_EQ(count("SELECT count(*) FROM screenshots WHERE name = 'source 100' AND was_imported = 1"), 1);
    EXPECT_EQ(count("SELECT count(*) FROM screenshots WHERE name LIKE 'Screen Shot % at %' AND was_imported = 0"), 1);

    // Their text and thumbnails come in the background.
    ScreenshotsListManager manager(store);
    testing::waitForList(manager);
    EXPECT_EQ(manager.screenshots().size(), 13);
    TextRecognitionBacklog backlog(manager, store, std::make_shared<WidthRecognizer>());
    QSignalSpy finished(&backlog, &TextRecognitionBacklog::finished);
    QSignalSpy redrawn(&manager, &ScreenshotsListManager::thumbnailsChanged);
    backlog.start();
    ASSERT_TRUE(testing::processEventsUntil([&] { return finished.count() == 1; }));
    // The views are told once the thumbnails are drawn, so that the rows show them.
    EXPECT_EQ(redrawn.count(), 1);
    EXPECT_EQ(count("SELECT count(*) FROM pending_text_recognition"), 0);
    EXPECT_EQ(column("SELECT text FROM screenshots WHERE name = 'source 105'"),
              std::vector<std::string>{"\"text 105\""});
    EXPECT_EQ(column("SELECT text FROM screenshots WHERE was_imported = 0"), std::vector<std::string>{"\"text 321\""});
    EXPECT_EQ(count("SELECT count(*) FROM screenshots_fts WHERE screenshots_fts MATCH 'text'"), 13);
    for (const std::string& id : column("SELECT id FROM screenshots")) {
        EXPECT_TRUE(QFileInfo::exists(*thumbnailFilePath(std::stoll(id)))) << "thumbnail of " << id;
    }
}

TEST_F(CaptureCrashSafetyTest, AKillAtAnyMomentOfAnImportLeavesNoImageWithoutARowAndNoPartOfOne)
{
    openStore();
    const QList<QUrl> imports = sourceImages(30, 500);
    std::mt19937 random(20261209);
    for (int kill = 0; kill < 8; ++kill) {
        SCOPED_TRACE(kill);
        // The child adds the rows as the window does, once the import has reported.
        runAndKill(
            [&](const std::shared_ptr<ScreenshotsDB>& store, int progress) {
                ScreenshotCapture capture(std::make_shared<WidthRecognizer>(), store);
                bool reported = false;
                capture.performCaptureFromFileURLs(imports, [&](const auto& results, CaptureResult) {
                    for (const CapturedScreenshotInfo& info : results.value_or(QList<CapturedScreenshotInfo>{})) {
                        (void)store->insertScreenshot({.name = info.screenshotFilename,
                                                       .path = info.screenshotPath,
                                                       .text = QString(),
                                                       .wasImported = true,
                                                       .textToCome = true});
                    }
                    reported = true;
                });
                const char started = 1;
                (void)!write(progress, &started, 1);
                testing::processEventsUntil([&] { return reported; }, 60000);
            },
            static_cast<useconds_t>(random() % 400000));

        openStore();
        EXPECT_EQ(count("SELECT count(*) FROM pending_new_images"), 0);
        const QStringList files = filesInLibrary();
        for (const QString& file : files) {
            EXPECT_FALSE(file.startsWith('.')) << "left behind: " << file.toStdString();
        }
        EXPECT_EQ(listedFiles(), std::multiset<QString>(files.begin(), files.end()));
    }
    EXPECT_GT(count("SELECT count(*) FROM screenshots"), 0) << "the kills came late enough to save images";
}

TEST_F(CaptureCrashSafetyTest, ACaptureWhoseImageTheLibraryCannotNoteWritesNoFileAndIsTold)
{
    auto store = openStore();
    QStringList problems;
    QObject observer;
    NotificationCenter::defaultCenter().addObserver(
        libraryProblemNotification, &observer, [&](const Notification& notification) {
            problems << notification.userInfo.value(libraryProblemMessageKey).toString();
        });
    // The library takes no writes: an image written now could be listed by nothing, ever.
    store->db()->executeScript("PRAGMA query_only = 1;");
    ScreenshotCapture capture(std::make_shared<WidthRecognizer>(), store);
    std::optional<CaptureResult> ended;
    ::testing::internal::CaptureStdout();
    capture.startAreaCapture(false, [&](const auto&, CaptureResult result) {
        ended = result;
        return CaptureFollowUp::showMainWindow;
    });
    capture.closeShadeWindows();
    QImage grabbed(120, 40, QImage::Format_RGB32);
    grabbed.fill(Qt::white);
    capture.saveGrabbedImage(grabbed);
    ASSERT_TRUE(testing::processEventsUntil([&] { return ended.has_value() && !problems.isEmpty(); }));
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(*ended, CaptureResult::cancelled);
    EXPECT_TRUE(filesInLibrary().isEmpty()) << filesInLibrary().join(", ").toStdString();
    ASSERT_EQ(problems.size(), 1);
    EXPECT_TRUE(problems[0].startsWith("The screenshot could not be saved: ")) << problems[0].toStdString();
    EXPECT_TRUE(problems[0].contains("readonly")) << problems[0].toStdString();
    store->db()->executeScript("PRAGMA query_only = 0;");
}

} // namespace
} // namespace lumetrove
