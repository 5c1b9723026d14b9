#include "lumetrove/browser/ScreenshotRowDelegate.h"
#include "lumetrove/browser/ThumbnailCache.h"
#include "lumetrove/library/DataDirectories.h"
#include "lumetrove/platform/ImageUtilities.h"
#include "tests/lumetrove/Sandbox.h"

#include <QFile>
#include <QPainter>
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
        const QSize shown = loaded.image.deviceIndependentSize().toSize();
        EXPECT_LE(shown.width(), rowThumbnailFrame.width());
        EXPECT_LE(shown.height(), rowThumbnailFrame.height());
        if (size.width() <= 200 && size.height() <= 140) {
            EXPECT_EQ(loaded.image.size(), size);
        }
        // Centred in the frame, inside it.
        const QRect frame(15, 20, 200, 140);
        const QRect placed = thumbnailImageRect(frame, shown);
        EXPECT_TRUE(frame.contains(placed));
        EXPECT_LE(std::abs((placed.left() - frame.left()) - (frame.right() - placed.right())), 1);
    }
}

TEST_F(ThumbnailTest, AThumbnailCapturedAtPixelRatioTwoShowsItsWholePictureSharply)
{
    // A capture of 800 × 560 logical pixels on a screen of pixel ratio 2: red on the left, blue on the right.
    QImage capture(QSize(1600, 1120), QImage::Format_ARGB32_Premultiplied);
    capture.fill(Qt::red);
    capture.setDevicePixelRatio(2);
    {
        QPainter painter(&capture);
        painter.fillRect(QRectF(400, 0, 400, 560), Qt::blue);
    }
    QFile file(*thumbnailFilePath(12));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(pngData(renderThumbnail(capture, 200, QSizeF(200, 140), 2)));
    file.close();

    const LoadedThumbnail loaded = loadThumbnailFile(12, std::nullopt);
    ASSERT_FALSE(loaded.image.isNull());
    EXPECT_EQ(loaded.image.size(), QSize(400, 280)); // every pixel of the file
    EXPECT_EQ(loaded.image.deviceIndependentSize().toSize(), rowThumbnailFrame);

    // Drawn into the row's frame as the row does: both halves of the picture show.
    QImage row(QSize(600, screenshotRowHeight(600)) * 2, QImage::Format_ARGB32_Premultiplied);
    row.setDevicePixelRatio(2);
    row.fill(Qt::white);
    const QRect frame = screenshotRowGeometry(QRect(0, 0, 600, screenshotRowHeight(600))).thumbnailFrame;
    {
        QPainter painter(&row);
        painter.drawImage(thumbnailImageRect(frame, loaded.image.deviceIndependentSize().toSize()), loaded.image);
    }
    const QPoint left = (frame.topLeft() + QPoint(50, 70)) * 2;
    const QPoint right = (frame.topLeft() + QPoint(150, 70)) * 2;
    EXPECT_EQ(row.pixelColor(left), QColor(Qt::red));
    EXPECT_EQ(row.pixelColor(right), QColor(Qt::blue));
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
