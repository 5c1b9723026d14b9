#include "lumetrove/platform/ImageUtilities.h"

#include <QPainter>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace lumetrove {
namespace {

QImage filled(QSize size, QColor colour, qreal devicePixelRatio = 1)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(colour);
    image.setDevicePixelRatio(devicePixelRatio);
    return image;
}

TEST(ResizeImageTest, ScalesDownToTheWidthAndNeverUp)
{
    const QImage exact = filled({200, 50}, Qt::red);
    EXPECT_EQ(resizeImage(200, exact).cacheKey(), exact.cacheKey()) << "an image as wide as the limit is the same";
    const QImage narrow = filled({120, 500}, Qt::red);
    EXPECT_EQ(resizeImage(200, narrow).cacheKey(), narrow.cacheKey());

    const QImage scaled = resizeImage(200, filled({800, 600}, Qt::blue));
    EXPECT_EQ(scaled.size(), QSize(200, 150));
    EXPECT_EQ(scaled.pixelColor(100, 75), QColor(Qt::blue));

    // Widths are in points: a 2x image 800 pixels wide is 400 points wide.
    const QImage retina = resizeImage(200, filled({800, 600}, Qt::blue, 2));
    EXPECT_EQ(retina.deviceIndependentSize(), QSizeF(200, 150));
    EXPECT_EQ(retina.size(), QSize(400, 300));
    EXPECT_TRUE(resizeImage(200, QImage()).isNull());
}

TEST(RenderThumbnailTest, ScalesOnlyImagesTwiceTheFrameAndAlignsThemLeft)
{
    // 401 x 281 is more than twice 200 x 140 both ways: scaled to 200 wide, then stretched to cover the
    // frame (281 * 200 / 401 = 140.1 high), so the frame is filled.
    QImage big = filled({401, 281}, Qt::blue);
    const QImage thumbnail = renderThumbnail(big);
    EXPECT_EQ(thumbnail.size(), QSize(200, 140));
    EXPECT_EQ(thumbnail.pixelColor(0, 0), QColor(Qt::blue));
    EXPECT_EQ(thumbnail.pixelColor(199, 139), QColor(Qt::blue));

    // A wide image is stretched to the frame's height and cut at the right.
    QImage wide = filled({1000, 300}, Qt::white);
    QPainter(&wide).fillRect(QRect(0, 0, 100, 300), Qt::red);
    const QImage wideThumbnail = renderThumbnail(wide);
    EXPECT_EQ(wideThumbnail.pixelColor(5, 70), QColor(Qt::red)) << "aligned to the leading edge";
    EXPECT_EQ(wideThumbnail.pixelColor(150, 70), QColor(Qt::white));

    // 400 x 1000 fails the width test: drawn at its own size, left-aligned, centred vertically and cut.
    QImage tall = filled({400, 1000}, Qt::white);
    QPainter(&tall).fillRect(QRect(0, 0, 400, 430), Qt::red); // the frame shows rows 430 to 569
    const QImage tallThumbnail = renderThumbnail(tall);
    EXPECT_EQ(tallThumbnail.pixelColor(100, 5), QColor(Qt::white));

    // A small image keeps its size; the rest of the frame stays transparent.
    const QImage small = renderThumbnail(filled({50, 40}, Qt::red));
    EXPECT_EQ(small.pixelColor(10, 70), QColor(Qt::red));
    EXPECT_EQ(small.pixelColor(10, 10).alpha(), 0);
    EXPECT_EQ(small.pixelColor(100, 70).alpha(), 0);

    EXPECT_EQ(renderThumbnail(big, 200, {200, 140}, 2).size(), QSize(400, 280));
    EXPECT_TRUE(renderThumbnail(QImage()).isNull());
}

TEST(ReadScreenshotImageTest, AnImageAsLargeAsAnImportTakesIsRead)
{
    // 6000 × 6000 decodes to 144 MB, past the 128 MB that Qt reads by default.
    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("large.png"));
    QImage large(6000, 6000, QImage::Format_RGB32);
    large.fill(Qt::darkCyan);
    ASSERT_TRUE(large.save(path, "PNG"));
    large = QImage();
    const ScreenshotImage read = readScreenshotImage(path);
    EXPECT_EQ(read.image.size(), QSize(6000, 6000));
    EXPECT_EQ(read.problem, QString());
}

} // namespace
} // namespace lumetrove
