#include "lumetrove/browser/ScreenshotRowDelegate.h"
#include "lumetrove/browser/ThumbnailCache.h"
#include "lumetrove/library/DataDirectories.h"
#include "tests/lumetrove/Sandbox.h"

#include <QFile>
#include <QSignalSpy>

namespace lumetrove {
namespace {

class ThumbnailTest : public testing::SandboxTest {
protected:
    static void writeThumbnail(qint64 id, QSize size, QColor color)
    {
        QImage image(size, QImage::Format_ARGB32);
        image.fill(color);
        ASSERT_TRUE(image.save(*thumbnailFilePath(id), "PNG"));
    }
};

TEST_F(ThumbnailTest, WideTallAndTinyImagesFitTheRowFrame)
{
    qint64 id = 0;
    for (const QSize size : {QSize(200, 140), QSize(1600, 100), QSize(100, 1600), QSize(12, 8), QSize(401, 281)}) {
        SCOPED_TRACE(::testing::Message() << size.width() << "x" << size.height());
        writeThumbnail(++id, size, Qt::green);
        const LoadedThumbnail loaded = loadThumbnailFile(id, std::nullopt);
        ASSERT_FALSE(loaded.image.isNull());
        EXPECT_LE(loaded.image.width(), rowThumbnailFrame.width());
        EXPECT_LE(loaded.image.height(), rowThumbnailFrame.height());
        if (size.width() <= 200 && size.height() <= 140) {
            EXPECT_EQ(loaded.image.size(), size);
        }
        // Centred in the frame, inside it.
        const QRect frame(15, 20, 200, 140);
        const QRect placed = thumbnailImageRect(frame, loaded.image.size());
        EXPECT_TRUE(frame.contains(placed));
        EXPECT_LE(std::abs((placed.left() - frame.left()) - (frame.right() - placed.right())), 1);
    }
}

TEST_F(ThumbnailTest, AMissingFileGivesNoImageAndAnUnchangedFileIsNotReadAgain)
{
    EXPECT_TRUE(loadThumbnailFile(404, std::nullopt).image.isNull());
    writeThumbnail(5, QSize(20, 20), Qt::red);
    const LoadedThumbnail first = loadThumbnailFile(5, std::nullopt);
    ASSERT_TRUE(first.fileTime);
    const LoadedThumbnail again = loadThumbnailFile(5, first.fileTime);
    EXPECT_TRUE(again.unchanged);
    EXPECT_TRUE(again.image.isNull());
}

TEST_F(ThumbnailTest, CacheLoadsInTheBackgroundAndSeesARewrittenFileAfterRevalidation)
{
    writeThumbnail(9, QSize(20, 20), Qt::red);
    ThumbnailCache cache;
    QSignalSpy loaded(&cache, &ThumbnailCache::thumbnailLoaded);
    EXPECT_TRUE(cache.thumbnail(9).isNull());
    ASSERT_TRUE(loaded.wait(5000));
    EXPECT_EQ(cache.thumbnail(9).pixelColor(0, 0), QColor(Qt::red));

    // A new file time: the next use after a revalidation reads the file again.
    writeThumbnail(9, QSize(30, 30), Qt::blue);
    QFile file(*thumbnailFilePath(9));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
    file.close();
    EXPECT_EQ(cache.thumbnail(9).pixelColor(0, 0), QColor(Qt::red));
    cache.revalidate();
    EXPECT_EQ(cache.thumbnail(9).pixelColor(0, 0), QColor(Qt::red));
    ASSERT_TRUE(loaded.wait(5000));
    EXPECT_EQ(cache.thumbnail(9).size(), QSize(30, 30));
}

} // namespace
} // namespace lumetrove
