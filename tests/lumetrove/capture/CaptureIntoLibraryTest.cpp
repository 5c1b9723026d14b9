#include "lumetrove/capture/ScreenshotCapture.h"
#include "lumetrove/library/ScreenshotsDB.h"
#include "lumetrove/library/ScreenshotsListManager.h"
#include "tests/lumetrove/capture/HeldRecognizer.h"
#include "tests/lumetrove/library/LibraryTest.h"

#include <QSignalSpy>
#include <QTest>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace lumetrove {
namespace {

using testing::HeldRecognizer;

class CaptureIntoLibraryTest : public testing::LibraryTest {
protected:
    void TearDown() override
    {
        recognizer->letGo(); // the capture waits for its recognition thread when it goes
        LibraryTest::TearDown();
    }

    /// Captures an image `width` wide as the main window does: every record reported goes into `library`.
    /// The records reported.
    QList<CapturedScreenshotInfo> captureInto(ScreenshotsListManager& library, int width)
    {
        std::optional<QList<CapturedScreenshotInfo>> reported;
        capture.startAreaCapture(false,
                                 [&](const std::optional<QList<CapturedScreenshotInfo>>& results, CaptureResult) {
                                     reported = results.value_or(QList<CapturedScreenshotInfo>{});
                                     for (const CapturedScreenshotInfo& info : *reported) {
                                         library.addScreenshot(info, false);
                                     }
                                     return CaptureFollowUp::showMainWindow;
                                 });
        capture.closeShadeWindows();
        QImage image(width, 40, QImage::Format_RGB32);
        image.fill(Qt::white);
        capture.saveGrabbedImage(image);
        EXPECT_TRUE(testing::processEventsUntil([&] { return reported.has_value(); }));
        testing::waitForList(library);
        return reported.value_or(QList<CapturedScreenshotInfo>{});
    }

    /// The stored texts, oldest row first, each as SQL shows it (in double quotes).
    /// Read by a connection of the test's own, which finds none while the library's writer thread holds the lock.
    std::vector<std::string> storedTexts()
    {
        try {
            return column("SELECT text FROM screenshots ORDER BY id");
        } catch (const std::exception&) {
            return {};
        }
    }

    std::shared_ptr<HeldRecognizer> recognizer = std::make_shared<HeldRecognizer>();
    ScreenshotCapture capture{recognizer, nullptr};
};

TEST_F(CaptureIntoLibraryTest, TheRowIsListedWhileItsTextIsRecognisedAndTheTextThenReachesTheListAndTheIndex)
{
    const auto store = openStore();
    ScreenshotsListManager library(store);
    testing::waitForList(library);
    const QList<CapturedScreenshotInfo> reported = captureInto(library, 120);

    ASSERT_EQ(reported.size(), 1);
    ASSERT_TRUE(reported[0].pendingRecognizedText);
    EXPECT_FALSE(reported[0].pendingRecognizedText->isFinished());
    ASSERT_EQ(library.screenshots().size(), 1);
    const ScreenshotPtr row = library.screenshots().front();
    EXPECT_EQ(row->text().value_or(QString()), QString());
    QSignalSpy thumbnailRead(row.get(), &Screenshot::thumbnailImageLoaded);
    row->loadThumbnailImage();
    ASSERT_TRUE(thumbnailRead.wait(5000));
    ASSERT_TRUE(row->thumbnailImage());
    EXPECT_FALSE(row->thumbnailImage()->isNull()) << "the thumbnail is there with the row";
    // A search typed meanwhile does not find it yet.
    library.setSearchFilter(QStringLiteral("invoice"));
    ASSERT_TRUE(testing::processEventsUntil([&] { return library.screenshots().isEmpty(); }));

    QSignalSpy changed(row.get(), &Screenshot::changed);
    recognizer->letGo();
    ASSERT_TRUE(testing::processEventsUntil([&] { return row->text() == QStringLiteral("invoice 120"); }));
    EXPECT_GE(changed.count(), 1);
    ASSERT_TRUE(testing::processEventsUntil([&] { return library.screenshots().size() == 1; }))
        << "the search under way is run again";
    EXPECT_EQ(library.screenshots().front()->id(), row->id());
    EXPECT_EQ(storedTexts(), std::vector<std::string>{"\"invoice 120\""});
    EXPECT_EQ(count("SELECT count(*) FROM screenshots_fts WHERE screenshots_fts MATCH 'invoice'"), 1);
}

TEST_F(CaptureIntoLibraryTest, ALaterCaptureNeverDropsTheTextOfAnEarlierOneAndEachTextFindsItsOwnRow)
{
    const auto store = openStore();
    ScreenshotsListManager library(store);
    testing::waitForList(library);
    // The second capture starts while the first one's text is still being recognised.
    captureInto(library, 101);
    captureInto(library, 202);
    ASSERT_EQ(library.screenshots().size(), 2);
    EXPECT_EQ(storedTexts(), (std::vector<std::string>{"\"\"", "\"\""}));

    recognizer->letGo();
    ASSERT_TRUE(testing::processEventsUntil([&] {
        return storedTexts() == std::vector<std::string>{"\"invoice 101\"", "\"invoice 202\""};
    })) << ::testing::PrintToString(storedTexts());
    // Newest first: each listed row shows the text of its own image.
    ASSERT_TRUE(testing::processEventsUntil([&] {
        return library.screenshots().size() == 2 &&
               library.screenshots().row(0).textSnippet == QStringLiteral("invoice 202") &&
               library.screenshots().row(1).textSnippet == QStringLiteral("invoice 101");
    }));
}

} // namespace
} // namespace lumetrove
